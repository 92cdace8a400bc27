// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's pseudo-terminals: opened raw, with a stable link name the
// user can type, shared by the configuration port and the MODBUS port.
#pragma once

#include <string>

namespace sim {

std::string errnoText(const char* what, int err);
void closeFd(int& fd);

struct Pty {
    int master = -1;
    int slave = -1; // kept open so the master never sees a hang-up while no client is connected
    std::string path;
};

// Opens a raw pty pair, the master non-blocking.
bool openPty(Pty& pty, std::string* error);
// A simulated port's start: its stop event, its pty and, when `link` is
// set, the link to it (`linkTarget` then names the pty); all or nothing.
bool openLinkedPty(Pty& pty, int& stopFd, const std::string& link, std::string& linkTarget, std::string* error);
// Points link at target, replacing an older link atomically; refuses to
// replace anything that is not a symbolic link.
bool placeLink(const std::string& link, const std::string& target, std::string* error);
// Removes the link only while it still points at our pty, so that a second
// simulator that took the name over keeps it.
void removeLinkIfOurs(const std::string& link, const std::string& target);

} // namespace sim
