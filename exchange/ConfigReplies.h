// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the gateway's system parameter and instrument table replies
// into the settings model. The decoders are pure; the window maps the result
// to its controls, the command-line tool to its keys.
// Errors: a decoder's result carries `error` (the reason) and what was decoded before it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "Settings.h"

namespace exchange {

// Fields decode in the order of the reply's keys (MD, C1, BOA, BOB, DTA, DTB,
// RTM); a conversion error stops decoding there, and everything decoded
// before it stays in the result. Choice indexes are reported as sent, even
// outside their list.
struct SystemReply {
    SystemSettings settings;
    // The three characters of "C1:" and "RTM:" as they stand (fewer when the
    // reply ends early). settings.address / settings.interval hold their value
    // only when they are exactly three decimal digits.
    std::optional<std::string> addressText;
    std::optional<std::string> intervalText;
    std::optional<std::string> error; // conversion message; decoding stopped there
    // The channel model ("XH:", index into kChannelCounts) where the gateway
    // reports it. Kept apart from `settings`: the window's form has never
    // taken it from the reply.
    std::optional<int> channels;
};

struct InstrumentReply {
    std::array<InstrumentSettings, kInstrumentRows> rows; // preambles: the digit's value
    std::array<std::optional<std::string>, kInstrumentRows> intervalText;
    std::optional<std::string> error;
};

SystemReply decodeSystemParameters(std::string_view receivedText);
InstrumentReply decodeInstrumentTable(std::string_view receivedText);

// Whether the text received so far is a whole reply: it ends with '#' and,
// for the two queries, holds every key with all its characters. Half a
// reply fails, so a reader that gets a split reply knows to wait for the rest.
bool wholeTextReply(std::string_view receivedText);
bool wholeSystemReply(std::string_view receivedText);
bool wholeInstrumentReply(std::string_view receivedText);

} // namespace exchange
