// SPDX-License-Identifier: GPL-3.0-or-later
// The HART common table of engineering unit codes: every code a field device
// may report, with its usual symbol and its full name. The window's unit boxes
// show a fixed 77-item subset (HartReplies.h); everything else that names a
// unit (traffic annotations, the command-line tool) uses this table.
#pragma once

#include <cstdint>

namespace hart {

struct UnitInfo {
    uint8_t code;
    const char *symbol; // short, ASCII where the usual symbol allows ("kg/h", "degC")
    const char *name;   // full name as the HART table gives it ("kilograms per hour")
};

// The table entry for a code, or nullptr for a code the table does not define.
const UnitInfo *unitInfo(uint8_t code);

// Symbol and name for any code: undefined codes give "unit N" / "unit code N".
const char *unitSymbol(uint8_t code);
const char *unitName(uint8_t code);

} // namespace hart
