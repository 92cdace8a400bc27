// SPDX-License-Identifier: GPL-3.0-or-later
// One request at a time for programs: write a request, wait for its reply,
// hand back the bytes or say why there are none. No GUI, no fixed pauses: a
// configuration reply is complete when the serial component reports the
// line quiet (100 ms after its last byte), a HART reply as soon as its byte
// count and checksum have arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SerialComm.h"

namespace exchange {

struct PortOptions {
    std::string name;            // "COM1".."COM12" or a device path
    uint32_t baud = 9600;
    SerialComm::TParity parity = SerialComm::TParity::None;
};

// Every byte that went out or came in, for traffic captures.
struct TrafficRecord {
    std::chrono::system_clock::time_point time;
    bool sent = false;           // false: received
    bool hart = false;           // part of a HART exchange
    std::vector<uint8_t> bytes;
};
using TrafficObserver = std::function<void(const TrafficRecord &)>;

enum class ReplyStatus {
    Ok,
    NoReply,   // nothing complete within the time-out
    PortLost,  // the port went away, or the request could not be written
};

struct ExchangeReply {
    ReplyStatus status = ReplyStatus::Ok;
    std::vector<uint8_t> bytes; // the reply; for NoReply, whatever came in
};

class SequentialExchange {
public:
    SequentialExchange();
    ~SequentialExchange();
    SequentialExchange(const SequentialExchange &) = delete;
    SequentialExchange &operator=(const SequentialExchange &) = delete;

    // Throws SerialComm::ECommsError when the port cannot be opened.
    void open(const PortOptions &options);
    void close();

    void setObserver(TrafficObserver observer);

    // A configuration reply may come in several chunks. `whole` says when the
    // bytes so far make the complete reply; until it holds, later chunks are
    // joined and waited for within the time-out (NoReply with the bytes
    // received when it never holds). Without it the first chunk is the reply.
    using WholeReply = std::function<bool(const std::vector<uint8_t> &)>;
    ExchangeReply configRequest(const std::vector<uint8_t> &request, std::chrono::milliseconds timeout,
                                const WholeReply &whole = {});
    // With `firstByte`, a reply that has not begun by then is given up at
    // once; one that has begun still gets the whole time-out.
    ExchangeReply hartRequest(const std::vector<uint8_t> &frame, std::chrono::milliseconds timeout,
                              std::optional<std::chrono::milliseconds> firstByte = std::nullopt);

private:
    enum class Framing { QuietLine, HartFrame };
    ExchangeReply exchange(const std::vector<uint8_t> &request, Framing framing, std::chrono::milliseconds timeout,
                           const WholeReply &whole, std::optional<std::chrono::milliseconds> firstByte);

    struct State;
    std::unique_ptr<State> d;
};

} // namespace exchange
