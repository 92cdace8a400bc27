// SPDX-License-Identifier: GPL-3.0-or-later
// The device end of a serial line, for the behaviour tests that run against
// every port backend. Natively it is a pseudo-terminal in the test process;
// in the Windows build under Wine it is a pseudo-terminal held by a native
// peer program (nxserial-peer) and mapped into Wine as a COM port.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace SerialTest {

// Line settings as the driver holds them, in terms every backend shares.
// A pseudo-terminal forces 8 data bits and no parity enable, so those are
// not visible; odd and stick parity are.
enum : unsigned {
    LineParityOdd = 0x01,
    LineStickParity = 0x02,
    LineTwoStopBits = 0x04,
    LineCtsFlow = 0x08,
    LineXonOutput = 0x10, // XON/XOFF obeyed when sending
    LineXonInput = 0x20,  // XON/XOFF sent when receiving
    LineParityCheck = 0x40,
};
struct LineView {
    uint32_t baud = 0; // output speed
    unsigned bits = 0; // Line* flags
    bool raw = false;  // no echo, line editing, signals, CR/LF mapping or output processing; reads don't block
    uint8_t xonChar = 0;
    uint8_t xoffChar = 0;
};

class DeviceLink {
public:
    virtual ~DeviceLink() = default;

    virtual bool ok() const = 0;
    // The name the component opens.
    virtual std::string portName() const = 0;

    virtual bool write(const void *data, size_t length) = 0;
    bool write(const std::string &text) { return write(text.data(), text.size()); }
    // Reads until `count` bytes arrived or the time is up.
    virtual std::vector<uint8_t> read(size_t count, std::chrono::milliseconds timeout) = 0;
    // Reads until nothing arrives for `quiet`.
    virtual std::vector<uint8_t> drain(std::chrono::milliseconds quiet) = 0;
    // The device goes away (cable pulled).
    virtual void hangUp() = 0;
    // While on, the device sends without pause.
    virtual void flood(bool on) = 0;

    virtual bool lineState(LineView &view) = 0;
    // Changes the speed behind the component's back.
    virtual bool setSpeed(uint32_t baud) = 0;
};

std::unique_ptr<DeviceLink> openDeviceLink();

} // namespace SerialTest
