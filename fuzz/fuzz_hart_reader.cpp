// SPDX-License-Identifier: GPL-3.0-or-later
// The frame reader against arbitrary bytes, each in a heap block of exactly
// their size (a read past them is an AddressSanitizer report), in both
// search modes. Checks:
//  - no frame only when no preamble is followed by an accepted delimiter;
//  - the frame starts at an accepted delimiter after its run of preambles;
//  - a complete frame's length follows from its delimiter and byte count,
//    its fields and data are the bytes at their places, its checksum verdict
//    is the XOR's, and one byte less is never complete;
//  - the typed decoders read only the frame's data, and packed ASCII read
//    from any data packs back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "HartReader.h"

namespace {

bool accepted(uint8_t d, hart::Search search)
{
    const uint8_t type = d & 0x07;
    const bool delimiter = (d & 0x18) == 0 && (type == 1 || type == 2 || type == 6);
    return delimiter && (search == hart::Search::AnyFrame || type == 6);
}

bool anyCandidate(const uint8_t *b, size_t n, hart::Search search)
{
    for (size_t j = 0; j + 1 < n; ++j)
        if (b[j] == 0xFF && accepted(b[j + 1], search))
            return true;
    return false;
}

void checkDecoders(const std::vector<uint8_t> &data)
{
    const fuzzcheck::ExactCopy d(data.data(), data.size());
    const uint8_t *p = d.data();
    const size_t n = d.size();
    FUZZ_CHECK(hart::command0Data(p, n).has_value() == (n >= 12));
    const hart::DynamicVariables v = hart::command3Data(p, n);
    FUZZ_CHECK(v.loopCurrent.has_value() == (n >= 4));
    FUZZ_CHECK(v.variables.size() == (n < 4 ? 0 : std::min<size_t>(4, (n - 4) / 5)));
    FUZZ_CHECK(hart::command1Data(p, n).has_value() == (n >= 5));
    FUZZ_CHECK(hart::command2Data(p, n).has_value() == (n >= 8));
    FUZZ_CHECK(hart::command12Data(p, n).has_value() == (n >= 24));
    if (const auto t = hart::command13Data(p, n))
        FUZZ_CHECK(t->tag.size() <= 8 && t->descriptor.size() <= 16 && (!t->isoDate() || t->isoDate()->size() == 10));
    FUZZ_CHECK(hart::command15Data(p, n).has_value() == (n >= 16));
    if (const auto l = hart::command20Data(p, n))
        FUZZ_CHECK(l->size() <= 64);
    if (const auto s = hart::command48Data(p, n))
        FUZZ_CHECK(hart::additionalStatusNames(*s).size() <= 17);

    const size_t whole = n / 3 * 3;
    const std::string text = hart::unpackAscii(p, n);
    FUZZ_CHECK(text.size() == whole / 3 * 4);
    FUZZ_CHECK(hart::packAscii(text, whole) == hart::Bytes(p, p + whole));
}

void checkSearch(const uint8_t *b, size_t n, hart::Search search)
{
    const std::optional<hart::Frame> f = hart::readFrame(b, n, search);
    if (!f) {
        FUZZ_CHECK(!anyCandidate(b, n, search));
        return;
    }
    FUZZ_CHECK(f->start < n && accepted(b[f->start], search));
    FUZZ_CHECK(f->leadLength + f->preambles == f->start);
    for (size_t i = f->leadLength; i < f->start; ++i)
        FUZZ_CHECK(b[i] == 0xFF);
    const size_t address = (b[f->start] & 0x80) ? 5 : 1;
    const size_t expansion = (b[f->start] >> 5) & 0x03;
    const size_t countAt = f->start + 1 + address + expansion + 1;
    if (countAt >= n) {
        FUZZ_CHECK(!f->complete && f->length == 0);
        return;
    }
    FUZZ_CHECK(f->length == countAt - f->start + 1 + b[countAt] + 1);
    FUZZ_CHECK(f->complete == (f->end() <= n));
    if (!f->complete)
        return;
    FUZZ_CHECK(f->command == b[countAt - 1] && f->byteCount == b[countAt]);
    FUZZ_CHECK(f->checksumOk == (hart::checksum(b + f->start, f->length - 1) == b[f->end() - 1]));
    const bool request = (b[f->start] & 0x07) == 2;
    const size_t status = request || f->byteCount < 2 ? 0 : 2;
    FUZZ_CHECK(f->responseCode.has_value() == (status == 2));
    FUZZ_CHECK(f->data.size() == (request || status == 2 ? f->byteCount - status : 0u));
    for (size_t i = 0; i < f->data.size(); ++i)
        FUZZ_CHECK(f->data[i] == b[countAt + 1 + status + i]);
    const auto shorter = hart::readFrame(b, f->end() - 1, search);
    FUZZ_CHECK(shorter && !shorter->complete);
    checkDecoders(f->data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzcheck::ExactCopy bytes(data, size);
    checkSearch(bytes.data(), size, hart::Search::AnyFrame);
    checkSearch(bytes.data(), size, hart::Search::ReplyOnly);
    return 0;
}
