// SPDX-License-Identifier: GPL-3.0-or-later
// One connection to a serial device server, the same on every system:
// connecting (or taking over a connection made ahead), the RFC 2217 line
// settings, and the Telnet framing of the bytes both ways. The port backends
// own the socket's waits and threads.
#pragma once

#include "../PortBackend.h"
#include "Socket.h"
#include "Telnet.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace SerialComm::detail {

class NetSession {
public:
    // Connects to the server named `name`; the caller owns the socket.
    // The failure's code is the system's own (see Socket.h).
    OpenResult open(const std::string &name, net::Socket &socket);

    // Sends the settings and checks the server's answers. A refused
    // setting sets the line back to the values in effect before, and
    // fails with net::ErrInvalid. Returns false with errno set.
    bool applyLineSettings(const LineSettings &settings);

    // The bytes that carry `data` on the wire (the writer's thread only).
    const std::vector<uint8_t> &encode(const uint8_t *data, size_t length);

    // Held by whoever puts bytes on the connection: Telnet answers from the
    // read thread and settings from the owner must not land inside a
    // doubled IAC of a request.
    std::mutex &sendMutex() { return m_mutex; }

    // Turns received wire bytes into line bytes in place and answers the
    // server's Telnet commands; returns how many line bytes are left.
    size_t received(uint8_t *data, size_t length);

    // While the read thread runs it takes the server's answers off the
    // connection; otherwise the owner reads them itself.
    void setReaderActive(bool active);

private:
    int exchange(const std::vector<uint8_t> &request, std::unique_lock<std::mutex> &lock);

    net::Socket m_socket = net::NoSocket;
    bool m_telnet = false;
    std::mutex m_mutex; // guards all below and every send
    std::condition_variable m_answered;
    TelnetCodec m_codec;
    TelnetCodec::Values m_inEffect; // the line settings the server confirmed last
    bool m_readerActive = false;
    std::vector<uint8_t> m_reply;
    std::vector<uint8_t> m_wire; // write thread only
};

} // namespace SerialComm::detail
