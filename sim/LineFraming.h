// SPDX-License-Identifier: GPL-3.0-or-later
// How the client set up the simulated line: a pseudo-terminal carries no
// bits, so a client at the wrong baud rate or parity is detected from the
// settings it made, as a real UART would detect it from garbled frames.
// The pty driver forces 8 data bits and clears PARENB; what stays is the
// input parity check (INPCK) a MODBUS master sets with parity, and PARODD.
#pragma once

namespace sim {

struct LineFraming {
    int baud = 0;
    int parity = 0; // 0 none, 1 odd, 2 even
};

// false when the settings cannot be read.
bool readLineFraming(int fd, LineFraming& out);

} // namespace sim
