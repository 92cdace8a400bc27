// SPDX-License-Identifier: GPL-3.0-or-later
#include "Socket.h"

#include <algorithm>

#ifdef _WIN32
#include <mstcpip.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace SerialComm::detail::net {

namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void setOption(Socket s, int level, int name, int value)
{
    ::setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value);
}

// A dead server or cable is noticed within about 10 s even while idle.
void tuneSocket(Socket s)
{
    setOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef _WIN32
    tcp_keepalive keep{1, 5000, 2000}; // on, idle ms, interval ms (Windows probes 10 times)
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &returned, nullptr, nullptr);
    // Sends from the read thread (Telnet answers) must not block for good.
    setOption(s, SOL_SOCKET, SO_SNDTIMEO, 3000);
#else
    setOption(s, IPPROTO_TCP, TCP_KEEPIDLE, 5);
    setOption(s, IPPROTO_TCP, TCP_KEEPINTVL, 2);
    setOption(s, IPPROTO_TCP, TCP_KEEPCNT, 3);
    setOption(s, IPPROTO_TCP, TCP_USER_TIMEOUT, 10000);
#endif
}

bool setBlocking(Socket s, bool blocking)
{
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
#else
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
#endif
}

} // namespace

bool socketsReady()
{
#ifdef _WIN32
    static const bool ready = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
#else
    return true;
#endif
}

int lastSocketError()
{
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

void closeSocket(Socket &s)
{
    if (s == NoSocket)
        return;
#ifdef _WIN32
    ::closesocket(s);
#else
    ::close(s);
#endif
    s = NoSocket;
}

int waitReady(Socket s, bool forWrite, Clock::time_point deadline)
{
    for (;;) {
#ifdef _WIN32
        // select, not WSAPoll: older Windows never reports a refused connect to WSAPoll.
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        const int ms = remainingMs(deadline);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        const int n = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
#else
        pollfd p{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        const int n = ::poll(&p, 1, remainingMs(deadline));
#endif
        if (n < 0 && lastSocketError() == ErrInterrupted)
            continue;
        return n <= 0 ? n : 1;
    }
}

long sendSome(Socket s, const uint8_t *data, size_t length)
{
#ifdef _WIN32
    return ::send(s, reinterpret_cast<const char *>(data), static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
#else
    return ::send(s, data, length, MSG_NOSIGNAL);
#endif
}

long recvSome(Socket s, uint8_t *data, size_t length)
{
#ifdef _WIN32
    return ::recv(s, reinterpret_cast<char *>(data), static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
#else
    return ::recv(s, data, length, 0);
#endif
}

Socket connectTo(const char *host, const char *port, Clock::duration timeout, int &error)
{
    if (!socketsReady()) {
        error = lastSocketError();
        return NoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
#ifdef _WIN32
    hints.ai_flags = AI_NUMERICSERV; // Windows would drop 127.0.0.1 on a laptop with no network
#else
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
#endif
    addrinfo *found = nullptr;
    const int lookup = ::getaddrinfo(host, port, &hints, &found);
    if (lookup != 0) {
#ifdef _WIN32
        error = lookup; // a WSA code
#else
        error = lookup == EAI_SYSTEM ? errno : EHOSTUNREACH;
#endif
        return NoSocket;
    }
    const auto deadline = Clock::now() + timeout;
    error = ErrTimedOut;
    Socket s = NoSocket;
    for (addrinfo *a = found; a != nullptr && s == NoSocket; a = a->ai_next) {
#ifdef _WIN32
        s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
#else
        s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
#endif
        if (s == NoSocket || !setBlocking(s, false)) {
            error = lastSocketError();
            closeSocket(s);
            continue;
        }
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            int result = lastSocketError();
            if (result == ErrInProgress) {
                const int ready = waitReady(s, true, deadline);
                socklen_t len = sizeof result;
                if (ready < 0)
                    result = lastSocketError();
                else if (ready == 0)
                    result = ErrTimedOut;
                else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&result), &len) != 0)
                    result = lastSocketError();
            }
            if (result != 0) {
                error = result;
                closeSocket(s);
            }
        }
    }
    ::freeaddrinfo(found);
    if (s == NoSocket)
        return s;
    tuneSocket(s);
#ifdef _WIN32
    if (!setBlocking(s, true)) {
        error = lastSocketError();
        closeSocket(s);
    }
#endif
    return s;
}

void ackNow([[maybe_unused]] Socket s)
{
#ifdef TCP_QUICKACK
    setOption(s, IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
}

} // namespace SerialComm::detail::net
