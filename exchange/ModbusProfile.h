// SPDX-License-Identifier: GPL-3.0-or-later
// The gateway's MODBUS register map in its profile: the member "modbus"
// ({"map": [{"name", "function", "register", "type", "scale", "unit",
// "channel", "hart", "tolerance"}, ...]}). Profiles without it hold the
// simulator's map. No Qt.
#pragma once

#include "Profile.h"
#include "RegisterMap.h"

namespace exchange {

// The map of the profile's "modbus" member; nullopt, with *error naming the
// member, when it is malformed.
std::optional<modbus::RegisterMap> parseModbusMember(const Json &member, std::string *error);
// The map of a whole profile text: the simulator's when it has none.
std::optional<modbus::RegisterMap> profileModbusMap(std::string_view text, std::string *error);
// The member for `map`, to put under "modbus" in a profile document.
Json modbusMember(const modbus::RegisterMap &map);

} // namespace exchange
