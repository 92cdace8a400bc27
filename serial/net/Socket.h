// SPDX-License-Identifier: GPL-3.0-or-later
// The few socket calls the device-server code needs, on POSIX sockets and on
// Winsock, with each system's own error codes (errno values there, WSA codes
// here), so that a failure reads as the system itself words it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace SerialComm::detail::net {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using Socket = SOCKET;
inline const Socket NoSocket = INVALID_SOCKET;
enum : int {
    ErrTimedOut = WSAETIMEDOUT,
    ErrReset = WSAECONNRESET,
    ErrInterrupted = WSAEINTR,
    ErrWouldBlock = WSAEWOULDBLOCK,
    ErrInProgress = WSAEWOULDBLOCK, // a non-blocking connect under way
    ErrNoComPort = WSAEPROTONOSUPPORT,
    ErrInvalid = ERROR_INVALID_PARAMETER,
};
#else
using Socket = int;
inline constexpr Socket NoSocket = -1;
enum : int {
    ErrTimedOut = ETIMEDOUT,
    ErrReset = ECONNRESET,
    ErrInterrupted = EINTR,
    ErrWouldBlock = EAGAIN,
    ErrInProgress = EINPROGRESS,
    ErrNoComPort = EPROTONOSUPPORT,
    ErrInvalid = EINVAL,
};
#endif

// Starts the socket library once per process (Winsock); true when usable.
bool socketsReady();
// The code of the last failed socket call on this thread.
int lastSocketError();
void closeSocket(Socket &s);

// Waits until `s` can be read (or, with `forWrite`, written, which is also
// how a non-blocking connect ends) or the deadline passes: 1 ready, 0 timed
// out, -1 failed (lastSocketError).
int waitReady(Socket s, bool forWrite, Clock::time_point deadline);

// One send or recv: the count, or -1 with lastSocketError. Sending never
// raises SIGPIPE.
long sendSome(Socket s, const uint8_t *data, size_t length);
long recvSome(Socket s, uint8_t *data, size_t length);

// A connected, tuned socket to `host`:`port` within `timeout`, trying each
// address in turn; NoSocket with the failure's code in `error`. POSIX
// sockets stay non-blocking; Winsock ones are blocking, for overlapped I/O.
Socket connectTo(const char *host, const char *port, Clock::duration timeout, int &error);

// Acknowledge received bytes at once where the system allows (Linux):
// a server holding back its next small answer for our delayed ACK (Nagle)
// would otherwise cost 40 ms a round trip.
void ackNow(Socket s);

} // namespace SerialComm::detail::net
