// SPDX-License-Identifier: GPL-3.0-or-later
// nx260ctl as a function: the program's main() calls it with its arguments,
// the tests call it with theirs and read what it printed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace nx260ctl {

enum Exit : int {
    Done = 0,
    Differs = 1,   // the gateway answered but differed or refused
    Usage = 2,     // bad command line or profile; nothing was sent
    PortError = 3, // cannot open the port, or it was lost
    NoReply = 4,   // no reply within the time-out
    OutputError = 5, // the output could not be written (full disk, closed pipe)
};

// Runs one command line (without the program name). The port comes from
// --port or, when absent, from `envPort` (NX260_PORT). Several --port or a
// --ports-file run the command on each gateway at once.
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, const std::string &envPort = {});

// The --help text (also the substance of the man page).
const char *helpText();

} // namespace nx260ctl
