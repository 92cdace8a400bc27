// SPDX-License-Identifier: GPL-3.0-or-later
// Every request button, clicked in the real window, puts exactly its bytes on
// a real serial line; replies decoded into the controls can be set back.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "../FormLookup.h"
#include "NX260AB.h"
#include "TTimer.h"
#include "TestSupport.h"
#include "WindowSetup.h"

namespace {

QByteArray raw(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string hexBytes(const char *spaced)
{
    std::string out;
    for (const QString &h : QString::fromLatin1(spaced).split(' ', Qt::SkipEmptyParts))
        out += char(h.toInt(nullptr, 16));
    return out;
}

// preambles, 06, address, cmd 0, count, status x2, 254, mfr 0x37, type 0x0C,
// preambles 5, revisions/flags x5, device id 01 02 03, checksum
std::string command0Reply()
{
    std::string r = hexBytes("FF FF FF FF FF 06 80 00 0E 00 00 FE 37 0C 05 05 01 01 00 00 01 02 03");
    uint8_t ck = 0;
    for (size_t i = 5; i < r.size(); ++i)
        ck ^= uint8_t(r[i]);
    return r + char(ck);
}

} // namespace

class TestRequests : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void requests_data();
    void requests();
    void factorySerialLeavesWatchdogAlone();
    void hartEchoAndWatchdog();
    void invalidInput_data();
    void invalidInput();
    void manualEntryMessages_data();
    void manualEntryMessages();
    void systemParametersRoundTrip();
    void instrumentRoundTrip();
    void decodeErrorStopsAndKeepsEarlierFields();
    void outOfRangeDigitLeavesNoSelection();
    void hartIdentityAddressesCommand3();
    void hartCommand3FillsVariables();
    void lateChunkIsShownNotDecoded();

private:
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<TForm1> w;
    std::unique_ptr<MessageCatcher> boxes;
    void reply(const std::string &bytes) { peer->write(bytes); }
    // Command 3 is addressed with what command 0 told.
    void learnIdentity()
    {
        QTest::mouseClick(ui(*w).Button7, Qt::LeftButton);
        peer->readQuiet();
        reply(command0Reply());
        QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
        QVERIFY(w->hartIdentity().has_value());
    }
};

void TestRequests::init()
{
    peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->ok());
    w = std::make_unique<TForm1>(nullptr, TForm1Options{.receivePauseMs = 0});
    boxes = std::make_unique<MessageCatcher>();
    ui(*w).SPREALCOM->setEditText(peer->slavePath());
    QTest::mouseClick(ui(*w).Button1, Qt::LeftButton);
    QVERIFY(w->PortIsOpen);
}

void TestRequests::cleanup()
{
    w.reset();
    boxes.reset();
    peer.reset();
}

void TestRequests::requests_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("pending");
    QTest::addColumn<int>("kind");

    const auto row = [](const char *tag, const char *button, QStringList setup, const std::string &bytes,
                        int pending, int kind) {
        QTest::newRow(tag) << button << setup << raw(bytes) << pending << kind;
    };
    row("comm query", "Button6", {}, "QQQ#QV#", 201, 1);
    row("system parameters", "Button23", {}, "QQQ#QX1#", 202, 2);
    row("instrument table", "Button2", {}, "QQQ#QH00#", 203, 2);
    row("slave address 7", "Button29", {"Edit14=7"}, "QQS#ADR:007#", 200, 3);
    row("slave address 999", "Button29", {"Edit14=999"}, "QQS#ADR:999#", 200, 3);
    row("slave address +0", "Button29", {"Edit14=+0"}, "QQS#ADR:000#", 200, 3);
    row("rs485a defaults", "Button9", {}, "QQS#BOA:300#", 200, 3);
    row("rs485a 115200 even", "Button9", {"BOA=#7", "JIAOA=#2"}, "QQS#BOA:720#", 200, 3);
    row("rs485b 1200 odd", "Button3", {"BOB=#0", "JIAOB=#1"}, "QQS#BOB:010#", 200, 3);
    row("mode defaults", "Button24", {}, "QQS#MD:1#", 200, 3);
    row("mode transparent", "Button24", {"MODEL=#0"}, "QQS#MD:0#", 200, 3);
    row("return time a default", "Button4", {}, std::string("QQS#DTA:\x02#", 10), 200, 3);
    row("return time a none", "Button4", {"DTMA=#0"}, std::string("QQS#DTA:\x00#", 10), 200, 3);
    row("return time b 500", "Button5", {"DTMB=#5"}, std::string("QQS#DTK:\x05#", 10), 200, 3);
    row("interval default", "Button13", {}, "QQS#RDM:010#", 200, 3);
    row("interval 0", "Button13", {"RTD=0"}, "QQS#RDM:000#", 200, 3);
    row("channels 4", "Button14", {"CHXINGHAO=#2"}, "QQS#XH:2#", 200, 3);
    row("instrument 1 defaults", "Button10", {}, "QQS#HA01:1008060#", 200, 3);
    row("instrument 2 own interval", "Button8", {"DTM2=45", "DTM3=60"}, "QQS#HA02:1008045#", 200, 3);
    row("instrument 3 secondary 4", "Button11", {"SBZHU3=#0", "QIADF3=#0", "DTM3=5"}, "QQS#HA03:0004005#", 200, 3);
    row("instrument 4 preamble 9", "Button12", {"QIADF4=#5", "DTM1=1"}, "QQS#HA04:1009060#", 200, 3);
    row("reset", "Button30", {}, "QQS#RESET#", 200, 3);
    row("factory serial", "Button53", {"PCBSN=123", "JIANZHI=#5"}, "QRTNVK#PCBSN:00000123,006#", 200, 0);
    row("factory serial second 006", "Button53", {"PCBSN=99999999", "JIANZHI=#6"}, "QRTNVK#PCBSN:99999999,006#",
        200, 0);
    row("hart cmd0 defaults", "Button7", {}, hexBytes("00 66 55 01 FF FF FF FF FF FF 02 80 00 00 82"), 100, 3);
    row("hart cmd0 addr5 secondary P0", "Button7", {"ComboBox30=#4", "ComboBox42=#1", "Edit9=0"},
        hexBytes("04 66 55 01 02 00 00 00 02"), 100, 3);
    row("hart cmd3 defaults", "Button16", {}, hexBytes("00 66 55 01 FF FF FF FF FF FF 82 B7 0C 01 02 03 03 00 3A"),
        103, 3);
    row("hart cmd3 secondary P2", "Button16", {"ComboBox42=#1", "Edit9=2", "ComboBox30=#31"},
        hexBytes("1F 66 55 01 FF FF 82 37 0C 01 02 03 03 00 BA"), 103, 3);
    row("hart manual", "Button20", {"Edit10=02 80 00 00"}, hexBytes("FF FF FF FF FF FF 02 80 00 00 82"), 104, 3);
    row("hart manual one byte", "Button20", {"Edit10=0A", "Edit9=1"}, hexBytes("FF 0A 0A"), 104, 3);
}

void TestRequests::requests()
{
    QFETCH(QString, button);
    QFETCH(QStringList, setup);
    QFETCH(QByteArray, expected);
    QFETCH(int, pending);
    QFETCH(int, kind);
    if (button == "Button16")
        learnIdentity();
    w->Label4DblClick(); // the channel-model button too
    applySetup(*w, setup);
    ui(*w).Memo10->setPlainText("old reply");
    auto *b = w->findChild<QPushButton *>(button);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
    const std::string got = peer->readQuiet();
    QCOMPARE(raw(got).toHex(' '), expected.toHex(' '));
    QCOMPARE(w->Exchange.pendingReply, pending);
    QCOMPARE(w->Exchange.timeoutKind, kind);
    QCOMPARE(ui(*w).Memo10->toPlainText(), QString());
    const bool hart = button == "Button7" || button == "Button16" || button == "Button20";
    if (hart)
        QCOMPARE(ui(*w).Edit8->text(), QString::fromLatin1(expected.toHex(' ').toUpper() + ' '));
    else
        QCOMPARE(ui(*w).Edit8->text(), QString::fromLatin1(expected));
    QVERIFY(boxes->texts().isEmpty());
}

void TestRequests::factorySerialLeavesWatchdogAlone()
{
    w->Exchange.timeoutKind = 2;
    QTest::mouseClick(ui(*w).Button53, Qt::LeftButton);
    QCOMPARE(peer->readQuiet(), std::string("QRTNVK#PCBSN:00000000,001#"));
    QCOMPARE(w->Exchange.timeoutKind, 2);
    QVERIFY(!w->Timer3->Enabled());
    QCOMPARE(w->Timer3->Interval(), 1000);
}

void TestRequests::hartEchoAndWatchdog()
{
    // HART requests start the watchdog's full count too.
    learnIdentity();
    QTest::mouseClick(ui(*w).Button7, Qt::LeftButton);
    peer->readQuiet();
    QVERIFY(w->Timer3->Enabled());
    QCOMPARE(w->Timer3->Interval(), 3000);
    QVERIFY(ui(*w).Edit8->text().endsWith(' '));
    QTest::mouseClick(ui(*w).Button6, Qt::LeftButton);
    peer->readQuiet();
    QCOMPARE(w->Timer3->Interval(), 3000);
    QTest::mouseClick(ui(*w).Button16, Qt::LeftButton);
    peer->readQuiet();
    QCOMPARE(w->Timer3->Interval(), 3000);
    // No reply: the watchdog stops and names the HART query.
    QTRY_VERIFY_WITH_TIMEOUT(!w->Timer3->Enabled(), 5000);
    QCOMPARE(boxes->texts(), QStringList{QStringLiteral("No reply to HART Command Query within 3 s.")});
    QCOMPARE(w->Exchange.pendingReply, 103);
}

void TestRequests::invalidInput_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("address text") << "Button29" << QStringList{"Edit14=abc"}
                                   << "'abc' is not a valid integer value";
    QTest::newRow("address empty") << "Button29" << QStringList{"Edit14="} << "'' is not a valid integer value";
    QTest::newRow("address 1000") << "Button29" << QStringList{"Edit14=1000"} << "MODBUS Slave Address";
    QTest::newRow("address -1") << "Button29" << QStringList{"Edit14=-1"} << "MODBUS Slave Address";
    QTest::newRow("interval 1000") << "Button13" << QStringList{"RTD=1000"} << "Communication Interval";
    QTest::newRow("interval spaces") << "Button13" << QStringList{"RTD= 10"} << "' 10' is not a valid integer value";
    QTest::newRow("dtm1 1000") << "Button10" << QStringList{"DTM1=1000"} << "Instrument 1 Comm Count";
    QTest::newRow("dtm4 x") << "Button12" << QStringList{"DTM4=6O"} << "'6O' is not a valid integer value";
    QTest::newRow("no preamble item") << "Button10" << QStringList{"QIADF1=#-1"} << "Instrument 1 Length";
    QTest::newRow("no mode item") << "Button24" << QStringList{"MODEL=#-1"} << "Communication Mode";
    QTest::newRow("no baud item") << "Button9" << QStringList{"BOA=#-1"} << "RS485A Baud Rate";
    QTest::newRow("pcbsn text") << "Button53" << QStringList{"PCBSN=12a"} << "'12a' is not a valid integer value";
    QTest::newRow("pcbsn too big") << "Button53" << QStringList{"PCBSN=100000000"} << "PCBSN";
    QTest::newRow("pcbsn negative") << "Button53" << QStringList{"PCBSN=-1"} << "PCBSN";
    QTest::newRow("preambles text") << "Button7" << QStringList{"Edit9=six"} << "'six' is not a valid integer value";
    QTest::newRow("preambles negative") << "Button7" << QStringList{"Edit9=-1"} << "Preamble Length";
    QTest::newRow("preambles cmd0 496") << "Button7" << QStringList{"Edit9=496"} << "0 to 495";
    QTest::newRow("preambles cmd3 492") << "Button16" << QStringList{"Edit9=492"} << "0 to 491";
    QTest::newRow("preambles manual") << "Button20" << QStringList{"Edit10=01 02", "Edit9=502"} << "0 to 501";
}

void TestRequests::invalidInput()
{
    QFETCH(QString, button);
    QFETCH(QStringList, setup);
    QFETCH(QString, message);
    if (button == "Button16")
        learnIdentity();
    applySetup(*w, setup);
    w->Exchange.pendingReply = 201;
    w->Exchange.timeoutKind = 1;
    QTest::mouseClick(w->findChild<QPushButton *>(button), Qt::LeftButton);
    QTRY_COMPARE(boxes->texts().size(), 1);
    QVERIFY2(boxes->texts().first().contains(message), qPrintable(boxes->texts().first()));
    QCOMPARE(peer->readQuiet(100, 400), std::string()); // nothing reaches the gateway
    QCOMPARE(w->Exchange.pendingReply, 201);
    QCOMPARE(w->Exchange.timeoutKind, 1);
    QVERIFY(!w->Timer3->Enabled());
}

void TestRequests::manualEntryMessages_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message");
    QTest::newRow("dash separator") << "0A-1B" << "NO SPACK";
    QTest::newRow("empty") << "" << "NO SPACK";
    QTest::newRow("lower case") << "0a 1b" << "Data eeore!";
    QTest::newRow("bad high nibble") << "G0" << "Data eeore!";
    QTest::newRow("blank low nibble") << "0  1B" << "' ' is not a valid integer value";
    QTest::newRow("16 bytes") << "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"
                              << "At most 15 bytes can be sent by hand.";
    QTest::newRow("lone character") << "0A 1" << "Each byte needs two hex digits.";
}

void TestRequests::manualEntryMessages()
{
    QFETCH(QString, entry);
    QFETCH(QString, message);
    ui(*w).Edit10->setText(entry);
    w->Exchange.pendingReply = 203;
    QTest::mouseClick(ui(*w).Button20, Qt::LeftButton);
    QTRY_COMPARE(boxes->texts(), QStringList{message});
    QCOMPARE(peer->readQuiet(100, 400), std::string());
    QCOMPARE(w->Exchange.pendingReply, 203);
    QVERIFY(!w->Timer3->Enabled());
}

void TestRequests::systemParametersRoundTrip()
{
    QTest::mouseClick(ui(*w).Button23, Qt::LeftButton);
    QCOMPARE(peer->readQuiet(), std::string("QQQ#QX1#"));
    reply("#MD:0C1:017BOA:52BOB:71DTA:4DTB:0RTM:025#");
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
    QCOMPARE(w->Exchange.timeoutKind, 0);
    QCOMPARE(ui(*w).MODEL->currentIndex(), 0);
    QCOMPARE(ui(*w).Edit14->text(), QStringLiteral("017"));
    QCOMPARE(ui(*w).BOA->currentText(), QStringLiteral("38400"));
    QCOMPARE(ui(*w).JIAOA->currentText(), QStringLiteral("Even"));
    QCOMPARE(ui(*w).BOB->currentText(), QStringLiteral("115200"));
    QCOMPARE(ui(*w).JIAOB->currentText(), QStringLiteral("Odd"));
    QCOMPARE(ui(*w).DTMA->currentIndex(), 4);
    QCOMPARE(ui(*w).DTMB->currentIndex(), 0);
    QCOMPARE(ui(*w).RTD->text(), QStringLiteral("025"));

    const struct { QPushButton *b; std::string bytes; } sets[] = {
        {ui(*w).Button24, "QQS#MD:0#"},
        {ui(*w).Button29, "QQS#ADR:017#"},
        {ui(*w).Button9, "QQS#BOA:520#"},
        {ui(*w).Button3, "QQS#BOB:710#"},
        {ui(*w).Button4, std::string("QQS#DTA:\x04#", 10)},
        {ui(*w).Button5, std::string("QQS#DTK:\x00#", 10)},
        {ui(*w).Button13, "QQS#RDM:025#"},
    };
    for (const auto &s : sets) {
        QTest::mouseClick(s.b, Qt::LeftButton);
        QCOMPARE(peer->readQuiet(), s.bytes);
    }
    QVERIFY(boxes->texts().isEmpty());
}

void TestRequests::instrumentRoundTrip()
{
    QTest::mouseClick(ui(*w).Button2, Qt::LeftButton);
    QCOMPARE(peer->readQuiet(), std::string("QQQ#QH00#"));
    reply("T01:1008060#T02:0004120#T03:1009999#T04:0005007#");
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
    const char *expect[] = {"QQS#HA01:1008060#", "QQS#HA02:0004120#", "QQS#HA03:1009999#", "QQS#HA04:0005007#"};
    QPushButton *buttons[] = {ui(*w).Button10, ui(*w).Button8, ui(*w).Button11, ui(*w).Button12};
    for (int i = 0; i < 4; ++i) {
        QTest::mouseClick(buttons[i], Qt::LeftButton);
        QCOMPARE(peer->readQuiet(), std::string(expect[i]));
    }
    QVERIFY(boxes->texts().isEmpty());
}

void TestRequests::decodeErrorStopsAndKeepsEarlierFields()
{
    QTest::mouseClick(ui(*w).Button23, Qt::LeftButton);
    peer->readQuiet();
    reply("MD:0DTA:xDTB:3RTM:077");
    QTRY_COMPARE_WITH_TIMEOUT(boxes->texts(), QStringList{"'x' is not a valid integer value"}, 3000);
    QCOMPARE(ui(*w).MODEL->currentIndex(), 0); // decoded before the failure
    QCOMPARE(ui(*w).DTMA->currentIndex(), 2);  // unchanged
    QCOMPARE(ui(*w).DTMB->currentIndex(), 2);  // not reached
    QCOMPARE(ui(*w).RTD->text(), QStringLiteral("10"));
    QCOMPARE(w->Exchange.pendingReply, 0);
    QCOMPARE(w->Exchange.timeoutKind, 0);
}

void TestRequests::outOfRangeDigitLeavesNoSelection()
{
    QTest::mouseClick(ui(*w).Button2, Qt::LeftButton);
    peer->readQuiet();
    reply("T02:1003060");
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
    QCOMPARE(ui(*w).QIADF[1]->currentIndex(), -1);
    QCOMPARE(ui(*w).QIADF[0]->currentIndex(), 4);
    // Set refuses to send a value the gateway has no code for.
    QTest::mouseClick(ui(*w).Button8, Qt::LeftButton);
    QTRY_COMPARE(boxes->texts().size(), 1);
    QVERIFY(boxes->texts().first().contains("Instrument 2 Length"));
    QCOMPARE(peer->readQuiet(100, 400), std::string());
}

void TestRequests::hartIdentityAddressesCommand3()
{
    learnIdentity();
    QCOMPARE(ui(*w).Edit28->text(), QStringLiteral("55"));
    QCOMPARE(ui(*w).Edit29->text(), QStringLiteral("12"));
    QCOMPARE(ui(*w).Edit31->text(), QStringLiteral("5"));
    QCOMPARE(ui(*w).Edit32->text(), QStringLiteral("66051"));
    QCOMPARE(ui(*w).Memo10->toPlainText().left(15), QStringLiteral("FF FF FF FF FF "));

    QTest::mouseClick(ui(*w).Button16, Qt::LeftButton);
    // 82, 0x80|0x37, 0C, 01 02 03, 03, 00, checksum
    const uint8_t c = 0x82 ^ 0xB7 ^ 0x0C ^ 0x01 ^ 0x02 ^ 0x03 ^ 0x03 ^ 0x00;
    std::string expect = hexBytes("00 66 55 01 FF FF FF FF FF FF 82 B7 0C 01 02 03 03 00");
    expect += char(c);
    QCOMPARE(raw(peer->readQuiet()).toHex(' '), raw(expect).toHex(' '));

    // A reply without the marker, or one that holds it but ends before the
    // device id, empties the boxes and keeps the identity; so does closing
    // and reopening the port.
    for (const char *shortReply : {"FF FF 86 00", "FF FF 06 80 00 0E 00 00 FE 11 22 05 05 01 01 00 00 09"}) {
        QTest::mouseClick(ui(*w).Button7, Qt::LeftButton);
        peer->readQuiet();
        reply(hexBytes(shortReply));
        QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
        QCOMPARE(ui(*w).Edit32->text(), QString());
        QTest::mouseClick(ui(*w).Button1, Qt::LeftButton);
        QTest::mouseClick(ui(*w).Button1, Qt::LeftButton);
        QVERIFY(w->PortIsOpen);
        QTest::mouseClick(ui(*w).Button16, Qt::LeftButton);
        QCOMPARE(raw(peer->readQuiet()).toHex(' '), raw(expect).toHex(' '));
    }
}

void TestRequests::hartCommand3FillsVariables()
{
    learnIdentity();
    QTest::mouseClick(ui(*w).Button16, Qt::LeftButton);
    peer->readQuiet();
    // FF 86, address 5, cmd 03, count 26, status 2, current 4, then
    // (unit, float) x4: 19 m3/h 100.0, 32 degC pi, 39 (unlisted) 0, 237 MPa 1.5
    std::string r = hexBytes("FF FF 86 80 00 00 00 00 03 1A 00 00 41 80 00 00 "
                             "13 42 C8 00 00 20 40 49 0F DB 27 00 00 00 00 ED 3F C0 00 00");
    uint8_t ck = 0;
    for (size_t i = 2; i < r.size(); ++i)
        ck ^= uint8_t(r[i]);
    r += char(ck);
    reply(r);
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
    QCOMPARE(ui(*w).Edit25->text(), QStringLiteral("100"));
    QCOMPARE(ui(*w).ComboBox3->currentIndex(), 19);
    QCOMPARE(ui(*w).Edit26->text(), QStringLiteral("3.1415927"));
    QCOMPARE(ui(*w).ComboBox31->currentText(), QString::fromUtf8("℃"));
    QCOMPARE(ui(*w).Edit27->text(), QStringLiteral("0"));
    QCOMPARE(ui(*w).ComboBox32->currentText(), QStringLiteral("other"));
    QCOMPARE(ui(*w).Edit30->text(), QStringLiteral("1.5"));
    QCOMPARE(ui(*w).ComboBox33->currentText(), QStringLiteral("MPa"));
}

void TestRequests::lateChunkIsShownNotDecoded()
{
    QTest::mouseClick(ui(*w).Button23, Qt::LeftButton);
    peer->readQuiet();
    reply("MD:0");
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 3000);
    QCOMPARE(ui(*w).MODEL->currentIndex(), 0);
    reply("MD:1");
    QTRY_COMPARE_WITH_TIMEOUT(ui(*w).Memo10->toPlainText(), QStringLiteral("MD:1"), 3000);
    QVERIFY(!w->Timer2->Enabled()); // no decode to come
    QCOMPARE(ui(*w).MODEL->currentIndex(), 0);
}

QTEST_MAIN(TestRequests)
#include "test_requests.moc"
