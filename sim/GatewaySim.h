// SPDX-License-Identifier: GPL-3.0-or-later
// Gateway simulator: plays the NX260-HGW on the far side of a pseudo-terminal
// so that the configuration window, its tests and demos have a device to talk
// to. The replies are built here from the gateway's protocol, independently of
// the window's own request builders and reply decoders, so that faults in
// those show up as mismatches instead of being mirrored.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {

// One row of the gateway's instrument table.
struct InstrumentRow {
    int deviceMode = 1;      // 0 secondary master, 1 master
    int type = 0;            // instrument type index (the gateway knows one type)
    int preambles = 8;       // 4..9
    int interval = 60;       // communication count, 0..999

    bool operator==(const InstrumentRow&) const = default;
};

// Everything the gateway remembers across requests. "QQS#RESET#" restores
// the factory defaults of all but the serial number and inspector code,
// which are production data.
struct GatewayState {
    int mode = 1;            // 0 transparent, 1 MODBUS
    int slaveAddress = 1;    // MODBUS slave address, 0..999 as sent
    int baudA = 3;           // index 0..7 (1200 .. 115200)
    int parityA = 0;         // 0 none, 1 odd, 2 even
    int baudB = 3;
    int parityB = 0;
    int returnTimeA = 2;     // data return time index 0..5
    int returnTimeB = 2;
    int interval = 10;       // communication interval, units of 100 ms, 0..999
    int channelModel = 0;    // 0 one channel, 1 two, 2 four
    std::array<InstrumentRow, 4> instruments{};
    std::string serialNumber = "00000000"; // eight digits
    std::string inspector = "001";         // three digits

    static GatewayState factoryDefaults();
    bool operator==(const GatewayState&) const = default;
};

// Misbehaviour on the way back to the client. Requests are still read and
// applied; only the replies are withheld, delayed, cut or replaced.
struct Faults {
    bool silent = false;      // never answer
    int slowMs = 0;           // answer after this delay
    bool split = false;       // answer in two chunks, splitGapMs apart
    bool garbage = false;     // random bytes instead of the reply
    int hangupAfter = 0;      // close the port after this many requests (0 = never)
    bool reopenAfterHangup = false; // then open a fresh pty under the same link
    bool hartBadChecksum = false; // HART replies with their checksum spoilt
    bool hartNoiseFirst = false;  // line noise 00 FF 06, splitGapMs before each HART reply

    bool operator==(const Faults&) const = default;
};

// The simulated HART instrument behind the gateway.
struct HartDevice {
    std::uint8_t manufacturerId = 0x37;   // Yokogawa's manufacturer code
    std::uint8_t deviceType = 0x51;       // the simulator's own device type
    std::uint8_t minPreambles = 5;        // master to slave
    std::uint8_t universalRevision = 5;
    std::uint8_t deviceRevision = 1;
    std::uint8_t softwareRevision = 2;
    std::uint8_t hardwareRevision = 0x08; // revision 1 in the top five bits, Bell 202 current
    std::uint8_t flags = 0x00;
    std::array<std::uint8_t, 3> deviceId{0x01, 0xE2, 0x40}; // 123456
    int replyPreambles = 5;
    // HART addresses (1..32, the transparent header's first byte + 1) the
    // instrument answers at: bit n-1 for address n. Frames without the
    // header are always answered.
    std::uint32_t addressMask = 0xFFFFFFFFu;

    // What the read-only identity and health commands report.
    std::string tag = "FT-101";                 // 8 packed characters
    std::string descriptor = "HOT WATER LINE";  // 16
    std::string message = "NX260 GATEWAY SIMULATOR"; // 32
    std::array<std::uint8_t, 3> date{10, 12, 126}; // day, month, year - 1900
    std::string longTag = "Vortex FT-101 Stra\xDF" "e 4";   // Latin-1, 32 bytes at most; HART 6 and 7 only
    std::uint8_t alarmSelection = 0;            // high
    std::uint8_t transferFunction = 0;          // linear
    float upperRange = 100.0f, lowerRange = 0.0f; // in the primary variable's unit
    float damping = 2.0f;                       // seconds
    std::uint8_t writeProtect = 0;
    std::vector<std::uint8_t> additionalStatus{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    // Commands answered with "command not implemented" (response code 64).
    std::set<std::uint8_t> notImplemented;

    bool operator==(const HartDevice&) const = default;
};

// The loop current and four dynamic variables of the last reading (commands 1, 2 and 3).
struct Command3Values {
    bool valid = false;                    // false until a command 3 reply was sent
    float current = 0.0f;                  // mA
    std::array<std::uint8_t, 4> units{};   // HART unit codes
    std::array<float, 4> values{};
};

struct Counters {
    std::uint64_t requests = 0;     // requests delimited on the line, malformed ones included
    std::uint64_t replies = 0;      // replies fully written (any kind)
    std::uint64_t hartReplies = 0;  // of which HART replies
    std::uint64_t errors = 0;       // error texts sent for malformed requests
    std::uint64_t hangups = 0;      // times the port was closed by the hang-up fault
};

struct Options {
    // Stable name the user can type instead of /dev/pts/N; empty = no link.
    std::string linkPath = defaultLinkPath();
    Faults faults;
    HartDevice hart;
    GatewayState initialState = GatewayState::factoryDefaults();
    std::uint32_t seed = 1;         // noise in the process values and garbage bytes
    int quietMs = 25;               // a request is over when the line is quiet this long
    int splitGapMs = 250;           // pause between the two chunks of a split reply
    // Called on the worker thread for each request and reply (demo tracing).
    std::function<void(const std::string&)> log;

    static std::string defaultLinkPath();
};

class GatewaySim {
public:
    explicit GatewaySim(Options options = Options());
    ~GatewaySim();
    GatewaySim(const GatewaySim&) = delete;
    GatewaySim& operator=(const GatewaySim&) = delete;

    // Opens the pty, creates the link and starts the worker. On failure
    // returns false and puts the reason into *error (when given).
    bool start(std::string* error = nullptr);
    // Stops the worker, closes the pty and removes the link if it is still ours.
    void stop();
    bool running() const;

    std::string slavePath() const;   // current /dev/pts/N ("" while hung up)
    std::string linkPath() const;

    GatewayState state() const;
    void setState(const GatewayState& state);
    Faults faults() const;
    void setFaults(const Faults& faults);

    HartDevice hartDevice() const;
    Command3Values lastCommand3Values() const;
    // The instrument's values as the gateway serves them on RS485: polled
    // once per communication interval.
    Command3Values polledValues();

    Counters counters() const;
    // Blocks until pred(counters()) holds or the timeout passes; returns pred's last value.
    bool waitFor(const std::function<bool(const Counters&)>& pred,
                 std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
