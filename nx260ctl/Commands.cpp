// SPDX-License-Identifier: GPL-3.0-or-later
// Every command and every "hart" subcommand, listed once. A new command is a
// function `int name(Session &)` in a file of its own (namespace commands)
// and one line in one of these lists; the list declares it and dispatches
// to it. Describe it in the --help text (Options.cpp) and the man page.
#include "Commands.h"
#include "Session.h"

#include <map>
#include <utility>
#include <vector>

// X(word, function)
#define NX260CTL_COMMANDS(X)                                                                                           \
    X("info", info)         /* ConfigCommands.cpp */                                                                   \
    X("show", show)                                                                                                    \
    X("set", set)                                                                                                      \
    X("reset", reset)                                                                                                  \
    X("backup", backup)                                                                                                \
    X("restore", restore)                                                                                              \
    X("diff", diff)                                                                                                    \
    X("record", record)     /* Record.cpp */                                                                           \
    X("report", report)                                                                                                \
    X("modbus", modbus)     /* ModbusCommands.cpp */

// "hart WORD", in the order the usage line names them.
#define NX260CTL_HART_COMMANDS(X)                                                                                      \
    X("id", hartId)         /* HartCommands.cpp */                                                                     \
    X("info", hartInfo)     /* HartInfo.cpp */                                                                         \
    X("read", hartRead)     /* HartCommands.cpp */                                                                     \
    X("send", hartSend)                                                                                                \
    X("scan", hartScan)

namespace nx260ctl {

namespace commands {
#define NX260CTL_DECLARE(word, function) int function(Session &);
NX260CTL_COMMANDS(NX260CTL_DECLARE)
NX260CTL_HART_COMMANDS(NX260CTL_DECLARE)
#undef NX260CTL_DECLARE
} // namespace commands

namespace {

#define NX260CTL_ENTRY(word, function) {word, commands::function},

const std::vector<std::pair<std::string, Command>> kHartCommands = {NX260CTL_HART_COMMANDS(NX260CTL_ENTRY)};

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

const std::map<std::string, Command> kCommands = {NX260CTL_COMMANDS(NX260CTL_ENTRY){"hart", hart}};

#undef NX260CTL_ENTRY

} // namespace

Command findCommand(const std::string &word)
{
    const auto it = kCommands.find(word);
    return it == kCommands.end() ? nullptr : it->second;
}

} // namespace nx260ctl
