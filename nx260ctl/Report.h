// SPDX-License-Identifier: GPL-3.0-or-later
// The commissioning report: a printable HTML page made from record lines
// alone, so that it reads the same whoever writes it and whenever.
#pragma once

#include "Profile.h"

#include <string>
#include <vector>

namespace nx260ctl {

// Per gateway, in the order first met: its latest identification, the last
// value read back per key, its HART instruments, its changes. `recordPath`
// and `writtenAt` (UTC) are named in the heading.
std::string reportHtml(const std::vector<exchange::Json> &lines, const std::string &recordPath,
                       const std::string &writtenAt);

} // namespace nx260ctl
