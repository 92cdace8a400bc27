// SPDX-License-Identifier: GPL-3.0-or-later
#include "HexText.h"

namespace hart {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void appendByte(std::string &out, uint8_t byte)
{
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

} // namespace

std::string hexByte(uint8_t byte)
{
    std::string out;
    appendByte(out, byte);
    return out;
}

std::string hexText(std::span<const uint8_t> bytes, bool blankAfterLast)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        appendByte(out, b);
    }
    if (blankAfterLast && !bytes.empty())
        out += ' ';
    return out;
}

} // namespace hart
