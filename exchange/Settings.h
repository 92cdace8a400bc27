// SPDX-License-Identifier: GPL-3.0-or-later
// The gateway's settings by meaning: what the set requests carry and what the
// query replies report. Choices are held as the item index the gateway uses
// on the wire; every field is optional because a reply may lack it and a
// change may touch only some of them. No widgets: the window maps these to
// its controls, the command-line tool to its keys and profiles.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace exchange {

constexpr int kInstrumentRows = 4;

// Item lists, index = the value on the wire.
constexpr std::array<int, 8> kBaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 56000, 115200};
constexpr std::array<std::string_view, 3> kParityWords = {"none", "odd", "even"};
constexpr std::array<std::string_view, 6> kReturnTimes = {"0_\u65e0\u5ef6\u65f6", "1_100MS", "2_200MS",
                                                          "3_300MS",              "4_300MS", "5_500MS"};
constexpr std::array<std::string_view, 2> kModeWords = {"transparent", "modbus"};
constexpr std::array<std::string_view, 2> kDeviceModeWords = {"secondary", "master"};
constexpr std::array<int, 3> kChannelCounts = {1, 2, 4};
constexpr int kInstrumentTypes = 1; // the gateway knows one instrument type

// The item lists the window shows and the traffic monitor names, index = the
// value on the wire. The return times above are shown as they stand.
constexpr std::array<std::string_view, 8> kBaudItems = {"1200",  "2400",  "4800",  "9600",
                                                        "19200", "38400", "56000", "115200"};
constexpr std::array<std::string_view, 3> kParityItems = {"None", "Odd", "Even"};
constexpr std::array<std::string_view, 2> kModeItems = {"Transparent Mode", "MODBUS Mode"};
constexpr std::array<std::string_view, 2> kDeviceModeItems = {"Secondary Master Device", "Master Device"};
constexpr std::array<std::string_view, kInstrumentTypes> kInstrumentTypeItems = {"Yokogawa Vortex Flowmeter"};
constexpr std::array<std::string_view, 6> kPreambleItems = {"4", "5", "6", "7", "8", "9"};
constexpr std::array<std::string_view, 3> kChannelItems = {"1 Channels", "2 Channels", "4 Channels"};
constexpr int kPreamblesMin = 4;
constexpr int kPreamblesMax = 9;
constexpr int kNumberMax = 999;     // three-digit fields

struct PortSettings {
    std::optional<int> baud;       // index into kBaudRates
    std::optional<int> parity;     // index into kParityWords
    std::optional<int> returnTime; // index into kReturnTimes
    bool operator==(const PortSettings &) const = default;
};

struct SystemSettings {
    std::optional<int> mode;     // index into kModeWords
    std::optional<int> address;  // MODBUS slave address, 0..999
    PortSettings rs485a, rs485b;
    std::optional<int> interval; // communication interval, units of 100 ms, 0..999
    std::optional<int> channels; // index into kChannelCounts; reported ("XH:") by some gateways only
    bool operator==(const SystemSettings &) const = default;
};

struct InstrumentSettings {
    std::optional<int> mode;      // index into kDeviceModeWords
    std::optional<int> type;      // instrument type index
    std::optional<int> preambles; // preamble count, 4..9
    std::optional<int> interval;  // communication count, 0..999
    bool operator==(const InstrumentSettings &) const = default;
};

struct GatewaySettings {
    SystemSettings system;
    std::array<InstrumentSettings, kInstrumentRows> instruments;
    bool operator==(const GatewaySettings &) const = default;
};

// Fields of `over` replace those of `base` where present.
GatewaySettings merged(const GatewaySettings &base, const GatewaySettings &over);

} // namespace exchange
