// SPDX-License-Identifier: GPL-3.0-or-later
// Network ports on Winsock: the connection is read and written with
// overlapped WSARecv/WSASend, each thread also waiting on the close event.
// A socket has no COMMTIMEOUTS, so the reader gathers its chunks itself by
// the same time-out rules as the POSIX port.
#include "NetSession.h" // Winsock ahead of <windows.h>
#include "../ReadChunk.h"
#include "../win32/Events.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace SerialComm::detail {

namespace {

using win32::closeHandle;

IoStatus failure(int error)
{
    // The socket closed underneath ends quietly.
    return error == WSAENOTSOCK || error == WSA_INVALID_HANDLE ? IoStatus::Quiet : IoStatus::Failed;
}

class WinsockPort final : public PortBackend {
public:
    ~WinsockPort() override { close(); }

    OpenResult open(const std::string &name) override { return m_session.open(name, m_socket); }

    void purge(unsigned) override {} // nothing is buffered on this side of the connection

    bool applyLineSettings(const LineSettings &s) override
    {
        m_chunk.setIgnoreNull(s.ignoreNullChar);
        return m_session.applyLineSettings(s);
    }

    void applyTimeouts(const Timeouts &t) override { m_chunk.set(t); }

    bool createCloseEvent() override { return m_ev.create(); }
    void signalClose() override { m_ev.signalClose(); }
    bool closeSignalled() const override { return m_ev.closing.load(); }

    void close() override
    {
        net::closeSocket(m_socket);
        m_ev.release();
    }

    void enterThread(ThreadRole role) override { win32::enterThread(role); }

    bool startReading() override
    {
        m_chunk.start();
        m_recvPending = false;
        m_readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_session.setReaderActive(m_readEvent != nullptr);
        return m_readEvent != nullptr;
    }

    ReadResult read(uint8_t *buffer, size_t capacity) override;

    void stopReading() override
    {
        // The overlapped structure and m_rx must be free before the thread goes.
        if (m_recvPending) {
            CancelIo(reinterpret_cast<HANDLE>(m_socket));
            DWORD n = 0, flags = 0;
            WSAGetOverlappedResult(m_socket, &m_readOv, &n, TRUE, &flags);
            m_recvPending = false;
        }
        closeHandle(m_readEvent);
        m_session.setReaderActive(false);
    }

    void notifyRequest() override { m_ev.notify(); }

    WakeReason waitForRequest() override { return m_ev.waitForRequest(); }

    IoStatus write(const uint8_t *data, size_t length) override;

private:
    NetSession m_session;
    net::Socket m_socket = net::NoSocket;
    win32::PortEvents m_ev;
    ReadChunk m_chunk;

    // Read thread only.
    HANDLE m_readEvent = nullptr;
    WSAOVERLAPPED m_readOv{};
    bool m_recvPending = false;
    uint8_t m_rx[2048]; // the pending receive's buffer: the caller's may be handed over meanwhile
};

ReadResult WinsockPort::read(uint8_t *buffer, size_t capacity)
{
    ReadResult r;
    if (m_chunk.endDue(r))
        return r;
    for (;;) {
        if (m_ev.closing.load())
            return m_chunk.closed(r);
        const ReadChunk::Next next = m_chunk.next(capacity);
        if (next.deliver)
            return m_chunk.deliver(r);

        if (!m_recvPending) {
            ResetEvent(m_readEvent);
            m_readOv = WSAOVERLAPPED{};
            m_readOv.hEvent = m_readEvent;
            // No more than fits: decoding only ever shrinks what came.
            WSABUF b{static_cast<ULONG>(std::min(capacity - m_chunk.collected, sizeof m_rx)), reinterpret_cast<char *>(m_rx)};
            DWORD n = 0, flags = 0;
            // Done at once or pending, the event is signalled when it ends.
            if (WSARecv(m_socket, &b, 1, &n, &flags, &m_readOv, nullptr) != 0) {
                const int error = WSAGetLastError();
                if (error != WSA_IO_PENDING)
                    return m_chunk.end(r, failure(error));
            }
            m_recvPending = true;
        }

        DWORD timeout = INFINITE;
        if (next.wait) // rounded up, or the wait would end just short of the gap again and again
            timeout = static_cast<DWORD>(
                std::chrono::ceil<std::chrono::milliseconds>(*next.wait).count());
        HANDLE handles[2] = {m_ev.close, m_readEvent};
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (woke == WAIT_TIMEOUT)
            continue;
        if (woke == WAIT_OBJECT_0)
            return m_chunk.closed(r);
        if (woke != WAIT_OBJECT_0 + 1)
            return m_chunk.end(r, IoStatus::Failed);

        m_recvPending = false;
        DWORD got = 0, flags = 0;
        if (!WSAGetOverlappedResult(m_socket, &m_readOv, &got, FALSE, &flags)) {
            const int error = WSAGetLastError();
            if (error == WSA_OPERATION_ABORTED && m_ev.closing.load())
                return m_chunk.closed(r);
            return m_chunk.end(r, failure(error));
        }
        if (got == 0)
            return m_chunk.end(r, IoStatus::Failed); // the server closed the connection
        const size_t kept = m_session.received(m_rx, got);
        std::memcpy(buffer + m_chunk.collected, m_rx, kept);
        m_chunk.add(buffer + m_chunk.collected, kept);
        if (m_chunk.collected == capacity)
            return m_chunk.deliver(r);
    }
}

IoStatus WinsockPort::write(const uint8_t *data, size_t length)
{
    const std::vector<uint8_t> &wire = m_session.encode(data, length);
    size_t offset = 0;
    while (offset < wire.size()) {
        ResetEvent(m_ev.writeEvent);
        WSAOVERLAPPED ov{};
        ov.hEvent = m_ev.writeEvent;
        WSABUF b{static_cast<ULONG>(std::min<size_t>(wire.size() - offset, 1 << 20)),
                 reinterpret_cast<char *>(const_cast<uint8_t *>(wire.data() + offset))};
        DWORD sent = 0;
        int rc = 0;
        {
            // Only the start is serialised: overlapped sends go out in the order they were made.
            std::lock_guard lock(m_session.sendMutex());
            rc = WSASend(m_socket, &b, 1, &sent, 0, &ov, nullptr);
        }
        if (rc != 0) {
            const int error = WSAGetLastError();
            if (error != WSA_IO_PENDING)
                return failure(error);
        }
        bool closing = false;
        DWORD flags = 0;
        if (!m_ev.waitForWrite(closing)) {
            // The request copy is freed after this returns: the send must be over first.
            CancelIo(reinterpret_cast<HANDLE>(m_socket));
            WSAGetOverlappedResult(m_socket, &ov, &sent, TRUE, &flags);
            return closing ? IoStatus::Closed : IoStatus::Failed;
        }
        if (!WSAGetOverlappedResult(m_socket, &ov, &sent, FALSE, &flags))
            return failure(WSAGetLastError());
        if (sent == 0)
            return IoStatus::Failed;
        offset += sent;
    }
    return IoStatus::Ok;
}

} // namespace

std::unique_ptr<PortBackend> createNetPortBackend()
{
    return std::make_unique<WinsockPort>();
}

} // namespace SerialComm::detail
