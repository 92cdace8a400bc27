// SPDX-License-Identifier: GPL-3.0-or-later
// Traffic captures that Wireshark reads: every request and reply as a UDP
// packet between 127.0.0.1 (the PC) and 127.0.0.2 (the gateway). HART frames
// travel as HART-IP token-passing PDUs on port 5094, everything else as plain
// payload on port 5095.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace capture {

enum class Direction { Sent, Received };
enum class Payload { Config, Hart }; // Hart: bytes hold a HART frame (transparent header and
                                     // preambles may precede it; the writer strips them)

struct Record {
    std::chrono::system_clock::time_point time; // when the bytes went out / came in
    Direction direction;
    Payload payload;
    std::vector<uint8_t> bytes;                 // exactly as on the wire
};

class PcapWriter {
public:
    // Creates (truncates) the file. nullptr on failure, with *error naming the file and the reason.
    static std::unique_ptr<PcapWriter> create(const std::string &path, std::string *error);
    ~PcapWriter();                        // flushes and closes
    bool write(const Record &record);     // false on a write error
    bool flush();                         // false on a write error (so far or now)

    PcapWriter(const PcapWriter &) = delete;
    PcapWriter &operator=(const PcapWriter &) = delete;

private:
    struct State;
    explicit PcapWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Convenience: the whole list in one go.
bool writePcap(const std::string &path, const std::vector<Record> &records, std::string *error);

constexpr uint16_t kHartIpPort = 5094;
constexpr uint16_t kPlainPort = 5095;

} // namespace capture
