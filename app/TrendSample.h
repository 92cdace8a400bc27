// SPDX-License-Identifier: GPL-3.0-or-later
// One point of the HART trend: what a command 3 reply said, and when.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

struct TrendSample {
    std::chrono::system_clock::time_point time;
    float loopCurrent = 0.0f;                 // mA
    int variableCount = 0;                    // 0..4 received
    std::array<float, 4> values{};
    std::array<uint8_t, 4> units{};           // HART unit codes
};
