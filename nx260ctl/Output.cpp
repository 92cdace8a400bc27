// SPDX-License-Identifier: GPL-3.0-or-later
#include "Output.h"

#include "ConfigReplies.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

namespace nx260ctl {

namespace {

bool textByte(uint8_t b)
{
    return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n';
}

} // namespace

std::string printable(const std::vector<uint8_t> &bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
        } else if (b != '\r' && b != '\n') {
            out += "\\x" + hart::hexByte(b);
        }
    }
    return out;
}

std::string received(const std::vector<uint8_t> &bytes)
{
    const bool text = std::all_of(bytes.begin(), bytes.end(), textByte);
    return text ? "\"" + printable(bytes) + "\"" : "bytes " + hexText(bytes);
}

bool refused(const std::vector<uint8_t> &reply)
{
    return std::string_view(reinterpret_cast<const char *>(reply.data()), reply.size()).starts_with("ERROR");
}

bool identification(const std::vector<uint8_t> &reply)
{
    const std::string_view text(reinterpret_cast<const char *>(reply.data()), reply.size());
    return exchange::wholeTextReply(text) && !refused(reply) && std::all_of(reply.begin(), reply.end(), textByte);
}

std::string floatText(float v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

Json floatJson(float v)
{
    if (v != v || v == std::numeric_limits<float>::infinity() || v == -std::numeric_limits<float>::infinity())
        return nullptr; // JSON has no NaN or infinity
    return std::stod(floatText(v));
}

void printLines(std::ostream &out, const std::vector<std::pair<std::string, std::string>> &lines)
{
    size_t width = 0;
    for (const auto &l : lines)
        width = std::max(width, l.first.size());
    for (const auto &[key, value] : lines)
        out << key << std::string(width + 2 - key.size(), ' ') << value << '\n';
}

} // namespace nx260ctl
