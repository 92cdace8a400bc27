// SPDX-License-Identifier: GPL-3.0-or-later
// HART request frames sent through the gateway in transparent mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hart {

using Bytes = std::vector<uint8_t>;

// What a command 0 reply taught us; zero until then.
struct Identity {
    uint8_t manufacturerId = 0;
    uint8_t deviceType = 0;
    std::array<uint8_t, 3> deviceId{};
};

constexpr uint8_t kPreamble = 0xFF;
// The gateway's transparent header: the HART address index (0..31), then these.
constexpr std::array<uint8_t, 3> kHeaderTail{0x66, 0x55, 0x01};
constexpr uint8_t kMaxHeaderAddress = 31;

constexpr int kFrameArea = 504;     // bytes available for one outgoing frame
constexpr int kMaxManualBytes = 15; // hand-typed bytes accepted at most

// Frame lengths without preambles, for the preamble bound checks.
constexpr int kCommand0Overhead = 9;  // header 4 + delimiter, address, command, count, checksum
constexpr int kCommand3Overhead = 13; // header 4 + delimiter, 5 address, command, count, checksum

// Transparent header, P x 0xFF, 02, master bit, 00, 00, checksum.
Bytes command0Frame(uint8_t addressIndex, bool masterMode, int preambles);
// Transparent header, P x 0xFF, 82, master bit | (manufacturer id & 0x3F),
// device type, device id (3), 03, 00, checksum.
Bytes command3Frame(uint8_t addressIndex, bool masterMode, const Identity &id, int preambles);
// The same long frame for any command (1, 2, 12, 13, 15, 20, 48 without
// data; the writes with theirs), addressed like command 3. Nothing when the
// preambles or the data (at most 255 bytes) do not fit.
Bytes commandFrame(uint8_t addressIndex, bool masterMode, const Identity &id, int preambles, uint8_t command,
                   const Bytes &data = {});

struct ManualEntry {
    // TooManyBytes: more than kMaxManualBytes typed; LoneCharacter: a last
    // byte with only one character. Both are refused rather than cut.
    enum Status { Ok, NoSpack, DataError, ConversionError, TooManyBytes, LoneCharacter };
    Status status = Ok;
    Bytes bytes;            // Ok: the 1..15 typed bytes
    std::string badText;    // ConversionError: the text the conversion refused
};

// Parses "0A 1B ..." as typed in the manual entry box.
ManualEntry parseManualEntry(std::string_view text);

// P x 0xFF, the typed bytes, XOR of the typed bytes.
Bytes manualFrame(const Bytes &typed, int preambles);

} // namespace hart
