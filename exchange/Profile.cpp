// SPDX-License-Identifier: GPL-3.0-or-later
#include "Profile.h"
#include "ModbusProfile.h"

#include "StrictInt.h"

#include <algorithm>
#include <functional>
#include <span>

namespace exchange {

namespace {

// How a field's value is written: a word from a list, a number in a range, a
// baud rate, a data return time item or a channel count.
enum class Kind { Words, Number, Baud, ReturnTime, Channels };

struct KeyInfo {
    constexpr KeyInfo(std::string_view n, Kind k, std::span<const std::string_view> w = {}, int l = 0, int h = 0,
                      bool r = true)
        : name(n), kind(k), words(w), lo(l), hi(h), reported(r)
    {
    }
    std::string_view name; // relative to its section ("rs485a.baud", "mode")
    Kind kind;
    std::span<const std::string_view> words; // Words
    int lo, hi;                              // Number
    bool reported;                           // does the gateway report it?
};

using SystemField = std::optional<int> &(*)(SystemSettings &);
using RowField = std::optional<int> &(*)(InstrumentSettings &);

struct SystemKey {
    KeyInfo info;
    SystemField field;
};
struct RowKey {
    KeyInfo info;
    RowField field;
};

const SystemKey kSystemKeys[] = {
    {{"mode", Kind::Words, kModeWords}, [](SystemSettings &s) -> std::optional<int> & { return s.mode; }},
    {{"address", Kind::Number, {}, 0, kNumberMax}, [](SystemSettings &s) -> std::optional<int> & { return s.address; }},
    {{"rs485a.baud", Kind::Baud}, [](SystemSettings &s) -> std::optional<int> & { return s.rs485a.baud; }},
    {{"rs485a.parity", Kind::Words, kParityWords},
     [](SystemSettings &s) -> std::optional<int> & { return s.rs485a.parity; }},
    {{"rs485a.return_time", Kind::ReturnTime},
     [](SystemSettings &s) -> std::optional<int> & { return s.rs485a.returnTime; }},
    {{"rs485b.baud", Kind::Baud}, [](SystemSettings &s) -> std::optional<int> & { return s.rs485b.baud; }},
    {{"rs485b.parity", Kind::Words, kParityWords},
     [](SystemSettings &s) -> std::optional<int> & { return s.rs485b.parity; }},
    {{"rs485b.return_time", Kind::ReturnTime},
     [](SystemSettings &s) -> std::optional<int> & { return s.rs485b.returnTime; }},
    {{"interval", Kind::Number, {}, 0, kNumberMax},
     [](SystemSettings &s) -> std::optional<int> & { return s.interval; }},
    {{"channels", Kind::Channels, {}, 0, 0, false},
     [](SystemSettings &s) -> std::optional<int> & { return s.channels; }},
};


const RowKey kRowKeys[] = {
    {{"mode", Kind::Words, kDeviceModeWords}, [](InstrumentSettings &r) -> std::optional<int> & { return r.mode; }},
    {{"type", Kind::Number, {}, 0, kInstrumentTypes - 1},
     [](InstrumentSettings &r) -> std::optional<int> & { return r.type; }},
    {{"preambles", Kind::Number, {}, kPreamblesMin, kPreamblesMax},
     [](InstrumentSettings &r) -> std::optional<int> & { return r.preambles; }},
    {{"interval", Kind::Number, {}, 0, kNumberMax},
     [](InstrumentSettings &r) -> std::optional<int> & { return r.interval; }},
};

std::string join(const auto &items)
{
    std::string out;
    for (const auto &item : items) {
        if (!out.empty())
            out += ", ";
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(item)>>)
            out += std::to_string(item);
        else
            out += item;
    }
    return out;
}

std::string accepted(const KeyInfo &k)
{
    switch (k.kind) {
    case Kind::Words: return "one of " + join(k.words);
    case Kind::Number: return "a number from " + std::to_string(k.lo) + " to " + std::to_string(k.hi);
    case Kind::Baud: return "one of " + join(kBaudRates);
    case Kind::ReturnTime: return "one of " + join(kReturnTimes) + " or its index 0.." + std::to_string(kReturnTimes.size() - 1);
    case Kind::Channels: return "one of " + join(kChannelCounts);
    }
    return {};
}

template <class List>
std::optional<int> indexOf(const List &list, const auto &value)
{
    const auto it = std::find(list.begin(), list.end(), value);
    if (it == list.end())
        return std::nullopt;
    return static_cast<int>(it - list.begin());
}

// Text (a key's value on the command line) to the stored value.
std::optional<int> fromText(const KeyInfo &k, std::string_view text)
{
    const std::optional<int32_t> number = strictToInt(text);
    switch (k.kind) {
    case Kind::Words: return indexOf(k.words, text);
    case Kind::Number:
        if (number && *number >= k.lo && *number <= k.hi)
            return *number;
        return std::nullopt;
    case Kind::Baud: return number ? indexOf(kBaudRates, *number) : std::nullopt;
    case Kind::ReturnTime:
        if (number && *number >= 0 && *number < static_cast<int>(kReturnTimes.size()))
            return *number;
        return indexOf(kReturnTimes, text);
    case Kind::Channels: return number ? indexOf(kChannelCounts, *number) : std::nullopt;
    }
    return std::nullopt;
}

bool valid(const KeyInfo &k, int v)
{
    switch (k.kind) {
    case Kind::Words: return v >= 0 && static_cast<size_t>(v) < k.words.size();
    case Kind::Number: return v >= k.lo && v <= k.hi;
    case Kind::Baud: return v >= 0 && static_cast<size_t>(v) < kBaudRates.size();
    case Kind::ReturnTime: return v >= 0 && static_cast<size_t>(v) < kReturnTimes.size();
    case Kind::Channels: return v >= 0 && static_cast<size_t>(v) < kChannelCounts.size();
    }
    return false;
}

// Stored value to JSON: numbers as numbers, choices as their words.
Json toJson(const KeyInfo &k, int v)
{
    if (!valid(k, v))
        return nullptr;
    switch (k.kind) {
    case Kind::Words: return std::string(k.words[static_cast<size_t>(v)]);
    case Kind::Number: return v;
    case Kind::Baud: return kBaudRates[static_cast<size_t>(v)];
    case Kind::ReturnTime: return std::string(kReturnTimes[static_cast<size_t>(v)]);
    case Kind::Channels: return kChannelCounts[static_cast<size_t>(v)];
    }
    return nullptr;
}

std::optional<int> fromJson(const KeyInfo &k, const Json &j)
{
    if (j.is_string()) {
        // Choices are words; a data return time may also be its item text.
        if (k.kind == Kind::Words || k.kind == Kind::ReturnTime)
            return fromText(k, j.get<std::string>());
        return std::nullopt;
    }
    if (j.is_number_integer() && k.kind != Kind::Words) {
        const auto v = j.get<int64_t>();
        if (v < INT32_MIN || v > INT32_MAX)
            return std::nullopt;
        return fromText(k, std::to_string(v));
    }
    return std::nullopt;
}

std::string rowPrefix(size_t row) { return "instrument." + std::to_string(row + 1) + "."; }

// Puts `value` under a dotted name ("rs485a.baud") in `object`.
void putDotted(Json &object, std::string_view name, Json value)
{
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        object[std::string(name)] = std::move(value);
        return;
    }
    putDotted(object[std::string(name.substr(0, dot))], name.substr(dot + 1), std::move(value));
}

// Reads one section's members against its keys; members are nested objects
// for dotted names. `path` names the section in messages.
template <class Keys, class Target>
bool readSection(const Json &object, const std::string &path, const Keys &keys, Target &target, std::string *error)
{
    if (!object.is_object()) {
        *error = path + ": must be an object";
        return false;
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string member = path + "." + it.key();
        if (path.starts_with("instruments[") && it.key() == "row")
            continue;
        // Either a key itself or the group of dotted keys below it.
        bool known = false;
        for (const auto &k : keys) {
            const std::string_view name = k.info.name;
            if (name == it.key()) {
                known = true;
                const std::optional<int> v = fromJson(k.info, it.value());
                if (!v) {
                    *error = member + ": " + it.value().dump() + " is not " + accepted(k.info);
                    return false;
                }
                k.field(target) = *v;
            } else if (name.starts_with(it.key() + ".")) {
                known = true;
            }
        }
        if (!known) {
            *error = member + ": unknown member";
            return false;
        }
        if (it.value().is_object()) {
            // A group such as "rs485a": each of its members must be a key.
            for (auto sub = it.value().begin(); sub != it.value().end(); ++sub) {
                const std::string name = it.key() + "." + sub.key();
                const auto k = std::find_if(std::begin(keys), std::end(keys),
                                            [&](const auto &key) { return key.info.name == name; });
                if (k == std::end(keys)) {
                    *error = member + "." + sub.key() + ": unknown member";
                    return false;
                }
                const std::optional<int> v = fromJson(k->info, sub.value());
                if (!v) {
                    *error = member + "." + sub.key() + ": " + sub.value().dump() + " is not " + accepted(k->info);
                    return false;
                }
                k->field(target) = *v;
            }
        } else if (std::none_of(std::begin(keys), std::end(keys),
                                [&](const auto &key) { return key.info.name == it.key(); })) {
            *error = member + ": must be an object";
            return false;
        }
    }
    return true;
}

} // namespace

bool applySetting(GatewaySettings &into, std::string_view key, std::string_view value, std::string *error)
{
    for (const SystemKey &k : kSystemKeys) {
        if (k.info.name != key)
            continue;
        const std::optional<int> v = fromText(k.info, value);
        if (!v) {
            *error = std::string(key) + "=" + std::string(value) + ": the value must be " + accepted(k.info);
            return false;
        }
        k.field(into.system) = *v;
        return true;
    }
    if (key.starts_with("instrument.") && key.size() > 13 && key[12] == '.') {
        const char n = key[11];
        const std::string_view field = key.substr(13);
        for (const RowKey &k : kRowKeys) {
            if (k.info.name != field)
                continue;
            if (n < '1' || n > '0' + kInstrumentRows)
                break;
            const std::optional<int> v = fromText(k.info, value);
            if (!v) {
                *error = std::string(key) + "=" + std::string(value) + ": the value must be " + accepted(k.info);
                return false;
            }
            k.field(into.instruments[static_cast<size_t>(n - '1')]) = *v;
            return true;
        }
    }
    *error = std::string(key) + ": unknown key (see nx260ctl --help)";
    return false;
}

std::string valueText(const Json &value)
{
    return value.is_string() ? value.get<std::string>() : value.dump();
}

std::vector<std::pair<std::string, Json>> settingValues(const GatewaySettings &settings)
{
    std::vector<std::pair<std::string, Json>> out;
    GatewaySettings s = settings;
    for (const SystemKey &k : kSystemKeys) {
        if (const auto &v = k.field(s.system))
            out.emplace_back(std::string(k.info.name), toJson(k.info, *v));
    }
    for (size_t row = 0; row < s.instruments.size(); ++row) {
        for (const RowKey &k : kRowKeys) {
            if (const auto &v = k.field(s.instruments[row]))
                out.emplace_back(rowPrefix(row) + std::string(k.info.name), toJson(k.info, *v));
        }
    }
    return out;
}

std::vector<std::string> unusableFields(const GatewaySettings &settings, bool system, bool instruments)
{
    std::vector<std::string> out;
    GatewaySettings s = settings;
    if (system) {
        for (const SystemKey &k : kSystemKeys) {
            const auto &v = k.field(s.system);
            if (k.info.reported && (!v || !valid(k.info, *v)))
                out.emplace_back(k.info.name);
        }
    }
    if (instruments) {
        for (size_t row = 0; row < s.instruments.size(); ++row) {
            for (const RowKey &k : kRowKeys) {
                const auto &v = k.field(s.instruments[row]);
                if (!v || !valid(k.info, *v))
                    out.push_back(rowPrefix(row) + std::string(k.info.name));
            }
        }
    }
    return out;
}

Json settingsJson(const GatewaySettings &settings, bool system, bool instruments)
{
    GatewaySettings s = settings;
    Json out = Json::object();
    if (system) {
        Json sys = Json::object();
        for (const SystemKey &k : kSystemKeys) {
            if (const auto &v = k.field(s.system))
                putDotted(sys, k.info.name, toJson(k.info, *v));
        }
        out["system"] = std::move(sys);
    }
    if (instruments) {
        Json rows = Json::array();
        for (size_t row = 0; row < s.instruments.size(); ++row) {
            Json r = Json::object();
            r["row"] = row + 1;
            for (const RowKey &k : kRowKeys) {
                if (const auto &v = k.field(s.instruments[row]))
                    r[std::string(k.info.name)] = toJson(k.info, *v);
            }
            if (r.size() > 1)
                rows.push_back(std::move(r));
        }
        out["instruments"] = std::move(rows);
    }
    return out;
}

Json profileJson(const GatewaySettings &settings)
{
    Json out = Json::object();
    out["format"] = kProfileFormat;
    out["version"] = kProfileVersion;
    const Json sections = settingsJson(settings, true, true);
    for (auto it = sections.begin(); it != sections.end(); ++it)
        out[it.key()] = it.value();
    return out;
}

std::optional<GatewaySettings> parseProfile(std::string_view text, std::string *error)
{
    std::string scratch;
    if (!error)
        error = &scratch;
    const Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded()) {
        *error = "not valid JSON";
        return std::nullopt;
    }
    if (!doc.is_object()) {
        *error = "the profile must be a JSON object";
        return std::nullopt;
    }
    if (!doc.contains("format") || doc["format"] != kProfileFormat) {
        *error = "format: must be \"" + std::string(kProfileFormat) + "\"";
        return std::nullopt;
    }
    if (!doc.contains("version") || doc["version"] != kProfileVersion) {
        *error = "version: must be " + std::to_string(kProfileVersion);
        return std::nullopt;
    }
    GatewaySettings out;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const std::string &name = it.key();
        if (name == "format" || name == "version")
            continue;
        if (name == "modbus") { // the register map: ModbusProfile reads it
            if (!parseModbusMember(it.value(), error))
                return std::nullopt;
            continue;
        }
        if (name == "system") {
            if (!readSection(it.value(), "system", kSystemKeys, out.system, error))
                return std::nullopt;
        } else if (name == "instruments") {
            if (!it.value().is_array()) {
                *error = "instruments: must be an array";
                return std::nullopt;
            }
            std::array<bool, kInstrumentRows> seen{};
            for (size_t i = 0; i < it.value().size(); ++i) {
                const Json &r = it.value()[i];
                const std::string path = "instruments[" + std::to_string(i) + "]";
                const Json *row = r.is_object() && r.contains("row") ? &r["row"] : nullptr;
                if (!row || !row->is_number_integer() || row->get<int64_t>() < 1
                    || row->get<int64_t>() > kInstrumentRows) {
                    *error = path + ".row: must be a number from 1 to " + std::to_string(kInstrumentRows);
                    return std::nullopt;
                }
                const auto n = static_cast<size_t>(row->get<int64_t>() - 1);
                if (seen[n]) {
                    *error = path + ".row: row " + std::to_string(n + 1) + " appears twice";
                    return std::nullopt;
                }
                seen[n] = true;
                if (!readSection(r, path, kRowKeys, out.instruments[n], error))
                    return std::nullopt;
            }
        } else {
            *error = name + ": unknown member";
            return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string> differingKeys(const GatewaySettings &gateway, const GatewaySettings &wanted)
{
    std::vector<std::string> out;
    GatewaySettings g = gateway, w = wanted;
    for (const SystemKey &k : kSystemKeys) {
        const auto &want = k.field(w.system);
        // The channel model compares only where the gateway reported it.
        if ((k.info.reported || k.field(g.system)) && want && k.field(g.system) != want)
            out.emplace_back(k.info.name);
    }
    for (size_t row = 0; row < w.instruments.size(); ++row) {
        for (const RowKey &k : kRowKeys) {
            const auto &want = k.field(w.instruments[row]);
            if (want && k.field(g.instruments[row]) != want)
                out.push_back(rowPrefix(row) + std::string(k.info.name));
        }
    }
    return out;
}

} // namespace exchange
