// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange engine's receive path fed with arbitrary chunk sequences.
// The input is a list of records, each
//   tag, length, payload
// where length 255 means "the rest of the input" (so chunks longer than the
// 255 bytes kept can occur). Tag bits 0-1 = 3 composes the payload as a
// request; otherwise the payload is received as one chunk with PendingReply
// set first from tag bits 2-4 (one of the awaited values), or with bit 5 set
// from the next four input bytes (any 32-bit value), or with bit 6 left as
// it was. Bit 7 hands an empty chunk over as a null pointer.
// Checks after every receive:
//  - ReceivedText is the reply so far: the chunk joined to what came before
//    it when a reply to the last request is still awaited (PendingReply not
//    0 and a chunk already in), else the chunk alone; never more than 255
//    bytes; received() is the same bytes;
//  - PendingReply, TimeoutKind and the request stay as they were;
//  - the memo shows the hex rendering (two upper-case digits and a blank per
//    byte) exactly for 100, 103 and 104, else the text itself;
//  - the decode timer is enabled exactly for the replies that are decoded
//    (100, 103, 202, 203), disabled for 200, left alone otherwise; the
//    watchdog always stops.
// And after every compose: the request is kept unchanged and the reply so
// far stays, or nothing changes when it does not fit.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Exchange.h"
#include "FuzzCheck.h"

using exchange::ExchangeState;
using exchange::ReceivePlan;

namespace {

constexpr std::array<int32_t, 8> kPending = {0, 100, 103, 104, 200, 201, 202, 203};

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    int32_t int32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return static_cast<int32_t>(v);
    }
    // Up to n bytes, fewer at the end of the input.
    std::vector<uint8_t> take(size_t n)
    {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }
    size_t left() const { return size_ - std::min(pos_, size_); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Independent of hexRender: "XX " per byte, read back byte by byte.
void checkHex(const std::string &memo, const uint8_t *bytes, size_t n)
{
    FUZZ_CHECK(memo.size() == 3 * n);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(memo[3 * i] == digits[bytes[i] >> 4]);
        FUZZ_CHECK(memo[3 * i + 1] == digits[bytes[i] & 0x0F]);
        FUZZ_CHECK(memo[3 * i + 2] == ' ');
    }
}

bool decoded(int32_t pending)
{
    return pending == 100 || pending == 103 || pending == 202 || pending == 203;
}

// Whether a chunk of the current reply came in since the last compose.
bool replyStarted = false;

void receive(ExchangeState &s, const std::vector<uint8_t> &chunk, bool nullWhenEmpty)
{
    const ExchangeState before = s;
    // A null pointer only ever comes with length 0.
    const uint8_t *ptr = chunk.empty() && nullWhenEmpty ? nullptr : chunk.data();
    // The handler takes the length as a 16-bit count.
    const uint16_t length = static_cast<uint16_t>(chunk.size());
    std::string expected = replyStarted && before.pendingReply != 0 ? before.receivedText : std::string();
    const size_t room = exchange::kRxCapacity - expected.size();
    expected.append(reinterpret_cast<const char *>(chunk.data()), std::min<size_t>(length, room));

    const ReceivePlan plan = s.receive(ptr, length);
    replyStarted = true;

    FUZZ_CHECK(s.receivedText.size() <= 255);
    FUZZ_CHECK(s.receivedText == expected);
    FUZZ_CHECK(s.received().size() == expected.size());
    FUZZ_CHECK(expected.empty() || std::memcmp(s.received().data(), expected.data(), expected.size()) == 0);
    FUZZ_CHECK(s.pendingReply == before.pendingReply && s.timeoutKind == before.timeoutKind);
    FUZZ_CHECK(s.request == before.request && s.requestLength == before.requestLength);

    const int32_t p = s.pendingReply;
    const bool hex = p == 100 || p == 103 || p == 104;
    FUZZ_CHECK(plan.memoIsHex == hex);
    if (hex)
        checkHex(plan.memoText, s.received().data(), s.received().size());
    else
        FUZZ_CHECK(plan.memoText == s.receivedText);

    const ReceivePlan::Timer timer = decoded(p) ? ReceivePlan::Timer::Enable
                                     : p == 200 ? ReceivePlan::Timer::Disable
                                                : ReceivePlan::Timer::Leave;
    FUZZ_CHECK(plan.decodeTimer == timer);
    FUZZ_CHECK(plan.stopWatchdog);
    FUZZ_CHECK((exchange::decodeBranch(p) != exchange::DecodeBranch::None) == decoded(p));
}

void compose(ExchangeState &s, const std::vector<uint8_t> &request)
{
    const ExchangeState before = s;
    const std::optional<std::string> text = s.compose(request);
    if (request.size() > exchange::kFrameCapacity) {
        FUZZ_CHECK(!text.has_value());
        FUZZ_CHECK(s.request == before.request && s.requestLength == before.requestLength);
        return;
    }
    replyStarted = false;
    FUZZ_CHECK(text.has_value());
    FUZZ_CHECK(text->size() == request.size());
    FUZZ_CHECK(request.empty() || std::memcmp(text->data(), request.data(), request.size()) == 0);
    FUZZ_CHECK(s.requestLength == request.size());
    FUZZ_CHECK(std::equal(request.begin(), request.end(), s.request.begin()));
    FUZZ_CHECK(s.receivedText == before.receivedText);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ExchangeState state;
    replyStarted = false;

    Input in(data, size);
    while (!in.empty()) {
        const uint8_t tag = in.byte();
        const bool isCompose = (tag & 0x03) == 3;
        if (!isCompose && !(tag & 0x40))
            state.pendingReply = (tag & 0x20) ? in.int32() : kPending[(tag >> 2) & 0x07];
        const uint8_t len = in.byte();
        const auto payload = in.take(len == 255 ? in.left() : len);
        if (isCompose)
            compose(state, payload);
        else
            receive(state, payload, (tag & 0x80) != 0);
    }

    // ByteToHex on its own: any int, byte or not, from the input's first bytes.
    Input head(data, size);
    const int32_t v = head.int32();
    const int probes[] = {v, v & 0x1FF, -(v & 0xFF), 255, 256, -1};
    for (int x : probes) {
        const std::string h = exchange::ByteToHex(x);
        if (x < 0 || x > 255) {
            FUZZ_CHECK(h == ".");
        } else {
            static const char digits[] = "0123456789ABCDEF";
            FUZZ_CHECK(h.size() == 2 && h[0] == digits[x >> 4] && h[1] == digits[x & 0x0F]);
        }
    }
    return 0;
}
