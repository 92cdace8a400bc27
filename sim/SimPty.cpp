// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimPty.h"

#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

std::string errnoText(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool openPty(Pty& pty, std::string* error)
{
    auto fail = [&](const char* what) {
        const int err = errno;
        closeFd(pty.slave);
        closeFd(pty.master);
        if (error)
            *error = errnoText(what, err);
        return false;
    };
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0)
        return fail("posix_openpt");
    if (::grantpt(pty.master) != 0)
        return fail("grantpt");
    if (::unlockpt(pty.master) != 0)
        return fail("unlockpt");
    char name[PATH_MAX];
    if (::ptsname_r(pty.master, name, sizeof name) != 0)
        return fail("ptsname_r");
    pty.path = name;
    pty.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0)
        return fail("open pty slave");
    // Raw from the start, so a client that does not configure the line
    // (cat, screen) gets no echo and no newline translation.
    termios tio{};
    if (::tcgetattr(pty.slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(pty.slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(pty.master, F_GETFL);
    if (flags < 0 || ::fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    return true;
}

bool placeLink(const std::string& link, const std::string& target, std::string* error)
{
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error)
            *error = link + " exists and is not a symbolic link";
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string tmp = link + ".new." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        if (error)
            *error = errnoText(("symlink " + link).c_str(), errno);
        return false;
    }
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        if (error)
            *error = errnoText(("rename to " + link).c_str(), err);
        return false;
    }
    return true;
}

void removeLinkIfOurs(const std::string& link, const std::string& target)
{
    if (link.empty() || target.empty())
        return;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

bool openLinkedPty(Pty& pty, int& stopFd, const std::string& link, std::string& linkTarget, std::string* error)
{
    stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0) {
        if (error)
            *error = errnoText("eventfd", errno);
        return false;
    }
    if (!openPty(pty, error)) {
        closeFd(stopFd);
        return false;
    }
    if (!link.empty()) {
        if (!placeLink(link, pty.path, error)) {
            closeFd(pty.master);
            closeFd(pty.slave);
            closeFd(stopFd);
            return false;
        }
        linkTarget = pty.path;
    }
    return true;
}

} // namespace sim
