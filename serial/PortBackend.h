// SPDX-License-Identifier: GPL-3.0-or-later
// Private seam between TComm's logic and the operating system. Everything that
// touches the port, its waits or its threads' OS attributes lives behind this
// interface, one implementation per platform (posix/, win32/) and one for
// serial device servers on the network (net/).
#pragma once

#include "SerialComm.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace SerialComm::detail {

// A snapshot of the line properties, taken on the owner's thread.
struct LineSettings {
    uint32_t baudRate = 9600;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    TDtrControl dtrControl = TDtrControl::DtrEnable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = true;
    bool outxXonXoffFlow = true;
    bool inxXonXoffFlow = true;
    bool replaceWhenParityError = false;
    bool ignoreNullChar = false;
    TRtsControl rtsControl = TRtsControl::RtsEnable;
    uint16_t xonLimit = 500;
    uint16_t xoffLimit = 500;
    TByteSize byteSize = TByteSize::_8;
    TParity parity = TParity::None;
    TStopBits stopBits = TStopBits::_1;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char replacedChar = 0x00;
};

// Millisecond values with the classic comm time-out meaning.
struct Timeouts {
    uint32_t readInterval = 100;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

// Purge flags, classic comm values.
enum : unsigned { PurgeTxAbort = 0x1, PurgeRxAbort = 0x2, PurgeTxClear = 0x4, PurgeRxClear = 0x8 };

enum class OpenStatus { Ok, OpenFailed, NotComm, SetupFailed };
struct OpenResult {
    OpenStatus status = OpenStatus::Ok;
    int error = 0; // errno behind a failure
};

// How a wait or a transfer ended.
enum class IoStatus {
    Ok,
    Closed, // the close event was signalled: end without a notification
    Quiet,  // the handle went away underneath: end without a notification
    Failed, // anything else: the thread posts RequestHangup and ends
};

struct ReadResult {
    IoStatus status = IoStatus::Ok;
    size_t count = 0;    // bytes ready at the start of the caller's buffer
    uint32_t errors = 0; // line error bits seen (Err*)
    uint32_t modem = 0;  // modem bits seen (Modem*)
};

enum class WakeReason { Closed, Request, Failed };
enum class ThreadRole { Reader, Writer };

// One port. open/purge/apply*/createCloseEvent/signalClose/close are called on
// the owner's thread; the reader and writer members only on their own thread.
// signalClose may race with the threads' waits by design.
class PortBackend {
public:
    virtual ~PortBackend() = default;

    // Opens the device exclusively and checks it is a serial port.
    virtual OpenResult open(const std::string &name) = 0;
    virtual void purge(unsigned flags) = 0;
    // Returns false with errno set when the driver refuses the settings.
    virtual bool applyLineSettings(const LineSettings &settings) = 0;
    virtual void applyTimeouts(const Timeouts &timeouts) = 0;
    // Creates the (manual-reset, unsignalled) close event and the writer's
    // request wake-up. Returns false with errno set on failure.
    virtual bool createCloseEvent() = 0;
    virtual void signalClose() = 0;
    virtual bool closeSignalled() const = 0;
    // Releases the events and the port; safe to call more than once.
    virtual void close() = 0;

    // Applied by each thread to itself when it starts (name, priority).
    virtual void enterThread(ThreadRole role) = 0;

    // Read thread. startReading arms the line/modem event sources (false: the
    // thread posts RequestHangup). read() blocks until a chunk is complete,
    // an event is seen, or the thread must end; it may keep a partial chunk
    // in `buffer` between calls, so the caller passes the same buffer each
    // time and reads only the first `count` bytes of a result.
    virtual bool startReading() = 0;
    virtual ReadResult read(uint8_t *buffer, size_t capacity) = 0;
    virtual void stopReading() = 0;

    // Write thread. notifyRequest may be called from any thread after a
    // request was queued; waitForRequest blocks for it or for close.
    virtual void notifyRequest() = 0;
    virtual WakeReason waitForRequest() = 0;
    // Writes all bytes, continuing after short writes.
    virtual IoStatus write(const uint8_t *data, size_t length) = 0;
};

std::unique_ptr<PortBackend> createPortBackend();
// A port on a serial device server (tcp:// and rfc2217:// names).
std::unique_ptr<PortBackend> createNetPortBackend();

// OpenPort takes its backend from here when one is set (tests put a driver
// behind it that refuses what a pseudo-terminal accepts); an empty factory
// restores createPortBackend. Set it only while no component is opening.
using PortBackendFactory = std::function<std::unique_ptr<PortBackend>()>;
void setPortBackendFactory(PortBackendFactory factory);

} // namespace SerialComm::detail
