// SPDX-License-Identifier: GPL-3.0-or-later
// <asm/termbits.h> for the speed as a number; must not see <termios.h>.
#include "LineFraming.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

bool readLineFraming(int fd, LineFraming& out)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    out.baud = static_cast<int>(t.c_ospeed);
    const bool parity = (t.c_cflag & PARENB) != 0 || (t.c_iflag & INPCK) != 0;
    out.parity = !parity ? 0 : (t.c_cflag & PARODD) != 0 ? 1 : 2;
    return true;
}

} // namespace sim
