// SPDX-License-Identifier: GPL-3.0-or-later
// The request/reply cycle's state: composing, receiving, branching.
#include <QtTest>

#include "Exchange.h"

using namespace exchange;

class TestExchangeEngine : public QObject {
    Q_OBJECT
private slots:
    void byteToHex_data();
    void byteToHex();
    void hexRenderEndsWithBlank();
    void composeKeepsEveryByte();
    void receiveJoinsOneReplyUpTo255();
    void receivePlans_data();
    void receivePlans();
    void decodeBranches();
    void watchdogMessages();
};

void TestExchangeEngine::byteToHex_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("hex");
    QTest::newRow("0") << 0 << "00";
    QTest::newRow("9") << 9 << "09";
    QTest::newRow("10") << 10 << "0A";
    QTest::newRow("171") << 171 << "AB";
    QTest::newRow("255") << 255 << "FF";
    QTest::newRow("256") << 256 << ".";
    QTest::newRow("-1") << -1 << ".";
}

void TestExchangeEngine::byteToHex()
{
    QFETCH(int, value);
    QFETCH(QString, hex);
    QCOMPARE(QString::fromStdString(ByteToHex(value)), hex);
}

void TestExchangeEngine::hexRenderEndsWithBlank()
{
    const uint8_t b[] = {0xFF, 0x06};
    QCOMPARE(hexRender(b), std::string("FF 06 "));
    QCOMPARE(hexRender({}), std::string());
}

void TestExchangeEngine::composeKeepsEveryByte()
{
    ExchangeState s;
    const uint8_t req[] = {'Q', 0x00, '#'};
    const auto text = s.compose(req);
    QVERIFY(text);
    QCOMPARE(*text, std::string("Q\0#", 3));
    std::vector<uint8_t> big(kFrameCapacity + 1, 0xFF);
    QVERIFY(!s.compose(big));
    big.pop_back();
    QCOMPARE(s.compose(big)->size(), kFrameCapacity);
}

void TestExchangeEngine::receiveJoinsOneReplyUpTo255()
{
    // Chunks after one request join into one reply of at most 255 bytes; once
    // nothing is awaited (decoded) a chunk starts afresh, as does the reply
    // to the next request.
    ExchangeState s;
    s.pendingReply = PendingSystemParams;
    const uint8_t a[] = {'a', 'b', 'c', 'd'};
    const uint8_t b[] = {'x'};
    s.receive(a, 4);
    QCOMPARE(s.receive(b, 1).memoText, std::string("abcdx"));
    std::vector<uint8_t> chunk(2048, 0x41);
    s.receive(chunk.data(), uint16_t(chunk.size()));
    QCOMPARE(s.receivedText.size(), size_t(255));
    QCOMPARE(s.received().size(), size_t(255));
    QVERIFY(s.receivedText.starts_with("abcdxAAA"));
    s.pendingReply = PendingNone;
    s.receive(b, 1);
    QCOMPARE(s.receivedText, std::string("x"));
    s.pendingReply = PendingAck;
    s.receive(a, 4);
    QCOMPARE(s.receivedText, std::string("xabcd"));
    s.compose(b);
    s.receive(nullptr, 0);
    QCOMPARE(s.receivedText, std::string());
}

void TestExchangeEngine::receivePlans_data()
{
    QTest::addColumn<int>("pending");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("timer"); // 0 leave, 1 enable, 2 disable
    QTest::newRow("0") << 0 << false << 0;
    QTest::newRow("100") << 100 << true << 1;
    QTest::newRow("103") << 103 << true << 1;
    QTest::newRow("104") << 104 << true << 0;
    QTest::newRow("200") << 200 << false << 2;
    QTest::newRow("201") << 201 << false << 0;
    QTest::newRow("202") << 202 << false << 1;
    QTest::newRow("203") << 203 << false << 1;
    QTest::newRow("999") << 999 << false << 0;
}

void TestExchangeEngine::receivePlans()
{
    QFETCH(int, pending);
    QFETCH(bool, hex);
    QFETCH(int, timer);
    ExchangeState s;
    s.pendingReply = pending;
    const uint8_t chunk[] = {'O', 'K', 0x0D};
    const ReceivePlan p = s.receive(chunk, 3);
    QCOMPARE(p.memoIsHex, hex);
    QCOMPARE(p.memoText, hex ? std::string("4F 4B 0D ") : std::string("OK\r"));
    QCOMPARE(int(p.decodeTimer), timer);
    QCOMPARE(s.pendingReply, pending);
}

void TestExchangeEngine::decodeBranches()
{
    QCOMPARE(decodeBranch(100), DecodeBranch::HartCommand0);
    QCOMPARE(decodeBranch(103), DecodeBranch::HartCommand3);
    QCOMPARE(decodeBranch(202), DecodeBranch::SystemParams);
    QCOMPARE(decodeBranch(203), DecodeBranch::Instruments);
    for (int v : {0, 104, 200, 201, -1})
        QCOMPARE(decodeBranch(v), DecodeBranch::None);
}

void TestExchangeEngine::watchdogMessages()
{
    QCOMPARE(watchdogMessage(1, "Communication Query", 3000).value_or("-"),
             std::string("Connection Timeout! No reply to Communication Query within 3 s."));
    QCOMPARE(watchdogMessage(2, "System parameters", 3000).value_or("-"),
             std::string("No reply to System parameters within 3 s."));
    QCOMPARE(watchdogMessage(3, "HART Command Query", 1000).value_or("-"),
             std::string("No reply to HART Command Query within 1 s."));
    QVERIFY(!watchdogMessage(0, "System parameters", 3000));
}

QTEST_APPLESS_MAIN(TestExchangeEngine)
#include "test_exchange_engine.moc"
