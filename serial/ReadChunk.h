// SPDX-License-Identifier: GPL-3.0-or-later
// A chunk that a read gathers itself, and when it is handed over, by the
// classic comm time-out rules: when more than the interval passes after a
// byte, or when the total time runs out with data (without data the total
// re-arms). A full buffer ends the chunk too; that is the reader's own check.
#pragma once

#include "PortBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>

namespace SerialComm::detail {

class ReadChunk {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint32_t MaxTimeout = std::numeric_limits<uint32_t>::max();

    // Set by the owner's thread at any time.
    void set(const Timeouts &t)
    {
        m_interval.store(t.readInterval);
        m_multiplier.store(t.readTotalMultiplier);
        m_constant.store(t.readTotalConstant);
    }
    void setIgnoreNull(bool ignore) { m_ignoreNull.store(ignore); }

    // The read thread's part. The bytes gathered so far lie at the start
    // of the caller's buffer; an end seen with bytes in hand waits for the
    // next read.
    size_t collected = 0;

    void start()
    {
        collected = 0;
        m_pendingEnd = IoStatus::Ok;
        arm();
    }
    // Takes the `length` bytes just read to `data`, the end of those
    // gathered, NULs dropped when asked.
    void add(uint8_t *data, size_t length)
    {
        if (m_ignoreNull.load())
            length = static_cast<size_t>(std::remove(data, data + length, uint8_t{0}) - data);
        collected += length;
        m_lastByte = Clock::now();
    }
    ReadResult deliver(ReadResult r)
    {
        r.count = collected;
        collected = 0;
        arm();
        return r;
    }
    // True, with `r` filled in, when an end seen earlier is due now.
    bool endDue(ReadResult &r) const
    {
        r.status = m_pendingEnd;
        return m_pendingEnd != IoStatus::Ok;
    }
    // Closing: what was gathered but not handed over is dropped.
    ReadResult closed(ReadResult r)
    {
        collected = 0;
        r.status = IoStatus::Closed;
        return r;
    }
    // The read ends with `status` after the bytes in hand are handed over.
    ReadResult end(ReadResult r, IoStatus status)
    {
        if (collected > 0) {
            m_pendingEnd = status;
            return deliver(r);
        }
        r.status = status;
        return r;
    }

    struct Next {
        bool deliver = false;                  // hand the chunk over now
        std::optional<Clock::duration> wait{}; // else wait for bytes this long (none: no limit)
    };
    Next next(size_t capacity)
    {
        const uint32_t interval = m_interval.load();
        const uint32_t multiplier = m_multiplier.load();
        const uint32_t constant = m_constant.load();
        for (;;) {
            std::optional<Clock::time_point> deadline;
            const uint64_t total = multiplier == MaxTimeout ? constant : uint64_t(multiplier) * capacity + constant;
            if (total != 0)
                deadline = m_armed + std::chrono::milliseconds(total);
            if (collected > 0) {
                if (interval == MaxTimeout)
                    return {true}; // "return what is there"
                if (interval != 0) {
                    const auto gapEnd = m_lastByte + std::chrono::milliseconds(interval);
                    deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
                }
            }
            if (!deadline)
                return {};
            const auto now = Clock::now();
            if (now < *deadline)
                return {false, *deadline - now};
            if (collected > 0)
                return {true};
            m_armed = now;
        }
    }

private:
    void arm() { m_armed = Clock::now(); }

    std::atomic<uint32_t> m_interval{100};
    std::atomic<uint32_t> m_multiplier{0};
    std::atomic<uint32_t> m_constant{0};
    std::atomic<bool> m_ignoreNull{false};
    // Read thread only.
    IoStatus m_pendingEnd = IoStatus::Ok;
    Clock::time_point m_armed;
    Clock::time_point m_lastByte;
};

} // namespace SerialComm::detail
