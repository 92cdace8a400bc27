// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModbusSlave.h"

#include "LineFraming.h"
#include "SimPty.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::array<int, 8> kBaud = {1200, 2400, 4800, 9600, 19200, 38400, 56000, 115200};
// The data return times as the gateway's list names them ("4_300MS" too).
constexpr std::array<int, 6> kReturnMs = {0, 100, 200, 300, 300, 500};
constexpr int kBitsPerChar = 11;
constexpr std::size_t kMaxFrame = 256;

std::uint16_t crc16(const std::uint8_t* p, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

void appendCrc(Bytes& frame)
{
    const std::uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF)); // low byte first on the wire
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// Length of the request at the front, when its function tells it.
std::size_t expectedLength(const Bytes& b)
{
    if (b.size() < 2)
        return 0;
    const std::uint8_t f = b[1];
    if (f >= 1 && f <= 6)
        return 8;
    if ((f == 15 || f == 16) && b.size() >= 7)
        return 9 + std::size_t(b[6]);
    return 0;
}

std::string hex(const Bytes& bytes)
{
    std::string out;
    char tmp[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(tmp, sizeof tmp, "%02X ", b);
        out += tmp;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

// The gateway's registers for channel 1, built from the polled values on
// the gateway's own terms (IEEE floats big-endian, scaled integers, the
// totalizer in litres low word first) rather than from the tool's map.
struct Registers {
    std::map<int, std::uint16_t> holding, input;
    std::map<int, bool> discrete;
};

Registers registers(const Command3Values& v)
{
    Registers r;
    auto putFloat = [&](int at, float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        r.holding[at] = static_cast<std::uint16_t>(bits >> 16);
        r.holding[at + 1] = static_cast<std::uint16_t>(bits);
    };
    for (int i = 0; i < 4; ++i)
        putFloat(2 * i, v.values[static_cast<std::size_t>(i)]);
    putFloat(8, v.current);
    r.holding[10] = v.valid ? 0 : 1; // channel 1 status: 0 communicating
    auto scaled = [](double x, double by) {
        return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(std::lround(x * by), -32768L, 32767L)));
    };
    r.input[0] = scaled(v.values[0], 100);
    r.input[1] = scaled(v.values[1], 10);
    const auto litres = static_cast<std::uint32_t>(std::clamp(std::llround(double(v.values[3]) * 1000), 0LL, 4294967295LL));
    r.input[2] = static_cast<std::uint16_t>(litres);
    r.input[3] = static_cast<std::uint16_t>(litres >> 16);
    r.discrete[0] = v.valid;
    return r;
}

Bytes exception(std::uint8_t slave, std::uint8_t function, std::uint8_t code)
{
    Bytes out{slave, static_cast<std::uint8_t>(function | 0x80), code};
    appendCrc(out);
    return out;
}

} // namespace

struct ModbusSlave::Impl {
    Impl(GatewaySim& g, std::string l, std::function<void(const std::string&)> lg)
        : gateway(g), link(std::move(l)), logFn(std::move(lg))
    {
    }

    void run();
    void log(const std::string& line) const
    {
        if (logFn)
            logFn(line);
    }
    void readInput(Clock::time_point now);
    void takeFrames(Clock::time_point now, bool quiet);
    void answer(const Bytes& request, Clock::time_point rx);
    std::optional<Bytes> reply(const Bytes& request, const GatewayState& state);
    void count(std::uint64_t ModbusCounters::*which)
    {
        {
            std::lock_guard lock(mu);
            ++(counters.*which);
        }
        cv.notify_all();
    }

    GatewaySim& gateway;
    const std::string link;
    const std::function<void(const std::string&)> logFn;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    ModbusCounters counters; // guarded by mu
    std::string slavePath;   // guarded by mu

    Pty pty;
    int stopFd = -1;
    std::string linkTarget;
    std::thread worker;

    // Worker only.
    struct Pending {
        Clock::time_point due;
        Bytes bytes;
        bool isException = false;
    };
    Bytes inbuf;
    Clock::time_point lastRx{};
    std::deque<Pending> schedule;
    Bytes wbuf;
    std::chrono::microseconds charTime{573}; // at the gateway's baud rate
};

void ModbusSlave::Impl::run()
{
    for (;;) {
        auto now = Clock::now();
        while (!schedule.empty() && schedule.front().due <= now) {
            const Pending p = std::move(schedule.front());
            schedule.pop_front();
            log("mb -> " + hex(p.bytes));
            wbuf.insert(wbuf.end(), p.bytes.begin(), p.bytes.end());
            count(p.isException ? &ModbusCounters::exceptions : &ModbusCounters::answers);
        }
        while (!wbuf.empty()) {
            const ssize_t k = ::write(pty.master, wbuf.data(), wbuf.size());
            if (k > 0) {
                wbuf.erase(wbuf.begin(), wbuf.begin() + k);
                continue;
            }
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                wbuf.clear(); // the client went away; the gateway talks into the void
            break;
        }
        // A partial frame ends with 3.5 character times of silence.
        const auto gap = std::max<std::chrono::microseconds>(charTime * 7 / 2, std::chrono::milliseconds(5));
        if (!inbuf.empty() && now - lastRx >= gap)
            takeFrames(now, true);

        std::optional<Clock::time_point> deadline;
        if (!schedule.empty())
            deadline = schedule.front().due;
        if (!inbuf.empty())
            deadline = deadline ? std::min(*deadline, lastRx + gap) : lastRx + gap;
        int timeoutMs = -1;
        if (deadline) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
            timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX));
        }
        pollfd fds[2]{};
        fds[0] = {stopFd, POLLIN, 0};
        fds[1] = {pty.master, static_cast<short>(POLLIN | (wbuf.empty() ? 0 : POLLOUT)), 0};
        const int r = ::poll(fds, 2, timeoutMs);
        if (r < 0 && errno != EINTR) {
            log(errnoText("poll", errno));
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN)
            readInput(Clock::now());
    }
}

void ModbusSlave::Impl::readInput(Clock::time_point now)
{
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t k = ::read(pty.master, buf, sizeof buf);
        if (k > 0) {
            inbuf.insert(inbuf.end(), buf, buf + k);
            lastRx = now;
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        break; // EAGAIN, or EIO while no client has the pty open
    }
    takeFrames(now, false);
}

void ModbusSlave::Impl::takeFrames(Clock::time_point now, bool quiet)
{
    while (!inbuf.empty()) {
        const std::size_t len = expectedLength(inbuf);
        if (len != 0 && len <= kMaxFrame && inbuf.size() >= len) {
            const Bytes frame(inbuf.begin(), inbuf.begin() + static_cast<std::ptrdiff_t>(len));
            inbuf.erase(inbuf.begin(), inbuf.begin() + static_cast<std::ptrdiff_t>(len));
            answer(frame, now);
            continue;
        }
        if (!quiet && inbuf.size() <= kMaxFrame)
            return; // more may come
        // Silence ended something that is no frame of a known length: an
        // unknown function, or noise.
        answer(std::exchange(inbuf, {}), now);
    }
}

std::optional<Bytes> ModbusSlave::Impl::reply(const Bytes& req, const GatewayState& state)
{
    if (req.size() < 4 || crc16(req.data(), req.size() - 2) != (req[req.size() - 2] | req[req.size() - 1] << 8))
        return std::nullopt;
    if (state.slaveAddress < 1 || state.slaveAddress > 247 || req[0] != state.slaveAddress)
        return std::nullopt; // broadcast or another slave: no answer
    const std::uint8_t slave = req[0], function = req[1];
    if (function < 1 || function > 4 || req.size() != 8)
        return exception(slave, function, 1); // the gateway's registers are read-only
    const int start = req[2] << 8 | req[3];
    const int count = req[4] << 8 | req[5];
    const bool bits = function <= 2;
    if (count < 1 || count > (bits ? 2000 : 125))
        return exception(slave, function, 3);
    const Registers regs = registers(gateway.polledValues());
    Bytes out{slave, function};
    if (bits) {
        if (function == 1)
            return exception(slave, function, 2); // no coils
        Bytes packed(static_cast<std::size_t>((count + 7) / 8), 0);
        for (int i = 0; i < count; ++i) {
            const auto it = regs.discrete.find(start + i);
            if (it == regs.discrete.end())
                return exception(slave, function, 2);
            if (it->second)
                packed[static_cast<std::size_t>(i / 8)] |= static_cast<std::uint8_t>(1u << (i % 8));
        }
        out.push_back(static_cast<std::uint8_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    } else {
        const auto& table = function == 3 ? regs.holding : regs.input;
        out.push_back(static_cast<std::uint8_t>(2 * count));
        for (int i = 0; i < count; ++i) {
            const auto it = table.find(start + i);
            if (it == table.end())
                return exception(slave, function, 2);
            out.push_back(static_cast<std::uint8_t>(it->second >> 8));
            out.push_back(static_cast<std::uint8_t>(it->second));
        }
    }
    appendCrc(out);
    return out;
}

void ModbusSlave::Impl::answer(const Bytes& request, Clock::time_point rx)
{
    count(&ModbusCounters::frames);
    log("mb <- " + hex(request));
    const GatewayState state = gateway.state();
    const int baud = kBaud[static_cast<std::size_t>(std::clamp(state.baudA, 0, 7))];
    charTime = std::chrono::microseconds(1000000LL * kBitsPerChar / baud);
    LineFraming line;
    if (!readLineFraming(pty.slave, line) || line.baud != baud || line.parity != state.parityA) {
        log("   (line at " + std::to_string(line.baud) + " baud, parity " + std::to_string(line.parity) + ", gateway at "
            + std::to_string(baud) + ", parity " + std::to_string(state.parityA) + ": garbled, no answer)");
        count(&ModbusCounters::ignored);
        return;
    }
    const std::optional<Bytes> out = reply(request, state);
    if (!out) {
        log("   (not for this slave, or a bad CRC: no answer)");
        count(&ModbusCounters::ignored);
        return;
    }
    // Both frames cross the line, with the frame gap and the data return
    // time between them.
    const auto lineTime = charTime * static_cast<long>(request.size() + out->size()) + charTime * 7 / 2;
    const auto delay = std::chrono::milliseconds(kReturnMs[static_cast<std::size_t>(std::clamp(state.returnTimeA, 0, 5))]);
    const Clock::time_point due = std::max(rx + lineTime + delay, schedule.empty() ? rx : schedule.back().due);
    schedule.push_back({due, *out, ((*out)[1] & 0x80) != 0});
}

ModbusSlave::ModbusSlave(GatewaySim& gateway, std::string linkPath, std::function<void(const std::string&)> log)
    : d(std::make_unique<Impl>(gateway, std::move(linkPath), std::move(log)))
{
}

ModbusSlave::~ModbusSlave()
{
    stop();
}

bool ModbusSlave::start(std::string* error)
{
    if (d->worker.joinable())
        return true;
    if (!openLinkedPty(d->pty, d->stopFd, d->link, d->linkTarget, error))
        return false;
    {
        std::lock_guard lock(d->mu);
        d->slavePath = d->pty.path;
    }
    d->worker = std::thread([this] { d->run(); });
    return true;
}

void ModbusSlave::stop()
{
    if (!d->worker.joinable())
        return;
    const std::uint64_t one = 1;
    while (::write(d->stopFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    d->worker.join();
    removeLinkIfOurs(d->link, d->linkTarget);
    d->linkTarget.clear();
    closeFd(d->pty.master);
    closeFd(d->pty.slave);
    closeFd(d->stopFd);
    std::lock_guard lock(d->mu);
    d->slavePath.clear();
}

std::string ModbusSlave::slavePath() const
{
    std::lock_guard lock(d->mu);
    return d->slavePath;
}

std::string ModbusSlave::linkPath() const
{
    return d->link;
}

ModbusCounters ModbusSlave::counters() const
{
    std::lock_guard lock(d->mu);
    return d->counters;
}

bool ModbusSlave::waitFor(const std::function<bool(const ModbusCounters&)>& pred, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mu);
    return d->cv.wait_for(lock, timeout, [&] { return pred(d->counters); });
}

} // namespace sim
