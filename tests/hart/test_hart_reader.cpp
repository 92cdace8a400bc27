// SPDX-License-Identifier: GPL-3.0-or-later
// Frames found in received bytes, and the typed data of each command read.
#include "HartReader.h"

#include <QtTest>

namespace {

std::vector<uint8_t> hex(const QByteArray &text)
{
    const QByteArray b = QByteArray::fromHex(text);
    return std::vector<uint8_t>(b.begin(), b.end());
}

// Appends the XOR of everything from `from`.
QByteArray withChecksum(const QByteArray &text, int from)
{
    const std::vector<uint8_t> b = hex(text);
    const uint8_t sum = hart::checksum(b.data() + from, b.size() - size_t(from));
    return text + " " + QByteArray::number(sum, 16).rightJustified(2, '0');
}

} // namespace

class TestHartReader : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void typedData();
    void packedAscii();
};

void TestHartReader::frames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("replyOnly");
    // start, length, kind, long, expansion, command, count, response (-1 none), status, data, checksum ok
    QTest::addColumn<QString>("expected");
    QTest::newRow("request behind the header") << QByteArray("00665501 FFFF 02 80 00 00 82") << false
        << "6 5 R short 0 cmd 0 n 0 rc - ds - data  ok";
    QTest::newRow("long reply, command 3") << withChecksum("FFFF 86 B7 51 01 E2 40 03 10 00 50 41 48 00 00 13 42 C8 00 00 20 00 00 00 00", 2)
        << false << "2 25 S long 0 cmd 3 n 16 rc 0 ds 80 data 4148000013 42c8000020 00000000 ok";
    QTest::newRow("one expansion byte") << withChecksum("FF FF 26 80 00 00 02 00 00", 2) << true
        << "2 8 S short 1 cmd 0 n 2 rc 0 ds 0 data  ok";
    QTest::newRow("not implemented") << QByteArray("FF 86 B7 51 01E240 30 02 40 00 B1") << true
        << "1 11 S long 0 cmd 48 n 2 rc 64 ds 0 data  ok";
    QTest::newRow("communication error") << QByteArray("FF 06 80 00 02 D2 00 56") << true
        << "1 7 S short 0 cmd 0 n 2 rc 210 ds 0 data  ok";
    QTest::newRow("every status bit") << withChecksum("FF 06 80 01 07 00 FF 00 41 48 00 00", 1) << false
        << "1 12 S short 0 cmd 1 n 7 rc 0 ds 255 data 0041480000 ok";
    QTest::newRow("bad checksum") << QByteArray("FF 06 80 01 02 00 00 86") << false
        << "1 7 S short 0 cmd 1 n 2 rc 0 ds 0 data  BAD";
    QTest::newRow("one status byte only") << withChecksum("FF 06 80 01 01 00", 1) << false
        << "1 6 S short 0 cmd 1 n 1 rc - ds - data  ok";
    QTest::newRow("burst, noise around") << QByteArray("1234 FF 01 C5 03 02 00 00 C5 99") << false
        << "3 7 B short 0 cmd 3 n 2 rc 0 ds 0 data  ok";
    QTest::newRow("replies only: the request is passed") << QByteArray("FF 02 80 00 00 82 FF 06 80 00 02 00 00 84")
        << true << "7 7 S short 0 cmd 0 n 2 rc 0 ds 0 data  ok";
    QTest::newRow("any frame: the request first") << QByteArray("FF 02 80 00 00 82 FF 06 80 00 02 00 00 84")
        << false << "1 5 R short 0 cmd 0 n 0 rc - ds - data  ok";
    QTest::newRow("cut short") << QByteArray("FFFF 86 B7 51 01E240 03 1A 00") << false << "incomplete 2 35";
    QTest::newRow("count not in yet") << QByteArray("FF 06 80 00") << false << "incomplete 1 0";
    QTest::newRow("physical layer bits: no delimiter") << QByteArray("FF 0E 80 00 00 8E") << false << "none";
    QTest::newRow("text") << QByteArray("QQQ#QV#") << false << "none";
}

void TestHartReader::frames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, replyOnly);
    QFETCH(QString, expected);
    const std::vector<uint8_t> b = hex(bytes);
    const hart::Search search = replyOnly ? hart::Search::ReplyOnly : hart::Search::AnyFrame;
    const auto f = hart::readFrame(b.data(), b.size(), search);
    QString got = "none";
    if (f && !f->complete) {
        got = QString("incomplete %1 %2").arg(f->start).arg(f->length);
    } else if (f) {
        const auto opt = [](const std::optional<uint8_t> &v) { return v ? QString::number(*v) : QString("-"); };
        got = QString("%1 %2 %3 %4 %5 cmd %6 n %7 rc %8 ds %9 data %10 %11")
                  .arg(f->start).arg(f->length)
                  .arg(f->kind == hart::FrameKind::Request ? "R" : f->kind == hart::FrameKind::Reply ? "S" : "B")
                  .arg(f->longAddress ? "long" : "short").arg(f->expansionBytes).arg(f->command).arg(f->byteCount)
                  .arg(opt(f->responseCode), opt(f->deviceStatus),
                       QString(QByteArray(reinterpret_cast<const char *>(f->data.data()), qsizetype(f->data.size()))
                                   .toHex(' ')),
                       f->checksumOk ? "ok" : "BAD");
        // No prefix of a complete frame is complete.
        for (size_t n = f->end() - 1; n > f->start; --n) {
            const auto part = hart::readFrame(b.data(), n, search);
            QVERIFY2(part && !part->complete, qPrintable(QString::number(n)));
        }
    }
    QCOMPARE(got.simplified().remove(' '), expected.simplified().remove(' '));
}

void TestHartReader::typedData()
{
    const auto pv = hart::command1Data(hex("13 42C80000").data(), 5);
    QVERIFY(pv && pv->unitCode == 19 && pv->value == 100.0f);
    QVERIFY(!hart::command1Data(hex("13 42C800").data(), 4));

    const auto loop = hart::command2Data(hex("41480000 42480000").data(), 8);
    QVERIFY(loop && loop->milliamperes == 12.5f && loop->percentOfRange == 50.0f);

    // Packed "FT-101" + blanks, "HOT WATER" + blanks, 29 February 2024.
    std::vector<uint8_t> c13 = hart::packAscii("FT-101", 6);
    const hart::Bytes descriptor = hart::packAscii("hot water", 12);
    c13.insert(c13.end(), descriptor.begin(), descriptor.end());
    c13.insert(c13.end(), {29, 2, 124});
    auto tdd = hart::command13Data(c13.data(), c13.size());
    QCOMPARE(tdd->tag, std::string("FT-101"));
    QCOMPARE(tdd->descriptor, std::string("HOT WATER"));
    QCOMPARE(tdd->isoDate(), std::optional<std::string>("2024-02-29"));
    for (const auto &[day, month, year] : {std::tuple{29, 2, 126}, {0, 5, 120}, {31, 4, 120}, {1, 13, 120}}) {
        c13[18] = uint8_t(day), c13[19] = uint8_t(month), c13[20] = uint8_t(year);
        QVERIFY(!hart::command13Data(c13.data(), c13.size())->isoDate());
    }
    QVERIFY(!hart::command13Data(c13.data(), 20));

    const auto range = hart::command15Data(hex("00 01 0C 42C80000 C1200000 3F000000 01 FA").data(), 17);
    QVERIFY(range && range->rangeUnit == 12 && range->upper == 100.0f && range->lower == -10.0f
            && range->dampingSeconds == 0.5f && range->writeProtect == 1);
    QCOMPARE(hart::transferFunctionName(range->transferFunction), std::string("square root"));
    QVERIFY(!hart::command15Data(hex("00 01 0C 42C80000 C1200000 3F000000").data(), 15));

    std::vector<uint8_t> longTag(32, 0);
    const char latin1[] = "Stra\xDF" "e 4  ";
    std::copy(latin1, latin1 + sizeof latin1 - 1, longTag.begin());
    QCOMPARE(*hart::command20Data(longTag.data(), 32), std::string("Stra\u00DFe 4"));
    QVERIFY(!hart::command20Data(longTag.data(), 31));

    QCOMPARE(hart::additionalStatusNames(hex("00 00 00 00 00 00 28 00 C0 05")),
             (std::vector<std::string>{"failure", "function check", "electronic defect", "device configuration locked",
                                       "status simulation active", "event notification overflow"}));
    QVERIFY(hart::additionalStatusNames(hex("FF FF FF FF FF FF")).empty());
}

void TestHartReader::packedAscii()
{
    // A=1, B=2, C=3, D=4 in six bits each; ' ' is 32, '?' 63.
    QCOMPARE(hart::packAscii("ABCD", 3), hex("04 20 C4"));
    QCOMPARE(hart::unpackAscii(hex("04 20 C4").data(), 3), std::string("ABCD"));
    QCOMPARE(hart::packAscii("a~", 3), hex("07 F8 20")); // upper case; '~' is not packable
    QCOMPARE(hart::unpackAscii(hex("07 F8 20 FF").data(), 4), std::string("A?  "));
}

QTEST_APPLESS_MAIN(TestHartReader)
#include "test_hart_reader.moc"
