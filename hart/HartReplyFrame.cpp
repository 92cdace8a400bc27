#include "HartReplyFrame.h"

#include <bit>

namespace hart {

namespace {

constexpr uint8_t kPreamble = 0xFF;

bool isReplyDelimiter(uint8_t d)
{
    return (d & 0x07) == 0x06;
}

float floatAt(const uint8_t *p)
{
    const uint32_t bits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    return std::bit_cast<float>(bits);
}

} // namespace

std::optional<ReplyFrame> completeReply(const uint8_t *rx, size_t n)
{
    if (rx == nullptr)
        return std::nullopt;
    size_t at = 1;
    while (at < n && !(rx[at - 1] == kPreamble && isReplyDelimiter(rx[at])))
        ++at;
    if (at >= n)
        return std::nullopt;

    ReplyFrame f;
    f.start = at;
    f.delimiter = rx[at];
    const size_t addressLength = (f.delimiter & 0x80) ? 5 : 1;
    const size_t expansion = (f.delimiter >> 5) & 0x03;
    const size_t commandAt = at + 1 + addressLength + expansion;
    if (commandAt + 1 >= n)
        return std::nullopt;
    f.byteCount = rx[commandAt + 1];
    const size_t dataAt = commandAt + 2;
    f.end = dataAt + f.byteCount + 1;
    if (f.end > n)
        return std::nullopt;

    f.address.assign(rx + at + 1, rx + at + 1 + addressLength);
    f.command = rx[commandAt];
    if (f.byteCount >= 1)
        f.responseCode = rx[dataAt];
    if (f.byteCount >= 2) {
        f.deviceStatus = rx[dataAt + 1];
        f.data.assign(rx + dataAt + 2, rx + dataAt + f.byteCount);
    }
    uint8_t sum = 0;
    for (size_t i = at; i + 1 < f.end; ++i)
        sum ^= rx[i];
    f.checksumOk = sum == rx[f.end - 1];
    return f;
}

std::optional<DeviceIdentity> command0Identity(const ReplyFrame &frame)
{
    const std::vector<uint8_t> &d = frame.data;
    if (d.size() < 12)
        return std::nullopt;
    DeviceIdentity id;
    id.identity.manufacturerId = d[1];
    id.identity.deviceType = d[2];
    id.preambles = d[3];
    id.identity.deviceId = {d[9], d[10], d[11]};
    id.deviceIdNumber = (uint32_t{d[9]} << 16) | (uint32_t{d[10]} << 8) | uint32_t{d[11]};
    return id;
}

DynamicVariables command3Variables(const ReplyFrame &frame)
{
    DynamicVariables out;
    const std::vector<uint8_t> &d = frame.data;
    if (d.size() >= 4)
        out.loopCurrent = floatAt(d.data());
    for (size_t at = 4; at + 5 <= d.size() && out.variables.size() < 4; at += 5)
        out.variables.push_back({d[at], floatAt(d.data() + at + 1)});
    return out;
}

} // namespace hart
