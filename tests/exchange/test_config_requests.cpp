// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigRequests.h"

#include <QtTest>

using namespace exchange;

namespace {
QByteArray bytes(const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); }
QByteArray bytes(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }
// Expected requests are spelled out with explicit lengths so that 0x00 bytes count.
QByteArray raw(const char *s, qsizetype n) { return QByteArray(s, n); }
} // namespace

class TestConfigRequests : public QObject {
    Q_OBJECT
private slots:
    void exactBytes_data();
    void exactBytes();
    void refusesValuesThatDoNotEncode_data();
    void refusesValuesThatDoNotEncode();
};

void TestConfigRequests::exactBytes_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("length");

    // Queries and the fixed reset.
    QTest::newRow("communication query") << bytes(communicationQuery()) << QByteArray("QQQ#QV#") << 7;
    QTest::newRow("system parameters") << bytes(systemParameterQuery()) << QByteArray("QQQ#QX1#") << 8;
    QTest::newRow("instrument table") << bytes(instrumentQuery()) << QByteArray("QQQ#QH00#") << 9;
    QTest::newRow("parameter initialization") << bytes(parameterInitialization()) << QByteArray("QQS#RESET#") << 10;

    // MODBUS slave address: three digits, zero-padded.
    QTest::newRow("address 0") << bytes(setSlaveAddress(0)) << QByteArray("QQS#ADR:000#") << 12;
    QTest::newRow("address 7") << bytes(setSlaveAddress(7)) << QByteArray("QQS#ADR:007#") << 12;
    QTest::newRow("address 10") << bytes(setSlaveAddress(10)) << QByteArray("QQS#ADR:010#") << 12;
    QTest::newRow("address 247") << bytes(setSlaveAddress(247)) << QByteArray("QQS#ADR:247#") << 12;
    QTest::newRow("address 999") << bytes(setSlaveAddress(999)) << QByteArray("QQS#ADR:999#") << 12;

    // RS485 ports: baud digit, parity digit, fixed "0".
    QTest::newRow("BOA defaults 9600 None") << bytes(setRs485('A', 3, 0)) << QByteArray("QQS#BOA:300#") << 12;
    QTest::newRow("BOA 115200 Even") << bytes(setRs485('A', 7, 2)) << QByteArray("QQS#BOA:720#") << 12;
    QTest::newRow("BOA 1200 Odd") << bytes(setRs485('A', 0, 1)) << QByteArray("QQS#BOA:010#") << 12;
    QTest::newRow("BOB defaults") << bytes(setRs485('B', 3, 0)) << QByteArray("QQS#BOB:300#") << 12;
    QTest::newRow("BOB 56000 Odd") << bytes(setRs485('B', 6, 1)) << QByteArray("QQS#BOB:610#") << 12;

    // Communication mode.
    QTest::newRow("mode MODBUS (default)") << bytes(setCommunicationMode(1)) << QByteArray("QQS#MD:1#") << 9;
    QTest::newRow("mode transparent") << bytes(setCommunicationMode(0)) << QByteArray("QQS#MD:0#") << 9;

    // Data return time: the raw index byte, 0x00 included; port B's key is "DTK:".
    QTest::newRow("DTA default 2_200MS") << bytes(setDataReturnTime('A', 2)) << raw("QQS#DTA:\x02#", 10) << 10;
    QTest::newRow("DTA 0 sends a NUL") << bytes(setDataReturnTime('A', 0)) << raw("QQS#DTA:\x00#", 10) << 10;
    QTest::newRow("DTA 5") << bytes(setDataReturnTime('A', 5)) << raw("QQS#DTA:\x05#", 10) << 10;
    QTest::newRow("DTK default") << bytes(setDataReturnTime('B', 2)) << raw("QQS#DTK:\x02#", 10) << 10;
    QTest::newRow("DTK 0 sends a NUL") << bytes(setDataReturnTime('B', 0)) << raw("QQS#DTK:\x00#", 10) << 10;
    QTest::newRow("DTK 4 (4_300MS)") << bytes(setDataReturnTime('B', 4)) << raw("QQS#DTK:\x04#", 10) << 10;

    // Communication interval in units of 100 ms.
    QTest::newRow("interval default 10") << bytes(setCommunicationInterval(10)) << QByteArray("QQS#RDM:010#") << 12;
    QTest::newRow("interval 0") << bytes(setCommunicationInterval(0)) << QByteArray("QQS#RDM:000#") << 12;
    QTest::newRow("interval 100") << bytes(setCommunicationInterval(100)) << QByteArray("QQS#RDM:100#") << 12;
    QTest::newRow("interval 999") << bytes(setCommunicationInterval(999)) << QByteArray("QQS#RDM:999#") << 12;

    // Channel model.
    QTest::newRow("channels default 1") << bytes(setChannelModel(0)) << QByteArray("QQS#XH:0#") << 9;
    QTest::newRow("channels 2") << bytes(setChannelModel(1)) << QByteArray("QQS#XH:1#") << 9;
    QTest::newRow("channels 4") << bytes(setChannelModel(2)) << QByteArray("QQS#XH:2#") << 9;

    // Instrument rows: mode digit, two-digit type, preamble item text, three-digit interval.
    QTest::newRow("HA01 defaults") << bytes(setInstrument(1, 1, 0, 4, 60)) << QByteArray("QQS#HA01:1008060#") << 17;
    QTest::newRow("HA02 interval 45") << bytes(setInstrument(2, 1, 0, 4, 45)) << QByteArray("QQS#HA02:1008045#") << 17;
    QTest::newRow("HA03 all lowest") << bytes(setInstrument(3, 0, 0, 0, 0)) << QByteArray("QQS#HA03:0004000#") << 17;
    QTest::newRow("HA04 all highest") << bytes(setInstrument(4, 1, 99, 5, 999)) << QByteArray("QQS#HA04:1999999#") << 17;
    QTest::newRow("HA01 type 12 preamble 5") << bytes(setInstrument(1, 0, 12, 1, 7)) << QByteArray("QQS#HA01:0125007#") << 17;
    QTest::newRow("HA04 preamble 6") << bytes(setInstrument(4, 1, 0, 2, 300)) << QByteArray("QQS#HA04:1006300#") << 17;

    // Factory serial number and inspector code.
    QTest::newRow("PCBSN 123 / 006") << bytes(factorySerialRequest(123, 6)) << QByteArray("QRTNVK#PCBSN:00000123,006#") << 26;
    QTest::newRow("PCBSN defaults") << bytes(factorySerialRequest(0, 1)) << QByteArray("QRTNVK#PCBSN:00000000,001#") << 26;
    QTest::newRow("PCBSN highest") << bytes(factorySerialRequest(99999999, 999)) << QByteArray("QRTNVK#PCBSN:99999999,999#") << 26;
    QTest::newRow("PCBSN 12345678 / 104") << bytes(factorySerialRequest(12345678, 104)) << QByteArray("QRTNVK#PCBSN:12345678,104#") << 26;
}

void TestConfigRequests::exactBytes()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QFETCH(int, length);

    QCOMPARE(expected.size(), qsizetype(length)); // guards the hand-written vector itself
    QCOMPARE(built.size(), qsizetype(length));
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void TestConfigRequests::refusesValuesThatDoNotEncode_data()
{
    QTest::addColumn<QByteArray>("built");

    QTest::newRow("address -1") << bytes(setSlaveAddress(-1));
    QTest::newRow("address 1000") << bytes(setSlaveAddress(1000));
    QTest::newRow("address INT_MIN") << bytes(setSlaveAddress(INT32_MIN));
    QTest::newRow("interval -1") << bytes(setCommunicationInterval(-1));
    QTest::newRow("interval 1000") << bytes(setCommunicationInterval(1000));
    QTest::newRow("rs485 port C") << bytes(setRs485('C', 3, 0));
    QTest::newRow("rs485 port a") << bytes(setRs485('a', 3, 0));
    QTest::newRow("rs485 baud unselected") << bytes(setRs485('A', -1, 0));
    QTest::newRow("rs485 parity unselected") << bytes(setRs485('B', 3, -1));
    QTest::newRow("rs485 baud 10") << bytes(setRs485('A', 10, 0));
    QTest::newRow("mode unselected") << bytes(setCommunicationMode(-1));
    QTest::newRow("mode 10") << bytes(setCommunicationMode(10));
    QTest::newRow("return time unselected") << bytes(setDataReturnTime('A', -1));
    QTest::newRow("return time 6") << bytes(setDataReturnTime('A', 6));
    QTest::newRow("return time B 6") << bytes(setDataReturnTime('B', 6));
    QTest::newRow("return time port X") << bytes(setDataReturnTime('X', 0));
    QTest::newRow("channels unselected") << bytes(setChannelModel(-1));
    QTest::newRow("instrument row 0") << bytes(setInstrument(0, 1, 0, 4, 60));
    QTest::newRow("instrument row 5") << bytes(setInstrument(5, 1, 0, 4, 60));
    QTest::newRow("instrument mode unselected") << bytes(setInstrument(1, -1, 0, 4, 60));
    QTest::newRow("instrument type unselected") << bytes(setInstrument(1, 1, -1, 4, 60));
    QTest::newRow("instrument type 100") << bytes(setInstrument(1, 1, 100, 4, 60));
    QTest::newRow("instrument preamble unselected") << bytes(setInstrument(1, 1, 0, -1, 60));
    QTest::newRow("instrument preamble 6") << bytes(setInstrument(1, 1, 0, 6, 60));
    QTest::newRow("instrument interval -1") << bytes(setInstrument(1, 1, 0, 4, -1));
    QTest::newRow("instrument interval 1000") << bytes(setInstrument(1, 1, 0, 4, 1000));
    QTest::newRow("serial -1") << bytes(factorySerialRequest(-1, 1));
    QTest::newRow("serial 100000000") << bytes(factorySerialRequest(100000000, 1));
    QTest::newRow("serial INT_MIN") << bytes(factorySerialRequest(INT32_MIN, 1));
    QTest::newRow("inspector -1") << bytes(factorySerialRequest(1, -1));
    QTest::newRow("inspector 1000") << bytes(factorySerialRequest(1, 1000));
}

void TestConfigRequests::refusesValuesThatDoNotEncode()
{
    QFETCH(QByteArray, built);
    QVERIFY2(built.isEmpty(), built.toHex(' ').constData());
}

QTEST_APPLESS_MAIN(TestConfigRequests)
#include "test_config_requests.moc"
