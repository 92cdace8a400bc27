// The request/reply cycle's shared state: the exchange buffer, the awaited
// reply, the watchdog kind and the last received chunk. No widgets here; the
// window applies the plans these functions return.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace exchange {

constexpr size_t kBufferSize = 767;
constexpr size_t kFrameStart = 8;      // outgoing request, 504 bytes
constexpr size_t kFrameCapacity = 504;
constexpr size_t kRxStart = 512;       // last received chunk, 255 bytes
constexpr size_t kRxCapacity = 255;
constexpr size_t kDeviceTypeIndex = 6; // HART device type; device id at 0..2

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

// Message for an expired watchdog, or nullopt for none.
std::optional<std::string> watchdogMessage(int32_t timeoutKind);

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
    std::array<uint8_t, kBufferSize> buffer{}; // ExchangeBuffer
    uint8_t manufacturerId = 0;                // HartIdentity beside the buffer
    uint8_t hartPreambleCount = 0;
    std::string receivedText;                  // last chunk, one char per byte
    int32_t pendingReply = PendingNone;
    int32_t timeoutKind = TimeoutNone;

    // Composes a request in the frame region; nullopt when it does not fit.
    // The returned text holds exactly the request's bytes (0x00 included).
    std::optional<std::string> compose(std::span<const uint8_t> request);

    // Stores the chunk's first 255 bytes and says what the window shows and
    // which timers change.
    ReceivePlan receive(const uint8_t *data, uint16_t length);

    // The received chunk as bytes.
    std::span<const uint8_t> received() const;
};

} // namespace exchange
