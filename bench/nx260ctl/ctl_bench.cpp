// SPDX-License-Identifier: GPL-3.0-or-later
// nx260ctl against the gateway simulator on a pseudo-terminal: wall time of
// `show` (two configuration exchanges), `hart read` (command 0 and
// command 3), `hart info` (eight HART exchanges) and `hart scan` of polling
// addresses 0-15 with one instrument, each run as its own process like a
// script would; `show` and `hart read` beside the
// floor: the same exchanges done by a plain write + poll()/read() loop that
// uses the same completion rules (100 ms quiet line for configuration
// replies, byte count and checksum for HART replies).
#include "Ctl.h"
#include "GatewaySim.h"
#include "HartFrames.h"
#include "HartReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 20;
constexpr int kScanRuns = 4;
constexpr int kQuietMs = 100;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
    double median, min, max;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {(v[v.size() / 2 - 1] + v[v.size() / 2]) / 2, v.front(), v.back()};
}

// nx260ctl's run() in this process: the exchanges without process start-up.
double runInProcess(const std::string &port, const std::vector<std::string> &args)
{
    std::ostringstream out, err;
    const auto t0 = Clock::now();
    const int code = nx260ctl::run(args, out, err, port);
    const double t = ms(Clock::now() - t0);
    if (code != 0) {
        std::fprintf(stderr, "%s", err.str().c_str());
        std::exit(1);
    }
    return t;
}

// One nx260ctl process, output discarded; returns its wall time.
double runCtl(const std::string &port, std::vector<std::string> args)
{
    args.insert(args.begin(), {NX260CTL_EXE, "--port", port});
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, NX260CTL_EXE, &fa, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double t = ms(Clock::now() - t0);
    posix_spawn_file_actions_destroy(&fa);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "nx260ctl %s failed\n", args[3].c_str());
        std::exit(1);
    }
    return t;
}

// The floor's port: raw termios, no threads.
class PlainPort {
public:
    explicit PlainPort(const std::string &path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~PlainPort() { ::close(fd_); }

    void write(const std::vector<uint8_t> &b) { (void)!::write(fd_, b.data(), b.size()); }

    // Until the line is quiet for kQuietMs after the first byte.
    std::vector<uint8_t> readQuiet()
    {
        return readUntil([](const std::vector<uint8_t> &) { return false; }, kQuietMs);
    }

    // Until a whole HART reply is in.
    std::vector<uint8_t> readHart()
    {
        return readUntil(
            [](const std::vector<uint8_t> &in) {
                const auto f = hart::readFrame(in.data(), in.size(), hart::Search::ReplyOnly);
                return f && f->complete;
            },
            3000);
    }

private:
    // Reads until `done`, or until the line stays quiet: 3 s for the first
    // byte, `quietMs` after it.
    template <typename Done>
    std::vector<uint8_t> readUntil(Done done, int quietMs)
    {
        std::vector<uint8_t> out;
        while (!done(out)) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, out.empty() ? 3000 : quietMs) <= 0)
                return out;
            uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                return out;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    int fd_ = -1;
};

std::vector<uint8_t> bytes(const char *s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

void row(const char *name, const Stats &tool, const Stats &floor, const char *target)
{
    std::printf("%-28s %8.1f %8.1f %8.1f   %8.1f %8.1f %8.1f   %+8.1f   %s\n", name, tool.median, tool.min, tool.max,
                floor.median, floor.min, floor.max, tool.median - floor.median, target);
}

} // namespace

int main()
{
    sim::Options o;
    o.linkPath.clear();
    o.initialState.mode = 0; // transparent: HART passes through
    sim::GatewaySim gw(o);
    std::string error;
    if (!gw.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    const std::string port = gw.slavePath();

    std::vector<double> show, hartRead, showIn, hartIn, showFloor, hartFloor, hartInfo, hartScan;
    for (int i = 0; i < kRuns; ++i) {
        hartInfo.push_back(runCtl(port, {"hart", "info"}));
        show.push_back(runCtl(port, {"show"}));
        hartRead.push_back(runCtl(port, {"hart", "read"}));
        showIn.push_back(runInProcess(port, {"show"}));
        hartIn.push_back(runInProcess(port, {"hart", "read"}));
    }
    {
        PlainPort p(port);
        const hart::Bytes c0 = hart::command0Frame(0, true, 6);
        for (int i = 0; i < kRuns; ++i) {
            auto t0 = Clock::now();
            p.write(bytes("QQQ#QX1#"));
            p.readQuiet();
            p.write(bytes("QQQ#QH00#"));
            p.readQuiet();
            showFloor.push_back(ms(Clock::now() - t0));

            t0 = Clock::now();
            p.write(c0);
            const auto r0 = p.readHart();
            const auto f0 = hart::readFrame(r0.data(), r0.size(), hart::Search::ReplyOnly);
            const auto id = f0 && f0->complete ? hart::command0Data(f0->data.data(), f0->data.size()) : std::nullopt;
            if (!id) {
                std::fprintf(stderr, "floor: no command 0 reply\n");
                return 1;
            }
            p.write(hart::command3Frame(0, true, id->identity, 6));
            p.readHart();
            hartFloor.push_back(ms(Clock::now() - t0));
        }
    }
    gw.stop();

    // One instrument at polling address 3: every other address waits out
    // the scan's wait for a reply to begin.
    o.hart.addressMask = 1u << 3;
    sim::GatewaySim one(o);
    if (!one.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    for (int i = 0; i < kScanRuns; ++i)
        hartScan.push_back(runCtl(one.slavePath(), {"hart", "scan"}));
    one.stop();

    // 9600 baud, 10 bits a character: what a real line adds to each HART exchange
    // (command 0: 15 + 26 bytes, command 3: 19 + 36 bytes with the simulator's replies).
    const double lineMs0 = (15 + 26) * 10 * 1000.0 / 9600, lineMs3 = (19 + 36) * 10 * 1000.0 / 9600;
    std::printf("nx260ctl bench, %d runs each, milliseconds (pty: no line time)\n", kRuns);
    std::printf("%-28s %8s %8s %8s   %8s %8s %8s   %8s\n", "", "median", "min", "max", "floor", "min", "max", "over");
    row("show (2 exchanges)", stats(show), stats(showFloor), "target: median <= 250");
    row("hart read (2 exchanges)", stats(hartRead), stats(hartFloor), "target: <= 20 per exchange + line time");
    row("  in-process show", stats(showIn), stats(showFloor), "port open/close + exchanges, no start-up");
    row("  in-process hart read", stats(hartIn), stats(hartFloor), "");
    std::printf("per HART exchange: %.1f ms median as a process, %.1f in-process (floor %.1f);\n"
                "line time at 9600 baud would add %.0f ms (command 0) / %.0f ms (command 3)\n",
                stats(hartRead).median / 2, stats(hartIn).median / 2, stats(hartFloor).median / 2, lineMs0, lineMs3);
    const Stats info = stats(hartInfo), scan = stats(hartScan);
    std::printf("%-28s %8.1f %8.1f %8.1f   %s\n", "hart info (8 exchanges)", info.median, info.min, info.max,
                "target: <= 20 per exchange + line time");
    std::printf("%-28s %8.1f %8.1f %8.1f   %s\n", "hart scan 0-15, 1 present", scan.median, scan.min, scan.max,
                "target: < 5000");
    const bool ok = stats(show).median <= 250 && stats(hartRead).median / 2 <= 20 && info.median / 8 <= 20
                    && scan.max < 5000;
    std::printf("%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
