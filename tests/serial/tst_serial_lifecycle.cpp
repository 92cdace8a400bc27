// Opening, closing and losing the port: failures and their messages,
// exclusivity, hang-up, leaks, and events after the component is gone.
#include "PortBackend.h"
#include "SerialTestSupport.h"
#include "../ThreadCpu.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace SerialComm;
using namespace SerialTest;

namespace {

// Opens and expects the named failure; returns the errno it carried.
int expectOpenFailure(TComm &comm, const char *message)
{
    try {
        comm.OpenPort();
    } catch (const ECommsError &e) {
        if (std::string(e.what()) != message)
            qWarning("unexpected message: \"%s\"", e.what());
        return std::string(e.what()) == message ? e.systemError() : -1;
    }
    return -2;
}

bool roundTrip(TComm &comm, TestOwnerQueue &queue, EventLog &log, PtyPair &pty)
{
    const size_t before = log.receivedBytes();
    if (!pty.writeMaster("in") || !queue.runUntil([&] { return log.receivedBytes() >= before + 2; }, milliseconds(3000)))
        return false;
    pty.drainMaster(milliseconds(0)); // whatever an earlier open left behind
    if (!comm.SendData("out", 3))
        return false;
    const auto got = pty.readMaster(3, milliseconds(3000));
    return got == std::vector<uint8_t>{'o', 'u', 't'};
}

// The real port behind a driver that refuses one speed, as a USB adapter
// refuses a rate it cannot make; a pseudo-terminal accepts every setting.
class RefusingDriver final : public detail::PortBackend {
public:
    static constexpr uint32_t kRefusedBaud = 7;

    detail::OpenResult open(const std::string &name) override { return m_port->open(name); }
    void purge(unsigned flags) override { m_port->purge(flags); }
    bool applyLineSettings(const detail::LineSettings &settings) override
    {
        if (settings.baudRate != kRefusedBaud)
            return m_port->applyLineSettings(settings);
        errno = EINVAL;
        return false;
    }
    void applyTimeouts(const detail::Timeouts &timeouts) override { m_port->applyTimeouts(timeouts); }
    bool createCloseEvent() override { return m_port->createCloseEvent(); }
    void signalClose() override { m_port->signalClose(); }
    bool closeSignalled() const override { return m_port->closeSignalled(); }
    void close() override { m_port->close(); }
    void enterThread(detail::ThreadRole role) override { m_port->enterThread(role); }
    bool startReading() override { return m_port->startReading(); }
    detail::ReadResult read(uint8_t *buffer, size_t capacity) override { return m_port->read(buffer, capacity); }
    void stopReading() override { m_port->stopReading(); }
    void notifyRequest() override { m_port->notifyRequest(); }
    detail::WakeReason waitForRequest() override { return m_port->waitForRequest(); }
    detail::IoStatus write(const uint8_t *data, size_t length) override { return m_port->write(data, length); }

private:
    std::unique_ptr<detail::PortBackend> m_port = detail::createPortBackend();
};

} // namespace

class SerialLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_threads = countThreads(); }

    // Threads of the previous test may linger in /proc for a moment after
    // their join; counts taken as a baseline must not include them.
    void init() { QCOMPARE(settle(countThreads, m_threads, milliseconds(2000)), m_threads); }

    void openFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("error");
        QTest::newRow("missing device") << "/dev/nx260-no-such-port" << "Error opening serial port" << ENOENT;
        QTest::newRow("COM name without device") << "COM250" << "Error opening serial port" << ENOENT;
        QTest::newRow("empty name") << "" << "Error opening serial port" << ENOENT;
        QTest::newRow("directory") << "/tmp" << "Error opening serial port" << EISDIR;
        QTest::newRow("regular file") << "<file>" << "File handle is not a comm handle " << ENOTTY;
        QTest::newRow("character device, not a tty") << "/dev/null" << "File handle is not a comm handle " << ENOTTY;
    }

    // Every failure leaves the component closed and able to open a real port.
    void openFailures()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(int, error);
        QTemporaryFile file;
        if (name == "<file>") {
            QVERIFY(file.open());
            name = file.fileName();
        }
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        comm.SetCommName(name.toStdString());

        const int fds = countOpenFds();
        QCOMPARE(expectOpenFailure(comm, message.toLatin1().constData()), error);
        QVERIFY(!comm.IsOpen());
        QCOMPARE(countOpenFds(), fds);
        QCOMPARE(queue->posted(), size_t(0));

        comm.SetCommName(pty.slavePath());
        comm.OpenPort();
        QVERIFY(comm.IsOpen());
        QVERIFY(roundTrip(comm, *queue, log, pty));
    }

    // A refused setting fails the open with the driver's reason and leaves
    // nothing held, so the next open with settings it takes succeeds.
    void refusedLineSettingsFailOpen()
    {
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        detail::setPortBackendFactory([] { return std::make_unique<RefusingDriver>(); });
        const auto restore = qScopeGuard([] { detail::setPortBackendFactory({}); });

        comm.SetBaudRate(RefusingDriver::kRefusedBaud);
        const int fds = countOpenFds();
        QCOMPARE(expectOpenFailure(comm, "Error opening serial port"), EINVAL);
        QVERIFY(!comm.IsOpen());
        QCOMPARE(countOpenFds(), fds);
        QCOMPARE(queue->posted(), size_t(0));

        comm.SetBaudRate(9600);
        comm.OpenPort();
        QVERIFY(roundTrip(comm, *queue, log, pty));
    }

    void secondOpenRaisesAndPortKeepsWorking()
    {
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        comm.OpenPort();
        QCOMPARE(expectOpenFailure(comm, "This serial port already opened"), 0);
        QVERIFY(comm.IsOpen());
        QVERIFY(roundTrip(comm, *queue, log, pty));
        QCOMPARE(log.hangups, 0);
    }

    void heldPortRefusesSecondComponent()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        EventLog log;
        TComm first(queue);
        TComm second(queue);
        configureForPty(first, pty);
        configureForPty(second, pty);
        log.attach(second, *queue);

        first.OpenPort();
        // The lock refuses it (EWOULDBLOCK); without root, TIOCEXCL already
        // refuses the open itself (EBUSY).
        const int error = expectOpenFailure(second, "Error opening serial port");
        QVERIFY2(error == EWOULDBLOCK || error == EBUSY, qPrintable(QString::number(error)));
        QVERIFY(!second.IsOpen());
        QVERIFY(first.IsOpen());

        first.ClosePort();
        second.OpenPort();
        QVERIFY(roundTrip(second, *queue, log, pty));
    }

    // The device going away is reported once; the reader ends and nothing
    // spins; writing afterwards neither reports again nor spins.
    void hangupOnceWithoutSpinning()
    {
        auto pty = std::make_unique<PtyPair>();
        QVERIFY(pty->ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        EventLog log;
        TComm comm(queue);
        log.attach(comm, *queue);
        configureForPty(comm, *pty);
        const int threads = countThreads();
        const auto others = ThreadCpu::snapshot(); // all but the component's threads
        comm.OpenPort();
        QVERIFY(queue->waitTasks(1, milliseconds(3000)));
        QCOMPARE(settle(countThreads, threads + 2, milliseconds(2000)), threads + 2);

        pty.reset(); // closes the master and the spare slave descriptor
        QVERIFY(queue->runUntil([&] { return log.hangups >= 1; }, milliseconds(3000)));
        QCOMPARE(settle(countThreads, threads + 1, milliseconds(3000)), threads + 1);

        const auto idleFrom = ThreadCpu::snapshot();
        queue->runFor(milliseconds(500));
        QCOMPARE(log.hangups, 1);
        const double cpu = ThreadCpu::usedSince(idleFrom, others);
        QVERIFY2(cpu < 0.03, qPrintable(QStringLiteral("%1 s of CPU after the hang-up").arg(cpu)));
        QVERIFY(comm.IsOpen());

        // The writer finds out on its first write and ends quietly.
        const auto deadline = Clock::now() + milliseconds(3000);
        while (comm.SendData("x", 1) && Clock::now() < deadline)
            queue->runFor(milliseconds(20));
        QVERIFY(!comm.SendData("x", 1));
        QCOMPARE(settle(countThreads, threads, milliseconds(3000)), threads);
        queue->runFor(milliseconds(200));
        QCOMPARE(log.hangups, 1);

        const auto started = Clock::now();
        comm.ClosePort();
        QVERIFY(Clock::now() - started < milliseconds(1000));
        QVERIFY(!comm.IsOpen());
    }

    // Closing while data pours in is not a lost device.
    void closeWhileReceivingIsQuiet()
    {
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        std::atomic<bool> stop{false};
        std::thread device([&] {
            const auto data = pattern(512);
            while (!stop.load())
                pty.writeMaster(data.data(), data.size(), milliseconds(20));
        });
        for (int i = 0; i < 10; ++i) {
            comm.OpenPort();
            queue->runFor(milliseconds(30));
            comm.ClosePort();
        }
        stop.store(true);
        device.join();
        queue->runFor(milliseconds(100));
        QVERIFY(log.receivedBytes() > 0);
        QCOMPARE(log.hangups, 0);
    }

    void noDescriptorOrThreadLeaks()
    {
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        const int fds = countOpenFds();
        const int threads = countThreads();

        for (int i = 0; i < 20; ++i) {
            comm.OpenPort();
            // An ended thread may linger in /proc for a moment after its join.
            QCOMPARE(settle(countThreads, threads + 2, milliseconds(2000)), threads + 2);
            if (i % 5 == 0)
                QVERIFY(roundTrip(comm, *queue, log, pty));
            else
                QVERIFY(comm.SendData("cycle", 5));
            comm.ClosePort();
            comm.ClosePort(); // closed: nothing happens
        }
        queue->runFor(milliseconds(50));
        pty.drainMaster(milliseconds(50));
        QCOMPARE(settle(countThreads, threads, milliseconds(2000)), threads);
        QCOMPARE(countOpenFds(), fds);
        QCOMPARE(log.hangups, 0);
    }

    // Destroying an open component closes the port; notifications still
    // queued for it are dropped instead of reaching a dead object.
    void destructionClosesAndSilences()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        const int fds = countOpenFds();
        const int threads = countThreads();
        int calls = 0;
        {
            TComm comm(queue);
            configureForPty(comm, pty);
            comm.OnReceiveData = [&](TComm *, const uint8_t *, uint16_t) { ++calls; };
            comm.OnSendDataEmpty = [&](TComm *) { ++calls; };
            comm.OpenPort();
            QVERIFY(pty.writeMaster("late"));
            const auto deadline = Clock::now() + milliseconds(3000);
            while (queue->posted() < 2 && Clock::now() < deadline)
                std::this_thread::sleep_for(milliseconds(10));
            QCOMPARE(queue->posted(), size_t(2));
        }
        QCOMPARE(settle(countThreads, threads, milliseconds(2000)), threads);
        QCOMPARE(countOpenFds(), fds);
        QVERIFY(queue->waitTasks(2, milliseconds(1000)));
        QCOMPARE(calls, 0);

        TComm again(queue);
        configureForPty(again, pty);
        again.OpenPort(); // the lock went with the old component
        QVERIFY(again.IsOpen());
    }

    // Handlers may close the port they are called for.
    void handlerMayClosePort()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        TComm comm(queue);
        configureForPty(comm, pty);
        int calls = 0;
        comm.OnReceiveData = [&](TComm *sender, const uint8_t *, uint16_t) {
            ++calls;
            sender->ClosePort();
        };
        comm.OpenPort();
        QVERIFY(pty.writeMaster("bye"));
        QVERIFY(queue->runUntil([&] { return calls > 0; }, milliseconds(3000)));
        QVERIFY(!comm.IsOpen());
        comm.OpenPort();
        QVERIFY(comm.IsOpen());
    }

    // A notification that cannot be posted ends the thread that posts it:
    // the writer's first SendDataEmpty fails, so sending is refused.
    void unpostableNotificationEndsThread()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        queue->setAccepting(false);
        TComm comm(queue);
        configureForPty(comm, pty);
        const int threads = countThreads();
        comm.OpenPort();
        QCOMPARE(settle(countThreads, threads + 1, milliseconds(3000)), threads + 1);
        QVERIFY(!comm.SendData("x", 1));
        QVERIFY(comm.IsOpen());
        comm.ClosePort();
        QCOMPARE(settle(countThreads, threads, milliseconds(2000)), threads);
    }

private:
    int m_threads = 0;
};

QTEST_GUILESS_MAIN(SerialLifecycleTest)
#include "tst_serial_lifecycle.moc"
