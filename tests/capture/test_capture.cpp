// SPDX-License-Identifier: GPL-3.0-or-later
// Captures are checked the way an engineer reads them: through Wireshark's
// own HART-IP dissector (tshark), not by re-parsing our bytes.
#include <QtTest>

#include <chrono>

#include "GatewayDevice.h"
#include "HartFrames.h"
#include "TrafficCapture.h"

using capture::Direction;
using capture::Payload;
using capture::Record;

namespace {

std::vector<uint8_t> bytesOf(const QByteArray &a)
{
    return {a.begin(), a.end()};
}

// One line per packet: the fields below, tab-separated.
QStringList tsharkFields(const QString &file)
{
    QProcess tshark;
    tshark.start(QStringLiteral("tshark"),
                 {QStringLiteral("-r"), file, QStringLiteral("-d"), QStringLiteral("udp.port==5094,hart_ip"),
                  QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("separator=/t"),
                  QStringLiteral("-e"), QStringLiteral("frame.time_epoch"), QStringLiteral("-e"), QStringLiteral("ip.src"),
                  QStringLiteral("-e"), QStringLiteral("udp.dstport"), QStringLiteral("-e"), QStringLiteral("hart_ip.message_type"),
                  QStringLiteral("-e"), QStringLiteral("hart_ip.message_id"), QStringLiteral("-e"), QStringLiteral("hart_ip.pt.command"),
                  QStringLiteral("-e"), QStringLiteral("hart_ip.pt.rsp.device_id"), QStringLiteral("-e"), QStringLiteral("hart_ip.pt.response_code"),
                  QStringLiteral("-e"), QStringLiteral("data.data"), QStringLiteral("-e"), QStringLiteral("_ws.malformed")});
    if (!tshark.waitForFinished(60000) || tshark.exitCode() != 0)
        return {QStringLiteral("tshark failed: ") + QString::fromLocal8Bit(tshark.readAllStandardError())};
    return QString::fromUtf8(tshark.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
            QFAIL("tshark is not installed (scripts/setup.sh installs it)");
    }

    // Requests and simulator replies in, Wireshark's reading out.
    void wiresharkReadsTheCapture()
    {
        sim::GatewayState state;
        state.mode = 0; // transparent
        sim::GatewayDevice gateway(state, sim::HartDevice{}, 1);
        const auto now = std::chrono::steady_clock::now();
        const auto t0 = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
        auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };

        const hart::Bytes request0 = hart::command0Frame(0, true, 5);
        const hart::Bytes reply0 = gateway.handle(request0, now).bytes;
        hart::Identity id{0x37, 0x51, {0x01, 0xE2, 0x40}};
        const hart::Bytes request3 = hart::command3Frame(0, true, id, 5);
        const hart::Bytes reply3 = gateway.handle(request3, now).bytes;
        // Command 50 is not implemented by the instrument: response code 64.
        const hart::Bytes request50 = hart::manualFrame({0x82, 0xB7, 0x51, 0x01, 0xE2, 0x40, 50, 0}, 5);
        hart::Bytes reply50 = gateway.handle(request50, now).bytes;
        QVERIFY(!reply0.empty() && !reply3.empty() && !reply50.empty());
        reply50.push_back(0x5A); // a stray byte after the frame stays plain payload

        const std::vector<Record> records = {
            {at(0), Direction::Sent, Payload::Config, bytesOf("QQS#MODE#")},
            {at(1), Direction::Received, Payload::Config, bytesOf("OK")},
            {at(2), Direction::Sent, Payload::Hart, request0},
            {at(3), Direction::Received, Payload::Hart, reply0},
            {at(4), Direction::Sent, Payload::Hart, request3},
            {at(5), Direction::Received, Payload::Hart, reply3},
            {at(6), Direction::Sent, Payload::Hart, request50},
            {at(7), Direction::Received, Payload::Hart, reply50},
            {at(8), Direction::Received, Payload::Hart, {0xFF, 0xFF, 0x06, 0x80}}, // cut short
        };
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("t.pcap"));
        std::string error;
        QVERIFY2(capture::writePcap(file.toStdString(), records, &error), error.c_str());

        // time, source, port, type, id, command, device id, response code, plain data, malformed
        const QStringList expected = {
            "1700000000.000000000\t127.0.0.1\t5095\t\t\t\t\t\t515153234d4f444523\t",
            "1700000000.001000000\t127.0.0.2\t5095\t\t\t\t\t\t4f4b\t",
            "1700000000.002000000\t127.0.0.1\t5094\t0\t3\t0\t\t\t\t",
            "1700000000.003000000\t127.0.0.2\t5094\t1\t3\t0\t01e240\t0\t\t",
            "1700000000.004000000\t127.0.0.1\t5094\t0\t3\t3\t\t\t\t",
            "1700000000.005000000\t127.0.0.2\t5094\t1\t3\t3\t\t0\t\t",
            "1700000000.006000000\t127.0.0.1\t5094\t0\t3\t50\t\t\t\t",
            "1700000000.007000000\t127.0.0.2\t5094\t1\t3\t50\t\t64\t\t",
            "1700000000.007000000\t127.0.0.2\t5095\t\t\t\t\t\t5a\t",
            "1700000000.008000000\t127.0.0.2\t5095\t\t\t\t\t\tffff0680\t",
        };
        QCOMPARE(tsharkFields(file), expected);
    }

    void unwritableFileIsNamed()
    {
        std::string error;
        QVERIFY(!capture::PcapWriter::create("/nonexistent-dir/x.pcap", &error));
        QVERIFY2(error.find("/nonexistent-dir/x.pcap") != std::string::npos, error.c_str());
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
