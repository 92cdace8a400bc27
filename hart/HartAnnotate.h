// SPDX-License-Identifier: GPL-3.0-or-later
// What a HART frame says, for the traffic monitor and the diagnostics
// lines: frame type, address, command, response code, field device status,
// checksum and the data of the commands this tool reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HartReader.h"

namespace hart {

// "Read Unique Identifier", "Read Dynamic Variables and Loop Current", ...
// for the commands this tool reads, else "command N".
std::string commandName(uint8_t command);

// The first status byte: "OK", the response code's HART name ("Command Not
// Implemented"), "response code N", or with bit 7 set the communication error
// bits ("communication error: framing error, buffer overflow").
std::string responseText(uint8_t code);
// A communication error, or a response code in the error (not warning) classes.
bool responseIsError(uint8_t code);

// Names of the field device status bits that are set, highest bit first.
std::vector<std::string> deviceStatusNames(uint8_t status);

// Faults the engineer must see in red: bad checksum, communication error,
// error response code, device malfunction.
bool reportsFault(const Frame &frame);

// Status line for the diagnostics: "Response: OK; status: cold start", or
// "checksum BAD; ...".
std::string statusLine(const Frame &frame);

// One line saying everything above, for the traffic monitor. Bytes without
// a complete frame are described as far as they go.
std::string describe(const uint8_t *bytes, size_t size);

} // namespace hart
