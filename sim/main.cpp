// SPDX-License-Identifier: GPL-3.0-or-later
// nx260-gateway-sim: runs the gateway simulator on a pseudo-terminal until
// SIGINT or SIGTERM, for manual tests and demos of the configuration window.
#include "GatewaySim.h"
#include "ModbusSlave.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <memory>
#include <algorithm>
#include <string>
#include <vector>

namespace {

void usage(std::FILE* out)
{
    std::fprintf(out,
        "Usage: nx260-gateway-sim [options]\n"
        "Plays an NX260-HGW gateway (with one HART vortex flowmeter behind it) on a pseudo-terminal.\n"
        "\n"
        "  --link PATH        stable symlink to the port (default %s)\n"
        "  --no-link          do not create a symlink\n"
        "  --modbus-port PATH play RS485 A as a MODBUS RTU slave on a second pty, linked at PATH\n"
        "                     (the gateway's slave address, baud rate, parity and data return time)\n"
        "  --transparent      start in Transparent Mode (factory default is MODBUS Mode)\n"
        "  --silent           never answer\n"
        "  --slow MS          answer after MS milliseconds\n"
        "  --split            send each reply in two chunks 250 ms apart\n"
        "  --garbage          send random bytes instead of the replies\n"
        "  --bad-checksum     send HART replies with a wrong checksum\n"
        "  --noise-first      send 00 FF 06 250 ms before each HART reply\n"
        "  --hangup-after N   close the port after N requests\n"
        "  --reopen           after a hang-up, open a fresh port under the same link\n"
        "  --hart-addresses L HART addresses with an instrument, e.g. 1,3,7 (default: all 1..32)\n"
        "  --hart-revision N  HART revision of the instrument: 5 (default), 6 or 7 (7: 22-byte\n"
        "                     command 0 reply; 6 and 7 answer command 20, the long tag)\n"
        "  --not-implemented L  commands answered \"command not implemented\", e.g. 12,48\n"
        "  --seed N           seed of the process noise and garbage bytes\n"
        "  --quiet            do not trace requests and replies on stderr\n"
        "  --help             this text\n"
        "  --version          print the version\n",
        sim::Options::defaultLinkPath().c_str());
}

bool toInt(const char* text, long min, long max, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return false;
    out = static_cast<int>(v);
    return true;
}

// "1,3,7": each number in min..max, at least one.
bool toList(const std::string& list, long min, long max, std::vector<int>& out)
{
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        int v = 0;
        if (!toInt(list.substr(at, comma - at).c_str(), min, max, v))
            return false;
        out.push_back(v);
        at = comma + 1;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    sim::Options options;
    bool quiet = false;
    std::string modbusLink;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "nx260-gateway-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](const char* name, long min, long max) {
            int v = 0;
            if (!toInt(value(name), min, max, v)) {
                std::fprintf(stderr, "nx260-gateway-sim: bad value for %s\n", name);
                std::exit(2);
            }
            return v;
        };
        if (arg == "--link") {
            options.linkPath = value("--link");
        } else if (arg == "--modbus-port") {
            modbusLink = value("--modbus-port");
        } else if (arg == "--no-link") {
            options.linkPath.clear();
        } else if (arg == "--transparent") {
            options.initialState.mode = 0;
        } else if (arg == "--silent") {
            options.faults.silent = true;
        } else if (arg == "--slow") {
            options.faults.slowMs = number("--slow", 0, 600000);
        } else if (arg == "--split") {
            options.faults.split = true;
        } else if (arg == "--garbage") {
            options.faults.garbage = true;
        } else if (arg == "--bad-checksum") {
            options.faults.hartBadChecksum = true;
        } else if (arg == "--noise-first") {
            options.faults.hartNoiseFirst = true;
        } else if (arg == "--hangup-after") {
            options.faults.hangupAfter = number("--hangup-after", 0, 1000000000);
        } else if (arg == "--reopen") {
            options.faults.reopenAfterHangup = true;
        } else if (arg == "--hart-addresses" || arg == "--not-implemented") {
            std::vector<int> list;
            const bool addresses = arg == "--hart-addresses";
            if (!toList(value(arg.c_str()), addresses ? 1 : 0, addresses ? 32 : 255, list)) {
                std::fprintf(stderr, "nx260-gateway-sim: bad value for %s\n", arg.c_str());
                return 2;
            }
            if (addresses)
                options.hart.addressMask = 0;
            for (const int v : list) {
                if (addresses)
                    options.hart.addressMask |= 1u << (v - 1);
                else
                    options.hart.notImplemented.insert(static_cast<std::uint8_t>(v));
            }
        } else if (arg == "--hart-revision") {
            options.hart.universalRevision = static_cast<std::uint8_t>(number("--hart-revision", 5, 7));
        } else if (arg == "--seed") {
            options.seed = static_cast<std::uint32_t>(number("--seed", 0, 2147483647));
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("nx260-gateway-sim %s\n", NX260_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "nx260-gateway-sim: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (!quiet)
        options.log = [](const std::string& line) { std::cerr << line << std::endl; };

    // Block the stop signals before the worker starts so that only sigwait
    // below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::GatewaySim gateway(options);
    std::string error;
    if (!gateway.start(&error)) {
        std::fprintf(stderr, "nx260-gateway-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("port: %s\n", gateway.slavePath().c_str());
    if (!gateway.linkPath().empty())
        std::printf("link: %s\n", gateway.linkPath().c_str());
    std::unique_ptr<sim::ModbusSlave> modbus;
    if (!modbusLink.empty()) {
        modbus = std::make_unique<sim::ModbusSlave>(gateway, modbusLink, options.log);
        if (!modbus->start(&error)) {
            std::fprintf(stderr, "nx260-gateway-sim: --modbus-port: %s\n", error.c_str());
            return 1;
        }
        std::printf("modbus port: %s\nmodbus link: %s\n", modbus->slavePath().c_str(), modbusLink.c_str());
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (modbus)
        modbus->stop();
    gateway.stop();
    return 0;
}
