// SPDX-License-Identifier: GPL-3.0-or-later
// The one reader of HART bytes: finds a frame in what went through the
// gateway (transparent header, preambles, delimiter, short or long address,
// expansion bytes, command, byte count, status, data, checksum) and turns the
// data of a reply into typed values. The window's decoders, nx260ctl, the
// traffic monitor and the capture writer all read frames here.
// Errors: readers return std::nullopt for bytes they cannot read; nothing throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "HartFrames.h"

namespace hart {

// XOR of the bytes: the checksum of every HART frame.
uint8_t checksum(const uint8_t *bytes, size_t size);
// IEEE 754 single precision, most significant byte first.
float floatAt(const uint8_t *p);
// The 24-bit device id as one number.
uint32_t deviceIdNumber(const Identity &id);

// Packed ASCII: four 6-bit characters in three bytes. Characters outside
// the packed set (lower case included) are sent as their upper-case form or '?'.
std::string unpackAscii(const uint8_t *bytes, size_t size);
Bytes packAscii(std::string_view text, size_t size);

enum class FrameKind { Request, Reply, Burst }; // master to slave, slave to master, burst

// Asynchronous physical layer, frame type burst (1), master to slave (2) or
// slave to master (6); any number of expansion bytes.
bool isDelimiter(uint8_t byte);

struct Frame {
    size_t leadLength = 0;          // bytes before the preambles (transparent header or noise)
    bool transparentHeader = false; // the lead is exactly the gateway's four-byte header
    size_t preambles = 0;           // 0xFF bytes before the delimiter
    size_t start = 0;               // index of the delimiter
    size_t length = 0;              // delimiter .. checksum; 0 while the byte count is not in
    bool complete = false;          // the whole frame is inside the bytes; the fields below need it

    uint8_t delimiter = 0;
    FrameKind kind = FrameKind::Request;
    bool longAddress = false;
    size_t expansionBytes = 0;
    std::array<uint8_t, 5> address{}; // addressLength() bytes as sent
    uint8_t command = 0;
    uint8_t byteCount = 0;
    bool checksumOk = false;
    // Replies and burst frames with both status bytes.
    std::optional<uint8_t> responseCode;
    std::optional<uint8_t> deviceStatus;
    // Replies: after the status bytes; requests: all of it.
    std::vector<uint8_t> data;

    size_t addressLength() const { return longAddress ? 5 : 1; }
    size_t end() const { return start + length; }
    bool primaryMaster() const { return (address[0] & 0x80) != 0; }
    bool burstMode() const { return (address[0] & 0x40) != 0; }
    uint8_t pollingAddress() const { return address[0] & 0x3F; }
    // Long frames: the address as an identity (manufacturer id in six bits).
    Identity addressIdentity() const;
    // A reply whose first status byte reports a communication error carries no data.
    bool communicationError() const { return responseCode && (*responseCode & 0x80) != 0; }
};

enum class Search {
    AnyFrame,  // one right at the start (after header and preambles) or the first preamble + delimiter
    ReplyOnly, // the first preamble followed by a slave-to-master delimiter
};

// nullopt when the bytes hold no delimiter; an incomplete frame comes back
// with complete == false.
std::optional<Frame> readFrame(const uint8_t *bytes, size_t size, Search search = Search::AnyFrame);

// Why no reply could be taken from the bytes.
enum class ReplyFault {
    NotFound,      // no run of two preambles before a reply delimiter
    CutShort,      // the byte count reaches past the bytes received
    ChecksumError, // the whole frame is there, its checksum is not
};
// "HART reply checksum error", "HART reply cut short", "no HART reply found".
std::string replyFaultText(ReplyFault fault);

struct FoundReply {
    std::optional<Frame> frame;           // complete, checksum verified
    ReplyFault fault = ReplyFault::NotFound; // without a frame: what the last candidate lacked
};
// The only way a reply is taken for its values: a run of at least two 0xFF,
// a slave-to-master delimiter (only `delimiter` when given), a byte count
// that fits and a checksum that verifies. A candidate that fails is skipped
// and the search goes on in the same bytes, so line noise in front of a
// reply, or a stray pair inside it, cannot stand in for the reply.
FoundReply findReply(const uint8_t *bytes, size_t size, std::optional<uint8_t> delimiter = std::nullopt);


constexpr uint8_t kNotImplemented = 64; // response code: command not implemented

// Typed reply data, each read from the data after the two status bytes;
// nullopt when too short.

struct Command0Data { // read unique identifier
    Identity identity;
    uint8_t minPreambles = 0;
    uint8_t universalRevision = 0;
    uint8_t deviceRevision = 0;
    uint8_t softwareRevision = 0;
    uint8_t hardwareRevision = 0;
    uint8_t flags = 0;
};
std::optional<Command0Data> command0Data(const uint8_t *data, size_t size);

struct DynamicVariable {
    uint8_t unitCode = 0;
    float value = 0.0f;
};
// Command 3: loop current and as many of PV, SV, TV, QV as the data holds.
struct DynamicVariables {
    std::optional<float> loopCurrent;
    std::vector<DynamicVariable> variables;
};
DynamicVariables command3Data(const uint8_t *data, size_t size);

std::optional<DynamicVariable> command1Data(const uint8_t *data, size_t size); // primary variable

struct LoopCurrent { // command 2
    float milliamperes = 0.0f;
    float percentOfRange = 0.0f;
};
std::optional<LoopCurrent> command2Data(const uint8_t *data, size_t size);

std::optional<std::string> command12Data(const uint8_t *data, size_t size); // message, 32 characters

struct TagDescriptorDate { // command 13
    std::string tag;        // 8 characters
    std::string descriptor; // 16 characters
    uint8_t day = 0, month = 0;
    int year = 1900;
    std::optional<std::string> isoDate() const; // "2026-12-10"; nullopt when not a date
};
std::optional<TagDescriptorDate> command13Data(const uint8_t *data, size_t size);

struct RangeInfo { // command 15
    uint8_t alarmSelection = 0;
    uint8_t transferFunction = 0;
    uint8_t rangeUnit = 0;
    float upper = 0.0f, lower = 0.0f;
    float dampingSeconds = 0.0f;
    uint8_t writeProtect = 0;
};
std::optional<RangeInfo> command15Data(const uint8_t *data, size_t size);

std::optional<std::string> command20Data(const uint8_t *data, size_t size); // long tag, Latin-1 as UTF-8

std::optional<Bytes> command48Data(const uint8_t *data, size_t size); // additional device status bytes
// Names of the standard bits set in command 48 data (extended device status,
// standardized status 0 and 1).
std::vector<std::string> additionalStatusNames(const Bytes &status);

// Everything the identity and health commands tell, gathered reply by
// reply. A command answered "not implemented" leaves its member empty and
// is no problem; a refusal or a reply too short is.
constexpr uint8_t kDetailCommands[] = {1, 2, 12, 13, 15, 20, 48};
struct DeviceDetails {
    std::vector<std::pair<uint8_t, uint8_t>> responseCodes; // command, response code, in the order read
    std::optional<DynamicVariable> pv;
    std::optional<LoopCurrent> loop;
    std::optional<std::string> message;
    std::optional<TagDescriptorDate> tagDescriptorDate;
    std::optional<RangeInfo> range;
    std::optional<std::string> longTag;
    std::optional<Bytes> additionalStatus;
    std::vector<std::string> problems; // "command 15: 16 Access Restricted", "command 13: reply too short"
};
// Takes a complete reply with both status bytes to one of kDetailCommands.
void addDetail(DeviceDetails &details, const Frame &reply);

std::string transferFunctionName(uint8_t code);
std::string alarmSelectionName(uint8_t code);
std::string writeProtectName(uint8_t code);

} // namespace hart
