// SPDX-License-Identifier: GPL-3.0-or-later
// The far end of a raw device-server port, played by the test: it listens on
// a loopback port, the component connects to "tcp://127.0.0.1:PORT", and the
// test sends and receives the line's bytes over the accepted connection. The
// same code on POSIX sockets and on Winsock (natively and under Wine).
#pragma once

#include "net/Socket.h"

#include <algorithm>
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
    int port() const { return m_port; }
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

    bool write(const uint8_t *data, size_t length)
    {
        return SerialComm::detail::net::sendSome(m_client, data, length) == long(length);
    }
    bool write(const std::string &text) { return write(reinterpret_cast<const uint8_t *>(text.data()), text.size()); }

    // What one receive brings within `timeout`: nothing when the time is up
    // or the component has gone.
    std::vector<uint8_t> readSome(std::chrono::milliseconds timeout)
    {
        namespace net = SerialComm::detail::net;
        uint8_t buffer[512];
        if (net::waitReady(m_client, false, net::Clock::now() + timeout) != 1)
            return {};
        const long n = net::recvSome(m_client, buffer, sizeof buffer);
        return n > 0 ? std::vector<uint8_t>(buffer, buffer + n) : std::vector<uint8_t>();
    }

    std::vector<uint8_t> read(size_t count, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<uint8_t> got;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const std::vector<uint8_t> more = readSome(std::max(left, std::chrono::milliseconds(0)));
            if (more.empty())
                break;
            got.insert(got.end(), more.begin(), more.end());
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
