// SPDX-License-Identifier: GPL-3.0-or-later
// The device end under Wine: a pseudo-terminal held by the native peer
// (nxserial-peer), reached over loopback TCP at NX_SERIAL_PEER (host:port).
#include "PeerProtocol.h"
#include "SerialTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace SerialTest {

namespace {

class Connection {
public:
    static Connection &instance()
    {
        static Connection c;
        return c;
    }

    // One request, one reply line; empty when the peer is gone.
    std::string call(const std::string &request)
    {
        std::lock_guard lock(m_mutex);
        if (m_socket == INVALID_SOCKET)
            return {};
        const std::string line = request + "\n";
        size_t done = 0;
        while (done < line.size()) {
            const int n = send(m_socket, line.data() + done, static_cast<int>(line.size() - done), 0);
            if (n <= 0)
                return {};
            done += static_cast<size_t>(n);
        }
        for (;;) {
            const size_t eol = m_buffer.find('\n');
            if (eol != std::string::npos) {
                std::string reply = m_buffer.substr(0, eol);
                m_buffer.erase(0, eol + 1);
                return reply;
            }
            char chunk[65536];
            const int n = recv(m_socket, chunk, sizeof chunk, 0);
            if (n <= 0)
                return {};
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    Connection()
    {
        const char *where = std::getenv("NX_SERIAL_PEER");
        WSADATA wsa;
        if (!where || WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
            std::fprintf(stderr, "NX_SERIAL_PEER (host:port of nxserial-peer) is not set\n");
            return;
        }
        const std::string address = where;
        const size_t colon = address.rfind(':');
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (colon == std::string::npos
            || getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints, &found) != 0)
            return;
        m_socket = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        if (m_socket != INVALID_SOCKET && connect(m_socket, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
            closesocket(m_socket);
            m_socket = INVALID_SOCKET;
        }
        freeaddrinfo(found);
    }

    std::mutex m_mutex;
    SOCKET m_socket = INVALID_SOCKET;
    std::string m_buffer;
};

bool isOk(const std::string &reply)
{
    return reply.rfind("ok", 0) == 0;
}

std::vector<uint8_t> bytesOf(const std::string &reply)
{
    std::vector<uint8_t> out;
    if (isOk(reply) && reply.size() > 3)
        fromHex(reply.substr(3), out);
    return out;
}

class PeerLink final : public DeviceLink {
public:
    PeerLink()
    {
        std::istringstream in(Connection::instance().call("new"));
        std::string status;
        in >> status >> m_id >> m_name;
        if (status != "ok")
            m_name.clear();
    }
    ~PeerLink() override
    {
        if (!m_name.empty())
            call("free");
    }

    bool ok() const override { return !m_name.empty(); }
    std::string portName() const override { return m_name; }
    bool write(const void *data, size_t length) override
    {
        const auto *p = static_cast<const uint8_t *>(data);
        return isOk(call("write", toHex(std::vector<uint8_t>(p, p + length))));
    }
    std::vector<uint8_t> read(size_t count, milliseconds timeout) override
    {
        return bytesOf(call("read", std::to_string(count) + " " + std::to_string(timeout.count())));
    }
    std::vector<uint8_t> drain(milliseconds quiet) override
    {
        return bytesOf(call("drain", std::to_string(quiet.count())));
    }
    void hangUp() override { call("hangup"); }
    void flood(bool on) override { call("flood", on ? "1" : "0"); }
    bool lineState(LineView &view) override
    {
        std::istringstream in(call("line"));
        std::string status;
        int raw = 0, xon = 0, xoff = 0;
        in >> status >> view.baud >> view.bits >> raw >> xon >> xoff;
        view.raw = raw != 0;
        view.xonChar = static_cast<uint8_t>(xon);
        view.xoffChar = static_cast<uint8_t>(xoff);
        return status == "ok" && !in.fail();
    }
    bool setSpeed(uint32_t baud) override { return isOk(call("speed", std::to_string(baud))); }

private:
    std::string call(const std::string &cmd, const std::string &args = {})
    {
        return Connection::instance().call(cmd + " " + std::to_string(m_id) + (args.empty() ? "" : " " + args));
    }

    int m_id = 0;
    std::string m_name;
};

} // namespace

std::unique_ptr<DeviceLink> openDeviceLink()
{
    return std::make_unique<PeerLink>();
}

} // namespace SerialTest
