// SPDX-License-Identifier: GPL-3.0-or-later
// Maps the name typed by the user to the device path to open.
#pragma once

#include <string>

namespace SerialComm::detail {

// "COM10" and above (any letter case) only open through the device
// namespace, "\\.\COM10"; every other name is used exactly as typed.
std::string devicePathFor(const std::string &name);

// UTF-8 to the UTF-16 the wide Windows calls take.
std::wstring widen(const std::string &text);

} // namespace SerialComm::detail
