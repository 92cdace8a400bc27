// SPDX-License-Identifier: GPL-3.0-or-later
#include "WaitQueue.h"

namespace exchange {

bool WaitQueue::post(std::function<void()> task)
{
    {
        std::lock_guard g(m_lock);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

bool WaitQueue::runUntil(const std::function<bool()> &done, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        if (done())
            return true;
        std::function<void()> task;
        {
            std::unique_lock g(m_lock);
            if (!m_wake.wait_until(g, deadline, [this] { return !m_tasks.empty(); }))
                return done();
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        // Run outside the lock: a task may post again.
        task();
    }
}

void WaitQueue::runPending()
{
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard g(m_lock);
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace exchange
