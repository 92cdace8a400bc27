// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartWrites.h"

#include "HartAnnotate.h"
#include "HartReader.h"

#include <bit>
#include <cmath>
#include <cstdio>

namespace hart {

namespace {

constexpr size_t kTagCharacters = 8;
constexpr size_t kDescriptorCharacters = 16;
constexpr size_t kMessageCharacters = 32;
constexpr size_t kLongTagBytes = 32;
constexpr int kHighestAddressHart5 = 15;
constexpr int kHighestAddress = 63;
constexpr float kHighestLoopCurrent = 25.0f; // mA; the device refuses what it cannot drive

WriteData refused(std::string problem)
{
    WriteData w;
    w.problem = std::move(problem);
    return w;
}

void appendFloat(Bytes &out, float value)
{
    const auto bits = std::bit_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(bits >> shift));
}

std::string characterName(unsigned char c)
{
    char text[32];
    if (c >= 0x20 && c < 0x7F)
        std::snprintf(text, sizeof text, "'%c' (0x%02X)", c, c);
    else
        std::snprintf(text, sizeof text, "byte 0x%02X", c);
    return text;
}

bool leap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

struct Named {
    uint8_t code;
    ResponseClass kind;
    const char *text;
};

// Codes whose meaning is shared by every write command.
constexpr Named kCommon[] = {
    {0, ResponseClass::Success, "OK"},
    {2, ResponseClass::Error, "invalid selection"},
    {3, ResponseClass::Error, "passed parameter too large"},
    {4, ResponseClass::Error, "passed parameter too small"},
    {5, ResponseClass::Error, "too few data bytes received"},
    {6, ResponseClass::Error, "device-specific command error"},
    {7, ResponseClass::Error, "in write protect mode"},
    {8, ResponseClass::Warning, "set to the nearest possible value"},
    {16, ResponseClass::Error, "access restricted"},
    {32, ResponseClass::Error, "busy"},
    {64, ResponseClass::Error, "command not implemented"},
};

struct CommandCodes {
    uint8_t command;
    Named codes[8];
};

// The codes that mean something different for each command.
constexpr CommandCodes kPerCommand[] = {
    {kWritePollingAddress, {{2, ResponseClass::Error, "invalid polling address selection"},
                            {12, ResponseClass::Error, "invalid loop current mode"}}},
    {kWriteTagDescriptorDate, {{9, ResponseClass::Error, "invalid date"}}},
    {kWriteRange,
     {{2, ResponseClass::Error, "invalid unit code"},
      {9, ResponseClass::Error, "lower range value too high"},
      {10, ResponseClass::Error, "lower range value too low"},
      {11, ResponseClass::Error, "upper range value too high"},
      {12, ResponseClass::Error, "upper range value too low"},
      {13, ResponseClass::Error, "upper and lower range values out of limits"},
      {14, ResponseClass::Warning, "span too small: accuracy may be impaired"},
      {29, ResponseClass::Error, "invalid span"}}},
    {kResetConfigurationChanged, {{9, ResponseClass::Error, "configuration change counter mismatch"}}},
    {kLoopTest, {{11, ResponseClass::Error, "in multidrop mode"}}},
    {kWritePvUnit, {{2, ResponseClass::Error, "invalid unit code"}, {12, ResponseClass::Error, "invalid unit code"}}},
};

} // namespace

std::optional<std::string> packedAsciiProblem(std::string_view field, std::string_view text, size_t maxCharacters)
{
    const std::string name(field);
    if (text.size() > maxCharacters)
        return name + " has " + std::to_string(text.size()) + " characters, at most " + std::to_string(maxCharacters)
            + " fit";
    for (const char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 'a' + 'A');
        if (c < 0x20 || c > 0x5F)
            return name + ": the character " + characterName(static_cast<unsigned char>(ch))
                + " cannot be sent (packed ASCII: space to '_', letters upper case)";
    }
    return std::nullopt;
}

std::string packedAsciiForm(std::string_view text)
{
    std::string out;
    for (const char ch : text)
        out += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

WriteData tagDescriptorDateData(std::string_view tag, std::string_view descriptor, int day, int month, int year)
{
    if (auto p = packedAsciiProblem("tag", tag, kTagCharacters))
        return refused(*p);
    if (auto p = packedAsciiProblem("descriptor", descriptor, kDescriptorCharacters))
        return refused(*p);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 2155 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]
        || (month == 2 && day == 29 && !leap(year)))
        return refused("date: not a date between 1900-01-01 and 2155-12-31");
    WriteData w;
    w.data = packAscii(tag, 6);
    const Bytes d = packAscii(descriptor, 12);
    w.data.insert(w.data.end(), d.begin(), d.end());
    w.data.insert(w.data.end(), {static_cast<uint8_t>(day), static_cast<uint8_t>(month),
                                 static_cast<uint8_t>(year - 1900)});
    return w;
}

WriteData messageData(std::string_view message)
{
    if (auto p = packedAsciiProblem("message", message, kMessageCharacters))
        return refused(*p);
    WriteData w;
    w.data = packAscii(message, 24);
    return w;
}

WriteData longTagData(std::string_view text, uint8_t universalRevision)
{
    if (universalRevision < 6)
        return refused("long tag: the instrument speaks HART " + std::to_string(universalRevision)
                       + "; a long tag needs HART 6 or later");
    WriteData w;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                return refused("long tag: the character " + characterName(c) + " cannot be sent");
            w.data.push_back(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()
                   && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            w.data.push_back(static_cast<uint8_t>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F)));
        } else {
            return refused("long tag: only ISO Latin-1 characters can be sent (" + characterName(c)
                           + " starts another)");
        }
    }
    if (w.data.size() > kLongTagBytes)
        return refused("long tag has " + std::to_string(w.data.size()) + " characters, at most 32 fit");
    w.data.resize(kLongTagBytes, 0x00);
    return w;
}

WriteData pollingAddressData(int address, uint8_t universalRevision, bool loopCurrentEnabled)
{
    const bool hart5 = universalRevision < 6;
    const int highest = hart5 ? kHighestAddressHart5 : kHighestAddress;
    if (address < 0 || address > highest)
        return refused("polling address " + std::to_string(address) + ": HART " + std::to_string(universalRevision)
                       + " takes 0 to " + std::to_string(highest));
    WriteData w;
    w.data.push_back(static_cast<uint8_t>(address));
    if (hart5) {
        if (address != 0)
            w.notes.push_back("a non-zero polling address fixes the loop current at 4 mA (multidrop)");
    } else {
        w.data.push_back(loopCurrentEnabled ? 1 : 0);
        if (!loopCurrentEnabled)
            w.notes.push_back("loop current mode disabled: the loop current stays fixed");
    }
    return w;
}

WriteData dampingData(float seconds)
{
    if (!std::isfinite(seconds) || seconds < 0.0f)
        return refused("damping must be a number of seconds, 0 or more");
    WriteData w;
    appendFloat(w.data, seconds);
    return w;
}

WriteData rangeData(uint8_t unitCode, float upper, float lower)
{
    if (!std::isfinite(upper) || !std::isfinite(lower))
        return refused("range: both values must be numbers");
    if (upper == lower)
        return refused("range: the upper and lower values are the same");
    WriteData w;
    w.data.push_back(unitCode);
    appendFloat(w.data, upper);
    appendFloat(w.data, lower);
    return w;
}

WriteData pvUnitData(uint8_t unitCode)
{
    WriteData w;
    w.data.push_back(unitCode);
    return w;
}

WriteData loopCurrentData(float milliamperes)
{
    if (!std::isfinite(milliamperes) || milliamperes < 0.0f || milliamperes > kHighestLoopCurrent)
        return refused("loop current must be 0 (leave fixed-current mode) or a value in mA up to 25");
    WriteData w;
    appendFloat(w.data, milliamperes);
    return w;
}

WriteData resetChangedData(uint8_t universalRevision, std::optional<uint16_t> changeCounter)
{
    WriteData w;
    if (universalRevision >= 7) {
        if (!changeCounter)
            return refused("reset configuration changed: HART 7 needs the configuration change counter of "
                           "command 0");
        w.data = {static_cast<uint8_t>(*changeCounter >> 8), static_cast<uint8_t>(*changeCounter)};
    }
    return w;
}

WriteResponse writeResponse(uint8_t command, uint8_t code)
{
    if (code & 0x80)
        return {ResponseClass::Error, responseText(code)};
    for (const CommandCodes &c : kPerCommand) {
        if (c.command != command)
            continue;
        for (const Named &n : c.codes) {
            if (n.text != nullptr && n.code == code)
                return {n.kind, n.text};
        }
    }
    for (const Named &n : kCommon) {
        if (n.code == code)
            return {n.kind, n.text};
    }
    return {responseIsError(code) ? ResponseClass::Error : ResponseClass::Warning,
            "response code " + std::to_string(code)};
}

bool sameFloat(float asked, float kept)
{
    return std::bit_cast<uint32_t>(asked) == std::bit_cast<uint32_t>(kept);
}

bool sameText(std::string_view asked, std::string_view kept)
{
    return packedAsciiForm(asked) == packedAsciiForm(kept);
}

} // namespace hart
