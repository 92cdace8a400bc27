// SPDX-License-Identifier: GPL-3.0-or-later
// The one table between the gateway's settings and the form's controls: the
// decoders' results, profiles and the tests all go through it.
#pragma once

#include <QString>

#include <map>
#include <optional>
#include <span>
#include <string>

#include "Settings.h"

class QWidget;

struct SettingControl {
    const char *key;     // profile member, as in the profile file: "system.rs485a.baud"
    QString control;     // the control's object name
    enum Kind { Choice, Number } kind;
    int bias;            // value = item index + bias (preamble counts start at 4)
    std::optional<int> &(*field)(exchange::GatewaySettings &);
    // The gateway reports it: false for a setting the form can only send, whose
    // box therefore says nothing about the gateway and is not read back.
    bool reported = true;
};

// In the order the replies decode them: system parameters, then the
// instrument rows.
std::span<const SettingControl> settingControls();

// Shows every present field in its control. A Number field shows its text
// from `texts` when given there (a reply's characters as they stand), else
// the number. A choice outside the list leaves the box with no selection.
void showSettings(QWidget &form, const exchange::GatewaySettings &settings,
                  const std::map<std::string, std::string> &texts = {});

// Reads the controls. An empty number box is left out; a box without a
// selection or a number box holding anything but 0..999 gives nullopt and
// names the field in `problem`.
std::optional<exchange::GatewaySettings> readSettings(const QWidget &form, QString *problem);
