#include "HartAnnotate.h"

#include <bit>
#include <cstdio>

#include "HartUnits.h"

namespace hart {

namespace {

constexpr uint8_t kCommunicationError = 0x80;
constexpr size_t kStatusBytes = 2;
constexpr size_t kCommand0Data = 12; // 254, manufacturer .. device id
constexpr size_t kFloatBytes = 4;
constexpr size_t kVariableBytes = 5; // unit code, value

struct Named {
    uint8_t code;
    const char *name;
};

// Response codes whose meaning is the same for every command.
constexpr Named kResponseCodes[] = {
    {1, "Undefined"},
    {2, "Invalid Selection"},
    {3, "Passed Parameter Too Large"},
    {4, "Passed Parameter Too Small"},
    {5, "Too Few Data Bytes Received"},
    {6, "Device-Specific Command Error"},
    {7, "In Write Protect Mode"},
    {16, "Access Restricted"},
    {32, "Busy"},
    {33, "Delayed Response Initiated"},
    {34, "Delayed Response Running"},
    {35, "Delayed Response Dead"},
    {36, "Delayed Response Conflict"},
    {64, "Command Not Implemented"},
};

constexpr Named kCommunicationErrors[] = {
    {0x40, "vertical parity error"}, {0x20, "overrun error"},    {0x10, "framing error"},
    {0x08, "longitudinal parity error"}, {0x04, "reserved bit 2"}, {0x02, "buffer overflow"},
    {0x01, "reserved bit 0"},
};

constexpr Named kDeviceStatus[] = {
    {0x80, "device malfunction"},
    {0x40, "configuration changed"},
    {0x20, "cold start"},
    {0x10, "more status available"},
    {0x08, "loop current fixed"},
    {0x04, "loop current saturated"},
    {0x02, "non-primary variable out of limits"},
    {0x01, "primary variable out of limits"},
};

constexpr uint8_t kDeviceMalfunction = 0x80;

float floatAt(const uint8_t *p)
{
    const uint32_t bits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    return std::bit_cast<float>(bits);
}

std::string number(float v, const char *format = "%.7g")
{
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<double>(v));
    return text;
}

std::string join(const std::vector<std::string> &parts, const char *separator)
{
    std::string out;
    for (const std::string &p : parts) {
        if (!out.empty())
            out += separator;
        out += p;
    }
    return out;
}

void decodeData(FrameInfo &f, const uint8_t *data, size_t length)
{
    if (f.command == 0 && length >= kCommand0Data && data[0] == 254) {
        Identity id;
        id.manufacturerId = data[1];
        id.deviceType = data[2];
        id.deviceId = {data[9], data[10], data[11]};
        f.identity = id;
        f.minPreambles = data[3];
    } else if (f.command == 3 && length >= kFloatBytes) {
        f.loopCurrent = floatAt(data);
        for (size_t at = kFloatBytes; at + kVariableBytes <= length && f.variables.size() < 4; at += kVariableBytes)
            f.variables.push_back({data[at], floatAt(data + at + 1)});
    }
}

constexpr const char *kVariableNames[] = {"PV", "SV", "TV", "QV"};

} // namespace

std::optional<FrameInfo> parseFrame(const uint8_t *bytes, size_t size)
{
    const auto layout = locateFrame(bytes, size);
    if (!layout || !layout->complete)
        return std::nullopt;
    FrameInfo f;
    f.layout = *layout;
    const uint8_t *frame = bytes + layout->start;
    const uint8_t type = frame[0] & 0x07;
    f.kind = type == 2 ? FrameKind::Request : type == 6 ? FrameKind::Reply : FrameKind::Burst;
    const uint8_t *address = frame + 1;
    f.primaryMaster = (address[0] & 0x80) != 0;
    f.burstMode = (address[0] & 0x40) != 0;
    if (layout->longAddress) {
        f.manufacturerId = address[0] & 0x3F;
        f.deviceType = address[1];
        f.deviceId = (uint32_t{address[2]} << 16) | (uint32_t{address[3]} << 8) | address[4];
    } else {
        f.pollingAddress = address[0] & 0x3F;
    }
    const size_t commandAt = 1 + layout->addressLength();
    f.command = frame[commandAt];
    f.byteCount = frame[commandAt + 1];
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < layout->length; ++i)
        sum ^= frame[i];
    f.checksumOk = sum == frame[layout->length - 1];

    const uint8_t *data = frame + commandAt + 2;
    size_t dataLength = f.byteCount;
    if (f.kind != FrameKind::Request) {
        if (dataLength < kStatusBytes)
            return f;
        f.responseCode = data[0];
        f.deviceStatus = data[1];
        data += kStatusBytes;
        dataLength -= kStatusBytes;
        // A communication error carries no data.
        if ((*f.responseCode & kCommunicationError) == 0)
            decodeData(f, data, dataLength);
    }
    return f;
}

std::string commandName(uint8_t command)
{
    switch (command) {
    case 0: return "Read Unique Identifier";
    case 3: return "Read Dynamic Variables and Loop Current";
    default: return "command " + std::to_string(command);
    }
}

std::string responseText(uint8_t code)
{
    if (code == 0)
        return "OK";
    if (code & kCommunicationError) {
        std::vector<std::string> bits;
        for (const Named &n : kCommunicationErrors) {
            if (code & n.code)
                bits.emplace_back(n.name);
        }
        return bits.empty() ? "communication error" : "communication error: " + join(bits, ", ");
    }
    for (const Named &n : kResponseCodes) {
        if (n.code == code)
            return std::to_string(code) + " " + n.name;
    }
    return "response code " + std::to_string(code);
}

bool responseIsError(uint8_t code)
{
    if (code == 0)
        return false;
    if (code & kCommunicationError)
        return true;
    // Warnings: 8..15, 24..31 and 96..127; every other non-zero code is an error.
    const bool warning = (code >= 8 && code <= 15) || (code >= 24 && code <= 31) || code >= 96;
    return !warning;
}

std::vector<std::string> deviceStatusNames(uint8_t status)
{
    std::vector<std::string> out;
    for (const Named &n : kDeviceStatus) {
        if (status & n.code)
            out.emplace_back(n.name);
    }
    return out;
}

bool reportsFault(const FrameInfo &info)
{
    if (!info.checksumOk)
        return true;
    if (info.responseCode && responseIsError(*info.responseCode))
        return true;
    // With a communication error the second byte is not device status.
    const bool statusValid = info.responseCode && (*info.responseCode & kCommunicationError) == 0;
    return statusValid && info.deviceStatus && (*info.deviceStatus & kDeviceMalfunction) != 0;
}

namespace {

void appendResponse(std::vector<std::string> &parts, const FrameInfo &info)
{
    if (info.responseCode) {
        parts.push_back("Response: " + responseText(*info.responseCode));
        if ((*info.responseCode & kCommunicationError) == 0 && info.deviceStatus) {
            const auto bits = deviceStatusNames(*info.deviceStatus);
            parts.push_back("status: " + (bits.empty() ? std::string("OK") : join(bits, ", ")));
        }
    } else {
        parts.emplace_back("no status bytes");
    }
}

} // namespace

std::string statusLine(const FrameInfo &info)
{
    std::vector<std::string> parts;
    if (!info.checksumOk)
        parts.emplace_back("checksum BAD");
    appendResponse(parts, info);
    return join(parts, "; ");
}

std::string describe(const uint8_t *bytes, size_t size)
{
    const auto layout = locateFrame(bytes, size);
    if (!layout)
        return "no HART frame";
    std::vector<std::string> parts;
    if (layout->transparentHeader)
        parts.push_back("transparent header (address " + std::to_string(bytes[0]) + ")");
    else if (layout->leadLength > 0)
        parts.push_back(std::to_string(layout->leadLength) + " bytes before the frame");
    parts.push_back(std::to_string(layout->preambles) + " preambles");
    if (!layout->complete) {
        const size_t have = size - layout->start;
        parts.push_back(layout->length == 0 ? "incomplete frame: " + std::to_string(have) + " bytes"
                                            : "incomplete frame: " + std::to_string(have) + " of "
                                                  + std::to_string(layout->length) + " bytes");
        return join(parts, "; ");
    }
    const FrameInfo f = *parseFrame(bytes, size);
    const char *kind = f.kind == FrameKind::Request ? "master to slave"
                       : f.kind == FrameKind::Reply ? "slave to master"
                                                    : "burst";
    std::string frame = std::string(layout->longAddress ? "long" : "short") + " frame, " + kind + ", "
                        + (f.primaryMaster ? "primary" : "secondary") + " master";
    if (f.burstMode)
        frame += ", device in burst mode";
    parts.push_back(frame);
    if (layout->longAddress)
        parts.push_back("manufacturer " + std::to_string(f.manufacturerId) + ", device type "
                        + std::to_string(f.deviceType) + ", device id " + std::to_string(f.deviceId));
    else
        parts.push_back("polling address " + std::to_string(f.pollingAddress));
    parts.push_back("command " + std::to_string(f.command)
                    + (f.command == 0 || f.command == 3 ? " " + commandName(f.command) : std::string()));
    parts.push_back(std::to_string(f.byteCount) + " bytes");
    if (f.kind != FrameKind::Request)
        appendResponse(parts, f);
    parts.push_back(f.checksumOk ? "checksum OK" : "checksum BAD");
    if (f.identity) {
        const Identity &id = *f.identity;
        const uint32_t deviceId = (uint32_t{id.deviceId[0]} << 16) | (uint32_t{id.deviceId[1]} << 8) | id.deviceId[2];
        parts.push_back("identity: manufacturer " + std::to_string(id.manufacturerId) + ", device type "
                        + std::to_string(id.deviceType) + ", device id " + std::to_string(deviceId)
                        + ", " + std::to_string(*f.minPreambles) + " preambles required");
    }
    if (f.loopCurrent)
        parts.push_back("loop current " + number(*f.loopCurrent, "%.3f") + " mA");
    for (size_t i = 0; i < f.variables.size(); ++i)
        parts.push_back(std::string(kVariableNames[i]) + " " + number(f.variables[i].value) + " "
                        + unitName(f.variables[i].unitCode));
    const size_t end = layout->start + layout->length;
    if (end < size)
        parts.push_back(std::to_string(size - end) + " bytes after the frame");
    return join(parts, "; ");
}

} // namespace hart
