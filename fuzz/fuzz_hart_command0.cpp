// SPDX-License-Identifier: GPL-3.0-or-later
// The HART command 0 reply decoder against arbitrary replies. The reply sits
// in a heap block of exactly its size, so any read past the received bytes
// is an AddressSanitizer report. Checks:
//  - a result only from the first valid short-frame reply (two preambles,
//    byte count that fits, checksum that verifies) whose data holds the
//    device id;
//  - every field equals the byte at its place in that reply's data;
//  - the command 3 frame addressed with the result carries those bytes.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "HartFrames.h"
#include "HartReplies.h"

namespace {

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

    const auto valid = fuzzcheck::firstValidReply(data, size, 0x06);
    // Only the first valid reply counts, even when a later one has all its fields.
    FUZZ_CHECK(info.has_value() == (valid.has_value() && valid->size >= 12));
    if (!info)
        return 0;

    const uint8_t *d = data + valid->dataAt;
    FUZZ_CHECK(info->identity.manufacturerId == d[1]);
    FUZZ_CHECK(info->identity.deviceType == d[2]);
    FUZZ_CHECK(info->minPreambles == d[3]);
    FUZZ_CHECK(info->identity.deviceId[0] == d[9] && info->identity.deviceId[1] == d[10]
               && info->identity.deviceId[2] == d[11]);
    FUZZ_CHECK(hart::deviceIdNumber(info->identity) == uint32_t{d[9]} * 65536u + uint32_t{d[10]} * 256u + uint32_t{d[11]});

    // The next command 3 request is addressed with what was learnt; take the
    // header's address and the preamble count from the reply's own bytes.
    checkCommand3Frame(info->identity, static_cast<uint8_t>(d[4] & 0x1F), (d[5] & 1) != 0, d[3] % 21);
    return 0;
}
