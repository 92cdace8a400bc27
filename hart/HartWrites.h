// SPDX-License-Identifier: GPL-3.0-or-later
// The HART write commands used to commission an instrument: the request data
// of each (checked before anything is built, so a value the device cannot
// take is never sent), the meaning of each response code per command, and
// how a value read back compares with the value asked for. No Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HartFrames.h"

namespace hart {

enum WriteCommand : uint8_t {
    kWritePollingAddress = 6,
    kWriteMessage = 17,
    kWriteTagDescriptorDate = 18,
    kWriteLongTag = 22,
    kWriteDamping = 34,
    kWriteRange = 35,
    kResetConfigurationChanged = 38,
    kLoopTest = 40,
    kWritePvUnit = 44,
};

// Request data, or why there is none (then nothing may be sent).
struct WriteData {
    Bytes data;
    std::string problem;            // empty when `data` is good
    std::vector<std::string> notes; // what the engineer must know before sending
    bool ok() const { return problem.empty(); }
};

// Packed ASCII takes 0x20..0x5F; lower case is sent upper-cased. The problem
// names the first character that cannot be sent, or a text too long.
std::optional<std::string> packedAsciiProblem(std::string_view field, std::string_view text, size_t maxCharacters);
// The text as the device keeps it: upper-cased, without trailing blanks.
std::string packedAsciiForm(std::string_view text);

WriteData tagDescriptorDateData(std::string_view tag, std::string_view descriptor, int day, int month, int year);
WriteData messageData(std::string_view message);
// UTF-8 text as 32 bytes of ISO Latin-1; HART 6 and later only.
WriteData longTagData(std::string_view text, uint8_t universalRevision);
// HART 5: 0..15, one byte (a non-zero address fixes the loop at 4 mA).
// HART 6 and 7: 0..63 and the loop current mode byte.
WriteData pollingAddressData(int address, uint8_t universalRevision, bool loopCurrentEnabled);
WriteData dampingData(float seconds);
WriteData rangeData(uint8_t unitCode, float upper, float lower);
WriteData pvUnitData(uint8_t unitCode);
// 0.0 leaves fixed-current mode.
WriteData loopCurrentData(float milliamperes);
// HART 7 names the configuration change counter it saw in command 0.
WriteData resetChangedData(uint8_t universalRevision, std::optional<uint16_t> changeCounter);

enum class ResponseClass { Success, Warning, Error };
struct WriteResponse {
    ResponseClass kind = ResponseClass::Success;
    std::string text; // "OK", "set to the nearest possible value", "lower range value too high" ...
    bool written() const { return kind != ResponseClass::Error; }
};
// The meaning of a response code to one of the write commands; codes with a
// meaning of their own per command (8..14, 29) are named for that command.
WriteResponse writeResponse(uint8_t command, uint8_t code);

constexpr uint8_t kResponseBusy = 32;
constexpr uint8_t kResponseWriteProtected = 7;
constexpr uint8_t kStatusConfigurationChanged = 0x40;
constexpr uint8_t kStatusLoopCurrentFixed = 0x08;

// The device kept what was asked: the same 32-bit float, or the same text
// in the form the device keeps it.
bool sameFloat(float asked, float kept);
bool sameText(std::string_view asked, std::string_view kept);

} // namespace hart
