// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetName.h"

#include <algorithm>
#include <cctype>

namespace SerialComm {

namespace {

// The length of the scheme prefix `name` starts with, or 0.
size_t schemeLength(const std::string &name, bool &rfc2217)
{
    auto startsWith = [&name](const std::string &prefix) {
        return name.size() >= prefix.size()
               && std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
                      return a == std::tolower(static_cast<unsigned char>(b));
                  });
    };
    if (startsWith("tcp://")) {
        rfc2217 = false;
        return 6;
    }
    if (startsWith("rfc2217://")) {
        rfc2217 = true;
        return 10;
    }
    return 0;
}

} // namespace

bool isNetworkPortName(const std::string &name)
{
    bool rfc2217 = false;
    return schemeLength(name, rfc2217) != 0;
}

std::optional<NetPortName> parseNetworkPortName(const std::string &name)
{
    NetPortName out;
    const size_t start = schemeLength(name, out.rfc2217);
    if (start == 0)
        return std::nullopt;
    std::string rest = name.substr(start);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon = 0;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        out.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            return std::nullopt;
        out.host = rest.substr(0, colon);
        if (out.host.find(':') != std::string::npos)
            return std::nullopt; // an IPv6 literal needs its brackets
    }
    out.port = rest.substr(colon + 1);
    if (out.host.empty() || out.port.empty() || out.port.size() > 5)
        return std::nullopt;
    for (const char c : out.host) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@')
            return std::nullopt;
    }
    unsigned long number = 0;
    for (const char c : out.port) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0 || number > 65535)
        return std::nullopt;
    return out;
}

} // namespace SerialComm
