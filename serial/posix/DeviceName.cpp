// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeviceName.h"

#include <cctype>

namespace SerialComm::detail {

std::string devicePathFor(const std::string &name)
{
    if (name.size() < 4 || name.size() > 7)
        return name;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return name;
    }
    if (name[3] == '0')
        return name;
    unsigned long number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return name;
        number = number * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

} // namespace SerialComm::detail
