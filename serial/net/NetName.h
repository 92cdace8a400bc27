// SPDX-License-Identifier: GPL-3.0-or-later
// Port names of serial device servers: "tcp://HOST:PORT" (raw TCP, the line
// settings are the server's) and "rfc2217://HOST:PORT" (Telnet with the
// COM-Port-Control option, the line settings are sent to the server).
#pragma once

#include <optional>
#include <string>

namespace SerialComm {

struct NetPortName {
    bool rfc2217 = false;
    std::string host; // without the brackets of an IPv6 literal
    std::string port; // decimal, 1..65535
};

// True when `name` starts with one of the network schemes (letter case
// ignored), whether or not the rest is well formed.
bool isNetworkPortName(const std::string &name);
// The parts of a well-formed network port name; nothing otherwise.
std::optional<NetPortName> parseNetworkPortName(const std::string &name);

// Connects to the device server named `name` (and, for RFC 2217, has it take
// up the COM-Port-Control option) so that the next OpenPort of that name
// takes the connection over instead of waiting up to 3 s itself. Meant for a
// thread other than the window's; returns 0 or the errno of the failure. A
// connection not taken over within 10 s is closed.
int connectAhead(const std::string &name);

} // namespace SerialComm
