// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a whole: --help and --version, one gateway or many, and a
// result that did not reach its reader.
#include "Ctl.h"
#include "Gateways.h"
#include "Options.h"

#include <cerrno>
#include <cstring>

namespace nx260ctl {

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, const std::string &envPort)
{
    for (const std::string &a : args) {
        if (a == "--help" || a == "-h") {
            out << helpText();
            return Done;
        }
        if (a == "--version") {
            out << "nx260ctl " << NX260_VERSION << '\n';
            return Done;
        }
    }
    int code = Done;
    try {
        Options o = parseArgs(args, envPort);
        const bool readsRecord = !o.words.empty() && (o.words[0] == "record" || o.words[0] == "report");
        const std::vector<std::string> ports = readsRecord ? std::vector<std::string>{} : portList(o, envPort);
        if (ports.size() > 1 || (!o.portsFile.empty() && !readsRecord)) {
            code = runMany(o, ports, out, err);
        } else {
            o.port = ports.empty() ? std::string() : ports.front();
            code = runOne(o, out, err);
        }
    } catch (const Failure &f) {
        out.flush();
        err << "nx260ctl: " << f.message << std::endl;
        code = f.code;
    }
    // A result that did not reach its reader (full disk, closed pipe) is no result.
    errno = 0;
    out.flush();
    if (!out) {
        const int e = errno;
        err << "nx260ctl: cannot write the output" << (e ? std::string(" (") + std::strerror(e) + ")" : "") << std::endl;
        return OutputError;
    }
    return code;
}

} // namespace nx260ctl
