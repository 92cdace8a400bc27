// SPDX-License-Identifier: GPL-3.0-or-later
// HART write requests: exact bytes per command (written out from the framing
// and packed ASCII rules), what is refused before anything is built, and the
// meaning of the response codes per command.
#include <QtTest>

#include "HartWrites.h"

namespace {

const hart::Identity kId{0x37, 0x51, {0x01, 0xE2, 0x40}};

QByteArray toQt(const hart::Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<qsizetype>(b.size()));
}

} // namespace

class TestHartWrites : public QObject {
    Q_OBJECT

private slots:
    void requestBytes_data();
    void requestBytes();
    void refused_data();
    void refused();
    void responseNames_data();
    void responseNames();
    void readBackComparison();
};

void TestHartWrites::requestBytes_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    auto row = [](const char *name, uint8_t command, const hart::WriteData &w, const char *hex) {
        QVERIFY2(w.ok(), w.problem.c_str());
        QTest::newRow(name) << int(command) << toQt(w.data) << QByteArray::fromHex(hex);
    };
    const char *head = "00 66 55 01 FF FF FF FF FF 82 B7 51 01 E2 40 ";
    const auto h = [&](const char *rest) { return QByteArray(head) + rest; };
    row("18 tag, descriptor, date", hart::kWriteTagDescriptorDate,
        hart::tagDescriptorDateData("ft-101", "Main Steam", 11, 12, 2026),
        h("12 15 19 4B 71 C3 18 20 34 12 4E 81 35 05 04 D8 20 82 08 20 0B 0C 7E EE"));
    row("17 message", hart::kWriteMessage, hart::messageData("CHECKED 2026"),
        h("11 18 0C 81 43 2C 51 20 CB 0C B6 82 08 20 82 08 20 82 08 20 82 08 20 82 08 20 86"));
    row("22 long tag", hart::kWriteLongTag, hart::longTagData("Stra\xC3\x9F" "e 4", 6),
        h("16 20 53 74 72 61 DF 65 20 34 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 6B"));
    row("6 polling address, HART 5", hart::kWritePollingAddress, hart::pollingAddressData(2, 5, true),
        h("06 01 02 C2"));
    row("6 polling address, HART 7", hart::kWritePollingAddress, hart::pollingAddressData(2, 7, true),
        h("06 02 02 01 C0"));
    row("34 damping", hart::kWriteDamping, hart::dampingData(0.5f), h("22 04 3F 00 00 00 DE"));
    row("35 range", hart::kWriteRange, hart::rangeData(19, 100.0f, 0.0f),
        h("23 09 13 42 C8 00 00 00 00 00 00 74"));
    row("44 unit", hart::kWritePvUnit, hart::pvUnitData(19), h("2C 01 13 F9"));
    row("40 loop 4 mA", hart::kLoopTest, hart::loopCurrentData(4.0f), h("28 04 40 80 00 00 2B"));
    row("40 leave fixed current", hart::kLoopTest, hart::loopCurrentData(0.0f), h("28 04 00 00 00 00 EB"));
    row("38 reset changed, HART 5", hart::kResetConfigurationChanged, hart::resetChangedData(5, std::nullopt),
        h("26 00 E1"));
    row("38 reset changed, HART 7", hart::kResetConfigurationChanged, hart::resetChangedData(7, 0x0102),
        h("26 02 01 02 E0"));
}

void TestHartWrites::requestBytes()
{
    QFETCH(int, command);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);
    const hart::Bytes bytes(data.begin(), data.end());
    QCOMPARE(toQt(hart::commandFrame(0, true, kId, 5, uint8_t(command), bytes)), expected);
}

void TestHartWrites::refused_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *name, const hart::WriteData &w, const char *expected) {
        QVERIFY(w.data.empty());
        QTest::newRow(name) << QString::fromStdString(w.problem) << QString::fromUtf8(expected);
    };
    row("tag character", hart::tagDescriptorDateData("FT~101", "", 1, 1, 2026), "'~' (0x7E)");
    row("tag too long", hart::tagDescriptorDateData("FT-1010101", "", 1, 1, 2026), "at most 8");
    row("descriptor umlaut", hart::tagDescriptorDateData("FT", "\xC3\xBC", 1, 1, 2026), "byte 0xC3");
    row("no such date", hart::tagDescriptorDateData("FT", "", 29, 2, 2027), "not a date");
    row("message too long", hart::messageData(std::string(33, 'A')), "at most 32");
    row("long tag on HART 5", hart::longTagData("FT", 5), "HART 6 or later");
    row("long tag beyond Latin-1", hart::longTagData("\xE2\x82\xAC", 7), "ISO Latin-1");
    row("address 16 on HART 5", hart::pollingAddressData(16, 5, true), "0 to 15");
    row("address 64 on HART 6", hart::pollingAddressData(64, 6, true), "0 to 63");
    row("negative damping", hart::dampingData(-1.0f), "seconds");
    row("empty span", hart::rangeData(19, 5.0f, 5.0f), "the same");
    row("loop 30 mA", hart::loopCurrentData(30.0f), "up to 25");
    row("HART 7 reset without counter", hart::resetChangedData(7, std::nullopt), "change counter");
}

void TestHartWrites::refused()
{
    QFETCH(QString, problem);
    QFETCH(QString, expected);
    QVERIFY2(problem.contains(expected), qPrintable(problem));
}

void TestHartWrites::responseNames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("text");
    QTest::newRow("ok") << 18 << 0 << true << "OK";
    QTest::newRow("invalid selection") << 44 << 2 << false << "invalid unit code";
    QTest::newRow("too large") << 40 << 3 << false << "passed parameter too large";
    QTest::newRow("too small") << 34 << 4 << false << "passed parameter too small";
    QTest::newRow("too few bytes") << 17 << 5 << false << "too few data bytes received";
    QTest::newRow("write protected") << 18 << 7 << false << "in write protect mode";
    QTest::newRow("nearest value") << 34 << 8 << true << "set to the nearest possible value";
    QTest::newRow("35: 9") << 35 << 9 << false << "lower range value too high";
    QTest::newRow("35: 10") << 35 << 10 << false << "lower range value too low";
    QTest::newRow("35: 11") << 35 << 11 << false << "upper range value too high";
    QTest::newRow("35: 12") << 35 << 12 << false << "upper range value too low";
    QTest::newRow("35: 13") << 35 << 13 << false << "upper and lower range values out of limits";
    QTest::newRow("35: 14 span") << 35 << 14 << true << "span too small: accuracy may be impaired";
    QTest::newRow("35: 29") << 35 << 29 << false << "invalid span";
    QTest::newRow("18: 9 date") << 18 << 9 << false << "invalid date";
    QTest::newRow("access restricted") << 6 << 16 << false << "access restricted";
    QTest::newRow("busy") << 35 << 32 << false << "busy";
    QTest::newRow("not implemented") << 22 << 64 << false << "command not implemented";
}

void TestHartWrites::responseNames()
{
    QFETCH(int, command);
    QFETCH(int, code);
    QFETCH(bool, written);
    QFETCH(QString, text);
    const hart::WriteResponse r = hart::writeResponse(uint8_t(command), uint8_t(code));
    QCOMPARE(r.written(), written);
    QCOMPARE(QString::fromStdString(r.text), text);
}

void TestHartWrites::readBackComparison()
{
    QVERIFY(hart::sameText("ft-101", "FT-101  "));
    QVERIFY(!hart::sameText("FT-101", "FT-102"));
    QVERIFY(hart::sameFloat(0.5f, 0.5f));
    QVERIFY(!hart::sameFloat(0.55f, 0.5f)); // a device keeping damping in steps
}

QTEST_APPLESS_MAIN(TestHartWrites)
#include "test_hart_writes.moc"
