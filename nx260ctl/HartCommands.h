// SPDX-License-Identifier: GPL-3.0-or-later
// Steps shared by the HART commands: addressing an instrument, learning its
// identity, checking a reply's response code.
#pragma once

#include "Session.h"

#include "HartReader.h"

#include <cstdint>
#include <string>

namespace nx260ctl {

// The gateway's header counts addresses from 0, the window from 1.
inline uint8_t addressIndex(int address)
{
    return static_cast<uint8_t>(address - 1);
}

// "hart: command 0 at address A", the name of the request in messages.
std::string command0Name(int address);

// Address, manufacturer id, device type, preambles and device id.
Json identityJson(int address, const hart::Command0Data &c0);

// Fails with Differs unless the reply's response code is 0.
void checkResponse(const std::string &what, const hart::Frame &f);

// Command 0 at the address with index `addressIndex`, with the options'
// master role and preambles.
hart::Command0Data hartIdentify(Session &s, const std::string &what, uint8_t addressIndex);

} // namespace nx260ctl
