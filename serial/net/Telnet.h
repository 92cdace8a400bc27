// SPDX-License-Identifier: GPL-3.0-or-later
// Telnet framing for device servers (RFC 854) with the COM-Port-Control
// option (RFC 2217). No sockets here: bytes in, bytes out.
#pragma once

#include "../PortBackend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace SerialComm::detail {

class TelnetCodec {
public:
    enum : uint8_t { SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255 };
    enum : uint8_t { OptBinary = 0, OptSuppressGoAhead = 3, OptComPort = 44 };
    enum class ComPort { Pending, Accepted, Refused };

    // The offers a client makes when it connects: binary both ways and, for
    // the COM-Port-Control option, that it will use it.
    std::vector<uint8_t> greeting();

    // Appends `data` with every IAC byte doubled.
    static void escape(const uint8_t *data, size_t length, std::vector<uint8_t> &out);

    // Removes the Telnet commands from `data` in place and returns how many
    // line bytes are left; answers the far end owes appends to `reply`.
    // A command split across calls is carried over.
    size_t decode(uint8_t *data, size_t length, std::vector<uint8_t> &reply);

    ComPort comPort() const { return m_comPort; }

    // The COM-Port-Control values, by command.
    using Values = std::map<uint8_t, std::vector<uint8_t>>;

    // The COM-Port-Control requests that set baud rate, data bits, parity,
    // stop bits and flow control; forgets the answers to earlier requests.
    // Returns false (EINVAL) for a value the option cannot carry.
    bool settingsRequest(const LineSettings &settings, std::vector<uint8_t> &out);
    // Requests that ask the server for the values in effect, or set them
    // back to `values` (answers to an earlier request).
    void currentRequest(std::vector<uint8_t> &out);
    void valuesRequest(const Values &values, std::vector<uint8_t> &out);
    // Every request of the last batch answered.
    bool answered() const;
    const Values &answers() const { return m_answers; }
    // 0 when the server answered every request with the value asked for,
    // EINVAL when it answered one with another (the setting was refused),
    // -1 while answers are missing.
    int settingsOutcome() const;

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    void negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t> &reply);
    void subnegotiation();

    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::vector<uint8_t> m_sub;
    std::array<bool, 256> m_doSent{};
    std::array<bool, 256> m_willSent{};
    ComPort m_comPort = ComPort::Pending;
    Values m_asked;
    Values m_answers;
};

} // namespace SerialComm::detail
