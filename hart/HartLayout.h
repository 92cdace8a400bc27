// Where the HART frame sits in bytes that went through the gateway: an
// optional transparent header (requests), preambles, then the frame from its
// delimiter to its checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace hart {

struct FrameLayout {
    size_t leadLength = 0;       // bytes before the preambles (transparent header or noise)
    bool transparentHeader = false; // the lead is exactly the gateway's four-byte header
    size_t preambles = 0;        // 0xFF bytes before the delimiter
    size_t start = 0;            // index of the delimiter
    size_t length = 0;           // delimiter .. checksum; 0 when the byte count is not in yet
    bool complete = false;       // the whole frame is inside the bytes
    bool longAddress = false;    // five-byte address
    size_t addressLength() const { return longAddress ? 5 : 1; }
};

// A delimiter this tool understands: no expansion bytes, asynchronous
// physical layer, frame type burst (1), master to slave (2) or slave to master (6).
bool isDelimiter(uint8_t byte);

// The first frame in the bytes: one right at the start (after a transparent
// header and preambles, if any) or else the first preamble followed by a
// delimiter. nullopt when there is none.
std::optional<FrameLayout> locateFrame(const uint8_t *bytes, size_t size);

} // namespace hart
