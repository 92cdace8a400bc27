// SPDX-License-Identifier: GPL-3.0-or-later
// Annotation of HART frames as the traffic monitor shows them.
#include <QtTest>

#include <chrono>
#include <memory>
#include <random>

#include "GatewayDevice.h"
#include "HartAnnotate.h"
#include "HartFrames.h"
#include "HartUnits.h"

namespace {

hart::Bytes hex(const char *text)
{
    const QByteArray b = QByteArray::fromHex(text);
    return {b.begin(), b.end()};
}

// A reply frame with the checksum appended: short (polling address 0,
// primary master), command 1, the two status bytes and no data.
hart::Bytes statusReply(uint8_t response, uint8_t status)
{
    hart::Bytes f = {0xFF, 0xFF, 0x06, 0x80, 0x01, 0x02, response, status};
    uint8_t sum = 0;
    for (size_t i = 2; i < f.size(); ++i)
        sum ^= f[i];
    f.push_back(sum);
    return f;
}

QString describe(const hart::Bytes &b)
{
    return QString::fromStdString(hart::describe(b.data(), b.size()));
}

} // namespace

class TestHartAnnotate : public QObject {
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const hart::Identity id{0x37, 0x51, {0x01, 0xE2, 0x40}};
        auto raw = [](const hart::Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); };
        QTest::newRow("command 0 request, short") << raw(hart::command0Frame(2, false, 5))
            << "transparent header (address 2); 5 preambles; short frame, master to slave, secondary master; "
               "polling address 0; command 0 Read Unique Identifier; 0 bytes; checksum OK";
        QTest::newRow("command 3 request, long") << raw(hart::command3Frame(0, true, id, 3))
            << "transparent header (address 0); 3 preambles; long frame, master to slave, primary master; "
               "manufacturer 55, device type 81, device id 123456; command 3 Read Dynamic Variables and Loop Current; "
               "0 bytes; checksum OK";
        QTest::newRow("other command, bad checksum") << raw(hex("FFFF 02 80 30 00 00"))
            << "2 preambles; short frame, master to slave, primary master; polling address 0; command 48 Read Additional Device "
               "Status; 0 bytes; checksum BAD";
        QTest::newRow("error response") << raw(hex("FF 86 B7 51 01E240 30 02 40 00 B1"))
            << "1 preambles; long frame, slave to master, primary master; manufacturer 55, device type 81, "
               "device id 123456; command 48 Read Additional Device Status; 2 bytes; Response: 64 Command Not Implemented; status: OK; checksum OK";
        QTest::newRow("communication error") << raw(hex("FF 06 80 00 02 D2 00 56"))
            << "1 preambles; short frame, slave to master, primary master; polling address 0; command 0 Read Unique "
               "Identifier; 2 bytes; Response: communication error: vertical parity error, framing error, buffer "
               "overflow; checksum OK";
        QTest::newRow("burst, noise around") << raw(hex("1234 FF 01 C5 03 02 00 00 C5 99"))
            << "2 bytes before the frame; 1 preambles; short frame, burst, primary master, device in burst mode; "
               "polling address 5; command 3 Read Dynamic Variables and Loop Current; 2 bytes; Response: OK; "
               "status: OK; checksum OK; 1 bytes after the frame";
        QTest::newRow("cut short") << raw(hex("FFFF 86 B7 51 01E240 03 1A 00"))
            << "2 preambles; incomplete frame: 9 of 35 bytes";
        QTest::newRow("no frame") << QByteArray("QQQ#QV#") << "no HART frame";
    }

    void frames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(describe(hart::Bytes(bytes.begin(), bytes.end())), expected);
    }

    // Each field device status bit by name; only a malfunction is a fault.
    void statusBits_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("fault");
        QTest::newRow("0x80") << 0x80 << "device malfunction" << true;
        QTest::newRow("0x40") << 0x40 << "configuration changed" << false;
        QTest::newRow("0x20") << 0x20 << "cold start" << false;
        QTest::newRow("0x10") << 0x10 << "more status available" << false;
        QTest::newRow("0x08") << 0x08 << "loop current fixed" << false;
        QTest::newRow("0x04") << 0x04 << "loop current saturated" << false;
        QTest::newRow("0x02") << 0x02 << "non-primary variable out of limits" << false;
        QTest::newRow("0x01") << 0x01 << "primary variable out of limits" << false;
    }

    void statusBits()
    {
        QFETCH(int, status);
        QFETCH(QString, name);
        QFETCH(bool, fault);
        const hart::Bytes f = statusReply(0, uint8_t(status));
        const auto info = hart::readFrame(f.data(), f.size());
        QVERIFY(info);
        QCOMPARE(QString::fromStdString(hart::statusLine(*info)), "Response: OK; status: " + name);
        QCOMPARE(hart::reportsFault(*info), fault);
    }

    void faults()
    {
        struct Case { uint8_t response, status; bool fault; };
        // Warning 8 is no fault, errors and communication errors are; a
        // communication error's second byte is not device status.
        const Case cases[] = {{0, 0, false}, {8, 0, false}, {5, 0, true}, {64, 0, true}, {0x90, 0x80, true},
                              {0x82, 0x00, true}, {32, 0x20, true}, {112, 0x01, false}};
        for (const Case &c : cases) {
            const hart::Bytes f = statusReply(c.response, c.status);
            const auto info = hart::readFrame(f.data(), f.size());
            QVERIFY(info);
            QVERIFY2(hart::reportsFault(*info) == c.fault, qPrintable(QString::number(c.response)));
        }
        hart::Bytes bad = statusReply(0, 0);
        bad.back() ^= 1;
        QVERIFY(hart::reportsFault(*hart::readFrame(bad.data(), bad.size())));
    }

    // Random bytes, each in an allocation of exactly their size: never a
    // read past the end (the sanitizer build checks), always some text.
    void arbitraryBytes()
    {
        std::mt19937 rng(12);
        for (int i = 0; i < 20000; ++i) {
            const size_t n = rng() % 48;
            std::unique_ptr<uint8_t[]> b(new uint8_t[n ? n : 1]);
            for (size_t j = 0; j < n; ++j)
                b[j] = uint8_t(rng() % 4 == 0 ? 0xFF : rng() % 3 == 0 ? 0x86 : rng());
            QVERIFY(!hart::describe(b.get(), n).empty());
        }
    }

    // The simulator's replies: identity and the dynamic variables with full unit names.
    void simulatorReplies()
    {
        sim::GatewayState state;
        state.mode = 0;
        sim::GatewayDevice gateway(state, sim::HartDevice{}, 7);
        const auto now = std::chrono::steady_clock::now();
        const hart::Bytes reply0 = gateway.handle(hart::command0Frame(0, true, 5), now).bytes;
        const auto info0 = hart::readFrame(reply0.data(), reply0.size());
        QVERIFY(info0 && info0->checksumOk);
        const auto c0 = hart::command0Data(info0->data.data(), info0->data.size());
        QCOMPARE(c0->identity.deviceType, uint8_t(0x51));
        QVERIFY(describe(reply0).endsWith(
            "identity: manufacturer 55, device type 81, device id 123456, 5 preambles required"));

        const hart::Bytes reply3 = gateway.handle(hart::command3Frame(0, true, c0->identity, 5), now).bytes;
        const auto info3 = hart::readFrame(reply3.data(), reply3.size());
        QVERIFY(info3 && info3->checksumOk && !hart::reportsFault(*info3));
        const hart::DynamicVariables v3 = hart::command3Data(info3->data.data(), info3->data.size());
        const sim::Command3Values &sent = gateway.lastCommand3;
        QCOMPARE(*v3.loopCurrent, sent.current);
        QCOMPARE(v3.variables.size(), size_t(4));
        const QString text = describe(reply3);
        for (size_t i = 0; i < 4; ++i) {
            QCOMPARE(v3.variables[i].value, sent.values[i]);
            QVERIFY2(text.contains(QString::fromUtf8(hart::unitName(sent.units[i]))), qPrintable(text));
        }
        QVERIFY(text.contains(QStringLiteral("loop current %1 mA").arg(double(sent.current), 0, 'f', 3)));
    }
};

QTEST_GUILESS_MAIN(TestHartAnnotate)
#include "test_hart_annotate.moc"
