// SPDX-License-Identifier: GPL-3.0-or-later
#include "PosixLine.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace SerialComm::detail {

bool posixApplyLine(int fd, const LineSettings &s)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;

    // Raw mode, as cfmakeraw() sets it, and nothing left from earlier users:
    // no echo, no signals, no CR/LF mapping, no output processing.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF
                                        | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    // Modem lines must not gate reception, and closing must not drop DTR.
    t.c_cflag |= CLOCAL | CREAD;

    switch (s.byteSize) {
    case TByteSize::_5: t.c_cflag |= CS5; break;
    case TByteSize::_6: t.c_cflag |= CS6; break;
    case TByteSize::_7: t.c_cflag |= CS7; break;
    case TByteSize::_8: t.c_cflag |= CS8; break;
    }
    switch (s.parity) {
    case TParity::None: break;
    case TParity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case TParity::Even: t.c_cflag |= PARENB; break;
    case TParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case TParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // There is no 1.5 stop bit setting here; two is the nearest.
    if (s.stopBits != TStopBits::_1)
        t.c_cflag |= CSTOPB;
    // Bytes failing the parity check arrive as NUL, which is the default
    // replacement character.
    if (s.parityCheck)
        t.c_iflag |= INPCK;
    if (s.outxXonXoffFlow)
        t.c_iflag |= IXON;
    if (s.inxXonXoffFlow)
        t.c_iflag |= IXOFF;
    if (s.outxCtsFlow || s.rtsControl == TRtsControl::RtsHandshake)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    // Non-blocking reads; the read thread does its own gap timing.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    // A zero rate would mean "hang up" to the driver: keep the current speed.
    if (s.baudRate != 0) {
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= BOTHER; // input speed follows the output speed
        t.c_ospeed = s.baudRate;
        t.c_ispeed = s.baudRate;
    }
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace SerialComm::detail
