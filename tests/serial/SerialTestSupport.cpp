// SPDX-License-Identifier: GPL-3.0-or-later
#include "SerialTestSupport.h"

#include <algorithm>
#include <thread>

namespace SerialTest {

bool TestOwnerQueue::post(std::function<void()> task)
{
    std::lock_guard lock(m_mutex);
    if (!m_accepting)
        return false;
    m_items.push_back({Clock::now(), std::move(task)});
    ++m_posted;
    m_cv.notify_all();
    return true;
}

bool TestOwnerQueue::runUntil(const std::function<bool()> &done, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false; // a steady stream of tasks must not keep us here
        Item item;
        {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_until(lock, deadline, [this] { return !m_items.empty(); }))
                return done();
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        m_current = item.postedAt;
        item.task();
        item.task = nullptr; // frees what the task owns before it counts as run
        std::lock_guard lock(m_mutex);
        ++m_ran;
    }
}

bool TestOwnerQueue::waitTasks(size_t count, milliseconds timeout)
{
    return runUntil([this, count] { return ran() >= count; }, timeout);
}

void TestOwnerQueue::runFor(milliseconds period)
{
    runUntil([] { return false; }, period);
}

size_t TestOwnerQueue::posted() const
{
    std::lock_guard lock(m_mutex);
    return m_posted;
}

size_t TestOwnerQueue::ran() const
{
    std::lock_guard lock(m_mutex);
    return m_ran;
}

void TestOwnerQueue::setAccepting(bool accepting)
{
    std::lock_guard lock(m_mutex);
    m_accepting = accepting;
}

void EventLog::attach(SerialComm::TComm &comm, TestOwnerQueue &queue)
{
    SerialComm::TComm *expected = &comm;
    comm.OnReceiveData = [this, &queue, expected](SerialComm::TComm *sender, const uint8_t *buffer, uint16_t length) {
        wrongSender |= sender != expected;
        chunks.push_back({std::vector<uint8_t>(buffer, buffer + length), queue.currentPostTime(), buffer[length] == 0});
    };
    comm.OnReceiveError = [this, expected](SerialComm::TComm *sender, uint32_t bits) {
        wrongSender |= sender != expected;
        errors.push_back(bits);
    };
    comm.OnModemStateChange = [this, expected](SerialComm::TComm *sender, uint32_t bits) {
        wrongSender |= sender != expected;
        modem.push_back(bits);
    };
    comm.OnRequestHangup = [this, expected](SerialComm::TComm *sender) {
        wrongSender |= sender != expected;
        ++hangups;
    };
    comm.OnSendDataEmpty = [this, expected](SerialComm::TComm *sender) {
        wrongSender |= sender != expected;
        ++sendEmpty;
    };
}

size_t EventLog::receivedBytes() const
{
    size_t total = 0;
    for (const auto &c : chunks)
        total += c.bytes.size();
    return total;
}

std::vector<uint8_t> EventLog::allBytes() const
{
    std::vector<uint8_t> all;
    for (const auto &c : chunks)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

int settle(const std::function<int()> &value, int expected, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    int v = value();
    while (v != expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
        v = value();
    }
    return v;
}

int fewestThreads(milliseconds over)
{
    int fewest = countThreads();
    for (const auto until = Clock::now() + over; Clock::now() < until;) {
        std::this_thread::sleep_for(milliseconds(10));
        fewest = std::min(fewest, countThreads());
    }
    return fewest;
}

void configureForPty(SerialComm::TComm &comm, const PtyPair &pty)
{
    comm.SetCommName(pty.slavePath());
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
}

std::vector<uint8_t> pattern(size_t length, unsigned seed)
{
    std::vector<uint8_t> v(length);
    for (size_t i = 0; i < length; ++i)
        v[i] = static_cast<uint8_t>((i * 7 + seed + i / 256) & 0xFF);
    return v;
}

} // namespace SerialTest
