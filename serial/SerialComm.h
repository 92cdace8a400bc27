// SPDX-License-Identifier: GPL-3.0-or-later
// Serial port component: one port, a read thread and a write thread.
// All properties, OpenPort/ClosePort/SendData and every event run on the
// owner's thread; the component's threads only post notifications to it.
// Errors: OpenPort throws ECommsError; SendData returns false and never blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace SerialComm {

// The system's own description of an error code of this platform (errno on
// POSIX, a GetLastError() code on Windows).
std::string systemErrorText(int error);

// Raised by OpenPort. what() is the fixed message; systemError() carries the
// system's error code behind it (0 when there is none) and reason() its text,
// so a window can add the reason.
class ECommsError : public std::runtime_error {
public:
    explicit ECommsError(const std::string &message, int systemError = 0)
        : std::runtime_error(message), m_errno(systemError) {}
    int systemError() const noexcept { return m_errno; }
    std::string reason() const { return m_errno != 0 ? systemErrorText(m_errno) : std::string(); }

private:
    int m_errno;
};

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

// The owner-thread notification channel. post() may be called from any
// thread and must not wait for the owner; the owner runs the tasks on its
// own thread in posting order. Returns false when the task cannot be queued.
class OwnerQueue {
public:
    virtual ~OwnerQueue() = default;
    virtual bool post(std::function<void()> task) = 0;
};

// Notification codes, as posted by the threads.
enum : uint32_t {
    NotifyReceiveData = 0x0401,
    NotifyReceiveError = 0x0402,
    NotifyRequestHangup = 0x0403,
    NotifyModemStateChange = 0x0404,
    NotifySendDataEmpty = 0x0405,
};

// Modem bits of OnModemStateChange.
enum : uint32_t { ModemCarrierChange = 8, ModemRing = 4 };

// Error bits of OnReceiveError (same values as the classic comm error flags).
enum : uint32_t { ErrRxOver = 0x0001, ErrOverrun = 0x0002, ErrParity = 0x0004, ErrFrame = 0x0008, ErrBreak = 0x0010 };

class TComm;
using TReceiveDataEvent = std::function<void(TComm *Sender, const uint8_t *Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm *Sender, uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm *Sender, uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(TComm *Sender)>;
using TSendDataEmptyEvent = std::function<void(TComm *Sender)>;

class TComm {
public:
    explicit TComm(std::shared_ptr<OwnerQueue> notifyWindow);
    ~TComm(); // closes an open port first
    TComm(const TComm &) = delete;
    TComm &operator=(const TComm &) = delete;

    void OpenPort();  // throws ECommsError
    void ClosePort(); // no-op when closed
    bool SendData(const void *data, uint16_t length);
    bool IsOpen() const;

    // Properties: setters with an equal value do nothing; a new value is stored
    // and, while open, reapplied to the port (CommName and Parity: stored only).
    const std::string &CommName() const;
    void SetCommName(const std::string &v);
    uint32_t BaudRate() const;
    void SetBaudRate(uint32_t v);
    bool ParityCheck() const;
    void SetParityCheck(bool v);
    bool Outx_CtsFlow() const;
    void SetOutx_CtsFlow(bool v);
    bool Outx_DsrFlow() const;
    void SetOutx_DsrFlow(bool v);
    TDtrControl DtrControl() const;
    void SetDtrControl(TDtrControl v);
    bool DsrSensitivity() const;
    void SetDsrSensitivity(bool v);
    bool TxContinueOnXoff() const;
    void SetTxContinueOnXoff(bool v);
    bool Outx_XonXoffFlow() const;
    void SetOutx_XonXoffFlow(bool v);
    bool Inx_XonXoffFlow() const;
    void SetInx_XonXoffFlow(bool v);
    bool ReplaceWhenParityError() const;
    void SetReplaceWhenParityError(bool v);
    bool IgnoreNullChar() const;
    void SetIgnoreNullChar(bool v);
    TRtsControl RtsControl() const;
    void SetRtsControl(TRtsControl v);
    uint16_t XonLimit() const;
    void SetXonLimit(uint16_t v);
    uint16_t XoffLimit() const;
    void SetXoffLimit(uint16_t v);
    TByteSize ByteSize() const;
    void SetByteSize(TByteSize v);
    TParity Parity() const;
    void SetParity(TParity v);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits v);
    char XonChar() const;
    void SetXonChar(char v);
    char XoffChar() const;
    void SetXoffChar(char v);
    char ReplacedChar() const;
    void SetReplacedChar(char v);
    uint32_t ReadIntervalTimeout() const;
    void SetReadIntervalTimeout(uint32_t v);
    uint32_t ReadTotalTimeoutMultiplier() const;
    void SetReadTotalTimeoutMultiplier(uint32_t v);
    uint32_t ReadTotalTimeoutConstant() const;
    void SetReadTotalTimeoutConstant(uint32_t v);
    uint32_t WriteTotalTimeoutMultiplier() const;
    void SetWriteTotalTimeoutMultiplier(uint32_t v);
    uint32_t WriteTotalTimeoutConstant() const;
    void SetWriteTotalTimeoutConstant(uint32_t v);

    // Events, run on the owner's thread; each fires only if assigned.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace SerialComm
