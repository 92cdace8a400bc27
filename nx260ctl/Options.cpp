// SPDX-License-Identifier: GPL-3.0-or-later
#include "Ctl.h"
#include "Options.h"

#include "ConfigRequests.h"
#include "StrictInt.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace nx260ctl {

namespace {

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
    "  modbus read START COUNT   MODBUS RTU on --port (a USB-RS485 adapter on RS485 A or B):\n"
    "                            registers START.. (0-based) of --function holding (default),\n"
    "                            input, coil or discrete, as --type (uint16, int16, uint32,\n"
    "                            int32, float32, each -abcd -cdab -badc -dcba); --watch MS\n"
    "                            repeats every MS milliseconds; --slave 1..247 (default 1),\n"
    "                            --baud, --parity as the gateway's RS485 port\n"
    "  modbus write START VALUE... --yes  functions 6/16 on holding registers (as --type)\n"
    "  modbus check PROFILE      reads the gateway's slave address and RS485 A settings over\n"
    "                            --port, each row of the profile's register map over\n"
    "                            --modbus-port and the HART value it mirrors (transparent\n"
    "                            mode); exit 1 when one differs by more than its tolerance\n"
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

int bounded(const std::string &option, const std::string &v, int lo, int hi)
{
    const auto n = number(v, lo, hi);
    if (!n)
        fail(Usage, option + " " + v + ": must be a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return *n;
}

void setBaud(Options &o, const std::string &option, const std::string &v)
{
    const auto n = exchange::strictToInt(v);
    if (!n || std::find(exchange::kBaudRates.begin(), exchange::kBaudRates.end(), *n) == exchange::kBaudRates.end())
        fail(Usage, option + " " + v + ": must be one of 1200 2400 4800 9600 19200 38400 56000 115200");
    o.baud = static_cast<uint32_t>(*n);
}

void setParity(Options &o, const std::string &option, const std::string &v)
{
    const auto it = std::find(exchange::kParityWords.begin(), exchange::kParityWords.end(), v);
    if (it == exchange::kParityWords.end())
        fail(Usage, option + " " + v + ": must be none, odd or even");
    o.parity = static_cast<SerialComm::TParity>(it - exchange::kParityWords.begin());
}

void setRange(Options &o, const std::string &option, const std::string &v)
{
    const size_t dash = v.find('-');
    const auto lo = number(std::string_view(v).substr(0, dash), 0, kMaxPolling);
    const auto hi = dash == std::string::npos ? lo : number(std::string_view(v).substr(dash + 1), 0, kMaxPolling);
    if (!lo || !hi || *lo > *hi)
        fail(Usage, option + " " + v + ": must be A-B with 0 <= A <= B <= " + std::to_string(kMaxPolling));
    o.range = std::pair{*lo, *hi};
}

void setIdentity(Options &o, const std::string &option, const std::string &v)
{
    const size_t c1 = v.find(':');
    const size_t c2 = c1 == std::string::npos ? c1 : v.find(':', c1 + 1);
    std::optional<uint32_t> m, t, id;
    if (c2 != std::string::npos) {
        m = decOrHex(std::string_view(v).substr(0, c1), 0xFF);
        t = decOrHex(std::string_view(v).substr(c1 + 1, c2 - c1 - 1), 0xFF);
        id = decOrHex(std::string_view(v).substr(c2 + 1), 0xFFFFFF);
    }
    if (!m || !t || !id)
        fail(Usage, option + " " + v + ": must be MFR:TYPE:ID (0..255, 0..255, 0..16777215; decimal or 0x hex)");
    hart::Identity ident;
    ident.manufacturerId = static_cast<uint8_t>(*m);
    ident.deviceType = static_cast<uint8_t>(*t);
    ident.deviceId = {static_cast<uint8_t>(*id >> 16), static_cast<uint8_t>(*id >> 8), static_cast<uint8_t>(*id)};
    o.identity = ident;
}

// The options that take a value: what each does with it.
using Setter = void (*)(Options &, const std::string &option, const std::string &value);
const std::map<std::string, Setter> kValueOptions = {
    {"--port", [](Options &o, const std::string &, const std::string &v) { o.ports.push_back(v); }},
    {"--baud", setBaud},
    {"--parity", setParity},
    {"--timeout",
     [](Options &o, const std::string &a, const std::string &v) {
         o.timeout = std::chrono::milliseconds(bounded(a, v, 1, 600000));
         o.timeoutGiven = true;
     }},
    {"--wait-port", [](Options &o, const std::string &a, const std::string &v) { o.waitPortSeconds = bounded(a, v, 1, 86400); }},
    {"--ports-file", [](Options &o, const std::string &, const std::string &v) { o.portsFile = v; }},
    {"--record", [](Options &o, const std::string &, const std::string &v) { o.record = v; }},
    {"--since", [](Options &o, const std::string &, const std::string &v) { o.since = v; }},
    {"--jobs", [](Options &o, const std::string &a, const std::string &v) { o.jobs = bounded(a, v, 1, 1024); }},
    {"--capture", [](Options &o, const std::string &, const std::string &v) { o.capture = v; }},
    {"--address", [](Options &o, const std::string &a, const std::string &v) { o.address = bounded(a, v, 1, 32); }},
    {"--preambles", [](Options &o, const std::string &a, const std::string &v) { o.preambles = bounded(a, v, 0, 255); }},
    {"--watch", [](Options &o, const std::string &a, const std::string &v) { o.watchSeconds = bounded(a, v, 1, 86400); }},
    {"--range", setRange},
    {"--modbus-port", [](Options &o, const std::string &, const std::string &v) { o.modbusPorts.push_back(v); }},
    {"--slave", [](Options &o, const std::string &a, const std::string &v) { o.slave = bounded(a, v, 1, 247); }},
    {"--type", [](Options &o, const std::string &, const std::string &v) { o.type = v; }},
    {"--function", [](Options &o, const std::string &, const std::string &v) { o.function = v; }},
    {"--identity", setIdentity},
};

} // namespace

[[noreturn]] void fail(int code, std::string message)
{
    throw Failure{code, std::move(message)};
}

const char *helpText()
{
    return kHelp;
}

Options parseArgs(const std::vector<std::string> &args, const std::string &envPort)
{
    Options o;
    o.port = envPort;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (const auto it = kValueOptions.find(a); it != kValueOptions.end()) {
            if (i + 1 >= args.size())
                fail(Usage, a + " needs a value");
            it->second(o, a, args[++i]);
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--secondary") {
            o.secondary = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a.size() > 2 && a.starts_with("--")) {
            fail(Usage, a + ": unknown option (see nx260ctl --help)");
        } else {
            o.words.push_back(a);
        }
    }
    return o;
}

} // namespace nx260ctl
