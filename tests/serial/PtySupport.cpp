// SPDX-License-Identifier: GPL-3.0-or-later
// The POSIX side of the test helpers: pseudo-terminal pairs and process probes.
#include "SerialTestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace SerialTest {

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        closeMaster();
        return;
    }
    char name[128] = {};
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        closeMaster();
        return;
    }
    m_slavePath = name;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_keeper >= 0)
        ::close(m_keeper);
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyPair::writeMaster(const void *data, size_t length, milliseconds timeout)
{
    const auto *p = static_cast<const uint8_t *>(data);
    const auto deadline = Clock::now() + timeout;
    while (length > 0) {
        const ssize_t n = ::write(m_master, p, length);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        pollfd pfd{m_master, POLLOUT, 0};
        poll(&pfd, 1, 50);
    }
    return true;
}

std::vector<uint8_t> PtyPair::readMaster(size_t count, milliseconds timeout)
{
    std::vector<uint8_t> out;
    const auto deadline = Clock::now() + timeout;
    uint8_t buf[4096];
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

std::vector<uint8_t> PtyPair::drainMaster(milliseconds quiet)
{
    std::vector<uint8_t> out;
    uint8_t buf[4096];
    for (;;) {
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(quiet.count())) <= 0 || !(pfd.revents & POLLIN))
            break;
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

static int countEntries(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count - (std::string(path) == "/proc/self/fd" ? 1 : 0); // the DIR's own descriptor
}

int countOpenFds() { return countEntries("/proc/self/fd"); }
int countThreads() { return countEntries("/proc/self/task"); }

} // namespace SerialTest
