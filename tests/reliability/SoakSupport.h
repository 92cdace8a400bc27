// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the soak tests: run sizes, reproducible random data,
// checksums and process probes.
//
// NX_SOAK_SCALE picks the size of every soak:
//   unset or empty  the reduced size the normal test run uses
//   full            the full size (scripts/soak.sh)
//   a number f      f times the full size (e.g. 0.2), at least 1 of everything
// NX_SOAK_SEED replaces the fixed random seed, to repeat a run with other data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Soak {

// The reduced size when no scale is given, else the full size times the scale.
size_t size(size_t reduced, size_t full);
// "reduced", "full" or the factor, for the report lines.
std::string scaleName();
uint64_t seed();

// Called before QTest::qExec: a scaled-up run takes longer than the test
// library's per-function watchdog allows by default.
void allowLongRun();

// Bytes of a stream that both ends can generate on their own, so that a
// receiver checks every byte without the sender's copy.
class ByteStream {
public:
    explicit ByteStream(uint64_t seed) : m_state(seed) {}
    void fill(uint8_t *out, size_t length);

private:
    uint64_t next();
    uint64_t m_state;
    uint64_t m_word = 0;
    unsigned m_left = 0;
};

// 64-bit FNV-1a over everything fed to it.
class Checksum {
public:
    void add(const uint8_t *data, size_t length);
    uint64_t value() const { return m_hash; }

private:
    uint64_t m_hash = 0xcbf29ce484222325ull;
};

// Resident set size of this process in KiB (0 when unknown).
long residentKiB();

// False where the resident size says nothing about leaks: builds whose
// allocator keeps freed memory in quarantine (sanitizers) and runs under
// valgrind, whose own bookkeeping grows with the run.
bool residentSizeMeaningful();

// One line of measured figures on stdout, "soak: <text>", for scripts/soak.sh.
void report(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace Soak
