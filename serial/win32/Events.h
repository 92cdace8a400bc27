// SPDX-License-Identifier: GPL-3.0-or-later
// The event handles and thread settings every Windows port backend shares:
// the close event both threads wait on, the writer's request wake-up and its
// overlapped-write event.
#pragma once

#include "../PortBackend.h"

#include <atomic>
#include <cerrno>

#include <windows.h>

namespace SerialComm::detail::win32 {

inline void closeHandle(HANDLE &h)
{
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

struct PortEvents {
    HANDLE close = nullptr;      // manual reset; signalled once per open
    HANDLE request = nullptr;    // auto reset; a request was queued
    HANDLE writeEvent = nullptr; // the writer's overlapped event
    std::atomic<bool> closing{false};

    // False with the system's code in errno (the seam's convention).
    bool create()
    {
        closing.store(false);
        close = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        request = close ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
        writeEvent = request ? CreateEventW(nullptr, TRUE, TRUE, nullptr) : nullptr;
        if (writeEvent)
            return true;
        const int error = static_cast<int>(GetLastError());
        release();
        errno = error;
        return false;
    }
    void signalClose()
    {
        closing.store(true);
        if (close)
            SetEvent(close);
    }
    void notify() const
    {
        if (request)
            SetEvent(request);
    }
    void release()
    {
        closeHandle(close);
        closeHandle(request);
        closeHandle(writeEvent);
    }

    WakeReason waitForRequest() const
    {
        HANDLE handles[2] = {close, request};
        switch (WaitForMultipleObjects(2, handles, FALSE, INFINITE)) {
        case WAIT_OBJECT_0: return WakeReason::Closed;
        case WAIT_OBJECT_0 + 1: return WakeReason::Request;
        default: return WakeReason::Failed;
        }
    }

    // Until the overlapped write on `writeEvent` ends (true) or closing starts.
    bool waitForWrite(bool &closing) const
    {
        HANDLE handles[2] = {close, writeEvent};
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        closing = woke == WAIT_OBJECT_0;
        return woke == WAIT_OBJECT_0 + 1;
    }
};

// Reading first, writing next, both ahead of ordinary threads.
inline void enterThread(ThreadRole role)
{
    SetThreadPriority(GetCurrentThread(),
                      role == ThreadRole::Reader ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_ABOVE_NORMAL);
}

} // namespace SerialComm::detail::win32
