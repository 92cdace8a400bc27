// SPDX-License-Identifier: GPL-3.0-or-later
// The far end of a raw device-server port, played by the test: it listens on
// a loopback port, the component connects to "tcp://127.0.0.1:PORT", and the
// test sends and receives the line's bytes over the accepted connection. The
// same code on POSIX sockets and on Winsock (natively and under Wine).
#pragma once

#include "net/Socket.h"

#include <chrono>
#include <string>
#include <vector>

#ifndef _WIN32
#include <netinet/in.h>
#endif

namespace SerialTest {

class SocketDevice {
public:
    using Socket = SerialComm::detail::net::Socket;

    SocketDevice()
    {
        namespace net = SerialComm::detail::net;
        if (!net::socketsReady())
            return;
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            net::closeSocket(m_listener);
        m_port = ntohs(a.sin_port);
    }
    ~SocketDevice()
    {
        hangUp();
        SerialComm::detail::net::closeSocket(m_listener);
    }

    bool ok() const { return m_listener != SerialComm::detail::net::NoSocket; }
    std::string portName() const { return "tcp://127.0.0.1:" + std::to_string(m_port); }

    // Takes the component's connection (after its open).
    bool accept()
    {
        namespace net = SerialComm::detail::net;
        if (net::waitReady(m_listener, false, net::Clock::now() + std::chrono::seconds(3)) != 1)
            return false;
        m_client = ::accept(m_listener, nullptr, nullptr);
        return m_client != net::NoSocket;
    }

    bool write(const std::string &text)
    {
        return SerialComm::detail::net::sendSome(m_client, reinterpret_cast<const uint8_t *>(text.data()), text.size())
               == long(text.size());
    }

    std::vector<uint8_t> read(size_t count, std::chrono::milliseconds timeout)
    {
        namespace net = SerialComm::detail::net;
        const auto deadline = net::Clock::now() + timeout;
        std::vector<uint8_t> got;
        uint8_t buffer[512];
        while (got.size() < count && net::waitReady(m_client, false, deadline) == 1) {
            const long n = net::recvSome(m_client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // The server drops the connection.
    void hangUp() { SerialComm::detail::net::closeSocket(m_client); }

private:
    Socket m_listener = SerialComm::detail::net::NoSocket;
    Socket m_client = SerialComm::detail::net::NoSocket;
    int m_port = 0;
};

} // namespace SerialTest
