// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes as hex text, written one way by every layer above: two upper-case
// digits a byte.
// Errors: none; every byte has its text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hart {

// "0A"
std::string hexByte(uint8_t byte);

// "02 80 00": a blank between bytes, and one after the last as well when
// `blankAfterLast` ("02 80 00 "); nothing for no bytes.
std::string hexText(std::span<const uint8_t> bytes, bool blankAfterLast = false);

} // namespace hart
