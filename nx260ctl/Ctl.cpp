// SPDX-License-Identifier: GPL-3.0-or-later
#include "Ctl.h"

#include "ChangeRecord.h"
#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "HartFrames.h"
#include "HartAnnotate.h"
#include "HartReader.h"
#include "HartUnits.h"
#include "net/NetName.h"
#include "PortPresence.h"
#include "OpenHint.h"
#include "Profile.h"
#include "SequentialExchange.h"
#include "StrictInt.h"

#ifdef NX_HAVE_CAPTURE
#include "TrafficCapture.h"
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <charconv>
#include <cstring>
#include <limits>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace nx260ctl {

namespace {

using exchange::Json;
using std::chrono::milliseconds;

const char kHelp[] =
    "Usage: nx260ctl [--port NAME]... [--ports-file FILE] [--jobs N] [--baud N] [--parity none|odd|even]\n"
    "                [--timeout MS] [--json] [--capture FILE] [--wait-port SECONDS] COMMAND ...\n"
    "Configures an NX260-HGW gateway and reads the HART instruments behind it.\n"
    "\n"
    "Commands:\n"
    "  info                      communication query; prints the gateway's identification\n"
    "  show [system|instruments] queries and prints the settings (both when omitted)\n"
    "  set KEY=VALUE ...         sends each setting, waits for its acknowledgement (any reply;\n"
    "                            none is an error), re-queries and verifies\n"
    "  reset                     parameter initialization\n"
    "  backup FILE               writes the gateway's settings as a profile ({port} in FILE\n"
    "                            stands for the port)\n"
    "  restore FILE              sends every setting of the profile that differs from the\n"
    "                            gateway's, reads back and reports per key: unchanged, set,\n"
    "                            set but read back different, not acknowledged\n"
    "  diff FILE                 lists the settings where the gateway and the profile differ\n"
    "                            (exit 1 when any), or says \"no differences\"\n"
    "  record [--since DATE] [--port P]  lists the commissioning record: every change made by\n"
    "                            nx260ctl or the window, with time, user, gateway, value before,\n"
    "                            asked and read back\n"
    "  report FILE.html          writes a printable commissioning report from the record (per\n"
    "                            gateway: identification, final settings, HART instruments found,\n"
    "                            changes with times)\n"
    "  hart id                   HART command 0: manufacturer id, device type, preamble count,\n"
    "                            device id\n"
    "  hart read [--watch SEC]   command 0 (unless --identity is given) then command 3: loop\n"
    "                            current and four variables with units\n"
    "  hart send HEX...          a hand-typed frame (preambles and checksum added); prints the\n"
    "                            reply\n"
    "  hart info                 command 0, then 1, 2, 12, 13, 15, 20 and 48: tag, descriptor,\n"
    "                            message, date, long tag, PV, loop current, range, additional\n"
    "                            status; a command the device does not implement shows null\n"
    "  hart scan [--range A-B]   command 0 through polling addresses A..B (address A+1..B+1):\n"
    "                            0-15 (HART 5), on to 31 when an instrument reports HART 6 or 7;\n"
    "                            waits 300 ms for a reply to begin (--timeout: that long);\n"
    "                            one line per instrument found, progress on a terminal\n"
    "  options for hart: --address 1..32 (the window's \"HART Address\", default 1)  --secondary\n"
    "                    --preambles N (default 6)  --identity MFR:TYPE:ID (decimal or 0x hex)\n"
    "\n"
    "Options:\n"
    "  --port NAME       COM1..COM12 as in the window, a device path, or a serial device\n"
    "                    server: tcp://HOST:PORT (raw TCP, line set up on the server) or\n"
    "                    rfc2217://HOST:PORT (Telnet, line set from here); default $NX260_PORT.\n"
    "                    Given more than once, the command runs on every gateway at once\n"
    "  --ports-file FILE one port a line ('#' comments), as several --port\n"
    "  --jobs N          with several ports, serve at most N at a time (default all)\n"
    "  --wait-port SEC   wait up to SEC seconds for the port to appear (an adapter plugged\n"
    "                    in, a device server reachable) before starting\n"
    "  --baud N          1200 2400 4800 9600 19200 38400 56000 115200 (default 9600)\n"
    "  --parity P        none, odd or even (default none)\n"
    "  --timeout MS      how long to wait for each reply (default 3000)\n"
    "  --json            print one JSON document on stdout (--watch: one per reading; several\n"
    "                    ports: an array of {port, ok, exit_code, error, result})\n"
    "  --capture FILE    write the exchange as a pcap file\n"
    "  --record FILE     the commissioning record (default\n"
    "                    $XDG_STATE_HOME/nx260-config/changes.jsonl); restore keeps the\n"
    "                    gateway's settings from before in undo/ beside it\n"
    "  --since DATE      record, report: from this UTC time on (2026-12-10 or 2026-12-10T05:30)\n"
    "  --help, --version\n"
    "\n"
    "Keys:\n"
    "  mode (transparent|modbus)  address (0..999)  interval (0..999, units of 100 ms)\n"
    "  rs485a.baud, rs485b.baud (1200..115200 as listed)  rs485a.parity, rs485b.parity (none|odd|even)\n"
    "  rs485a.return_time, rs485b.return_time (the item text, e.g. 2_200MS, or its index 0..5)\n"
    "  channels (1|2|4; read back where the gateway reports it)\n"
    "  instrument.N.mode (master|secondary)  instrument.N.type (index)  instrument.N.preambles (4..9)\n"
    "  instrument.N.interval (0..999), N = 1..4\n"
    "\n"
    "Profile: {\"format\": \"nx260-profile\", \"version\": 1, \"system\": {...},\n"
    "          \"instruments\": [{\"row\": 1, ...}, ...]} with the keys above as nested members.\n"
    "\n"
    "Exit status: 0 done; 1 the gateway answered but differed (verify mismatch, diff found\n"
    "differences, HART response code not 0, a reply that is incomplete, cannot be read or\n"
    "answers something else); 2 usage or profile error (nothing is sent); 3 port error (cannot\n"
    "open, lost); 4 no reply within the time-out; 5 the output could not be written. With\n"
    "several ports: the highest of the gateways', each line prefixed with its port.\n"
    "Errors go to stderr, one line naming the request. set and restore report each\n"
    "acknowledged setting on stderr unless --json is given.\n";

// Ends the command with an exit code and a one-line message.
struct Failure {
    int code;
    std::string message;
};

[[noreturn]] void fail(int code, std::string message)
{
    throw Failure{code, std::move(message)};
}

// The gateway's header carries addresses 0..31 (the window's 1..32), so HART
// 6/7's polling range 0..63 ends here.
constexpr int kMaxPolling = 31;
constexpr int kHart5LastPolling = 15;
// A reply starts within about 300 ms at 1200 baud behind the gateway; the
// simulator needs ~30 ms (its 25 ms quiet-line rule).
constexpr milliseconds kScanWait{300};

struct Options {
    std::string port;               // the gateway this session serves
    std::vector<std::string> ports; // every --port, in order
    std::string portsFile;
    std::string record = exchange::defaultRecordPath();
    std::optional<std::string> since; // record: from this time on
    int jobs = 0;                   // gateways served at once; 0: all
    uint32_t baud = 9600;
    SerialComm::TParity parity = SerialComm::TParity::None;
    milliseconds timeout{3000};
    bool json = false;
    std::string capture;
    int waitPortSeconds = 0;

    // hart
    int address = 1;
    bool secondary = false;
    int preambles = 6;
    std::optional<hart::Identity> identity;
    std::optional<int> watchSeconds;
    std::optional<std::pair<int, int>> range; // hart scan: polling addresses
    bool timeoutGiven = false;

    std::vector<std::string> words; // command and its operands
};

std::optional<int> number(std::string_view text, int lo, int hi)
{
    const auto v = exchange::strictToInt(text);
    if (!v || *v < lo || *v > hi)
        return std::nullopt;
    return *v;
}

// Decimal or 0x hex, 0..max.
std::optional<uint32_t> decOrHex(std::string_view text, uint32_t max)
{
    uint32_t v = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v > max)
        return std::nullopt;
    return v;
}

Options parseArgs(const std::vector<std::string> &args, const std::string &envPort)
{
    Options o;
    o.port = envPort;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                fail(Usage, a + " needs a value");
            return args[++i];
        };
        auto bounded = [&](int lo, int hi) {
            const std::string v = value();
            const auto n = number(v, lo, hi);
            if (!n)
                fail(Usage, a + " " + v + ": must be a number from " + std::to_string(lo) + " to " + std::to_string(hi));
            return *n;
        };
        if (a == "--port") {
            o.ports.push_back(value());
        } else if (a == "--baud") {
            const std::string v = value();
            const auto n = exchange::strictToInt(v);
            if (!n || std::find(exchange::kBaudRates.begin(), exchange::kBaudRates.end(), *n) == exchange::kBaudRates.end())
                fail(Usage, "--baud " + v + ": must be one of 1200 2400 4800 9600 19200 38400 56000 115200");
            o.baud = static_cast<uint32_t>(*n);
        } else if (a == "--parity") {
            const std::string v = value();
            const auto it = std::find(exchange::kParityWords.begin(), exchange::kParityWords.end(), v);
            if (it == exchange::kParityWords.end())
                fail(Usage, "--parity " + v + ": must be none, odd or even");
            o.parity = static_cast<SerialComm::TParity>(it - exchange::kParityWords.begin());
        } else if (a == "--timeout") {
            o.timeout = milliseconds(bounded(1, 600000));
            o.timeoutGiven = true;
        } else if (a == "--wait-port") {
            o.waitPortSeconds = bounded(1, 86400);
        } else if (a == "--ports-file") {
            o.portsFile = value();
        } else if (a == "--record") {
            o.record = value();
        } else if (a == "--since") {
            o.since = value();
        } else if (a == "--jobs") {
            o.jobs = bounded(1, 1024);
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--capture") {
            o.capture = value();
        } else if (a == "--address") {
            o.address = bounded(1, 32);
        } else if (a == "--secondary") {
            o.secondary = true;
        } else if (a == "--preambles") {
            o.preambles = bounded(0, 255);
        } else if (a == "--watch") {
            o.watchSeconds = bounded(1, 86400);
        } else if (a == "--range") {
            const std::string v = value();
            const size_t dash = v.find('-');
            const auto lo = number(std::string_view(v).substr(0, dash), 0, kMaxPolling);
            const auto hi = dash == std::string::npos ? lo : number(std::string_view(v).substr(dash + 1), 0, kMaxPolling);
            if (!lo || !hi || *lo > *hi)
                fail(Usage, "--range " + v + ": must be A-B with 0 <= A <= B <= " + std::to_string(kMaxPolling));
            o.range = std::pair{*lo, *hi};
        } else if (a == "--identity") {
            const std::string v = value();
            const size_t c1 = v.find(':');
            const size_t c2 = c1 == std::string::npos ? c1 : v.find(':', c1 + 1);
            std::optional<uint32_t> m, t, id;
            if (c2 != std::string::npos) {
                m = decOrHex(std::string_view(v).substr(0, c1), 0xFF);
                t = decOrHex(std::string_view(v).substr(c1 + 1, c2 - c1 - 1), 0xFF);
                id = decOrHex(std::string_view(v).substr(c2 + 1), 0xFFFFFF);
            }
            if (!m || !t || !id)
                fail(Usage, "--identity " + v + ": must be MFR:TYPE:ID (0..255, 0..255, 0..16777215; decimal or 0x hex)");
            hart::Identity ident;
            ident.manufacturerId = static_cast<uint8_t>(*m);
            ident.deviceType = static_cast<uint8_t>(*t);
            ident.deviceId = {static_cast<uint8_t>(*id >> 16), static_cast<uint8_t>(*id >> 8), static_cast<uint8_t>(*id)};
            o.identity = ident;
        } else if (a.size() > 2 && a.starts_with("--")) {
            fail(Usage, a + ": unknown option (see nx260ctl --help)");
        } else {
            o.words.push_back(a);
        }
    }
    return o;
}

// Printable rendering of a reply: text as it stands, other bytes as \xNN.
std::string printable(const std::vector<uint8_t> &bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else if (b != '\r' && b != '\n') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

std::string hexText(const std::vector<uint8_t> &bytes);

// What came in, for an error message: the text, and the bytes in hex when
// some are not text.
std::string received(const std::vector<uint8_t> &bytes)
{
    const bool text = std::all_of(bytes.begin(), bytes.end(),
                                  [](uint8_t b) { return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n'; });
    return text ? "\"" + printable(bytes) + "\"" : "bytes " + hexText(bytes);
}

// The gateway's answer to a request it could not carry out.
bool refused(const std::vector<uint8_t> &reply)
{
    return std::string_view(reinterpret_cast<const char *>(reply.data()), reply.size()).starts_with("ERROR");
}

// An identification is a line of text ending in '#', not a refusal.
bool identification(const std::vector<uint8_t> &reply)
{
    const std::string_view text(reinterpret_cast<const char *>(reply.data()), reply.size());
    return exchange::wholeTextReply(text) && !refused(reply)
        && std::all_of(reply.begin(), reply.end(),
                       [](uint8_t b) { return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n'; });
}

std::string hexText(const std::vector<uint8_t> &bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        if (!out.empty())
            out += ' ';
        out += hex;
    }
    return out;
}

// The shortest decimal that reads back as the same float.
std::string floatText(float v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

Json floatJson(float v)
{
    if (v != v || v == std::numeric_limits<float>::infinity() || v == -std::numeric_limits<float>::infinity())
        return nullptr; // JSON has no NaN or infinity
    return std::stod(floatText(v));
}

// Aligned "key  value" lines.
void printLines(std::ostream &out, const std::vector<std::pair<std::string, std::string>> &lines)
{
    size_t width = 0;
    for (const auto &l : lines)
        width = std::max(width, l.first.size());
    for (const auto &[key, value] : lines)
        out << key << std::string(width + 2 - key.size(), ' ') << value << '\n';
}

// Which sections a set of settings touches (the channel model is read back
// from the system reply where the gateway reports it).
bool touchesSystem(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.system = s.system;
    return !exchange::settingValues(only).empty();
}

bool touchesInstruments(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.instruments = s.instruments;
    return !exchange::settingValues(only).empty();
}

// What became of one setting of a set or restore.
struct KeyOutcome {
    enum Result { Unchanged, Set, SetUnverified, ReadBackDifferent, NotAcknowledged };
    std::string key;
    Json before, asked, after; // null where the gateway did not report it
    Result result;

    bool asAsked() const { return result == Unchanged || result == Set || result == SetUnverified; }
    std::string text() const
    {
        switch (result) {
        case Unchanged: return "unchanged";
        case Set: return "set";
        case SetUnverified: return "set (the gateway does not report it: not read back)";
        case ReadBackDifferent: return "set but read back different (" + exchange::valueText(after) + ")";
        case NotAcknowledged: return "not acknowledged";
        }
        return {};
    }
    std::string word() const
    {
        static const char *const kWords[] = {"unchanged", "set", "set_unverified", "read_back_different",
                                             "not_acknowledged"};
        return kWords[result];
    }
};

class Session {
public:
    Session(const Options &o, std::ostream &out, std::ostream &err) : o_(o), out_(out), err_(err) {}

    int run();

private:
    // --- port and exchanges
    void openPort();
    void waitForPort();
    // What a configuration reply must hold to be whole.
    enum class Expect { Text, System, Instruments };
    std::vector<uint8_t> config(const std::string &command, const exchange::Bytes &request, const std::string &what,
                                Expect expect = Expect::Text);
    // The complete reply frame with a good checksum; nullopt only when
    // `firstByte` is given and no reply began in that time.
    std::optional<hart::Frame> hartExchange(const std::string &what, const hart::Bytes &frame,
                                            std::optional<milliseconds> firstByte = std::nullopt);

    // --- settings
    exchange::GatewaySettings query(const std::string &command, bool system, bool instruments);
    // Sends the groups of `change`; the keys whose request the gateway refused.
    std::set<std::string> sendAll(const std::string &command, const exchange::GatewaySettings &change,
                                  const exchange::GatewaySettings &current);
    // Reads the gateway, sends `wanted` (or only what differs), reads back and
    // says per key what became of it; every key sent is recorded.
    std::vector<KeyOutcome> change(const std::string &command, const exchange::GatewaySettings &wanted,
                                   bool onlyDiffering);
    // The record: the gateway's identification (asked once), an undo
    // profile before a restore, one line per change.
    const std::string &gatewayId();
    void keepUndo(const std::string &command, const exchange::GatewaySettings &current);
    void recordChange(const std::string &key, const Json &before, const Json &asked, const Json &after,
                      const std::string &result);
    exchange::GatewaySettings readProfile(const std::string &command, const std::string &file);

    // --- commands
    int info();
    int show();
    int set();
    int reset();
    int backup();
    int restore();
    int diff();
    int hartCommand();
    int record();
    int report();
    std::vector<Json> recordLines(); // the record, filtered by --since and --port
    int hartId();
    int hartRead();
    int hartSend();
    int hartScan();
    int hartInfo();
    hart::Command0Data hartIdentify(const std::string &what, uint8_t addressIndex);

    void need(size_t operands, const std::string &usage);
    void emit(const Json &doc) { out_ << doc.dump(2) << '\n'; }
    void progress(const std::string &line)
    {
        if (!o_.json)
            err_ << line << std::endl;
    }
    uint8_t addressIndex(int address) const { return static_cast<uint8_t>(address - 1); }

    const Options &o_;
    std::ostream &out_;
    std::ostream &err_;
    exchange::SequentialExchange link_;
    bool open_ = false;
    std::vector<uint8_t> lastFrame_; // the last HART reply frame, delimiter .. checksum
    std::optional<std::string> gatewayId_;
    std::string recordError_; // the first line that could not be written
#ifdef NX_HAVE_CAPTURE
    std::unique_ptr<capture::PcapWriter> capture_;
#endif
};

void Session::need(size_t operands, const std::string &usage)
{
    if (o_.words.size() != operands + 1)
        fail(Usage, "usage: nx260ctl " + usage);
}

void Session::openPort()
{
    if (open_)
        return;
    if (o_.port.empty())
        fail(Usage, "no port: give --port NAME or set NX260_PORT");
    if (o_.waitPortSeconds > 0)
        waitForPort();
    try {
        link_.open({o_.port, o_.baud, o_.parity});
    } catch (const SerialComm::ECommsError &e) {
        std::string reason = e.what();
        if (e.systemError() != 0)
            reason += " (" + e.reason() + ")";
        std::string hint = SerialComm::openFailureHint(e, o_.port);
        std::replace(hint.begin(), hint.end(), '\n', ' ');
        fail(PortError, "cannot open port " + o_.port + ": " + reason + (hint.empty() ? "" : ". " + hint));
    }
    open_ = true;
}

// Returns when the port is there or the time is up (the open then says why).
// A local device is watched for, a device server is tried with growing pauses.
void Session::waitForPort()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o_.waitPortSeconds);
    auto left = [&deadline] {
        return std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    };
    if (SerialComm::isNetworkPortName(o_.port)) {
        for (milliseconds pause{250}; SerialComm::connectAhead(o_.port) != 0 && left() > 0;
             pause = std::min(pause * 2, milliseconds(5000)))
            std::this_thread::sleep_for(std::min(pause, milliseconds(left())));
        return;
    }
    const SerialComm::PortIdentity id = SerialComm::portIdentity(o_.port);
    SerialComm::DeviceEvents events(id);
    while (SerialComm::presentPath(id).empty() && left() > 0) {
        if (!events.ok() || !events.wait(static_cast<int>(left())))
            return;
    }
}

std::vector<uint8_t> Session::config(const std::string &command, const exchange::Bytes &request,
                                     const std::string &what, Expect expect)
{
    openPort();
    const std::string name = command + ": " + printable(request);
    auto text = [](const std::vector<uint8_t> &b) { return std::string_view(reinterpret_cast<const char *>(b.data()), b.size()); };
    const exchange::SequentialExchange::WholeReply whole = [&](const std::vector<uint8_t> &b) {
        switch (expect) {
        case Expect::System: return exchange::wholeSystemReply(text(b));
        case Expect::Instruments: return exchange::wholeInstrumentReply(text(b));
        case Expect::Text: break;
        }
        return exchange::wholeTextReply(text(b));
    };
    const exchange::ExchangeReply r = link_.configRequest(request, o_.timeout, whole);
    switch (r.status) {
    case exchange::ReplyStatus::Ok: return r.bytes;
    case exchange::ReplyStatus::PortLost: fail(PortError, name + ": the port " + o_.port + " was lost");
    case exchange::ReplyStatus::NoReply: break;
    }
    const std::string within = " within " + std::to_string(o_.timeout.count()) + " ms";
    if (!r.bytes.empty())
        fail(Differs, name + ": incomplete " + what + within + "; received: " + received(r.bytes));
    fail(NoReply, name + ": no " + what + within);
}

std::optional<hart::Frame> Session::hartExchange(const std::string &what, const hart::Bytes &frame,
                                                 std::optional<milliseconds> firstByte)
{
    openPort();
    const exchange::ExchangeReply r = link_.hartRequest(frame, o_.timeout, firstByte);
    if (r.status == exchange::ReplyStatus::PortLost)
        fail(PortError, what + ": the port " + o_.port + " was lost");
    if (r.status == exchange::ReplyStatus::NoReply) {
        if (firstByte && r.bytes.empty())
            return std::nullopt;
        std::string msg = what + ": no HART reply within " + std::to_string(o_.timeout.count()) + " ms";
        if (!r.bytes.empty())
            msg += " (incomplete: " + hexText(r.bytes) + ")";
        else
            msg += " (is the gateway in transparent mode?)";
        fail(NoReply, msg);
    }
    auto f = hart::readFrame(r.bytes.data(), r.bytes.size(), hart::Search::ReplyOnly);
    if (!f || !f->complete)
        fail(NoReply, what + ": no complete HART reply: " + hexText(r.bytes));
    if (!f->checksumOk)
        fail(Differs, what + ": reply checksum error: " + hexText(r.bytes));
    if (!f->responseCode)
        fail(Differs, what + ": reply without status bytes: " + hexText(r.bytes));
    lastFrame_.assign(r.bytes.begin() + static_cast<std::ptrdiff_t>(f->start),
                      r.bytes.begin() + static_cast<std::ptrdiff_t>(f->end()));
    return f;
}

exchange::GatewaySettings Session::query(const std::string &command, bool system, bool instruments)
{
    exchange::GatewaySettings s;
    if (system) {
        const exchange::Bytes request = exchange::systemParameterQuery();
        const auto bytes = config(command, request, "system parameters", Expect::System);
        const exchange::SystemReply r = exchange::decodeSystemParameters(std::string(bytes.begin(), bytes.end()));
        s.system = r.settings;
        s.system.channels = r.channels;
        const auto bad = exchange::unusableFields(s, true, false);
        if (r.error || !bad.empty())
            fail(Differs, command + ": " + printable(request) + ": reply not understood ("
                              + (r.error ? *r.error : "missing or invalid: " + bad.front()) + "): " + printable(bytes));
    }
    if (instruments) {
        const exchange::Bytes request = exchange::instrumentQuery();
        const auto bytes = config(command, request, "instrument table", Expect::Instruments);
        const exchange::InstrumentReply r = exchange::decodeInstrumentTable(std::string(bytes.begin(), bytes.end()));
        s.instruments = r.rows;
        const auto bad = exchange::unusableFields(s, false, true);
        if (r.error || !bad.empty())
            fail(Differs, command + ": " + printable(request) + ": reply not understood ("
                              + (r.error ? *r.error : "missing or invalid: " + bad.front()) + "): " + printable(bytes));
    }
    return s;
}

std::set<std::string> Session::sendAll(const std::string &command, const exchange::GatewaySettings &change,
                                       const exchange::GatewaySettings &current)
{
    std::string problem;
    const auto requests = exchange::setRequests(change, current, &problem);
    if (!requests)
        fail(Usage, command + ": " + problem + ": cannot be encoded");
    const auto changed = exchange::settingValues(change);
    std::set<std::string> refusedKeys;
    for (const exchange::SetRequest &q : *requests) {
        const auto reply = config(command, q.bytes, "acknowledgement");
        // Name the settings this request carried, as they were asked for.
        std::string carried;
        for (const auto &[key, value] : changed) {
            const bool inGroup = key == q.name
                || (q.name.starts_with("instrument.") && key.starts_with(q.name + "."))
                || key == q.name + ".baud" || key == q.name + ".parity";
            if (!inGroup)
                continue;
            carried += (carried.empty() ? "" : " ") + key + "=" + exchange::valueText(value);
            if (refused(reply))
                refusedKeys.insert(key);
        }
        progress(command + ": " + carried + (refused(reply) ? ": not acknowledged (" : ": acknowledged (")
                 + printable(reply) + ")");
    }
    return refusedKeys;
}

std::vector<KeyOutcome> Session::change(const std::string &command, const exchange::GatewaySettings &wanted,
                                        bool onlyDiffering)
{
    const bool system = touchesSystem(wanted), instruments = touchesInstruments(wanted);
    // Requests that carry several settings take the others from the gateway.
    const exchange::GatewaySettings current = query(command, system, instruments);
    const auto wantedValues = exchange::settingValues(wanted);

    std::set<std::string> send;
    if (onlyDiffering) {
        for (const std::string &k : exchange::differingKeys(current, wanted))
            send.insert(k);
        // Where the gateway does not report the channel model, only sending it makes sure.
        if (wanted.system.channels && !current.system.channels)
            send.insert("channels");
    } else {
        for (const auto &kv : wantedValues)
            send.insert(kv.first);
    }
    exchange::GatewaySettings changes;
    for (const auto &[k, v] : wantedValues) {
        std::string error;
        if (send.count(k))
            exchange::applySetting(changes, k, exchange::valueText(v), &error);
    }
    if (!send.empty()) {
        gatewayId();
        keepUndo(command, current);
    }
    const std::set<std::string> refusedKeys = send.empty() ? std::set<std::string>{}
                                                           : sendAll(command, changes, current);
    const exchange::GatewaySettings now = send.empty() ? current : query(command, system, instruments);

    std::map<std::string, Json> before, after;
    for (auto &[k, v] : exchange::settingValues(current))
        before[k] = v;
    for (auto &[k, v] : exchange::settingValues(now))
        after[k] = v;
    std::vector<KeyOutcome> outcomes;
    for (const auto &[k, asked] : wantedValues) {
        KeyOutcome o{k, before.count(k) ? before[k] : Json(nullptr), asked, after.count(k) ? after[k] : Json(nullptr),
                     KeyOutcome::Unchanged};
        if (!send.count(k))
            o.result = KeyOutcome::Unchanged;
        else if (refusedKeys.count(k))
            o.result = KeyOutcome::NotAcknowledged;
        else if (o.after.is_null())
            o.result = KeyOutcome::SetUnverified;
        else
            o.result = o.after == asked ? KeyOutcome::Set : KeyOutcome::ReadBackDifferent;
        if (send.count(k))
            recordChange(k, o.before, o.asked, o.after, o.word());
        outcomes.push_back(std::move(o));
    }
    return outcomes;
}

const std::string &Session::gatewayId()
{
    if (!gatewayId_) {
        const auto reply = config("identification", exchange::communicationQuery(), "reply");
        gatewayId_ = identification(reply) ? printable(reply) : "(not an identification: " + received(reply) + ")";
    }
    return *gatewayId_;
}

void Session::keepUndo(const std::string &command, const exchange::GatewaySettings &current)
{
    if (command != "restore")
        return;
    const std::string path = exchange::undoProfilePath(o_.record, o_.port);
    std::string error;
    if (exchange::writeNewFile(path, exchange::profileJson(current).dump(2) + "\n", &error))
        progress(command + ": the gateway's settings before are kept in " + path);
    else if (recordError_.empty())
        recordError_ = "undo profile: " + error;
}

void Session::recordChange(const std::string &key, const Json &before, const Json &asked, const Json &after,
                           const std::string &result)
{
    std::string error;
    const exchange::ChangeEntry e{"nx260ctl", o_.port, gatewayId(), key, before, asked, after, result};
    if (!exchange::appendRecord(o_.record, exchange::recordLine(e), &error) && recordError_.empty())
        recordError_ = "record: " + error;
}

exchange::GatewaySettings Session::readProfile(const std::string &command, const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(Usage, command + ": cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const auto settings = exchange::parseProfile(text.str(), &error);
    if (!settings)
        fail(Usage, command + ": " + file + ": " + error);
    return *settings;
}

int Session::info()
{
    need(0, "info");
    const auto reply = config("info", exchange::communicationQuery(), "reply");
    if (!identification(reply))
        fail(Differs, "info: " + printable(exchange::communicationQuery()) + ": not an identification; received: "
                          + received(reply));
    if (o_.json)
        emit({{"identification", printable(reply)}});
    else
        out_ << printable(reply) << '\n';
    return Done;
}

int Session::show()
{
    bool system = true, instruments = true;
    if (o_.words.size() == 2 && o_.words[1] == "system")
        instruments = false;
    else if (o_.words.size() == 2 && o_.words[1] == "instruments")
        system = false;
    else if (o_.words.size() != 1)
        fail(Usage, "usage: nx260ctl show [system|instruments]");
    const exchange::GatewaySettings s = query("show", system, instruments);
    if (o_.json) {
        emit(exchange::settingsJson(s, system, instruments));
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto &[k, v] : exchange::settingValues(s))
            lines.emplace_back(k, exchange::valueText(v));
        printLines(out_, lines);
    }
    return Done;
}

int Session::set()
{
    if (o_.words.size() < 2)
        fail(Usage, "usage: nx260ctl set KEY=VALUE ...");
    exchange::GatewaySettings change;
    for (size_t i = 1; i < o_.words.size(); ++i) {
        const std::string &w = o_.words[i];
        const size_t eq = w.find('=');
        std::string error;
        if (eq == std::string::npos)
            fail(Usage, "set: " + w + ": expected KEY=VALUE");
        if (!exchange::applySetting(change, std::string_view(w).substr(0, eq), std::string_view(w).substr(eq + 1),
                                    &error))
            fail(Usage, "set: " + error);
    }
    const auto outcomes = this->change("set", change, false);
    const auto bad = std::find_if(outcomes.begin(), outcomes.end(), [](const KeyOutcome &o) { return !o.asAsked(); });
    if (bad != outcomes.end()) {
        const auto more = std::count_if(outcomes.begin(), outcomes.end(), [](const KeyOutcome &o) { return !o.asAsked(); }) - 1;
        const std::string rest = more > 0 ? " (and " + std::to_string(more) + " more)" : "";
        if (bad->result == KeyOutcome::NotAcknowledged)
            fail(Differs, "set: " + bad->key + "=" + exchange::valueText(bad->asked) + ": not acknowledged" + rest);
        fail(Differs, "set: verify: the gateway reports " + bad->key + "=" + exchange::valueText(bad->after) + ", not "
                          + exchange::valueText(bad->asked) + rest);
    }
    if (o_.json)
        emit(exchange::settingsJson(change, touchesSystem(change), touchesInstruments(change)));
    return Done;
}

int Session::reset()
{
    need(0, "reset");
    gatewayId();
    const auto reply = config("reset", exchange::parameterInitialization(), "acknowledgement");
    recordChange("reset", nullptr, "QQS#RESET#", nullptr, refused(reply) ? "not_acknowledged" : "acknowledged");
    if (refused(reply))
        fail(Differs, "reset: not acknowledged (" + printable(reply) + ")");
    if (o_.json)
        emit({{"reply", printable(reply)}});
    else
        out_ << printable(reply) << '\n';
    return Done;
}

int Session::backup()
{
    need(1, "backup FILE");
    const std::string &file = o_.words[1];
    const exchange::GatewaySettings s = query("backup", true, true);
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f << exchange::profileJson(s).dump(2) << '\n';
    f.close();
    if (!f)
        fail(Usage, "backup: cannot write " + file);
    if (o_.json)
        emit({{"file", file}});
    else
        out_ << "wrote " << file << '\n';
    return Done;
}

int Session::restore()
{
    need(1, "restore FILE");
    const exchange::GatewaySettings wanted = readProfile("restore", o_.words[1]);
    const auto outcomes = change("restore", wanted, true);
    bool asAsked = true;
    if (o_.json) {
        Json keys = Json::array(), changed = Json::array();
        for (const KeyOutcome &k : outcomes) {
            keys.push_back({{"key", k.key}, {"before", k.before}, {"asked", k.asked}, {"after", k.after},
                            {"result", k.word()}});
            if (k.result != KeyOutcome::Unchanged && k.asAsked())
                changed.push_back(k.key);
            asAsked = asAsked && k.asAsked();
        }
        emit({{"changed", changed}, {"keys", keys}});
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const KeyOutcome &k : outcomes) {
            lines.emplace_back(k.key, k.text());
            asAsked = asAsked && k.asAsked();
        }
        printLines(out_, lines);
    }
    return asAsked ? Done : Differs;
}

int Session::diff()
{
    need(1, "diff FILE");
    const exchange::GatewaySettings wanted = readProfile("diff", o_.words[1]);
    const exchange::GatewaySettings gateway = query("diff", touchesSystem(wanted), touchesInstruments(wanted));
    std::map<std::string, Json> g, w;
    for (auto &[k, v] : exchange::settingValues(gateway))
        g[k] = v;
    for (auto &[k, v] : exchange::settingValues(wanted))
        w[k] = v;
    const auto keys = exchange::differingKeys(gateway, wanted);
    // A key the profile holds and the gateway does not report cannot be compared.
    std::vector<std::string> unreported;
    for (const auto &[k, v] : w)
        if (!g.count(k))
            unreported.push_back(k);
    if (o_.json) {
        Json list = Json::array();
        for (const std::string &k : keys)
            list.push_back({{"key", k}, {"gateway", g[k]}, {"profile", w[k]}});
        emit({{"differences", list}, {"not_reported", unreported}});
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const std::string &k : keys)
            lines.emplace_back(k, "gateway " + exchange::valueText(g[k]) + ", profile " + exchange::valueText(w[k]));
        for (const std::string &k : unreported)
            lines.emplace_back(k, "not reported by the gateway, profile " + exchange::valueText(w[k]));
        printLines(out_, lines);
        if (keys.empty())
            out_ << "no differences\n";
    }
    return keys.empty() ? Done : Differs;
}

// --- the record

std::vector<Json> Session::recordLines()
{
    std::string error;
    const auto all = exchange::readRecord(o_.record, &error);
    if (!all)
        fail(Usage, o_.words.front() + ": " + error);
    std::vector<Json> out;
    for (const Json &line : *all) {
        const std::string time = line.value("time", "");
        const std::string port = line.value("port", "");
        if (o_.since && time < *o_.since)
            continue;
        if (!o_.ports.empty() && std::find(o_.ports.begin(), o_.ports.end(), port) == o_.ports.end())
            continue;
        out.push_back(line);
    }
    return out;
}

int Session::record()
{
    need(0, "record [--since DATE] [--port P] [--json]");
    const auto entries = recordLines();
    if (o_.json) {
        emit(Json(entries));
        return Done;
    }
    for (const Json &e : entries) {
        out_ << e.value("time", "") << "  " << e.value("port", "") << "  " << e.value("key", "") << "  "
             << exchange::valueText(e.value("before", Json())) << " -> " << exchange::valueText(e.value("asked", Json()))
             << ", read back " << exchange::valueText(e.value("after", Json())) << ": " << e.value("result", "")
             << "  (" << e.value("gateway", "") << "; " << e.value("user", "") << ", " << e.value("tool", "") << ")\n";
    }
    if (entries.empty())
        out_ << "no changes recorded in " << o_.record << '\n';
    return Done;
}

std::string html(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

int Session::report()
{
    need(1, "report FILE.html [--since DATE] [--port P]");
    const auto entries = recordLines();
    // Per gateway in the order first met: its latest identification, the
    // last value read back per key, its HART instruments, its changes.
    std::vector<std::string> order;
    std::map<std::string, std::vector<const Json *>> byPort;
    for (const Json &e : entries) {
        const std::string port = e.value("port", "");
        if (!byPort.count(port))
            order.push_back(port);
        byPort[port].push_back(&e);
    }
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/><title>Commissioning report</title>\n"
         "<style>body{font:11pt sans-serif;margin:1.5em}h1{font-size:16pt}h2{font-size:13pt;margin-top:1.2em}"
         "table{border-collapse:collapse;margin:.3em 0}td,th{border:1px solid #888;padding:2px 6px;text-align:left}"
         ".bad{color:#b00;font-weight:bold}@media print{body{margin:0}section{break-inside:avoid}}</style>"
         "</head>\n<body>\n<h1>Commissioning report</h1>\n<p>Written "
      << html(exchange::utcNow()) << " by nx260ctl " << NX260_VERSION << " from " << html(o_.record) << "; "
      << order.size() << " gateway(s), " << entries.size() << " change(s).</p>\n";
    for (const std::string &port : order) {
        const auto &list = byPort[port];
        std::map<std::string, Json> finalValues;
        std::vector<std::string> keyOrder;
        const Json *hart = nullptr;
        for (const Json *e : list) {
            const std::string key = e->value("key", "");
            if (key == "hart.instruments") {
                hart = e;
                continue;
            }
            if (key == "reset")
                continue;
            if (!finalValues.count(key))
                keyOrder.push_back(key);
            const Json after = e->value("after", Json());
            finalValues[key] = after.is_null() ? e->value("asked", Json()) : after;
        }
        h << "<section class=\"gateway\">\n<h2>" << html(port) << "</h2>\n<p>Identification: "
          << html(list.back()->value("gateway", "")) << "</p>\n<h3>Final settings</h3>\n<table>\n";
        for (const std::string &k : keyOrder)
            h << "<tr><th>" << html(k) << "</th><td>" << html(exchange::valueText(finalValues[k])) << "</td></tr>\n";
        h << "</table>\n<h3>HART instruments found</h3>\n";
        if (!hart) {
            h << "<p>No HART scan recorded.</p>\n";
        } else {
            h << "<table>\n<tr><th>address</th><th>manufacturer</th><th>device type</th><th>device id</th></tr>\n";
            for (const Json &i : hart->value("after", Json::array()))
                h << "<tr><td>" << i.value("address", 0) << "</td><td>" << i.value("manufacturer_id", 0) << "</td><td>"
                  << i.value("device_type", 0) << "</td><td>" << i.value("device_id", 0) << "</td></tr>\n";
            h << "</table>\n";
        }
        h << "<h3>Changes</h3>\n<table class=\"changes\">\n<tr><th>time (UTC)</th><th>key</th><th>before</th>"
             "<th>asked</th><th>read back</th><th>result</th><th>by</th></tr>\n";
        for (const Json *e : list) {
            const std::string result = e->value("result", "");
            const bool ok = result == "set" || result == "set_unverified" || result == "acknowledged" || result == "found";
            h << "<tr><td>" << html(e->value("time", "")) << "</td><td>" << html(e->value("key", "")) << "</td><td>"
              << html(exchange::valueText(e->value("before", Json()))) << "</td><td>"
              << html(exchange::valueText(e->value("asked", Json()))) << "</td><td>"
              << html(e->value("key", "") == "hart.instruments" ? "" : exchange::valueText(e->value("after", Json())))
              << "</td><td" << (ok ? "" : " class=\"bad\"") << ">" << html(result) << "</td><td>"
              << html(e->value("user", "") + ", " + e->value("tool", "")) << "</td></tr>\n";
        }
        h << "</table>\n</section>\n";
    }
    h << "</body></html>\n";
    std::string error;
    if (!exchange::writeNewFile(o_.words[1], h.str(), &error))
        fail(OutputError, "report: " + error);
    if (o_.json)
        emit({{"file", o_.words[1]}, {"gateways", order.size()}, {"changes", entries.size()}});
    else
        out_ << "wrote " << o_.words[1] << '\n';
    return Done;
}

// --- HART

std::string command0Name(int address) { return "hart: command 0 at address " + std::to_string(address); }

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

hart::Command0Data Session::hartIdentify(const std::string &what, uint8_t index)
{
    const auto reply = hartExchange(what, hart::command0Frame(index, !o_.secondary, o_.preambles));
    checkResponse(what, *reply);
    const auto c0 = hart::command0Data(reply->data.data(), reply->data.size());
    if (!c0)
        fail(Differs, what + ": reply too short for an identity");
    return *c0;
}

int Session::hartId()
{
    need(1, "hart id [--address A] [--secondary] [--preambles N]");
    const hart::Command0Data id = hartIdentify(command0Name(o_.address), addressIndex(o_.address));
    if (o_.json) {
        emit(identityJson(o_.address, id));
    } else {
        printLines(out_, {{"address", std::to_string(o_.address)},
                          {"manufacturer_id", std::to_string(id.identity.manufacturerId)},
                          {"device_type", std::to_string(id.identity.deviceType)},
                          {"preambles", std::to_string(id.minPreambles)},
                          {"device_id", std::to_string(hart::deviceIdNumber(id.identity))}});
    }
    return Done;
}

int Session::hartRead()
{
    need(1, "hart read [--watch SEC] [--identity MFR:TYPE:ID] [--address A] [--secondary] [--preambles N]");
    hart::Identity identity;
    if (o_.identity) {
        identity = *o_.identity;
    } else {
        identity = hartIdentify(command0Name(o_.address), addressIndex(o_.address)).identity;
    }
    const std::string what = "hart: command 3 at address " + std::to_string(o_.address);
    const auto frame = hart::command3Frame(addressIndex(o_.address), !o_.secondary, identity, o_.preambles);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0;; ++round) {
        const auto reply = hartExchange(what, frame);
        checkResponse(what, *reply);
        const hart::DynamicVariables v = hart::command3Data(reply->data.data(), reply->data.size());
        constexpr uint8_t kMilliamperes = 39;
        if (o_.json) {
            Json vars = Json::array();
            for (size_t i = 0; i < v.variables.size(); ++i) {
                const auto &x = v.variables[i];
                vars.push_back({{"number", i + 1},
                                {"value", floatJson(x.value)},
                                {"unit_code", x.unitCode},
                                {"unit", hart::unitSymbol(x.unitCode)},
                                {"unit_name", hart::unitName(x.unitCode)}});
            }
            Json doc = {{"address", o_.address}};
            doc["loop_current"] = v.loopCurrent ? Json{{"value", floatJson(*v.loopCurrent)},
                                                       {"unit_code", kMilliamperes},
                                                       {"unit", hart::unitSymbol(kMilliamperes)},
                                                       {"unit_name", hart::unitName(kMilliamperes)}}
                                                : Json(nullptr);
            doc["variables"] = vars;
            if (o_.watchSeconds)
                out_ << doc.dump() << std::endl; // one line per reading
            else
                emit(doc);
        } else {
            std::vector<std::pair<std::string, std::string>> lines;
            if (v.loopCurrent)
                lines.emplace_back("loop_current", floatText(*v.loopCurrent) + " mA");
            for (size_t i = 0; i < v.variables.size(); ++i) {
                const auto &x = v.variables[i];
                lines.emplace_back("variable_" + std::to_string(i + 1),
                                   floatText(x.value) + " " + hart::unitSymbol(x.unitCode) + " ("
                                       + hart::unitName(x.unitCode) + ", code " + std::to_string(x.unitCode) + ")");
            }
            printLines(out_, lines);
            if (o_.watchSeconds)
                out_ << std::endl;
        }
        if (!o_.watchSeconds)
            return Done;
        if (!out_)
            fail(OutputError, "cannot write the output");
        // Readings keep their pace however long each exchange took.
        std::this_thread::sleep_until(start + std::chrono::seconds(*o_.watchSeconds) * (round + 1));
    }
}

int Session::hartSend()
{
    if (o_.words.size() < 3)
        fail(Usage, "usage: nx260ctl hart send HEX... (e.g. 02 80 00 00)");
    hart::Bytes typed;
    for (size_t i = 2; i < o_.words.size(); ++i) {
        std::istringstream tokens(o_.words[i]);
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
    const hart::Bytes frame = hart::manualFrame(typed, o_.preambles);
    if (frame.empty())
        fail(Usage, "hart send: the frame does not fit");
    const std::string what = "hart send: " + hexText(typed);
    const auto reply = hartExchange(what, frame);
    const std::vector<uint8_t> sent(frame.begin(), frame.end());
    const std::string replyHex = hexText(lastFrame_);
    const uint8_t code = *reply->responseCode;
    if (o_.json)
        emit({{"request", hexText(sent)}, {"reply", replyHex}, {"response_code", code}});
    else
        printLines(out_, {{"request", hexText(sent)}, {"reply", replyHex}, {"response_code", std::to_string(code)}});
    return code == 0 ? Done : Differs;
}

int Session::hartScan()
{
    need(1, "hart scan [--range A-B]");
    const bool tty = &err_ == &std::cerr && isatty(2) != 0;
    // A reply has to begin within the scan wait; one that has begun gets the
    // whole time-out. An explicit --timeout is the wait.
    const milliseconds wait = o_.timeoutGiven ? o_.timeout : std::min(o_.timeout, kScanWait);
    int first = o_.range ? o_.range->first : 0;
    int last = o_.range ? o_.range->second : kHart5LastPolling;
    Json found = Json::array();
    int count = 0;
    for (int polling = first; polling <= last; ++polling) {
        if (tty)
            err_ << "\rscanning polling address " << polling << " of " << first << "-" << last << "  " << std::flush;
        const int address = polling + 1;
        const std::string what = command0Name(address);
        const auto reply = hartExchange(what, hart::command0Frame(addressIndex(address), !o_.secondary, o_.preambles),
                                        wait);
        if (!reply || *reply->responseCode != 0)
            continue;
        const auto c0 = hart::command0Data(reply->data.data(), reply->data.size());
        if (!c0)
            continue;
        // HART 6 and 7 instruments may sit at polling addresses up to 63.
        if (!o_.range && c0->universalRevision >= 6)
            last = kMaxPolling;
        if (tty)
            err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
        Json j = identityJson(address, *c0);
        j["polling_address"] = polling;
        j["hart_revision"] = c0->universalRevision;
        found.push_back(j);
        if (!o_.json) {
            out_ << "address " << address << " (polling " << polling << "): manufacturer_id "
                 << int(c0->identity.manufacturerId) << ", device_type " << int(c0->identity.deviceType)
                 << ", preambles " << int(c0->minPreambles) << ", device_id " << hart::deviceIdNumber(c0->identity)
                 << ", HART " << int(c0->universalRevision) << std::endl;
        }
        ++count;
    }
    if (tty)
        err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
    // Not a change, but the commissioning report lists what was found.
    recordChange("hart.instruments", nullptr, nullptr, found, "found");
    if (count == 0)
        fail(NoReply, "hart scan: no instrument answered command 0 at polling addresses " + std::to_string(first) + "-"
                          + std::to_string(last) + " (" + std::to_string(wait.count()) + " ms each)");
    if (o_.json)
        emit({{"instruments", found}});
    return Done;
}

int Session::hartInfo()
{
    need(1, "hart info [--address A] [--secondary] [--preambles N]");
    const std::string where = " at address " + std::to_string(o_.address);
    const hart::Command0Data c0 = hartIdentify(command0Name(o_.address), addressIndex(o_.address));

    hart::DeviceDetails details;
    for (const uint8_t command : hart::kDetailCommands) {
        const std::string what = "hart: command " + std::to_string(command) + where;
        hart::addDetail(details, *hartExchange(what, hart::commandFrame(addressIndex(o_.address), !o_.secondary,
                                                                         c0.identity, o_.preambles, command)));
    }
    Json codes = {{"0", 0}};
    for (const auto &[command, code] : details.responseCodes)
        codes[std::to_string(command)] = code;
    const auto &pv = details.pv;
    const auto &loop = details.loop;
    const auto &message = details.message;
    const auto &tdd = details.tagDescriptorDate;
    const auto &range = details.range;
    const auto &longTag = details.longTag;
    const auto &status = details.additionalStatus;

    const auto text = [](const std::optional<std::string> &v) { return v ? Json(*v) : Json(nullptr); };
    const auto floatMember = [](const auto &v, auto member) { return v ? floatJson((*v).*member) : Json(nullptr); };
    const std::optional<std::string> date = tdd ? tdd->isoDate() : std::nullopt;
    const std::vector<std::string> names = status ? hart::additionalStatusNames(*status) : std::vector<std::string>{};
    Json doc = {{"address", o_.address}};
    doc["tag"] = tdd ? Json(tdd->tag) : Json(nullptr);
    doc["descriptor"] = tdd ? Json(tdd->descriptor) : Json(nullptr);
    doc["message"] = text(message);
    doc["date"] = text(date);
    doc["long_tag"] = text(longTag);
    doc["pv"] = pv ? Json{{"value", floatJson(pv->value)}, {"unit", hart::unitSymbol(pv->unitCode)},
                          {"unit_code", pv->unitCode}}
                   : Json(nullptr);
    doc["loop_current_ma"] = floatMember(loop, &hart::LoopCurrent::milliamperes);
    doc["percent_of_range"] = floatMember(loop, &hart::LoopCurrent::percentOfRange);
    doc["range"] = nullptr;
    if (range) {
        const uint8_t wp = range->writeProtect;
        doc["range"] = {{"upper", floatJson(range->upper)},
                        {"lower", floatJson(range->lower)},
                        {"unit", hart::unitSymbol(range->rangeUnit)},
                        {"unit_code", range->rangeUnit},
                        {"damping_s", floatJson(range->dampingSeconds)},
                        {"transfer_function", hart::transferFunctionName(range->transferFunction)},
                        {"alarm_selection", hart::alarmSelectionName(range->alarmSelection)},
                        {"write_protect", wp <= 1 ? Json(wp == 1) : Json(nullptr)}};
    }
    doc["additional_status"] = status ? Json(hexText(*status)) : Json(nullptr);
    doc["additional_status_bits"] = status ? Json(names) : Json(nullptr);
    doc["response_codes"] = codes;

    if (o_.json) {
        emit(doc);
    } else {
        const auto shown = [](const Json &v) { return v.is_null() ? std::string("(not supported)") : exchange::valueText(v); };
        std::vector<std::pair<std::string, std::string>> lines = {
            {"address", std::to_string(o_.address)},
            {"tag", shown(doc["tag"])},
            {"descriptor", shown(doc["descriptor"])},
            {"message", shown(doc["message"])},
            {"date", shown(doc["date"])},
            {"long_tag", shown(doc["long_tag"])},
        };
        lines.emplace_back("pv", pv ? floatText(pv->value) + " " + hart::unitSymbol(pv->unitCode) : shown(nullptr));
        lines.emplace_back("loop_current", loop ? floatText(loop->milliamperes) + " mA" : shown(nullptr));
        lines.emplace_back("percent_of_range", loop ? floatText(loop->percentOfRange) + " %" : shown(nullptr));
        if (range) {
            const std::string unit = std::string(" ") + hart::unitSymbol(range->rangeUnit);
            lines.emplace_back("range", floatText(range->lower) + unit + " .. " + floatText(range->upper) + unit + ", "
                                            + hart::transferFunctionName(range->transferFunction));
            lines.emplace_back("damping", floatText(range->dampingSeconds) + " s");
            lines.emplace_back("alarm_selection", hart::alarmSelectionName(range->alarmSelection));
            lines.emplace_back("write_protect", hart::writeProtectName(range->writeProtect));
        } else {
            lines.emplace_back("range", shown(nullptr));
        }
        std::string statusText = shown(doc["additional_status"]);
        if (!names.empty()) {
            statusText += " (";
            for (size_t i = 0; i < names.size(); ++i)
                statusText += (i ? ", " : "") + names[i];
            statusText += ")";
        }
        lines.emplace_back("additional_status", statusText);
        std::string codeText;
        for (const auto &[command, code] : codes.items())
            codeText += (codeText.empty() ? "" : ", ") + command + ": " + exchange::valueText(code);
        lines.emplace_back("response_codes", codeText);
        printLines(out_, lines);
    }
    if (!details.problems.empty()) {
        out_.flush();
        for (size_t i = 0; i + 1 < details.problems.size(); ++i)
            err_ << "nx260ctl: hart info" << where << ": " << details.problems[i] << std::endl;
        fail(Differs, "hart info" + where + ": " + details.problems.back());
    }
    return Done;
}

int Session::hartCommand()
{
    if (o_.words.size() < 2)
        fail(Usage, "usage: nx260ctl hart id|info|read|send|scan ...");
    const std::string &sub = o_.words[1];
    if (sub == "id")
        return hartId();
    if (sub == "read")
        return hartRead();
    if (sub == "send")
        return hartSend();
    if (sub == "scan")
        return hartScan();
    if (sub == "info")
        return hartInfo();
    fail(Usage, "hart " + sub + ": unknown command (id, info, read, send, scan)");
}

int Session::run()
{
    if (o_.words.empty())
        fail(Usage, "no command (see nx260ctl --help)");
    const std::string &command = o_.words.front();
    using Handler = int (Session::*)();
    static const std::map<std::string, Handler> commands = {
        {"info", &Session::info},       {"show", &Session::show},       {"set", &Session::set},
        {"reset", &Session::reset},     {"backup", &Session::backup},   {"restore", &Session::restore},
        {"diff", &Session::diff},       {"hart", &Session::hartCommand}, {"record", &Session::record},
        {"report", &Session::report},
    };
    const auto it = commands.find(command);
    if (it == commands.end())
        fail(Usage, command + ": unknown command (see nx260ctl --help)");

    if (!o_.capture.empty()) {
#ifdef NX_HAVE_CAPTURE
        std::string error;
        capture_ = capture::PcapWriter::create(o_.capture, &error);
        if (!capture_)
            fail(Usage, "--capture: " + error);
        link_.setObserver([this](const exchange::TrafficRecord &r) {
            capture_->write({r.time, r.sent ? capture::Direction::Sent : capture::Direction::Received,
                             r.hart ? capture::Payload::Hart : capture::Payload::Config, r.bytes});
        });
#else
        fail(Usage, "--capture: this build cannot capture (it was built without libpcap)");
#endif
    }
    const int code = (this->*(it->second))();
    if (!recordError_.empty())
        fail(OutputError, recordError_);
    return code;
}

} // namespace

const char *helpText()
{
    return kHelp;
}

namespace {

// One gateway: its command's output on `out`, its one-line error on `err`.
int runOne(const Options &o, std::ostream &out, std::ostream &err)
{
    try {
        Session session(o, out, err);
        return session.run();
    } catch (const Failure &f) {
        out.flush();
        err << "nx260ctl: " << f.message << std::endl;
        return f.code;
    }
}

// The ports named by --port and --ports-file (one a line, '#' comments), or
// the environment's.
std::vector<std::string> portList(const Options &o, const std::string &envPort)
{
    std::vector<std::string> ports = o.ports;
    if (!o.portsFile.empty()) {
        std::ifstream in(o.portsFile);
        if (!in)
            fail(Usage, "--ports-file: cannot read " + o.portsFile);
        for (std::string line; std::getline(in, line);) {
            line = line.substr(0, line.find('#'));
            const size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos)
                continue;
            ports.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
        }
        if (ports.empty())
            fail(Usage, "--ports-file: " + o.portsFile + " names no port");
    }
    if (ports.empty() && !envPort.empty())
        ports.push_back(envPort);
    return ports;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Runs the command on every port at once (at most o.jobs at a time) and
// prints each gateway's result in the order the ports were given, as soon as
// it and those before it are done. Exit: the highest of the gateways'.
int runMany(const Options &o, const std::vector<std::string> &ports, std::ostream &out, std::ostream &err)
{
    const std::string command = o.words.empty() ? "" : o.words.front();
    const bool namesFile = std::any_of(o.words.begin(), o.words.end(),
                                       [](const std::string &w) { return w.find("{port}") != std::string::npos; });
    if (command == "backup" && !namesFile)
        fail(Usage, "backup: with several ports the file name needs {port}");
    if (o.watchSeconds)
        fail(Usage, "--watch: one port at a time");

    struct Outcome {
        std::ostringstream out, err;
        int code = -1;
        bool done = false;
    };
    std::vector<Outcome> outcomes(ports.size());
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < ports.size();) {
            Options one = o;
            one.port = ports[i];
            for (std::string &w : one.words) {
                for (size_t at; (at = w.find("{port}")) != std::string::npos;)
                    w.replace(at, 6, exchange::fileSafe(ports[i]));
            }
            const int code = runOne(one, outcomes[i].out, outcomes[i].err);
            std::lock_guard<std::mutex> g(lock);
            outcomes[i].code = code;
            outcomes[i].done = true;
            finished.notify_all();
        }
    };
    const size_t jobs = std::min(ports.size(), o.jobs > 0 ? size_t(o.jobs) : ports.size());
    std::vector<std::thread> threads;
    for (size_t j = 0; j < jobs; ++j)
        threads.emplace_back(worker);

    int highest = Done;
    Json docs = Json::array();
    for (size_t i = 0; i < ports.size(); ++i) {
        {
            std::unique_lock<std::mutex> g(lock);
            finished.wait(g, [&] { return outcomes[i].done; });
        }
        const Outcome &r = outcomes[i];
        highest = std::max(highest, r.code);
        const std::string text = r.out.str();
        std::string error;
        for (const std::string &line : lines(r.err.str()))
            if (line.starts_with("nx260ctl: "))
                error = line.substr(10);
        if (o.json) {
            Json result = nullptr;
            if (!text.empty())
                result = Json::parse(text, nullptr, false);
            docs.push_back({{"port", ports[i]}, {"ok", r.code == Done}, {"exit_code", r.code},
                            {"error", error.empty() ? Json(nullptr) : Json(error)}, {"result", result}});
            continue;
        }
        for (const std::string &line : lines(text))
            out << ports[i] << ": " << line << '\n';
        out.flush();
        for (const std::string &line : lines(r.err.str()))
            err << ports[i] << ": " << line << '\n';
        err.flush();
    }
    for (std::thread &t : threads)
        t.join();
    if (o.json)
        out << docs.dump(2) << '\n';
    return highest;
}

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, const std::string &envPort)
{
    for (const std::string &a : args) {
        if (a == "--help" || a == "-h") {
            out << kHelp;
            return Done;
        }
        if (a == "--version") {
            out << "nx260ctl " << NX260_VERSION << '\n';
            return Done;
        }
    }
    int code = Done;
    try {
        Options o = parseArgs(args, envPort);
        const bool readsRecord = !o.words.empty() && (o.words[0] == "record" || o.words[0] == "report");
        const std::vector<std::string> ports = readsRecord ? std::vector<std::string>{} : portList(o, envPort);
        if (ports.size() > 1 || (!o.portsFile.empty() && !readsRecord)) {
            code = runMany(o, ports, out, err);
        } else {
            o.port = ports.empty() ? std::string() : ports.front();
            code = runOne(o, out, err);
        }
    } catch (const Failure &f) {
        out.flush();
        err << "nx260ctl: " << f.message << std::endl;
        code = f.code;
    }
    // A result that did not reach its reader (full disk, closed pipe) is no result.
    errno = 0;
    out.flush();
    if (!out) {
        const int e = errno;
        err << "nx260ctl: cannot write the output" << (e ? std::string(" (") + std::strerror(e) + ")" : "") << std::endl;
        return OutputError;
    }
    return code;
}

} // namespace nx260ctl
