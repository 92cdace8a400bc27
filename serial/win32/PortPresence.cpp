// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: no device-event watch yet; a COM port is taken as present.
#include "../PortPresence.h"
#include "../net/NetName.h"

namespace SerialComm {

PortIdentity portIdentity(const std::string &name)
{
    PortIdentity id;
    if (!isNetworkPortName(name))
        id.path = name;
    return id;
}

std::string presentPath(const PortIdentity &identity)
{
    return identity.path;
}

DeviceEvents::DeviceEvents(const PortIdentity &identity) : m_identity(identity) {}
DeviceEvents::~DeviceEvents() = default;
void DeviceEvents::watchFolders() {}
void DeviceEvents::drain() {}
bool DeviceEvents::wait(int)
{
    return false;
}

} // namespace SerialComm
