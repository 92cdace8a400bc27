// SPDX-License-Identifier: GPL-3.0-or-later
// Errors: nothing here throws. Every request returns a Result whose `error`
// is Error::None on success; otherwise `message` says in one line what went
// wrong (the exception by its MODBUS name, or no answer with what to check).
//
// A MODBUS RTU master on a second port (a USB-RS485 adapter on the
// gateway's RS485 A or B), over libmodbus. One object serves one port from
// one thread at a time; each call blocks until the answer or its time-out.
#pragma once

#include "RegisterMap.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace modbus {

enum class Parity { None, Odd, Even };

struct Line {
    std::string port; // a local tty (/dev/ttyUSB0, COM3)
    int slave = 1;    // 1..247
    int baud = 9600;
    Parity parity = Parity::None;
    // The gateway's data return time on this port: it answers that much later.
    std::chrono::milliseconds replyDelay{0};
};

// The time-out for a reply of `replyWords` registers: both frames on the
// line, the reply delay, and a margin for adapters and the system.
std::chrono::milliseconds responseTimeout(const Line &line, int replyWords);
// The gateway's data return time, index 0..5 of its list, in ms. Item 4
// reads "300MS" like item 3; 400 ms is allowed for it so a gateway that
// means 400 is not taken as silent.
std::chrono::milliseconds returnTimeAllowance(int index);

// MODBUS exception names ("Illegal Data Address" for 2 ...); codes outside
// the standard's list are "exception N".
std::string exceptionName(int code);

enum class Error { None, Exception, NoAnswer, Crc, BadReply, Port, Usage };

struct Result {
    Error error = Error::None;
    int exception = 0;                    // the code, for Error::Exception
    std::vector<std::uint16_t> registers; // function 3 and 4
    std::vector<std::uint8_t> bits;       // function 1 and 2: 0 or 1 each
    std::string message;
    std::chrono::microseconds roundTrip{0};
    bool ok() const { return error == Error::None; }
};

struct Counters {
    std::uint64_t requests = 0;
    std::uint64_t answers = 0; // good replies
    std::array<std::uint64_t, 12> exceptions{}; // by code 1..11; [0] other codes
    std::uint64_t noAnswer = 0;
    std::uint64_t crc = 0;
    std::uint64_t badReply = 0; // wrong slave, length or function in an answer
    std::uint64_t exceptionTotal() const;
};

// Writing needs this, made where the engineer has said yes to the change.
struct Confirmed {
    explicit Confirmed() = default;
};

class Master {
public:
    Master();
    ~Master();
    Master(const Master &) = delete;
    Master &operator=(const Master &) = delete;

    // Opens the port with the line's settings. Error::Port (the system's
    // reason) or Error::Usage (a setting out of range) on failure.
    Result open(const Line &line);
    void close();
    bool isOpen() const;
    const Line &line() const;

    // Functions 1 to 4; count 1..125 registers or 1..2000 bits.
    Result read(Function function, int start, int count);
    // Function 6 for one value, 16 for more (1..123).
    Result writeRegisters(int start, const std::vector<std::uint16_t> &values, Confirmed);

    const Counters &counters() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace modbus
