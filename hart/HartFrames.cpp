// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartFrames.h"

#include "HartReader.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace hart {

namespace {

constexpr uint8_t kShortRequestDelimiter = 0x02;
constexpr uint8_t kLongRequestDelimiter = 0x82;
constexpr uint8_t kMasterBit = 0x80;
constexpr uint8_t kManufacturerIdMask = 0x3F;

uint8_t masterBit(bool masterMode)
{
    return masterMode ? kMasterBit : 0x00;
}

// A frame must fit the outgoing area; a refused count gives no frame at all,
// so nothing half-built can ever reach the device.
bool fits(int preambles, size_t rest)
{
    return preambles >= 0 && static_cast<size_t>(preambles) + rest <= static_cast<size_t>(kFrameArea);
}

// The gateway strips these four bytes before it passes the HART frame on.
void appendHeader(Bytes &frame, uint8_t addressIndex)
{
    frame.push_back(addressIndex);
    frame.insert(frame.end(), kHeaderTail.begin(), kHeaderTail.end());
}

void appendPreambles(Bytes &frame, int preambles)
{
    frame.insert(frame.end(), static_cast<size_t>(preambles), kPreamble);
}

// XOR of everything from `from` to the current end, appended as the last byte.
void appendChecksum(Bytes &frame, size_t from)
{
    frame.push_back(checksum(frame.data() + from, frame.size() - from));
}

bool isUpperHexLetter(unsigned char c)
{
    return c >= 'A' && c <= 'F';
}

} // namespace

namespace {

// Transparent header, preambles, then the HART frame from its delimiter with
// the checksum appended; nothing when the preambles do not fit.
Bytes headedFrame(uint8_t addressIndex, int preambles, std::initializer_list<uint8_t> fromDelimiter,
                  const Bytes &data = {})
{
    const size_t overhead = 4 + fromDelimiter.size() + data.size() + 1;
    if (!fits(preambles, overhead))
        return {};
    Bytes frame;
    frame.reserve(static_cast<size_t>(preambles) + overhead);
    appendHeader(frame, addressIndex);
    appendPreambles(frame, preambles);
    const size_t delimiter = frame.size();
    frame.insert(frame.end(), fromDelimiter);
    frame.insert(frame.end(), data.begin(), data.end());
    appendChecksum(frame, delimiter);
    return frame;
}

} // namespace

Bytes command0Frame(uint8_t addressIndex, bool masterMode, int preambles)
{
    // The polling address stays out of the frame: the gateway addresses the
    // instrument itself, the frame carries only the master bit.
    return headedFrame(addressIndex, preambles, {kShortRequestDelimiter, masterBit(masterMode), 0x00, 0x00});
}

Bytes command3Frame(uint8_t addressIndex, bool masterMode, const Identity &id, int preambles)
{
    return commandFrame(addressIndex, masterMode, id, preambles, 0x03);
}

Bytes commandFrame(uint8_t addressIndex, bool masterMode, const Identity &id, int preambles, uint8_t command,
                   const Bytes &data)
{
    if (data.size() > 255)
        return {};
    // The first address byte holds six bits of the manufacturer id: its top
    // two bits are the master and burst-mode bits and must come from us.
    const auto first = static_cast<uint8_t>(masterBit(masterMode) | (id.manufacturerId & kManufacturerIdMask));
    return headedFrame(addressIndex, preambles,
                       {kLongRequestDelimiter, first,
                        id.deviceType, id.deviceId[0], id.deviceId[1], id.deviceId[2], command,
                        static_cast<uint8_t>(data.size())},
                       data);
}

ManualEntry parseManualEntry(std::string_view text)
{
    ManualEntry entry;
    const size_t length = text.size();
    const size_t typed = length / 3 + (length % 3 == 2 ? 1 : 0);
    const size_t count = std::min(typed, static_cast<size_t>(kMaxManualBytes));

    // Separators first, over every counted byte but the last.
    if (count == 0) {
        entry.status = ManualEntry::NoSpack;
        return entry;
    }
    for (size_t k = 0; k + 1 < count; ++k) {
        if (text[3 * k + 2] != ' ') {
            entry.status = ManualEntry::NoSpack;
            return entry;
        }
    }

    // Characters compare as unsigned: anything from 0x80 up lies above '9'.
    bool bad = false;
    Bytes bytes;
    bytes.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        const auto high = static_cast<unsigned char>(text[3 * k]);
        const auto low = static_cast<unsigned char>(text[3 * k + 1]);
        uint8_t value = 0;
        if (high >= '0' && high <= '9')
            value = static_cast<uint8_t>((high - '0') << 4);
        else if (isUpperHexLetter(high))
            value = static_cast<uint8_t>((high - 'A' + 10) << 4);
        else
            bad = true;

        if (isUpperHexLetter(low)) {
            value = static_cast<uint8_t>(value | (low - 'A' + 10));
        } else if (low <= '9') {
            // Digits and everything below them go through the integer
            // conversion, whose refusal ends the entry at once.
            if (low < '0') {
                entry.status = ManualEntry::ConversionError;
                entry.badText = std::string(1, static_cast<char>(low));
                return entry;
            }
            value = static_cast<uint8_t>(value | (low - '0'));
        } else {
            bad = true;
        }
        bytes.push_back(value);
    }

    if (bad) {
        entry.status = ManualEntry::DataError;
        return entry;
    }
    // What the checks above accepted is sent exactly as typed or not at all:
    // dropping bytes or a character would send a different command.
    if (typed > count) {
        entry.status = ManualEntry::TooManyBytes;
        return entry;
    }
    if (length % 3 == 1) {
        entry.status = ManualEntry::LoneCharacter;
        return entry;
    }
    entry.bytes = std::move(bytes);
    return entry;
}

Bytes manualFrame(const Bytes &typed, int preambles)
{
    if (typed.empty() || !fits(preambles, typed.size() + 1))
        return {};
    Bytes frame;
    frame.reserve(static_cast<size_t>(preambles) + typed.size() + 1);
    appendPreambles(frame, preambles);
    const size_t first = frame.size();
    frame.insert(frame.end(), typed.begin(), typed.end());
    appendChecksum(frame, first);
    return frame;
}

} // namespace hart
