// SPDX-License-Identifier: GPL-3.0-or-later
// What the traffic monitor needs of the window it serves, and no more.
#pragma once

#include <QString>

class MonitorHost {
public:
    virtual ~MonitorHost() = default;
    // The open port, or before any open the one the window would open.
    virtual QString portName() const = 0;
    // Line settings of the open port, as "9600 8N1".
    virtual QString framing() const = 0;
    virtual bool portOpen() const = 0;
    // A reply is awaited, settling or waiting to be decoded.
    virtual bool exchangeBusy() const = 0;
    // Sends the HART dynamic-variables query as its button does; false when
    // it cannot be sent yet (no device identity read).
    virtual bool readHartVariables() = 0;
};
