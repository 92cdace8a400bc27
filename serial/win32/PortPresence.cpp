// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: a COM port is there while its DOS device name is; serial drivers
// list their ports under HARDWARE\DEVICEMAP\SERIALCOMM as they come and go,
// so a change there is the notice to look again.
#include "../PortPresence.h"
#include "../net/NetName.h"
#include "ComName.h"
#include "Events.h"

namespace SerialComm {

namespace {

// "COM7" of "\\.\COM7" or "COM7".
std::wstring dosName(const std::wstring &path)
{
    return path.rfind(L"\\\\.\\", 0) == 0 ? path.substr(4) : path;
}

} // namespace

PortIdentity portIdentity(const std::string &name)
{
    PortIdentity id;
    if (!isNetworkPortName(name))
        id.path = name;
    return id;
}

std::string presentPath(const PortIdentity &identity)
{
    if (identity.path.empty())
        return {};
    const std::wstring device = detail::widen(detail::devicePathFor(identity.path));
    wchar_t target[512];
    if (QueryDosDeviceW(dosName(device).c_str(), target, 512) != 0)
        return identity.path;
    // Not every driver (nor Wine) lists its ports as DOS devices: a port that
    // opens for no access, or is held by another program, is there too.
    HANDLE h = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    detail::win32::closeHandle(h);
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? std::string() : identity.path;
}

DeviceEvents::DeviceEvents(const PortIdentity &identity) : m_identity(identity)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP", 0, KEY_NOTIFY, &key) != ERROR_SUCCESS)
        return;
    m_udev = key;
    m_monitor = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_monitor)
        watchFolders();
}

DeviceEvents::~DeviceEvents()
{
    if (m_udev)
        RegCloseKey(static_cast<HKEY>(m_udev));
    HANDLE event = m_monitor;
    detail::win32::closeHandle(event);
}

// Arms the one-shot change notice (SERIALCOMM itself may not exist yet).
void DeviceEvents::watchFolders()
{
    const LONG armed = RegNotifyChangeKeyValue(static_cast<HKEY>(m_udev), TRUE,
                                               REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                               static_cast<HANDLE>(m_monitor), TRUE);
    m_fd = armed == ERROR_SUCCESS ? 0 : -1;
}

void DeviceEvents::drain()
{
    if (m_fd >= 0)
        watchFolders();
}

bool DeviceEvents::wait(int ms)
{
    if (m_fd < 0)
        return false;
    if (WaitForSingleObject(static_cast<HANDLE>(m_monitor), ms < 0 ? INFINITE : DWORD(ms)) != WAIT_OBJECT_0)
        return false;
    drain();
    return true;
}

} // namespace SerialComm
