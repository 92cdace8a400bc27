// SPDX-License-Identifier: GPL-3.0-or-later
#include "OpenHint.h"

#include <cerrno>
#include <string_view>

#ifdef _WIN32
#include "win32/ComName.h"
#else
#include "posix/DeviceName.h"
#endif

namespace SerialComm {

std::string openFailureHint(const ECommsError &error, const std::string &portName)
{
    std::string hint;
    auto add = [&hint](const std::string &line) { hint += (hint.empty() ? "" : "\n") + line; };

    const std::string device = detail::devicePathFor(portName);
    if (device != portName)
        add(portName + " is " + device + " on this system.");
    if (std::string_view(error.what()).starts_with("File handle is not a comm handle"))
        add("This is not a serial device; choose the gateway's serial port.");

    const int err = error.systemError();
#ifdef _WIN32
    if (err == 5 || err == 32) // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION
        add("Another program holds this port; close it and try again.");
#else
    if (err == EACCES || err == EPERM)
        add("Your user may not use serial ports: add it to the 'dialout' group "
            "(sudo usermod -aG dialout $USER), then log out and back in.");
    else if (err == EBUSY || err == EWOULDBLOCK)
        add("Another program holds this port; close it and try again.");
#endif
    return hint;
}

} // namespace SerialComm
