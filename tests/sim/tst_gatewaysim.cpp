// SPDX-License-Identifier: GPL-3.0-or-later
// The gateway simulator seen from the client's side: every exchange goes
// through a plain termios descriptor on the pty, as a serial port would.
#include "GatewaySim.h"
#include "../ThreadCpu.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// A client on the pty slave, configured raw like the window's serial port.
class Client {
public:
    explicit Client(const QString& path)
    {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Client()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    bool send(const QByteArray& bytes)
    {
        return ::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }

    struct Chunk {
        QByteArray bytes;
        qint64 atMs;
    };

    // Everything that arrives within `ms` (or until `enough` bytes came), as
    // the reads delivered it.
    std::vector<Chunk> chunks(int ms, qsizetype enough = -1)
    {
        qsizetype total = 0;
        std::vector<Chunk> out;
        QElapsedTimer timer;
        timer.start();
        for (qint64 left = ms; left > 0; left = ms - timer.elapsed()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            if (!(p.revents & POLLIN)) {
                hungUp_ = true;
                break;
            }
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) {
                hungUp_ = true;
                break;
            }
            out.push_back({QByteArray(buf, static_cast<int>(n)), timer.elapsed()});
            total += n;
            if (enough >= 0 && total >= enough)
                break;
        }
        return out;
    }

    QByteArray collect(int ms)
    {
        QByteArray all;
        for (const Chunk& c : chunks(ms))
            all += c.bytes;
        return all;
    }

    // The first byte within firstMs, then everything until the line is quiet.
    QByteArray reply(int firstMs = 2000, int quietMs = 40)
    {
        QByteArray all = readOnce(firstMs);
        if (all.isEmpty())
            return all;
        for (;;) {
            const QByteArray more = readOnce(quietMs);
            if (more.isEmpty())
                return all;
            all += more;
        }
    }

    QByteArray exchange(const QByteArray& request)
    {
        if (!send(request))
            return "<send failed>";
        return reply();
    }

    // True once the far side has closed the port.
    bool waitHangUp(int ms)
    {
        if (!hungUp_)
            chunks(ms);
        return hungUp_;
    }

private:
    // One read of whatever arrives first within ms.
    QByteArray readOnce(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
            return {};
        char buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        return n > 0 ? QByteArray(buf, static_cast<int>(n)) : QByteArray();
    }

    int fd_ = -1;
    bool hungUp_ = false;
};

const QByteArray kFactoryIdent = "NX260-HGW SIMULATOR V1.0 SN:00000000 QC:001#";
const QByteArray kFactoryParams = "QX1#MD:1#C1:001#BOA:300#BOB:300#DTA:2#DTB:2#RTM:010#XH:0#";
const QByteArray kFactoryTable = "QH00#T01:1008060#T02:1008060#T03:1008060#T04:1008060#";

// Command 0 with the window's default settings: header for address 1,
// six preambles, short frame, master bit.
const QByteArray kCommand0 = hex("00665501 FFFFFFFFFFFF 02 80 00 00 82");
// Command 0 reply of the default instrument (Yokogawa 0x37, type 0x51,
// five preambles wanted, revisions 5/1/2/0x08, flags 0, id 01 E2 40).
const QByteArray kCommand0Reply = hex("FFFFFFFFFF 06 80 00 0E 0000 FE 37 51 05 05 01 02 08 00 01E240 B8");
// Command 3 in a long frame to the default instrument.
const QByteArray kCommand3 = hex("00665501 FFFFFFFFFFFF 82 B7 51 01E240 03 00 C4");

float floatAt(const QByteArray& b, int at)
{
    const quint32 bits = (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) |
                         (quint32(quint8(b[at + 2])) << 8) | quint32(quint8(b[at + 3]));
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Index of the last preamble before the first `delimiter`, as the window finds it.
int markerIndex(const QByteArray& rx, char delimiter)
{
    for (int j = 0; j + 1 < rx.size(); ++j)
        if (rx[j] == '\xFF' && rx[j + 1] == delimiter)
            return j;
    return -1;
}

quint8 xorOf(const QByteArray& b, int from, int to)
{
    quint8 x = 0;
    for (int i = from; i < to; ++i)
        x ^= quint8(b[i]);
    return x;
}

struct SetCase {
    QByteArray request;
    QByteArray ack;
    QByteArray query;
    QByteArray fragment;
    std::function<void(sim::GatewayState&)> expect;
};

const std::vector<SetCase>& setCases()
{
    static const std::vector<SetCase> cases = {
        {"QQS#ADR:247#", "SET ADR OK#", "QQQ#QX1#", "#C1:247#", [](auto& s) { s.slaveAddress = 247; }},
        {"QQS#ADR:000#", "SET ADR OK#", "QQQ#QX1#", "#C1:000#", [](auto& s) { s.slaveAddress = 0; }},
        {"QQS#BOA:720#", "SET BOA OK#", "QQQ#QX1#", "#BOA:720#", [](auto& s) { s.baudA = 7; s.parityA = 2; }},
        {"QQS#BOB:010#", "SET BOB OK#", "QQQ#QX1#", "#BOB:010#", [](auto& s) { s.baudB = 0; s.parityB = 1; }},
        {"QQS#MD:0#", "SET MD OK#", "QQQ#QX1#", "QX1#MD:0#", [](auto& s) { s.mode = 0; }},
        {QByteArray("QQS#DTA:\x05#", 10), "SET DTA OK#", "QQQ#QX1#", "#DTA:5#", [](auto& s) { s.returnTimeA = 5; }},
        {QByteArray("QQS#DTK:\x00#", 10), "SET DTK OK#", "QQQ#QX1#", "#DTB:0#", [](auto& s) { s.returnTimeB = 0; }},
        {"QQS#RDM:999#", "SET RDM OK#", "QQQ#QX1#", "#RTM:999#", [](auto& s) { s.interval = 999; }},
        {"QQS#XH:2#", "SET XH OK#", "QQQ#QX1#", "#XH:2#", [](auto& s) { s.channelModel = 2; }},
        {"QQS#HA01:0004045#", "SET HA01 OK#", "QQQ#QH00#", "#T01:0004045#",
         [](auto& s) { s.instruments[0] = {0, 0, 4, 45}; }},
        {"QQS#HA02:1009000#", "SET HA02 OK#", "QQQ#QH00#", "#T02:1009000#",
         [](auto& s) { s.instruments[1] = {1, 0, 9, 0}; }},
        {"QQS#HA03:0006123#", "SET HA03 OK#", "QQQ#QH00#", "#T03:0006123#",
         [](auto& s) { s.instruments[2] = {0, 0, 6, 123}; }},
        {"QQS#HA04:1005999#", "SET HA04 OK#", "QQQ#QH00#", "#T04:1005999#",
         [](auto& s) { s.instruments[3] = {1, 0, 5, 999}; }},
        {"QRTNVK#PCBSN:00000123,006#", "SET PCBSN OK#", "QQQ#QV#", "SN:00000123 QC:006#",
         [](auto& s) { s.serialNumber = "00000123"; s.inspector = "006"; }},
    };
    return cases;
}

} // namespace

class TestGatewaySim : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    int serial_ = 0;

    QString nextLink() { return dir_.filePath(QStringLiteral("gw-%1").arg(++serial_)); }

    std::unique_ptr<sim::GatewaySim> startSim(sim::Options options = {})
    {
        options.linkPath = nextLink().toStdString();
        auto gw = std::make_unique<sim::GatewaySim>(std::move(options));
        std::string error;
        if (!gw->start(&error)) {
            qWarning("start failed: %s", error.c_str());
            return nullptr;
        }
        return gw;
    }

    static sim::Options transparent()
    {
        sim::Options o;
        o.initialState.mode = 0;
        return o;
    }

    // Sends a request that must stay unanswered; true when nothing came back.
    static bool unanswered(sim::GatewaySim& gw, Client& c, const QByteArray& request)
    {
        const auto before = gw.counters();
        if (!c.send(request))
            return false;
        if (!gw.waitFor([&](const sim::Counters& n) { return n.requests > before.requests; }, 2s))
            return false;
        return c.collect(150).isEmpty() && gw.counters().replies == before.replies;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void queries_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("communication") << QByteArray("QQQ#QV#") << kFactoryIdent;
        QTest::newRow("system parameters") << QByteArray("QQQ#QX1#") << kFactoryParams;
        QTest::newRow("instrument table") << QByteArray("QQQ#QH00#") << kFactoryTable;
    }

    void queries()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        auto gw = startSim();
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(c.isOpen());
        QCOMPARE(c.exchange(request), reply);
        QCOMPARE(gw->counters().requests, 1u);
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.replies == 1; }, 1s));
    }

    void setRequests_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < setCases().size(); ++i)
            QTest::addRow("%s", setCases()[i].request.left(9).replace('\0', '0').constData()) << int(i);
    }

    void setRequests()
    {
        QFETCH(int, row);
        const SetCase& sc = setCases()[static_cast<std::size_t>(row)];
        auto gw = startSim();
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QCOMPARE(c.exchange(sc.request), sc.ack);
        QVERIFY2(c.exchange(sc.query).contains(sc.fragment), sc.fragment.constData());

        sim::GatewayState expected = sim::GatewayState::factoryDefaults();
        sc.expect(expected);
        QVERIFY(gw->state() == expected); // nothing else moved
    }

    void dataReturnTimeRawBytes()
    {
        auto gw = startSim();
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        for (char r = 0; r <= 5; ++r) {
            QCOMPARE(c.exchange(QByteArray("QQS#DTA:") + r + '#'), QByteArray("SET DTA OK#"));
            QCOMPARE(c.exchange(QByteArray("QQS#DTK:") + char(5 - r) + '#'), QByteArray("SET DTK OK#"));
            const QByteArray params = c.exchange("QQQ#QX1#");
            QVERIFY(params.contains("#DTA:" + QByteArray::number(r) + "#"));
            QVERIFY(params.contains("#DTB:" + QByteArray::number(5 - r) + "#"));
        }
        QCOMPARE(gw->state().returnTimeA, 5);
        QCOMPARE(gw->state().returnTimeB, 0);
    }

    void malformedRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("DTA past the list") << QByteArray("QQS#DTA:\x06#");
        QTest::newRow("DTA as digit") << QByteArray("QQS#DTA:2#");
        QTest::newRow("DTA raw #") << QByteArray("QQS#DTA:##");
        QTest::newRow("DTB is a reply key") << QByteArray("QQS#DTB:\x01#", 10);
        QTest::newRow("baud 8") << QByteArray("QQS#BOA:800#");
        QTest::newRow("parity 3") << QByteArray("QQS#BOA:330#");
        QTest::newRow("no fixed 0") << QByteArray("QQS#BOB:301#");
        QTest::newRow("no selection") << QByteArray("QQS#BOA:/00#");
        QTest::newRow("address two digits") << QByteArray("QQS#ADR:12#");
        QTest::newRow("address letter") << QByteArray("QQS#ADR:1a2#");
        QTest::newRow("address four digits") << QByteArray("QQS#ADR:1000#");
        QTest::newRow("mode 2") << QByteArray("QQS#MD:2#");
        QTest::newRow("mode none") << QByteArray("QQS#MD:/#");
        QTest::newRow("channels 3") << QByteArray("QQS#XH:3#");
        QTest::newRow("interval negative") << QByteArray("QQS#RDM:-10#");
        QTest::newRow("instrument 5") << QByteArray("QQS#HA05:1008060#");
        QTest::newRow("preamble 3") << QByteArray("QQS#HA01:1003060#");
        QTest::newRow("unknown type") << QByteArray("QQS#HA01:1018060#");
        QTest::newRow("device mode 2") << QByteArray("QQS#HA01:2008060#");
        QTest::newRow("row too short") << QByteArray("QQS#HA01:100806#");
        QTest::newRow("unknown query") << QByteArray("QQQ#QX2#");
        QTest::newRow("other table") << QByteArray("QQQ#QH01#");
        QTest::newRow("unknown key") << QByteArray("QQS#FOO:1#");
        QTest::newRow("reset lower case") << QByteArray("QQS#reset#");
        QTest::newRow("serial short") << QByteArray("QRTNVK#PCBSN:123,006#");
        QTest::newRow("serial negative") << QByteArray("QRTNVK#PCBSN:-0000123,006#");
        QTest::newRow("serial nine digits") << QByteArray("QRTNVK#PCBSN:123456789,006#");
        QTest::newRow("no terminator") << QByteArray("QQS#ADR:123");
        QTest::newRow("DTA cut short") << QByteArray("QQS#DTA:");
    }

    void malformedRequests()
    {
        QFETCH(QByteArray, request);
        auto gw = startSim();
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QCOMPARE(c.exchange(request), QByteArray("ERROR#"));
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.errors == 1; }, 1s));
        QVERIFY(gw->state() == sim::GatewayState::factoryDefaults());
        // The line is clean again afterwards.
        QCOMPARE(c.exchange("QQQ#QX1#"), kFactoryParams);
    }

    void resetRestoresFactoryParameters()
    {
        auto gw = startSim();
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        for (const char* req : {"QQS#ADR:017#", "QQS#BOA:510#", "QQS#BOB:620#", "QQS#MD:0#", "QQS#RDM:250#",
                                "QQS#XH:1#", "QQS#HA03:0009100#", "QRTNVK#PCBSN:12345678,104#"})
            QVERIFY(c.exchange(req).endsWith(" OK#"));
        QCOMPARE(c.exchange(QByteArray("QQS#DTA:\x00#", 10)), QByteArray("SET DTA OK#"));
        QVERIFY(c.exchange("QQQ#QX1#") != kFactoryParams);

        QCOMPARE(c.exchange("QQS#RESET#"), QByteArray("RESET OK#"));
        QCOMPARE(c.exchange("QQQ#QX1#"), kFactoryParams);
        QCOMPARE(c.exchange("QQQ#QH00#"), kFactoryTable);
        // The factory serial number is production data, not a parameter.
        QCOMPARE(c.exchange("QQQ#QV#"), QByteArray("NX260-HGW SIMULATOR V1.0 SN:12345678 QC:104#"));
        sim::GatewayState expected = sim::GatewayState::factoryDefaults();
        expected.serialNumber = "12345678";
        expected.inspector = "104";
        QVERIFY(gw->state() == expected);
    }

    void setStateIsReported()
    {
        auto gw = startSim();
        QVERIFY(gw);
        sim::GatewayState s = sim::GatewayState::factoryDefaults();
        s.mode = 0;
        s.slaveAddress = 42;
        s.baudB = 6;
        s.parityB = 2;
        s.instruments[1] = {0, 0, 7, 8};
        gw->setState(s);
        Client c(QString::fromStdString(gw->linkPath()));
        QCOMPARE(c.exchange("QQQ#QX1#"), QByteArray("QX1#MD:0#C1:042#BOA:300#BOB:620#DTA:2#DTB:2#RTM:010#XH:0#"));
        QCOMPARE(c.exchange("QQQ#QH00#"), QByteArray("QH00#T01:1008060#T02:0007008#T03:1008060#T04:1008060#"));
    }

    void requestsWrittenBackToBack()
    {
        auto gw = startSim(transparent());
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(c.send(QByteArray("QQQ#QV#") + QByteArray("QQS#DTA:#", 9).insert(8, '\x03') + kCommand0 +
                       "QQQ#QH00#"));
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.replies == 4; }, 2s));
        QCOMPARE(c.collect(200), kFactoryIdent + "SET DTA OK#" + kCommand0Reply + kFactoryTable);
        QCOMPARE(gw->counters().requests, 4u);
        QCOMPARE(gw->state().returnTimeA, 3);
    }

    void hartCommand0_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("customDevice");
        QTest::newRow("window default") << kCommand0 << kCommand0Reply << false;
        QTest::newRow("secondary master")
            << hex("00665501 FFFFFFFFFFFF 02 00 00 00 02")
            << hex("FFFFFFFFFF 06 00 00 0E 0000 FE 37 51 05 05 01 02 08 00 01E240 38") << false;
        QTest::newRow("address 32, no preambles")
            << hex("1F665501 02 80 00 00 82") << kCommand0Reply << false;
        QTest::newRow("hand-typed, no header")
            << hex("FFFFFFFFFFFF 02 80 00 00 82") << kCommand0Reply << false;
        QTest::newRow("long frame")
            << hex("00665501 FFFFFFFFFF 82 B7 51 01E240 00 00 C7")
            << hex("FFFFFFFFFF 86 B7 51 01E240 00 0E 0000 FE 37 51 05 05 01 02 08 00 01E240 FD") << false;
        // Device id bytes that look like a marker must not confuse anyone.
        QTest::newRow("other device")
            << kCommand0
            << hex("FFFFFFFFFF 06 80 00 0E 0000 FE 26 0A 07 05 01 02 08 00 FF0686 2C") << true;
    }

    void hartCommand0()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, customDevice);
        sim::Options o = transparent();
        if (customDevice) {
            o.hart.manufacturerId = 0x26;
            o.hart.deviceType = 0x0A;
            o.hart.minPreambles = 7;
            o.hart.deviceId = {0xFF, 0x06, 0x86};
        }
        auto gw = startSim(o);
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        const QByteArray rx = c.exchange(request);
        QCOMPARE(rx.toHex(' '), reply.toHex(' '));
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.hartReplies == 1; }, 1s));

        // Where the window reads the identity from a short-frame reply.
        const int m = markerIndex(rx, '\x06');
        if (m >= 0) {
            const sim::HartDevice dev = gw->hartDevice();
            QCOMPARE(quint8(rx[m + 7]), quint8(254));
            QCOMPARE(quint8(rx[m + 8]), dev.manufacturerId);
            QCOMPARE(quint8(rx[m + 9]), dev.deviceType);
            QCOMPARE(quint8(rx[m + 10]), dev.minPreambles);
            QCOMPARE(quint8(rx[m + 16]), dev.deviceId[0]);
            QCOMPARE(quint8(rx[m + 17]), dev.deviceId[1]);
            QCOMPARE(quint8(rx[m + 18]), dev.deviceId[2]);
        }
    }

    void hartCommand3_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<quint8>("addressByte");
        QTest::newRow("master") << kCommand3 << quint8(0xB7);
        QTest::newRow("secondary master") << hex("05665501 FFFFFFFF 82 37 51 01E240 03 00 44") << quint8(0x37);
        QTest::newRow("hand-typed") << hex("FFFFFFFFFFFF 82 B7 51 01E240 03 00 C4") << quint8(0xB7);
    }

    void hartCommand3()
    {
        QFETCH(QByteArray, request);
        QFETCH(quint8, addressByte);
        auto gw = startSim(transparent());
        QVERIFY(gw);
        QVERIFY(!gw->lastCommand3Values().valid);
        Client c(QString::fromStdString(gw->linkPath()));

        std::vector<float> firstValues;
        for (int round = 0; round < 2; ++round) {
            if (round == 1)
                QTest::qWait(300); // the process moves on
            const QByteArray rx = c.exchange(request);
            const int m = markerIndex(rx, '\x86');
            QCOMPARE(m, 4); // five preambles
            QCOMPARE(rx.size(), m + 1 + 1 + 5 + 1 + 1 + 26 + 1);
            QCOMPARE(rx.mid(m + 2, 5).toHex(' '), (QByteArray(1, char(addressByte)) + hex("51 01E240")).toHex(' '));
            QCOMPARE(quint8(rx[m + 7]), quint8(3));
            QCOMPARE(quint8(rx[m + 8]), quint8(26));
            QCOMPARE(quint8(rx[m + 9]), quint8(0));
            QCOMPARE(quint8(rx[m + 10]), quint8(0));
            QCOMPARE(xorOf(rx, m + 1, rx.size() - 1), quint8(rx[rx.size() - 1]));

            const sim::Command3Values truth = gw->lastCommand3Values();
            QVERIFY(truth.valid);
            QCOMPARE(floatAt(rx, m + 11), truth.current);
            const quint8 units[4] = {19, 32, 75, 43}; // m3/h, degC, kg/h, m3
            for (int v = 0; v < 4; ++v) {
                QCOMPARE(quint8(rx[m + 15 + 5 * v]), units[v]);
                QCOMPARE(truth.units[std::size_t(v)], units[v]);
                QCOMPARE(floatAt(rx, m + 16 + 5 * v), truth.values[std::size_t(v)]);
            }
            QVERIFY(truth.current > 4.0f && truth.current < 20.0f);
            QVERIFY(truth.values[0] > 30.0f && truth.values[0] < 55.0f);
            QVERIFY(truth.values[1] > 75.0f && truth.values[1] < 85.0f);
            if (round == 0) {
                firstValues.assign(truth.values.begin(), truth.values.end());
            } else {
                QVERIFY(truth.values[0] != firstValues[0]);
                QVERIFY(truth.values[3] > firstValues[3]); // the total only grows
            }
        }
    }

    void hartRequestsLeftUnanswered_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("command 3 before any command 0") << hex("00665501 FFFFFFFFFFFF 82 80 00000000 03 00 01");
        QTest::newRow("other device id") << hex("00665501 FFFFFFFFFFFF 82 B7 51 01E241 03 00 C5");
        QTest::newRow("other device type") << hex("00665501 FFFFFFFFFFFF 82 B7 52 01E240 03 00 C7");
        QTest::newRow("other manufacturer") << hex("00665501 FFFFFFFFFFFF 82 B8 51 01E240 03 00 CB");
        QTest::newRow("command 3 short frame") << hex("00665501 FFFFFFFFFFFF 02 80 03 00 81");
        QTest::newRow("command 0 polling address 1") << hex("00665501 FFFFFFFFFFFF 02 81 00 00 83");
        QTest::newRow("command 0 bad checksum") << hex("00665501 FFFFFFFFFFFF 02 80 00 00 83");
        QTest::newRow("command 3 bad checksum") << hex("00665501 FFFFFFFFFFFF 82 B7 51 01E240 03 00 C5");
        QTest::newRow("slave frame") << hex("FFFFFF 06 80 00 00 86");
        QTest::newRow("byte count past the end") << hex("FFFFFFFFFFFF 02 80 00 05 87");
        QTest::newRow("hint text bytes") << hex("FFFFFFFFFFFF 76 89 FD AD 7F");
    }

    void hartRequestsLeftUnanswered()
    {
        QFETCH(QByteArray, request);
        auto gw = startSim(transparent());
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(unanswered(*gw, c, request));
        // The instrument still answers a proper request afterwards.
        QCOMPARE(c.exchange(kCommand0), kCommand0Reply);
    }

    void hartIgnoredInModbusMode()
    {
        auto gw = startSim(); // factory: MODBUS mode
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(unanswered(*gw, c, kCommand0));
        QCOMPARE(c.exchange("QQS#MD:0#"), QByteArray("SET MD OK#"));
        QCOMPARE(c.exchange(kCommand0), kCommand0Reply);
    }

    void hartUnsupportedCommand()
    {
        auto gw = startSim(transparent());
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        // Command 50 to our device: response code 64, command not implemented.
        QCOMPARE(c.exchange(hex("00665501 FFFFFFFFFFFF 82 B7 51 01E240 32 00 F5")).toHex(' '),
                 hex("FFFFFFFFFF 86 B7 51 01E240 32 02 40 00 B3").toHex(' '));
    }

    void silentFault()
    {
        sim::Options o;
        o.faults.silent = true;
        auto gw = startSim(o);
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(unanswered(*gw, c, "QQQ#QV#"));
        QVERIFY(unanswered(*gw, c, "QQS#MD:0#"));
        QCOMPARE(gw->state().mode, 0); // applied, only the answer is lost
        gw->setFaults({});
        QCOMPARE(c.exchange("QQQ#QV#"), kFactoryIdent);
    }

    void slowFault()
    {
        sim::Options o;
        o.faults.slowMs = 400;
        auto gw = startSim(o);
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(c.send("QQQ#QV#"));
        const auto chunks = c.chunks(1500, kFactoryIdent.size());
        QVERIFY(!chunks.empty());
        QVERIFY2(chunks.front().atMs >= 380, QByteArray::number(chunks.front().atMs).constData());
        QByteArray all;
        for (const auto& ch : chunks)
            all += ch.bytes;
        QCOMPARE(all, kFactoryIdent);
    }

    void splitFault_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("text") << QByteArray("QQQ#QX1#") << QByteArray(kFactoryParams).replace("MD:1", "MD:0");
        QTest::newRow("hart") << kCommand0 << kCommand0Reply;
    }

    void splitFault()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        sim::Options o = transparent();
        o.faults.split = true;
        auto gw = startSim(o);
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        QVERIFY(c.send(request));
        const auto chunks = c.chunks(800, reply.size());
        QVERIFY(chunks.size() >= 2);
        QByteArray all;
        qint64 gap = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            all += chunks[i].bytes;
            if (i > 0)
                gap = std::max(gap, chunks[i].atMs - chunks[i - 1].atMs);
        }
        QCOMPARE(all, reply);
        QVERIFY2(gap >= 200, QByteArray::number(gap).constData()); // more than the 100 ms chunk gap
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.replies == 1; }, 1s));
    }

    void garbageFault()
    {
        sim::Options o;
        o.faults.garbage = true;
        o.seed = 7;
        auto gw = startSim(o);
        QVERIFY(gw);
        Client c(QString::fromStdString(gw->linkPath()));
        const QByteArray first = c.exchange("QQQ#QX1#");
        QVERIFY(!first.isEmpty());
        QVERIFY(first != kFactoryParams);
        QVERIFY(!first.contains("MD:"));
        const QByteArray second = c.exchange("QQQ#QX1#");
        QVERIFY(!second.isEmpty());
        QVERIFY(second != first);
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.replies == 2; }, 1s));
    }

    void hangUpFault()
    {
        sim::Options o;
        o.faults.hangupAfter = 2;
        auto gw = startSim(o);
        QVERIFY(gw);
        const QString link = QString::fromStdString(gw->linkPath());
        Client c(link);
        QCOMPARE(c.exchange("QQQ#QV#"), kFactoryIdent);
        QVERIFY(c.send("QQQ#QH00#"));
        // The last reply still arrives before the line drops.
        QCOMPARE(c.collect(500), kFactoryTable);
        QVERIFY(c.waitHangUp(2000));
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.hangups == 1; }, 2s));
        QCOMPARE(gw->slavePath(), std::string());
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        gw->stop();
    }

    void hangUpAndReopen()
    {
        sim::Options o;
        o.faults.hangupAfter = 1;
        o.faults.reopenAfterHangup = true;
        auto gw = startSim(o);
        QVERIFY(gw);
        const QString link = QString::fromStdString(gw->linkPath());
        const std::string firstPath = gw->slavePath();
        {
            Client c(link);
            QCOMPARE(c.exchange("QQS#MD:0#"), QByteArray("SET MD OK#"));
            QVERIFY(c.waitHangUp(2000));
        }
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.hangups == 1; }, 2s));
        const std::string secondPath = gw->slavePath();
        QVERIFY(!secondPath.empty());
        QVERIFY(secondPath != firstPath); // a fresh pty, not the old one
        QCOMPARE(QFileInfo(link).symLinkTarget().toStdString(), secondPath);

        Client again(link);
        QVERIFY(again.isOpen());
        QCOMPARE(again.exchange("QQQ#QX1#"), QByteArray("QX1#MD:0#C1:001#BOA:300#BOB:300#DTA:2#DTB:2#RTM:010#XH:0#"));
        QVERIFY(again.waitHangUp(2000)); // and again after one more request
        QVERIFY(gw->waitFor([](const sim::Counters& n) { return n.hangups == 2; }, 2s));
        gw->stop();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void linkLifecycle()
    {
        auto gw = startSim();
        QVERIFY(gw);
        const QString link = QString::fromStdString(gw->linkPath());
        QCOMPARE(QFileInfo(link).symLinkTarget().toStdString(), gw->slavePath());
        QVERIFY(QString::fromStdString(gw->slavePath()).startsWith("/dev/pts/"));
        gw->stop();
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(gw->slavePath(), std::string());

        // A stale link from an earlier run is replaced.
        QVERIFY(QFile::link("/dev/null", link));
        sim::Options o;
        o.linkPath = link.toStdString();
        sim::GatewaySim second(o);
        QVERIFY(second.start());
        QCOMPARE(QFileInfo(link).symLinkTarget().toStdString(), second.slavePath());
        // Someone else took the name over: stop leaves their link alone.
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link("/dev/null", link));
        second.stop();
        QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
        QVERIFY(QFile::remove(link));

        // A regular file under the name is never clobbered.
        QFile plain(link);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        sim::GatewaySim third(o);
        std::string error;
        QVERIFY(!third.start(&error));
        QVERIFY(!error.empty());
        QVERIFY(QFileInfo(link).isFile());
    }

    void clientsComeAndGo()
    {
        const auto others = ThreadCpu::snapshot(); // all but the simulator's threads
        auto gw = startSim();
        QVERIFY(gw);
        const QString link = QString::fromStdString(gw->linkPath());
        for (int i = 0; i < 3; ++i) {
            Client c(link);
            QCOMPARE(c.exchange("QQQ#QV#"), kFactoryIdent);
        }
        // No client: the worker sits idle (a spinning one would use the whole
        // time) and keeps the port for the next client.
        const auto idleFrom = ThreadCpu::snapshot();
        std::this_thread::sleep_for(300ms);
        const double cpu = ThreadCpu::usedSince(idleFrom, others);
        QVERIFY2(cpu < 0.02, qPrintable(QStringLiteral("%1 s of CPU without a client").arg(cpu)));
        Client c(link);
        QCOMPARE(c.exchange("QQQ#QV#"), kFactoryIdent);
        QElapsedTimer t;
        t.start();
        gw->stop(); // with a client still connected
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(c.waitHangUp(1000));
    }

    void executable()
    {
        const QString link = nextLink();
        QProcess proc;
        proc.start(QStringLiteral(NX_GATEWAY_SIM_EXE),
                   {"--link", link, "--transparent", "--seed", "3", "--quiet"});
        QVERIFY(proc.waitForStarted());
        QByteArray out;
        while (out.count('\n') < 2 && proc.waitForReadyRead(3000))
            out += proc.readAllStandardOutput();
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith("port: /dev/pts/"));
        QCOMPARE(lines[1], "link: " + link.toLocal8Bit());
        QCOMPARE(QFileInfo(link).symLinkTarget().toLocal8Bit(), lines[0].mid(6));
        {
            Client c(link);
            QCOMPARE(c.exchange(kCommand0), kCommand0Reply);
        }
        proc.terminate();
        QVERIFY(proc.waitForFinished(3000));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void executableRejectsBadOptions()
    {
        QProcess proc;
        proc.start(QStringLiteral(NX_GATEWAY_SIM_EXE), {"--slow", "fast"});
        QVERIFY(proc.waitForFinished(3000));
        QCOMPARE(proc.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestGatewaySim)
#include "tst_gatewaysim.moc"
