// SPDX-License-Identifier: GPL-3.0-or-later
// The HART commands: hart id, read, send, scan and info.
#include "HartCommands.h"
#include "Ctl.h"

#include "HartFrames.h"
#include "HartUnits.h"

#include <charconv>
#include <iostream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace nx260ctl {

using std::chrono::milliseconds;

namespace {

// A reply starts within about 300 ms at 1200 baud behind the gateway; the
// simulator needs ~30 ms (its 25 ms quiet-line rule).
constexpr milliseconds kScanWait{300};

constexpr uint8_t kMilliamperes = 39;

Json readingJson(int address, const hart::DynamicVariables &v)
{
    Json vars = Json::array();
    for (size_t i = 0; i < v.variables.size(); ++i) {
        const auto &x = v.variables[i];
        vars.push_back({{"number", i + 1},
                        {"value", floatJson(x.value)},
                        {"unit_code", x.unitCode},
                        {"unit", hart::unitSymbol(x.unitCode)},
                        {"unit_name", hart::unitName(x.unitCode)}});
    }
    Json doc = {{"address", address}};
    doc["loop_current"] = v.loopCurrent ? Json{{"value", floatJson(*v.loopCurrent)},
                                               {"unit_code", kMilliamperes},
                                               {"unit", hart::unitSymbol(kMilliamperes)},
                                               {"unit_name", hart::unitName(kMilliamperes)}}
                                        : Json(nullptr);
    doc["variables"] = vars;
    return doc;
}

std::vector<std::pair<std::string, std::string>> readingLines(const hart::DynamicVariables &v)
{
    std::vector<std::pair<std::string, std::string>> lines;
    if (v.loopCurrent)
        lines.emplace_back("loop_current", floatText(*v.loopCurrent) + " mA");
    for (size_t i = 0; i < v.variables.size(); ++i) {
        const auto &x = v.variables[i];
        lines.emplace_back("variable_" + std::to_string(i + 1), floatText(x.value) + " " + hart::unitSymbol(x.unitCode)
                                                                     + " (" + hart::unitName(x.unitCode) + ", code "
                                                                     + std::to_string(x.unitCode) + ")");
    }
    return lines;
}

// The bytes typed after "hart send", each word one or more hex bytes.
hart::Bytes typedBytes(const std::vector<std::string> &words)
{
    hart::Bytes typed;
    for (size_t i = 2; i < words.size(); ++i) {
        std::istringstream tokens(words[i]);
        std::string t;
        while (tokens >> t) {
            uint32_t v = 0;
            const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, 16);
            if (t.size() > 2 || ec != std::errc() || end != t.data() + t.size())
                fail(Usage, "hart send: " + t + ": not a hex byte (00..FF)");
            typed.push_back(static_cast<uint8_t>(v));
        }
    }
    if (typed.size() > static_cast<size_t>(hart::kMaxManualBytes))
        fail(Usage, "hart send: " + std::to_string(typed.size()) + " bytes typed; at most "
                        + std::to_string(hart::kMaxManualBytes));
    return typed;
}

// The scan's progress line, on a terminal only.
class ScanProgress {
public:
    explicit ScanProgress(std::ostream &err) : err_(err), tty_(&err == &std::cerr && isatty(2) != 0) {}
    void at(int polling, int first, int last)
    {
        if (tty_)
            err_ << "\rscanning polling address " << polling << " of " << first << "-" << last << "  " << std::flush;
    }
    void clear()
    {
        if (tty_)
            err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
    }

private:
    std::ostream &err_;
    const bool tty_;
};

} // namespace

std::string command0Name(int address)
{
    return "hart: command 0 at address " + std::to_string(address);
}

Json identityJson(int address, const hart::Command0Data &c0)
{
    return {{"address", address},
            {"manufacturer_id", c0.identity.manufacturerId},
            {"device_type", c0.identity.deviceType},
            {"preambles", c0.minPreambles},
            {"device_id", hart::deviceIdNumber(c0.identity)}};
}

void checkResponse(const std::string &what, const hart::Frame &f)
{
    if (*f.responseCode != 0)
        fail(Differs, what + ": response code " + std::to_string(*f.responseCode));
}

hart::Command0Data hartIdentify(Session &s, const std::string &what, uint8_t index)
{
    const Options &o = s.options();
    const auto reply = s.hartExchange(what, hart::command0Frame(index, !o.secondary, o.preambles));
    checkResponse(what, *reply);
    const auto c0 = hart::command0Data(reply->data.data(), reply->data.size());
    if (!c0)
        fail(Differs, what + ": reply too short for an identity");
    return *c0;
}

namespace commands {

int hartId(Session &s)
{
    const Options &o = s.options();
    s.need(1, "hart id [--address A] [--secondary] [--preambles N]");
    const hart::Command0Data id = hartIdentify(s, command0Name(o.address), addressIndex(o.address));
    if (o.json) {
        s.emit(identityJson(o.address, id));
    } else {
        printLines(s.out(), {{"address", std::to_string(o.address)},
                             {"manufacturer_id", std::to_string(id.identity.manufacturerId)},
                             {"device_type", std::to_string(id.identity.deviceType)},
                             {"preambles", std::to_string(id.minPreambles)},
                             {"device_id", std::to_string(hart::deviceIdNumber(id.identity))}});
    }
    return Done;
}

int hartRead(Session &s)
{
    const Options &o = s.options();
    s.need(1, "hart read [--watch SEC] [--identity MFR:TYPE:ID] [--address A] [--secondary] [--preambles N]");
    const hart::Identity identity = o.identity ? *o.identity
                                               : hartIdentify(s, command0Name(o.address), addressIndex(o.address)).identity;
    const std::string what = "hart: command 3 at address " + std::to_string(o.address);
    const auto frame = hart::command3Frame(addressIndex(o.address), !o.secondary, identity, o.preambles);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0;; ++round) {
        const auto reply = s.hartExchange(what, frame);
        checkResponse(what, *reply);
        const hart::DynamicVariables v = hart::command3Data(reply->data.data(), reply->data.size());
        if (o.json && o.watchSeconds) {
            s.out() << readingJson(o.address, v).dump() << std::endl; // one line per reading
        } else if (o.json) {
            s.emit(readingJson(o.address, v));
        } else {
            printLines(s.out(), readingLines(v));
            if (o.watchSeconds)
                s.out() << std::endl;
        }
        if (!o.watchSeconds)
            return Done;
        if (!s.out())
            fail(OutputError, "cannot write the output");
        // Readings keep their pace however long each exchange took.
        std::this_thread::sleep_until(start + std::chrono::seconds(*o.watchSeconds) * (round + 1));
    }
}

int hartSend(Session &s)
{
    const Options &o = s.options();
    if (o.words.size() < 3)
        fail(Usage, "usage: nx260ctl hart send HEX... (e.g. 02 80 00 00)");
    const hart::Bytes typed = typedBytes(o.words);
    const hart::Bytes frame = hart::manualFrame(typed, o.preambles);
    if (frame.empty())
        fail(Usage, "hart send: the frame does not fit");
    const auto reply = s.hartExchange("hart send: " + hexText(typed), frame);
    const std::string request = hexText(std::vector<uint8_t>(frame.begin(), frame.end()));
    const std::string replyHex = hexText(s.lastFrame());
    const uint8_t code = *reply->responseCode;
    if (o.json)
        s.emit({{"request", request}, {"reply", replyHex}, {"response_code", code}});
    else
        printLines(s.out(), {{"request", request}, {"reply", replyHex}, {"response_code", std::to_string(code)}});
    return code == 0 ? Done : Differs;
}

int hartScan(Session &s)
{
    const Options &o = s.options();
    s.need(1, "hart scan [--range A-B]");
    ScanProgress progress(s.err());
    // A reply has to begin within the scan wait; one that has begun gets the
    // whole time-out. An explicit --timeout is the wait.
    const milliseconds wait = o.timeoutGiven ? o.timeout : std::min(o.timeout, kScanWait);
    const int first = o.range ? o.range->first : 0;
    int last = o.range ? o.range->second : kHart5LastPolling;
    Json found = Json::array();
    for (int polling = first; polling <= last; ++polling) {
        progress.at(polling, first, last);
        const int address = polling + 1;
        const auto reply = s.hartExchange(command0Name(address),
                                          hart::command0Frame(addressIndex(address), !o.secondary, o.preambles), wait);
        if (!reply || *reply->responseCode != 0)
            continue;
        const auto c0 = hart::command0Data(reply->data.data(), reply->data.size());
        if (!c0)
            continue;
        // HART 6 and 7 instruments may sit at polling addresses up to 63.
        if (!o.range && c0->universalRevision >= 6)
            last = kMaxPolling;
        progress.clear();
        Json j = identityJson(address, *c0);
        j["polling_address"] = polling;
        j["hart_revision"] = c0->universalRevision;
        found.push_back(j);
        if (!o.json) {
            s.out() << "address " << address << " (polling " << polling << "): manufacturer_id "
                    << int(c0->identity.manufacturerId) << ", device_type " << int(c0->identity.deviceType)
                    << ", preambles " << int(c0->minPreambles) << ", device_id " << hart::deviceIdNumber(c0->identity)
                    << ", HART " << int(c0->universalRevision) << std::endl;
        }
    }
    progress.clear();
    // Not a change, but the commissioning report lists what was found.
    s.recordChange("hart.instruments", nullptr, nullptr, found, "found");
    if (found.empty())
        fail(NoReply, "hart scan: no instrument answered command 0 at polling addresses " + std::to_string(first) + "-"
                          + std::to_string(last) + " (" + std::to_string(wait.count()) + " ms each)");
    if (o.json)
        s.emit({{"instruments", found}});
    return Done;
}

} // namespace commands

} // namespace nx260ctl
