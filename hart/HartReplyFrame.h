// A HART reply read as a whole frame: where it starts in the received bytes,
// whether all of it has arrived, and its fields. Used by programs that wait
// for a reply byte by byte instead of for a quiet line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "HartFrames.h"

namespace hart {

struct ReplyFrame {
    size_t start = 0;            // index of the delimiter in the received bytes
    size_t end = 0;              // one past the checksum
    uint8_t delimiter = 0;
    std::vector<uint8_t> address; // 1 byte (short frame) or 5 (long frame)
    uint8_t command = 0;
    uint8_t byteCount = 0;
    uint8_t responseCode = 0;    // first status byte (0 when the count holds none)
    uint8_t deviceStatus = 0;    // second status byte
    std::vector<uint8_t> data;   // after the two status bytes
    bool checksumOk = false;
};

// The first slave-to-master frame (a 0xFF preamble, then a delimiter of
// frame type 6) in rx[0..n), once its byte count, data and checksum have all
// arrived; nullopt while incomplete or when there is none yet.
std::optional<ReplyFrame> completeReply(const uint8_t *rx, size_t n);

// Command 0 reply data: manufacturer id, device type, minimum preambles and
// device id. nullopt when the data is too short.
struct DeviceIdentity {
    Identity identity;
    uint8_t preambles = 0;
    uint32_t deviceIdNumber = 0;
};
std::optional<DeviceIdentity> command0Identity(const ReplyFrame &frame);

// Command 3 reply data: loop current (mA) and up to four variables, as many
// as the byte count holds.
struct DynamicVariable {
    uint8_t unitCode = 0;
    float value = 0;
};
struct DynamicVariables {
    std::optional<float> loopCurrent;
    std::vector<DynamicVariable> variables;
};
DynamicVariables command3Variables(const ReplyFrame &frame);

} // namespace hart
