// SPDX-License-Identifier: GPL-3.0-or-later
// The parser of hand-typed HART bytes ("02 80 00 00") against arbitrary text,
// held in a heap block of exactly its length. The outcome is worked out here
// from the entry rules and compared:
//  - n = L div 3, plus 1 when L mod 3 = 2, at most 15; "NO SPACK" when n is 0
//    or a separator before the last counted byte is not a blank;
//  - else the conversion error for the first low digit below '0', naming it;
//  - else "Data eeore!" when any digit is not 0-9 / A-F;
//  - else refused when more than 15 bytes were typed, or when a lone
//    character follows the last byte (L mod 3 = 1);
//  - else 1..15 bytes, each the value of its two digits, whose hex echo (with
//    or without the final blank) parses back to the same bytes, and whose
//    frame is the preambles, the bytes and their XOR.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "HartFrames.h"

namespace {

std::optional<int> hexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return std::nullopt;
}

std::string echo(const hart::Bytes &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

void checkReparse(const std::string &text, const hart::Bytes &bytes)
{
    const hart::ManualEntry again = hart::parseManualEntry(text);
    FUZZ_CHECK(again.status == hart::ManualEntry::Ok);
    FUZZ_CHECK(again.bytes == bytes);
}

void checkFrame(const hart::Bytes &bytes, int preambles)
{
    const hart::Bytes frame = hart::manualFrame(bytes, preambles);
    const size_t p = static_cast<size_t>(preambles);
    FUZZ_CHECK(frame.size() == p + bytes.size() + 1);
    uint8_t sum = 0;
    for (size_t i = 0; i < p; ++i)
        FUZZ_CHECK(frame[i] == 0xFF);
    for (size_t i = 0; i < bytes.size(); ++i) {
        FUZZ_CHECK(frame[p + i] == bytes[i]);
        sum ^= bytes[i];
    }
    FUZZ_CHECK(frame.back() == sum);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzcheck::ExactCopy entry(data, size);
    const std::string_view text = entry.text();
    const hart::ManualEntry parsed = hart::parseManualEntry(text);

    size_t n = size / 3 + (size % 3 == 2 ? 1 : 0);
    if (n > 15)
        n = 15;

    bool separatorsOk = n > 0;
    for (size_t k = 0; separatorsOk && k + 1 < n; ++k)
        separatorsOk = data[3 * k + 2] == ' ';
    if (!separatorsOk) {
        FUZZ_CHECK(parsed.status == hart::ManualEntry::NoSpack);
        FUZZ_CHECK(parsed.bytes.empty());
        return 0;
    }

    // The low digit goes to the integer conversion when it is at or below
    // '9'; the first one below '0' ends the entry with that conversion error.
    for (size_t k = 0; k < n; ++k) {
        const unsigned char low = data[3 * k + 1];
        if (low < '0') {
            FUZZ_CHECK(parsed.status == hart::ManualEntry::ConversionError);
            FUZZ_CHECK(parsed.badText == std::string(1, static_cast<char>(low)));
            FUZZ_CHECK(parsed.bytes.empty());
            return 0;
        }
    }

    hart::Bytes expected;
    bool bad = false;
    for (size_t k = 0; k < n; ++k) {
        const std::optional<int> high = hexDigit(data[3 * k]);
        const std::optional<int> low = hexDigit(data[3 * k + 1]);
        if (!high || !low) {
            bad = true;
            break;
        }
        expected.push_back(static_cast<uint8_t>(*high << 4 | *low));
    }
    if (bad) {
        FUZZ_CHECK(parsed.status == hart::ManualEntry::DataError);
        FUZZ_CHECK(parsed.bytes.empty());
        return 0;
    }

    if (size / 3 + (size % 3 == 2 ? 1 : 0) > 15) {
        FUZZ_CHECK(parsed.status == hart::ManualEntry::TooManyBytes);
        FUZZ_CHECK(parsed.bytes.empty());
        return 0;
    }
    if (size % 3 == 1) {
        FUZZ_CHECK(parsed.status == hart::ManualEntry::LoneCharacter);
        FUZZ_CHECK(parsed.bytes.empty());
        return 0;
    }

    FUZZ_CHECK(parsed.status == hart::ManualEntry::Ok);
    FUZZ_CHECK(parsed.bytes.size() >= 1 && parsed.bytes.size() <= 15);
    FUZZ_CHECK(parsed.bytes == expected);

    const std::string typedBack = echo(parsed.bytes);
    FUZZ_CHECK(typedBack.size() == 3 * parsed.bytes.size());
    checkReparse(typedBack, parsed.bytes);
    checkReparse(typedBack.substr(0, typedBack.size() - 1), parsed.bytes);

    checkFrame(parsed.bytes, static_cast<int>(size % 32));
    return 0;
}
