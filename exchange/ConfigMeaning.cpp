// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigMeaning.h"

#include "Settings.h"

#include <array>
#include <optional>
#include <vector>

namespace exchange {

namespace {

// The item for an index, or the index itself when the list has no such item.
template <size_t N>
std::string item(const std::array<std::string_view, N> &list, int index)
{
    if (index >= 0 && static_cast<size_t>(index) < N)
        return std::string(list[static_cast<size_t>(index)]);
    return "item " + std::to_string(index);
}

int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Index for a digit character; a non-digit is shown as it stands.
template <size_t N>
std::string digitItem(const std::array<std::string_view, N> &list, char c)
{
    if (digit(c) >= 0)
        return item(list, digit(c));
    // Built in place: GCC 12 at -O3 with fortify flags warns (-Wrestrict, a
    // false alarm) on "'" + std::string + "'".
    std::string quoted(3, '\'');
    quoted[1] = c;
    return quoted;
}

std::string digits(std::string_view s, size_t count) { return std::string(s.substr(0, count)); }

std::string rs485(std::string_view v)
{
    if (v.size() < 2)
        return "incomplete";
    return digitItem(kBaudItems, v[0]) + " baud, " + digitItem(kParityItems, v[1]);
}

std::string instrument(std::string_view v)
{
    if (v.size() < 7)
        return "incomplete";
    const int type = digit(v[1]) < 0 || digit(v[2]) < 0 ? -1 : digit(v[1]) * 10 + digit(v[2]);
    return digitItem(kDeviceModeItems, v[0]) + ", " + item(kInstrumentTypeItems, type) + ", "
           + std::string(1, v[3]) + " preambles, comm count " + digits(v.substr(4), 3);
}

bool takePrefix(std::string_view &s, std::string_view prefix)
{
    if (!s.starts_with(prefix))
        return false;
    s.remove_prefix(prefix.size());
    return true;
}

// The value of "KEY:" up to the next '#', searched from the start.
std::optional<std::string_view> field(std::string_view reply, std::string_view key)
{
    const size_t at = reply.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view v = reply.substr(at + key.size());
    return v.substr(0, v.find('#'));
}

std::string join(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &p : parts)
        out += (out.empty() ? "" : ", ") + p;
    return out;
}

} // namespace

std::string describeRequest(std::string_view request)
{
    if (request == "QQQ#QV#")
        return "Communication query";
    if (request == "QQQ#QX1#")
        return "System parameter query";
    if (request == "QQQ#QH00#")
        return "Instrument table query";
    if (request == "QQS#RESET#")
        return "Parameter initialization";
    std::string_view s = request;
    if (takePrefix(s, "QRTNVK#PCBSN:") && s.ends_with('#')) {
        s.remove_suffix(1);
        const size_t comma = s.find(',');
        if (comma != std::string_view::npos)
            return "Set factory data: PCBSN " + std::string(s.substr(0, comma)) + ", inspector "
                   + std::string(s.substr(comma + 1));
    }
    s = request;
    if (!takePrefix(s, "QQS#") || !s.ends_with('#'))
        return "unknown request";
    s.remove_suffix(1);
    if (takePrefix(s, "ADR:") && s.size() == 3)
        return "Set MODBUS slave address: " + digits(s, 3);
    if (takePrefix(s, "RDM:") && s.size() == 3)
        return "Set communication interval: " + digits(s, 3) + " x 100 ms";
    if (takePrefix(s, "BOA:") && s.size() == 3)
        return "Set RS485A: " + rs485(s);
    if (takePrefix(s, "BOB:") && s.size() == 3)
        return "Set RS485B: " + rs485(s);
    if (takePrefix(s, "MD:") && s.size() == 1)
        return "Set communication mode: " + digitItem(kModeItems, s[0]);
    // The return time travels as a raw index byte.
    if (takePrefix(s, "DTA:") && s.size() == 1)
        return "Set RS485A data return time: " + item(kReturnTimes, static_cast<unsigned char>(s[0]));
    if (takePrefix(s, "DTK:") && s.size() == 1)
        return "Set RS485B data return time: " + item(kReturnTimes, static_cast<unsigned char>(s[0]));
    if (takePrefix(s, "XH:") && s.size() == 1)
        return "Set channel model: " + digitItem(kChannelItems, s[0]);
    if (takePrefix(s, "HA0") && s.size() == 9 && s[1] == ':' && digit(s[0]) >= 1 && digit(s[0]) <= 4)
        return "Set instrument " + std::string(1, s[0]) + ": " + instrument(s.substr(2));
    return "unknown request";
}

std::string describeReply(std::string_view reply)
{
    std::vector<std::string> parts;
    if (auto v = field(reply, "MD:"))
        parts.push_back("mode " + (v->empty() ? std::string("incomplete") : digitItem(kModeItems, (*v)[0])));
    if (auto v = field(reply, "C1:"))
        parts.push_back("slave address " + std::string(*v));
    if (auto v = field(reply, "BOA:"))
        parts.push_back("RS485A " + rs485(*v));
    if (auto v = field(reply, "BOB:"))
        parts.push_back("RS485B " + rs485(*v));
    // In replies the return time is a digit.
    if (auto v = field(reply, "DTA:"))
        parts.push_back("RS485A return time " + (v->empty() ? std::string("incomplete") : digitItem(kReturnTimes, (*v)[0])));
    if (auto v = field(reply, "DTB:"))
        parts.push_back("RS485B return time " + (v->empty() ? std::string("incomplete") : digitItem(kReturnTimes, (*v)[0])));
    if (auto v = field(reply, "RTM:"))
        parts.push_back("interval " + std::string(*v) + " x 100 ms");
    if (auto v = field(reply, "XH:"))
        parts.push_back("channel model " + (v->empty() ? std::string("incomplete") : digitItem(kChannelItems, (*v)[0])));
    if (!parts.empty())
        return "System parameters: " + join(parts);
    for (char row = '1'; row <= '4'; ++row) {
        const std::string key = std::string("T0") + row + ":";
        if (auto v = field(reply, key))
            parts.push_back("instrument " + std::string(1, row) + " " + instrument(*v));
    }
    if (!parts.empty()) {
        std::string out = "Instrument table: ";
        for (size_t i = 0; i < parts.size(); ++i)
            out += (i ? "; " : "") + parts[i];
        return out;
    }
    std::string_view text = reply;
    while (!text.empty() && (text.back() == '#' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return "Reply: " + std::string(text);
}

} // namespace exchange
