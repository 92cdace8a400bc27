// SPDX-License-Identifier: GPL-3.0-or-later
// Meanings of configuration requests (from the real builders) and replies.
#include <QtTest>

#include "ConfigMeaning.h"
#include "ConfigRequests.h"

using namespace exchange;

class TestConfigMeaning : public QObject {
    Q_OBJECT
private slots:
    void requests_data()
    {
        auto text = [](const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); };
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("query") << text(systemParameterQuery()) << "System parameter query";
        QTest::newRow("rs485") << text(setRs485('A', 4, 2)) << "Set RS485A: 19200 baud, Even";
        QTest::newRow("rs485 B") << text(setRs485('B', 7, 0)) << "Set RS485B: 115200 baud, None";
        QTest::newRow("address") << text(setSlaveAddress(7)) << "Set MODBUS slave address: 007";
        QTest::newRow("mode") << text(setCommunicationMode(0)) << "Set communication mode: Transparent Mode";
        QTest::newRow("return time raw") << text(setDataReturnTime('B', 4)) << "Set RS485B data return time: 4_300MS";
        QTest::newRow("interval") << text(setCommunicationInterval(10)) << "Set communication interval: 010 x 100 ms";
        QTest::newRow("channels") << text(setChannelModel(2)) << "Set channel model: 4 Channels";
        QTest::newRow("instrument") << text(setInstrument(2, 1, 0, 4, 60))
                                    << "Set instrument 2: Master Device, Yokogawa Vortex Flowmeter, 8 preambles, comm count 060";
        QTest::newRow("factory") << QByteArray::fromStdString(factorySerialRequest(123, 6))
                                 << "Set factory data: PCBSN 00000123, inspector 006";
        QTest::newRow("unknown") << QByteArray("QQS#ZZ:1#") << "unknown request";
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, meaning);
        QCOMPARE(QString::fromStdString(describeRequest(request.toStdString())), meaning);
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("system") << QByteArray("QX1#MD:1#C1:001#BOA:320#BOB:410#DTA:2#DTB:5#RTM:010#XH:0#")
            << "System parameters: mode MODBUS Mode, slave address 001, RS485A 9600 baud, Even, RS485B 19200 baud, Odd, "
               "RS485A return time 2_200MS, RS485B return time 5_500MS, interval 010 x 100 ms, channel model 1 Channels";
        QTest::newRow("cut") << QByteArray("MD:x#BOA:3") << "System parameters: mode 'x', RS485A incomplete";
        QTest::newRow("instruments") << QByteArray("QH00#T01:1008060#T03:0005")
            << "Instrument table: instrument 1 Master Device, Yokogawa Vortex Flowmeter, 8 preambles, comm count 060; "
               "instrument 3 incomplete";
        QTest::newRow("ack") << QByteArray("SET BOA OK#") << "Reply: SET BOA OK";
    }
    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, meaning);
        QCOMPARE(QString::fromStdString(describeReply(reply.toStdString())), meaning);
    }
};

QTEST_GUILESS_MAIN(TestConfigMeaning)
#include "test_config_meaning.moc"
