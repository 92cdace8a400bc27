#include "Ctl.h"

#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "HartFrames.h"
#include "HartAnnotate.h"
#include "HartReader.h"
#include "HartUnits.h"
#include "net/NetName.h"
#include "PortPresence.h"
#include "Profile.h"
#include "SequentialExchange.h"
#include "StrictInt.h"

#ifdef NX_HAVE_CAPTURE
#include "TrafficCapture.h"
#endif

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
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
    "Usage: nx260ctl [--port NAME] [--baud N] [--parity none|odd|even] [--timeout MS] [--json]\n"
    "                [--capture FILE] [--wait-port SECONDS] COMMAND ...\n"
    "Configures an NX260-HGW gateway and reads the HART instruments behind it.\n"
    "\n"
    "Commands:\n"
    "  info                      communication query; prints the gateway's identification\n"
    "  show [system|instruments] queries and prints the settings (both when omitted)\n"
    "  set KEY=VALUE ...         sends each setting, waits for its acknowledgement (any reply;\n"
    "                            none is an error), re-queries and verifies\n"
    "  reset                     parameter initialization\n"
    "  backup FILE               writes the gateway's settings as a profile\n"
    "  restore FILE              sends every setting of the profile that differs from the\n"
    "                            gateway's, then verifies\n"
    "  diff FILE                 lists the settings where the gateway and the profile differ\n"
    "                            (exit 1 when any)\n"
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
    "                    rfc2217://HOST:PORT (Telnet, line set from here); default $NX260_PORT\n"
    "  --wait-port SEC   wait up to SEC seconds for the port to appear (an adapter plugged\n"
    "                    in, a device server reachable) before starting\n"
    "  --baud N          1200 2400 4800 9600 19200 38400 56000 115200 (default 9600)\n"
    "  --parity P        none, odd or even (default none)\n"
    "  --timeout MS      how long to wait for each reply (default 3000)\n"
    "  --json            print one JSON document on stdout (--watch: one per reading)\n"
    "  --capture FILE    write the exchange as a pcap file\n"
    "  --help, --version\n"
    "\n"
    "Keys:\n"
    "  mode (transparent|modbus)  address (0..999)  interval (0..999, units of 100 ms)\n"
    "  rs485a.baud, rs485b.baud (1200..115200 as listed)  rs485a.parity, rs485b.parity (none|odd|even)\n"
    "  rs485a.return_time, rs485b.return_time (the item text, e.g. 2_200MS, or its index 0..5)\n"
    "  channels (1|2|4; set only: the gateway does not report it)\n"
    "  instrument.N.mode (master|secondary)  instrument.N.type (index)  instrument.N.preambles (4..9)\n"
    "  instrument.N.interval (0..999), N = 1..4\n"
    "\n"
    "Profile: {\"format\": \"nx260-profile\", \"version\": 1, \"system\": {...},\n"
    "          \"instruments\": [{\"row\": 1, ...}, ...]} with the keys above as nested members.\n"
    "\n"
    "Exit status: 0 done; 1 the gateway answered but differed (verify mismatch, diff found\n"
    "differences, HART response code not 0, a reply that cannot be read); 2 usage or profile\n"
    "error (nothing is sent); 3 port error (cannot open, lost); 4 no reply within the time-out.\n"
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
    std::string port;
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
            o.port = value();
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

class Session {
public:
    Session(const Options &o, std::ostream &out, std::ostream &err) : o_(o), out_(out), err_(err) {}

    int run();

private:
    // --- port and exchanges
    void openPort();
    void waitForPort();
    std::vector<uint8_t> config(const std::string &command, const exchange::Bytes &request, const std::string &what);
    // The complete reply frame with a good checksum; nullopt only when
    // `firstByte` is given and no reply began in that time.
    std::optional<hart::Frame> hartExchange(const std::string &what, const hart::Bytes &frame,
                                            std::optional<milliseconds> firstByte = std::nullopt);

    // --- settings
    exchange::GatewaySettings query(const std::string &command, bool system, bool instruments);
    void sendAll(const std::string &command, const exchange::GatewaySettings &change,
                 const exchange::GatewaySettings &current);
    void verify(const std::string &command, const exchange::GatewaySettings &wanted, bool system, bool instruments);
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
        fail(PortError, "cannot open port " + o_.port + ": " + reason);
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
                                     const std::string &what)
{
    openPort();
    const std::string name = command + ": " + printable(request);
    const exchange::ExchangeReply r = link_.configRequest(request, o_.timeout);
    switch (r.status) {
    case exchange::ReplyStatus::Ok: return r.bytes;
    case exchange::ReplyStatus::PortLost: fail(PortError, name + ": the port " + o_.port + " was lost");
    case exchange::ReplyStatus::NoReply: break;
    }
    fail(NoReply, name + ": no " + what + " within " + std::to_string(o_.timeout.count()) + " ms");
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
        const auto bytes = config(command, request, "system parameters");
        const exchange::SystemReply r = exchange::decodeSystemParameters(std::string(bytes.begin(), bytes.end()));
        s.system = r.settings;
        const auto bad = exchange::unusableFields(s, true, false);
        if (r.error || !bad.empty())
            fail(Differs, command + ": " + printable(request) + ": reply not understood ("
                              + (r.error ? *r.error : "missing or invalid: " + bad.front()) + "): " + printable(bytes));
    }
    if (instruments) {
        const exchange::Bytes request = exchange::instrumentQuery();
        const auto bytes = config(command, request, "instrument table");
        const exchange::InstrumentReply r = exchange::decodeInstrumentTable(std::string(bytes.begin(), bytes.end()));
        s.instruments = r.rows;
        const auto bad = exchange::unusableFields(s, false, true);
        if (r.error || !bad.empty())
            fail(Differs, command + ": " + printable(request) + ": reply not understood ("
                              + (r.error ? *r.error : "missing or invalid: " + bad.front()) + "): " + printable(bytes));
    }
    return s;
}

void Session::sendAll(const std::string &command, const exchange::GatewaySettings &change,
                      const exchange::GatewaySettings &current)
{
    std::string problem;
    const auto requests = exchange::setRequests(change, current, &problem);
    if (!requests)
        fail(Usage, command + ": " + problem + ": cannot be encoded");
    const auto changed = exchange::settingValues(change);
    for (const exchange::SetRequest &q : *requests) {
        const auto reply = config(command, q.bytes, "acknowledgement");
        // Name the settings this request carried, as they were asked for.
        std::string carried;
        for (const auto &[key, value] : changed) {
            const bool inGroup = key == q.name
                || (q.name.starts_with("instrument.") && key.starts_with(q.name + "."))
                || key == q.name + ".baud" || key == q.name + ".parity";
            if (inGroup)
                carried += (carried.empty() ? "" : " ") + key + "=" + exchange::valueText(value);
        }
        progress(command + ": " + carried + ": acknowledged (" + printable(reply) + ")");
    }
}

void Session::verify(const std::string &command, const exchange::GatewaySettings &wanted, bool system,
                     bool instruments)
{
    if (!system && !instruments)
        return;
    const exchange::GatewaySettings now = query(command, system, instruments);
    const auto differing = exchange::differingKeys(now, wanted);
    if (differing.empty())
        return;
    std::map<std::string, Json> reported;
    for (auto &[k, v] : exchange::settingValues(now))
        reported[k] = v;
    std::map<std::string, Json> asked;
    for (auto &[k, v] : exchange::settingValues(wanted))
        asked[k] = v;
    const std::string &k = differing.front();
    fail(Differs, command + ": verify: the gateway reports " + k + "=" + exchange::valueText(reported[k]) + ", not "
                      + exchange::valueText(asked[k])
                      + (differing.size() > 1 ? " (and " + std::to_string(differing.size() - 1) + " more)" : ""));
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

// Which sections a set of settings touches (the channel model is in none:
// the gateway does not report it).
bool touchesSystem(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.system = s.system;
    only.system.channels.reset();
    return !exchange::settingValues(only).empty();
}

bool touchesInstruments(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.instruments = s.instruments;
    return !exchange::settingValues(only).empty();
}

int Session::info()
{
    need(0, "info");
    const auto reply = config("info", exchange::communicationQuery(), "reply");
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
    const bool system = touchesSystem(change), instruments = touchesInstruments(change);
    // Requests that carry several settings take the others from the gateway.
    const exchange::GatewaySettings current = query("set", system, instruments);
    sendAll("set", change, current);
    verify("set", change, system, instruments);
    if (o_.json)
        emit(exchange::settingsJson(change, system || change.system.channels, instruments));
    return Done;
}

int Session::reset()
{
    need(0, "reset");
    const auto reply = config("reset", exchange::parameterInitialization(), "acknowledgement");
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
    const bool system = touchesSystem(wanted), instruments = touchesInstruments(wanted);
    const exchange::GatewaySettings current = query("restore", system, instruments);

    // Only what differs goes out; the channel model is never reported, so a
    // profile that holds it always sends it.
    exchange::GatewaySettings change;
    change.system.channels = wanted.system.channels;
    for (const std::string &key : exchange::differingKeys(current, wanted)) {
        for (const auto &[k, v] : exchange::settingValues(wanted)) {
            std::string error;
            if (k == key)
                exchange::applySetting(change, k, exchange::valueText(v), &error);
        }
    }
    sendAll("restore", change, current);
    verify("restore", wanted, system, instruments);
    const auto sent = exchange::settingValues(change);
    if (o_.json) {
        Json keys = Json::array();
        for (const auto &[k, v] : sent)
            keys.push_back(k);
        emit({{"changed", keys}});
    } else {
        out_ << (sent.empty() ? "nothing to change" : std::to_string(sent.size()) + " setting(s) changed") << '\n';
    }
    return Done;
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
    if (o_.json) {
        Json list = Json::array();
        for (const std::string &k : keys)
            list.push_back({{"key", k}, {"gateway", g[k]}, {"profile", w[k]}});
        emit({{"differences", list}});
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const std::string &k : keys)
            lines.emplace_back(k, "gateway " + exchange::valueText(g[k]) + ", profile " + exchange::valueText(w[k]));
        printLines(out_, lines);
    }
    return keys.empty() ? Done : Differs;
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
        if (o_.json) {
            Json j = identityJson(address, *c0);
            j["polling_address"] = polling;
            j["hart_revision"] = c0->universalRevision;
            found.push_back(j);
        } else {
            out_ << "address " << address << " (polling " << polling << "): manufacturer_id "
                 << int(c0->identity.manufacturerId) << ", device_type " << int(c0->identity.deviceType)
                 << ", preambles " << int(c0->minPreambles) << ", device_id " << hart::deviceIdNumber(c0->identity)
                 << ", HART " << int(c0->universalRevision) << std::endl;
        }
        ++count;
    }
    if (tty)
        err_ << "\r" << std::string(48, ' ') << "\r" << std::flush;
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
        {"diff", &Session::diff},       {"hart", &Session::hartCommand},
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
    return (this->*(it->second))();
}

} // namespace

const char *helpText()
{
    return kHelp;
}

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
    try {
        const Options o = parseArgs(args, envPort);
        Session session(o, out, err);
        return session.run();
    } catch (const Failure &f) {
        out.flush();
        err << "nx260ctl: " << f.message << std::endl;
        return f.code;
    }
}

} // namespace nx260ctl
