// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a local port again after it went away (a USB adapter unplugged and
// plugged back), woken by the kernel's device events instead of a scan.
#pragma once

#include <string>

namespace SerialComm {

// Where a port can come back: the path it was opened by and, for a USB
// adapter, its /dev/serial/by-id link, which keeps its name when the
// adapter returns under another /dev/ttyUSBn.
struct PortIdentity {
    std::string path;
    std::string byId; // empty when the device has none
};

// Taken while the port is (or was just) present. Network names have no
// identity: the result is empty.
PortIdentity portIdentity(const std::string &name);
// The path to open for `identity` now, or "" while the device is absent.
std::string presentPath(const PortIdentity &identity);

// Device events that may mean the port is back: from the udev monitor where
// udev runs, and from inotify on the port's folder and /dev/serial/by-id;
// on Windows, changes to the device map, where serial drivers list their ports.
// fd() becomes readable on an event; drain() takes the events off.
class DeviceEvents {
public:
    explicit DeviceEvents(const PortIdentity &identity);
    ~DeviceEvents();
    DeviceEvents(const DeviceEvents &) = delete;
    DeviceEvents &operator=(const DeviceEvents &) = delete;

    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void drain();
    // Waits up to `ms` milliseconds (-1: no limit) for an event; true when one came.
    bool wait(int ms);

private:
    void watchFolders();

    PortIdentity m_identity;
    int m_fd = -1;      // epoll set of the sources below (Windows: 0 while watching)
    int m_inotify = -1;
    void *m_udev = nullptr;    // Windows: the device map's registry key
    void *m_monitor = nullptr; // Windows: the event its changes signal
};

} // namespace SerialComm
