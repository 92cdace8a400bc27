// SPDX-License-Identifier: GPL-3.0-or-later
// Device servers: `nx260ctl show` over RFC 2217 and raw TCP through a real
// ser2net against the same over the pseudo-terminal itself (target: RFC 2217
// within 1.2x of the pty), and the reconnect time from a device's return to
// the port open (target: under 1 s), using the window's way of waiting.
#include "Ctl.h"
#include "GatewaySim.h"
#include "PortPresence.h"
#include "SerialComm.h"
#include "Ser2NetServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kRuns = 20;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double showMedian(const std::string &port)
{
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        // ser2net frees the device a moment after a client leaves.
        std::this_thread::sleep_for(1000ms);
        std::ostringstream out, err;
        const auto t0 = Clock::now();
        const int code = nx260ctl::run({"--port", port, "show"}, out, err);
        runs.push_back(ms(Clock::now() - t0));
        if (code != 0) {
            std::fprintf(stderr, "%s", err.str().c_str());
            return -1; // the caller stops ser2net before it ends
        }
    }
    return median(runs);
}

struct Queue : SerialComm::OwnerQueue {
    bool post(std::function<void()>) override { return true; }
};

// The device leaves (its link goes), comes back; time from its return to
// the component open on it.
double reconnectMedian(const std::string &link)
{
    std::vector<double> runs;
    SerialComm::TComm comm(std::make_shared<Queue>());
    comm.SetCommName(link);
    for (int i = 0; i < 10; ++i) {
        sim::Options o;
        o.linkPath = link;
        auto before = std::make_unique<sim::GatewaySim>(o);
        before->start();
        const SerialComm::PortIdentity id = SerialComm::portIdentity(link);
        before.reset();
        SerialComm::DeviceEvents events(id);
        sim::GatewaySim after(o);
        // The device returns while this thread waits for the kernel's notice.
        Clock::time_point t0;
        std::thread plug([&] {
            std::this_thread::sleep_for(50ms);
            t0 = Clock::now();
            after.start();
        });
        std::string path;
        while ((path = SerialComm::presentPath(id)).empty())
            events.wait(2000);
        comm.SetCommName(path);
        comm.OpenPort();
        const auto opened = Clock::now();
        plug.join();
        runs.push_back(ms(opened - t0));
        comm.ClosePort();
    }
    return median(runs);
}

} // namespace

int main()
{
    if (::access(SerialTest::Ser2NetPath, X_OK) != 0) {
        std::printf("ser2net is not installed\n");
        return 1;
    }
    sim::Options o;
    o.linkPath.clear();
    o.log = nullptr;
    sim::GatewaySim gateway(o);
    if (!gateway.start())
        return 1;
    SerialTest::Ser2Net server(gateway.slavePath());
    if (!server.ok())
        return 1;
    const double pty = showMedian(gateway.slavePath());
    const double rfc = showMedian(server.rfc2217());
    const double raw = showMedian(server.raw());
    if (pty < 0 || rfc < 0 || raw < 0)
        return 1;
    std::printf("show over the pty       median %7.1f ms\n", pty);
    std::printf("show over RFC 2217      median %7.1f ms  (%.2fx the pty; target 1.2x)\n", rfc, rfc / pty);
    std::printf("show over raw TCP       median %7.1f ms  (%.2fx the pty)\n", raw, raw / pty);

    char dir[] = "/tmp/nx-netbench.XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    const double back = reconnectMedian(std::string(dir) + "/gateway");
    ::rmdir(dir);
    std::printf("reconnect (return -> open) median %5.1f ms  (target under 1000 ms)\n", back);
    return 0;
}
