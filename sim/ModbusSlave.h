// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated gateway's RS485 A as a MODBUS RTU slave on a second
// pseudo-terminal: at the slave address, baud rate, parity and data return
// time the gateway holds, serving the instrument's values as the gateway
// last polled them. A frame for another address, with a bad CRC or sent at
// another baud rate or parity gets no answer, as on a real line; a register
// outside the map answers exception 2. Replies leave when the frames would
// have crossed the line at the configured baud rate.
#pragma once

#include "GatewaySim.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sim {

struct ModbusCounters {
    std::uint64_t frames = 0;     // requests delimited on the line
    std::uint64_t answers = 0;    // normal replies written
    std::uint64_t exceptions = 0; // exception replies written
    std::uint64_t ignored = 0;    // wrong address, CRC, baud rate or parity: no answer
};

class ModbusSlave {
public:
    // `linkPath`: a stable name for the pty ("" for none).
    ModbusSlave(GatewaySim& gateway, std::string linkPath, std::function<void(const std::string&)> log = {});
    ~ModbusSlave();
    ModbusSlave(const ModbusSlave&) = delete;
    ModbusSlave& operator=(const ModbusSlave&) = delete;

    bool start(std::string* error = nullptr);
    void stop();
    std::string slavePath() const;
    std::string linkPath() const;
    ModbusCounters counters() const;
    // Blocks until pred(counters()) holds or the timeout passes.
    bool waitFor(const std::function<bool(const ModbusCounters&)>& pred, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
