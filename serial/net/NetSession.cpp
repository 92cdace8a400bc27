// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetSession.h"
#include "NetName.h"

#include <cerrno>
#include <chrono>
#include <map>

namespace SerialComm {
namespace detail {

using net::Clock;
using net::Socket;

namespace {

// Connecting, and each exchange with the server while opening, gives up after this.
constexpr auto AnswerTimeout = std::chrono::seconds(3);

// Sends every byte, waiting for room up to the answer time-out; 0 or the failure's code.
int sendAll(Socket s, const std::vector<uint8_t> &bytes)
{
    const auto deadline = Clock::now() + AnswerTimeout;
    size_t offset = 0;
    while (offset < bytes.size()) {
        const long n = net::sendSome(s, bytes.data() + offset, bytes.size() - offset);
        if (n > 0) {
            offset += static_cast<size_t>(n);
            continue;
        }
        const int error = n < 0 ? net::lastSocketError() : net::ErrReset;
        if (error == net::ErrInterrupted)
            continue;
        if (error != net::ErrWouldBlock)
            return error == EPIPE ? net::ErrReset : error; // the server hung up on us, either way
        const int ready = net::waitReady(s, true, deadline);
        if (ready <= 0)
            return ready < 0 ? net::lastSocketError() : net::ErrTimedOut;
    }
    return 0;
}

// Reads and decodes the server's bytes until done() holds (0), the server
// goes away (ErrReset) or the answer time-out passes (ErrTimedOut). Only
// while no read thread runs; line bytes that arrive meanwhile are dropped,
// as opening purges them anyway.
template <class Done>
int awaitServer(Socket s, TelnetCodec &codec, Done done)
{
    const auto deadline = Clock::now() + AnswerTimeout;
    uint8_t buffer[512];
    std::vector<uint8_t> reply;
    while (!done()) {
        const int ready = net::waitReady(s, false, deadline);
        if (ready <= 0)
            return ready < 0 ? net::lastSocketError() : net::ErrTimedOut;
        const long got = net::recvSome(s, buffer, sizeof buffer);
        net::ackNow(s);
        if (got == 0)
            return net::ErrReset;
        if (got < 0) {
            const int error = net::lastSocketError();
            if (error == net::ErrInterrupted || error == net::ErrWouldBlock)
                continue;
            return error;
        }
        reply.clear();
        codec.decode(buffer, static_cast<size_t>(got), reply);
        if (!reply.empty()) {
            if (const int error = sendAll(s, reply))
                return error;
        }
    }
    return 0;
}

// Opens the connection and, for RFC 2217, has the server take up the
// COM-Port-Control option; 0 or the failure's code.
int connectAndGreet(const NetPortName &name, Socket &s, TelnetCodec &codec)
{
    int error = 0;
    s = net::connectTo(name.host.c_str(), name.port.c_str(), AnswerTimeout, error);
    if (s == net::NoSocket)
        return error;
    error = 0;
    if (name.rfc2217) {
        // The server must take up the COM-Port-Control option, or the line
        // settings could not be made.
        error = sendAll(s, codec.greeting());
        if (error == 0)
            error = awaitServer(s, codec, [&codec] { return codec.comPort() != TelnetCodec::ComPort::Pending; });
        if (error == 0 && codec.comPort() == TelnetCodec::ComPort::Refused)
            error = net::ErrNoComPort;
        if (error != 0)
            net::closeSocket(s);
    }
    return error;
}

// Connections made ahead of OpenPort, by name, until taken over.
struct Parked {
    Socket socket = net::NoSocket;
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
bool takeParked(const std::string &name, Socket &s, TelnetCodec &codec)
{
    std::lock_guard lock(parkedMutex());
    bool found = false;
    for (auto it = parked().begin(); it != parked().end();) {
        if (!found && it->first == name && Clock::now() - it->second.at < ParkedLife) {
            s = it->second.socket;
            codec = it->second.codec;
            found = true;
        } else if (Clock::now() - it->second.at >= ParkedLife) {
            net::closeSocket(it->second.socket);
        } else {
            ++it;
            continue;
        }
        it = parked().erase(it);
    }
    return found;
}

} // namespace

OpenResult NetSession::open(const std::string &portName, Socket &s)
{
    s = net::NoSocket;
    const auto name = parseNetworkPortName(portName);
    if (!name)
        return {OpenStatus::OpenFailed, net::ErrInvalid};
    std::lock_guard lock(m_mutex);
    m_telnet = name->rfc2217;
    m_inEffect.clear();
    if (!takeParked(portName, s, m_codec)) {
        if (const int error = connectAndGreet(*name, s, m_codec))
            return {OpenStatus::OpenFailed, error};
    }
    m_socket = s;
    return {};
}

// Sends `request` and waits for every answer to it: 0 or the failure's code.
int NetSession::exchange(const std::vector<uint8_t> &request, std::unique_lock<std::mutex> &lock)
{
    if (const int error = sendAll(m_socket, request))
        return error;
    auto answered = [this] { return m_codec.answered(); };
    if (!m_readerActive)
        return awaitServer(m_socket, m_codec, answered);
    // The read thread takes the answers off the connection.
    if (!m_answered.wait_for(lock, AnswerTimeout, [&] { return answered() || !m_readerActive; }))
        return net::ErrTimedOut;
    return answered() ? 0 : net::ErrReset;
}

bool NetSession::applyLineSettings(const LineSettings &settings)
{
    if (!m_telnet)
        return true; // a raw port's line is set up on the server
    std::unique_lock lock(m_mutex);
    std::vector<uint8_t> request;
    int error = 0;
    if (m_inEffect.empty()) {
        // What to go back to should the server refuse one of the settings.
        m_codec.currentRequest(request);
        error = exchange(request, lock);
        if (error == 0)
            m_inEffect = m_codec.answers();
        request.clear();
    }
    if (error == 0 && !m_codec.settingsRequest(settings, request))
        error = net::ErrInvalid;
    if (error == 0)
        error = exchange(request, lock);
    if (error == 0 && m_codec.settingsOutcome() != 0) {
        // Refused: the settings the server did take go back, so the line is
        // not left half changed.
        request.clear();
        m_codec.valuesRequest(m_inEffect, request);
        exchange(request, lock);
        error = net::ErrInvalid;
    } else if (error == 0) {
        m_inEffect = m_codec.answers();
    }
    errno = error;
    return error == 0;
}

const std::vector<uint8_t> &NetSession::encode(const uint8_t *data, size_t length)
{
    m_wire.clear();
    if (m_telnet)
        TelnetCodec::escape(data, length, m_wire);
    else
        m_wire.assign(data, data + length);
    return m_wire;
}

size_t NetSession::received(uint8_t *data, size_t length)
{
    if (!m_telnet)
        return length;
    std::lock_guard lock(m_mutex);
    m_reply.clear();
    const size_t kept = m_codec.decode(data, length, m_reply);
    if (!m_reply.empty())
        sendAll(m_socket, m_reply);
    if (m_codec.answered())
        m_answered.notify_all();
    return kept;
}

void NetSession::setReaderActive(bool active)
{
    std::lock_guard lock(m_mutex);
    m_readerActive = active;
    m_answered.notify_all();
}

} // namespace detail

int connectAhead(const std::string &portName)
{
    using namespace detail;
    const auto name = parseNetworkPortName(portName);
    if (!name)
        return net::ErrInvalid;
    Parked p;
    if (const int error = connectAndGreet(*name, p.socket, p.codec))
        return error;
    p.at = Clock::now();
    std::lock_guard lock(parkedMutex());
    auto &slot = parked()[portName];
    net::closeSocket(slot.socket);
    slot = std::move(p);
    return 0;
}

} // namespace SerialComm
