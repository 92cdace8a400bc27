// SPDX-License-Identifier: GPL-3.0-or-later
// Plays the device for the serial behaviour tests of the Windows build under
// Wine: each "new" request creates a pseudo-terminal and maps it into the
// Wine prefix as a COM port (dosdevices/comN -> /dev/pts/M); the tests drive
// its master side over a loopback TCP connection (see PeerProtocol.h).
// Usage: nxserial-peer DOSDEVICES_DIR [FIRST_COM_NUMBER]; prints the port it
// listens on, serves one connection, removes its mappings and ends.
#include "PeerProtocol.h"
#include "SerialTestSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace SerialTest;

namespace {

struct Device {
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    std::string link;
    std::thread flood;
    std::atomic<bool> stop{false};

    void setFlood(bool on)
    {
        if (on && !flood.joinable() && pty) {
            stop.store(false);
            flood = std::thread([this] {
                const auto data = pattern(512);
                while (!stop.load())
                    pty->writeMaster(data.data(), data.size(), milliseconds(20));
            });
        } else if (!on && flood.joinable()) {
            stop.store(true);
            flood.join();
        }
    }
    ~Device()
    {
        setFlood(false);
        if (!link.empty())
            unlink(link.c_str());
    }
};

class Peer {
public:
    Peer(std::string dosdevices, int first) : m_dir(std::move(dosdevices)), m_next(first) {}

    std::string handle(const std::string &line)
    {
        std::istringstream in(line);
        std::string cmd;
        int id = 0;
        in >> cmd;
        if (cmd == "new")
            return create();
        in >> id;
        auto it = m_devices.find(id);
        if (it == m_devices.end())
            return "err no such device";
        Device &d = *it->second;
        if (cmd == "free") {
            m_devices.erase(it);
            return "ok";
        }
        if (cmd == "hangup") {
            d.setFlood(false);
            d.pty.reset();
            return "ok";
        }
        if (!d.pty)
            return "err hung up";
        if (cmd == "write") {
            std::string hex;
            std::vector<uint8_t> bytes;
            in >> hex;
            if (!fromHex(hex, bytes))
                return "err bad hex";
            return d.pty->writeMaster(bytes.data(), bytes.size()) ? "ok" : "err write";
        }
        if (cmd == "read") {
            size_t count = 0;
            long ms = 0;
            in >> count >> ms;
            return "ok " + toHex(d.pty->readMaster(count, milliseconds(ms)));
        }
        if (cmd == "drain") {
            long ms = 0;
            in >> ms;
            return "ok " + toHex(d.pty->drainMaster(milliseconds(ms)));
        }
        if (cmd == "flood") {
            int on = 0;
            in >> on;
            d.setFlood(on != 0);
            return "ok";
        }
        if (cmd == "line") {
            LineView v;
            if (!readLineView(d.pty->slaveKeeper(), v))
                return "err line";
            std::ostringstream out;
            out << "ok " << v.baud << ' ' << v.bits << ' ' << int(v.raw) << ' ' << int(v.xonChar) << ' '
                << int(v.xoffChar);
            return out.str();
        }
        if (cmd == "speed") {
            uint32_t baud = 0;
            in >> baud;
            return setLineSpeed(d.pty->slaveKeeper(), baud) ? "ok" : "err speed";
        }
        return "err unknown request";
    }

private:
    std::string create()
    {
        auto d = std::make_unique<Device>();
        if (!d->pty->ok())
            return "err no pseudo-terminal";
        const int n = m_next++;
        d->link = m_dir + "/com" + std::to_string(n);
        unlink(d->link.c_str());
        if (symlink(d->pty->slavePath().c_str(), d->link.c_str()) != 0) {
            d->link.clear();
            return std::string("err symlink: ") + std::strerror(errno);
        }
        m_devices[n] = std::move(d);
        return "ok " + std::to_string(n) + " COM" + std::to_string(n);
    }

    std::string m_dir;
    int m_next;
    std::map<int, std::unique_ptr<Device>> m_devices;
};

bool sendAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: nxserial-peer DOSDEVICES_DIR [FIRST_COM_NUMBER]\n");
        return 2;
    }
    Peer peer(argv[1], argc > 2 ? std::atoi(argv[2]) : 5);

    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (server < 0 || bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(server, 1) != 0
        || getsockname(server, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        std::perror("nxserial-peer: listen");
        return 1;
    }
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    const int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    close(server);
    if (client < 0)
        return 1;
    std::string buffer;
    char chunk[65536];
    for (;;) {
        const size_t eol = buffer.find('\n');
        if (eol != std::string::npos) {
            const std::string reply = peer.handle(buffer.substr(0, eol)) + "\n";
            buffer.erase(0, eol + 1);
            if (!sendAll(client, reply))
                break;
            continue;
        }
        const ssize_t n = recv(client, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    close(client);
    return 0;
}
