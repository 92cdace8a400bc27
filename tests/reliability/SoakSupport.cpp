// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoakSupport.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace Soak {

namespace {

// 0 for the reduced size, otherwise the factor on the full size.
double scale()
{
    const char *v = std::getenv("NX_SOAK_SCALE");
    if (!v || !*v)
        return 0;
    if (std::strcmp(v, "full") == 0)
        return 1;
    char *end = nullptr;
    const double f = std::strtod(v, &end);
    if (end == v || *end != '\0' || !(f > 0) || !std::isfinite(f)) {
        std::fprintf(stderr, "NX_SOAK_SCALE=%s is neither \"full\" nor a positive number\n", v);
        std::exit(2);
    }
    return f;
}

} // namespace

size_t size(size_t reduced, size_t full)
{
    const double f = scale();
    if (f == 0)
        return reduced;
    const double n = std::round(double(full) * f);
    return n < 1 ? 1 : size_t(n);
}

std::string scaleName()
{
    const double f = scale();
    if (f == 0)
        return "reduced";
    if (f == 1)
        return "full";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g x full", f);
    return buf;
}

uint64_t seed()
{
    const char *v = std::getenv("NX_SOAK_SEED");
    if (v && *v)
        return std::strtoull(v, nullptr, 0);
    return 0x4e58323630ull; // "NX260"
}

void allowLongRun()
{
    if (scale() > 0 && !std::getenv("QTEST_FUNCTION_TIMEOUT"))
        setenv("QTEST_FUNCTION_TIMEOUT", "86400000", 0);
}

// splitmix64: cheap, and every seed gives a different stream.
uint64_t ByteStream::next()
{
    uint64_t z = (m_state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

void ByteStream::fill(uint8_t *out, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (m_left == 0) {
            m_word = next();
            m_left = 8;
        }
        out[i] = uint8_t(m_word);
        m_word >>= 8;
        --m_left;
    }
}

void Checksum::add(const uint8_t *data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        m_hash ^= data[i];
        m_hash *= 0x100000001b3ull;
    }
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

bool residentSizeMeaningful()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    const char *preload = std::getenv("LD_PRELOAD");
    return !(preload && std::strstr(preload, "vgpreload"));
#endif
}

void report(const char *format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    std::printf("soak: %s\n", buf);
    std::fflush(stdout);
}

} // namespace Soak
