// SPDX-License-Identifier: GPL-3.0-or-later
// Every command and every "hart" subcommand, listed once. A new command is a
// function `int name(Session &)` in its own file, declared and listed here
// (and described in the --help text of Options.cpp and the man page).
#include "Commands.h"
#include "Session.h"

#include <map>
#include <utility>
#include <vector>

namespace nx260ctl {

namespace commands {
// ConfigCommands.cpp
int info(Session &);
int show(Session &);
int set(Session &);
int reset(Session &);
int backup(Session &);
int restore(Session &);
int diff(Session &);
// Record.cpp
int record(Session &);
int report(Session &);
// HartCommands.cpp
int hartId(Session &);
int hartRead(Session &);
int hartSend(Session &);
int hartScan(Session &);
int hartInfo(Session &);
} // namespace commands

namespace {

// "hart id" ... "hart scan", in the order the usage line names them.
const std::vector<std::pair<std::string, Command>> kHartCommands = {
    {"id", commands::hartId},     {"info", commands::hartInfo}, {"read", commands::hartRead},
    {"send", commands::hartSend}, {"scan", commands::hartScan},
};

std::string hartNames(const std::string &separator)
{
    std::string names;
    for (const auto &entry : kHartCommands)
        names += (names.empty() ? "" : separator) + entry.first;
    return names;
}

int hart(Session &s)
{
    const auto &words = s.options().words;
    if (words.size() < 2)
        fail(Usage, "usage: nx260ctl hart " + hartNames("|") + " ...");
    for (const auto &[name, command] : kHartCommands)
        if (name == words[1])
            return command(s);
    fail(Usage, "hart " + words[1] + ": unknown command (" + hartNames(", ") + ")");
}

const std::map<std::string, Command> kCommands = {
    {"info", commands::info},       {"show", commands::show},     {"set", commands::set},
    {"reset", commands::reset},     {"backup", commands::backup}, {"restore", commands::restore},
    {"diff", commands::diff},       {"hart", hart},               {"record", commands::record},
    {"report", commands::report},
};

} // namespace

Command findCommand(const std::string &word)
{
    const auto it = kCommands.find(word);
    return it == kCommands.end() ? nullptr : it->second;
}

} // namespace nx260ctl
