// Properties of TComm: constructor values, what reaches the driver on open,
// and which setters reapply the line settings to an open port.
#include "SerialTestSupport.h"
#include "posix/DeviceName.h"

#include <QtTest>

#include <termios.h>

using namespace SerialComm;
using namespace SerialTest;

namespace {

struct LineCase {
    const char *name;
    std::function<void(TComm &)> configure;
    unsigned cflagMask, cflagValue;
    unsigned iflagMask, iflagValue;
};

// A pseudo-terminal forces CS8 and clears PARENB whatever is asked, so data
// bits and parity enable cannot be read back here; PARODD and CMSPAR can.
constexpr unsigned FramingVisible = PARODD | CMSPAR | CSTOPB;

const std::vector<LineCase> &lineCases()
{
    static const std::vector<LineCase> cases = {
        {"8N1 with XON/XOFF both ways (constructor values)", [](TComm &) {},
         FramingVisible | CRTSCTS, 0, IXON | IXOFF | INPCK, IXON | IXOFF},
        {"7E1", [](TComm &c) { c.SetByteSize(TByteSize::_7); c.SetParity(TParity::Even); }, FramingVisible, 0, 0, 0},
        {"5O2", [](TComm &c) { c.SetByteSize(TByteSize::_5); c.SetParity(TParity::Odd); c.SetStopBits(TStopBits::_2); },
         FramingVisible, PARODD | CSTOPB, 0, 0},
        {"6 mark 1.5 (1.5 stop bits become 2)",
         [](TComm &c) { c.SetByteSize(TByteSize::_6); c.SetParity(TParity::Mark); c.SetStopBits(TStopBits::_1_5); },
         FramingVisible, PARODD | CMSPAR | CSTOPB, 0, 0},
        {"8 space 1", [](TComm &c) { c.SetParity(TParity::Space); }, FramingVisible, CMSPAR, 0, 0},
        {"no XON/XOFF", [](TComm &c) { c.SetOutx_XonXoffFlow(false); c.SetInx_XonXoffFlow(false); },
         0, 0, IXON | IXOFF, 0},
        {"XON/XOFF input only", [](TComm &c) { c.SetOutx_XonXoffFlow(false); }, 0, 0, IXON | IXOFF, IXOFF},
        {"XON/XOFF output only", [](TComm &c) { c.SetInx_XonXoffFlow(false); }, 0, 0, IXON | IXOFF, IXON},
        {"CTS output flow", [](TComm &c) { c.SetOutx_CtsFlow(true); }, CRTSCTS, CRTSCTS, 0, 0},
        {"RTS handshake", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, CRTSCTS, CRTSCTS, 0, 0},
        {"parity check", [](TComm &c) { c.SetParityCheck(true); }, 0, 0, INPCK | IGNPAR | PARMRK, INPCK},
    };
    return cases;
}

LineState stateOf(const PtyPair &pty)
{
    LineState s;
    if (!readLineState(pty.slaveKeeper(), s))
        qFatal("TCGETS2 failed on the pty");
    return s;
}

bool exchangeWorks(TComm &comm, TestOwnerQueue &queue, EventLog &log, PtyPair &pty)
{
    const size_t before = log.receivedBytes();
    if (!pty.writeMaster("ping"))
        return false;
    if (!queue.runUntil([&] { return log.receivedBytes() >= before + 4; }, milliseconds(3000)))
        return false;
    if (!comm.SendData("pong", 4))
        return false;
    const auto echoed = pty.readMaster(4, milliseconds(3000));
    return echoed == std::vector<uint8_t>{'p', 'o', 'n', 'g'};
}

} // namespace

class SerialPropertiesTest : public QObject {
    Q_OBJECT

private slots:
    void constructorValues()
    {
        TComm c(std::make_shared<TestOwnerQueue>());
        QCOMPARE(c.CommName(), std::string("COM2"));
        QCOMPARE(c.BaudRate(), 9600u);
        QCOMPARE(c.ParityCheck(), false);
        QCOMPARE(c.Outx_CtsFlow(), false);
        QCOMPARE(c.Outx_DsrFlow(), false);
        QCOMPARE(c.DtrControl(), TDtrControl::DtrEnable);
        QCOMPARE(c.DsrSensitivity(), false);
        QCOMPARE(c.TxContinueOnXoff(), true);
        QCOMPARE(c.Outx_XonXoffFlow(), true);
        QCOMPARE(c.Inx_XonXoffFlow(), true);
        QCOMPARE(c.ReplaceWhenParityError(), false);
        QCOMPARE(c.IgnoreNullChar(), false);
        QCOMPARE(c.RtsControl(), TRtsControl::RtsEnable);
        QCOMPARE(c.XonLimit(), uint16_t(500));
        QCOMPARE(c.XoffLimit(), uint16_t(500));
        QCOMPARE(c.ByteSize(), TByteSize::_8);
        QCOMPARE(c.Parity(), TParity::None);
        QCOMPARE(c.StopBits(), TStopBits::_1);
        QCOMPARE(c.XonChar(), char(0x11));
        QCOMPARE(c.XoffChar(), char(0x13));
        QCOMPARE(c.ReplacedChar(), char(0x00));
        QCOMPARE(c.ReadIntervalTimeout(), 100u);
        QCOMPARE(c.ReadTotalTimeoutMultiplier(), 0u);
        QCOMPARE(c.ReadTotalTimeoutConstant(), 0u);
        QCOMPARE(c.WriteTotalTimeoutMultiplier(), 0u);
        QCOMPARE(c.WriteTotalTimeoutConstant(), 0u);
        QVERIFY(!c.IsOpen());
    }

    void lineSettingsOnOpen_data()
    {
        QTest::addColumn<int>("index");
        for (size_t i = 0; i < lineCases().size(); ++i)
            QTest::newRow(lineCases()[i].name) << int(i);
    }

    // Whatever the port held before, open leaves it raw with exactly the
    // framing and flow control asked for.
    void lineSettingsOnOpen()
    {
        QFETCH(int, index);
        const LineCase &lc = lineCases()[size_t(index)];
        PtyPair pty;
        QVERIFY(pty.ok());
        auto queue = std::make_shared<TestOwnerQueue>();
        TComm comm(queue);
        comm.SetCommName(pty.slavePath());
        lc.configure(comm);
        comm.OpenPort();

        const LineState s = stateOf(pty);
        QCOMPARE(s.cflag & lc.cflagMask, lc.cflagValue);
        QCOMPARE(s.iflag & lc.iflagMask, lc.iflagValue);
        QCOMPARE(s.cflag & unsigned(CLOCAL | CREAD | HUPCL), unsigned(CLOCAL | CREAD));
        QCOMPARE(s.lflag & unsigned(ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
        QCOMPARE(s.iflag & unsigned(ICRNL | INLCR | IGNCR | ISTRIP | IXANY | BRKINT), 0u);
        QCOMPARE(s.oflag & unsigned(OPOST), 0u);
        QCOMPARE(int(s.vmin), 0);
        QCOMPARE(int(s.vtime), 0);
        QCOMPARE(s.ospeed, 9600u);
    }

    void xonXoffCharacters()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        TComm comm(std::make_shared<TestOwnerQueue>());
        comm.SetCommName(pty.slavePath());
        comm.SetXonChar('Q');
        comm.SetXoffChar('S');
        comm.OpenPort();
        QCOMPARE(int(stateOf(pty).vstart), int('Q'));
        QCOMPARE(int(stateOf(pty).vstop), int('S'));
        comm.SetXoffChar(0x7F); // reapplied while open
        QCOMPARE(int(stateOf(pty).vstop), 0x7F);
    }

    void baudRateWhileOpen_data()
    {
        QTest::addColumn<uint32_t>("baud");
        QTest::newRow("115200") << 115200u;
        QTest::newRow("56000 (no B-constant)") << 56000u;
        QTest::newRow("300") << 300u;
        QTest::newRow("250000") << 250000u;
        QTest::newRow("1200") << 1200u;
    }

    void baudRateWhileOpen()
    {
        QFETCH(uint32_t, baud);
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        comm.OpenPort();
        QCOMPARE(stateOf(pty).ospeed, 9600u);

        comm.SetBaudRate(baud);
        QCOMPARE(comm.BaudRate(), baud);
        const LineState s = stateOf(pty);
        QCOMPARE(s.ospeed, baud);
        QCOMPARE(s.ispeed, baud);
        QCOMPARE(s.cflag & cbaudMask(), botherValue());
        QVERIFY(exchangeWorks(comm, *queue, log, pty));
    }

    // An equal value must not touch the port: a speed changed behind the
    // component's back survives; a new value of any line property reapplies
    // everything.
    void equalValueDoesNothing()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        TComm comm(std::make_shared<TestOwnerQueue>());
        configureForPty(comm, pty);
        comm.OpenPort();
        QVERIFY(setLineSpeed(pty.slaveKeeper(), 4800));

        comm.SetBaudRate(9600);
        comm.SetByteSize(TByteSize::_8);
        comm.SetOutx_XonXoffFlow(false);
        comm.SetXonChar(0x11);
        comm.SetReadIntervalTimeout(100);
        QCOMPARE(stateOf(pty).ospeed, 4800u);

        comm.SetStopBits(TStopBits::_2);
        QCOMPARE(stateOf(pty).ospeed, 9600u);
        QCOMPARE(stateOf(pty).cflag & unsigned(CSTOPB), unsigned(CSTOPB));
    }

    // Parity and CommName are only stored; the next reapply or open uses them.
    void storedOnlyProperties()
    {
        PortRig rig;
        QVERIFY(rig.pty.ok());
        auto &[pty, queue, log, comm] = rig;
        comm.OpenPort();

        comm.SetParity(TParity::Odd);
        QCOMPARE(comm.Parity(), TParity::Odd);
        QCOMPARE(stateOf(pty).cflag & unsigned(PARODD), 0u);

        comm.SetCommName("/nonexistent/port");
        QCOMPARE(comm.CommName(), std::string("/nonexistent/port"));
        QVERIFY(exchangeWorks(comm, *queue, log, pty));

        comm.SetStopBits(TStopBits::_2); // another setter reapplies, parity included
        QCOMPARE(stateOf(pty).cflag & unsigned(PARODD | CMSPAR | CSTOPB), unsigned(PARODD | CSTOPB));

        comm.ClosePort();
        comm.SetCommName(pty.slavePath());
        comm.SetParity(TParity::Space);
        comm.OpenPort();
        QCOMPARE(stateOf(pty).cflag & unsigned(PARODD | CMSPAR), unsigned(CMSPAR));
    }

    void devicePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << "COM1" << "/dev/ttyS0";
        QTest::newRow("COM2") << "COM2" << "/dev/ttyS1";
        QTest::newRow("COM12") << "COM12" << "/dev/ttyS11";
        QTest::newRow("lower case") << "com3" << "/dev/ttyS2";
        QTest::newRow("COM0 as typed") << "COM0" << "COM0";
        QTest::newRow("leading zero as typed") << "COM01" << "COM01";
        QTest::newRow("bare COM") << "COM" << "COM";
        QTest::newRow("trailing letter") << "COM1x" << "COM1x";
        QTest::newRow("path") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("too long a number") << "COM99999999999" << "COM99999999999";
    }

    void devicePath()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(QString::fromStdString(detail::devicePathFor(name.toStdString())), path);
    }
};

QTEST_GUILESS_MAIN(SerialPropertiesTest)
#include "tst_serial_properties.moc"
