// SPDX-License-Identifier: GPL-3.0-or-later
// The gateway's behaviour without any I/O: where one request ends in the
// incoming byte stream, and what the gateway (and the HART instrument behind
// it) answers. GatewaySim drives it from its worker thread; it is not
// thread-safe on its own.
#pragma once

#include "GatewaySim.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// Length of the first complete request at the front of buf, or 0 when the
// bytes so far do not (yet) form one. ASCII requests start with 'Q'; anything
// else is taken as a HART frame, with or without the transparent header.
std::size_t requestLength(const std::uint8_t* buf, std::size_t n);

struct Reply {
    enum class Kind { None, Text, Error, Hart };
    Kind kind = Kind::None;
    Bytes bytes;
};

// Process values of a vortex flowmeter on a hot-water line, moving with time.
class FlowProcess {
public:
    explicit FlowProcess(std::uint32_t seed);
    Command3Values sample(std::chrono::steady_clock::time_point now);

private:
    std::mt19937 rng_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
    double totalM3_ = 1234.5;
    bool started_ = false;
};

class GatewayDevice {
public:
    GatewayDevice(const GatewayState& state, const HartDevice& hart, std::uint32_t seed);

    // Answers one complete request as delimited by requestLength().
    Reply handle(const Bytes& request, std::chrono::steady_clock::time_point now);
    // Answers bytes that never formed a complete request.
    Reply handleMalformed(const Bytes& bytes) const;

    // The values the gateway's own HART polling last read, taken again once
    // the communication interval has passed since.
    Command3Values polled(std::chrono::steady_clock::time_point now);

    GatewayState state;
    HartDevice hart;
    Command3Values lastCommand3;

private:
    Reply handleAscii(const std::string& req);
    Reply handleSet(const std::string& body);
    Reply handleHart(const Bytes& frame, std::chrono::steady_clock::time_point now);
    Bytes hartReply(std::uint8_t delimiter, const Bytes& address, std::uint8_t command,
                    const Bytes& status, const Bytes& data) const;

    std::string identification() const;
    std::string systemParameters() const;
    std::string instrumentTable() const;

    FlowProcess process_;
    Command3Values polled_;
    std::chrono::steady_clock::time_point polledAt_{};
};

} // namespace sim
