#include "HartLayout.h"

namespace hart {

namespace {

constexpr uint8_t kPreamble = 0xFF;
constexpr size_t kHeaderLength = 4;
constexpr uint8_t kMaxHeaderAddress = 31;

bool hasTransparentHeader(const uint8_t *b, size_t size)
{
    return size >= kHeaderLength && b[0] <= kMaxHeaderAddress && b[1] == 0x66 && b[2] == 0x55 && b[3] == 0x01;
}

FrameLayout layoutAt(const uint8_t *b, size_t size, size_t lead, size_t delimiter)
{
    FrameLayout f;
    f.leadLength = lead;
    f.transparentHeader = lead == kHeaderLength && hasTransparentHeader(b, size);
    f.preambles = delimiter - lead;
    f.start = delimiter;
    f.longAddress = (b[delimiter] & 0x80) != 0;
    const size_t countAt = delimiter + 1 + f.addressLength() + 1;
    if (countAt < size) {
        f.length = 1 + f.addressLength() + 2 + b[countAt] + 1;
        f.complete = delimiter + f.length <= size;
    }
    return f;
}

} // namespace

bool isDelimiter(uint8_t byte)
{
    const uint8_t type = byte & 0x07;
    return (byte & 0x78) == 0 && (type == 1 || type == 2 || type == 6);
}

std::optional<FrameLayout> locateFrame(const uint8_t *bytes, size_t size)
{
    if (bytes == nullptr || size == 0)
        return std::nullopt;
    size_t pos = hasTransparentHeader(bytes, size) ? kHeaderLength : 0;
    const size_t lead = pos;
    while (pos < size && bytes[pos] == kPreamble)
        ++pos;
    if (pos < size && isDelimiter(bytes[pos]))
        return layoutAt(bytes, size, lead, pos);
    // Noise before the frame: the preamble run that ends in a delimiter.
    for (size_t j = 0; j + 1 < size; ++j) {
        if (bytes[j] == kPreamble && isDelimiter(bytes[j + 1])) {
            size_t first = j;
            while (first > 0 && bytes[first - 1] == kPreamble)
                --first;
            return layoutAt(bytes, size, first, j + 1);
        }
    }
    return std::nullopt;
}

} // namespace hart
