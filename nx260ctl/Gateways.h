// SPDX-License-Identifier: GPL-3.0-or-later
// Serving one gateway or many at once.
#pragma once

#include "Options.h"

#include <ostream>
#include <string>
#include <vector>

namespace nx260ctl {

// One gateway: its command's output on `out`, its one-line error on `err`.
int runOne(const Options &o, std::ostream &out, std::ostream &err);

// The ports named by --port and --ports-file (one a line, '#' comments), or
// the environment's.
std::vector<std::string> portList(const Options &o, const std::string &envPort);

// Runs the command on every port at once (at most o.jobs at a time) and
// prints each gateway's result in the order the ports were given, as soon as
// it and those before it are done. Exit: the highest of the gateways'.
int runMany(const Options &o, const std::vector<std::string> &ports, std::ostream &out, std::ostream &err);

} // namespace nx260ctl
