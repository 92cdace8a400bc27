// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as values, how a command ends early, and the --help text.
#pragma once

#include "Ctl.h"

#include "ChangeRecord.h"
#include "HartFrames.h"
#include "SerialComm.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nx260ctl {

// Ends the command with an exit code and a one-line message.
struct Failure {
    int code;
    std::string message;
};

[[noreturn]] void fail(int code, std::string message);

// The gateway's header carries addresses 0..31 (the window's 1..32), so HART
// 6/7's polling range 0..63 ends here.
constexpr int kMaxPolling = 31;
constexpr int kHart5LastPolling = 15;

struct Options {
    std::string port;               // the gateway this session serves
    std::vector<std::string> ports; // every --port, in order
    std::string portsFile;
    std::string record = exchange::defaultRecordPath();
    std::optional<std::string> since; // record: from this time on
    int jobs = 0;                   // gateways served at once; 0: all
    uint32_t baud = 9600;
    SerialComm::TParity parity = SerialComm::TParity::None;
    std::chrono::milliseconds timeout{3000};
    bool json = false;
    std::string capture;
    int waitPortSeconds = 0;

    // hart
    int address = 1;
    bool secondary = false;
    int preambles = 6;
    std::optional<hart::Identity> identity;
    std::optional<int> watchSeconds;
    std::optional<std::pair<int, int>> range; // hart scan: polling addresses
    bool timeoutGiven = false;

    // modbus (--watch counts milliseconds there)
    std::vector<std::string> modbusPorts; // every --modbus-port, paired with --port in order
    std::string modbusPort;               // this gateway's
    int slave = 1;
    std::optional<std::string> type;      // --type float32-cdab ...
    std::string function = "holding";
    bool yes = false;                     // writes confirmed

    std::vector<std::string> words; // command and its operands
};

// Options and words; a bad option fails with Usage. The port is `envPort`
// until --port or --ports-file says otherwise.
Options parseArgs(const std::vector<std::string> &args, const std::string &envPort);

} // namespace nx260ctl
