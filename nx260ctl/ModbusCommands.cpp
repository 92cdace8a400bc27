// SPDX-License-Identifier: GPL-3.0-or-later
// "modbus read", "modbus write" and "modbus check": the gateway's RS485 side
// as a PLC sees it, through a second port.
#include "HartCommands.h"
#include "Session.h"

#include "ConfigReplies.h"
#include "ModbusProfile.h"
#include "StrictInt.h"
#ifdef NX_HAVE_MODBUS
#include "ModbusMaster.h"
#endif

#include <cmath>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <thread>

namespace nx260ctl::commands {

#ifndef NX_HAVE_MODBUS
int modbus(Session &)
{
    fail(Usage, "modbus: this build has no MODBUS master (it was built without libmodbus)");
}
#else

namespace {

using std::chrono::milliseconds;

int exitFor(const modbus::Result &r)
{
    switch (r.error) {
    case modbus::Error::None: return Done;
    case modbus::Error::NoAnswer: return NoReply;
    case modbus::Error::Port: return PortError;
    case modbus::Error::Usage: return Usage;
    default: return Differs;
    }
}

std::string modbusPort(const Options &o)
{
    return !o.modbusPort.empty() ? o.modbusPort : o.modbusPorts.empty() ? std::string() : o.modbusPorts.front();
}

void openMaster(modbus::Master &m, const modbus::Line &line)
{
    const modbus::Result r = m.open(line);
    if (!r.ok())
        fail(exitFor(r), r.message);
}

modbus::Line lineFromOptions(const Options &o, const std::string &port)
{
    modbus::Line line;
    line.port = port;
    line.slave = o.slave;
    line.baud = static_cast<int>(o.baud);
    line.parity = static_cast<modbus::Parity>(std::min(static_cast<int>(o.parity), 2));
    line.replyDelay = modbus::returnTimeAllowance(2); // the factory setting
    return line;
}

std::string number(double v)
{
    std::ostringstream s;
    s.precision(9);
    s << v;
    return s.str();
}

int read(Session &s)
{
    const Options &o = s.options();
    s.need(3, "modbus read START COUNT [--function holding|input|coil|discrete] [--type T] [--watch MS]");
    const auto start = exchange::strictToInt(o.words[2]);
    const auto count = exchange::strictToInt(o.words[3]);
    std::string why;
    const auto function = modbus::parseFunction(o.function, &why);
    const auto format = modbus::parseFormat(o.type.value_or("uint16"), &why);
    if (!function || !format)
        fail(Usage, "modbus read: " + why);
    if (!start || !count || *start < 0 || *start > 65535 || *count < 1)
        fail(Usage, "modbus read: START must be 0..65535 and COUNT 1 or more");
    if (o.port.empty())
        fail(Usage, "modbus read: no port: give --port NAME");
    modbus::Master m;
    openMaster(m, lineFromOptions(o, o.port));
    const bool bits = *function == modbus::Function::Coils || *function == modbus::Function::DiscreteInputs;
    const int per = bits ? 1 : modbus::registerCount(format->type);
    const auto t0 = std::chrono::steady_clock::now();
    for (int round = 0;; ++round) {
        const modbus::Result r = m.read(*function, *start, *count);
        if (!r.ok())
            fail(exitFor(r), "modbus " + r.message);
        Json values = Json::array();
        std::vector<std::pair<std::string, std::string>> lines;
        for (int i = 0; i + per <= *count; i += per) {
            const int at = *start + i;
            if (bits) {
                values.push_back({{"register", at}, {"value", r.bits[static_cast<size_t>(i)]}});
                lines.emplace_back(std::to_string(at), std::to_string(r.bits[static_cast<size_t>(i)]));
                continue;
            }
            const auto words = std::span(r.registers).subspan(static_cast<size_t>(i), static_cast<size_t>(per));
            const double v = *modbus::decode(words, *format);
            values.push_back({{"register", at}, {"value", std::isfinite(v) ? Json(v) : Json(nullptr)},
                              {"raw", modbus::hexWords(words)}});
            lines.emplace_back(std::to_string(at), number(v) + "  (" + modbus::hexWords(words) + ")");
        }
        if (o.json) {
            const Json doc = {{"slave", o.slave}, {"function", modbus::functionName(*function)},
                              {"type", modbus::formatName(*format)}, {"round_trip_ms", r.roundTrip.count() / 1000.0},
                              {"values", values}};
            if (o.watchSeconds)
                s.out() << doc.dump() << std::endl;
            else
                s.emit(doc);
        } else {
            printLines(s.out(), lines);
            if (o.watchSeconds)
                s.out() << std::endl;
        }
        if (!o.watchSeconds)
            return Done;
        if (!s.out())
            fail(OutputError, "cannot write the output");
        std::this_thread::sleep_until(t0 + milliseconds(*o.watchSeconds) * (round + 1));
    }
}

int write(Session &s)
{
    const Options &o = s.options();
    if (o.words.size() < 4)
        fail(Usage, "usage: nx260ctl modbus write START VALUE... [--type T] --yes");
    std::string why;
    const auto format = modbus::parseFormat(o.type.value_or("uint16"), &why);
    const auto start = exchange::strictToInt(o.words[2]);
    if (!format || !start || *start < 0 || *start > 65535)
        fail(Usage, "modbus write: " + (format ? "START must be 0..65535" : why));
    std::vector<std::uint16_t> words;
    for (size_t i = 3; i < o.words.size(); ++i) {
        char *end = nullptr;
        const double v = std::strtod(o.words[i].c_str(), &end);
        if (o.words[i].empty() || *end != '\0' || !std::isfinite(v))
            fail(Usage, "modbus write: " + o.words[i] + " is not a number");
        const auto w = modbus::encode(v, *format);
        words.insert(words.end(), w.begin(), w.end());
    }
    const std::string change = "slave " + std::to_string(o.slave) + " holding " + std::to_string(*start) + ".."
        + std::to_string(*start + static_cast<int>(words.size()) - 1) + " := " + modbus::hexWords(words);
    if (!o.yes)
        fail(Usage, "modbus write: would write " + change + "; give --yes to write it");
    modbus::Master m;
    openMaster(m, lineFromOptions(o, o.port));
    const modbus::Result r = m.writeRegisters(*start, words, modbus::Confirmed{});
    if (!r.ok())
        fail(exitFor(r), "modbus " + r.message);
    const modbus::Result back = m.read(modbus::Function::HoldingRegisters, *start, static_cast<int>(words.size()));
    if (!back.ok())
        fail(exitFor(back), "modbus write: written, but reading back: " + back.message);
    s.recordChange("modbus.holding." + std::to_string(*start), nullptr, modbus::hexWords(words),
                   modbus::hexWords(back.registers), back.registers == words ? "set" : "read_back_different");
    s.out() << "wrote " << change << (back.registers == words ? "; read back the same" : "; read back " + modbus::hexWords(back.registers)) << '\n';
    return back.registers == words ? Done : Differs;
}

double hartValue(const hart::DynamicVariables &v, modbus::HartVariable which, bool &present)
{
    present = true;
    if (which == modbus::HartVariable::LoopCurrent) {
        present = v.loopCurrent.has_value();
        return present ? *v.loopCurrent : 0;
    }
    const auto i = static_cast<size_t>(which) - 1;
    present = i < v.variables.size();
    return present ? v.variables[i].value : 0;
}

int check(Session &s)
{
    const Options &o = s.options();
    s.need(2, "modbus check PROFILE --port CONFIG_PORT --modbus-port RS485_PORT");
    std::ifstream in(o.words[2]);
    if (!in)
        fail(Usage, "modbus check: cannot read " + o.words[2]);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const auto map = exchange::profileModbusMap(text.str(), &error);
    if (!map)
        fail(Usage, o.words[2] + ": " + error);
    const std::string mbPort = modbusPort(o);
    if (mbPort.empty())
        fail(Usage, "modbus check: no MODBUS port: give --modbus-port NAME");

    // The line as the gateway holds it for RS485 A.
    const exchange::Bytes query = exchange::systemParameterQuery();
    const auto reply = s.config("modbus check", query, "system parameters", Session::Expect::System);
    const exchange::SystemReply sys = exchange::decodeSystemParameters(std::string(reply.begin(), reply.end()));
    const auto &a = sys.settings.rs485a;
    if (sys.error || !sys.settings.address || !a.baud || !a.parity || !a.returnTime)
        fail(Differs, "modbus check: system parameters not understood: " + printable(reply));
    modbus::Line line;
    line.port = mbPort;
    line.slave = *sys.settings.address;
    line.baud = exchange::kBaudRates[static_cast<size_t>(*a.baud)];
    line.parity = static_cast<modbus::Parity>(*a.parity);
    line.replyDelay = modbus::returnTimeAllowance(*a.returnTime);
    modbus::Master m;
    openMaster(m, line);

    // HART command 3 once per channel the map mirrors.
    std::map<int, hart::DynamicVariables> hartOf;
    for (const modbus::MapRow &row : *map) {
        if (!row.channel || hartOf.count(*row.channel))
            continue;
        const int address = *row.channel;
        const hart::Identity id = hartIdentify(s, command0Name(address), addressIndex(address)).identity;
        const std::string what = "hart: command 3 at address " + std::to_string(address);
        const auto f = s.hartExchange(what, hart::command3Frame(addressIndex(address), !o.secondary, id, o.preambles));
        checkResponse(what, *f);
        hartOf[address] = hart::command3Data(f->data.data(), f->data.size());
    }

    int code = Done;
    Json rows = Json::array();
    std::vector<std::pair<std::string, std::string>> lines;
    for (const modbus::MapRow &row : *map) {
        const modbus::Result r = m.read(row.function, row.address, row.words());
        Json j = {{"name", row.name}, {"function", modbus::functionName(row.function)}, {"register", row.address}};
        std::string lineText;
        if (!r.ok()) {
            code = std::max(code, r.error == modbus::Error::NoAnswer ? int(NoReply) : int(Differs));
            j["error"] = r.message;
            lines.emplace_back(row.name, "error: " + r.message);
            rows.push_back(j);
            continue;
        }
        const bool bits = r.registers.empty();
        const double value = bits ? r.bits[0] : row.value(*modbus::decode(r.registers, row.format));
        j["value"] = value;
        j["raw"] = bits ? std::to_string(r.bits[0]) : modbus::hexWords(r.registers);
        lineText = number(value) + (row.unit.empty() ? "" : " " + row.unit);
        if (row.channel && row.mirrors) {
            bool present = false;
            const double h = hartValue(hartOf[*row.channel], *row.mirrors, present);
            const bool match = present && std::fabs(value - h) <= row.allowed(h);
            j["hart"] = present ? Json(h) : Json(nullptr);
            j["difference"] = present ? Json(value - h) : Json(nullptr);
            j["match"] = match;
            lineText += "  HART " + std::string(modbus::hartVariableName(*row.mirrors)) + " " + number(h) + "  difference "
                + number(value - h) + (match ? "" : "  MISMATCH (tolerance " + number(row.allowed(h)) + ")");
            if (!match)
                code = std::max(code, int(Differs));
        }
        lines.emplace_back(row.name, lineText);
        rows.push_back(j);
    }
    if (o.json)
        s.emit({{"slave", line.slave}, {"baud", line.baud}, {"rows", rows}});
    else
        printLines(s.out(), lines);
    if (code != Done)
        fail(code, "modbus check: the MODBUS side differs from the HART values (or did not answer)");
    return Done;
}

} // namespace

int modbus(Session &s)
{
    const auto &words = s.options().words;
    const std::string sub = words.size() > 1 ? words[1] : "";
    if (sub == "read")
        return read(s);
    if (sub == "write")
        return write(s);
    if (sub == "check")
        return check(s);
    fail(Usage, "usage: nx260ctl modbus read|write|check ...");
}

#endif

} // namespace nx260ctl::commands
