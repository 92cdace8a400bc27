// SPDX-License-Identifier: GPL-3.0-or-later
// TComm: property handling, open/close sequencing, the read and write threads
// and the dispatch of their notifications on the owner's thread. No platform
// calls here: they all go through PortBackend.
#include "SerialComm.h"

#include "PortBackend.h"
#include "net/NetName.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace SerialComm {

using namespace detail;

namespace {

PortBackendFactory &backendFactory()
{
    static PortBackendFactory factory;
    return factory;
}

constexpr size_t ReadBufferSize = 2048;
constexpr auto ThreadStopWait = std::chrono::milliseconds(10000);

// Lets queued notifications find out, on the owner's thread, whether their
// component still exists.
struct AliveToken {
    TComm *comm = nullptr;
};

// One write request: a zero-terminated heap copy owned by whoever holds it.
struct WriteRequest {
    std::unique_ptr<uint8_t[]> data;
    size_t length = 0;
};

// Owner -> writer request queue. Closed by the writer when it ends so that
// SendData refuses from then on.
class RequestQueue {
public:
    bool push(WriteRequest &&request)
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        try {
            m_items.push_back(std::move(request));
        } catch (const std::bad_alloc &) {
            return false;
        }
        return true;
    }

    bool tryPop(WriteRequest &out)
    {
        std::lock_guard lock(m_mutex);
        if (m_items.empty())
            return false;
        out = std::move(m_items.front());
        m_items.pop_front();
        return true;
    }

    void close()
    {
        std::deque<WriteRequest> dropped;
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
            dropped.swap(m_items);
        }
    }

private:
    std::mutex m_mutex;
    std::deque<WriteRequest> m_items;
    bool m_closed = false;
};

// Everything both threads share for one open period.
struct Session {
    std::shared_ptr<PortBackend> port;
    std::shared_ptr<OwnerQueue> notify;
    std::shared_ptr<AliveToken> alive;
    // Shared, not borrowed: an abandoned thread may outlive its component.
    std::shared_ptr<std::atomic<bool>> sendEmptyFlag;
    std::atomic<bool> hangupPosted{false};
    RequestQueue requests;

    bool post(std::function<void()> task)
    {
        if (!notify)
            return false;
        try {
            return notify->post(std::move(task));
        } catch (...) {
            return false;
        }
    }

    // Posts a task that runs on the owner's thread only while the component
    // still exists; fire(comm) calls the event handler.
    template <class Fire>
    bool postEvent(Fire fire)
    {
        return post([token = alive, fire = std::move(fire)] {
            if (TComm *c = token->comm)
                fire(*c);
        });
    }

    // A lost device is reported once per open, whichever thread notices
    // first; a failure caused by closing is no failure.
    void postHangup() noexcept
    {
        if (port->closeSignalled() || hangupPosted.exchange(true))
            return;
        try {
            postEvent([](TComm &c) {
                if (auto handler = c.OnRequestHangup)
                    handler(&c);
            });
        } catch (...) {
            // Out of memory: nothing more can be reported.
        }
    }
};

} // namespace

// Minimal thread object: started explicitly, waited for with a bound. A
// thread that does not end within the bound is abandoned: it owns its object
// from then on and frees it when it finally ends, so the owner never waits
// longer than the bound.
class TThread {
public:
    TThread() = default;
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;
    virtual ~TThread() = default;

    void Start()
    {
        m_thread = std::thread([this] {
            Execute();
            std::unique_ptr<TThread> self;
            {
                std::lock_guard lock(m_mutex);
                m_finished = true;
                self = std::move(m_abandoned);
                m_cv.notify_all();
            }
            // `self` frees this object here when the owner gave up on it.
        });
    }

    bool WaitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, limit, [this] { return m_finished; });
    }

    void Terminate() { m_terminated.store(true); }

    // Waits for the thread if it has ended or ends within `limit`; otherwise
    // marks it terminated and leaves it to free itself.
    template <class Thread>
    static void Release(std::unique_ptr<Thread> thread, std::chrono::milliseconds limit)
    {
        if (!thread)
            return;
        if (!thread->WaitFor(limit)) {
            thread->Terminate();
            std::lock_guard lock(thread->m_mutex);
            if (!thread->m_finished) {
                thread->m_thread.detach();
                TThread *raw = thread.release();
                raw->m_abandoned.reset(raw);
                return;
            }
        }
        thread.reset(); // joins a thread that has ended
    }

    // Waits until the thread has ended; derived destructors call it first.
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

protected:
    virtual void Execute() = 0;
    bool Terminated() const { return m_terminated.load(); }

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_finished = false;
    std::atomic<bool> m_terminated{false};
    std::unique_ptr<TThread> m_abandoned;
};

class TReadThread final : public TThread {
public:
    explicit TReadThread(std::shared_ptr<Session> session) : m_session(std::move(session)) {}
    ~TReadThread() override { Join(); }

protected:
    void Execute() override
    {
        PortBackend &port = *m_session->port;
        port.enterThread(ThreadRole::Reader);
        if (!port.startReading()) {
            m_session->postHangup();
        } else {
            try {
                run(port);
            } catch (const std::bad_alloc &) {
                m_session->postHangup();
            }
        }
        port.stopReading();
        port.purge(PurgeRxAbort | PurgeRxClear);
    }

private:
    void run(PortBackend &port)
    {
        while (!Terminated()) {
            ReadResult r = port.read(m_buffer.data(), m_buffer.size());
            if (r.errors != 0 && !postValue(r.errors, &TComm::OnReceiveError))
                return;
            if (r.modem != 0 && !postValue(r.modem, &TComm::OnModemStateChange))
                return;
            if (r.count > 0 && !deliver(r.count))
                return;
            if (r.status != IoStatus::Ok) {
                if (r.status == IoStatus::Failed)
                    m_session->postHangup();
                return;
            }
        }
    }

    template <class Event>
    bool postValue(uint32_t value, Event TComm::*event)
    {
        if (m_session->postEvent([value, event](TComm &c) {
                if (auto handler = c.*event)
                    handler(&c, value);
            }))
            return true;
        m_session->postHangup();
        return false;
    }

    // Hands one chunk to the owner as an owned, zero-terminated copy; the copy
    // is freed with the task, run or not.
    bool deliver(size_t count)
    {
        std::shared_ptr<uint8_t[]> copy;
        try {
            copy = std::shared_ptr<uint8_t[]>(new uint8_t[count + 1]());
        } catch (const std::bad_alloc &) {
            m_session->postHangup();
            return false;
        }
        std::memcpy(copy.get(), m_buffer.data(), count);
        const auto length = static_cast<uint16_t>(count);
        if (m_session->postEvent([copy, length](TComm &c) {
                if (auto handler = c.OnReceiveData)
                    handler(&c, copy.get(), length);
            }))
            return true;
        m_session->postHangup();
        return false;
    }

    std::shared_ptr<Session> m_session;
    std::array<uint8_t, ReadBufferSize> m_buffer{};
};

class TWriteThread final : public TThread {
public:
    explicit TWriteThread(std::shared_ptr<Session> session) : m_session(std::move(session)) {}
    ~TWriteThread() override { Join(); }

protected:
    void Execute() override
    {
        PortBackend &port = *m_session->port;
        port.enterThread(ThreadRole::Writer);
        try {
            run(port);
        } catch (const std::bad_alloc &) {
            m_session->postHangup();
        }
        m_session->requests.close();
        port.purge(PurgeTxAbort | PurgeTxClear);
        m_session->sendEmptyFlag->store(true);
    }

private:
    void run(PortBackend &port)
    {
        bool notifyWhenEmpty = true;
        while (!Terminated()) {
            WriteRequest request;
            if (!m_session->requests.tryPop(request)) {
                m_session->sendEmptyFlag->store(true);
                if (notifyWhenEmpty) {
                    if (!postSendDataEmpty()) {
                        m_session->postHangup();
                        return;
                    }
                    notifyWhenEmpty = false;
                }
                switch (port.waitForRequest()) {
                case WakeReason::Closed:
                    return;
                case WakeReason::Failed:
                    m_session->postHangup();
                    return;
                case WakeReason::Request:
                    continue;
                }
                return;
            }
            if (port.closeSignalled())
                return;
            const IoStatus status = port.write(request.data.get(), request.length);
            request.data.reset();
            notifyWhenEmpty = true;
            if (status != IoStatus::Ok) {
                if (status == IoStatus::Failed)
                    m_session->postHangup();
                return;
            }
        }
    }

    bool postSendDataEmpty()
    {
        return m_session->postEvent([](TComm &c) {
            if (auto handler = c.OnSendDataEmpty)
                handler(&c);
        });
    }

    std::shared_ptr<Session> m_session;
};

struct TComm::Private {
    std::shared_ptr<OwnerQueue> notifyWindow;
    std::shared_ptr<AliveToken> alive = std::make_shared<AliveToken>();

    std::string commName = "COM2";
    LineSettings line;
    Timeouts timeouts;

    std::shared_ptr<Session> session; // set while the port is open
    std::unique_ptr<TReadThread> reader;
    std::unique_ptr<TWriteThread> writer;
    std::shared_ptr<std::atomic<bool>> sendEmptyFlag = std::make_shared<std::atomic<bool>>(true);

    // Stores a new value; true when an open port must get it now.
    template <class T>
    bool change(T &field, const T &value)
    {
        if (field == value)
            return false;
        field = value;
        return session != nullptr;
    }

    // A driver that refuses the new settings keeps the old ones: the field
    // goes back to match the line, and the caller hears why.
    template <class T>
    void setLine(T &field, const T &value)
    {
        const T old = field;
        if (!change(field, value) || session->port->applyLineSettings(line))
            return;
        const int error = errno;
        field = old;
        session->port->applyLineSettings(line);
        throw ECommsError("Error applying serial port settings", error);
    }

    template <class T>
    void setTimeout(T &field, const T &value)
    {
        if (change(field, value))
            session->port->applyTimeouts(timeouts);
    }
};

TComm::TComm(std::shared_ptr<OwnerQueue> notifyWindow) : d(std::make_unique<Private>())
{
    d->notifyWindow = std::move(notifyWindow);
    d->alive->comm = this;
}

TComm::~TComm()
{
    ClosePort();
    d->alive->comm = nullptr;
}

bool TComm::IsOpen() const
{
    return d->session != nullptr;
}

void TComm::OpenPort()
{
    if (d->session)
        throw ECommsError("This serial port already opened");

    std::shared_ptr<PortBackend> port = backendFactory()                  ? backendFactory()()
                                        : isNetworkPortName(d->commName) ? createNetPortBackend()
                                                                         : createPortBackend();
    const OpenResult opened = port->open(d->commName);
    switch (opened.status) {
    case OpenStatus::Ok:
        break;
    case OpenStatus::OpenFailed:
        throw ECommsError("Error opening serial port", opened.error);
    case OpenStatus::NotComm:
        throw ECommsError("File handle is not a comm handle ", opened.error);
    case OpenStatus::SetupFailed:
        throw ECommsError("Cannot setup comm buffer", opened.error);
    }

    port->purge(PurgeTxAbort | PurgeRxAbort | PurgeTxClear | PurgeRxClear);
    d->sendEmptyFlag->store(true);
    port->applyTimeouts(d->timeouts);
    // Refused settings would leave the port at its old speed and framing
    // while the owner believes it opened with the new ones.
    if (!port->applyLineSettings(d->line)) {
        const int error = errno;
        port->close();
        throw ECommsError("Error opening serial port", error);
    }

    if (!port->createCloseEvent()) {
        const int error = errno;
        port->close();
        throw ECommsError("Unable to create event", error);
    }

    auto session = std::make_shared<Session>();
    session->port = port;
    session->notify = d->notifyWindow;
    session->alive = d->alive;
    session->sendEmptyFlag = d->sendEmptyFlag;

    std::unique_ptr<TReadThread> reader;
    std::unique_ptr<TWriteThread> writer;
    try {
        reader = std::make_unique<TReadThread>(session);
    } catch (const std::bad_alloc &) {
        port->close();
        throw ECommsError("Unable to create read thread");
    }
    try {
        writer = std::make_unique<TWriteThread>(session);
    } catch (const std::bad_alloc &) {
        port->close();
        throw ECommsError("Unable to create write thread");
    }

    try {
        reader->Start();
    } catch (const std::system_error &e) {
        reader.reset();
        port->close();
        throw ECommsError("Unable to create read thread", e.code().value());
    }
    try {
        writer->Start();
    } catch (const std::system_error &e) {
        port->signalClose();
        port->purge(PurgeRxAbort | PurgeRxClear);
        reader.reset(); // joins
        writer.reset();
        port->close();
        throw ECommsError("Unable to create write thread", e.code().value());
    }

    d->session = std::move(session);
    d->reader = std::move(reader);
    d->writer = std::move(writer);
}

void TComm::ClosePort()
{
    if (!d->session)
        return;
    PortBackend &port = *d->session->port;

    port.signalClose();
    port.purge(PurgeRxAbort | PurgeRxClear);
    TThread::Release(std::move(d->reader), ThreadStopWait);

    port.purge(PurgeTxAbort | PurgeTxClear);
    d->sendEmptyFlag->store(true);
    TThread::Release(std::move(d->writer), ThreadStopWait);

    port.close();
    d->session.reset();
}

bool TComm::SendData(const void *data, uint16_t length)
{
    if (!d->writer || length == 0 || data == nullptr)
        return false;
    WriteRequest request;
    request.data.reset(new (std::nothrow) uint8_t[size_t(length) + 1]());
    if (!request.data)
        return false;
    std::memcpy(request.data.get(), data, length);
    request.length = length;
    if (!d->session->requests.push(std::move(request)))
        return false;
    d->session->port->notifyRequest();
    d->sendEmptyFlag->store(false);
    return true;
}

// Properties.

const std::string &TComm::CommName() const { return d->commName; }
void TComm::SetCommName(const std::string &v) { d->commName = v; }
uint32_t TComm::BaudRate() const { return d->line.baudRate; }
void TComm::SetBaudRate(uint32_t v) { d->setLine(d->line.baudRate, v); }
bool TComm::ParityCheck() const { return d->line.parityCheck; }
void TComm::SetParityCheck(bool v) { d->setLine(d->line.parityCheck, v); }
bool TComm::Outx_CtsFlow() const { return d->line.outxCtsFlow; }
void TComm::SetOutx_CtsFlow(bool v) { d->setLine(d->line.outxCtsFlow, v); }
bool TComm::Outx_DsrFlow() const { return d->line.outxDsrFlow; }
void TComm::SetOutx_DsrFlow(bool v) { d->setLine(d->line.outxDsrFlow, v); }
TDtrControl TComm::DtrControl() const { return d->line.dtrControl; }
void TComm::SetDtrControl(TDtrControl v) { d->setLine(d->line.dtrControl, v); }
bool TComm::DsrSensitivity() const { return d->line.dsrSensitivity; }
void TComm::SetDsrSensitivity(bool v) { d->setLine(d->line.dsrSensitivity, v); }
bool TComm::TxContinueOnXoff() const { return d->line.txContinueOnXoff; }
void TComm::SetTxContinueOnXoff(bool v) { d->setLine(d->line.txContinueOnXoff, v); }
bool TComm::Outx_XonXoffFlow() const { return d->line.outxXonXoffFlow; }
void TComm::SetOutx_XonXoffFlow(bool v) { d->setLine(d->line.outxXonXoffFlow, v); }
bool TComm::Inx_XonXoffFlow() const { return d->line.inxXonXoffFlow; }
void TComm::SetInx_XonXoffFlow(bool v) { d->setLine(d->line.inxXonXoffFlow, v); }
bool TComm::ReplaceWhenParityError() const { return d->line.replaceWhenParityError; }
void TComm::SetReplaceWhenParityError(bool v) { d->setLine(d->line.replaceWhenParityError, v); }
bool TComm::IgnoreNullChar() const { return d->line.ignoreNullChar; }
void TComm::SetIgnoreNullChar(bool v) { d->setLine(d->line.ignoreNullChar, v); }
TRtsControl TComm::RtsControl() const { return d->line.rtsControl; }
void TComm::SetRtsControl(TRtsControl v) { d->setLine(d->line.rtsControl, v); }
uint16_t TComm::XonLimit() const { return d->line.xonLimit; }
void TComm::SetXonLimit(uint16_t v) { d->setLine(d->line.xonLimit, v); }
uint16_t TComm::XoffLimit() const { return d->line.xoffLimit; }
void TComm::SetXoffLimit(uint16_t v) { d->setLine(d->line.xoffLimit, v); }
TByteSize TComm::ByteSize() const { return d->line.byteSize; }
void TComm::SetByteSize(TByteSize v) { d->setLine(d->line.byteSize, v); }
TParity TComm::Parity() const { return d->line.parity; }
void TComm::SetParity(TParity v) { d->line.parity = v; }
TStopBits TComm::StopBits() const { return d->line.stopBits; }
void TComm::SetStopBits(TStopBits v) { d->setLine(d->line.stopBits, v); }
char TComm::XonChar() const { return d->line.xonChar; }
void TComm::SetXonChar(char v) { d->setLine(d->line.xonChar, v); }
char TComm::XoffChar() const { return d->line.xoffChar; }
void TComm::SetXoffChar(char v) { d->setLine(d->line.xoffChar, v); }
char TComm::ReplacedChar() const { return d->line.replacedChar; }
void TComm::SetReplacedChar(char v) { d->setLine(d->line.replacedChar, v); }
uint32_t TComm::ReadIntervalTimeout() const { return d->timeouts.readInterval; }
void TComm::SetReadIntervalTimeout(uint32_t v) { d->setTimeout(d->timeouts.readInterval, v); }
uint32_t TComm::ReadTotalTimeoutMultiplier() const { return d->timeouts.readTotalMultiplier; }
void TComm::SetReadTotalTimeoutMultiplier(uint32_t v) { d->setTimeout(d->timeouts.readTotalMultiplier, v); }
uint32_t TComm::ReadTotalTimeoutConstant() const { return d->timeouts.readTotalConstant; }
void TComm::SetReadTotalTimeoutConstant(uint32_t v) { d->setTimeout(d->timeouts.readTotalConstant, v); }
uint32_t TComm::WriteTotalTimeoutMultiplier() const { return d->timeouts.writeTotalMultiplier; }
void TComm::SetWriteTotalTimeoutMultiplier(uint32_t v) { d->setTimeout(d->timeouts.writeTotalMultiplier, v); }
uint32_t TComm::WriteTotalTimeoutConstant() const { return d->timeouts.writeTotalConstant; }
void TComm::SetWriteTotalTimeoutConstant(uint32_t v) { d->setTimeout(d->timeouts.writeTotalConstant, v); }

namespace detail {

void setPortBackendFactory(PortBackendFactory factory)
{
    backendFactory() = std::move(factory);
}

} // namespace detail

} // namespace SerialComm
