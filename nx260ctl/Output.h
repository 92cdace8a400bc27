// SPDX-License-Identifier: GPL-3.0-or-later
// How replies, numbers and results are written for a reader.
#pragma once

#include "HexText.h"
#include "Profile.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace nx260ctl {

using exchange::Json;

// Printable rendering of a reply: text as it stands, other bytes as \xNN.
std::string printable(const std::vector<uint8_t> &bytes);
// What came in, for an error message: the text, and the bytes in hex when
// some are not text.
std::string received(const std::vector<uint8_t> &bytes);
// "02 80 00": upper-case hex digits, a blank between bytes.
using hart::hexText;

// The gateway's answer to a request it could not carry out.
bool refused(const std::vector<uint8_t> &reply);
// An identification is a line of text ending in '#', not a refusal.
bool identification(const std::vector<uint8_t> &reply);

// The shortest decimal that reads back as the same float.
std::string floatText(float v);
// The same as a JSON number; null for NaN and infinity.
Json floatJson(float v);

// Aligned "key  value" lines.
void printLines(std::ostream &out, const std::vector<std::pair<std::string, std::string>> &lines);

} // namespace nx260ctl
