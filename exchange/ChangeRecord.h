// SPDX-License-Identifier: GPL-3.0-or-later
// The commissioning record: one JSON line per change made to a gateway, by
// the command-line tool or the window, appended to a file that outlives both.
// Each line goes out in one append-mode write, so a crash loses no finished
// line and never leaves half of one. No Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Profile.h"

namespace exchange {

struct ChangeEntry {
    std::string tool;      // "nx260ctl" or "nx260-config"
    std::string port;
    std::string gateway;   // the gateway's identification string
    std::string key;       // profile key: "rs485a.baud", "reset" ...
    Json before, asked, after; // null where unknown
    std::string result;    // "set", "read_back_different", "not_acknowledged" ...
};

// $XDG_STATE_HOME/nx260-config/changes.jsonl (~/.local/state when unset;
// %LOCALAPPDATA% on Windows).
std::string defaultRecordPath();

// "2026-12-10T05:30:12.345Z"
std::string utcNow();

// The line as written: time, tool, version, user, then the entry's fields.
Json recordLine(const ChangeEntry &entry);

// Appends one line, creating the file and its folder when needed. false,
// with *error, when it cannot be written.
bool appendRecord(const std::string &path, const Json &line, std::string *error);

// Every whole line of the record; a line that does not parse is skipped.
// nullopt, with *error, when the file exists but cannot be read.
std::optional<std::vector<Json>> readRecord(const std::string &path, std::string *error);

// The files beside the record that keep a gateway's settings from before a
// restore: <record folder>/undo/<port>-<time>.json
std::string undoProfilePath(const std::string &recordPath, const std::string &port);

// A port as part of a file name: "/dev/ttyUSB0" gives "dev_ttyUSB0".
std::string fileSafe(const std::string &port);

// Writes `text` to a new file (folder created when needed). false with *error.
bool writeNewFile(const std::string &path, const std::string &text, std::string *error);

} // namespace exchange
