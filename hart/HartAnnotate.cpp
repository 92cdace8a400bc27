// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartAnnotate.h"

#include <cstdio>

#include "HartUnits.h"

namespace hart {

namespace {

constexpr uint8_t kCommunicationError = 0x80;

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

constexpr const char *kVariableNames[] = {"PV", "SV", "TV", "QV"};

} // namespace

std::string commandName(uint8_t command)
{
    switch (command) {
    case 0: return "Read Unique Identifier";
    case 1: return "Read Primary Variable";
    case 2: return "Read Loop Current and Percent of Range";
    case 3: return "Read Dynamic Variables and Loop Current";
    case 12: return "Read Message";
    case 13: return "Read Tag, Descriptor, Date";
    case 15: return "Read Device Information";
    case 20: return "Read Long Tag";
    case 48: return "Read Additional Device Status";
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

bool reportsFault(const Frame &frame)
{
    if (!frame.checksumOk)
        return true;
    if (frame.responseCode && responseIsError(*frame.responseCode))
        return true;
    // With a communication error the second byte is not device status.
    const bool statusValid = frame.responseCode && !frame.communicationError();
    return statusValid && frame.deviceStatus && (*frame.deviceStatus & kDeviceMalfunction) != 0;
}

namespace {

void appendResponse(std::vector<std::string> &parts, const Frame &info)
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

std::string statusLine(const Frame &info)
{
    std::vector<std::string> parts;
    if (!info.checksumOk)
        parts.emplace_back("checksum BAD");
    appendResponse(parts, info);
    return join(parts, "; ");
}

namespace {

std::string quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// What the data of a reply says, for the commands this tool reads.
void appendData(std::vector<std::string> &parts, const Frame &f)
{
    const uint8_t *d = f.data.data();
    const size_t n = f.data.size();
    switch (f.command) {
    case 0:
        // The identity line needs the 254 that opens every command 0 reply.
        if (const auto c0 = command0Data(d, n); c0 && d[0] == 254) {
            const Identity &id = c0->identity;
            parts.push_back("identity: manufacturer " + std::to_string(id.manufacturerId) + ", device type "
                            + std::to_string(id.deviceType) + ", device id " + std::to_string(deviceIdNumber(id))
                            + ", " + std::to_string(c0->minPreambles) + " preambles required");
        }
        break;
    case 1:
        if (const auto pv = command1Data(d, n))
            parts.push_back("PV " + number(pv->value) + " " + unitName(pv->unitCode));
        break;
    case 2:
        if (const auto c = command2Data(d, n))
            parts.push_back("loop current " + number(c->milliamperes, "%.3f") + " mA, "
                            + number(c->percentOfRange, "%.2f") + " % of range");
        break;
    case 3: {
        const DynamicVariables v = command3Data(d, n);
        if (v.loopCurrent)
            parts.push_back("loop current " + number(*v.loopCurrent, "%.3f") + " mA");
        for (size_t i = 0; i < v.variables.size(); ++i)
            parts.push_back(std::string(kVariableNames[i]) + " " + number(v.variables[i].value) + " "
                            + unitName(v.variables[i].unitCode));
        break;
    }
    case 12:
        if (const auto m = command12Data(d, n))
            parts.push_back("message " + quoted(*m));
        break;
    case 13:
        if (const auto t = command13Data(d, n))
            parts.push_back("tag " + quoted(t->tag) + ", descriptor " + quoted(t->descriptor) + ", date "
                            + t->isoDate().value_or("invalid"));
        break;
    case 15:
        if (const auto r = command15Data(d, n))
            parts.push_back("range " + number(r->lower) + " .. " + number(r->upper) + " " + unitName(r->rangeUnit)
                            + ", " + transferFunctionName(r->transferFunction) + ", damping " + number(r->dampingSeconds)
                            + " s, alarm " + alarmSelectionName(r->alarmSelection) + ", "
                            + writeProtectName(r->writeProtect));
        break;
    case 20:
        if (const auto t = command20Data(d, n))
            parts.push_back("long tag " + quoted(*t));
        break;
    case 48:
        if (const auto a = command48Data(d, n)) {
            const auto names = additionalStatusNames(*a);
            parts.push_back("additional status " + std::to_string(n) + " bytes"
                            + (names.empty() ? std::string() : ": " + join(names, ", ")));
        }
        break;
    default:
        break;
    }
}

} // namespace

std::string describe(const uint8_t *bytes, size_t size)
{
    const auto f = readFrame(bytes, size);
    if (!f)
        return "no HART frame";
    std::vector<std::string> parts;
    if (f->transparentHeader)
        parts.push_back("transparent header (address " + std::to_string(bytes[0]) + ")");
    else if (f->leadLength > 0)
        parts.push_back(std::to_string(f->leadLength) + " bytes before the frame");
    parts.push_back(std::to_string(f->preambles) + " preambles");
    if (!f->complete) {
        const size_t have = size - f->start;
        parts.push_back(f->length == 0 ? "incomplete frame: " + std::to_string(have) + " bytes"
                                       : "incomplete frame: " + std::to_string(have) + " of "
                                             + std::to_string(f->length) + " bytes");
        return join(parts, "; ");
    }
    const char *kind = f->kind == FrameKind::Request ? "master to slave"
                       : f->kind == FrameKind::Reply ? "slave to master"
                                                     : "burst";
    std::string frame = std::string(f->longAddress ? "long" : "short") + " frame, " + kind + ", "
                        + (f->primaryMaster() ? "primary" : "secondary") + " master";
    if (f->burstMode())
        frame += ", device in burst mode";
    if (f->expansionBytes > 0)
        frame += ", " + std::to_string(f->expansionBytes) + " expansion byte(s)";
    parts.push_back(frame);
    if (f->longAddress) {
        const Identity id = f->addressIdentity();
        parts.push_back("manufacturer " + std::to_string(id.manufacturerId) + ", device type "
                        + std::to_string(id.deviceType) + ", device id " + std::to_string(deviceIdNumber(id)));
    } else {
        parts.push_back("polling address " + std::to_string(f->pollingAddress()));
    }
    const std::string name = commandName(f->command);
    parts.push_back("command " + std::to_string(f->command) + (name.starts_with("command ") ? "" : " " + name));
    parts.push_back(std::to_string(f->byteCount) + " bytes");
    if (f->kind != FrameKind::Request)
        appendResponse(parts, *f);
    parts.push_back(f->checksumOk ? "checksum OK" : "checksum BAD");
    // A communication error carries no data.
    if (f->kind != FrameKind::Request && f->responseCode && !f->communicationError())
        appendData(parts, *f);
    if (f->end() < size)
        parts.push_back(std::to_string(size - f->end()) + " bytes after the frame");
    return join(parts, "; ");
}

} // namespace hart
