// SPDX-License-Identifier: GPL-3.0-or-later
// nx260ctl: scripted configuration, profiles and HART reads from the command
// line. Everything but reading the arguments and the environment is in Ctl.
#include "Ctl.h"

#include <csignal>
#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
#ifndef _WIN32
    // A closed pipe is a write error to report, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    const char *port = std::getenv("NX260_PORT");
    return nx260ctl::run(args, std::cout, std::cerr, port ? port : "");
}
