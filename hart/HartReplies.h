// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of HART command 0 and command 3 replies, as received through the
// gateway. Decoders never read past the received bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "HartFrames.h"
#include "HartReader.h"

namespace hart {

constexpr int kUnitCount = 77;
constexpr int kUnitOther = 76;
// The unit list shown in every unit combo, index 0 "inH20" .. 75 "%", 76 "other" (UTF-8).
extern const std::array<const char *, kUnitCount> kUnitNames;
// Combo index for a HART unit code; unknown codes give kUnitOther.
int unitIndexForCode(uint8_t code);

// The window's reading of a command 0 reply: the first valid short-frame
// reply (findReply) whose data holds the identity. nullopt: none; *fault
// then says what the last candidate lacked.
std::optional<Command0Data> decodeCommand0(const uint8_t *rx, size_t length, ReplyFault *fault = nullptr);

struct Variable {
    int number = 0;          // 1..4
    std::string valueText;   // formatValue of the value
    int unitIndex = kUnitOther;
};
struct Command3Info {
    bool markerFound = false;  // a valid long-frame reply was found
    ReplyFault fault = ReplyFault::NotFound; // without one: why
    std::vector<Variable> variables; // in order 1..4: those the byte count covers and that fully arrived
};
Command3Info decodeCommand3(const uint8_t *rx, size_t length);

// General format with up to 15 significant digits: fixed below 1E15 and down
// to 0.00001, otherwise scientific ("1E20", "1.5E-7"); "NAN", "INF", "-INF".
std::string generalFloatText(double v);
// The value box text, at most 9 characters: generalFloatText cut to 9 where
// that drops fraction digits only, else the scientific form with as many
// significant digits as fit, rounded ("1.5E10", "-1.235E-7").
std::string formatValue(float v);

} // namespace hart
