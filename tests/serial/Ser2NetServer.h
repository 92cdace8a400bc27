// SPDX-License-Identifier: GPL-3.0-or-later
// A real ser2net serving one device raw and with RFC 2217, each on its own
// loopback port, started and stopped by its owner (tests and benchmarks).
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace SerialTest {

inline const char *const Ser2NetPath = "/usr/sbin/ser2net";

inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Listening, seen in the kernel's socket table: a test connection would
// make ser2net open the device and keep it busy for a moment.
inline bool listening(int port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if ((address + ' ').find(local) != std::string::npos && state == "0A")
            return true;
    }
    return false;
}

// ser2net serving `device` raw and with RFC 2217, each on its own port.
class Ser2Net {
public:
    explicit Ser2Net(const std::string &device, int rawPort = freePort(), int rfcPort = freePort())
        : m_raw(rawPort), m_rfc(rfcPort)
    {
        const std::string config = "connection: &raw#  accepter: tcp,127.0.0.1," + std::to_string(m_raw)
                                   + "#  connector: serialdev," + device + ",9600n81,local#"
                                   + "connection: &rfc#  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                                   + std::to_string(m_rfc) + "#  connector: serialdev," + device + ",9600n81,local#";
        // ser2net removes its pid file when it ends: give it one of its own.
        char dir[] = "/tmp/nx-ser2net.XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            return;
        m_dir = dir;
        std::vector<std::string> args = {Ser2NetPath, "-n", "-u", "-P", m_dir + "/pid", "-Y", config};
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, Ser2NetPath, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 100 && m_pid > 0 && !(listening(m_raw) && listening(m_rfc)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Ser2Net()
    {
        kill(SIGTERM);
        if (!m_dir.empty()) {
            ::unlink((m_dir + "/pid").c_str());
            ::rmdir(m_dir.c_str());
        }
    }

    bool ok() const { return m_pid > 0 && listening(m_raw) && listening(m_rfc); }
    int rawPort() const { return m_raw; }
    int rfcPort() const { return m_rfc; }
    std::string raw() const { return "tcp://127.0.0.1:" + std::to_string(m_raw); }
    std::string rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc); }

    void kill(int signal)
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, signal);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_raw, m_rfc;
    std::string m_dir;
};

} // namespace SerialTest
