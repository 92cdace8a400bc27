// SPDX-License-Identifier: GPL-3.0-or-later
#include "ComName.h"

#include <algorithm>
#include <cctype>

#include <windows.h>

namespace SerialComm::detail {

std::string devicePathFor(const std::string &name)
{
    if (name.size() < 5 || name.size() > 6 || name[3] == '0')
        return name;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return name;
    }
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return name;
    }
    return "\\\\.\\" + name;
}

std::wstring widen(const std::string &text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

} // namespace SerialComm::detail
