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

} // namespace fuzzcheck

#define FUZZ_CHECK(cond)                                                                                          \
    do {                                                                                                          \
        if (!(cond))                                                                                              \
            ::fuzzcheck::fail(#cond, __FILE__, __LINE__);                                                         \
    } while (0)
