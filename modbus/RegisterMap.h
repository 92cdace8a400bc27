// SPDX-License-Identifier: GPL-3.0-or-later
// Errors: nothing here throws; a parser returns std::nullopt and, when given
// `error`, puts there what it accepts.
//
// MODBUS values without I/O: register words as the engineer's numbers
// (uint16 .. float32 in the four byte orders, scale and unit), and the
// register map of one gateway (what the PLC reads where, and which HART
// variable it mirrors).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace modbus {

// The read functions by their MODBUS codes.
enum class Function : std::uint8_t { Coils = 1, DiscreteInputs = 2, HoldingRegisters = 3, InputRegisters = 4 };

enum class Type { UInt16, Int16, UInt32, Int32, Float32 };

// Where the value's bytes stand, A being the most significant: ABCD is
// big-endian (first register A B, second C D), CDAB swaps the registers,
// BADC the bytes within each, DCBA both. A 16-bit value (A B) is swapped
// to B A by BADC and DCBA.
enum class Order { ABCD, CDAB, BADC, DCBA };

struct Format {
    Type type = Type::UInt16;
    Order order = Order::ABCD;
    bool operator==(const Format &) const = default;
};

// "uint16", "int32-cdab", "float32-dcba" ...: the type, then optionally the
// order (ABCD when left out).
std::optional<Format> parseFormat(std::string_view text, std::string *error = nullptr);
std::string formatName(Format format);
// 1 for the 16-bit types, 2 for the others.
int registerCount(Type type);

// The raw value of `words` (as received, first register first); nullopt
// when fewer than registerCount(type) words are given.
std::optional<double> decode(std::span<const std::uint16_t> words, Format format);
// The words that carry `value` (rounded and clamped to the type's range for
// the integer types).
std::vector<std::uint16_t> encode(double value, Format format);

std::optional<Function> parseFunction(std::string_view text, std::string *error = nullptr);
std::string_view functionName(Function function); // "holding", "input", "coil", "discrete"

// The HART values a register can mirror (command 3).
enum class HartVariable { LoopCurrent, PV, SV, TV, QV };
std::optional<HartVariable> parseHartVariable(std::string_view text, std::string *error = nullptr);
std::string_view hartVariableName(HartVariable variable); // "current", "pv" ...

struct MapRow {
    std::string name;
    Function function = Function::HoldingRegisters;
    int address = 0; // register or bit number as on the wire, 0..65535
    Format format;   // registers only
    double scale = 1.0; // value = raw * scale
    std::string unit;
    std::optional<int> channel;            // instrument row 1..4 whose HART value it mirrors
    std::optional<HartVariable> mirrors;   // with channel
    std::optional<double> tolerance;       // allowed |MODBUS - HART|, in the row's unit

    bool operator==(const MapRow &) const = default;
    int words() const; // registers (or bits) the row takes
    double value(double raw) const { return raw * scale; }
    // The allowed difference to `hart`: the row's tolerance, else 1 % of
    // the HART value's magnitude (at least 0.001).
    double allowed(double hart) const;
};

using RegisterMap = std::vector<MapRow>;

// The registers the bundled gateway simulator serves.
RegisterMap simulatorMap();

// "00 2A 41 28" for the words given.
std::string hexWords(std::span<const std::uint16_t> words);

} // namespace modbus
