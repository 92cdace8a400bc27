// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartReplies.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace hart {

const std::array<const char *, kUnitCount> kUnitNames = {
    "inH20",        "inhg",           "FtH20",         "mmH20",            "mmHg",
    "psi",          "bar",            "mbar",          "Pa",               "KPa",
    "ATM",          "MPa",            "\u2103",        "\u2109",           "R",
    "Kelvin",       "CuFt_min",       "gal_min",       "l_min",            "CuMtr_hr",
    "l_s",          "Cuft_s",         "CuMtr_s",       "CuMtr_min",        "gal_hr",
    "l_hr",         "ft_s",           "mtr_s",         "in_s",             "in_min",
    "ft_min",       "mtr_hr",         "gal",           "liter",            "CuMtr",
    "bbl",          "CuYd",           "CuFt",          "CuIn",             "bbl_liq",
    "ft",           "M",              "in",            "cm",               "mm",
    "gram",         "kg",             "MetTon",        "lb",               "ounce",
    "g_s",          "g_min",          "g_hr",          "kg_s",             "kg_min",
    "metTOM_min",   "metton_hr",      "lb_s",          "lb_min",           "lb_hr",
    "g_CuCM",       "KG_CuMtr",       "lb_gal",        "lb_Cuft",          "g_ml",
    "kb_l",         "g_l",            "centi_stokes",  "cpoise",           "mewtom_meter",
    "deka_therm",   "foot_pound_force", "kilo_watt_hour", "mega_joule",    "british_thermal_unit",
    "%",            "other",
};

namespace {

// HART unit code -> combo index, as the HART common table defines the codes.
// Codes whose unit the list lacks (75 kg/h among them) select "other".
constexpr std::pair<uint8_t, uint8_t> kUnitCodes[] = {
    {1, 0},    {2, 1},    {3, 2},    {4, 3},    {5, 4},    {6, 5},    {7, 6},    {8, 7},
    {11, 8},   {12, 9},   {14, 10},  {237, 11}, {32, 12},  {33, 13},  {34, 14},  {35, 15},
    {15, 16},  {16, 17},  {17, 18},  {19, 19},  {24, 20},  {26, 21},  {28, 22},  {131, 23},
    {136, 24}, {138, 25}, {20, 26},  {21, 27},  {114, 28}, {115, 29}, {116, 30}, {120, 31},
    {40, 32},  {41, 33},  {43, 34},  {46, 35},  {111, 36}, {112, 37}, {113, 38}, {124, 39},
    {44, 40},  {45, 41},  {47, 42},  {48, 43},  {49, 44},  {60, 45},  {61, 46},  {62, 47},
    {63, 48},  {125, 49}, {70, 50},  {71, 51},  {72, 52},  {73, 53},  {74, 54},  {77, 55},
    {78, 56},  {80, 57},  {81, 58},  {82, 59},  {91, 60},  {92, 61},  {93, 62},  {94, 63},
    {95, 64},  {96, 65},  {97, 66},  {54, 67},  {55, 68},  {69, 69},  {89, 70},  {126, 71},
    {128, 72}, {164, 73}, {165, 74}, {57, 75},
};

constexpr std::array<uint8_t, 256> buildUnitLookup()
{
    std::array<uint8_t, 256> lookup{};
    for (auto &index : lookup)
        index = kUnitOther;
    for (const auto &[code, index] : kUnitCodes)
        lookup[code] = index;
    return lookup;
}

constexpr std::array<uint8_t, 256> kUnitLookup = buildUnitLookup();

constexpr int kValueTextLength = 9;

constexpr uint8_t kShortReplyDelimiter = 0x06;
constexpr uint8_t kLongReplyDelimiter = 0x86;

} // namespace

int unitIndexForCode(uint8_t code)
{
    return kUnitLookup[code];
}

std::optional<Command0Data> decodeCommand0(const uint8_t *rx, size_t length, ReplyFault *fault)
{
    const FoundReply found = findReply(rx, length, kShortReplyDelimiter);
    if (fault != nullptr)
        *fault = found.fault;
    if (!found.frame)
        return std::nullopt;
    return command0Data(found.frame->data.data(), found.frame->data.size());
}

Command3Info decodeCommand3(const uint8_t *rx, size_t length)
{
    Command3Info info;
    const FoundReply found = findReply(rx, length, kLongReplyDelimiter);
    info.fault = found.fault;
    if (!found.frame)
        return info;
    info.markerFound = true;
    // Variable k (1..4) when the byte count covers it: the loop current and
    // k unit/value groups after the status bytes.
    const Bytes &data = found.frame->data;
    const DynamicVariables dynamic = command3Data(data.data(), data.size());
    for (size_t k = 0; k < dynamic.variables.size(); ++k) {
        Variable var;
        var.number = static_cast<int>(k) + 1;
        var.unitIndex = unitIndexForCode(dynamic.variables[k].unitCode);
        var.valueText = formatValue(dynamic.variables[k].value);
        info.variables.push_back(std::move(var));
    }
    return info;
}

namespace {

// |v| rounded to `significant` digits: the digits without trailing zeros and
// the decimal exponent of the first one.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal decimalDigits(double v, int significant)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*e", significant - 1, std::fabs(v));
    Decimal d;
    const char *p = buf;
    for (; *p != 'e' && *p != '\0'; ++p) {
        if (*p != '.')
            d.digits.push_back(*p);
    }
    d.exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

// "1.5E10", "-2.5E-7": no "+" and no leading zeros in the exponent.
std::string scientificText(bool negative, const Decimal &d)
{
    std::string text = negative ? "-" : "";
    text += d.digits[0];
    if (d.digits.size() > 1) {
        text += '.';
        text += d.digits.substr(1);
    }
    text += 'E';
    text += std::to_string(d.exponent);
    return text;
}

} // namespace

std::string generalFloatText(double v)
{
    if (std::isnan(v))
        return "NAN";
    if (std::isinf(v))
        return v < 0 ? "-INF" : "INF";
    if (v == 0)
        return "0";

    // 15 significant digits, rounded once.
    const Decimal d = decimalDigits(v, 15);
    const std::string &digits = d.digits;
    const int exponent = d.exponent;

    std::string text = v < 0 ? "-" : "";
    if (exponent < 15 && exponent >= -5) {
        // Fixed notation: at most 15 digits before the point, and values
        // down to 0.00001.
        if (exponent >= 0) {
            const size_t intDigits = static_cast<size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                text += digits;
                text.append(intDigits - digits.size(), '0');
            } else {
                text += digits.substr(0, intDigits);
                text += '.';
                text += digits.substr(intDigits);
            }
        } else {
            text += "0.";
            text.append(static_cast<size_t>(-exponent - 1), '0');
            text += digits;
        }
    } else {
        text = scientificText(v < 0, d);
    }
    return text;
}

std::string formatValue(float v)
{
    const auto width = static_cast<size_t>(kValueTextLength);
    std::string text = generalFloatText(static_cast<double>(v));
    if (text.size() <= width)
        return text;
    // Cutting is fine while it drops fraction digits only; losing integer
    // digits or part of an exponent would change the magnitude.
    const bool scientific = text.find('E') != std::string::npos;
    if (!scientific && std::min(text.find('.'), text.size()) <= width) {
        text.resize(width);
        return text;
    }
    // As many significant digits as fit, rounded; rounding may lengthen the
    // exponent (9.99E9 -> 1E10), so each count is tried as a whole text.
    for (int significant = kValueTextLength; significant > 1; --significant) {
        text = scientificText(v < 0, decimalDigits(v, significant));
        if (text.size() <= width)
            return text;
    }
    return scientificText(v < 0, decimalDigits(v, 1));
}

} // namespace hart
