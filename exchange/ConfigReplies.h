// Decoding of the gateway's system parameter and instrument table replies.
// The decoders are pure: they return what to set, in order, and the window
// applies it to its controls.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

struct FieldUpdate {
    enum Kind { ComboIndex, EditText };
    Kind kind;
    std::string control; // objectName of the combo or edit
    int index = 0;       // ComboIndex: item index as decoded (may be out of the list's range)
    std::string text;    // EditText: the characters present, as they stand
};

struct ConfigDecodeResult {
    std::vector<FieldUpdate> updates;  // apply in this order
    std::optional<std::string> error;  // conversion message; decoding stopped there
};

ConfigDecodeResult decodeSystemParameters(std::string_view receivedText);
ConfigDecodeResult decodeInstrumentTable(std::string_view receivedText);

} // namespace exchange
