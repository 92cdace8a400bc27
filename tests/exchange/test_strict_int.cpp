// SPDX-License-Identifier: GPL-3.0-or-later
#include "StrictInt.h"

#include <QtTest>

#include <string_view>

namespace {
std::string_view view(const QByteArray &a) { return {a.constData(), static_cast<size_t>(a.size())}; }
} // namespace

class TestStrictInt : public QObject {
    Q_OBJECT
private slots:
    void converts_data();
    void converts();
    void message_data();
    void message();
};

void TestStrictInt::converts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("plus") << QByteArray("+5") << true << 5;
    QTest::newRow("minus") << QByteArray("-5") << true << -5;
    QTest::newRow("minus zero") << QByteArray("-0") << true << 0;
    QTest::newRow("leading zeros") << QByteArray("007") << true << 7;
    QTest::newRow("many leading zeros") << QByteArray("000000000000000000000000042") << true << 42;
    QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
    QTest::newRow("max padded") << QByteArray("+02147483647") << true << 2147483647;

    QTest::newRow("max+1") << QByteArray("2147483648") << false << 0;
    QTest::newRow("min-1") << QByteArray("-2147483649") << false << 0;
    QTest::newRow("huge") << QByteArray("99999999999999999999999") << false << 0;
    QTest::newRow("wraps to small in 64 bits") << QByteArray("18446744073709551617") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("sign only +") << QByteArray("+") << false << 0;
    QTest::newRow("sign only -") << QByteArray("-") << false << 0;
    QTest::newRow("two signs") << QByteArray("+-1") << false << 0;
    QTest::newRow("double minus") << QByteArray("--1") << false << 0;
    QTest::newRow("trailing sign") << QByteArray("1-") << false << 0;
    QTest::newRow("leading blank") << QByteArray(" 1") << false << 0;
    QTest::newRow("trailing blank") << QByteArray("1 ") << false << 0;
    QTest::newRow("leading tab") << QByteArray("\t1") << false << 0;
    QTest::newRow("blank after sign") << QByteArray("- 1") << false << 0;
    QTest::newRow("hex 0x") << QByteArray("0x1F") << false << 0;
    QTest::newRow("hex $") << QByteArray("$1F") << false << 0;
    QTest::newRow("decimal point") << QByteArray("1.0") << false << 0;
    QTest::newRow("exponent") << QByteArray("1e3") << false << 0;
    QTest::newRow("thousands separator") << QByteArray("1,000") << false << 0;
    QTest::newRow("letter") << QByteArray("x") << false << 0;
    QTest::newRow("hash") << QByteArray("#") << false << 0;
    QTest::newRow("arabic-indic one") << QByteArray("\xd9\xa1") << false << 0;
    QTest::newRow("fullwidth one") << QByteArray("\xef\xbc\x91") << false << 0;
    QTest::newRow("latin-1 superscript two") << QByteArray("\xb2") << false << 0;
    QTest::newRow("nul") << QByteArray("\0", 1) << false << 0;
    QTest::newRow("digit then nul") << QByteArray("1\0", 2) << false << 0;
    QTest::newRow("nul then digit") << QByteArray("\0" "1", 2) << false << 0;
}

void TestStrictInt::converts()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, value);

    const std::optional<int32_t> got = exchange::strictToInt(view(text));
    QCOMPARE(got.has_value(), ok);
    if (ok)
        QCOMPARE(*got, value);
}

void TestStrictInt::message_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("letter") << QByteArray("x") << QByteArray("'x' is not a valid integer value");
    QTest::newRow("empty") << QByteArray("") << QByteArray("'' is not a valid integer value");
    QTest::newRow("blank") << QByteArray(" 1") << QByteArray("' 1' is not a valid integer value");
    QTest::newRow("nul kept") << QByteArray("a\0b", 3) << QByteArray("'a\0b' is not a valid integer value", 34);
}

void TestStrictInt::message()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);

    const std::string got = exchange::notAnIntegerMessage(view(text));
    QCOMPARE(QByteArray(got.data(), qsizetype(got.size())), expected);
}

QTEST_APPLESS_MAIN(TestStrictInt)
#include "test_strict_int.moc"
