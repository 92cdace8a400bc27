// SPDX-License-Identifier: GPL-3.0-or-later
// The device end natively: a pseudo-terminal pair in the test process.
#include "SerialTestSupport.h"

#include <atomic>
#include <thread>

namespace SerialTest {

namespace {

class PtyLink final : public DeviceLink {
public:
    ~PtyLink() override { flood(false); }

    bool ok() const override { return m_pty && m_pty->ok(); }
    std::string portName() const override { return m_path; }
    bool write(const void *data, size_t length) override { return m_pty && m_pty->writeMaster(data, length); }
    std::vector<uint8_t> read(size_t count, milliseconds timeout) override
    {
        return m_pty ? m_pty->readMaster(count, timeout) : std::vector<uint8_t>{};
    }
    std::vector<uint8_t> drain(milliseconds quiet) override
    {
        return m_pty ? m_pty->drainMaster(quiet) : std::vector<uint8_t>{};
    }
    void hangUp() override
    {
        flood(false);
        m_pty.reset(); // closes the master and the spare slave descriptor
    }
    void flood(bool on) override
    {
        if (on && !m_flood.joinable() && m_pty) {
            m_stop.store(false);
            m_flood = std::thread([this] {
                const auto data = pattern(512);
                while (!m_stop.load())
                    m_pty->writeMaster(data.data(), data.size(), milliseconds(20));
            });
        } else if (!on && m_flood.joinable()) {
            m_stop.store(true);
            m_flood.join();
        }
    }
    bool lineState(LineView &view) override { return m_pty && readLineView(m_pty->slaveKeeper(), view); }
    bool setSpeed(uint32_t baud) override { return m_pty && setLineSpeed(m_pty->slaveKeeper(), baud); }

private:
    std::unique_ptr<PtyPair> m_pty = std::make_unique<PtyPair>();
    std::string m_path = m_pty->slavePath();
    std::thread m_flood;
    std::atomic<bool> m_stop{false};
};

} // namespace

std::unique_ptr<DeviceLink> openDeviceLink()
{
    return std::make_unique<PtyLink>();
}

} // namespace SerialTest
