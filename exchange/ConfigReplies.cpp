#include "ConfigReplies.h"

#include "StrictInt.h"

#include <array>
#include <cstddef>

namespace exchange {

namespace {

// Reads fixed-width values after one key and collects what to set. Fields
// beyond the end of the reply are simply absent: a text takes what is there,
// an index converts what is there (possibly nothing, which fails).
class KeyReader {
public:
    KeyReader(std::string_view reply, ConfigDecodeResult &result) : reply_(reply), result_(result) {}

    // Finds the key's first occurrence, searching from the start every time.
    bool find(std::string_view key)
    {
        const size_t at = reply_.find(key);
        if (at == std::string_view::npos)
            return false;
        valueStart_ = at + key.size();
        return true;
    }

    // Converts the field at offset/width as an item index, minus bias.
    // Returns false (and records the conversion message) when it is not a
    // number; decoding stops there.
    bool index(size_t offset, size_t width, const std::string &control, int bias = 0)
    {
        const std::string_view field = this->field(offset, width);
        const std::optional<int32_t> value = strictToInt(field);
        if (!value) {
            result_.error = notAnIntegerMessage(field);
            return false;
        }
        // One or two characters hold at most a two-digit number, so the
        // subtraction cannot overflow.
        result_.updates.push_back({FieldUpdate::ComboIndex, control, static_cast<int>(*value) - bias, {}});
        return true;
    }

    void text(size_t offset, size_t width, const std::string &control)
    {
        result_.updates.push_back({FieldUpdate::EditText, control, 0, std::string(field(offset, width))});
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
    ConfigDecodeResult &result_;
    size_t valueStart_ = 0;
};

} // namespace

ConfigDecodeResult decodeSystemParameters(std::string_view receivedText)
{
    ConfigDecodeResult result;
    KeyReader r(receivedText, result);

    if (r.find("MD:") && !r.index(0, 1, "MODEL"))
        return result;
    if (r.find("C1:"))
        r.text(0, 3, "Edit14");
    if (r.find("BOA:") && !(r.index(0, 1, "BOA") && r.index(1, 1, "JIAOA")))
        return result;
    if (r.find("BOB:") && !(r.index(0, 1, "BOB") && r.index(1, 1, "JIAOB")))
        return result;
    if (r.find("DTA:") && !r.index(0, 1, "DTMA"))
        return result;
    if (r.find("DTB:") && !r.index(0, 1, "DTMB"))
        return result;
    if (r.find("RTM:"))
        r.text(0, 3, "RTD");
    return result;
}

ConfigDecodeResult decodeInstrumentTable(std::string_view receivedText)
{
    static constexpr std::array<std::string_view, 4> kKeys = {"T01:", "T02:", "T03:", "T04:"};

    ConfigDecodeResult result;
    KeyReader r(receivedText, result);

    for (size_t row = 0; row < kKeys.size(); ++row) {
        if (!r.find(kKeys[row]))
            continue;
        const std::string n = std::to_string(row + 1);
        // Preamble list items run "4".."9", so the digit's value minus 4 is
        // the item index; lower digits give an index outside the list.
        if (!(r.index(0, 1, "SBZHU" + n) && r.index(1, 2, "NEIXING" + n) && r.index(3, 1, "QIADF" + n, 4)))
            return result;
        r.text(4, 3, "DTM" + n);
    }
    return result;
}

} // namespace exchange
