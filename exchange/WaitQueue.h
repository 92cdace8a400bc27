// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component's owner queue for a program without an event loop:
// the component's threads post, the program's thread runs the tasks while it
// waits for an answer, sleeping in a condition variable in between.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "SerialComm.h"

namespace exchange {

class WaitQueue : public SerialComm::OwnerQueue {
public:
    bool post(std::function<void()> task) override; // any thread

    // Owner thread: runs posted tasks in order until done() holds or the
    // deadline passes. Returns done()'s last value.
    bool runUntil(const std::function<bool()> &done, std::chrono::steady_clock::time_point deadline);
    // Owner thread: runs whatever is queued now, without waiting.
    void runPending();

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace exchange
