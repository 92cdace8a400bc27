// SPDX-License-Identifier: GPL-3.0-or-later
// Line settings through the termios2 interface. Kept apart because
// <asm/termbits.h> and glibc's <termios.h> cannot share a translation unit.
#pragma once

#include "../PortBackend.h"

namespace SerialComm::detail {

// Puts the tty in raw mode with the given framing, flow control and speed
// (any integer rate). Returns false with errno set when the driver refuses.
bool posixApplyLine(int fd, const LineSettings &settings);

} // namespace SerialComm::detail
