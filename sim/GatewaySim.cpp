// SPDX-License-Identifier: GPL-3.0-or-later
#include "GatewaySim.h"

#include "GatewayDevice.h"
#include "HexText.h"
#include "SimPty.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMaxPendingInput = 4096;   // no request is anywhere near this long
constexpr std::size_t kMaxPendingOutput = 65536; // a client that never reads loses replies beyond this
constexpr auto kLingerMin = 50ms;                // let the last reply reach the client before hanging up
constexpr auto kLingerMax = 1000ms;
constexpr auto kLingerPoll = 20ms;

// Configuration traffic as text with escapes, HART frames and noise as hex.
std::string render(const Bytes& bytes, bool asText)
{
    std::string out;
    if (asText) {
        for (std::uint8_t b : bytes) {
            if (b >= 0x20 && b < 0x7F && b != '\\') {
                out += static_cast<char>(b);
            } else {
                out += "\\x" + hart::hexByte(b);
            }
        }
        return out;
    }
    return hart::hexText(bytes);
}

} // namespace

GatewayState GatewayState::factoryDefaults()
{
    return GatewayState{};
}

std::string Options::defaultLinkPath()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/nx260-gateway";
    return "/tmp/nx260-gateway-" + std::to_string(::getuid());
}

struct GatewaySim::Impl {
    explicit Impl(Options o)
        : opt(std::move(o))
        , device(opt.initialState, opt.hart, opt.seed)
        , faults(opt.faults)
        , garbageRng(opt.seed ^ 0x5A17C0DEu)
    {
    }

    void run();
    void log(const std::string& line) const
    {
        if (opt.log)
            opt.log(line);
    }

    void readInput(Clock::time_point now);
    void processInput(Clock::time_point now);
    void handleRequest(const Bytes& request, bool malformed, Clock::time_point now);
    void scheduleReply(const Reply& reply, const Faults& f, Clock::time_point now);
    void releaseDueChunks(Clock::time_point now);
    void flushOutput();
    bool lingerDone(Clock::time_point now) const;
    void hangUp(bool counted);
    void resetLine();

    const Options opt;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    GatewayDevice device;      // guarded by mu
    Faults faults;             // guarded by mu
    Counters counters;         // guarded by mu
    std::string slavePath;     // guarded by mu
    bool running = false;      // guarded by mu

    // Set up by start(), then owned by the worker until stop() joins it.
    Pty pty;
    int stopFd = -1;
    bool portOpen = false;
    std::string linkTarget;    // where our link points, "" when we have none
    std::thread worker;

    // Worker-only line state.
    struct Chunk {
        Clock::time_point due;
        Bytes bytes;
        bool last = true;
        Reply::Kind kind = Reply::Kind::Text;
        bool text = true; // trace as text
    };
    Bytes inbuf;
    Clock::time_point lastRx{};
    std::deque<Chunk> schedule;
    Bytes wbuf;
    std::uint64_t queuedTotal = 0;
    std::uint64_t writtenTotal = 0;
    std::deque<std::pair<std::uint64_t, Reply::Kind>> replyEnds;
    int requestsOnPort = 0;
    bool hangupArmed = false;
    bool lingering = false;
    Clock::time_point lingerStart{};
    std::mt19937 garbageRng;
};

void GatewaySim::Impl::resetLine()
{
    inbuf.clear();
    schedule.clear();
    wbuf.clear();
    replyEnds.clear();
    queuedTotal = writtenTotal = 0;
    requestsOnPort = 0;
    hangupArmed = false;
    lingering = false;
}

void GatewaySim::Impl::run()
{
    const auto quiet = std::chrono::milliseconds(std::max(opt.quietMs, 1));
    for (;;) {
        const auto now = Clock::now();
        if (portOpen) {
            releaseDueChunks(now);
            flushOutput();
        }
        if (portOpen && hangupArmed && schedule.empty() && wbuf.empty()) {
            if (!lingering) {
                lingering = true;
                lingerStart = now;
            }
            if (lingerDone(now)) {
                hangUp(true);
                continue;
            }
        }
        if (portOpen && !hangupArmed && !inbuf.empty() && now - lastRx >= quiet) {
            // The line went quiet in the middle of something that never
            // became a request: answer it as one malformed request.
            const Bytes junk = std::exchange(inbuf, {});
            handleRequest(junk, true, now);
            continue;
        }

        std::optional<Clock::time_point> deadline;
        auto consider = [&](Clock::time_point t) {
            if (!deadline || t < *deadline)
                deadline = t;
        };
        if (portOpen) {
            if (!schedule.empty())
                consider(schedule.front().due);
            if (!inbuf.empty() && !hangupArmed)
                consider(lastRx + quiet);
            if (lingering)
                consider(now + kLingerPoll);
        }
        int timeoutMs = -1;
        if (deadline) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
            timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX));
        }

        pollfd fds[2]{};
        nfds_t count = 1;
        fds[0].fd = stopFd;
        fds[0].events = POLLIN;
        if (portOpen) {
            fds[1].fd = pty.master;
            fds[1].events = static_cast<short>((hangupArmed ? 0 : POLLIN) | (wbuf.empty() ? 0 : POLLOUT));
            count = 2;
        }
        const int r = ::poll(fds, count, timeoutMs);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            log(errnoText("poll", errno));
            return;
        }
        if (fds[0].revents != 0)
            return; // stop requested
        if (count == 2) {
            const short ev = fds[1].revents;
            if (ev & POLLIN)
                readInput(Clock::now());
            else if (portOpen && (ev & (POLLHUP | POLLERR | POLLNVAL)))
                hangUp(false);
        }
    }
}

void GatewaySim::Impl::readInput(Clock::time_point now)
{
    std::uint8_t buf[1024];
    for (;;) {
        const ssize_t k = ::read(pty.master, buf, sizeof buf);
        if (k > 0) {
            inbuf.insert(inbuf.end(), buf, buf + k);
            lastRx = now;
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        log(k == 0 ? std::string("pty closed") : errnoText("read", errno));
        hangUp(false);
        return;
    }
    processInput(now);
}

void GatewaySim::Impl::processInput(Clock::time_point now)
{
    while (!inbuf.empty()) {
        if (hangupArmed) {
            inbuf.clear(); // the gateway is going away; later requests are lost
            return;
        }
        const std::size_t len = requestLength(inbuf.data(), inbuf.size());
        if (len == 0) {
            if (inbuf.size() > kMaxPendingInput)
                handleRequest(std::exchange(inbuf, {}), true, now);
            return;
        }
        const Bytes request(inbuf.begin(), inbuf.begin() + static_cast<std::ptrdiff_t>(len));
        inbuf.erase(inbuf.begin(), inbuf.begin() + static_cast<std::ptrdiff_t>(len));
        handleRequest(request, false, now);
    }
}

void GatewaySim::Impl::handleRequest(const Bytes& request, bool malformed, Clock::time_point now)
{
    Reply reply;
    Faults f;
    {
        std::lock_guard lock(mu);
        reply = malformed ? device.handleMalformed(request) : device.handle(request, now);
        f = faults;
        ++counters.requests;
    }
    cv.notify_all();
    log("<- " + render(request, !request.empty() && request[0] == 'Q') + (malformed ? "   (incomplete)" : ""));

    ++requestsOnPort;
    if (reply.kind != Reply::Kind::None && !f.silent)
        scheduleReply(reply, f, now);
    else if (reply.kind != Reply::Kind::None)
        log("   (silent: reply withheld)");
    if (f.hangupAfter > 0 && requestsOnPort >= f.hangupAfter)
        hangupArmed = true;
}

void GatewaySim::Impl::scheduleReply(const Reply& reply, const Faults& f, Clock::time_point now)
{
    Bytes bytes = reply.bytes;
    const bool text = reply.kind != Reply::Kind::Hart && !f.garbage;
    if (f.garbage) {
        std::uniform_int_distribution<std::size_t> length(std::max<std::size_t>(4, bytes.size() / 2),
                                                          bytes.size() + 8);
        std::uniform_int_distribution<int> byte(0, 255);
        bytes.resize(length(garbageRng));
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(byte(garbageRng));
    }
    const bool hart = reply.kind == Reply::Kind::Hart && !f.garbage && !bytes.empty();
    if (hart && f.hartBadChecksum)
        bytes.back() ^= 0x01;
    auto due = now + std::chrono::milliseconds(std::max(f.slowMs, 0));
    if (!schedule.empty())
        due = std::max(due, schedule.back().due); // replies never overtake each other
    if (hart && f.hartNoiseFirst) {
        // A lone FF before a reply delimiter, as a disturbed line gives it.
        schedule.push_back({due, Bytes{0x00, 0xFF, 0x06}, false, reply.kind, false});
        due += std::chrono::milliseconds(std::max(opt.splitGapMs, 0));
    }
    if (f.split && bytes.size() >= 2) {
        const auto half = static_cast<std::ptrdiff_t>(bytes.size() / 2);
        schedule.push_back({due, Bytes(bytes.begin(), bytes.begin() + half), false, reply.kind, text});
        schedule.push_back({due + std::chrono::milliseconds(std::max(opt.splitGapMs, 0)),
                            Bytes(bytes.begin() + half, bytes.end()), true, reply.kind, text});
    } else {
        schedule.push_back({due, std::move(bytes), true, reply.kind, text});
    }
}

void GatewaySim::Impl::releaseDueChunks(Clock::time_point now)
{
    while (!schedule.empty() && schedule.front().due <= now) {
        Chunk chunk = std::move(schedule.front());
        schedule.pop_front();
        if (wbuf.size() + chunk.bytes.size() > kMaxPendingOutput) {
            log("   (client not reading: reply dropped)");
            continue;
        }
        log("-> " + render(chunk.bytes, chunk.text) + (chunk.last ? "" : "   (first part)"));
        wbuf.insert(wbuf.end(), chunk.bytes.begin(), chunk.bytes.end());
        queuedTotal += chunk.bytes.size();
        if (chunk.last)
            replyEnds.emplace_back(queuedTotal, chunk.kind);
    }
}

void GatewaySim::Impl::flushOutput()
{
    while (!wbuf.empty()) {
        const ssize_t k = ::write(pty.master, wbuf.data(), wbuf.size());
        if (k > 0) {
            wbuf.erase(wbuf.begin(), wbuf.begin() + k);
            writtenTotal += static_cast<std::uint64_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        log(errnoText("write", errno));
        hangUp(false);
        return;
    }
    bool changed = false;
    {
        std::lock_guard lock(mu);
        while (!replyEnds.empty() && replyEnds.front().first <= writtenTotal) {
            const Reply::Kind kind = replyEnds.front().second;
            replyEnds.pop_front();
            ++counters.replies;
            if (kind == Reply::Kind::Hart)
                ++counters.hartReplies;
            if (kind == Reply::Kind::Error)
                ++counters.errors;
            changed = true;
        }
    }
    if (changed)
        cv.notify_all();
}

bool GatewaySim::Impl::lingerDone(Clock::time_point now) const
{
    const auto elapsed = now - lingerStart;
    if (elapsed < kLingerMin)
        return false;
    if (elapsed >= kLingerMax)
        return true;
    // Closing the master discards what the client has not read yet.
    int unread = 0;
    return ::ioctl(pty.slave, TIOCINQ, &unread) != 0 || unread == 0;
}

void GatewaySim::Impl::hangUp(bool counted)
{
    bool reopen = false;
    {
        std::lock_guard lock(mu);
        reopen = faults.reopenAfterHangup;
    }
    // The fresh port exists and the link points at it before the old one
    // goes, so a client reopening the link right after the hang-up finds it.
    Pty fresh;
    std::string error;
    if (reopen && !openPty(fresh, &error)) {
        log("cannot open a fresh pty: " + error);
        reopen = false;
    }
    if (reopen && !opt.linkPath.empty()) {
        if (placeLink(opt.linkPath, fresh.path, &error)) {
            linkTarget = fresh.path;
        } else {
            log(error);
        }
    }
    if (!reopen) {
        removeLinkIfOurs(opt.linkPath, linkTarget);
        linkTarget.clear();
    }
    closeFd(pty.master);
    closeFd(pty.slave);
    resetLine();
    pty = fresh;
    portOpen = reopen;
    {
        std::lock_guard lock(mu);
        if (counted)
            ++counters.hangups;
        slavePath = reopen ? fresh.path : std::string();
    }
    cv.notify_all();
    log(reopen ? "hung up; port reopened: " + fresh.path : std::string("hung up"));
}

GatewaySim::GatewaySim(Options options)
    : d(std::make_unique<Impl>(std::move(options)))
{
}

GatewaySim::~GatewaySim()
{
    stop();
}

bool GatewaySim::start(std::string* error)
{
    if (d->worker.joinable())
        return true;
    if (!openLinkedPty(d->pty, d->stopFd, d->opt.linkPath, d->linkTarget, error))
        return false;
    d->resetLine();
    d->portOpen = true;
    {
        std::lock_guard lock(d->mu);
        d->slavePath = d->pty.path;
        d->running = true;
    }
    d->worker = std::thread([this] { d->run(); });
    return true;
}

void GatewaySim::stop()
{
    if (!d->worker.joinable())
        return;
    const std::uint64_t one = 1;
    while (::write(d->stopFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    d->worker.join();
    removeLinkIfOurs(d->opt.linkPath, d->linkTarget);
    d->linkTarget.clear();
    closeFd(d->pty.master);
    closeFd(d->pty.slave);
    closeFd(d->stopFd);
    d->portOpen = false;
    std::lock_guard lock(d->mu);
    d->slavePath.clear();
    d->running = false;
}

bool GatewaySim::running() const
{
    std::lock_guard lock(d->mu);
    return d->running;
}

std::string GatewaySim::slavePath() const
{
    std::lock_guard lock(d->mu);
    return d->slavePath;
}

std::string GatewaySim::linkPath() const
{
    return d->opt.linkPath;
}

GatewayState GatewaySim::state() const
{
    std::lock_guard lock(d->mu);
    return d->device.state;
}

void GatewaySim::setState(const GatewayState& state)
{
    std::lock_guard lock(d->mu);
    d->device.state = state;
}

Faults GatewaySim::faults() const
{
    std::lock_guard lock(d->mu);
    return d->faults;
}

void GatewaySim::setFaults(const Faults& faults)
{
    std::lock_guard lock(d->mu);
    d->faults = faults;
}

HartDevice GatewaySim::hartDevice() const
{
    std::lock_guard lock(d->mu);
    return d->device.hart;
}

Command3Values GatewaySim::lastCommand3Values() const
{
    std::lock_guard lock(d->mu);
    return d->device.lastCommand3;
}

Command3Values GatewaySim::polledValues()
{
    std::lock_guard lock(d->mu);
    return d->device.polled(Clock::now());
}

Counters GatewaySim::counters() const
{
    std::lock_guard lock(d->mu);
    return d->counters;
}

bool GatewaySim::waitFor(const std::function<bool(const Counters&)>& pred,
                         std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mu);
    return d->cv.wait_for(lock, timeout, [&] { return pred(d->counters); });
}

} // namespace sim
