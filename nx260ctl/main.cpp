// nx260ctl: scripted configuration, profiles and HART reads from the command
// line. Everything but reading the arguments and the environment is in Ctl.
#include "Ctl.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const char *port = std::getenv("NX260_PORT");
    return nx260ctl::run(args, std::cout, std::cerr, port ? port : "");
}
