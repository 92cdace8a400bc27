// SPDX-License-Identifier: GPL-3.0-or-later
#include "../PortPresence.h"
#include "../net/NetName.h"
#include "DeviceName.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef NX_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace SerialComm {

namespace {

namespace fs = std::filesystem;
const char *const ByIdFolder = "/dev/serial/by-id";

std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool isCharDevice(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

} // namespace

PortIdentity portIdentity(const std::string &name)
{
    PortIdentity id;
    if (isNetworkPortName(name))
        return id;
    id.path = detail::devicePathFor(name);
    const std::string device = realPath(id.path);
    std::error_code ec;
    if (device.empty() || !fs::is_directory(ByIdFolder, ec))
        return id;
    for (const auto &entry : fs::directory_iterator(ByIdFolder, ec)) {
        if (realPath(entry.path().string()) == device) {
            id.byId = entry.path().string();
            break;
        }
    }
    return id;
}

std::string presentPath(const PortIdentity &id)
{
    if (!id.byId.empty() && isCharDevice(id.byId))
        return id.byId;
    if (!id.path.empty() && isCharDevice(id.path))
        return id.path;
    return {};
}

DeviceEvents::DeviceEvents(const PortIdentity &identity) : m_identity(identity)
{
    m_fd = epoll_create1(EPOLL_CLOEXEC);
    if (m_fd < 0)
        return;
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        epoll_ctl(m_fd, EPOLL_CTL_ADD, m_inotify, &ev);
        watchFolders();
    }
#ifdef NX_HAVE_LIBUDEV
    // Without a running udev the monitor would stay silent: inotify alone then.
    if (::access("/run/udev/control", F_OK) == 0) {
        udev *u = udev_new();
        udev_monitor *mon = u ? udev_monitor_new_from_netlink(u, "udev") : nullptr;
        if (mon && udev_monitor_filter_add_match_subsystem_devtype(mon, "tty", nullptr) == 0
            && udev_monitor_enable_receiving(mon) == 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            epoll_ctl(m_fd, EPOLL_CTL_ADD, udev_monitor_get_fd(mon), &ev);
            m_udev = u;
            m_monitor = mon;
        } else {
            if (mon)
                udev_monitor_unref(mon);
            if (u)
                udev_unref(u);
        }
    }
#endif
}

DeviceEvents::~DeviceEvents()
{
#ifdef NX_HAVE_LIBUDEV
    if (m_monitor)
        udev_monitor_unref(static_cast<udev_monitor *>(m_monitor));
    if (m_udev)
        udev_unref(static_cast<udev *>(m_udev));
#endif
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_fd >= 0)
        ::close(m_fd);
}

// The port's folder, and the by-id folders, which udev removes with the last
// USB adapter and creates again with the next: watched anew after each event.
void DeviceEvents::watchFolders()
{
    const uint32_t mask = IN_CREATE | IN_ATTRIB | IN_MOVED_TO;
    if (!m_identity.path.empty())
        inotify_add_watch(m_inotify, fs::path(m_identity.path).parent_path().c_str(), mask);
    inotify_add_watch(m_inotify, "/dev", mask); // where /dev/serial itself appears
    inotify_add_watch(m_inotify, "/dev/serial", mask);
    inotify_add_watch(m_inotify, ByIdFolder, mask);
}

void DeviceEvents::drain()
{
    if (m_inotify >= 0) {
        alignas(inotify_event) char buffer[4096];
        while (::read(m_inotify, buffer, sizeof buffer) > 0) {
        }
        watchFolders(); // adding an existing watch only updates it
    }
#ifdef NX_HAVE_LIBUDEV
    if (m_monitor) {
        while (udev_device *d = udev_monitor_receive_device(static_cast<udev_monitor *>(m_monitor)))
            udev_device_unref(d);
    }
#endif
}

bool DeviceEvents::wait(int ms)
{
    if (m_fd < 0)
        return false;
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int n = ::poll(&p, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            drain();
        return n > 0;
    }
}

} // namespace SerialComm
