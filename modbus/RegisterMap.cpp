// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegisterMap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace modbus {

namespace {

constexpr std::array<std::string_view, 5> kTypeNames = {"uint16", "int16", "uint32", "int32", "float32"};
constexpr std::array<std::string_view, 4> kOrderNames = {"abcd", "cdab", "badc", "dcba"};
constexpr std::array<std::string_view, 4> kFunctionNames = {"coil", "discrete", "holding", "input"};
constexpr std::array<std::string_view, 5> kHartNames = {"current", "pv", "sv", "tv", "qv"};

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

template <std::size_t N>
std::optional<std::size_t> indexOf(const std::array<std::string_view, N> &names, std::string_view text)
{
    const std::string l = lower(text);
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == l)
            return i;
    return std::nullopt;
}

template <std::size_t N>
std::string listed(const std::array<std::string_view, N> &names)
{
    std::string out;
    for (std::size_t i = 0; i < N; ++i)
        out += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(names[i]);
    return out;
}

bool say(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

// The value's bytes, most significant first (A B or A B C D), as the
// registers carry them in `order`.
std::array<std::uint8_t, 4> wireBytes(const std::array<std::uint8_t, 4> &v, int count, Order order)
{
    if (count == 1) {
        const bool swap = order == Order::BADC || order == Order::DCBA;
        return swap ? std::array<std::uint8_t, 4>{v[1], v[0], 0, 0} : std::array<std::uint8_t, 4>{v[0], v[1], 0, 0};
    }
    switch (order) {
    case Order::ABCD: return v;
    case Order::CDAB: return {v[2], v[3], v[0], v[1]};
    case Order::BADC: return {v[1], v[0], v[3], v[2]};
    case Order::DCBA: return {v[3], v[2], v[1], v[0]};
    }
    return v;
}

} // namespace

std::optional<Format> parseFormat(std::string_view text, std::string *error)
{
    const std::size_t dash = text.find('-');
    const auto type = indexOf(kTypeNames, text.substr(0, dash));
    std::optional<std::size_t> order = std::size_t{0};
    if (dash != std::string_view::npos)
        order = indexOf(kOrderNames, text.substr(dash + 1));
    if (!type || !order) {
        say(error, std::string(text) + ": must be " + listed(kTypeNames) + ", optionally followed by -" +
                       listed(kOrderNames) + " (e.g. float32-cdab)");
        return std::nullopt;
    }
    return Format{static_cast<Type>(*type), static_cast<Order>(*order)};
}

std::string formatName(Format format)
{
    std::string out(kTypeNames[static_cast<std::size_t>(format.type)]);
    if (format.order != Order::ABCD)
        out += "-" + std::string(kOrderNames[static_cast<std::size_t>(format.order)]);
    return out;
}

int registerCount(Type type)
{
    return type == Type::UInt16 || type == Type::Int16 ? 1 : 2;
}

std::optional<double> decode(std::span<const std::uint16_t> words, Format format)
{
    const int count = registerCount(format.type);
    if (words.size() < static_cast<std::size_t>(count))
        return std::nullopt;
    std::array<std::uint8_t, 4> wire{};
    for (int i = 0; i < count; ++i) {
        wire[static_cast<std::size_t>(2 * i)] = static_cast<std::uint8_t>(words[static_cast<std::size_t>(i)] >> 8);
        wire[static_cast<std::size_t>(2 * i + 1)] = static_cast<std::uint8_t>(words[static_cast<std::size_t>(i)]);
    }
    // Every order is its own inverse: the same shuffle reads and writes.
    const std::array<std::uint8_t, 4> v = wireBytes(wire, count, format.order);
    if (count == 1) {
        const auto u = static_cast<std::uint16_t>(v[0] << 8 | v[1]);
        return format.type == Type::Int16 ? double(static_cast<std::int16_t>(u)) : double(u);
    }
    const std::uint32_t u = std::uint32_t(v[0]) << 24 | std::uint32_t(v[1]) << 16 | std::uint32_t(v[2]) << 8 | v[3];
    switch (format.type) {
    case Type::UInt32: return double(u);
    case Type::Int32: return double(static_cast<std::int32_t>(u));
    case Type::Float32: {
        float f = 0;
        std::memcpy(&f, &u, sizeof f);
        return double(f);
    }
    default: return std::nullopt;
    }
}

std::vector<std::uint16_t> encode(double value, Format format)
{
    const int count = registerCount(format.type);
    auto clampTo = [&](double lo, double hi) {
        return std::isnan(value) ? 0.0 : std::clamp(std::round(value), lo, hi);
    };
    std::uint32_t u = 0;
    switch (format.type) {
    case Type::UInt16: u = static_cast<std::uint32_t>(clampTo(0, 65535)); break;
    case Type::Int16: u = static_cast<std::uint16_t>(static_cast<std::int16_t>(clampTo(-32768, 32767))); break;
    case Type::UInt32: u = static_cast<std::uint32_t>(clampTo(0, 4294967295.0)); break;
    case Type::Int32: u = static_cast<std::uint32_t>(static_cast<std::int32_t>(clampTo(-2147483648.0, 2147483647.0))); break;
    case Type::Float32: {
        const float f = static_cast<float>(value);
        std::memcpy(&u, &f, sizeof u);
        break;
    }
    }
    const std::array<std::uint8_t, 4> v = count == 1
        ? std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u), 0, 0}
        : std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
                                      static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
    const std::array<std::uint8_t, 4> wire = wireBytes(v, count, format.order);
    std::vector<std::uint16_t> out;
    for (int i = 0; i < count; ++i)
        out.push_back(static_cast<std::uint16_t>(wire[static_cast<std::size_t>(2 * i)] << 8 |
                                                 wire[static_cast<std::size_t>(2 * i + 1)]));
    return out;
}

std::optional<Function> parseFunction(std::string_view text, std::string *error)
{
    if (const auto i = indexOf(kFunctionNames, text))
        return static_cast<Function>(*i + 1);
    say(error, std::string(text) + ": must be " + listed(kFunctionNames));
    return std::nullopt;
}

std::string_view functionName(Function function)
{
    return kFunctionNames[static_cast<std::size_t>(function) - 1];
}

std::optional<HartVariable> parseHartVariable(std::string_view text, std::string *error)
{
    if (const auto i = indexOf(kHartNames, text))
        return static_cast<HartVariable>(*i);
    say(error, std::string(text) + ": must be " + listed(kHartNames));
    return std::nullopt;
}

std::string_view hartVariableName(HartVariable variable)
{
    return kHartNames[static_cast<std::size_t>(variable)];
}

int MapRow::words() const
{
    const bool bits = function == Function::Coils || function == Function::DiscreteInputs;
    return bits ? 1 : registerCount(format.type);
}

double MapRow::allowed(double hart) const
{
    return tolerance ? *tolerance : std::max(0.01 * std::fabs(hart), 0.001);
}

RegisterMap simulatorMap()
{
    using enum Type;
    auto mirror = [](std::string name, Function f, int address, Format format, double scale, std::string unit,
                     HartVariable v, double tolerance) {
        return MapRow{std::move(name), f, address, format, scale, std::move(unit), 1, v, tolerance};
    };
    const Format f32{Float32, Order::ABCD};
    // The gateway refreshes its registers once per communication interval
    // (1 s by default), so a moving flow may differ by what it moves in that time.
    return {
        mirror("Flow", Function::HoldingRegisters, 0, f32, 1, "m3/h", HartVariable::PV, 2.5),
        mirror("Temperature", Function::HoldingRegisters, 2, f32, 1, "degC", HartVariable::SV, 0.5),
        mirror("Mass flow", Function::HoldingRegisters, 4, f32, 1, "kg/h", HartVariable::TV, 2500),
        mirror("Total", Function::HoldingRegisters, 6, f32, 1, "m3", HartVariable::QV, 0.1),
        mirror("Loop current", Function::HoldingRegisters, 8, f32, 1, "mA", HartVariable::LoopCurrent, 0.5),
        MapRow{"Channel 1 status", Function::HoldingRegisters, 10, {UInt16, Order::ABCD}, 1, "", {}, {}, {}},
        mirror("Flow x100", Function::InputRegisters, 0, {Int16, Order::ABCD}, 0.01, "m3/h", HartVariable::PV, 2.5),
        mirror("Temperature x10", Function::InputRegisters, 1, {Int16, Order::ABCD}, 0.1, "degC", HartVariable::SV, 0.5),
        mirror("Total (litres)", Function::InputRegisters, 2, {UInt32, Order::CDAB}, 0.001, "m3", HartVariable::QV, 0.1),
        MapRow{"Channel 1 online", Function::DiscreteInputs, 0, {}, 1, "", {}, {}, {}},
    };
}

std::string hexWords(std::span<const std::uint16_t> words)
{
    std::string out;
    char tmp[8];
    for (const std::uint16_t w : words) {
        std::snprintf(tmp, sizeof tmp, "%02X %02X ", w >> 8, w & 0xFF);
        out += tmp;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

} // namespace modbus
