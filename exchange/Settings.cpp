// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings.h"

namespace exchange {

namespace {

template <class T>
void take(std::optional<T> &into, const std::optional<T> &from)
{
    if (from)
        into = from;
}

void take(PortSettings &into, const PortSettings &from)
{
    take(into.baud, from.baud);
    take(into.parity, from.parity);
    take(into.returnTime, from.returnTime);
}

} // namespace

GatewaySettings merged(const GatewaySettings &base, const GatewaySettings &over)
{
    GatewaySettings out = base;
    SystemSettings &s = out.system;
    take(s.mode, over.system.mode);
    take(s.address, over.system.address);
    take(s.rs485a, over.system.rs485a);
    take(s.rs485b, over.system.rs485b);
    take(s.interval, over.system.interval);
    take(s.channels, over.system.channels);
    for (size_t i = 0; i < out.instruments.size(); ++i) {
        InstrumentSettings &r = out.instruments[i];
        const InstrumentSettings &o = over.instruments[i];
        take(r.mode, o.mode);
        take(r.type, o.type);
        take(r.preambles, o.preambles);
        take(r.interval, o.interval);
    }
    return out;
}

} // namespace exchange
