// What a HART frame says, for the traffic monitor and the diagnostics
// lines: frame type, address, command, response code, field device status,
// checksum and the command 0 / command 3 data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HartFrames.h"
#include "HartLayout.h"

namespace hart {

enum class FrameKind { Request, Reply, Burst }; // master to slave, slave to master, burst

struct DynamicVariable {
    uint8_t unitCode = 0;
    float value = 0.0f;
};

struct FrameInfo {
    FrameLayout layout;
    FrameKind kind = FrameKind::Request;
    bool primaryMaster = false;      // master bit of the address
    bool burstMode = false;          // burst bit of the address
    uint8_t pollingAddress = 0;      // short frames
    uint8_t manufacturerId = 0;      // long frames: manufacturer id (6 bits), device type, device id
    uint8_t deviceType = 0;
    uint32_t deviceId = 0;
    uint8_t command = 0;
    uint8_t byteCount = 0;
    bool checksumOk = false;
    // Replies and burst frames with at least the two status bytes:
    std::optional<uint8_t> responseCode;  // first status byte
    std::optional<uint8_t> deviceStatus;  // second status byte
    // Command 0 reply data (identity); command 3 reply data.
    std::optional<Identity> identity;
    std::optional<uint8_t> minPreambles;
    std::optional<float> loopCurrent;     // mA
    std::vector<DynamicVariable> variables; // in order PV, SV, TV, QV, as far as received
};

// nullopt when the bytes hold no complete frame (see locateFrame).
std::optional<FrameInfo> parseFrame(const uint8_t *bytes, size_t size);

// "Read Unique Identifier", "Read Dynamic Variables and Loop Current", else "command N".
std::string commandName(uint8_t command);

// The first status byte: "OK", the response code's HART name ("Command Not
// Implemented"), "response code N", or with bit 7 set the communication error
// bits ("communication error: framing error, buffer overflow").
std::string responseText(uint8_t code);
// A communication error, or a response code in the error (not warning) classes.
bool responseIsError(uint8_t code);

// Names of the field device status bits that are set, highest bit first.
std::vector<std::string> deviceStatusNames(uint8_t status);

// Faults the engineer must see in red: bad checksum, communication error,
// error response code, device malfunction.
bool reportsFault(const FrameInfo &info);

// Status line for the diagnostics: "Response: OK; status: cold start", or
// "checksum BAD; ...".
std::string statusLine(const FrameInfo &info);

// One line saying everything above, for the traffic monitor. Bytes without
// a complete frame are described as far as they go.
std::string describe(const uint8_t *bytes, size_t size);

} // namespace hart
