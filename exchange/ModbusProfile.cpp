// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModbusProfile.h"

namespace exchange {

namespace {

bool bad(std::string *error, const std::string &path, const std::string &what)
{
    *error = path + ": " + what;
    return false;
}

bool readRow(const Json &r, const std::string &path, modbus::MapRow &row, std::string *error)
{
    if (!r.is_object())
        return bad(error, path, "must be an object");
    for (auto it = r.begin(); it != r.end(); ++it) {
        const std::string &k = it.key();
        const Json &v = it.value();
        const std::string at = path + "." + k;
        std::string why;
        if (k == "name" || k == "unit" || k == "function" || k == "type" || k == "hart") {
            if (!v.is_string())
                return bad(error, at, "must be a string");
            const std::string s = v.get<std::string>();
            if (k == "name")
                row.name = s;
            else if (k == "unit")
                row.unit = s;
            else if (k == "function") {
                const auto f = modbus::parseFunction(s, &why);
                if (!f)
                    return bad(error, at, why);
                row.function = *f;
            } else if (k == "type") {
                const auto f = modbus::parseFormat(s, &why);
                if (!f)
                    return bad(error, at, why);
                row.format = *f;
            } else {
                const auto h = modbus::parseHartVariable(s, &why);
                if (!h)
                    return bad(error, at, why);
                row.mirrors = *h;
            }
        } else if (k == "register" || k == "channel") {
            const int hi = k == "register" ? 65535 : kInstrumentRows;
            if (!v.is_number_integer() || v.get<int64_t>() < (k == "register" ? 0 : 1) || v.get<int64_t>() > hi)
                return bad(error, at, "must be a number from " + std::string(k == "register" ? "0" : "1") + " to " + std::to_string(hi));
            (k == "register" ? row.address : row.channel.emplace()) = static_cast<int>(v.get<int64_t>());
        } else if (k == "scale" || k == "tolerance") {
            if (!v.is_number() || (k == "scale" && v.get<double>() == 0) || (k == "tolerance" && v.get<double>() < 0))
                return bad(error, at, k == "scale" ? "must be a number other than 0" : "must be a number, 0 or more");
            (k == "scale" ? row.scale : row.tolerance.emplace()) = v.get<double>();
        } else {
            return bad(error, at, "unknown member");
        }
    }
    if (row.name.empty())
        return bad(error, path + ".name", "missing");
    if (row.mirrors.has_value() != row.channel.has_value())
        return bad(error, path, "\"channel\" and \"hart\" go together");
    if (row.address + row.words() > 65536)
        return bad(error, path + ".register", "the value runs past register 65535");
    return true;
}

} // namespace

std::optional<modbus::RegisterMap> parseModbusMember(const Json &member, std::string *error)
{
    if (!member.is_object())
        return bad(error, "modbus", "must be an object"), std::nullopt;
    modbus::RegisterMap map;
    for (auto it = member.begin(); it != member.end(); ++it) {
        if (it.key() != "map")
            return bad(error, "modbus." + it.key(), "unknown member"), std::nullopt;
        if (!it.value().is_array())
            return bad(error, "modbus.map", "must be an array"), std::nullopt;
        for (size_t i = 0; i < it.value().size(); ++i) {
            modbus::MapRow row;
            if (!readRow(it.value()[i], "modbus.map[" + std::to_string(i) + "]", row, error))
                return std::nullopt;
            map.push_back(row);
        }
    }
    return map;
}

std::optional<modbus::RegisterMap> profileModbusMap(std::string_view text, std::string *error)
{
    if (!parseProfile(text, error))
        return std::nullopt;
    const Json doc = Json::parse(text.begin(), text.end(), nullptr, false);
    if (!doc.contains("modbus"))
        return modbus::simulatorMap();
    return parseModbusMember(doc["modbus"], error);
}

Json modbusMember(const modbus::RegisterMap &map)
{
    Json rows = Json::array();
    for (const modbus::MapRow &r : map) {
        Json row = {{"name", r.name}, {"function", modbus::functionName(r.function)}, {"register", r.address}};
        if (r.function == modbus::Function::HoldingRegisters || r.function == modbus::Function::InputRegisters)
            row["type"] = modbus::formatName(r.format);
        row["scale"] = r.scale;
        row["unit"] = r.unit;
        if (r.channel && r.mirrors) {
            row["channel"] = *r.channel;
            row["hart"] = modbus::hartVariableName(*r.mirrors);
        }
        if (r.tolerance)
            row["tolerance"] = *r.tolerance;
        rows.push_back(row);
    }
    return {{"map", rows}};
}

} // namespace exchange
