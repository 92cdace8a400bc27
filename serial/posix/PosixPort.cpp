// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX (Linux) port backend: a tty opened non-blocking and exclusive, waits
// in ppoll() on the port and eventfds, line errors from the driver's
// interrupt counters, carrier/ring changes from TIOCMIWAIT.
#include "../PortBackend.h"
#include "DeviceName.h"
#include "PosixLine.h"
#include "StreamTransport.h"
#include "../ReadChunk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace SerialComm {

std::string systemErrorText(int error)
{
    return std::strerror(error);
}

namespace detail {

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool signalEventFd(int fd)
{
    const uint64_t one = 1;
    for (;;) {
        if (::write(fd, &one, sizeof one) == sizeof one)
            return true;
        if (errno != EINTR)
            return false;
    }
}

void drainEventFd(int fd)
{
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

timespec toTimespec(Clock::duration d)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

// A blocked TIOCMIWAIT only returns on a line change or a signal, so the
// watcher is stopped with a signal whose handler does nothing.
void onWakeSignal(int) {}

int wakeSignal()
{
    static const int sig = [] {
        for (int s = SIGRTMIN + 2; s <= SIGRTMAX; ++s) {
            struct sigaction old {};
            if (sigaction(s, nullptr, &old) != 0)
                continue;
            if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction sa {};
            sa.sa_handler = onWakeSignal;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = 0; // no SA_RESTART: the ioctl must come back with EINTR
            if (sigaction(s, &sa, nullptr) == 0)
                return s;
        }
        return -1;
    }();
    return sig;
}

// Carrier-detect and ring changes. Runs in a helper of the read thread, only
// on ports whose driver keeps interrupt counters; it reports through an
// eventfd the read thread polls, so all notifications still come from there.
class ModemWatcher {
public:
    ~ModemWatcher() { stop(); }

    int eventFd() const { return m_eventFd; }

    bool start(int portFd)
    {
        m_signal = wakeSignal();
        if (m_signal < 0)
            return true; // no way to cancel the wait: go without modem events
        m_eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_eventFd < 0)
            return false;
        m_stop.store(false);
        m_finished = false;
        try {
            m_thread = std::thread([this, portFd] { run(portFd); });
        } catch (const std::system_error &) {
            closeFd(m_eventFd);
            return false;
        }
        return true;
    }

    uint32_t take()
    {
        drainEventFd(m_eventFd);
        return m_bits.exchange(0);
    }

    void stop()
    {
        if (m_thread.joinable()) {
            m_stop.store(true);
            std::unique_lock lock(m_mutex);
            // Repeat: a signal that lands just before the ioctl is entered is lost.
            do {
                pthread_kill(m_thread.native_handle(), m_signal);
            } while (!m_cv.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_finished; }));
            lock.unlock();
            m_thread.join();
        }
        closeFd(m_eventFd);
    }

private:
    void run(int fd)
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, m_signal);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);

        serial_icounter_struct seen {};
        if (ioctl(fd, TIOCGICOUNT, &seen) == 0) {
            while (!m_stop.load()) {
                serial_icounter_struct now {};
                if (ioctl(fd, TIOCGICOUNT, &now) != 0)
                    break;
                const uint32_t bits = (now.dcd != seen.dcd ? ModemCarrierChange : 0u)
                                      | (now.rng != seen.rng ? ModemRing : 0u);
                seen = now;
                if (bits != 0) {
                    m_bits.fetch_or(bits);
                    signalEventFd(m_eventFd);
                    continue;
                }
                if (ioctl(fd, TIOCMIWAIT, TIOCM_CD | TIOCM_RNG) == 0)
                    continue;
                if (errno != EINTR)
                    break; // not supported, or the device is gone: the reader sees that
            }
        }
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_cv.notify_all();
    }

    int m_signal = -1;
    int m_eventFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_bits{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_finished = false;
};

class PosixPort final : public PortBackend {
public:
    explicit PosixPort(std::unique_ptr<StreamTransport> transport = nullptr) : m_transport(std::move(transport)) {}

    ~PosixPort() override
    {
        m_modem.stop();
        close();
    }

    OpenResult open(const std::string &name) override
    {
        if (m_transport) {
            const OpenResult r = m_transport->open(name, m_fd);
            if (r.status != OpenStatus::Ok)
                m_fd = -1;
            return r;
        }
        const std::string path = devicePathFor(name);
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return {OpenStatus::OpenFailed, errno};
        // No sharing: an advisory lock for cooperating programs (and for root,
        // whom TIOCEXCL does not stop), TIOCEXCL for everyone else.
        if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return fail(OpenStatus::OpenFailed, errno);
        m_locked = true;

        struct stat st {};
        if (fstat(m_fd, &st) != 0)
            return fail(OpenStatus::NotComm, errno);
        if (!S_ISCHR(st.st_mode))
            return fail(OpenStatus::NotComm, ENOTTY);
        struct termios t {};
        if (tcgetattr(m_fd, &t) != 0)
            return fail(OpenStatus::NotComm, errno);

        if (ioctl(m_fd, TIOCEXCL) == 0)
            m_exclusive = true;
        requestLowLatency();
        return {};
    }

    void purge(unsigned flags) override
    {
        if (m_fd < 0 || m_transport)
            return;
        const bool rx = flags & PurgeRxClear;
        const bool tx = flags & PurgeTxClear;
        if (rx && tx)
            tcflush(m_fd, TCIOFLUSH);
        else if (rx)
            tcflush(m_fd, TCIFLUSH);
        else if (tx)
            tcflush(m_fd, TCOFLUSH);
        // Aborting pending transfers needs nothing here: the threads' waits
        // include the close event.
    }

    bool applyLineSettings(const LineSettings &s) override
    {
        m_chunk.setIgnoreNull(s.ignoreNullChar);
        if (m_transport)
            return m_transport->applyLineSettings(m_fd, s);
        const bool applied = posixApplyLine(m_fd, s);
        const int lineError = errno;

        // Drivers without modem lines (pseudo-terminals) answer ENOTTY: fine.
        int dtr = TIOCM_DTR;
        ioctl(m_fd, s.dtrControl == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
        const bool toggle = s.rtsControl == TRtsControl::RtsTransmissionAvailable;
        setRs485(toggle);
        int rts = TIOCM_RTS;
        const bool rtsOn = s.rtsControl == TRtsControl::RtsEnable || s.rtsControl == TRtsControl::RtsHandshake;
        if (!toggle || !m_rs485)
            ioctl(m_fd, rtsOn ? TIOCMBIS : TIOCMBIC, &rts);
        errno = lineError;
        return applied;
    }

    void applyTimeouts(const Timeouts &t) override
    {
        // Writes never time out here: a timed-out write would only be
        // restarted with the rest of its bytes anyway.
        m_chunk.set(t);
    }

    bool createCloseEvent() override
    {
        m_closeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_closeFd < 0)
            return false;
        m_requestFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_requestFd < 0) {
            const int error = errno;
            closeFd(m_closeFd);
            errno = error;
            return false;
        }
        m_closeSignalled.store(false);
        return true;
    }

    void signalClose() override
    {
        m_closeSignalled.store(true);
        if (m_closeFd >= 0)
            signalEventFd(m_closeFd);
    }

    bool closeSignalled() const override { return m_closeSignalled.load(); }

    void close() override
    {
        if (m_fd >= 0) {
            if (m_exclusive)
                ioctl(m_fd, TIOCNXCL);
            if (m_locked)
                flock(m_fd, LOCK_UN);
        }
        m_exclusive = false;
        m_locked = false;
        closeFd(m_fd);
        closeFd(m_closeFd);
        closeFd(m_requestFd);
    }

    void enterThread(ThreadRole role) override
    {
        pthread_setname_np(pthread_self(), role == ThreadRole::Reader ? "nxserial-read" : "nxserial-write");
        // Reading first, writing next, both ahead of ordinary threads; without
        // the privilege to raise priority the default one is kept.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), role == ThreadRole::Reader ? -2 : -1);
    }

    bool startReading() override
    {
        m_chunk.start();
        m_emptyReads = 0;
        if (m_transport) {
            m_transport->setReaderActive(true);
            return true;
        }
        m_countersOk = ioctl(m_fd, TIOCGICOUNT, &m_counters) == 0;
        if (m_countersOk)
            return m_modem.start(m_fd);
        return true;
    }

    ReadResult read(uint8_t *buffer, size_t capacity) override;

    void stopReading() override
    {
        m_modem.stop();
        if (m_transport)
            m_transport->setReaderActive(false);
    }

    void notifyRequest() override
    {
        if (m_requestFd >= 0)
            signalEventFd(m_requestFd);
    }

    WakeReason waitForRequest() override
    {
        for (;;) {
            pollfd fds[2] = {{m_closeFd, POLLIN, 0}, {m_requestFd, POLLIN, 0}};
            if (ppoll(fds, 2, nullptr, nullptr) < 0) {
                if (errno == EINTR)
                    continue;
                return WakeReason::Failed;
            }
            if (fds[0].revents != 0)
                return WakeReason::Closed;
            if (fds[1].revents & POLLIN) {
                drainEventFd(m_requestFd);
                return WakeReason::Request;
            }
            if (fds[1].revents != 0)
                return WakeReason::Failed;
        }
    }

    IoStatus write(const uint8_t *data, size_t length) override
    {
        if (m_transport) {
            const std::vector<uint8_t> &wire = m_transport->encode(data, length);
            data = wire.data();
            length = wire.size();
        }
        size_t offset = 0;
        while (offset < length) {
            const ssize_t n = m_transport ? m_transport->send(m_fd, data + offset, length - offset)
                                          : ::write(m_fd, data + offset, length - offset);
            if (n > 0) {
                offset += static_cast<size_t>(n);
                continue;
            }
            if (n == 0)
                return IoStatus::Failed;
            if (errno == EINTR)
                continue;
            if (errno == EBADF)
                return IoStatus::Quiet;
            if (errno != EAGAIN)
                return IoStatus::Failed;

            pollfd fds[2] = {{m_closeFd, POLLIN, 0}, {m_fd, POLLOUT, 0}};
            if (ppoll(fds, 2, nullptr, nullptr) < 0) {
                if (errno == EINTR)
                    continue;
                return IoStatus::Failed;
            }
            if (fds[0].revents != 0)
                return IoStatus::Closed;
            if (fds[1].revents & POLLNVAL)
                return IoStatus::Quiet;
            if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT))
                return IoStatus::Failed;
        }
        return IoStatus::Ok;
    }

private:
    OpenResult fail(OpenStatus status, int error)
    {
        close();
        return {status, error};
    }

    void requestLowLatency()
    {
        serial_struct ss {};
        if (ioctl(m_fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
            ss.flags |= ASYNC_LOW_LATENCY;
            ioctl(m_fd, TIOCSSERIAL, &ss);
        }
    }

    // RS485 direction control by the driver, where it has it.
    void setRs485(bool enable)
    {
        serial_rs485 rs {};
        if (ioctl(m_fd, TIOCGRS485, &rs) != 0) {
            m_rs485 = false;
            return;
        }
        const bool on = rs.flags & SER_RS485_ENABLED;
        if (on != enable) {
            if (enable) {
                rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
                rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
            } else {
                rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
            }
            if (ioctl(m_fd, TIOCSRS485, &rs) != 0) {
                m_rs485 = false;
                return;
            }
        }
        m_rs485 = enable;
    }

    // Error bits for line errors counted by the driver since the last look.
    uint32_t lineErrors()
    {
        if (!m_countersOk)
            return 0;
        serial_icounter_struct now {};
        if (ioctl(m_fd, TIOCGICOUNT, &now) != 0) {
            m_countersOk = false;
            return 0;
        }
        uint32_t bits = 0;
        if (now.frame != m_counters.frame)
            bits |= ErrFrame;
        if (now.parity != m_counters.parity)
            bits |= ErrParity;
        if (now.overrun != m_counters.overrun)
            bits |= ErrOverrun;
        if (now.brk != m_counters.brk)
            bits |= ErrBreak;
        if (now.buf_overrun != m_counters.buf_overrun)
            bits |= ErrRxOver;
        m_counters = now;
        return bits;
    }

    std::unique_ptr<StreamTransport> m_transport; // none for a tty
    int m_fd = -1;
    int m_closeFd = -1;   // signalled once, never reset: "manual reset"
    int m_requestFd = -1; // reset by the writer each time it wakes
    bool m_locked = false;
    bool m_exclusive = false;
    bool m_rs485 = false;
    std::atomic<bool> m_closeSignalled{false};
    ReadChunk m_chunk;

    // Read thread only.
    int m_emptyReads = 0;
    bool m_countersOk = false;
    serial_icounter_struct m_counters {};
    ModemWatcher m_modem;
};

// One read: complete when the buffer is full, when more than the interval
// time passes after a byte, or when the total time runs out with data; a
// total time-out without data re-arms. Without any byte it never completes.
ReadResult PosixPort::read(uint8_t *buffer, size_t capacity)
{
    ReadResult r;
    if (m_chunk.endDue(r))
        return r;
    for (;;) {
        const ReadChunk::Next next = m_chunk.next(capacity);
        if (next.deliver)
            return m_chunk.deliver(r);
        timespec ts{};
        timespec *timeout = nullptr;
        if (next.wait) {
            ts = toTimespec(*next.wait);
            timeout = &ts;
        }

        pollfd fds[3] = {{m_closeFd, POLLIN, 0}, {m_fd, POLLIN, 0}, {m_modem.eventFd(), POLLIN, 0}};
        const nfds_t count = m_modem.eventFd() >= 0 ? 3 : 2;
        if (ppoll(fds, count, timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            return m_chunk.end(r, IoStatus::Failed);
        }
        if (fds[0].revents != 0)
            return m_chunk.closed(r);
        if (count == 3 && (fds[2].revents & POLLIN)) {
            r.modem |= m_modem.take();
            if (r.modem != 0)
                return r; // the partial chunk stays in the buffer
        }
        const short events = fds[1].revents;
        if (events == 0)
            continue;
        if (events & POLLNVAL)
            return m_chunk.end(r, IoStatus::Quiet);

        const ssize_t got = ::read(m_fd, buffer + m_chunk.collected, capacity - m_chunk.collected);
        if (got > 0) {
            uint8_t *begin = buffer + m_chunk.collected;
            size_t kept = static_cast<size_t>(got);
            if (m_transport)
                kept = m_transport->received(m_fd, begin, kept);
            m_chunk.add(begin, kept);
            m_emptyReads = 0;
            r.errors |= lineErrors();
            if (m_chunk.collected == capacity)
                return m_chunk.deliver(r);
            if (r.errors != 0 && m_chunk.collected == 0)
                return r;
            continue;
        }
        if (got == 0) {
            // Readable but nothing to read: the device is gone. A single one
            // without POLLHUP can also be a purge racing the read, so that
            // needs confirming; a hung-up tty answers 0 every time.
            if ((events & (POLLHUP | POLLERR)) || ++m_emptyReads >= 3)
                return m_chunk.end(r, IoStatus::Failed);
            continue;
        }
        if (errno == EAGAIN || errno == EINTR) {
            if (events & (POLLHUP | POLLERR))
                return m_chunk.end(r, IoStatus::Failed);
            continue;
        }
        return m_chunk.end(r, errno == EBADF ? IoStatus::Quiet : IoStatus::Failed);
    }
}

} // namespace

std::unique_ptr<PortBackend> createPortBackend()
{
    return std::make_unique<PosixPort>();
}

std::unique_ptr<PortBackend> createStreamPortBackend(std::unique_ptr<StreamTransport> transport)
{
    return std::make_unique<PosixPort>(std::move(transport));
}

} // namespace detail
} // namespace SerialComm
