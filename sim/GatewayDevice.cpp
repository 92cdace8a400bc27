// SPDX-License-Identifier: GPL-3.0-or-later
#include "GatewayDevice.h"

#include "HartReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace sim {

namespace {

constexpr std::uint8_t kHeader[4] = {0x00, 0x66, 0x55, 0x01}; // first byte varies (0..31)
constexpr std::uint8_t kPreamble = 0xFF;
constexpr std::size_t kDataReturnFieldAt = 8;                // "QQS#DTA:" r "#"
constexpr int kInstrumentTypes = 1;                          // the gateway knows one instrument type

// HART unit codes of the four dynamic variables.
constexpr std::uint8_t kUnitCubicMetresPerHour = 19;
constexpr std::uint8_t kUnitDegreesCelsius = 32;
constexpr std::uint8_t kUnitKilogramsPerHour = 75;
constexpr std::uint8_t kUnitCubicMetres = 43;

constexpr std::uint8_t kResponseCommandNotImplemented = 64;

bool startsWith(const std::uint8_t* buf, std::size_t n, const char* text)
{
    const std::size_t len = std::strlen(text);
    return n >= len && std::memcmp(buf, text, len) == 0;
}

// Header present: byte 0 is an address index and bytes 1..3 are fixed. With
// fewer than four bytes the answer may still change, reported by *undecided.
std::size_t headerLength(const std::uint8_t* buf, std::size_t n, bool* undecided)
{
    *undecided = false;
    if (n == 0 || buf[0] > 0x1F)
        return 0;
    for (std::size_t i = 1; i < 4; ++i) {
        if (i >= n) {
            *undecided = true;
            return 0;
        }
        if (buf[i] != kHeader[i])
            return 0;
    }
    return 4;
}

std::size_t asciiLength(const std::uint8_t* buf, std::size_t n)
{
    // The data return time travels as a raw byte that may be anything,
    // '#' included, so these two requests have a fixed length.
    if (startsWith(buf, n, "QQS#DTA:") || startsWith(buf, n, "QQS#DTK:"))
        return n >= kDataReturnFieldAt + 2 ? kDataReturnFieldAt + 2 : 0;
    const auto* first = static_cast<const std::uint8_t*>(std::memchr(buf, '#', n));
    if (!first)
        return 0;
    const std::size_t after = static_cast<std::size_t>(first - buf) + 1;
    const auto* second = static_cast<const std::uint8_t*>(std::memchr(buf + after, '#', n - after));
    return second ? static_cast<std::size_t>(second - buf) + 1 : 0;
}

std::size_t hartLength(const std::uint8_t* buf, std::size_t n)
{
    bool undecided = false;
    const std::size_t header = headerLength(buf, n, &undecided);
    if (undecided)
        return 0;
    // Only a frame right at the front, after the header and its preambles;
    // anything else is left for the quiet-line flush.
    const auto frame = hart::readFrame(buf, n);
    if (!frame || !frame->complete || frame->leadLength != header)
        return 0;
    return frame->end();
}

int digitValue(char c, int lo, int hi)
{
    if (c < '0' || c > '9')
        return -1;
    const int v = c - '0';
    return (v >= lo && v <= hi) ? v : -1;
}

// Exactly `count` decimal digits at s[pos...]; -1 otherwise.
int decimal(const std::string& s, std::size_t pos, std::size_t count)
{
    if (pos + count > s.size())
        return -1;
    int v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = digitValue(s[pos + i], 0, 9);
        if (d < 0)
            return -1;
        v = v * 10 + d;
    }
    return v;
}

std::string digit(int v) { return std::string(1, static_cast<char>('0' + v)); }

std::string threeDigits(int v)
{
    return digit(v / 100 % 10) + digit(v / 10 % 10) + digit(v % 10);
}

Reply text(const std::string& s)
{
    return {Reply::Kind::Text, Bytes(s.begin(), s.end())};
}

Reply error()
{
    const std::string s = "ERROR#";
    return {Reply::Kind::Error, Bytes(s.begin(), s.end())};
}

void appendFloat(Bytes& out, float value)
{
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

} // namespace

std::size_t requestLength(const std::uint8_t* buf, std::size_t n)
{
    if (n == 0)
        return 0;
    return buf[0] == 'Q' ? asciiLength(buf, n) : hartLength(buf, n);
}

FlowProcess::FlowProcess(std::uint32_t seed)
    : rng_(seed)
{
}

Command3Values FlowProcess::sample(std::chrono::steady_clock::time_point now)
{
    if (!started_) {
        start_ = last_ = now;
        started_ = true;
    }
    const double t = std::chrono::duration<double>(now - start_).count();
    const double dtHours = std::chrono::duration<double>(now - last_).count() / 3600.0;
    last_ = now;

    std::normal_distribution<double> noise(0.0, 1.0);
    const double twoPi = 2.0 * std::numbers::pi;
    const double flow = 42.0 + 6.0 * std::sin(twoPi * t / 20.0) + 0.15 * noise(rng_);     // m3/h
    const double temperature = 80.0 + 1.2 * std::sin(twoPi * t / 90.0) + 0.05 * noise(rng_);
    const double density = 971.8 - 0.64 * (temperature - 80.0);                           // water, kg/m3
    totalM3_ += std::max(flow, 0.0) * dtHours;
    const double current = std::clamp(4.0 + 16.0 * flow / 100.0, 3.8, 20.5);             // 0..100 m3/h range

    Command3Values v;
    v.valid = true;
    v.current = static_cast<float>(current);
    v.units = {kUnitCubicMetresPerHour, kUnitDegreesCelsius, kUnitKilogramsPerHour, kUnitCubicMetres};
    v.values = {static_cast<float>(flow), static_cast<float>(temperature),
                static_cast<float>(flow * density), static_cast<float>(totalM3_)};
    return v;
}

GatewayDevice::GatewayDevice(const GatewayState& s, const HartDevice& h, std::uint32_t seed)
    : state(s)
    , hart(h)
    , process_(seed)
{
}

Reply GatewayDevice::handle(const Bytes& request, std::chrono::steady_clock::time_point now)
{
    if (request.empty())
        return {};
    if (request[0] == 'Q')
        return handleAscii(std::string(request.begin(), request.end()));
    return handleHart(request, now);
}

Reply GatewayDevice::handleMalformed(const Bytes& bytes) const
{
    // A broken configuration request gets an error text; line noise that
    // does not even look like one is ignored, as on the real bus.
    if (!bytes.empty() && bytes[0] == 'Q')
        return error();
    return {};
}

Reply GatewayDevice::handleAscii(const std::string& req)
{
    if (req == "QQQ#QV#")
        return text(identification());
    if (req == "QQQ#QX1#")
        return text(systemParameters());
    if (req == "QQQ#QH00#")
        return text(instrumentTable());

    const std::string setPrefix = "QQS#";
    if (req.size() > setPrefix.size() + 1 && req.starts_with(setPrefix) && req.back() == '#')
        return handleSet(req.substr(setPrefix.size(), req.size() - setPrefix.size() - 1));

    const std::string serialPrefix = "QRTNVK#PCBSN:";
    if (req.size() == serialPrefix.size() + 13 && req.starts_with(serialPrefix) && req.back() == '#') {
        const std::size_t at = serialPrefix.size();
        if (decimal(req, at, 8) >= 0 && req[at + 8] == ',' && decimal(req, at + 9, 3) >= 0) {
            state.serialNumber = req.substr(at, 8);
            state.inspector = req.substr(at + 9, 3);
            return text("SET PCBSN OK#");
        }
    }
    return error();
}

Reply GatewayDevice::handleSet(const std::string& body)
{
    if (body == "RESET") {
        // Parameters only: the serial number is production data.
        GatewayState fresh = GatewayState::factoryDefaults();
        fresh.serialNumber = state.serialNumber;
        fresh.inspector = state.inspector;
        state = fresh;
        return text("RESET OK#");
    }
    const std::size_t colon = body.find(':');
    if (colon == std::string::npos)
        return error();
    const std::string key = body.substr(0, colon);
    const std::string value = body.substr(colon + 1);
    const Reply ok = text("SET " + key + " OK#");

    if (key == "ADR" || key == "RDM") {
        const int v = value.size() == 3 ? decimal(value, 0, 3) : -1;
        if (v < 0)
            return error();
        (key == "ADR" ? state.slaveAddress : state.interval) = v;
        return ok;
    }
    if (key == "BOA" || key == "BOB") {
        if (value.size() != 3 || value[2] != '0')
            return error();
        const int baud = digitValue(value[0], 0, 7);
        const int parity = digitValue(value[1], 0, 2);
        if (baud < 0 || parity < 0)
            return error();
        (key == "BOA" ? state.baudA : state.baudB) = baud;
        (key == "BOA" ? state.parityA : state.parityB) = parity;
        return ok;
    }
    if (key == "MD" || key == "XH") {
        const int v = value.size() == 1 ? digitValue(value[0], 0, key == "MD" ? 1 : 2) : -1;
        if (v < 0)
            return error();
        (key == "MD" ? state.mode : state.channelModel) = v;
        return ok;
    }
    if (key == "DTA" || key == "DTK") {
        // Raw index byte, not a digit.
        if (value.size() != 1 || static_cast<std::uint8_t>(value[0]) > 5)
            return error();
        (key == "DTA" ? state.returnTimeA : state.returnTimeB) = static_cast<std::uint8_t>(value[0]);
        return ok;
    }
    if (key.size() == 4 && key.starts_with("HA0")) {
        const int row = digitValue(key[3], 1, 4);
        if (row < 0 || value.size() != 7)
            return error();
        const int mode = digitValue(value[0], 0, 1);
        const int type = decimal(value, 1, 2);
        const int preambles = digitValue(value[3], 4, 9);
        const int interval = decimal(value, 4, 3);
        if (mode < 0 || type < 0 || type >= kInstrumentTypes || preambles < 0 || interval < 0)
            return error();
        state.instruments[static_cast<std::size_t>(row - 1)] = {mode, type, preambles, interval};
        return ok;
    }
    return error();
}

std::string GatewayDevice::identification() const
{
    return "NX260-HGW SIMULATOR V1.0 SN:" + state.serialNumber + " QC:" + state.inspector + "#";
}

std::string GatewayDevice::systemParameters() const
{
    const GatewayState& s = state;
    return "QX1#MD:" + digit(s.mode) + "#C1:" + threeDigits(s.slaveAddress) +
           "#BOA:" + digit(s.baudA) + digit(s.parityA) + "0" +
           "#BOB:" + digit(s.baudB) + digit(s.parityB) + "0" +
           "#DTA:" + digit(s.returnTimeA) + "#DTB:" + digit(s.returnTimeB) +
           "#RTM:" + threeDigits(s.interval) + "#XH:" + digit(s.channelModel) + "#";
}

Command3Values GatewayDevice::polled(std::chrono::steady_clock::time_point now)
{
    const auto interval = std::chrono::milliseconds(100) * std::max(state.interval, 1);
    if (!polled_.valid || now - polledAt_ >= interval) {
        polled_ = process_.sample(now);
        polledAt_ = now;
    }
    return polled_;
}

std::string GatewayDevice::instrumentTable() const
{
    std::string out = "QH00#";
    for (std::size_t i = 0; i < state.instruments.size(); ++i) {
        const InstrumentRow& r = state.instruments[i];
        out += "T0" + digit(static_cast<int>(i) + 1) + ":" + digit(r.deviceMode) +
               digit(r.type / 10 % 10) + digit(r.type % 10) + digit(r.preambles) +
               threeDigits(r.interval) + "#";
    }
    return out;
}

Reply GatewayDevice::handleHart(const Bytes& frame, std::chrono::steady_clock::time_point now)
{
    if (state.mode != 0)
        return {}; // MODBUS mode: nothing is passed through to the instrument

    bool undecided = false;
    const std::size_t header = headerLength(frame.data(), frame.size(), &undecided);
    if (header > 0 && !(hart.addressMask & (1u << frame[0])))
        return {}; // no instrument at this address
    // One whole master-to-slave frame without expansion bytes, right after
    // the header and preambles; a slave stays silent on a corrupted frame.
    const auto f = hart::readFrame(frame.data(), frame.size());
    if (!f || !f->complete || f->leadLength != header || f->end() != frame.size() || !f->checksumOk ||
        (f->delimiter != 0x02 && f->delimiter != 0x82))
        return {};
    const bool longFrame = f->longAddress;
    const std::uint8_t command = f->command;
    const Bytes address(f->address.begin(), f->address.begin() + static_cast<std::ptrdiff_t>(f->addressLength()));
    const std::uint8_t masterBit = address[0] & 0x80;

    if (!longFrame) {
        // Polling address 0 only, and only command 0 may use the short form.
        if ((address[0] & 0x7F) != 0 || command != 0)
            return {};
    } else {
        const bool ours = (address[0] & 0x3F) == (hart.manufacturerId & 0x3F) &&
                          address[1] == hart.deviceType &&
                          std::equal(hart.deviceId.begin(), hart.deviceId.end(), address.begin() + 2);
        if (!ours)
            return {};
    }
    const Bytes replyAddress = longFrame
        ? Bytes{static_cast<std::uint8_t>(masterBit | (hart.manufacturerId & 0x3F)), hart.deviceType,
                hart.deviceId[0], hart.deviceId[1], hart.deviceId[2]}
        : Bytes{masterBit};
    const std::uint8_t replyDelimiter = longFrame ? 0x86 : 0x06;

    const auto reply = [&](const Bytes& data) {
        return Reply{Reply::Kind::Hart, hartReply(replyDelimiter, replyAddress, command, {0x00, 0x00}, data)};
    };
    const bool hart6 = hart.universalRevision >= 6;
    // Long tag: HART 6 and later.
    if (hart.notImplemented.count(command) != 0 || (command == 20 && !hart6))
        return {Reply::Kind::Hart,
                hartReply(replyDelimiter, replyAddress, command, {kResponseCommandNotImplemented, 0x00}, {})};

    if (command == 0) {
        Bytes data{254, hart.manufacturerId, hart.deviceType, hart.minPreambles,
                   hart.universalRevision, hart.deviceRevision, hart.softwareRevision,
                   hart.hardwareRevision, hart.flags,
                   hart.deviceId[0], hart.deviceId[1], hart.deviceId[2]};
        if (hart.universalRevision >= 7) {
            // Preambles slave to master, device variables, configuration
            // change counter, extended status, manufacturer, private label, profile.
            data.insert(data.end(), {static_cast<std::uint8_t>(hart.replyPreambles), 4, 0x00, 0x01, 0x00,
                                     0x00, hart.manufacturerId, 0x00, hart.manufacturerId, 0x01});
        }
        return reply(data);
    }
    if (command == 1 || command == 2 || command == 3)
        lastCommand3 = process_.sample(now);
    if (command == 1) {
        Bytes data{lastCommand3.units[0]};
        appendFloat(data, lastCommand3.values[0]);
        return reply(data);
    }
    if (command == 2) {
        Bytes data;
        appendFloat(data, lastCommand3.current);
        appendFloat(data, (lastCommand3.current - 4.0f) / 16.0f * 100.0f);
        return reply(data);
    }
    if (command == 3) {
        Bytes data;
        appendFloat(data, lastCommand3.current);
        for (std::size_t i = 0; i < 4; ++i) {
            data.push_back(lastCommand3.units[i]);
            appendFloat(data, lastCommand3.values[i]);
        }
        return reply(data);
    }
    if (command == 12)
        return reply(hart::packAscii(hart.message, 24));
    if (command == 13) {
        Bytes data = hart::packAscii(hart.tag, 6);
        const Bytes descriptor = hart::packAscii(hart.descriptor, 12);
        data.insert(data.end(), descriptor.begin(), descriptor.end());
        data.insert(data.end(), hart.date.begin(), hart.date.end());
        return reply(data);
    }
    if (command == 15) {
        Bytes data{hart.alarmSelection, hart.transferFunction, kUnitCubicMetresPerHour};
        appendFloat(data, hart.upperRange);
        appendFloat(data, hart.lowerRange);
        appendFloat(data, hart.damping);
        data.insert(data.end(), {hart.writeProtect, 250});
        return reply(data);
    }
    if (command == 20) {
        Bytes data(hart.longTag.begin(), hart.longTag.end());
        data.resize(32, 0x00);
        return reply(data);
    }
    if (command == 48)
        return reply(hart.additionalStatus);
    return {Reply::Kind::Hart,
            hartReply(replyDelimiter, replyAddress, command, {kResponseCommandNotImplemented, 0x00}, {})};
}

Bytes GatewayDevice::hartReply(std::uint8_t delimiter, const Bytes& address, std::uint8_t command,
                               const Bytes& status, const Bytes& data) const
{
    Bytes out(static_cast<std::size_t>(std::max(hart.replyPreambles, 0)), kPreamble);
    const std::size_t start = out.size();
    out.push_back(delimiter);
    out.insert(out.end(), address.begin(), address.end());
    out.push_back(command);
    out.push_back(static_cast<std::uint8_t>(status.size() + data.size()));
    out.insert(out.end(), status.begin(), status.end());
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(hart::checksum(out.data() + start, out.size() - start));
    return out;
}

} // namespace sim
