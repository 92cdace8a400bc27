// SPDX-License-Identifier: GPL-3.0-or-later
// The MODBUS master and values: every type and order against known register
// bytes; exceptions, silence and a bad CRC from a slave scripted on a
// pseudo-terminal; and the simulator's RS485 A slave, which answers only at
// the gateway's address, baud rate and parity.
#include "GatewaySim.h"
#include "ModbusMaster.h"
#include "ModbusSlave.h"
#include "SimPty.h"

#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <thread>

using namespace std::chrono_literals;
using modbus::Error;
using modbus::Format;
using modbus::Function;
using modbus::Order;
using modbus::Type;

Q_DECLARE_METATYPE(modbus::Format)

namespace {

std::uint16_t crc(const std::vector<std::uint8_t> &b)
{
    std::uint16_t c = 0xFFFF;
    for (const std::uint8_t x : b) {
        c ^= x;
        for (int i = 0; i < 8; ++i)
            c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : static_cast<std::uint16_t>(c >> 1);
    }
    return c;
}

// A slave played by the test on the far side of a pty: reads one request
// and writes `reply` (CRC appended unless `badCrc`), or nothing.
class ScriptedSlave {
public:
    ScriptedSlave() { ok_ = sim::openPty(pty_, nullptr); }
    ~ScriptedSlave()
    {
        if (thread_.joinable())
            thread_.join();
        sim::closeFd(pty_.master);
        sim::closeFd(pty_.slave);
    }
    bool ok() const { return ok_; }
    std::string path() const { return pty_.path; }

    void answerOnce(std::vector<std::uint8_t> reply, bool badCrc = false)
    {
        if (!reply.empty()) {
            const std::uint16_t c = crc(reply);
            reply.push_back(static_cast<std::uint8_t>(c ^ (badCrc ? 0x5A : 0)));
            reply.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        thread_ = std::thread([this, reply] {
            pollfd p{pty_.master, POLLIN, 0};
            if (::poll(&p, 1, 3000) != 1)
                return;
            std::uint8_t buf[256];
            const ssize_t n = ::read(pty_.master, buf, sizeof buf);
            request_.assign(buf, buf + std::max<ssize_t>(n, 0));
            if (!reply.empty())
                (void)!::write(pty_.master, reply.data(), reply.size());
        });
    }
    std::vector<std::uint8_t> request()
    {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

private:
    sim::Pty pty_;
    bool ok_ = false;
    std::thread thread_;
    std::vector<std::uint8_t> request_;
};

modbus::Line lineAt(const std::string &port, int baud = 9600, modbus::Parity parity = modbus::Parity::None)
{
    modbus::Line l;
    l.port = port;
    l.baud = baud;
    l.parity = parity;
    l.replyDelay = modbus::returnTimeAllowance(2);
    return l;
}

} // namespace

class TstModbus : public QObject {
    Q_OBJECT
private slots:
    void valuesInEveryOrder_data();
    void valuesInEveryOrder();
    void exceptionsAreNamed_data();
    void exceptionsAreNamed();
    void silenceAndBadCrc();
    void simulatorServesTheInstrument();
    void simulatorRefusesAWrongLine_data();
    void simulatorRefusesAWrongLine();
};

void TstModbus::valuesInEveryOrder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("wire"); // register bytes as on the wire
    QTest::addColumn<double>("value");
    // 0x12345678 = 305419896; float 1.5 = 3F C0 00 00; -2 = FFFFFFFE.
    const struct {
        const char *name, *hex;
        double value;
    } rows[] = {
        {"uint16", "1234", 0x1234},        {"uint16-cdab", "1234", 0x1234},   {"uint16-badc", "3412", 0x1234},
        {"uint16-dcba", "3412", 0x1234},   {"int16", "FFFE", -2},             {"int16-badc", "FEFF", -2},
        {"int16-dcba", "0080", -32768},    {"uint32", "12345678", 305419896}, {"uint32-cdab", "56781234", 305419896},
        {"uint32-badc", "34127856", 305419896}, {"uint32-dcba", "78563412", 305419896},
        {"int32", "FFFFFFFE", -2},         {"int32-cdab", "FFFEFFFF", -2},    {"int32-badc", "FFFFFEFF", -2},
        {"int32-dcba", "FEFFFFFF", -2},    {"int32", "80000000", -2147483648.0},
        {"float32", "3FC00000", 1.5},      {"float32-cdab", "00003FC0", 1.5}, {"float32-badc", "C03F0000", 1.5},
        {"float32-dcba", "0000C03F", 1.5}, {"float32-cdab", "AB8F4227", 41.917537689208984},
    };
    for (const auto &r : rows)
        QTest::newRow((std::string(r.name) + " " + r.hex).c_str())
            << QString(r.name) << QByteArray::fromHex(r.hex) << r.value;
}

void TstModbus::valuesInEveryOrder()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, wire);
    QFETCH(double, value);
    const auto format = modbus::parseFormat(name.toStdString());
    QVERIFY(format);
    QCOMPARE(modbus::formatName(*format), name.toStdString());
    std::vector<std::uint16_t> words;
    for (int i = 0; i + 1 < wire.size(); i += 2)
        words.push_back(static_cast<std::uint16_t>(std::uint8_t(wire[i]) << 8 | std::uint8_t(wire[i + 1])));
    QCOMPARE(int(words.size()), modbus::registerCount(format->type));
    QCOMPARE(*modbus::decode(words, *format), value);
    QCOMPARE(modbus::encode(value, *format), words);
    QVERIFY(!modbus::decode(std::span(words).first(words.size() - 1), *format)); // one register short
}

void TstModbus::exceptionsAreNamed_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("1") << 1 << "Illegal Function";
    QTest::newRow("2") << 2 << "Illegal Data Address";
    QTest::newRow("3") << 3 << "Illegal Data Value";
    QTest::newRow("4") << 4 << "Server Device Failure";
    QTest::newRow("6") << 6 << "Server Device Busy";
}

void TstModbus::exceptionsAreNamed()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    ScriptedSlave slave;
    QVERIFY(slave.ok());
    modbus::Master m;
    QVERIFY(m.open(lineAt(slave.path())).ok());
    slave.answerOnce({0x01, 0x84, static_cast<std::uint8_t>(code)});
    const modbus::Result r = m.read(Function::InputRegisters, 7, 2);
    QCOMPARE(slave.request(), (std::vector<std::uint8_t>{0x01, 0x04, 0x00, 0x07, 0x00, 0x02, 0xC0, 0x0A}));
    QCOMPARE(r.error, Error::Exception);
    QCOMPARE(r.exception, code);
    QVERIFY2(r.message.find("exception " + std::to_string(code) + " (" + name.toStdString() + ")") != std::string::npos,
             r.message.c_str());
    QCOMPARE(m.counters().exceptions[static_cast<std::size_t>(code)], 1u);
    QCOMPARE(m.counters().exceptionTotal(), 1u);
    QCOMPARE(m.counters().answers, 0u);
}

void TstModbus::silenceAndBadCrc()
{
    ScriptedSlave slave;
    QVERIFY(slave.ok());
    modbus::Master m;
    modbus::Line line = lineAt(slave.path(), 19200);
    QVERIFY(m.open(line).ok());

    // Silence: reported after the reply delay and both frames' line time
    // plus the margin, with what to check.
    slave.answerOnce({});
    QElapsedTimer t;
    t.start();
    modbus::Result r = m.read(Function::HoldingRegisters, 0, 8);
    const qint64 waited = t.elapsed();
    slave.request();
    const auto timeout = modbus::responseTimeout(line, 8).count();
    QCOMPARE(timeout, 200 + 19 + 200); // (8 + 21 + 3.5) x 11 bits at 19200, rounded up
    QCOMPARE(r.error, Error::NoAnswer);
    QVERIFY2(waited >= timeout - 5 && waited < timeout + 150, QByteArray::number(waited));
    for (const char *hint : {"slave address 1", "19200 baud", "parity none", "A/B wiring"})
        QVERIFY2(r.message.find(hint) != std::string::npos, r.message.c_str());

    // A bad CRC is named as such, and the next good answer is read whole.
    slave.answerOnce({0x01, 0x03, 0x02, 0x12, 0x34}, true);
    r = m.read(Function::HoldingRegisters, 0, 1);
    slave.request();
    QCOMPARE(r.error, Error::Crc);
    slave.answerOnce({0x01, 0x03, 0x02, 0x12, 0x34});
    r = m.read(Function::HoldingRegisters, 0, 1);
    slave.request();
    QVERIFY2(r.ok(), r.message.c_str());
    QCOMPARE(r.registers, std::vector<std::uint16_t>{0x1234});

    const modbus::Counters &c = m.counters();
    QCOMPARE(c.requests, 3u);
    QCOMPARE(c.noAnswer, 1u);
    QCOMPARE(c.crc, 1u);
    QCOMPARE(c.answers, 1u);
}

void TstModbus::simulatorServesTheInstrument()
{
    sim::Options o;
    o.linkPath.clear();
    o.initialState.slaveAddress = 17;
    o.initialState.baudA = 4; // 19200
    o.initialState.parityA = 2;
    o.initialState.returnTimeA = 1; // 100 ms
    sim::GatewaySim gateway(o);
    QVERIFY(gateway.start());
    sim::ModbusSlave slave(gateway, "");
    QVERIFY(slave.start());
    modbus::Master m;
    modbus::Line line = lineAt(slave.slavePath(), 19200, modbus::Parity::Even);
    line.slave = 17;
    line.replyDelay = 100ms;
    QVERIFY(m.open(line).ok());

    const modbus::Result r = m.read(Function::HoldingRegisters, 0, 10);
    QVERIFY2(r.ok(), r.message.c_str());
    const sim::Command3Values v = gateway.polledValues();
    for (int i = 0; i < 4; ++i)
        QCOMPARE(float(*modbus::decode(std::span(r.registers).subspan(2 * i, 2), {Type::Float32, Order::ABCD})),
                 v.values[static_cast<std::size_t>(i)]);
    QCOMPARE(float(*modbus::decode(std::span(r.registers).subspan(8, 2), {Type::Float32, Order::ABCD})), v.current);
    // The reply leaves when both frames and the reply delay are over:
    // (8 + 25 + 3.5) x 11 bits at 19200 + 100 ms.
    QVERIFY2(r.roundTrip >= 120ms && r.roundTrip < 150ms, QByteArray::number(qint64(r.roundTrip.count())));

    const modbus::Result in = m.read(Function::InputRegisters, 0, 4);
    QVERIFY2(in.ok(), in.message.c_str());
    QCOMPARE(*modbus::decode(std::span(in.registers).first(1), {Type::Int16, Order::ABCD}),
             std::round(double(v.values[0]) * 100));
    QCOMPARE(*modbus::decode(std::span(in.registers).subspan(2, 2), {Type::UInt32, Order::CDAB}),
             std::round(double(v.values[3]) * 1000));
    const modbus::Result online = m.read(Function::DiscreteInputs, 0, 1);
    QVERIFY2(online.ok(), online.message.c_str());
    QCOMPARE(online.bits, std::vector<std::uint8_t>{1});

    // Outside the map: exception 2; a count beyond 125: refused before sending.
    QCOMPARE(m.read(Function::HoldingRegisters, 9, 3).exception, 2);
    QCOMPARE(m.read(Function::Coils, 0, 1).exception, 2);
    QCOMPARE(m.read(Function::HoldingRegisters, 0, 126).error, Error::Usage);
    QCOMPARE(m.writeRegisters(0, {1}, modbus::Confirmed{}).exception, 1);
    QCOMPARE(slave.counters().ignored, 0u);
}

void TstModbus::simulatorRefusesAWrongLine_data()
{
    QTest::addColumn<int>("slaveAddress");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::newRow("other address") << 2 << 9600 << 0;
    QTest::newRow("even parity") << 1 << 9600 << 2;
    QTest::newRow("odd parity") << 1 << 9600 << 1;
    QTest::newRow("19200 baud") << 1 << 19200 << 0;
}

void TstModbus::simulatorRefusesAWrongLine()
{
    QFETCH(int, slaveAddress);
    QFETCH(int, baud);
    QFETCH(int, parity);
    sim::Options o;
    o.linkPath.clear(); // factory settings: address 1, 9600, none, 200 ms
    sim::GatewaySim gateway(o);
    QVERIFY(gateway.start());
    sim::ModbusSlave slave(gateway, "");
    QVERIFY(slave.start());
    modbus::Master m;
    modbus::Line line = lineAt(slave.slavePath(), baud, static_cast<modbus::Parity>(parity));
    line.slave = slaveAddress;
    QVERIFY(m.open(line).ok());
    const modbus::Result r = m.read(Function::HoldingRegisters, 0, 2);
    QCOMPARE(r.error, Error::NoAnswer);
    QCOMPARE(slave.counters().ignored, 1u);
    QCOMPARE(slave.counters().answers + slave.counters().exceptions, 0u);

    // The same master at the gateway's settings is answered.
    QVERIFY(m.open(lineAt(slave.slavePath())).ok());
    const modbus::Result good = m.read(Function::HoldingRegisters, 0, 2);
    QVERIFY2(good.ok(), good.message.c_str());
}

QTEST_GUILESS_MAIN(TstModbus)
#include "tst_modbus.moc"
