// A HART reply is complete exactly when its byte count and checksum are in.
#include "HartReplyFrame.h"

#include <QtTest>

namespace {

std::vector<uint8_t> hex(const char *text)
{
    const QByteArray b = QByteArray::fromHex(text);
    return std::vector<uint8_t>(b.begin(), b.end());
}

// Command 0 reply of the simulated flowmeter, behind noise and preambles.
const char kCommand0[] = "00 7E FF FF FF FF FF 06 80 00 0E 00 00 FE 37 51 05 05 01 02 08 00 01 E2 40 B8";
// Command 3 reply: two status bytes, loop current 12.5 mA, variables 1 and 2.
const char kCommand3[] = "FF FF 86 B7 51 01 E2 40 03 10 00 00 41 48 00 00 13 42 C8 00 00 20 00 00 00 00 60";

} // namespace

class TestHartReplyFrame : public QObject {
    Q_OBJECT
private slots:
    void completeOnlyWithChecksum();
    void fields();
};

void TestHartReplyFrame::completeOnlyWithChecksum()
{
    for (const char *text : {kCommand0, kCommand3}) {
        std::vector<uint8_t> bytes = hex(text);
        for (size_t n = 0; n < bytes.size(); ++n)
            QVERIFY2(!hart::completeReply(bytes.data(), n), qPrintable(QString::number(n)));
        bytes.push_back(0x55); // whatever follows is not part of it
        const auto f = hart::completeReply(bytes.data(), bytes.size());
        QVERIFY(f);
        QCOMPARE(f->end, bytes.size() - 1);
        QVERIFY(f->checksumOk);
        bytes[bytes.size() - 2] ^= 1;
        QVERIFY(!hart::completeReply(bytes.data(), bytes.size())->checksumOk);
    }
}

void TestHartReplyFrame::fields()
{
    const std::vector<uint8_t> c0 = hex(kCommand0);
    const auto f0 = hart::completeReply(c0.data(), c0.size());
    QCOMPARE(f0->start, size_t(7));
    const auto id = hart::command0Identity(*f0);
    QVERIFY(id);
    QCOMPARE(int(id->identity.manufacturerId), 0x37);
    QCOMPARE(int(id->identity.deviceType), 0x51);
    QCOMPARE(int(id->preambles), 5);
    QCOMPARE(id->deviceIdNumber, uint32_t(123456));

    const std::vector<uint8_t> c3 = hex(kCommand3);
    const auto f3 = hart::completeReply(c3.data(), c3.size());
    QVERIFY(f3 && f3->checksumOk);
    QCOMPARE(f3->address.size(), size_t(5));
    QCOMPARE(int(f3->responseCode), 0);
    const hart::DynamicVariables v = hart::command3Variables(*f3);
    QCOMPARE(*v.loopCurrent, 12.5f);
    QCOMPARE(v.variables.size(), size_t(2));
    QCOMPARE(int(v.variables[0].unitCode), 0x13);
    QCOMPARE(v.variables[0].value, 100.0f);
    QCOMPARE(int(v.variables[1].unitCode), 0x20);
    QCOMPARE(v.variables[1].value, 0.0f);
}

QTEST_APPLESS_MAIN(TestHartReplyFrame)
#include "test_hart_reply_frame.moc"
