// SPDX-License-Identifier: GPL-3.0-or-later
// The gateway's ASCII configuration requests, built from plain values.
// Callers validate ranges first (see the *_Max constants); these functions
// only compose bytes, one place per request shape.
// A value that cannot be encoded (out of range, no selection: -1, unknown
// port or row) gives an empty result, never a malformed request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Settings.h"

namespace exchange {

using Bytes = std::vector<uint8_t>;

constexpr int kThreeDigitMax = 999;
constexpr int32_t kSerialMax = 99999999;
constexpr int kInspectorMax = 999;

Bytes communicationQuery();      // "QQQ#QV#"
Bytes systemParameterQuery();    // "QQQ#QX1#"
Bytes instrumentQuery();         // "QQQ#QH00#"
Bytes parameterInitialization(); // "QQS#RESET#"

// "QQS#ADR:" ddd "#", n in 0..999
Bytes setSlaveAddress(int n);
// "QQS#BOA:" b p "0#" (port 'A') or "QQS#BOB:" ... (port 'B'); indexes >= 0
Bytes setRs485(char port, int baudIndex, int parityIndex);
// "QQS#MD:" m "#"
Bytes setCommunicationMode(int modeIndex);
// "QQS#DTA:" r "#" (port 'A') or "QQS#DTK:" r "#" (port 'B'); r is the raw index byte
Bytes setDataReturnTime(char port, int index);
// "QQS#RDM:" ddd "#", n in 0..999 (units of 100 ms)
Bytes setCommunicationInterval(int n);
// "QQS#XH:" c "#"
Bytes setChannelModel(int index);
// "QQS#HA0" row ":" s tt q ddd "#"; row 1..4, preambleIndex is the item index
// of the "4".."9" list, interval in 0..999
Bytes setInstrument(int row, int modeIndex, int typeIndex, int preambleIndex, int interval);
// "QRTNVK#PCBSN:" serial (at least 8 digits) "," inspector (at least 3 digits) "#"
std::string factorySerialRequest(int32_t serial, int32_t inspector);

// One set request built from the settings model, named by the settings it
// carries ("mode", "rs485a", "instrument.2" ...).
struct SetRequest {
    std::string name;
    Bytes bytes;
};

// The set requests for every group of settings that has a field in `change`,
// in the order the window lists them. A group is sent whole (both RS485 baud
// and parity, a whole instrument row), so its missing fields come from
// `current`. nullopt when a group cannot be completed or a value does not
// encode; *problem then names the group.
std::optional<std::vector<SetRequest>> setRequests(const GatewaySettings &change, const GatewaySettings &current,
                                                   std::string *problem = nullptr);

} // namespace exchange
