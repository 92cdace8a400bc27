// The gateway's ASCII configuration requests, built from plain values.
// Callers validate ranges first (see the *_Max constants); these functions
// only compose bytes, one place per request shape.
// A value that cannot be encoded (out of range, no selection: -1, unknown
// port or row) gives an empty result, never a malformed request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

} // namespace exchange
