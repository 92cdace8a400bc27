// SPDX-License-Identifier: GPL-3.0-or-later
// Strict text-to-integer conversion used for every number the user types and
// for the index digits of gateway replies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace exchange {

// Optional '+' or '-', then one or more decimal digits, nothing else, and the
// value must fit a signed 32-bit integer.
std::optional<int32_t> strictToInt(std::string_view text);

// The message shown when strictToInt fails: '<text>' is not a valid integer value
std::string notAnIntegerMessage(std::string_view text);

} // namespace exchange
