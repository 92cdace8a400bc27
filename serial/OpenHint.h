// SPDX-License-Identifier: GPL-3.0-or-later
// What an engineer can do about a port that did not open, in words; the
// window and the command-line tool show the same advice.
#pragma once

#include <string>

#include "SerialComm.h"

namespace SerialComm {

// Sentences to show after the error and its system reason, one per line;
// empty when there is nothing to add. `portName` is the name as typed: a COM
// name that this system maps to another device says which one was tried.
std::string openFailureHint(const ECommsError &error, const std::string &portName);

} // namespace SerialComm
