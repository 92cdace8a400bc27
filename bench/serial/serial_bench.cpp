// SPDX-License-Identifier: GPL-3.0-or-later
// Measures TComm against a plain poll()+read() loop on the same kind of
// pseudo-terminal: throughput, request/reply round trip, how late a chunk
// ended by silence is handed over, and wake-ups of the component's threads
// while the port is idle.
#include "SerialComm.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace SerialComm;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The bench's main thread is the owner.
class Owner : public OwnerQueue {
public:
    bool post(std::function<void()> task) override
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(task));
        m_cv.notify_one();
        return true;
    }

    bool runUntil(const std::function<bool()> &done, milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                if (!m_cv.wait_until(lock, deadline, [this] { return !m_items.empty(); }))
                    return done();
                task = std::move(m_items.front());
                m_items.pop_front();
            }
            task();
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_items;
};

struct Pty {
    int master = -1;
    std::string slave;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("pty");
            std::exit(1);
        }
        char name[128];
        ptsname_r(master, name, sizeof name);
        slave = name;
    }
    ~Pty() { ::close(master); }
};

bool writeAll(int fd, const void *data, size_t length)
{
    const auto *p = static_cast<const uint8_t *>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, p, length);
        if (n > 0) {
            p += n;
            length -= size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            poll(&pfd, 1, -1);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

int openPlainSlave(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

std::unique_ptr<TComm> openComm(const std::shared_ptr<Owner> &owner, const std::string &path, uint32_t interval)
{
    auto comm = std::make_unique<TComm>(owner);
    comm->SetCommName(path);
    comm->SetBaudRate(115200);
    comm->SetOutx_XonXoffFlow(false);
    comm->SetInx_XonXoffFlow(false);
    comm->SetReadIntervalTimeout(interval);
    comm->OpenPort();
    return comm;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

// --- throughput -----------------------------------------------------------

constexpr size_t ThroughputBytes = 64u << 20;

std::thread feeder(int master, size_t total)
{
    return std::thread([master, total] {
        std::vector<uint8_t> block(65536);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i);
        size_t sent = 0;
        while (sent < total) {
            const size_t n = std::min(block.size(), total - sent);
            if (!writeAll(master, block.data(), n))
                return;
            sent += n;
        }
    });
}

double plainThroughput()
{
    Pty pty;
    const int fd = openPlainSlave(pty.slave);
    const auto start = Clock::now();
    std::thread f = feeder(pty.master, ThroughputBytes);
    size_t got = 0;
    uint8_t buf[2048];
    while (got < ThroughputBytes) {
        pollfd pfd{fd, POLLIN, 0};
        poll(&pfd, 1, -1);
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got += size_t(n);
    }
    const auto elapsed = Clock::now() - start;
    f.join();
    ::close(fd);
    return double(ThroughputBytes) / (1 << 20) / (ms(elapsed) / 1000.0);
}

double commThroughput(size_t &chunks)
{
    Pty pty;
    auto owner = std::make_shared<Owner>();
    auto comm = openComm(owner, pty.slave, 100);
    size_t got = 0;
    chunks = 0;
    comm->OnReceiveData = [&](TComm *, const uint8_t *, uint16_t n) {
        got += n;
        ++chunks;
    };
    const auto start = Clock::now();
    std::thread f = feeder(pty.master, ThroughputBytes);
    owner->runUntil([&] { return got >= ThroughputBytes; }, milliseconds(120000));
    const auto elapsed = Clock::now() - start;
    f.join();
    comm.reset();
    return double(ThroughputBytes) / (1 << 20) / (ms(elapsed) / 1000.0);
}

// --- round trip -----------------------------------------------------------

constexpr size_t RequestSize = 16;

// The device: answers every byte at once.
struct Echo {
    int master;
    std::atomic<bool> stop{false};
    std::thread thread;
    int wake[2] = {-1, -1};

    explicit Echo(int m) : master(m)
    {
        if (pipe(wake) != 0)
            std::exit(1);
        thread = std::thread([this] {
            uint8_t buf[4096];
            for (;;) {
                pollfd pfd[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
                poll(pfd, 2, -1);
                if (pfd[1].revents)
                    return;
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    writeAll(master, buf, size_t(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    return;
            }
        });
    }
    ~Echo()
    {
        const char c = 0;
        (void)!::write(wake[1], &c, 1);
        thread.join();
        ::close(wake[0]);
        ::close(wake[1]);
    }
};

std::vector<double> plainRoundTrips(int count)
{
    Pty pty;
    const int fd = openPlainSlave(pty.slave);
    Echo echo(pty.master);
    std::vector<double> samples;
    uint8_t request[RequestSize];
    std::memset(request, 'q', sizeof request);
    uint8_t buf[2048];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        writeAll(fd, request, sizeof request);
        size_t got = 0;
        while (got < RequestSize) {
            pollfd pfd{fd, POLLIN, 0};
            poll(&pfd, 1, -1);
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got += size_t(n);
        }
        samples.push_back(ms(Clock::now() - start));
    }
    ::close(fd);
    return samples;
}

std::vector<double> commRoundTrips(int count, uint32_t interval)
{
    Pty pty;
    auto owner = std::make_shared<Owner>();
    auto comm = openComm(owner, pty.slave, interval);
    Echo echo(pty.master);
    size_t got = 0;
    comm->OnReceiveData = [&](TComm *, const uint8_t *, uint16_t n) { got += n; };
    std::vector<double> samples;
    uint8_t request[RequestSize];
    std::memset(request, 'q', sizeof request);
    for (int i = 0; i < count; ++i) {
        got = 0;
        const auto start = Clock::now();
        comm->SendData(request, RequestSize);
        owner->runUntil([&] { return got >= RequestSize; }, milliseconds(5000));
        samples.push_back(ms(Clock::now() - start));
    }
    comm.reset();
    return samples;
}

// --- gap ------------------------------------------------------------------

constexpr int GapSamples = 40;

// How long after 100 ms of silence the chunk reaches the owner.
std::vector<double> commGapOvershoot()
{
    Pty pty;
    auto owner = std::make_shared<Owner>();
    auto comm = openComm(owner, pty.slave, 100);
    bool delivered = false;
    comm->OnReceiveData = [&](TComm *, const uint8_t *, uint16_t) { delivered = true; };
    std::vector<double> samples;
    uint8_t reply[32];
    std::memset(reply, 'r', sizeof reply);
    for (int i = 0; i < GapSamples; ++i) {
        delivered = false;
        writeAll(pty.master, reply, sizeof reply);
        const auto lastByte = Clock::now();
        owner->runUntil([&] { return delivered; }, milliseconds(5000));
        samples.push_back(ms(Clock::now() - lastByte) - 100.0);
    }
    comm.reset();
    return samples;
}

// The same rule written the usual way: poll() with a millisecond timeout.
std::vector<double> plainGapOvershoot()
{
    Pty pty;
    const int fd = openPlainSlave(pty.slave);
    std::vector<double> samples;
    uint8_t reply[32];
    std::memset(reply, 'r', sizeof reply);
    uint8_t buf[2048];
    for (int i = 0; i < GapSamples; ++i) {
        writeAll(pty.master, reply, sizeof reply);
        const auto lastByte = Clock::now();
        size_t got = 0;
        int timeout = -1;
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, timeout) == 0 && got > 0)
                break;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                got += size_t(n);
                timeout = 100;
            }
        }
        samples.push_back(ms(Clock::now() - lastByte) - 100.0);
    }
    ::close(fd);
    return samples;
}

// --- idle -----------------------------------------------------------------

std::map<int, std::string> threadNames()
{
    std::map<int, std::string> names;
    DIR *dir = opendir("/proc/self/task");
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names[std::atoi(e->d_name)] = name;
    }
    closedir(dir);
    return names;
}

long contextSwitches(int tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    long total = 0;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
    return total;
}

long sumSwitches(const std::vector<int> &tids)
{
    long total = 0;
    for (int tid : tids)
        total += contextSwitches(tid);
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int idleSeconds = quick ? 2 : 10;
    const int rttCount = quick ? 200 : 2000;

    std::printf("serial_bench: TComm vs plain poll()+read() on pseudo-terminals\n\n");

    // Throughput.
    const double plainMiBs = plainThroughput();
    size_t chunks = 0;
    const double commMiBs = commThroughput(chunks);
    std::printf("throughput, 64 MiB device -> host\n");
    std::printf("  plain loop        %8.1f MiB/s\n", plainMiBs);
    std::printf("  TComm             %8.1f MiB/s  (%.2fx, %zu chunks, %.0f bytes/chunk)\n\n", commMiBs,
                commMiBs / plainMiBs, chunks, double(ThroughputBytes) / double(chunks));

    // Round trip.
    const auto plainRtt = plainRoundTrips(rttCount);
    const auto commRttImmediate = commRoundTrips(rttCount, 0xFFFFFFFFu);
    const auto commRtt = commRoundTrips(20, 100);
    std::printf("request/reply round trip, %zu-byte request echoed by the device (ms)\n", RequestSize);
    std::printf("  %-40s p50 %8.3f  p99 %8.3f  (n=%zu)\n", "plain loop", percentile(plainRtt, 50),
                percentile(plainRtt, 99), plainRtt.size());
    std::printf("  %-40s p50 %8.3f  p99 %8.3f  (n=%zu)\n", "TComm, ReadIntervalTimeout=MAXDWORD",
                percentile(commRttImmediate, 50), percentile(commRttImmediate, 99), commRttImmediate.size());
    std::printf("  %-40s p50 %8.3f  p99 %8.3f  (n=%zu)\n\n", "TComm, ReadIntervalTimeout=100 (window)",
                percentile(commRtt, 50), percentile(commRtt, 99), commRtt.size());

    // Gap.
    const auto plainGap = plainGapOvershoot();
    const auto commGap = commGapOvershoot();
    std::printf("chunk ended by 100 ms of silence: delivery past 100 ms after the last byte (ms)\n");
    std::printf("  %-40s p50 %8.3f  p99 %8.3f  min %8.3f  (n=%zu)\n", "plain loop, poll() ms timeout",
                percentile(plainGap, 50), percentile(plainGap, 99), percentile(plainGap, 0), plainGap.size());
    std::printf("  %-40s p50 %8.3f  p99 %8.3f  min %8.3f  (n=%zu)\n\n", "TComm (delivered to the owner)",
                percentile(commGap, 50), percentile(commGap, 99), percentile(commGap, 0), commGap.size());

    // Idle.
    {
        Pty pty;
        auto owner = std::make_shared<Owner>();
        auto comm = openComm(owner, pty.slave, 100);
        owner->runUntil([] { return false; }, milliseconds(300)); // the SendDataEmpty after open
        std::vector<int> tids;
        for (const auto &[tid, name] : threadNames()) {
            if (name.rfind("nxserial", 0) == 0)
                tids.push_back(tid);
        }

        Pty plainPty;
        const int fd = openPlainSlave(plainPty.slave);
        std::atomic<int> plainTid{0};
        std::thread plain([&] {
            plainTid = int(gettid());
            pollfd pfd{fd, POLLIN, 0};
            poll(&pfd, 1, (idleSeconds + 3) * 1000);
        });
        std::this_thread::sleep_for(milliseconds(500));

        const long commBefore = sumSwitches(tids);
        const long plainBefore = contextSwitches(plainTid);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const long commAfter = sumSwitches(tids);
        const long plainAfter = contextSwitches(plainTid);
        std::printf("idle %d s with the port open: context switches\n", idleSeconds);
        std::printf("  plain loop thread blocked in poll()   %ld\n", plainAfter - plainBefore);
        std::printf("  TComm threads (%zu)                    %ld\n", tids.size(), commAfter - commBefore);
        const char wake = 'x';
        writeAll(plainPty.master, &wake, 1);
        plain.join();
        ::close(fd);
    }
    return 0;
}
