// SPDX-License-Identifier: GPL-3.0-or-later
// What a configuration request or reply means, in the words of the window's
// controls ("Set RS485A: 19200 baud, Even"), for the traffic monitor.
#pragma once

#include <string>
#include <string_view>

namespace exchange {

// The request's name and value; "unknown request" for bytes that are none
// of the gateway's requests.
std::string describeRequest(std::string_view request);

// The settings a system parameter or instrument reply carries, or the
// acknowledgement / identification text as it stands. Incomplete fields are
// named as such.
std::string describeReply(std::string_view reply);

} // namespace exchange
