// SPDX-License-Identifier: GPL-3.0-or-later
// The commands by name. Each is a function of the session in a file of its
// own concern; Commands.cpp declares and lists them all in one place.
#pragma once

#include <string>

namespace nx260ctl {

class Session;

using Command = int (*)(Session &);

// The command that the first word names; null when there is none.
Command findCommand(const std::string &word);

} // namespace nx260ctl
