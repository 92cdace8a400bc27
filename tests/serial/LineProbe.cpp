// SPDX-License-Identifier: GPL-3.0-or-later
// termios2 access for the tests; <asm/termbits.h> keeps to itself.
#include "SerialTestSupport.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace SerialTest {

bool readLineState(int fd, LineState &state)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    state.ispeed = t.c_ispeed;
    state.ospeed = t.c_ospeed;
    state.iflag = t.c_iflag;
    state.oflag = t.c_oflag;
    state.cflag = t.c_cflag;
    state.lflag = t.c_lflag;
    state.vstart = t.c_cc[VSTART];
    state.vstop = t.c_cc[VSTOP];
    state.vmin = t.c_cc[VMIN];
    state.vtime = t.c_cc[VTIME];
    return true;
}

bool setLineSpeed(int fd, uint32_t baud)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

unsigned cbaudMask() { return CBAUD; }
unsigned botherValue() { return BOTHER; }

} // namespace SerialTest

namespace SerialTest {

bool readLineView(int fd, LineView &view)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    view.baud = t.c_ospeed;
    view.bits = ((t.c_cflag & PARODD) ? LineParityOdd : 0u) | ((t.c_cflag & CMSPAR) ? LineStickParity : 0u)
                | ((t.c_cflag & CSTOPB) ? LineTwoStopBits : 0u) | ((t.c_cflag & CRTSCTS) ? LineCtsFlow : 0u)
                | ((t.c_iflag & IXON) ? LineXonOutput : 0u) | ((t.c_iflag & IXOFF) ? LineXonInput : 0u)
                | ((t.c_iflag & INPCK) ? LineParityCheck : 0u);
    view.raw = (t.c_cflag & (CLOCAL | CREAD | HUPCL)) == (CLOCAL | CREAD)
               && (t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) == 0
               && (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | BRKINT | PARMRK)) == 0
               && (t.c_oflag & OPOST) == 0 && t.c_cc[VMIN] == 0 && t.c_cc[VTIME] == 0;
    view.xonChar = t.c_cc[VSTART];
    view.xoffChar = t.c_cc[VSTOP];
    return true;
}

} // namespace SerialTest
