// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartReader.h"

#include "HartAnnotate.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace hart {

namespace {

constexpr size_t kHeaderLength = 1 + kHeaderTail.size();
constexpr size_t kStatusBytes = 2;

bool hasTransparentHeader(const uint8_t *b, size_t size)
{
    return size >= kHeaderLength && b[0] <= kMaxHeaderAddress && std::equal(kHeaderTail.begin(), kHeaderTail.end(), b + 1);
}

uint8_t frameType(uint8_t delimiter)
{
    return delimiter & 0x07;
}

bool isReplyDelimiter(uint8_t byte)
{
    return isDelimiter(byte) && frameType(byte) == 6;
}

Frame frameAt(const uint8_t *b, size_t size, size_t lead, size_t delimiter)
{
    Frame f;
    f.leadLength = lead;
    f.transparentHeader = lead == kHeaderLength && hasTransparentHeader(b, size);
    f.preambles = delimiter - lead;
    f.start = delimiter;
    f.delimiter = b[delimiter];
    const uint8_t type = frameType(f.delimiter);
    f.kind = type == 2 ? FrameKind::Request : type == 6 ? FrameKind::Reply : FrameKind::Burst;
    f.longAddress = (f.delimiter & 0x80) != 0;
    f.expansionBytes = (f.delimiter >> 5) & 0x03;
    const size_t commandAt = delimiter + 1 + f.addressLength() + f.expansionBytes;
    if (commandAt + 1 >= size)
        return f;
    f.length = commandAt - delimiter + 2 + b[commandAt + 1] + 1;
    f.complete = delimiter + f.length <= size;
    if (!f.complete)
        return f;

    for (size_t i = 0; i < f.addressLength(); ++i)
        f.address[i] = b[delimiter + 1 + i];
    f.command = b[commandAt];
    f.byteCount = b[commandAt + 1];
    f.checksumOk = checksum(b + delimiter, f.length - 1) == b[f.end() - 1];
    const uint8_t *data = b + commandAt + 2;
    size_t dataLength = f.byteCount;
    if (f.kind != FrameKind::Request && dataLength >= kStatusBytes) {
        f.responseCode = data[0];
        f.deviceStatus = data[1];
        data += kStatusBytes;
        dataLength -= kStatusBytes;
    } else if (f.kind != FrameKind::Request) {
        dataLength = 0;
    }
    f.data.assign(data, data + dataLength);
    return f;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

struct Named {
    uint8_t code;
    const char *name;
};

std::string nameIn(const Named *table, size_t n, uint8_t code)
{
    for (size_t i = 0; i < n; ++i) {
        if (table[i].code == code)
            return table[i].name;
    }
    return "code " + std::to_string(code);
}

// Codes shared by the enumeration tables of the HART common tables.
constexpr Named kTransferFunctions[] = {
    {0, "linear"}, {1, "square root"}, {2, "square root third power"}, {3, "square root fifth power"},
    {4, "special curve"}, {5, "square"}, {6, "discrete"}, {7, "square root plus special curve"},
    {250, "not used"}, {251, "none"}, {252, "unknown"}, {253, "special"},
};
constexpr Named kAlarmSelections[] = {
    {0, "high"}, {1, "low"}, {239, "hold last output value"},
    {250, "not used"}, {251, "none"}, {252, "unknown"}, {253, "special"},
};
constexpr Named kWriteProtect[] = {
    {0, "not write protected"}, {1, "write protected"},
    {250, "not used"}, {251, "none"}, {252, "unknown"}, {253, "special"},
};

// Command 48: byte 6 extended device status, byte 8 standardized status 0,
// byte 9 standardized status 1. Bytes 0..5 are the device's own.
struct StatusByte {
    size_t index;
    Named bits[8];
};
constexpr StatusByte kAdditionalStatus[] = {
    {6, {{0x01, "maintenance required"}, {0x02, "device variable alert"}, {0x04, "critical power failure"},
         {0x08, "failure"}, {0x10, "outside its limits"}, {0x20, "function check"}}},
    {8, {{0x01, "simulation active"}, {0x02, "non-volatile memory defect"}, {0x04, "volatile memory defect"},
         {0x08, "watchdog reset executed"}, {0x10, "power supply conditions out of range"},
         {0x20, "environmental conditions out of range"}, {0x40, "electronic defect"},
         {0x80, "device configuration locked"}}},
    {9, {{0x01, "status simulation active"}, {0x02, "discrete variable simulation active"},
         {0x04, "event notification overflow"}}},
};

} // namespace

uint8_t checksum(const uint8_t *bytes, size_t size)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum ^= bytes[i];
    return sum;
}

float floatAt(const uint8_t *p)
{
    const uint32_t bits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    return std::bit_cast<float>(bits);
}

uint32_t deviceIdNumber(const Identity &id)
{
    return (uint32_t{id.deviceId[0]} << 16) | (uint32_t{id.deviceId[1]} << 8) | uint32_t{id.deviceId[2]};
}

std::string unpackAscii(const uint8_t *bytes, size_t size)
{
    std::string text;
    text.reserve(size / 3 * 4);
    for (size_t i = 0; i + 3 <= size; i += 3) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            const auto c = static_cast<char>((group >> shift) & 0x3F);
            // Codes 0..31 stand for '@'..'_', 32..63 for ' '..'?'.
            text += c < 32 ? static_cast<char>(c + 64) : c;
        }
    }
    return text;
}

Bytes packAscii(std::string_view text, size_t size)
{
    Bytes out;
    out.reserve(size);
    const size_t characters = size / 3 * 4;
    uint32_t group = 0;
    for (size_t i = 0; i < characters; ++i) {
        auto c = static_cast<unsigned char>(i < text.size() ? text[i] : ' ');
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 'a' + 'A');
        if (c < 0x20 || c > 0x5F)
            c = '?';
        group = (group << 6) | (c & 0x3F);
        if (i % 4 == 3) {
            out.insert(out.end(), {static_cast<uint8_t>(group >> 16), static_cast<uint8_t>(group >> 8),
                                   static_cast<uint8_t>(group)});
            group = 0;
        }
    }
    return out;
}

bool isDelimiter(uint8_t byte)
{
    const uint8_t type = frameType(byte);
    return (byte & 0x18) == 0 && (type == 1 || type == 2 || type == 6);
}

Identity Frame::addressIdentity() const
{
    Identity id;
    id.manufacturerId = address[0] & 0x3F;
    id.deviceType = address[1];
    id.deviceId = {address[2], address[3], address[4]};
    return id;
}

std::optional<Frame> readFrame(const uint8_t *bytes, size_t size, Search search)
{
    if (bytes == nullptr || size == 0)
        return std::nullopt;
    const auto accepted = search == Search::ReplyOnly ? isReplyDelimiter : isDelimiter;
    if (search == Search::AnyFrame) {
        size_t pos = hasTransparentHeader(bytes, size) ? kHeaderLength : 0;
        const size_t lead = pos;
        while (pos < size && bytes[pos] == kPreamble)
            ++pos;
        if (pos < size && accepted(bytes[pos]))
            return frameAt(bytes, size, lead, pos);
    }
    // Noise before the frame: the preamble run that ends in a delimiter.
    for (size_t j = 0; j + 1 < size; ++j) {
        if (bytes[j] == kPreamble && accepted(bytes[j + 1])) {
            size_t first = j;
            while (first > 0 && bytes[first - 1] == kPreamble)
                --first;
            return frameAt(bytes, size, first, j + 1);
        }
    }
    return std::nullopt;
}

std::string replyFaultText(ReplyFault fault)
{
    switch (fault) {
    case ReplyFault::CutShort: return "HART reply cut short";
    case ReplyFault::ChecksumError: return "HART reply checksum error";
    case ReplyFault::NotFound: break;
    }
    return "no HART reply found";
}

FoundReply findReply(const uint8_t *bytes, size_t size, std::optional<uint8_t> delimiter)
{
    FoundReply found;
    if (bytes == nullptr)
        return found;
    for (size_t at = 2; at < size; ++at) {
        const uint8_t d = bytes[at];
        if (bytes[at - 1] != kPreamble || bytes[at - 2] != kPreamble || !isReplyDelimiter(d)
            || (delimiter && d != *delimiter))
            continue;
        size_t first = at - 2;
        while (first > 0 && bytes[first - 1] == kPreamble)
            --first;
        Frame f = frameAt(bytes, size, first, at);
        if (!f.complete) {
            found.fault = ReplyFault::CutShort;
        } else if (!f.checksumOk) {
            found.fault = ReplyFault::ChecksumError;
        } else {
            found.frame = std::move(f);
            return found;
        }
    }
    return found;
}

std::optional<Command0Data> command0Data(const uint8_t *d, size_t size)
{
    // 254, manufacturer id, device type, preambles, four revisions, flags, device id.
    if (size < 12)
        return std::nullopt;
    Command0Data c;
    c.identity.manufacturerId = d[1];
    c.identity.deviceType = d[2];
    c.minPreambles = d[3];
    c.universalRevision = d[4];
    c.deviceRevision = d[5];
    c.softwareRevision = d[6];
    c.hardwareRevision = d[7];
    c.flags = d[8];
    c.identity.deviceId = {d[9], d[10], d[11]};
    return c;
}

DynamicVariables command3Data(const uint8_t *d, size_t size)
{
    DynamicVariables out;
    if (size >= 4)
        out.loopCurrent = floatAt(d);
    for (size_t at = 4; at + 5 <= size && out.variables.size() < 4; at += 5)
        out.variables.push_back({d[at], floatAt(d + at + 1)});
    return out;
}

std::optional<DynamicVariable> command1Data(const uint8_t *d, size_t size)
{
    if (size < 5)
        return std::nullopt;
    return DynamicVariable{d[0], floatAt(d + 1)};
}

std::optional<LoopCurrent> command2Data(const uint8_t *d, size_t size)
{
    if (size < 8)
        return std::nullopt;
    return LoopCurrent{floatAt(d), floatAt(d + 4)};
}

std::optional<std::string> command12Data(const uint8_t *d, size_t size)
{
    if (size < 24)
        return std::nullopt;
    return trimmed(unpackAscii(d, 24));
}

std::optional<TagDescriptorDate> command13Data(const uint8_t *d, size_t size)
{
    if (size < 21)
        return std::nullopt;
    TagDescriptorDate t;
    t.tag = trimmed(unpackAscii(d, 6));
    t.descriptor = trimmed(unpackAscii(d + 6, 12));
    t.day = d[18];
    t.month = d[19];
    t.year = 1900 + d[20];
    return t;
}

std::optional<std::string> TagDescriptorDate::isoDate() const
{
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return std::nullopt;
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return std::string(text);
}

std::optional<RangeInfo> command15Data(const uint8_t *d, size_t size)
{
    if (size < 16)
        return std::nullopt;
    RangeInfo r;
    r.alarmSelection = d[0];
    r.transferFunction = d[1];
    r.rangeUnit = d[2];
    r.upper = floatAt(d + 3);
    r.lower = floatAt(d + 7);
    r.dampingSeconds = floatAt(d + 11);
    r.writeProtect = d[15];
    return r;
}

std::optional<std::string> command20Data(const uint8_t *d, size_t size)
{
    if (size < 32)
        return std::nullopt;
    std::string text;
    for (size_t i = 0; i < 32 && d[i] != 0; ++i) {
        if (d[i] < 0x80) {
            text += static_cast<char>(d[i]);
        } else {
            text += static_cast<char>(0xC0 | (d[i] >> 6));
            text += static_cast<char>(0x80 | (d[i] & 0x3F));
        }
    }
    return trimmed(std::move(text));
}

std::optional<Bytes> command48Data(const uint8_t *d, size_t size)
{
    if (size == 0)
        return std::nullopt;
    return Bytes(d, d + size);
}

std::vector<std::string> additionalStatusNames(const Bytes &status)
{
    std::vector<std::string> names;
    for (const StatusByte &s : kAdditionalStatus) {
        if (s.index >= status.size())
            break;
        for (const Named &bit : s.bits) {
            if (bit.name != nullptr && (status[s.index] & bit.code) != 0)
                names.emplace_back(bit.name);
        }
    }
    return names;
}

namespace {

// Stores what `decode` makes of the data; a reply too short is a problem.
template <typename Value, typename Decoder>
void take(DeviceDetails &details, std::optional<Value> &member, const Frame &reply, Decoder decode)
{
    member = decode(reply.data.data(), reply.data.size());
    if (!member)
        details.problems.push_back("command " + std::to_string(reply.command) + ": reply too short");
}

} // namespace

void addDetail(DeviceDetails &details, const Frame &reply)
{
    const uint8_t code = reply.responseCode.value_or(0);
    details.responseCodes.emplace_back(reply.command, code);
    if (code == kNotImplemented)
        return;
    if (responseIsError(code)) {
        details.problems.push_back("command " + std::to_string(reply.command) + ": " + responseText(code));
        return;
    }
    switch (reply.command) {
    case 1: take(details, details.pv, reply, command1Data); break;
    case 2: take(details, details.loop, reply, command2Data); break;
    case 12: take(details, details.message, reply, command12Data); break;
    case 13: take(details, details.tagDescriptorDate, reply, command13Data); break;
    case 15: take(details, details.range, reply, command15Data); break;
    case 20: take(details, details.longTag, reply, command20Data); break;
    case 48: take(details, details.additionalStatus, reply, command48Data); break;
    default: break;
    }
}

std::string transferFunctionName(uint8_t code)
{
    return nameIn(kTransferFunctions, std::size(kTransferFunctions), code);
}

std::string alarmSelectionName(uint8_t code)
{
    return nameIn(kAlarmSelections, std::size(kAlarmSelections), code);
}

std::string writeProtectName(uint8_t code)
{
    return nameIn(kWriteProtect, std::size(kWriteProtect), code);
}

} // namespace hart
