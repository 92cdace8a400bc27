// SPDX-License-Identifier: GPL-3.0-or-later
// Windows port backend: a COM port opened for overlapped I/O. The reader
// waits on the close event, a WaitCommEvent for line errors and modem
// changes, and a ReadFile whose chunking the driver does by COMMTIMEOUTS; the
// writer waits on the close event and its overlapped WriteFile.
#include "../PortBackend.h"
#include "../net/NetName.h"
#include "ComName.h"
#include "Events.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <limits>

#include <windows.h>

namespace SerialComm {

std::string systemErrorText(int error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t *>(&text),
                                        0, nullptr);
    std::string out;
    if (length > 0 && text) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            out.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr, nullptr);
        }
    }
    if (text)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.empty())
        out = "Windows error " + std::to_string(static_cast<unsigned long>(error));
    return out;
}

namespace detail {

namespace {

constexpr DWORD CommEvents = EV_RLSD | EV_ERR | EV_RING;

int lastError()
{
    return static_cast<int>(GetLastError());
}

using win32::closeHandle;

// A failed transfer: the handle closed underneath ends quietly.
IoStatus failure(DWORD error)
{
    return error == ERROR_INVALID_HANDLE ? IoStatus::Quiet : IoStatus::Failed;
}

class Win32Port final : public PortBackend {
public:
    ~Win32Port() override { close(); }

    OpenResult open(const std::string &name) override
    {
        const std::wstring path = widen(devicePathFor(name));
        m_port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (m_port == INVALID_HANDLE_VALUE) {
            m_port = nullptr;
            const int error = lastError();
            return {OpenStatus::OpenFailed, error != 0 ? error : int(ERROR_FILE_NOT_FOUND)};
        }
        if (GetFileType(m_port) != FILE_TYPE_CHAR) {
            closeHandle(m_port);
            return {OpenStatus::NotComm, int(ERROR_BAD_DEVICE)};
        }
        if (!SetupComm(m_port, 4096, 4096)) {
            const int error = lastError();
            closeHandle(m_port);
            return {OpenStatus::SetupFailed, error};
        }
        return {};
    }

    void purge(unsigned flags) override
    {
        if (m_port)
            PurgeComm(m_port, flags); // the seam's flags are the PURGE_* values
    }

    bool applyLineSettings(const LineSettings &s) override
    {
        m_ignoreNull.store(s.ignoreNullChar);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_port, &dcb);

        dcb.BaudRate = s.baudRate;
        // The flag word is rebuilt from zero.
        dcb.fBinary = TRUE;
        dcb.fParity = s.parityCheck;
        dcb.fOutxCtsFlow = s.outxCtsFlow;
        dcb.fOutxDsrFlow = s.outxDsrFlow;
        switch (s.dtrControl) {
        case TDtrControl::DtrEnable: dcb.fDtrControl = DTR_CONTROL_ENABLE; break;
        case TDtrControl::DtrDisable: dcb.fDtrControl = DTR_CONTROL_DISABLE; break;
        case TDtrControl::DtrHandshake: dcb.fDtrControl = DTR_CONTROL_HANDSHAKE; break;
        }
        dcb.fDsrSensitivity = s.dsrSensitivity;
        dcb.fTXContinueOnXoff = s.txContinueOnXoff;
        dcb.fOutX = s.outxXonXoffFlow;
        dcb.fInX = s.inxXonXoffFlow;
        dcb.fErrorChar = s.replaceWhenParityError;
        dcb.fNull = s.ignoreNullChar;
        switch (s.rtsControl) {
        case TRtsControl::RtsEnable: dcb.fRtsControl = RTS_CONTROL_ENABLE; break;
        case TRtsControl::RtsDisable: dcb.fRtsControl = RTS_CONTROL_DISABLE; break;
        case TRtsControl::RtsHandshake: dcb.fRtsControl = RTS_CONTROL_HANDSHAKE; break;
        case TRtsControl::RtsTransmissionAvailable: dcb.fRtsControl = RTS_CONTROL_TOGGLE; break;
        }
        dcb.fAbortOnError = FALSE;
        dcb.XonLim = s.xonLimit;
        dcb.XoffLim = s.xoffLimit;
        dcb.ByteSize = static_cast<BYTE>(static_cast<int>(s.byteSize) + 5);
        dcb.Parity = static_cast<BYTE>(s.parity);     // NOPARITY .. SPACEPARITY
        dcb.StopBits = static_cast<BYTE>(s.stopBits); // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        dcb.XonChar = s.xonChar;
        dcb.XoffChar = s.xoffChar;
        dcb.ErrorChar = s.replacedChar;
        // EofChar and EvtChar keep the port's values.

        // The seam hands the system's code on through errno.
        if (!SetCommState(m_port, &dcb)) {
            errno = lastError();
            return false;
        }
        // A driver that cannot do the rate may quietly keep another one
        // (Wine sets 38400 for a rate it has no constant for).
        DCB now{};
        now.DCBlength = sizeof now;
        if (GetCommState(m_port, &now) && now.BaudRate != dcb.BaudRate) {
            errno = ERROR_INVALID_PARAMETER;
            return false;
        }
        return true;
    }

    void applyTimeouts(const Timeouts &t) override
    {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = t.readInterval;
        ct.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
        ct.ReadTotalTimeoutConstant = t.readTotalConstant;
        ct.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
        ct.WriteTotalTimeoutConstant = t.writeTotalConstant;
        // "Return at once with what is there" would complete reads without
        // data over and over; instead wait for the first byte and return
        // when the line pauses. (Windows' own "first byte, then what is
        // there" setting, MAXDWORD/MAXDWORD/constant, Wine does not know.)
        if (ct.ReadIntervalTimeout == MAXDWORD && ct.ReadTotalTimeoutMultiplier == 0
            && ct.ReadTotalTimeoutConstant == 0)
            ct.ReadIntervalTimeout = 1;
        SetCommTimeouts(m_port, &ct);
    }

    bool createCloseEvent() override { return m_ev.create(); }
    void signalClose() override { m_ev.signalClose(); }
    bool closeSignalled() const override { return m_ev.closing.load(); }

    void close() override
    {
        closeHandle(m_port);
        m_ev.release();
    }

    void enterThread(ThreadRole role) override { win32::enterThread(role); }

    bool startReading() override
    {
        m_readEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        m_waitEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        if (!m_readEvent || !m_waitEvent)
            return false;
        m_readPending = false;
        m_waitPending = false;
        m_events = SetCommMask(m_port, CommEvents) ? EventState::Untried : EventState::Failed;
        return m_events != EventState::Failed;
    }

    ReadResult read(uint8_t *buffer, size_t capacity) override;

    void stopReading() override
    {
        // The overlapped structures and the buffer must not be in use by the
        // driver once the thread is gone.
        if (m_readPending || m_waitPending) {
            CancelIo(m_port);
            DWORD n = 0;
            if (m_readPending)
                GetOverlappedResult(m_port, &m_readOv, &n, TRUE);
            if (m_waitPending)
                GetOverlappedResult(m_port, &m_waitOv, &n, TRUE);
            m_readPending = m_waitPending = false;
        }
        closeHandle(m_readEvent);
        closeHandle(m_waitEvent);
    }

    void notifyRequest() override { m_ev.notify(); }

    WakeReason waitForRequest() override { return m_ev.waitForRequest(); }

    IoStatus write(const uint8_t *data, size_t length) override
    {
        size_t offset = 0;
        while (offset < length) {
            OVERLAPPED ov{};
            ov.hEvent = m_ev.writeEvent;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - offset, MAXDWORD));
            DWORD written = 0;
            if (!WriteFile(m_port, data + offset, chunk, &written, &ov)) {
                const DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING)
                    return failure(error);
                bool closing = false;
                if (!m_ev.waitForWrite(closing)) {
                    // Closing, or the wait failed: the request copy is freed
                    // after this returns, so the write must be over first.
                    CancelIo(m_port);
                    GetOverlappedResult(m_port, &ov, &written, TRUE);
                    return closing ? IoStatus::Closed : IoStatus::Failed;
                }
                if (!GetOverlappedResult(m_port, &ov, &written, TRUE))
                    return failure(GetLastError());
            }
            offset += written; // a short (timed-out) write continues with the rest
        }
        return IoStatus::Ok;
    }

private:
    // Whether the driver supports comm events. Some (Wine on a pseudo-
    // terminal) refuse the first WaitCommEvent; the reader then goes on with
    // reads alone, which still see a lost device.
    enum class EventState { Untried, Working, Failed, Unsupported };

    IoStatus armWait(ReadResult &r, bool &got);
    bool handleMask(ReadResult &r);
    IoStatus waitFailed(DWORD error);
    size_t keep(uint8_t *data, size_t count) const
    {
        if (!m_ignoreNull.load())
            return count;
        // The driver normally drops NULs itself (fNull); Wine's does not.
        return static_cast<size_t>(std::remove(data, data + count, uint8_t{0}) - data);
    }

    HANDLE m_port = nullptr;
    win32::PortEvents m_ev;
    std::atomic<bool> m_ignoreNull{false};

    // Read thread only.
    HANDLE m_readEvent = nullptr;
    HANDLE m_waitEvent = nullptr;
    OVERLAPPED m_readOv{};
    OVERLAPPED m_waitOv{};
    DWORD m_mask = 0;
    bool m_readPending = false;
    bool m_waitPending = false;
    EventState m_events = EventState::Untried;
};

IoStatus Win32Port::waitFailed(DWORD error)
{
    if (error == ERROR_INVALID_HANDLE)
        return IoStatus::Quiet;
    if (m_events == EventState::Untried) {
        m_events = EventState::Unsupported;
        return IoStatus::Ok;
    }
    return IoStatus::Failed;
}

// Line error and modem bits of a completed event wait; false when the mask
// holds nothing the reader asked for, or the errors cannot be read.
bool Win32Port::handleMask(ReadResult &r)
{
    if (m_mask & EV_ERR) {
        DWORD errors = 0;
        if (!ClearCommError(m_port, &errors, nullptr)) {
            r.status = failure(GetLastError());
            return false;
        }
        r.errors |= errors;
    }
    if (m_mask & EV_RLSD)
        r.modem |= ModemCarrierChange;
    if (m_mask & EV_RING)
        r.modem |= ModemRing;
    if (!(m_mask & EV_ERR) && r.modem == 0) {
        r.status = IoStatus::Failed;
        return false;
    }
    m_events = EventState::Working;
    return true;
}

// Starts WaitCommEvent until one is pending; `got` tells that an event
// completed at once and is in `r`.
IoStatus Win32Port::armWait(ReadResult &r, bool &got)
{
    got = false;
    if (m_events == EventState::Unsupported || m_waitPending)
        return IoStatus::Ok;
    m_waitOv = OVERLAPPED{};
    m_waitOv.hEvent = m_waitEvent;
    m_mask = 0;
    if (WaitCommEvent(m_port, &m_mask, &m_waitOv)) {
        if (!handleMask(r))
            return r.status;
        got = true;
        return IoStatus::Ok;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        m_waitPending = true;
        return IoStatus::Ok;
    }
    return waitFailed(error);
}

ReadResult Win32Port::read(uint8_t *buffer, size_t capacity)
{
    ReadResult r;
    for (;;) {
        if (m_ev.closing.load()) {
            r.status = IoStatus::Closed;
            return r;
        }
        bool got = false;
        r.status = armWait(r, got);
        if (r.status != IoStatus::Ok || got)
            return r;

        if (!m_readPending) {
            m_readOv = OVERLAPPED{};
            m_readOv.hEvent = m_readEvent;
            DWORD n = 0;
            if (ReadFile(m_port, buffer, static_cast<DWORD>(capacity), &n, &m_readOv)) {
                r.count = keep(buffer, n);
                if (r.count > 0)
                    return r;
                continue; // a total time-out without data: arm again
            }
            const DWORD error = GetLastError();
            if (error == ERROR_TIMEOUT) {
                r.count = keep(buffer, n);
                if (r.count > 0)
                    return r;
                continue;
            }
            if (error != ERROR_IO_PENDING) {
                r.status = failure(error);
                return r;
            }
            m_readPending = true;
        }

        HANDLE handles[3] = {m_ev.close, m_readEvent, m_waitEvent};
        const DWORD count = m_waitPending ? 3 : 2;
        // Close first, then the event wait, then the read.
        if (m_waitPending)
            std::swap(handles[1], handles[2]);
        const DWORD woke = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            r.status = IoStatus::Closed;
            return r;
        }
        if (woke >= WAIT_OBJECT_0 + count) {
            r.status = IoStatus::Failed;
            return r;
        }
        DWORD n = 0;
        if (handles[woke - WAIT_OBJECT_0] == m_waitEvent) {
            m_waitPending = false;
            if (!GetOverlappedResult(m_port, &m_waitOv, &n, FALSE)) {
                r.status = waitFailed(GetLastError());
                if (r.status != IoStatus::Ok)
                    return r;
                continue;
            }
            handleMask(r);
            return r;
        }
        m_readPending = false;
        if (!GetOverlappedResult(m_port, &m_readOv, &n, FALSE)) {
            const DWORD error = GetLastError();
            if (error != ERROR_TIMEOUT) {
                // A purge aborts a pending read; only closing purges.
                r.status = error == ERROR_OPERATION_ABORTED && m_ev.closing.load() ? IoStatus::Closed
                                                                                       : failure(error);
                return r;
            }
            // Wine ends a read at its total time-out with ERROR_TIMEOUT
            // where Windows reports success: either way it holds `n` bytes.
        }
        r.count = keep(buffer, n);
        if (r.count > 0)
            return r;
    }
}

} // namespace

std::unique_ptr<PortBackend> createPortBackend()
{
    return std::make_unique<Win32Port>();
}

} // namespace detail

} // namespace SerialComm
