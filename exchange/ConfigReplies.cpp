// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigReplies.h"

#include "StrictInt.h"

#include <algorithm>
#include <array>
#include <span>
#include <cstddef>

namespace exchange {

namespace {

// Reads fixed-width values after one key. Fields beyond the end of the reply
// are simply absent: a text takes what is there, an index converts what is
// there (possibly nothing, which fails).
class KeyReader {
public:
    KeyReader(std::string_view reply, std::optional<std::string> &error) : reply_(reply), error_(error) {}

    // Finds the key's first occurrence, searching from the start every time.
    bool find(std::string_view key)
    {
        const size_t at = reply_.find(key);
        if (at == std::string_view::npos)
            return false;
        valueStart_ = at + key.size();
        return true;
    }

    // Converts the field at offset/width into `into`. Returns false (and
    // records the conversion message) when it is not a number; decoding
    // stops there.
    bool index(size_t offset, size_t width, std::optional<int> &into)
    {
        const std::string_view field = this->field(offset, width);
        const std::optional<int32_t> value = strictToInt(field);
        if (!value) {
            error_ = notAnIntegerMessage(field);
            return false;
        }
        into = static_cast<int>(*value);
        return true;
    }

    // The characters as they stand; `number` gets their value when they are
    // exactly `width` decimal digits.
    void text(size_t offset, size_t width, std::optional<std::string> &into, std::optional<int> &number)
    {
        const std::string_view field = this->field(offset, width);
        into = std::string(field);
        const bool digits = field.size() == width
            && field.find_first_not_of("0123456789") == std::string_view::npos;
        if (digits)
            number = static_cast<int>(*strictToInt(field));
    }

private:
    std::string_view field(size_t offset, size_t width) const
    {
        const size_t start = valueStart_ + offset;
        if (start >= reply_.size())
            return {};
        return reply_.substr(start, width);
    }

    std::string_view reply_;
    std::optional<std::string> &error_;
    size_t valueStart_ = 0;
};

} // namespace

SystemReply decodeSystemParameters(std::string_view receivedText)
{
    SystemReply result;
    SystemSettings &s = result.settings;
    KeyReader r(receivedText, result.error);

    if (r.find("MD:") && !r.index(0, 1, s.mode))
        return result;
    if (r.find("C1:"))
        r.text(0, 3, result.addressText, s.address);
    if (r.find("BOA:") && !(r.index(0, 1, s.rs485a.baud) && r.index(1, 1, s.rs485a.parity)))
        return result;
    if (r.find("BOB:") && !(r.index(0, 1, s.rs485b.baud) && r.index(1, 1, s.rs485b.parity)))
        return result;
    if (r.find("DTA:") && !r.index(0, 1, s.rs485a.returnTime))
        return result;
    if (r.find("DTB:") && !r.index(0, 1, s.rs485b.returnTime))
        return result;
    if (r.find("RTM:"))
        r.text(0, 3, result.intervalText, s.interval);
    std::optional<int> channels;
    std::optional<std::string> channelsError;
    if (KeyReader x(receivedText, channelsError); x.find("XH:") && x.index(0, 1, channels))
        result.channels = channels;
    return result;
}

InstrumentReply decodeInstrumentTable(std::string_view receivedText)
{
    static constexpr std::array<std::string_view, kInstrumentRows> kKeys = {"T01:", "T02:", "T03:", "T04:"};

    InstrumentReply result;
    KeyReader r(receivedText, result.error);

    for (size_t row = 0; row < kKeys.size(); ++row) {
        if (!r.find(kKeys[row]))
            continue;
        InstrumentSettings &s = result.rows[row];
        // The preamble digit is the count itself ("4".."9").
        if (!(r.index(0, 1, s.mode) && r.index(1, 2, s.type) && r.index(3, 1, s.preambles)))
            return result;
        r.text(4, 3, result.intervalText[row], s.interval);
    }
    return result;
}

namespace {

struct KeyWidth {
    std::string_view key;
    size_t width;
};

bool holdsAll(std::string_view text, std::span<const KeyWidth> keys)
{
    if (!wholeTextReply(text))
        return false;
    return std::all_of(keys.begin(), keys.end(), [&](const KeyWidth &k) {
        const size_t at = text.find(k.key);
        return at != std::string_view::npos && at + k.key.size() + k.width <= text.size();
    });
}

} // namespace

bool wholeTextReply(std::string_view receivedText)
{
    while (!receivedText.empty() && (receivedText.back() == '\r' || receivedText.back() == '\n'))
        receivedText.remove_suffix(1);
    return !receivedText.empty() && receivedText.back() == '#';
}

bool wholeSystemReply(std::string_view receivedText)
{
    static constexpr KeyWidth kKeys[] = {{"MD:", 1},  {"C1:", 3},  {"BOA:", 2}, {"BOB:", 2},
                                         {"DTA:", 1}, {"DTB:", 1}, {"RTM:", 3}};
    return holdsAll(receivedText, kKeys);
}

bool wholeInstrumentReply(std::string_view receivedText)
{
    static constexpr KeyWidth kKeys[] = {{"T01:", 7}, {"T02:", 7}, {"T03:", 7}, {"T04:", 7}};
    return holdsAll(receivedText, kKeys);
}

} // namespace exchange
