#include "Exchange.h"

#include <algorithm>
#include <cstring>

namespace exchange {

std::string ByteToHex(int value)
{
    if (value < 0 || value > 255)
        return ".";
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

std::string hexRender(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        out += ByteToHex(b);
        out += ' ';
    }
    return out;
}

DecodeBranch decodeBranch(int32_t pendingReply)
{
    switch (pendingReply) {
    case PendingHartCommand0: return DecodeBranch::HartCommand0;
    case PendingHartCommand3: return DecodeBranch::HartCommand3;
    case PendingSystemParams: return DecodeBranch::SystemParams;
    case PendingInstruments: return DecodeBranch::Instruments;
    default: return DecodeBranch::None;
    }
}

std::optional<std::string> watchdogMessage(int32_t timeoutKind)
{
    if (timeoutKind == TimeoutConnection)
        return std::string("Connection Timeout!");
    if (timeoutKind == TimeoutBang)
        return std::string("!");
    return std::nullopt;
}

std::optional<std::string> ExchangeState::compose(std::span<const uint8_t> request)
{
    if (request.size() > kFrameCapacity)
        return std::nullopt;
    std::copy(request.begin(), request.end(), buffer.begin() + kFrameStart);
    return std::string(reinterpret_cast<const char *>(buffer.data() + kFrameStart), request.size());
}

ReceivePlan ExchangeState::receive(const uint8_t *data, uint16_t length)
{
    const size_t n = data ? std::min<size_t>(length, kRxCapacity) : 0;
    if (n)
        std::memcpy(buffer.data() + kRxStart, data, n);
    receivedText.assign(reinterpret_cast<const char *>(buffer.data() + kRxStart), n);

    ReceivePlan plan;
    plan.stopWatchdog = true;
    switch (pendingReply) {
    case PendingSystemParams:
    case PendingInstruments:
        plan.memoText = receivedText;
        plan.decodeTimer = ReceivePlan::Timer::Enable;
        break;
    case PendingHartCommand0:
    case PendingHartCommand3:
        plan.memoText = hexRender(received());
        plan.memoIsHex = true;
        plan.decodeTimer = ReceivePlan::Timer::Enable;
        break;
    case PendingHartManual:
        plan.memoText = hexRender(received());
        plan.memoIsHex = true;
        break;
    case PendingAck:
        plan.memoText = receivedText;
        plan.decodeTimer = ReceivePlan::Timer::Disable;
        break;
    default:
        plan.memoText = receivedText;
        break;
    }
    return plan;
}

std::span<const uint8_t> ExchangeState::received() const
{
    return {buffer.data() + kRxStart, receivedText.size()};
}

} // namespace exchange
