// SPDX-License-Identifier: GPL-3.0-or-later
#include "Exchange.h"

#include "HexText.h"

#include <algorithm>
#include <cstring>

namespace exchange {

std::string ByteToHex(int value)
{
    if (value < 0 || value > 255)
        return ".";
    return hart::hexByte(static_cast<uint8_t>(value));
}

std::string hexRender(std::span<const uint8_t> bytes)
{
    return hart::hexText(bytes, true);
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

std::optional<std::string> watchdogMessage(int32_t timeoutKind, const std::string &request, int intervalMs)
{
    if (timeoutKind == TimeoutNone)
        return std::nullopt;
    // Whole seconds as the engineer reads them; 1500 ms says "1.5 s".
    // Appended piece by piece: GCC 12 at -O3 with fortify flags warns
    // (-Wrestrict, a false alarm) on chains of std::string operator+.
    std::string text;
    if (timeoutKind == TimeoutConnection)
        text.append("Connection Timeout! ");
    text.append("No reply to ").append(request.empty() ? std::string("the request") : request);
    text.append(" within ").append(std::to_string(intervalMs / 1000));
    if (intervalMs % 1000)
        text.append(".").append(std::to_string(intervalMs % 1000 / 100));
    text.append(" s.");
    return text;
}

std::optional<std::string> ExchangeState::compose(std::span<const uint8_t> bytes)
{
    if (bytes.size() > kFrameCapacity)
        return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), request.begin());
    requestLength = bytes.size();
    m_replyStarted = false;
    return std::string(reinterpret_cast<const char *>(request.data()), requestLength);
}

ReceivePlan ExchangeState::receive(const uint8_t *data, uint16_t length)
{
    if (!(m_replyStarted && pendingReply != PendingNone))
        receivedText.clear();
    m_replyStarted = true;
    const size_t room = kRxCapacity - std::min(kRxCapacity, receivedText.size());
    if (data)
        receivedText.append(reinterpret_cast<const char *>(data), std::min<size_t>(length, room));

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
    return {reinterpret_cast<const uint8_t *>(receivedText.data()), receivedText.size()};
}

} // namespace exchange
