// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartUnits.h"

#include <array>
#include <string>

namespace hart {

namespace {

constexpr UnitInfo kUnits[] = {
    {1, "inH2O@68F", "inches of water at 68 degrees F"},
    {2, "inHg@0C", "inches of mercury at 0 degrees C"},
    {3, "ftH2O@68F", "feet of water at 68 degrees F"},
    {4, "mmH2O@68F", "millimeters of water at 68 degrees F"},
    {5, "mmHg@0C", "millimeters of mercury at 0 degrees C"},
    {6, "psi", "pounds per square inch"},
    {7, "bar", "bars"},
    {8, "mbar", "millibars"},
    {9, "g/cm2", "grams per square centimeter"},
    {10, "kg/cm2", "kilograms per square centimeter"},
    {11, "Pa", "pascals"},
    {12, "kPa", "kilopascals"},
    {13, "torr", "torr"},
    {14, "atm", "atmospheres"},
    {15, "ft3/min", "cubic feet per minute"},
    {16, "gal/min", "gallons per minute"},
    {17, "L/min", "liters per minute"},
    {18, "impgal/min", "imperial gallons per minute"},
    {19, "m3/h", "cubic meters per hour"},
    {20, "ft/s", "feet per second"},
    {21, "m/s", "meters per second"},
    {22, "gal/s", "gallons per second"},
    {23, "Mgal/d", "million gallons per day"},
    {24, "L/s", "liters per second"},
    {25, "ML/d", "million liters per day"},
    {26, "ft3/s", "cubic feet per second"},
    {27, "ft3/d", "cubic feet per day"},
    {28, "m3/s", "cubic meters per second"},
    {29, "m3/d", "cubic meters per day"},
    {30, "impgal/h", "imperial gallons per hour"},
    {31, "impgal/d", "imperial gallons per day"},
    {32, "degC", "degrees Celsius"},
    {33, "degF", "degrees Fahrenheit"},
    {34, "degR", "degrees Rankine"},
    {35, "K", "kelvin"},
    {36, "mV", "millivolts"},
    {37, "ohm", "ohms"},
    {38, "Hz", "hertz"},
    {39, "mA", "milliamperes"},
    {40, "gal", "gallons"},
    {41, "L", "liters"},
    {42, "impgal", "imperial gallons"},
    {43, "m3", "cubic meters"},
    {44, "ft", "feet"},
    {45, "m", "meters"},
    {46, "bbl", "barrels"},
    {47, "in", "inches"},
    {48, "cm", "centimeters"},
    {49, "mm", "millimeters"},
    {50, "min", "minutes"},
    {51, "s", "seconds"},
    {52, "h", "hours"},
    {53, "d", "days"},
    {54, "cSt", "centistokes"},
    {55, "cP", "centipoise"},
    {56, "uS", "microsiemens"},
    {57, "%", "percent"},
    {58, "V", "volts"},
    {59, "pH", "pH"},
    {60, "g", "grams"},
    {61, "kg", "kilograms"},
    {62, "t", "metric tons"},
    {63, "lb", "pounds"},
    {64, "STon", "short tons"},
    {65, "LTon", "long tons"},
    {66, "mS/cm", "millisiemens per centimeter"},
    {67, "uS/cm", "microsiemens per centimeter"},
    {68, "N", "newtons"},
    {69, "N m", "newton meters"},
    {70, "g/s", "grams per second"},
    {71, "g/min", "grams per minute"},
    {72, "g/h", "grams per hour"},
    {73, "kg/s", "kilograms per second"},
    {74, "kg/min", "kilograms per minute"},
    {75, "kg/h", "kilograms per hour"},
    {76, "kg/d", "kilograms per day"},
    {77, "t/min", "metric tons per minute"},
    {78, "t/h", "metric tons per hour"},
    {79, "t/d", "metric tons per day"},
    {80, "lb/s", "pounds per second"},
    {81, "lb/min", "pounds per minute"},
    {82, "lb/h", "pounds per hour"},
    {83, "lb/d", "pounds per day"},
    {84, "STon/min", "short tons per minute"},
    {85, "STon/h", "short tons per hour"},
    {86, "STon/d", "short tons per day"},
    {87, "LTon/h", "long tons per hour"},
    {88, "LTon/d", "long tons per day"},
    {89, "Dth", "deka therms"},
    {90, "SGU", "specific gravity units"},
    {91, "g/cm3", "grams per cubic centimeter"},
    {92, "kg/m3", "kilograms per cubic meter"},
    {93, "lb/gal", "pounds per gallon"},
    {94, "lb/ft3", "pounds per cubic foot"},
    {95, "g/mL", "grams per milliliter"},
    {96, "kg/L", "kilograms per liter"},
    {97, "g/L", "grams per liter"},
    {98, "lb/in3", "pounds per cubic inch"},
    {99, "STon/yd3", "short tons per cubic yard"},
    {100, "degTw", "degrees Twaddell"},
    {101, "degBx", "degrees Brix"},
    {102, "degBaum hv", "degrees Baume heavy"},
    {103, "degBaum lt", "degrees Baume light"},
    {104, "degAPI", "degrees API"},
    {105, "%sol/wt", "percent solids per weight"},
    {106, "%sol/vol", "percent solids per volume"},
    {107, "degBall", "degrees Balling"},
    {108, "proof/vol", "proof per volume"},
    {109, "proof/mass", "proof per mass"},
    {110, "bush", "bushels"},
    {111, "yd3", "cubic yards"},
    {112, "ft3", "cubic feet"},
    {113, "in3", "cubic inches"},
    {114, "in/s", "inches per second"},
    {115, "in/min", "inches per minute"},
    {116, "ft/min", "feet per minute"},
    {117, "deg/s", "degrees per second"},
    {118, "rev/s", "revolutions per second"},
    {119, "rpm", "revolutions per minute"},
    {120, "m/h", "meters per hour"},
    {121, "Nm3/h", "normal cubic meters per hour"},
    {122, "NL/h", "normal liters per hour"},
    {123, "SCFM", "standard cubic feet per minute"},
    {124, "bbl liq", "liquid barrels"},
    {125, "oz", "ounces"},
    {126, "ft lbf", "foot pounds force"},
    {127, "kW", "kilowatts"},
    {128, "kWh", "kilowatt hours"},
    {129, "hp", "horsepower"},
    {130, "ft3/h", "cubic feet per hour"},
    {131, "m3/min", "cubic meters per minute"},
    {132, "bbl/s", "barrels per second"},
    {133, "bbl/min", "barrels per minute"},
    {134, "bbl/h", "barrels per hour"},
    {135, "bbl/d", "barrels per day"},
    {136, "gal/h", "gallons per hour"},
    {137, "impgal/s", "imperial gallons per second"},
    {138, "L/h", "liters per hour"},
    {139, "ppm", "parts per million"},
    {140, "Mcal/h", "megacalories per hour"},
    {141, "MJ/h", "megajoules per hour"},
    {142, "Btu/h", "British thermal units per hour"},
    {143, "deg", "degrees"},
    {144, "rad", "radians"},
    {145, "inH2O@60F", "inches of water at 60 degrees F"},
    {146, "ug/L", "micrograms per liter"},
    {147, "ug/m3", "micrograms per cubic meter"},
    {148, "%Cs", "percent consistency"},
    {149, "vol%", "volume percent"},
    {150, "%StmQual", "percent steam quality"},
    {151, "ftin16", "feet in sixteenths"},
    {152, "ft3/lb", "cubic feet per pound"},
    {153, "pF", "picofarads"},
    {154, "mL/L", "milliliters per liter"},
    {155, "uL/L", "microliters per liter"},
    {160, "%Plato", "percent Plato"},
    {161, "%LEL", "percent lower explosion level"},
    {162, "Mcal", "megacalories"},
    {163, "kohm", "kilohms"},
    {164, "MJ", "megajoules"},
    {165, "Btu", "British thermal units"},
    {166, "Nm3", "normal cubic meters"},
    {167, "NL", "normal liters"},
    {168, "SCF", "standard cubic feet"},
    {169, "ppb", "parts per billion"},
    {170, "cmH2O@4C", "centimeters of water at 4 degrees C"},
    {171, "mH2O@4C", "meters of water at 4 degrees C"},
    {172, "cmHg@0C", "centimeters of mercury at 0 degrees C"},
    {173, "psf", "pounds per square foot"},
    {174, "hPa", "hectopascals"},
    {175, "psia", "pounds per square inch absolute"},
    {176, "kg/m2", "kilograms per square meter"},
    {177, "ftH2O@4C", "feet of water at 4 degrees C"},
    {178, "ftH2O@60F", "feet of water at 60 degrees F"},
    {179, "mHg@0C", "meters of mercury at 0 degrees C"},
    {235, "gal/d", "gallons per day"},
    {236, "hL", "hectoliters"},
    {237, "MPa", "megapascals"},
    {238, "inH2O@4C", "inches of water at 4 degrees C"},
    {239, "mmH2O@4C", "millimeters of water at 4 degrees C"},
    {240, "mfr 240", "manufacturer specific"},
    {241, "mfr 241", "manufacturer specific"},
    {242, "mfr 242", "manufacturer specific"},
    {243, "mfr 243", "manufacturer specific"},
    {244, "mfr 244", "manufacturer specific"},
    {245, "mfr 245", "manufacturer specific"},
    {246, "mfr 246", "manufacturer specific"},
    {247, "mfr 247", "manufacturer specific"},
    {248, "mfr 248", "manufacturer specific"},
    {249, "mfr 249", "manufacturer specific"},
    {250, "not used", "not used"},
    {251, "none", "none"},
    {252, "unknown", "unknown"},
    {253, "special", "special"},
};

constexpr std::array<const UnitInfo *, 256> buildLookup()
{
    std::array<const UnitInfo *, 256> lookup{};
    for (const auto &u : kUnits)
        lookup[u.code] = &u;
    return lookup;
}

constexpr std::array<const UnitInfo *, 256> kLookup = buildLookup();

// Texts for undefined codes, made once so callers get stable pointers.
struct UndefinedTexts {
    std::array<std::string, 256> symbols, names;
    UndefinedTexts()
    {
        for (int c = 0; c < 256; ++c) {
            symbols[c] = "unit " + std::to_string(c);
            names[c] = "unit code " + std::to_string(c);
        }
    }
};

const UndefinedTexts &undefinedTexts()
{
    static const UndefinedTexts texts;
    return texts;
}

} // namespace

const UnitInfo *unitInfo(uint8_t code) { return kLookup[code]; }

const char *unitSymbol(uint8_t code)
{
    if (const UnitInfo *u = kLookup[code])
        return u->symbol;
    return undefinedTexts().symbols[code].c_str();
}

const char *unitName(uint8_t code)
{
    if (const UnitInfo *u = kLookup[code])
        return u->name;
    return undefinedTexts().names[code].c_str();
}

} // namespace hart
