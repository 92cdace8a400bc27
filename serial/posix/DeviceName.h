// SPDX-License-Identifier: GPL-3.0-or-later
// Maps the name typed by the user to the device node to open.
#pragma once

#include <string>

namespace SerialComm::detail {

// "COMn" (n >= 1, any letter case) names the n-th serial port, /dev/ttyS<n-1>;
// anything else is a path used exactly as typed.
std::string devicePathFor(const std::string &name);

} // namespace SerialComm::detail
