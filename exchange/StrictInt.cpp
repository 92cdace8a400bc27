// SPDX-License-Identifier: GPL-3.0-or-later
#include "StrictInt.h"

namespace exchange {

std::optional<int32_t> strictToInt(std::string_view text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so INT32_MIN is reachable.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::string notAnIntegerMessage(std::string_view text)
{
    std::string msg;
    msg.reserve(text.size() + 32);
    msg += '\'';
    msg += text;
    msg += "' is not a valid integer value";
    return msg;
}

} // namespace exchange
