// SPDX-License-Identifier: GPL-3.0-or-later
// The request/reply cycle's shared state: the request being sent, the awaited
// reply, the watchdog kind and the reply received so far. No widgets here;
// the window applies the plans these functions return.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace exchange {

constexpr size_t kFrameCapacity = 504; // one outgoing request at most
constexpr size_t kRxCapacity = 255;    // one reply at most

// Awaited replies.
enum PendingReplyValue : int32_t {
    PendingNone = 0,
    PendingHartCommand0 = 100,
    PendingHartCommand3 = 103,
    PendingHartManual = 104,
    PendingAck = 200,
    PendingCommQuery = 201,
    PendingSystemParams = 202,
    PendingInstruments = 203,
};

// What the watchdog reports on expiry.
enum TimeoutKindValue : int32_t {
    TimeoutNone = 0,
    TimeoutConnection = 1, // "Connection Timeout!"
    TimeoutBang = 2,       // "!"
    TimeoutSilent = 3,
};

constexpr int kWatchdogIntervalMs = 3000;
constexpr int kWatchdogDefaultMs = 1000;
constexpr int kDecodeDelayMs = 300;
constexpr int kReceivePauseMs = 600;

// Two upper-case hex digits; a value above 255 gives ".".
std::string ByteToHex(int value);
// Every byte as ByteToHex followed by one blank.
std::string hexRender(std::span<const uint8_t> bytes);

enum class DecodeBranch { None, HartCommand0, HartCommand3, SystemParams, Instruments };
DecodeBranch decodeBranch(int32_t pendingReply);

// Message for an expired watchdog, naming the request that got no reply
// ("No reply to System parameters within 3 s."), or nullopt for none. The
// communication query keeps its "Connection Timeout!" in front.
std::optional<std::string> watchdogMessage(int32_t timeoutKind, const std::string &request, int intervalMs);

// What the receive handler does with the window once a chunk is stored.
struct ReceivePlan {
    enum class Timer { Leave, Enable, Disable };
    std::string memoText;   // 8-bit characters (text) or the hex rendering
    bool memoIsHex = false;
    Timer decodeTimer = Timer::Leave;
    bool stopWatchdog = true;
};

class ExchangeState {
public:
    std::array<uint8_t, kFrameCapacity> request{}; // the last request composed
    size_t requestLength = 0;
    std::string requestName;   // what the watchdog names on expiry
    std::string receivedText;  // the reply so far, one char per byte, at most 255
    int32_t pendingReply = PendingNone;
    int32_t timeoutKind = TimeoutNone;

    // Composes a request; nullopt when it does not fit. The returned text
    // holds exactly the request's bytes (0x00 included). The next chunk
    // starts a new reply.
    std::optional<std::string> compose(std::span<const uint8_t> request);

    // Takes a chunk and says what the window shows and which timers change.
    // Chunks of one reply (those after the request, while its reply is still
    // awaited) are joined, so a reply cut by a pause on the line is read
    // whole; a chunk after the decode replaces what was there. At most 255
    // bytes are kept; the rest is dropped.
    ReceivePlan receive(const uint8_t *data, uint16_t length);

    // The reply so far as bytes.
    std::span<const uint8_t> received() const;

private:
    bool m_replyStarted = false; // a chunk of the current reply arrived
};

} // namespace exchange
