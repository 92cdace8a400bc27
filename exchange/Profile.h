// SPDX-License-Identifier: GPL-3.0-or-later
// Settings by name: the keys of the command-line tool ("rs485a.baud",
// "instrument.2.preambles" ...), their values as text and as JSON, and the
// profile file that holds a gateway's settings. Shared by the command-line
// tool and the window; no Qt.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Settings.h"

namespace exchange {

using Json = nlohmann::ordered_json;

constexpr std::string_view kProfileFormat = "nx260-profile";
constexpr int kProfileVersion = 1;

// Applies one KEY=VALUE to `into`. false, with *error naming the key and
// what it accepts, for an unknown key or a value outside its list or range.
bool applySetting(GatewaySettings &into, std::string_view key, std::string_view value, std::string *error);

// The present settings as (key, JSON value) pairs, in the order of the
// profile: system first, then the instrument rows.
std::vector<std::pair<std::string, Json>> settingValues(const GatewaySettings &settings);
// A value as text: strings as they are, numbers in decimal.
std::string valueText(const Json &value);

// Every field that a reply reports and that is missing or outside its list
// or range, by key; empty when the settings are usable. The channel model is
// not reported by every gateway and not checked.
std::vector<std::string> unusableFields(const GatewaySettings &settings, bool system, bool instruments);

// The present settings in the profile's shape: {"system": {...}} and/or
// {"instruments": [{"row": 1, ...}, ...]}.
Json settingsJson(const GatewaySettings &settings, bool system, bool instruments);

// A whole profile document (format, version, both sections).
Json profileJson(const GatewaySettings &settings);

// Reads a profile. nullopt, with *error naming the member, for malformed
// JSON, a wrong format or version, an unknown member, a value of the wrong
// type or outside its list or range.
std::optional<GatewaySettings> parseProfile(std::string_view text, std::string *error);

// Keys whose values differ between the two, over the fields present in
// `wanted`. The channel model counts only when `gateway` holds it: not every
// gateway reports it.
std::vector<std::string> differingKeys(const GatewaySettings &gateway, const GatewaySettings &wanted);

} // namespace exchange
