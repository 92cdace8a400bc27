// SPDX-License-Identifier: GPL-3.0-or-later
// HART command 0 / command 3 reply decoding and the value and unit texts.
#include <QtTest>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "HartReplies.h"
#include "HartUnits.h"

namespace {

// Copies the reply into an allocation of exactly its size, so any read past
// the received bytes is caught by the address sanitizer.
struct Reply {
    explicit Reply(const QByteArray &bytes) : size(static_cast<size_t>(bytes.size())), data(new uint8_t[size])
    {
        std::memcpy(data.get(), bytes.constData(), size);
    }
    size_t size;
    std::unique_ptr<uint8_t[]> data;
};

// A command 0 reply after five preambles (marker at 4): delimiter 06,
// address 80, command 00, byte count 0E, status 00 00, 254, manufacturer 37,
// device type 1A, preambles 05, revisions 05 01 01 08, flags 00, id 01 02 03,
// checksum.
const char *const kCommand0 = "FFFFFFFFFF 06 80 00 0E 0000 FE 37 1A 05 05010108 00 010203 53";

// The head of a command 3 reply up to the byte count at m+8 (marker at 4).
const QByteArray kCommand3Head = QByteArray::fromHex("FFFFFFFFFF 86 80 1A 2B 3C 4D 03");
// Status 00 00 and loop current 4.0 (m+9 .. m+14).
const QByteArray kCommand3Mid = QByteArray::fromHex("0000 40800000");
// Four variables: unit code, then the float, most significant byte first.
const QByteArray kVar1 = QByteArray::fromHex("27 40490FDB"); // 39 (unlisted), pi
const QByteArray kVar2 = QByteArray::fromHex("ED 42C80000"); // 237 MPa, 100
const QByteArray kVar3 = QByteArray::fromHex("20 3DCCCCCD"); // 32 degC, 0.1
const QByteArray kVar4 = QByteArray::fromHex("3E C1200000"); // 62 metric tons, -10

// The checksum recomputed over delimiter .. last data byte, as a device sends it.
QByteArray sealed(QByteArray frame)
{
    qsizetype at = 0;
    while (at < frame.size() && uchar(frame[at]) == 0xFF)
        ++at;
    char sum = 0;
    for (qsizetype i = at; i + 1 < frame.size(); ++i)
        sum = char(sum ^ frame[i]);
    frame[frame.size() - 1] = sum;
    return frame;
}

// A whole command 3 reply: the data is status, loop current and `vars`, cut
// or padded with zeros to the byte count, then the checksum.
QByteArray reply3(int byteCount, const QByteArray &vars)
{
    QByteArray data = (kCommand3Mid + vars).leftJustified(byteCount, '\0', true);
    return sealed(kCommand3Head + char(byteCount) + data + '\0');
}

QStringList describe(const hart::Command3Info &info)
{
    QStringList out;
    for (const hart::Variable &v : info.variables)
        out << QStringLiteral("%1:%2:%3").arg(v.number).arg(QString::fromStdString(v.valueText)).arg(v.unitIndex);
    return out;
}

} // namespace

class TestHartReplies : public QObject {
    Q_OBJECT

private slots:
    void command0_data();
    void command0();
    void command0IgnoresStaleBytes();
    void replyFaults_data();
    void replyFaults();
    void identityAddressesCommand3();
    void command3_data();
    void command3();
    void command3IgnoresStaleBytes();
    void formatValue_data();
    void formatValue();
    void generalFloatText_data();
    void generalFloatText();
    void unitCodes_data();
    void unitCodes();
    void unitNames();
};

void TestHartReplies::command0_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("manufacturer");
    QTest::addColumn<int>("deviceType");
    QTest::addColumn<int>("preambles");
    QTest::addColumn<QByteArray>("deviceId");
    QTest::addColumn<int>("deviceIdNumber");

    const QByteArray reply = QByteArray::fromHex(kCommand0);
    const QByteArray id = QByteArray::fromHex("010203");
    QTest::newRow("plain") << reply << true << 0x37 << 0x1A << 5 << id << 66051;
    QTest::newRow("after transparent header") << QByteArray::fromHex("00665501") + reply << true << 0x37 << 0x1A << 5
                                              << id << 66051;
    QTest::newRow("two preambles") << reply.mid(3) << true << 0x37 << 0x1A << 5 << id << 66051;
    QByteArray other = reply;
    other[12] = char(0x99);
    other[20] = char(0x77);
    QTest::newRow("first marker decides") << reply + other << true << 0x37 << 0x1A << 5 << id << 66051;
    QByteArray big = reply;
    big[12] = char(0xE5); // manufacturer
    big[13] = char(0xFE); // device type
    big[14] = char(0x14); // preambles
    big[20] = char(0xFF);
    big[21] = char(0xFF);
    big[22] = char(0xFF);
    QTest::newRow("top values") << sealed(big) << true << 0xE5 << 0xFE << 0x14 << QByteArray::fromHex("FFFFFF") << 16777215;
    // Line noise in front, or a candidate that fails, is skipped and the
    // search goes on in the same bytes.
    QTest::newRow("noise 00 FF 06 first") << QByteArray::fromHex("00FF06") + reply << true << 0x37 << 0x1A << 5 << id
                                          << 66051;
    QTest::newRow("noise FF FF 06 first") << QByteArray::fromHex("FFFF0699") + reply << true << 0x37 << 0x1A << 5
                                          << id << 66051;
    QTest::newRow("bad checksum, then good") << QByteArray(reply).replace(22, 1, "\x54") + reply << true << 0x37
                                             << 0x1A << 5 << id << 66051;

    const QByteArray none;
    QTest::newRow("device id cut") << reply.left(22) << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("checksum cut") << reply.left(23) << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("one preamble") << reply.mid(4) << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("bad checksum") << QByteArray(reply).replace(23, 1, "\x54") << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("marker only") << QByteArray::fromHex("FF06") << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("empty") << QByteArray() << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("trailing FF") << QByteArray::fromHex("0102FF") << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("no preamble") << reply.mid(5) << false << 0 << 0 << 0 << none << 0;
    QTest::newRow("long-frame reply") << QByteArray(reply).replace(5, 1, "\x86") << false << 0 << 0 << 0 << none << 0;
    // A stray pair before the real reply is no reply of its own.
    QTest::newRow("stray marker first") << QByteArray::fromHex("FF06") + reply << true << 0x37 << 0x1A << 5 << id
                                        << 66051;
}

void TestHartReplies::command0()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, found);
    const Reply rx(reply);
    const std::optional<hart::Command0Data> info = hart::decodeCommand0(rx.data.get(), rx.size);
    QCOMPARE(info.has_value(), found);
    if (!found)
        return;
    QFETCH(int, manufacturer);
    QFETCH(int, deviceType);
    QFETCH(int, preambles);
    QFETCH(QByteArray, deviceId);
    QFETCH(int, deviceIdNumber);
    QCOMPARE(int(info->identity.manufacturerId), manufacturer);
    QCOMPARE(int(info->identity.deviceType), deviceType);
    QCOMPARE(int(info->minPreambles), preambles);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(info->identity.deviceId.data()), 3), deviceId);
    QCOMPARE(hart::deviceIdNumber(info->identity), uint32_t(deviceIdNumber));
}

void TestHartReplies::command0IgnoresStaleBytes()
{
    // A whole earlier reply still sits in the receive area; only the first
    // bytes are new. Nothing of the old reply may be taken.
    const QByteArray old = QByteArray::fromHex(kCommand0);
    const auto *area = reinterpret_cast<const uint8_t *>(old.constData());
    QVERIFY(hart::decodeCommand0(area, static_cast<size_t>(old.size())).has_value());
    QVERIFY(!hart::decodeCommand0(area, 22).has_value());
    // The pair FF 06 straddles the end: the 06 is stale.
    QVERIFY(!hart::decodeCommand0(area + 4, 1).has_value());
    QVERIFY(!hart::decodeCommand0(nullptr, 40).has_value());
}

void TestHartReplies::replyFaults_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("fault");
    const QByteArray reply = QByteArray::fromHex(kCommand0);
    QTest::newRow("checksum") << QByteArray(reply).replace(23, 1, "\x54") << "HART reply checksum error";
    QTest::newRow("cut") << reply.left(20) << "HART reply cut short";
    // The last candidate decides: here a cut reply after a bad one.
    QTest::newRow("bad, then cut") << QByteArray(reply).replace(23, 1, "\x54") + reply.left(20)
                                   << "HART reply cut short";
    QTest::newRow("nothing") << QByteArray::fromHex("00FF06") << "no HART reply found";
}

void TestHartReplies::replyFaults()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, fault);
    const Reply rx(reply);
    hart::ReplyFault got = hart::ReplyFault::NotFound;
    QVERIFY(!hart::decodeCommand0(rx.data.get(), rx.size, &got));
    QCOMPARE(QString::fromStdString(hart::replyFaultText(got)), fault);
}

void TestHartReplies::identityAddressesCommand3()
{
    const Reply rx(QByteArray::fromHex(kCommand0));
    const std::optional<hart::Command0Data> info = hart::decodeCommand0(rx.data.get(), rx.size);
    QVERIFY(info);
    const hart::Bytes frame = hart::command3Frame(0, true, info->identity, 0);
    // 82^B7^1A^01^02^03^03^00 = 2C
    const QByteArray expected = QByteArray::fromHex("00665501 82 B7 1A 01 02 03 03 00 2C");
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size())), expected);
}

void TestHartReplies::command3_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QStringList>("variables");

    const QByteArray all = kVar1 + kVar2 + kVar3 + kVar4 + QByteArray::fromHex("55");
    const QString v1 = "1:3.1415927:76", v2 = "2:100:11", v3 = "3:0.1000000:12", v4 = "4:-10:47";

    // Variable k needs a byte count of 6 + 5k, even when more arrived.
    QTest::newRow("count 0") << reply3(0, all) << true << QStringList{};
    QTest::newRow("count 10") << reply3(10, all) << true << QStringList{};
    QTest::newRow("count 11") << reply3(11, all) << true << QStringList{v1};
    QTest::newRow("count 15") << reply3(15, all) << true << QStringList{v1};
    QTest::newRow("count 16") << reply3(16, all) << true << QStringList{v1, v2};
    QTest::newRow("count 20") << reply3(20, all) << true << QStringList{v1, v2};
    QTest::newRow("count 21") << reply3(21, all) << true << QStringList{v1, v2, v3};
    QTest::newRow("count 25") << reply3(25, all) << true << QStringList{v1, v2, v3};
    QTest::newRow("count 26") << reply3(26, all) << true << QStringList{v1, v2, v3, v4};
    QTest::newRow("count 255") << reply3(255, all) << true << QStringList{v1, v2, v3, v4};
    QTest::newRow("after header") << QByteArray::fromHex("00665501") + reply3(26, all) << true
                                  << QStringList{v1, v2, v3, v4};
    QTest::newRow("first marker decides")
        << reply3(16, kVar1 + kVar2) + reply3(26, kVar4 + kVar3 + kVar2 + kVar1) << true << QStringList{v1, v2};

    // Only variables whose unit and four value bytes arrived.
    const QByteArray full = reply3(26, kVar1 + kVar2 + kVar3 + kVar4);
    QTest::newRow("ends with var 4") << full << true << QStringList{v1, v2, v3, v4};
    // A reply cut short shows nothing, not the variables that arrived.
    QTest::newRow("checksum missing") << full.chopped(1) << false << QStringList{};
    QTest::newRow("var 4 one byte short") << full.chopped(2) << false << QStringList{};
    QTest::newRow("var 3 unit only") << full.left(30) << false << QStringList{};
    QTest::newRow("var 1 cut") << full.left(23) << false << QStringList{};
    QTest::newRow("no variable bytes") << full.left(19) << false << QStringList{};
    QTest::newRow("byte count missing") << kCommand3Head << false << QStringList{};
    QTest::newRow("marker only") << QByteArray::fromHex("FF86") << false << QStringList{};
    QTest::newRow("bad checksum") << QByteArray(full).replace(full.size() - 1, 1, "\x01") << false << QStringList{};
    QTest::newRow("noise FF FF 86 first") << QByteArray::fromHex("FFFF8600") + full << true
                                          << QStringList{v1, v2, v3, v4};

    QTest::newRow("no marker") << reply3(26, all).mid(5) << false << QStringList{};
    QTest::newRow("short-frame marker") << QByteArray(reply3(26, all)).replace(5, 1, "\x06") << false
                                        << QStringList{};
    QTest::newRow("empty") << QByteArray() << false << QStringList{};
    QTest::newRow("trailing FF") << QByteArray::fromHex("00FF") << false << QStringList{};

    // Non-finite values come out as text, never a crash.
    QTest::newRow("non-finite") << reply3(21, QByteArray::fromHex("01 7FC00000 02 7F800000 03 FF800000")) << true
                                << QStringList{"1:NAN:0", "2:INF:1", "3:-INF:2"};
    QTest::newRow("float limits") << reply3(16, QByteArray::fromHex("FF 7F7FFFFF 00 00000001")) << true
                                  << QStringList{"1:3.4028E38:76", "2:1.401E-45:76"};
}

void TestHartReplies::command3()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, found);
    QFETCH(QStringList, variables);
    const Reply rx(reply);
    const hart::Command3Info info = hart::decodeCommand3(rx.data.get(), rx.size);
    QCOMPARE(info.markerFound, found);
    QCOMPARE(describe(info), variables);
}

void TestHartReplies::command3IgnoresStaleBytes()
{
    // A complete earlier reply in the receive area, of which only the first
    // part is new: cut variables are not shown from old bytes.
    const QByteArray old = reply3(26, kVar1 + kVar2 + kVar3 + kVar4);
    const auto *area = reinterpret_cast<const uint8_t *>(old.constData());
    QCOMPARE(describe(hart::decodeCommand3(area, 30)), QStringList{});
    QCOMPARE(describe(hart::decodeCommand3(area, static_cast<size_t>(old.size()))).size(), 4);
    QCOMPARE(describe(hart::decodeCommand3(area, 19)), QStringList{});
    QVERIFY(!hart::decodeCommand3(area + 4, 1).markerFound);
    QVERIFY(!hart::decodeCommand3(nullptr, 40).markerFound);
}

void TestHartReplies::formatValue_data()
{
    QTest::addColumn<uint>("bits");
    QTest::addColumn<QString>("text");

    QTest::newRow("pi") << 0x40490FDBu << "3.1415927";
    QTest::newRow("-pi") << 0xC0490FDBu << "-3.141592";
    QTest::newRow("100") << 0x42C80000u << "100";
    QTest::newRow("0.1") << 0x3DCCCCCDu << "0.1000000";
    QTest::newRow("0") << 0x00000000u << "0";
    QTest::newRow("-0") << 0x80000000u << "0";
    QTest::newRow("1") << 0x3F800000u << "1";
    QTest::newRow("-1") << 0xBF800000u << "-1";
    QTest::newRow("1.5") << 0x3FC00000u << "1.5";
    QTest::newRow("0.5") << 0x3F000000u << "0.5";
    QTest::newRow("123.456") << 0x42F6E979u << "123.45600";  // 123.456001281738
    QTest::newRow("1e8") << 0x4CBEBC20u << "100000000";
    QTest::newRow("1e9") << 0x4E6E6B28u << "1E9";            // 1000000000
    QTest::newRow("1e15") << 0x58635FA9u << "1E15";          // 999999986991104
    QTest::newRow("1e16") << 0x5A0E1BCAu << "1E16";          // 1.00000002725642E16
    QTest::newRow("1e-5") << 0x3727C5ACu << "1E-5";          // 9.99999974737875E-6
    QTest::newRow("max") << 0x7F7FFFFFu << "3.4028E38";      // 3.40282346638529E38
    QTest::newRow("min denormal") << 0x00000001u << "1.401E-45"; // 1.40129846432482E-45

    // Cut only where fraction digits go; otherwise scientific, rounded to
    // what fits in nine characters.
    const auto bitsOf = [](float f) { return uint(std::bit_cast<uint32_t>(f)); };
    QTest::newRow("1.5E10") << bitsOf(1.5E10f) << "1.5E10";            // 15000000512
    QTest::newRow("1234567936") << bitsOf(1234567936.0f) << "1.23457E9";
    QTest::newRow("-1234567936") << bitsOf(-1234567936.0f) << "-1.2346E9";
    QTest::newRow("1.2345678E20") << bitsOf(1.2345678E20f) << "1.2346E20";
    QTest::newRow("-1.2345678E-7") << bitsOf(-1.2345678E-7f) << "-1.235E-7";
    QTest::newRow("9.99999999E9") << bitsOf(9.99999999E9f) << "1E10";  // the float is 1E10
    QTest::newRow("9.9999898E9") << bitsOf(9.9999898E9f) << "9.99999E9";
    QTest::newRow("123456789") << bitsOf(123456789.0f) << "123456792"; // nine integer digits fit
    QTest::newRow("123456.789") << bitsOf(123456.789f) << "123456.78";
    QTest::newRow("-0.0001234") << bitsOf(-0.0001234f) << "-0.000123";
    QTest::newRow("1.5E-5") << bitsOf(1.5E-5f) << "0.0000149"; // 1.49999996E-5, cut as before
    QTest::newRow("NaN") << 0x7FC00000u << "NAN";
    QTest::newRow("negative NaN") << 0xFFC00001u << "NAN";
    QTest::newRow("signalling NaN") << 0x7F800001u << "NAN";
    QTest::newRow("+inf") << 0x7F800000u << "INF";
    QTest::newRow("-inf") << 0xFF800000u << "-INF";
}

void TestHartReplies::formatValue()
{
    QFETCH(uint, bits);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(hart::formatValue(std::bit_cast<float>(uint32_t(bits)))), text);
}

void TestHartReplies::generalFloatText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("pi as float") << double(3.1415927f) << "3.14159274101257";
    QTest::newRow("0.1 as float") << double(0.1f) << "0.100000001490116";
    QTest::newRow("0.1") << 0.1 << "0.1";
    QTest::newRow("1/3") << 1.0 / 3.0 << "0.333333333333333";
    QTest::newRow("2/3") << 2.0 / 3.0 << "0.666666666666667";
    QTest::newRow("-2/3") << -2.0 / 3.0 << "-0.666666666666667";
    QTest::newRow("123.456") << 123.456 << "123.456";
    QTest::newRow("12345678.9") << 12345678.9 << "12345678.9";
    QTest::newRow("15 digits fixed") << 999999999999999.0 << "999999999999999";
    QTest::newRow("1e15") << 1e15 << "1E15";
    QTest::newRow("rounds up to 1e15") << 999999999999999.9 << "1E15";
    QTest::newRow("1e20") << 1e20 << "1E20";
    QTest::newRow("17 digits") << 123456789012345678.0 << "1.23456789012346E17";
    QTest::newRow("1e-4") << 1e-4 << "0.0001";
    QTest::newRow("1e-5") << 1e-5 << "0.00001";
    QTest::newRow("1.5e-5") << 1.5e-5 << "0.000015";
    QTest::newRow("below 1e-5") << 9.9e-6 << "9.9E-6";
    QTest::newRow("1.5e-7") << 1.5e-7 << "1.5E-7";
    QTest::newRow("-2.5e-10") << -2.5e-10 << "-2.5E-10";
    QTest::newRow("-1e100") << -1e100 << "-1E100";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "NAN";
    QTest::newRow("+inf") << std::numeric_limits<double>::infinity() << "INF";
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << "-INF";
}

void TestHartReplies::generalFloatText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(hart::generalFloatText(value)), text);
}

// What each item of the unit list means, by index, in the words of the HART
// common table of unit codes (76 "other" stands for every code not listed).
const char *const kItemMeanings[hart::kUnitOther] = {
    "inches of water at 68 degrees F", "inches of mercury at 0 degrees C", "feet of water at 68 degrees F",
    "millimeters of water at 68 degrees F", "millimeters of mercury at 0 degrees C", "pounds per square inch",
    "bars", "millibars", "pascals", "kilopascals", "atmospheres", "megapascals", "degrees Celsius",
    "degrees Fahrenheit", "degrees Rankine", "kelvin", "cubic feet per minute", "gallons per minute",
    "liters per minute", "cubic meters per hour", "liters per second", "cubic feet per second",
    "cubic meters per second", "cubic meters per minute", "gallons per hour", "liters per hour",
    "feet per second", "meters per second", "inches per second", "inches per minute", "feet per minute",
    "meters per hour", "gallons", "liters", "cubic meters", "barrels", "cubic yards", "cubic feet",
    "cubic inches", "liquid barrels", "feet", "meters", "inches", "centimeters", "millimeters", "grams",
    "kilograms", "metric tons", "pounds", "ounces", "grams per second", "grams per minute", "grams per hour",
    "kilograms per second", "kilograms per minute", "metric tons per minute", "metric tons per hour",
    "pounds per second", "pounds per minute", "pounds per hour", "grams per cubic centimeter",
    "kilograms per cubic meter", "pounds per gallon", "pounds per cubic foot", "grams per milliliter",
    "kilograms per liter", "grams per liter", "centistokes", "centipoise", "newton meters", "deka therms",
    "foot pounds force", "kilowatt hours", "megajoules", "British thermal units", "percent",
};

void TestHartReplies::unitCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("index");

    // Every code: the item that means the code's unit, or "other".
    for (int code = 0; code < 256; ++code) {
        int index = hart::kUnitOther;
        if (hart::unitInfo(uint8_t(code))) {
            for (int i = 0; i < hart::kUnitOther; ++i) {
                if (std::strcmp(kItemMeanings[i], hart::unitName(uint8_t(code))) == 0)
                    index = i;
            }
        }
        QTest::addRow("%d %s", code, hart::unitName(uint8_t(code))) << code << index;
    }
}

void TestHartReplies::unitCodes()
{
    QFETCH(int, code);
    QFETCH(int, index);
    QCOMPARE(hart::unitIndexForCode(uint8_t(code)), index);
}

void TestHartReplies::unitNames()
{
    QCOMPARE(QString::fromUtf8(hart::kUnitNames[46]), QStringLiteral("kg"));
    QCOMPARE(QString::fromUtf8(hart::kUnitNames[47]), QStringLiteral("MetTon"));
    QCOMPARE(QString::fromUtf8(hart::kUnitNames[55]), QStringLiteral("metTOM_min"));
    std::set<std::string> distinct;
    for (const char *name : hart::kUnitNames) {
        QVERIFY(name && *name);
        distinct.insert(name);
    }
    QCOMPARE(distinct.size(), size_t(hart::kUnitCount));

    // Each item but "other" is reached by exactly one code.
    std::map<int, int> codesPerIndex;
    for (int code = 0; code < 256; ++code)
        ++codesPerIndex[hart::unitIndexForCode(uint8_t(code))];
    for (int index = 0; index < hart::kUnitOther; ++index)
        QVERIFY2(codesPerIndex[index] == 1, qPrintable(QString::number(index)));
}

QTEST_APPLESS_MAIN(TestHartReplies)
#include "test_hart_replies.moc"
