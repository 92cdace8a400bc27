// SPDX-License-Identifier: GPL-3.0-or-later
// Network ports on POSIX sockets: a non-blocking TCP connection that the
// tty backend drives like a line, raw or with Telnet/RFC 2217 framing.
#include "../posix/StreamTransport.h"
#include "NetSession.h"

namespace SerialComm::detail {

namespace {

class NetTransport final : public StreamTransport {
public:
    OpenResult open(const std::string &name, int &fd) override { return m_session.open(name, fd); }

    bool applyLineSettings(int, const LineSettings &settings) override
    {
        return m_session.applyLineSettings(settings);
    }

    const std::vector<uint8_t> &encode(const uint8_t *data, size_t length) override
    {
        return m_session.encode(data, length);
    }

    ssize_t send(int fd, const uint8_t *data, size_t length) override
    {
        std::lock_guard lock(m_session.sendMutex());
        return net::sendSome(fd, data, length);
    }

    size_t received(int, uint8_t *data, size_t length) override { return m_session.received(data, length); }

    void setReaderActive(bool active) override { m_session.setReaderActive(active); }

private:
    NetSession m_session;
};

} // namespace

std::unique_ptr<PortBackend> createNetPortBackend()
{
    return createStreamPortBackend(std::make_unique<NetTransport>());
}

} // namespace SerialComm::detail
