// SPDX-License-Identifier: GPL-3.0-or-later
// Checks for the fuzz targets. They stay active in optimised builds (unlike
// assert) and abort, which libFuzzer reports as a crash and saves the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace fuzzcheck {

[[noreturn]] inline void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

// The input in a heap block of exactly its size, so that reading one byte
// past the received bytes is an AddressSanitizer report, not a silent read
// of libFuzzer's own buffer.
class ExactCopy {
public:
    ExactCopy(const uint8_t *data, size_t size) : size_(size), bytes_(new uint8_t[size])
    {
        if (size)
            std::memcpy(bytes_.get(), data, size);
    }
    const uint8_t *data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    std::string_view text() const { return {reinterpret_cast<const char *>(bytes_.get()), size_}; }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

// The first valid HART reply with this delimiter (0x06 or 0x86), worked out
// apart from the decoders: two preambles, the delimiter, a byte count that
// fits and a checksum that verifies. Where its data after the two status
// bytes starts, and how many bytes it has.
struct ValidReply {
    size_t dataAt = 0;
    size_t size = 0;
};
inline std::optional<ValidReply> firstValidReply(const uint8_t *rx, size_t length, uint8_t delimiter)
{
    const size_t addressBytes = (delimiter & 0x80) ? 5 : 1;
    for (size_t d = 2; d < length; ++d) {
        if (rx[d - 2] != 0xFF || rx[d - 1] != 0xFF || rx[d] != delimiter)
            continue;
        const size_t countAt = d + addressBytes + 2;
        if (countAt >= length || countAt + rx[countAt] + 2 > length)
            continue;
        const size_t end = countAt + rx[countAt] + 2;
        uint8_t sum = 0;
        for (size_t i = d; i + 1 < end; ++i)
            sum ^= rx[i];
        if (sum != rx[end - 1])
            continue;
        const size_t count = rx[countAt];
        return ValidReply{countAt + 1 + (count < 2 ? count : 2), count >= 2 ? count - 2 : 0};
    }
    return std::nullopt;
}

} // namespace fuzzcheck

#define FUZZ_CHECK(cond)                                                                                          \
    do {                                                                                                          \
        if (!(cond))                                                                                              \
            ::fuzzcheck::fail(#cond, __FILE__, __LINE__);                                                         \
    } while (0)
