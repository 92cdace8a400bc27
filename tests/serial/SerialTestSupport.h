// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the serial tests: an owner queue run by the test thread,
// an event recorder, a real pseudo-terminal pair and process probes.
#pragma once

#include "DeviceLink.h"
#include "SerialComm.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace SerialTest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The test thread plays the owner: tasks posted by the component's threads
// wait here until the test runs them.
class TestOwnerQueue : public SerialComm::OwnerQueue {
public:
    bool post(std::function<void()> task) override;

    // Runs tasks on the calling thread until done() holds or the time is up.
    bool runUntil(const std::function<bool()> &done, milliseconds timeout);
    // Runs tasks until `count` tasks have run since construction.
    bool waitTasks(size_t count, milliseconds timeout);
    // Runs whatever arrives during `period`.
    void runFor(milliseconds period);

    size_t posted() const;
    size_t ran() const;
    // When the task now running (or last run) was posted.
    Clock::time_point currentPostTime() const { return m_current; }
    void setAccepting(bool accepting);

private:
    struct Item {
        Clock::time_point postedAt;
        std::function<void()> task;
    };
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Item> m_items;
    size_t m_posted = 0;
    size_t m_ran = 0;
    bool m_accepting = true;
    Clock::time_point m_current{};
};

// Records what a component reports.
struct EventLog {
    struct Chunk {
        std::vector<uint8_t> bytes;
        Clock::time_point postedAt;
        bool zeroAfterData = false;
    };
    std::vector<Chunk> chunks;
    std::vector<uint32_t> errors;
    std::vector<uint32_t> modem;
    int hangups = 0;
    int sendEmpty = 0;
    bool wrongSender = false;

    void attach(SerialComm::TComm &comm, TestOwnerQueue &queue);
    size_t receivedBytes() const;
    std::vector<uint8_t> allBytes() const;
};

// A pseudo-terminal: the component opens the slave by its path, the test
// plays the device on the master. A second slave descriptor stays open so the
// master keeps working while the component is closed, and so the test can
// read the line settings back.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return m_master >= 0 && m_keeper >= 0; }
    const std::string &slavePath() const { return m_slavePath; }
    int master() const { return m_master; }
    int slaveKeeper() const { return m_keeper; }

    bool writeMaster(const void *data, size_t length, milliseconds timeout = milliseconds(5000));
    bool writeMaster(const std::string &text) { return writeMaster(text.data(), text.size()); }
    // Reads until `count` bytes arrived or the time is up.
    std::vector<uint8_t> readMaster(size_t count, milliseconds timeout);
    // Reads until nothing arrives for `quiet`.
    std::vector<uint8_t> drainMaster(milliseconds quiet);
    void closeMaster();

private:
    int m_master = -1;
    int m_keeper = -1;
    std::string m_slavePath;
};

// Line settings as the driver holds them (termios2).
struct LineState {
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
    unsigned iflag = 0;
    unsigned oflag = 0;
    unsigned cflag = 0;
    unsigned lflag = 0;
    uint8_t vstart = 0;
    uint8_t vstop = 0;
    uint8_t vmin = 0;
    uint8_t vtime = 0;
};
bool readLineState(int fd, LineState &state);
bool readLineView(int fd, LineView &view);
// Changes the speed behind the component's back.
bool setLineSpeed(int fd, uint32_t baud);
unsigned cbaudMask();
unsigned botherValue();

int countOpenFds();
int countThreads();
#ifdef _WIN32
// CPU seconds of the whole process (natively the suite counts per thread).
double processCpuSeconds();
#endif
// Polls `value` until it equals `expected` or the time is up; returns the last value.
int settle(const std::function<int()> &value, int expected, milliseconds timeout);
// The fewest threads seen over `over`: a thread already joined stays listed
// until the kernel reaps it, so one count may include it.
int fewestThreads(milliseconds over);

// A component on the pty, with XON/XOFF off so that every byte value passes.
void configureForPty(SerialComm::TComm &comm, const PtyPair &pty);
std::vector<uint8_t> pattern(size_t length, unsigned seed = 0);

// The usual test set-up: a pty, the owner queue, a component configured for
// the pty and a log attached to it (members in that order of construction).
struct PortRig {
    PtyPair pty;
    std::shared_ptr<TestOwnerQueue> queue = std::make_shared<TestOwnerQueue>();
    EventLog log;
    SerialComm::TComm comm{queue};

    PortRig()
    {
        log.attach(comm, *queue);
        configureForPty(comm, pty);
    }
};

} // namespace SerialTest
