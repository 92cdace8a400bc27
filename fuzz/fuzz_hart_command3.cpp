// SPDX-License-Identifier: GPL-3.0-or-later
// The HART command 3 reply decoder against arbitrary replies, each in a heap
// block of exactly its size (a read past the received bytes is an
// AddressSanitizer report). Checks:
//  - the reply is found exactly when the bytes hold a valid long-frame reply
//    (two preambles, byte count that fits, checksum that verifies);
//  - variables are numbered 1, 2, ... in order, as many as the first valid
//    reply's byte count covers (variable k needs 6 + 5k: 11, 16, 21, 26);
//  - each unit index is in 0..76;
//  - each value text is 1..9 characters: the general format text when it
//    fits, its first nine characters when only fraction digits are cut, else
//    a scientific text that keeps the magnitude; the general format text
//    reads back as the float (15 digits).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "HartReplies.h"

namespace {

float bigEndianFloat(const uint8_t *p)
{
    return std::bit_cast<float>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]));
}

bool valueChar(char c)
{
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'E';
}

void checkValueText(const std::string &shown, float value)
{
    FUZZ_CHECK(!shown.empty() && shown.size() <= 9);

    const std::string full = hart::generalFloatText(static_cast<double>(value));
    const bool cutKeepsInteger = full.find('E') == std::string::npos && std::min(full.find('.'), full.size()) <= 9;
    if (full.size() <= 9) {
        FUZZ_CHECK(shown == full);
    } else if (cutKeepsInteger) {
        FUZZ_CHECK(shown == full.substr(0, 9));
    } else {
        // At least three significant digits, rounded.
        const double seen = std::strtod(shown.c_str(), nullptr);
        FUZZ_CHECK(shown.find('E') != std::string::npos);
        FUZZ_CHECK(std::fabs(seen - static_cast<double>(value)) <= std::fabs(static_cast<double>(value)) * 5e-3);
    }
    if (std::isnan(value)) {
        FUZZ_CHECK(full == "NAN");
        return;
    }
    if (std::isinf(value)) {
        FUZZ_CHECK(full == (value < 0 ? "-INF" : "INF"));
        return;
    }
    for (char c : full)
        FUZZ_CHECK(valueChar(c));
    // 15 significant digits hold a float exactly enough to read it back.
    const double back = std::strtod(full.c_str(), nullptr);
    const double v = static_cast<double>(value);
    FUZZ_CHECK(std::fabs(back - v) <= std::fabs(v) * 1e-14);
    FUZZ_CHECK(std::signbit(back) == std::signbit(v) || v == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzcheck::ExactCopy reply(data, size);
    const hart::Command3Info info = hart::decodeCommand3(reply.data(), size);

    const auto valid = fuzzcheck::firstValidReply(data, size, 0x86);
    FUZZ_CHECK(info.markerFound == valid.has_value());
    if (!valid) {
        FUZZ_CHECK(info.variables.empty());
        return 0;
    }
    const size_t covered = valid->size >= 9 ? std::min<size_t>(4, (valid->size - 4) / 5) : 0;
    FUZZ_CHECK(info.variables.size() == covered);

    for (size_t i = 0; i < info.variables.size(); ++i) {
        const hart::Variable &v = info.variables[i];
        FUZZ_CHECK(v.number == static_cast<int>(i) + 1);
        const size_t unitAt = valid->dataAt + 4 + 5 * i;
        FUZZ_CHECK(v.unitIndex >= 0 && v.unitIndex < hart::kUnitCount);
        FUZZ_CHECK(v.unitIndex == hart::unitIndexForCode(data[unitAt]));
        FUZZ_CHECK(hart::kUnitNames[static_cast<size_t>(v.unitIndex)] != nullptr);
        checkValueText(v.valueText, bigEndianFloat(data + unitAt + 1));
    }

    const hart::Command3Info again = hart::decodeCommand3(reply.data(), size);
    FUZZ_CHECK(again.markerFound == info.markerFound && again.variables.size() == info.variables.size());
    for (size_t i = 0; i < again.variables.size(); ++i)
        FUZZ_CHECK(again.variables[i].valueText == info.variables[i].valueText
                   && again.variables[i].unitIndex == info.variables[i].unitIndex);
    return 0;
}
