// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigRequests.h"

#include <cstdio>
#include <string_view>
#include <utility>

namespace exchange {

// Every builder returns an empty request when a value would not encode into
// the characters the gateway expects; the window refuses such values before
// calling, so an empty result never reaches the port as a malformed command.

namespace {

constexpr int kMaxDigitIndex = 9;      // one index digit
constexpr int kMaxTwoDigitIndex = 99;  // two-digit index
constexpr int kMaxRawIndex = 5;        // data return time list: 0x00..0x05
constexpr int kMaxPreambleIndex = 5;   // items "4".."9"

// Accumulates one request's characters.
class Request {
public:
    explicit Request(std::string_view prefix) { text(prefix); }

    Request &text(std::string_view s)
    {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Request &byte(uint8_t b)
    {
        bytes_.push_back(b);
        return *this;
    }
    // The index itself plus the code of '0' (callers check 0..9).
    Request &digit(int index) { return byte(static_cast<uint8_t>('0' + index)); }
    Request &twoDigits(int index) { return digit(index / 10).digit(index % 10); }
    Request &threeDigits(int n) { return digit(n / 100).digit((n / 10) % 10).digit(n % 10); }

    Bytes done() { return text("#").take(); }

private:
    Bytes take() { return std::move(bytes_); }
    Bytes bytes_;
};

bool inRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

Bytes fixed(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Shape "<prefix>" ddd "#" shared by the slave address and the interval.
Bytes threeDigitRequest(std::string_view prefix, int n)
{
    if (!inRange(n, 0, kThreeDigitMax))
        return {};
    return Request(prefix).threeDigits(n).done();
}

// Shape "<prefix>" d "#" shared by the mode and the channel model.
Bytes oneDigitRequest(std::string_view prefix, int index)
{
    if (!inRange(index, 0, kMaxDigitIndex))
        return {};
    return Request(prefix).digit(index).done();
}

} // namespace

Bytes communicationQuery() { return fixed("QQQ#QV#"); }
Bytes systemParameterQuery() { return fixed("QQQ#QX1#"); }
Bytes instrumentQuery() { return fixed("QQQ#QH00#"); }
Bytes parameterInitialization() { return fixed("QQS#RESET#"); }

Bytes setSlaveAddress(int n) { return threeDigitRequest("QQS#ADR:", n); }

Bytes setRs485(char port, int baudIndex, int parityIndex)
{
    if ((port != 'A' && port != 'B') || !inRange(baudIndex, 0, kMaxDigitIndex)
        || !inRange(parityIndex, 0, kMaxDigitIndex))
        return {};
    return Request(port == 'A' ? "QQS#BOA:" : "QQS#BOB:")
        .digit(baudIndex)
        .digit(parityIndex)
        .text("0")
        .done();
}

Bytes setCommunicationMode(int modeIndex) { return oneDigitRequest("QQS#MD:", modeIndex); }

Bytes setDataReturnTime(char port, int index)
{
    if ((port != 'A' && port != 'B') || !inRange(index, 0, kMaxRawIndex))
        return {};
    // The gateway takes the index as a raw byte, not a digit; port B's key
    // is "DTK:" although its reply field is "DTB:".
    return Request(port == 'A' ? "QQS#DTA:" : "QQS#DTK:").byte(static_cast<uint8_t>(index)).done();
}

Bytes setCommunicationInterval(int n) { return threeDigitRequest("QQS#RDM:", n); }

Bytes setChannelModel(int index) { return oneDigitRequest("QQS#XH:", index); }

Bytes setInstrument(int row, int modeIndex, int typeIndex, int preambleIndex, int interval)
{
    if (!inRange(row, 1, kInstrumentRows) || !inRange(modeIndex, 0, kMaxDigitIndex)
        || !inRange(typeIndex, 0, kMaxTwoDigitIndex) || !inRange(preambleIndex, 0, kMaxPreambleIndex)
        || !inRange(interval, 0, kThreeDigitMax))
        return {};
    // The preamble list starts at "4", so the digit sent is the item's text.
    return Request("QQS#HA0")
        .digit(row)
        .text(":")
        .digit(modeIndex)
        .twoDigits(typeIndex)
        .digit(4 + preambleIndex)
        .threeDigits(interval)
        .done();
}

std::string factorySerialRequest(int32_t serial, int32_t inspector)
{
    if (!inRange(serial, 0, kSerialMax) || !inRange(inspector, 0, kInspectorMax))
        return {};
    char text[32];
    const int n = std::snprintf(text, sizeof text, "QRTNVK#PCBSN:%08d,%03d#", static_cast<int>(serial),
                                static_cast<int>(inspector));
    return std::string(text, static_cast<size_t>(n));
}

} // namespace exchange

namespace exchange {

namespace {

bool touched(const PortSettings &p) { return p.baud || p.parity; }
bool touched(const InstrumentSettings &r) { return r.mode || r.type || r.preambles || r.interval; }

} // namespace

std::optional<std::vector<SetRequest>> setRequests(const GatewaySettings &change, const GatewaySettings &current,
                                                   std::string *problem)
{
    const GatewaySettings all = merged(current, change);
    const SystemSettings &s = all.system;
    std::vector<SetRequest> out;
    bool ok = true;
    // Adds one request; an empty build (value out of range) or a missing
    // field spoils the whole set, so nothing partial is ever sent.
    auto add = [&](const char *name, bool complete, auto build) {
        if (!ok)
            return;
        Bytes bytes = complete ? build() : Bytes{};
        if (bytes.empty()) {
            ok = false;
            if (problem)
                *problem = name;
            return;
        }
        out.push_back({name, std::move(bytes)});
    };

    const SystemSettings &c = change.system;
    if (c.address)
        add("address", true, [&] { return setSlaveAddress(*s.address); });
    if (touched(c.rs485a))
        add("rs485a", s.rs485a.baud && s.rs485a.parity,
            [&] { return setRs485('A', *s.rs485a.baud, *s.rs485a.parity); });
    if (touched(c.rs485b))
        add("rs485b", s.rs485b.baud && s.rs485b.parity,
            [&] { return setRs485('B', *s.rs485b.baud, *s.rs485b.parity); });
    if (c.mode)
        add("mode", true, [&] { return setCommunicationMode(*s.mode); });
    if (c.rs485a.returnTime)
        add("rs485a.return_time", true, [&] { return setDataReturnTime('A', *s.rs485a.returnTime); });
    if (c.rs485b.returnTime)
        add("rs485b.return_time", true, [&] { return setDataReturnTime('B', *s.rs485b.returnTime); });
    if (c.interval)
        add("interval", true, [&] { return setCommunicationInterval(*s.interval); });
    if (c.channels)
        add("channels", true, [&] { return setChannelModel(*s.channels); });
    for (int row = 1; row <= kInstrumentRows; ++row) {
        const InstrumentSettings &r = all.instruments[static_cast<size_t>(row - 1)];
        if (!touched(change.instruments[static_cast<size_t>(row - 1)]))
            continue;
        static const char *const names[] = {"instrument.1", "instrument.2", "instrument.3", "instrument.4"};
        add(names[row - 1], r.mode && r.type && r.preambles && r.interval, [&] {
            return setInstrument(row, *r.mode, *r.type, *r.preambles - kPreamblesMin, *r.interval);
        });
    }
    if (!ok)
        return std::nullopt;
    return out;
}

} // namespace exchange
