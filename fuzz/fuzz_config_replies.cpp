// SPDX-License-Identifier: GPL-3.0-or-later
// The system parameter and instrument table decoders against arbitrary reply
// text. Each key table below is written from the reply layouts; the checks
// walk it alongside the decoder's updates:
//  - every update names a known control, in table order;
//  - a text value is at most three characters, exactly those after its key;
//  - an index comes from the characters at its place (digits; the two-digit
//    type field also takes a sign, as the strict conversion does);
//  - a failed conversion ends decoding: it names the refused characters and
//    nothing follows; without an error every key present was decoded;
//  - decoding is repeatable;
//  - the set requests built from the values of each fully decoded key send
//    the same characters back.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "DecodedControls.h"
#include "FuzzCheck.h"

using exchange::ConfigDecodeResult;
using exchange::FieldUpdate;

namespace {

struct Field {
    size_t offset;       // after the colon
    size_t width;
    bool isIndex;
    std::string control;
    int bias = 0;        // subtracted from the converted index
};

struct Key {
    std::string key;
    std::vector<Field> fields;
};

const std::vector<Key> &systemKeys()
{
    static const std::vector<Key> keys = {
        {"MD:", {{0, 1, true, "MODEL"}}},
        {"C1:", {{0, 3, false, "Edit14"}}},
        {"BOA:", {{0, 1, true, "BOA"}, {1, 1, true, "JIAOA"}}},
        {"BOB:", {{0, 1, true, "BOB"}, {1, 1, true, "JIAOB"}}},
        {"DTA:", {{0, 1, true, "DTMA"}}},
        {"DTB:", {{0, 1, true, "DTMB"}}},
        {"RTM:", {{0, 3, false, "RTD"}}},
    };
    return keys;
}

const std::vector<Key> &instrumentKeys()
{
    static const std::vector<Key> keys = [] {
        std::vector<Key> rows;
        for (int n = 1; n <= 4; ++n) {
            const std::string d = std::to_string(n);
            rows.push_back({"T0" + d + ":",
                            {{0, 1, true, "SBZHU" + d},
                             {1, 2, true, "NEIXING" + d},
                             {3, 1, true, "QIADF" + d, 4},
                             {4, 3, false, "DTM" + d}}});
        }
        return rows;
    }();
    return keys;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The characters of a field that are present in the reply.
std::string_view presentChars(std::string_view reply, size_t valueStart, const Field &f)
{
    const size_t start = valueStart + f.offset;
    if (start >= reply.size())
        return {};
    return reply.substr(start, f.width);
}

// Optional sign and at least one digit; the fields are at most two wide, so
// the value always fits.
std::optional<int> indexValue(std::string_view chars)
{
    size_t i = 0;
    bool negative = false;
    if (!chars.empty() && (chars[0] == '+' || chars[0] == '-')) {
        negative = chars[0] == '-';
        i = 1;
    }
    if (i == chars.size())
        return std::nullopt;
    int value = 0;
    for (; i < chars.size(); ++i) {
        if (!isDigit(chars[i]))
            return std::nullopt;
        value = value * 10 + (chars[i] - '0');
    }
    return negative ? -value : value;
}

bool allDigits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), isDigit);
}

bool sameResult(const ConfigDecodeResult &a, const ConfigDecodeResult &b)
{
    if (a.error != b.error || a.updates.size() != b.updates.size())
        return false;
    for (size_t i = 0; i < a.updates.size(); ++i) {
        const FieldUpdate &x = a.updates[i];
        const FieldUpdate &y = b.updates[i];
        if (x.kind != y.kind || x.control != y.control || x.index != y.index || x.text != y.text)
            return false;
    }
    return true;
}

// What one present key decoded to, for the round trip.
struct Decoded {
    std::string_view chars[4];
    int index[4] = {};
};

void checkUpdates(std::string_view reply, const std::vector<Key> &keys, const ConfigDecodeResult &result,
                  std::vector<std::optional<Decoded>> &decoded)
{
    const std::vector<FieldUpdate> &updates = result.updates;
    size_t next = 0;
    decoded.assign(keys.size(), std::nullopt);

    for (size_t k = 0; k < keys.size(); ++k) {
        const Key &key = keys[k];
        // First occurrence, searched from the start for every key.
        const size_t at = reply.find(key.key);
        if (at == std::string_view::npos)
            continue;
        const size_t valueStart = at + key.key.size();
        Decoded d;
        for (size_t i = 0; i < key.fields.size(); ++i) {
            const Field &f = key.fields[i];
            const std::string_view chars = presentChars(reply, valueStart, f);
            d.chars[i] = chars;
            if (f.isIndex) {
                const std::optional<int> value = indexValue(chars);
                if (!value) {
                    // Decoding stops here: the message names exactly these
                    // characters and no later field or key was decoded.
                    FUZZ_CHECK(result.error.has_value());
                    FUZZ_CHECK(*result.error == "'" + std::string(chars) + "' is not a valid integer value");
                    FUZZ_CHECK(next == updates.size());
                    return;
                }
                FUZZ_CHECK(next < updates.size());
                const FieldUpdate &u = updates[next++];
                FUZZ_CHECK(u.kind == FieldUpdate::ComboIndex);
                FUZZ_CHECK(u.control == f.control);
                FUZZ_CHECK(u.text.empty());
                FUZZ_CHECK(u.index == *value - f.bias);
                d.index[i] = u.index;
            } else {
                FUZZ_CHECK(next < updates.size());
                const FieldUpdate &u = updates[next++];
                FUZZ_CHECK(u.kind == FieldUpdate::EditText);
                FUZZ_CHECK(u.control == f.control);
                FUZZ_CHECK(u.text.size() <= 3);
                FUZZ_CHECK(u.text == chars);
            }
        }
        decoded[k] = d; // only keys decoded in full take part in the round trip
    }
    // Ran to the end: no error and nothing beyond the present keys.
    FUZZ_CHECK(!result.error.has_value());
    FUZZ_CHECK(next == updates.size());
}

std::string asText(const exchange::Bytes &b)
{
    return std::string(b.begin(), b.end());
}

// A three-character text value as the number a set request carries, when it
// is one.
std::optional<int> threeDigits(std::string_view chars)
{
    if (chars.size() != 3 || !allDigits(chars))
        return std::nullopt;
    return (chars[0] - '0') * 100 + (chars[1] - '0') * 10 + (chars[2] - '0');
}

// Index fields the builders can encode: plain digits and a non-negative
// value within the digit's range.
bool encodable(const Decoded &d, size_t i, int max)
{
    return allDigits(d.chars[i]) && d.index[i] >= 0 && d.index[i] <= max;
}

void roundTripSystem(const std::vector<std::optional<Decoded>> &decoded)
{
    // Order as in systemKeys().
    if (const auto &md = decoded[0]; md && encodable(*md, 0, 9))
        FUZZ_CHECK(asText(exchange::setCommunicationMode(md->index[0])) == "QQS#MD:" + std::string(md->chars[0]) + "#");
    if (const auto &c1 = decoded[1]) {
        if (const auto n = threeDigits(c1->chars[0]))
            FUZZ_CHECK(asText(exchange::setSlaveAddress(*n)) == "QQS#ADR:" + std::string(c1->chars[0]) + "#");
    }
    for (size_t k : {size_t{2}, size_t{3}}) {
        const auto &bo = decoded[k];
        if (bo && encodable(*bo, 0, 9) && encodable(*bo, 1, 9)) {
            const char port = k == 2 ? 'A' : 'B';
            FUZZ_CHECK(asText(exchange::setRs485(port, bo->index[0], bo->index[1]))
                       == std::string("QQS#BO") + port + ":" + std::string(bo->chars[0]) + std::string(bo->chars[1])
                              + "0#");
        }
    }
    for (size_t k : {size_t{4}, size_t{5}}) {
        const auto &dt = decoded[k];
        if (dt && encodable(*dt, 0, 5)) {
            // Sent as the raw index byte, and port B's set key is "DTK:".
            const std::string key = k == 4 ? "QQS#DTA:" : "QQS#DTK:";
            const exchange::Bytes req = exchange::setDataReturnTime(k == 4 ? 'A' : 'B', dt->index[0]);
            FUZZ_CHECK(asText(req) == key + char(dt->chars[0][0] - '0') + "#");
        }
    }
    if (const auto &rtm = decoded[6]) {
        if (const auto n = threeDigits(rtm->chars[0]))
            FUZZ_CHECK(asText(exchange::setCommunicationInterval(*n)) == "QQS#RDM:" + std::string(rtm->chars[0]) + "#");
    }
}

void roundTripInstruments(const std::vector<std::optional<Decoded>> &decoded)
{
    for (size_t k = 0; k < decoded.size(); ++k) {
        const auto &row = decoded[k];
        if (!row)
            continue;
        const auto interval = threeDigits(row->chars[3]);
        if (!encodable(*row, 0, 9) || row->chars[1].size() != 2 || !encodable(*row, 1, 99)
            || !encodable(*row, 2, 5) || !interval)
            continue;
        // The preamble index was the digit minus 4: the digit must be 4..9.
        const int rowNumber = static_cast<int>(k) + 1;
        const std::string expected = "QQS#HA0" + std::to_string(rowNumber) + ":" + std::string(row->chars[0])
                                     + std::string(row->chars[1]) + std::string(row->chars[2])
                                     + std::string(row->chars[3]) + "#";
        FUZZ_CHECK(asText(exchange::setInstrument(rowNumber, row->index[0], row->index[1], row->index[2], *interval))
                   == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzcheck::ExactCopy reply(data, size);
    std::vector<std::optional<Decoded>> decoded;

    const ConfigDecodeResult system = exchange::flat(exchange::decodeSystemParameters(reply.text()));
    checkUpdates(reply.text(), systemKeys(), system, decoded);
    FUZZ_CHECK(sameResult(system, exchange::flat(exchange::decodeSystemParameters(reply.text()))));
    roundTripSystem(decoded);

    const ConfigDecodeResult table = exchange::flat(exchange::decodeInstrumentTable(reply.text()));
    checkUpdates(reply.text(), instrumentKeys(), table, decoded);
    FUZZ_CHECK(sameResult(table, exchange::flat(exchange::decodeInstrumentTable(reply.text()))));
    roundTripInstruments(decoded);
    return 0;
}
