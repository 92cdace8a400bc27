// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded settings as the window applies them: one entry per control it
// sets, in table order. Shared by the decoder tests and the decoder fuzz
// target, which check the window-visible outcome of a reply.
#pragma once

#include "ConfigReplies.h"

#include <optional>
#include <string>
#include <vector>

namespace exchange {

struct FieldUpdate {
    enum Kind { ComboIndex, EditText };
    Kind kind;
    std::string control;
    int index = 0;
    std::string text;
};
struct ConfigDecodeResult {
    std::vector<FieldUpdate> updates;
    std::optional<std::string> error;
};

inline void combo(ConfigDecodeResult &r, const std::string &control, const std::optional<int> &v, int bias = 0)
{
    if (v)
        r.updates.push_back({FieldUpdate::ComboIndex, control, *v - bias, {}});
}
inline void edit(ConfigDecodeResult &r, const std::string &control, const std::optional<std::string> &t)
{
    if (t)
        r.updates.push_back({FieldUpdate::EditText, control, 0, *t});
}

inline ConfigDecodeResult flat(const SystemReply &d)
{
    ConfigDecodeResult r;
    const SystemSettings &s = d.settings;
    combo(r, "MODEL", s.mode);
    edit(r, "Edit14", d.addressText);
    combo(r, "BOA", s.rs485a.baud);
    combo(r, "JIAOA", s.rs485a.parity);
    combo(r, "BOB", s.rs485b.baud);
    combo(r, "JIAOB", s.rs485b.parity);
    combo(r, "DTMA", s.rs485a.returnTime);
    combo(r, "DTMB", s.rs485b.returnTime);
    edit(r, "RTD", d.intervalText);
    r.error = d.error;
    return r;
}

inline ConfigDecodeResult flat(const InstrumentReply &d)
{
    ConfigDecodeResult r;
    for (size_t i = 0; i < d.rows.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        combo(r, "SBZHU" + n, d.rows[i].mode);
        combo(r, "NEIXING" + n, d.rows[i].type);
        combo(r, "QIADF" + n, d.rows[i].preambles, kPreamblesMin);
        edit(r, "DTM" + n, d.intervalText[i]);
    }
    r.error = d.error;
    return r;
}

} // namespace exchange
