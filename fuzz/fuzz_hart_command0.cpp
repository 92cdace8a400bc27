// SPDX-License-Identifier: GPL-3.0-or-later
// The HART command 0 reply decoder against arbitrary replies. The reply sits
// in a heap block of exactly its size, so any read past the received bytes
// is an AddressSanitizer report. Checks:
//  - a result only when the reply holds FF 06 and the device id (m+16..m+18)
//    was received after the FIRST such pair;
//  - every field equals the byte at its fixed distance from that pair;
//  - the command 3 frame addressed with the result carries those bytes.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "HartFrames.h"
#include "HartReplies.h"

namespace {

std::optional<size_t> firstMarker(const uint8_t *rx, size_t length)
{
    for (size_t j = 0; j + 1 < length; ++j)
        if (rx[j] == 0xFF && rx[j + 1] == 0x06)
            return j;
    return std::nullopt;
}

bool sameInfo(const std::optional<hart::Command0Data> &a, const std::optional<hart::Command0Data> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a
           || (a->identity.manufacturerId == b->identity.manufacturerId
               && a->identity.deviceType == b->identity.deviceType && a->identity.deviceId == b->identity.deviceId
               && a->minPreambles == b->minPreambles);
}

void checkCommand3Frame(const hart::Identity &id, uint8_t addressIndex, bool master, int preambles)
{
    const hart::Bytes f = hart::command3Frame(addressIndex, master, id, preambles);
    const size_t p = static_cast<size_t>(preambles);
    FUZZ_CHECK(f.size() == p + 13);
    FUZZ_CHECK(f[0] == addressIndex && f[1] == 0x66 && f[2] == 0x55 && f[3] == 0x01);
    for (size_t i = 4; i < 4 + p; ++i)
        FUZZ_CHECK(f[i] == 0xFF);
    FUZZ_CHECK(f[4 + p] == 0x82);
    // Six bits of the id: more would set the burst bit or override the master choice.
    FUZZ_CHECK(f[5 + p] == ((master ? 0x80 : 0x00) | (id.manufacturerId & 0x3F)));
    FUZZ_CHECK(f[6 + p] == id.deviceType);
    FUZZ_CHECK(f[7 + p] == id.deviceId[0] && f[8 + p] == id.deviceId[1] && f[9 + p] == id.deviceId[2]);
    FUZZ_CHECK(f[10 + p] == 0x03 && f[11 + p] == 0x00);
    uint8_t sum = 0;
    for (size_t i = 4 + p; i < 12 + p; ++i)
        sum ^= f[i];
    FUZZ_CHECK(f[12 + p] == sum);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzcheck::ExactCopy reply(data, size);
    const uint8_t *rx = reply.data();

    const std::optional<hart::Command0Data> info = hart::decodeCommand0(rx, size);
    FUZZ_CHECK(sameInfo(info, hart::decodeCommand0(rx, size)));

    const std::optional<size_t> marker = firstMarker(data, size);
    // Only the first pair counts, even when a later one has all its fields.
    FUZZ_CHECK(info.has_value() == (marker.has_value() && *marker + 18 < size));
    if (!info)
        return 0;

    const uint8_t *m = data + *marker;
    FUZZ_CHECK(info->identity.manufacturerId == m[8]);
    FUZZ_CHECK(info->identity.deviceType == m[9]);
    FUZZ_CHECK(info->minPreambles == m[10]);
    FUZZ_CHECK(info->identity.deviceId[0] == m[16] && info->identity.deviceId[1] == m[17]
               && info->identity.deviceId[2] == m[18]);
    FUZZ_CHECK(hart::deviceIdNumber(info->identity) == uint32_t{m[16]} * 65536u + uint32_t{m[17]} * 256u + uint32_t{m[18]});

    // The next command 3 request is addressed with what was learnt; take the
    // header's address and the preamble count from the reply's own bytes.
    checkCommand3Frame(info->identity, static_cast<uint8_t>(m[2] & 0x1F), (m[3] & 1) != 0, m[10] % 21);
    return 0;
}
