// SPDX-License-Identifier: GPL-3.0-or-later
// HART request frames: every expected frame below is written out by hand
// from the framing rules (header, preambles, delimiter, address, command,
// byte count, XOR checksum from the delimiter on).
#include <QtTest>

#include "HartFrames.h"
#include "HexText.h"

namespace {

QByteArray toQt(const hart::Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<qsizetype>(b.size()));
}

} // namespace

class TestHartFrames : public QObject {
    Q_OBJECT

private slots:
    void command0_data();
    void command0();
    void command3_data();
    void command3();
    void preambleBounds();
    void manualFrame_data();
    void manualFrame();
    void parseManualEntry_data();
    void parseManualEntry();
    void typedEntryToWire();
    void hexText_data();
    void hexText();
};

void TestHartFrames::command0_data()
{
    QTest::addColumn<int>("addressIndex");
    QTest::addColumn<bool>("master");
    QTest::addColumn<int>("preambles");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("defaults") << 0 << true << 6 << QByteArray::fromHex("00665501 FFFFFFFFFFFF 02 80 00 00 82");
    QTest::newRow("no preambles") << 0 << true << 0 << QByteArray::fromHex("00665501 02 80 00 00 82");
    QTest::newRow("secondary master") << 0 << false << 6 << QByteArray::fromHex("00665501 FFFFFFFFFFFF 02 00 00 00 02");
    // The polling address only goes into the header, never into the frame.
    QTest::newRow("address 32") << 31 << true << 2 << QByteArray::fromHex("1F665501 FFFF 02 80 00 00 82");
    QTest::newRow("address 6 secondary") << 5 << false << 5 << QByteArray::fromHex("05665501 FFFFFFFFFF 02 00 00 00 02");
    QTest::newRow("one preamble") << 1 << true << 1 << QByteArray::fromHex("01665501 FF 02 80 00 00 82");
}

void TestHartFrames::command0()
{
    QFETCH(int, addressIndex);
    QFETCH(bool, master);
    QFETCH(int, preambles);
    QFETCH(QByteArray, expected);
    const hart::Bytes frame = hart::command0Frame(static_cast<uint8_t>(addressIndex), master, preambles);
    QCOMPARE(toQt(frame), expected);
    QCOMPARE(static_cast<int>(frame.size()), preambles + hart::kCommand0Overhead);
}

void TestHartFrames::command3_data()
{
    QTest::addColumn<int>("addressIndex");
    QTest::addColumn<bool>("master");
    QTest::addColumn<QByteArray>("identity"); // manufacturer, type, id x3
    QTest::addColumn<int>("preambles");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray zero = QByteArray::fromHex("0000000000");
    QTest::newRow("before identity, master")
        << 0 << true << zero << 6 << QByteArray::fromHex("00665501 FFFFFFFFFFFF 82 80 00 00 00 00 03 00 01");
    QTest::newRow("before identity, secondary")
        << 0 << false << zero << 6 << QByteArray::fromHex("00665501 FFFFFFFFFFFF 82 00 00 00 00 00 03 00 81");
    QTest::newRow("before identity, no preambles")
        << 0 << true << zero << 0 << QByteArray::fromHex("00665501 82 80 00 00 00 00 03 00 01");
    // 82^B7^1A^01^02^03^03^00 = 2C
    QTest::newRow("learnt identity") << 2 << true << QByteArray::fromHex("371A010203") << 5
                                     << QByteArray::fromHex("02665501 FFFFFFFFFF 82 B7 1A 01 02 03 03 00 2C");
    // Six bits of the manufacturer id: its top bits never set the master or
    // burst-mode bit. 82^05^51^AB^CD^EF^03^00 = 5C, with 85 = DC.
    QTest::newRow("id C5, secondary") << 0 << false << QByteArray::fromHex("C551ABCDEF") << 0
                                      << QByteArray::fromHex("00665501 82 05 51 AB CD EF 03 00 5C");
    QTest::newRow("id C5, master") << 0 << true << QByteArray::fromHex("C551ABCDEF") << 0
                                   << QByteArray::fromHex("00665501 82 85 51 AB CD EF 03 00 DC");
    // 82^25^01^02^03^04^03^00 = A0, with A5 = 20.
    QTest::newRow("id A5, secondary") << 0 << false << QByteArray::fromHex("A501020304") << 0
                                      << QByteArray::fromHex("00665501 82 25 01 02 03 04 03 00 A0");
    QTest::newRow("id A5, master") << 0 << true << QByteArray::fromHex("A501020304") << 0
                                   << QByteArray::fromHex("00665501 82 A5 01 02 03 04 03 00 20");
}

void TestHartFrames::command3()
{
    QFETCH(int, addressIndex);
    QFETCH(bool, master);
    QFETCH(QByteArray, identity);
    QFETCH(int, preambles);
    QFETCH(QByteArray, expected);
    hart::Identity id;
    id.manufacturerId = static_cast<uint8_t>(identity[0]);
    id.deviceType = static_cast<uint8_t>(identity[1]);
    id.deviceId = {static_cast<uint8_t>(identity[2]), static_cast<uint8_t>(identity[3]),
                   static_cast<uint8_t>(identity[4])};
    const hart::Bytes frame = hart::command3Frame(static_cast<uint8_t>(addressIndex), master, id, preambles);
    QCOMPARE(toQt(frame), expected);
    QCOMPARE(static_cast<int>(frame.size()), preambles + hart::kCommand3Overhead);
}

void TestHartFrames::preambleBounds()
{
    const hart::Identity id;
    // The whole frame must fit the 504-byte frame area; otherwise no frame.
    QCOMPARE(hart::command0Frame(0, true, 495).size(), size_t(504));
    QVERIFY(hart::command0Frame(0, true, 496).empty());
    QVERIFY(hart::command0Frame(0, true, -1).empty());
    QCOMPARE(hart::command3Frame(0, true, id, 491).size(), size_t(504));
    QVERIFY(hart::command3Frame(0, true, id, 492).empty());
    QVERIFY(hart::command3Frame(0, true, id, -6).empty());

    const hart::Bytes fifteen(15, 0x11);
    QCOMPARE(hart::manualFrame(fifteen, 488).size(), size_t(504));
    QVERIFY(hart::manualFrame(fifteen, 489).empty());
    QVERIFY(hart::manualFrame(fifteen, -1).empty());
    QVERIFY(hart::manualFrame({}, 6).empty());
}

void TestHartFrames::manualFrame_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<int>("preambles");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("command 0 by hand") << QByteArray::fromHex("02800000") << 6
                                       << QByteArray::fromHex("FFFFFFFFFFFF 02 80 00 00 82");
    // A single byte is its own checksum.
    QTest::newRow("one byte") << QByteArray::fromHex("0A") << 2 << QByteArray::fromHex("FFFF 0A 0A");
    QTest::newRow("no preambles") << QByteArray::fromHex("7689FDAD") << 0 << QByteArray::fromHex("76 89 FD AD AF");
    QTest::newRow("self-cancelling") << QByteArray::fromHex("00FF7E9A") << 3
                                     << QByteArray::fromHex("FFFFFF 00 FF 7E 9A 1B");
}

void TestHartFrames::manualFrame()
{
    QFETCH(QByteArray, typed);
    QFETCH(int, preambles);
    QFETCH(QByteArray, expected);
    QCOMPARE(toQt(hart::manualFrame(hart::Bytes(typed.begin(), typed.end()), preambles)), expected);
}

void TestHartFrames::parseManualEntry_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("badText");

    using E = hart::ManualEntry;
    const QByteArray none;
    // Accepted entries, including the L mod 3 cases.
    QTest::newRow("two bytes") << QByteArray("0A 1B") << int(E::Ok) << QByteArray::fromHex("0A1B") << none;
    QTest::newRow("hint example") << QByteArray("76 89 FD AD") << int(E::Ok) << QByteArray::fromHex("7689FDAD") << none;
    QTest::newRow("single FF") << QByteArray("FF") << int(E::Ok) << QByteArray::fromHex("FF") << none;
    QTest::newRow("L mod 3 = 0, trailing blank") << QByteArray("0A 1B ") << int(E::Ok) << QByteArray::fromHex("0A1B")
                                                 << none;
    QTest::newRow("last separator unchecked") << QByteArray("0A 1BX") << int(E::Ok) << QByteArray::fromHex("0A1B")
                                              << none;
    QTest::newRow("L mod 3 = 1, lone char") << QByteArray("0A 1") << int(E::LoneCharacter) << none << none;
    QTest::newRow("L mod 3 = 1, lone bad char") << QByteArray("0A 1B z") << int(E::LoneCharacter) << none << none;
    QTest::newRow("L mod 3 = 1, lone blank") << QByteArray("0A 1B  ") << int(E::LoneCharacter) << none << none;
    QTest::newRow("L mod 3 = 2") << QByteArray("0A 1B CD") << int(E::Ok) << QByteArray::fromHex("0A1BCD") << none;
    QTest::newRow("all digits") << QByteArray("01 23 45 67 89 AB CD EF") << int(E::Ok)
                                << QByteArray::fromHex("0123456789ABCDEF") << none;

    // Fifteen bytes at most; more are refused, not cut.
    const QByteArray fifteen("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E");
    QTest::newRow("15 groups") << fifteen << int(E::Ok) << QByteArray::fromHex("000102030405060708090A0B0C0D0E")
                               << none;
    QTest::newRow("16 groups") << fifteen + " 0F" << int(E::TooManyBytes) << none << none;
    QTest::newRow("lone char after 15") << fifteen + " 0" << int(E::LoneCharacter) << none << none;
    QTest::newRow("bad 16th group") << fifteen + " zz-" << int(E::TooManyBytes) << none << none;
    QTest::newRow("15th separator, 16 groups") << fifteen + "-0F" << int(E::TooManyBytes) << none << none;
    QTest::newRow("too many, earlier bad byte") << "0a" + fifteen.mid(2) + " 0F" << int(E::DataError) << none
                                                << none;
    QTest::newRow("14th separator checked") << QByteArray("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D-0E 0F")
                                            << int(E::NoSpack) << none << none;

    // Separators come first.
    QTest::newRow("empty") << QByteArray("") << int(E::NoSpack) << none << none;
    QTest::newRow("one char") << QByteArray("0") << int(E::NoSpack) << none << none;
    QTest::newRow("dash separator") << QByteArray("0A-1B") << int(E::NoSpack) << none << none;
    QTest::newRow("no separators") << QByteArray("0A1B2C") << int(E::NoSpack) << none << none;
    QTest::newRow("separator before bad hex") << QByteArray("0a-1b") << int(E::NoSpack) << none << none;
    QTest::newRow("separator before conversion") << QByteArray("0 -12") << int(E::NoSpack) << none << none;

    // Bad characters are reported only after all bytes.
    QTest::newRow("lower-case") << QByteArray("0a 1b") << int(E::DataError) << none << none;
    QTest::newRow("lower-case high") << QByteArray("aA") << int(E::DataError) << none << none;
    QTest::newRow("G low") << QByteArray("0G") << int(E::DataError) << none << none;
    QTest::newRow("G high") << QByteArray("G0") << int(E::DataError) << none << none;
    QTest::newRow("blank high") << QByteArray(" 0") << int(E::DataError) << none << none;
    QTest::newRow("bad first, good rest") << QByteArray("x0 11 22") << int(E::DataError) << none << none;
    QTest::newRow("8-bit low") << QByteArray("0\xB0") << int(E::DataError) << none << none;
    QTest::newRow("8-bit high") << QByteArray("\xE9" "0") << int(E::DataError) << none << none;
    QTest::newRow("colon low") << QByteArray("0:") << int(E::DataError) << none << none;

    // A low-nibble character at or below '9' that is no digit aborts at once.
    QTest::newRow("zero blank") << QByteArray("0 ") << int(E::ConversionError) << none << QByteArray(" ");
    QTest::newRow("zero blank, more") << QByteArray("0  12") << int(E::ConversionError) << none << QByteArray(" ");
    QTest::newRow("plus") << QByteArray("1+") << int(E::ConversionError) << none << QByteArray("+");
    QTest::newRow("minus") << QByteArray("0-") << int(E::ConversionError) << none << QByteArray("-");
    QTest::newRow("dot") << QByteArray("0.") << int(E::ConversionError) << none << QByteArray(".");
    QTest::newRow("dollar") << QByteArray("0$") << int(E::ConversionError) << none << QByteArray("$");
    QTest::newRow("tab") << QByteArray("0\t") << int(E::ConversionError) << none << QByteArray("\t");
    QTest::newRow("nul") << QByteArray("0\0", 2) << int(E::ConversionError) << none << QByteArray("\0", 1);
    QTest::newRow("blanks only") << QByteArray("  ") << int(E::ConversionError) << none << QByteArray(" ");
    // Conversion stops even after an earlier bad byte, and before later ones.
    QTest::newRow("bad then conversion") << QByteArray("zz 0- gg") << int(E::ConversionError) << none
                                         << QByteArray("-");
    QTest::newRow("conversion then bad") << QByteArray("0/ zz") << int(E::ConversionError) << none
                                         << QByteArray("/");
    QTest::newRow("bad high, conversion low") << QByteArray("Z+") << int(E::ConversionError) << none
                                              << QByteArray("+");
}

void TestHartFrames::parseManualEntry()
{
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, badText);
    const hart::ManualEntry entry = hart::parseManualEntry(std::string_view(text.constData(), text.size()));
    QCOMPARE(int(entry.status), status);
    QCOMPARE(toQt(entry.bytes), bytes);
    QCOMPARE(QByteArray::fromStdString(entry.badText), badText);
}

void TestHartFrames::typedEntryToWire()
{
    const hart::ManualEntry entry = hart::parseManualEntry("02 80 00 00");
    QCOMPARE(entry.status, hart::ManualEntry::Ok);
    const hart::Bytes frame = hart::manualFrame(entry.bytes, 6);
    QCOMPARE(toQt(frame), QByteArray::fromHex("FFFFFFFFFFFF 02 80 00 00 82"));
}

void TestHartFrames::hexText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QByteArray() << "";
    QTest::newRow("one") << QByteArray("\x0A", 1) << "0A";
    QTest::newRow("edges") << QByteArray("\x00\x09\x10\x9F\xA0\xFF", 6) << "00 09 10 9F A0 FF";
}

// The text every layer prints, and one that the manual entry reads back.
void TestHartFrames::hexText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const hart::Bytes b(bytes.begin(), bytes.end());
    QCOMPARE(QString::fromStdString(hart::hexText(b)), text);
    QCOMPARE(QString::fromStdString(hart::hexText(b, true)), b.empty() ? text : text + ' ');
    QCOMPARE(QString::fromStdString(hart::hexByte(b.empty() ? 0xC3 : b.back())), b.empty() ? "C3" : text.right(2));
    if (!b.empty())
        QCOMPARE(toQt(hart::parseManualEntry(hart::hexText(b)).bytes), bytes);
}

QTEST_APPLESS_MAIN(TestHartFrames)
#include "test_hart_frames.moc"
