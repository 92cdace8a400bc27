// SPDX-License-Identifier: GPL-3.0-or-later
#include "ComName.h"

#include <cctype>

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

} // namespace SerialComm::detail
