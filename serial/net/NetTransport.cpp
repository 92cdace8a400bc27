// SPDX-License-Identifier: GPL-3.0-or-later
// Network ports on POSIX sockets: a non-blocking TCP connection that the
// tty backend drives like a line, raw or with Telnet/RFC 2217 framing.
#include "../posix/StreamTransport.h"
#include "NetName.h"
#include "Telnet.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SerialComm {
namespace detail {

namespace {

using Clock = std::chrono::steady_clock;
// Connecting, and each exchange with the server while opening, gives up after this.
constexpr auto AnswerTimeout = std::chrono::seconds(3);

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline: 1 ready, 0 timed out, -1 failed (errno).
int waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, remainingMs(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n;
        return 1;
    }
}

void setOption(int fd, int level, int name, int value)
{
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// A dead server or cable is noticed within about 10 s even while idle.
void tuneSocket(int fd)
{
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 5);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 2);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 10000);
}

// Tries each address of the server in turn within one connect time-out.
int connectTo(const NetPortName &name, int &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    const int lookup = ::getaddrinfo(name.host.c_str(), name.port.c_str(), &hints, &found);
    if (lookup != 0) {
        error = lookup == EAI_SYSTEM ? errno : EHOSTUNREACH;
        return -1;
    }
    const auto deadline = Clock::now() + AnswerTimeout;
    error = ETIMEDOUT;
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            int result = errno;
            if (result == EINPROGRESS) {
                const int ready = waitFor(fd, POLLOUT, deadline);
                socklen_t len = sizeof result;
                if (ready < 0)
                    result = errno;
                else if (ready == 0)
                    result = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len) != 0)
                    result = errno;
            }
            if (result != 0) {
                error = result;
                ::close(fd);
                fd = -1;
            }
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0)
        tuneSocket(fd);
    return fd;
}

// Sends every byte, waiting for room up to the answer time-out; 0 or errno.
int sendAll(int fd, const std::vector<uint8_t> &bytes)
{
    const auto deadline = Clock::now() + AnswerTimeout;
    size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (n > 0) {
            offset += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno == EPIPE ? ECONNRESET : errno; // the server hung up on us, either way
        const int ready = waitFor(fd, POLLOUT, deadline);
        if (ready <= 0)
            return ready < 0 ? errno : ETIMEDOUT;
    }
    return 0;
}

// Reads and decodes the server's bytes until done() holds (0), the server
// goes away (ECONNRESET) or the answer time-out passes (ETIMEDOUT). Only
// while no read thread runs; line bytes that arrive meanwhile are dropped,
// as opening purges them anyway.
template <class Done>
int awaitServer(int fd, TelnetCodec &codec, Done done)
{
    const auto deadline = Clock::now() + AnswerTimeout;
    uint8_t buffer[512];
    std::vector<uint8_t> reply;
    while (!done()) {
        const int ready = waitFor(fd, POLLIN, deadline);
        if (ready <= 0)
            return ready < 0 ? errno : ETIMEDOUT;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        // Acknowledge at once: a server that holds back its next small answer
        // until then (Nagle) would otherwise wait for our delayed ACK (40 ms).
        setOption(fd, IPPROTO_TCP, TCP_QUICKACK, 1);
        if (got == 0)
            return ECONNRESET;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return errno;
        }
        reply.clear();
        codec.decode(buffer, static_cast<size_t>(got), reply);
        if (!reply.empty()) {
            if (const int error = sendAll(fd, reply))
                return error;
        }
    }
    return 0;
}

// Opens the connection and, for RFC 2217, has the server take up the
// COM-Port-Control option; 0 or the errno of the failure.
int connectAndGreet(const NetPortName &name, int &fd, TelnetCodec &codec)
{
    int error = 0;
    fd = connectTo(name, error);
    if (fd < 0)
        return error;
    error = 0;
    if (name.rfc2217) {
        // The server must take up the COM-Port-Control option, or the line
        // settings could not be made.
        error = sendAll(fd, codec.greeting());
        if (error == 0)
            error = awaitServer(fd, codec, [&codec] { return codec.comPort() != TelnetCodec::ComPort::Pending; });
        if (error == 0 && codec.comPort() == TelnetCodec::ComPort::Refused)
            error = EPROTONOSUPPORT;
        if (error != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    return error;
}


// Connections made ahead of OpenPort, by name, until taken over.
struct Parked {
    int fd = -1;
    TelnetCodec codec;
    Clock::time_point at;
};
constexpr auto ParkedLife = std::chrono::seconds(10);

std::mutex &parkedMutex()
{
    static std::mutex m;
    return m;
}

std::map<std::string, Parked> &parked()
{
    static std::map<std::string, Parked> connections;
    return connections;
}

// Takes over a connection made ahead for `name`; closes stale ones.
bool takeParked(const std::string &name, int &fd, TelnetCodec &codec)
{
    std::lock_guard lock(parkedMutex());
    bool found = false;
    for (auto it = parked().begin(); it != parked().end();) {
        if (!found && it->first == name && Clock::now() - it->second.at < ParkedLife) {
            fd = it->second.fd;
            codec = it->second.codec;
            found = true;
        } else if (Clock::now() - it->second.at >= ParkedLife) {
            ::close(it->second.fd);
        } else {
            ++it;
            continue;
        }
        it = parked().erase(it);
    }
    return found;
}

class NetTransport final : public StreamTransport {
public:
    OpenResult open(const std::string &portName, int &fd) override
    {
        fd = -1;
        const auto name = parseNetworkPortName(portName);
        if (!name)
            return {OpenStatus::OpenFailed, EINVAL};
        m_telnet = name->rfc2217;
        std::lock_guard lock(m_mutex);
        if (takeParked(portName, fd, m_codec))
            return {};
        if (const int error = connectAndGreet(*name, fd, m_codec))
            return {OpenStatus::OpenFailed, error};
        return {};
    }

    bool applyLineSettings(int fd, const LineSettings &settings) override
    {
        if (!m_telnet)
            return true; // a raw port's line is set up on the server
        std::unique_lock lock(m_mutex);
        std::vector<uint8_t> request;
        if (!m_codec.settingsRequest(settings, request))
            return false;
        int error = sendAll(fd, request);
        if (error == 0) {
            auto answered = [this] { return m_codec.settingsOutcome() >= 0; };
            if (m_readerActive) {
                // The read thread takes the answers off the connection.
                if (!m_answered.wait_for(lock, AnswerTimeout, [&] { return answered() || !m_readerActive; }))
                    error = ETIMEDOUT;
                else if (!answered())
                    error = ECONNRESET;
            } else {
                error = awaitServer(fd, m_codec, answered);
            }
        }
        if (error == 0)
            error = m_codec.settingsOutcome();
        errno = error;
        return error == 0;
    }

    const std::vector<uint8_t> &encode(const uint8_t *data, size_t length) override
    {
        m_wire.clear();
        if (m_telnet)
            TelnetCodec::escape(data, length, m_wire);
        else
            m_wire.assign(data, data + length);
        return m_wire;
    }

    ssize_t send(int fd, const uint8_t *data, size_t length) override
    {
        // One sender at a time: Telnet answers from the read thread and
        // settings from the owner must not land inside a doubled IAC.
        std::lock_guard lock(m_mutex);
        return ::send(fd, data, length, MSG_NOSIGNAL);
    }

    size_t received(int fd, uint8_t *data, size_t length) override
    {
        if (!m_telnet)
            return length;
        std::lock_guard lock(m_mutex);
        m_reply.clear();
        const size_t kept = m_codec.decode(data, length, m_reply);
        if (!m_reply.empty())
            sendAll(fd, m_reply);
        if (m_codec.settingsOutcome() >= 0)
            m_answered.notify_all();
        return kept;
    }

    void setReaderActive(bool active) override
    {
        std::lock_guard lock(m_mutex);
        m_readerActive = active;
        m_answered.notify_all();
    }

private:
private:
    bool m_telnet = false;
    std::mutex m_mutex; // guards all below and every send
    std::condition_variable m_answered;
    TelnetCodec m_codec;
    bool m_readerActive = false;
    std::vector<uint8_t> m_reply;
    std::vector<uint8_t> m_wire; // write thread only
};

} // namespace

} // namespace detail

int connectAhead(const std::string &portName)
{
    using namespace detail;
    const auto name = parseNetworkPortName(portName);
    if (!name)
        return EINVAL;
    Parked p;
    if (const int error = connectAndGreet(*name, p.fd, p.codec))
        return error;
    p.at = Clock::now();
    std::lock_guard lock(parkedMutex());
    auto &slot = parked()[portName];
    if (slot.fd >= 0)
        ::close(slot.fd);
    slot = std::move(p);
    return 0;
}

namespace detail {

std::unique_ptr<PortBackend> createNetPortBackend()
{
    return createStreamPortBackend(std::make_unique<NetTransport>());
}

} // namespace detail
} // namespace SerialComm
