// SPDX-License-Identifier: GPL-3.0-or-later
// The line protocol between the behaviour tests under Wine and the native
// peer that plays the device: one request line, one reply line ("ok ..." or
// "err ..."), bytes as hex.
//   new                      -> ok ID COMn     a pseudo-terminal mapped as COMn
//   write ID HEX             -> ok
//   read ID COUNT MS         -> ok HEX
//   drain ID MS              -> ok HEX
//   hangup ID | free ID      -> ok
//   flood ID 1|0             -> ok
//   line ID                  -> ok BAUD BITS RAW XON XOFF
//   speed ID BAUD            -> ok
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace SerialTest {

inline std::string toHex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline bool fromHex(const std::string &text, std::vector<uint8_t> &out)
{
    auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

} // namespace SerialTest
