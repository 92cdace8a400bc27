// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigReplies.h"
#include "DecodedControls.h"
#include "ConfigRequests.h"
#include "StrictInt.h"

#include <QtTest>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace exchange;


namespace {

ConfigDecodeResult decodeSystem(std::string_view reply) { return flat(decodeSystemParameters(reply)); }
ConfigDecodeResult decodeTable(std::string_view reply) { return flat(decodeInstrumentTable(reply)); }

std::string_view view(const QByteArray &a) { return {a.constData(), static_cast<size_t>(a.size())}; }
QByteArray qbytes(const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); }
QByteArray qbytes(const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); }

// "NAME:index" for a combo, "NAME='text'" for an edit (text bytes as they stand).
QList<QByteArray> render(const ConfigDecodeResult &r)
{
    QList<QByteArray> out;
    for (const FieldUpdate &u : r.updates) {
        if (u.kind == FieldUpdate::ComboIndex)
            out << QByteArray::fromStdString(u.control) + ':' + QByteArray::number(u.index);
        else
            out << QByteArray::fromStdString(u.control) + "='" + qbytes(u.text) + '\'';
    }
    return out;
}

QByteArray err(const char *text) { return QByteArray("'") + text + "' is not a valid integer value"; }

// The window's view of the decoded values: last update per control wins.
std::map<std::string, FieldUpdate> apply(const ConfigDecodeResult &r)
{
    std::map<std::string, FieldUpdate> controls;
    for (const FieldUpdate &u : r.updates)
        controls[u.control] = u;
    return controls;
}

void addColumns()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<QByteArray>>("updates");
    QTest::addColumn<QByteArray>("error"); // empty: no error expected
}

void check(const ConfigDecodeResult &r)
{
    QFETCH(QList<QByteArray>, updates);
    QFETCH(QByteArray, error);
    QCOMPARE(render(r), updates);
    QCOMPARE(r.error.has_value(), !error.isEmpty());
    if (r.error)
        QCOMPARE(qbytes(*r.error), error);
}

using L = QList<QByteArray>;

} // namespace

class TestConfigReplies : public QObject {
    Q_OBJECT
private slots:
    void systemParameters_data();
    void systemParameters();
    void instrumentTable_data();
    void instrumentTable();
    void roundTripSystemParameters();
    void roundTripInstrumentTable();
    void arbitraryRepliesStayWellFormed();
};

void TestConfigReplies::systemParameters_data()
{
    addColumns();
    const L all = {"MODEL:1", "Edit14='007'", "BOA:3", "JIAOA:1", "BOB:2", "JIAOB:0", "DTMA:2", "DTMB:5", "RTD='015'"};

    QTest::newRow("mode only") << QByteArray("MD:1") << L{"MODEL:1"} << QByteArray();
    QTest::newRow("RS485A only") << QByteArray("BOA:31") << L{"BOA:3", "JIAOA:1"} << QByteArray();
    QTest::newRow("address and interval") << QByteArray("C1:007RTM:015") << L{"Edit14='007'", "RTD='015'"} << QByteArray();
    QTest::newRow("all keys, no separators") << QByteArray("MD:1C1:007BOA:31BOB:20DTA:2DTB:5RTM:015") << all << QByteArray();
    QTest::newRow("all keys, '#' and noise between")
        << QByteArray("QX1#MD:1#C1:007#BOA:31#\r\nBOB:20#DTA:2#DTB:5#RTM:015#OK") << all << QByteArray();
    QTest::newRow("keys out of order decode in table order")
        << QByteArray("RTM:015DTB:5DTA:2BOB:20BOA:31C1:007MD:1") << all << QByteArray();
    QTest::newRow("empty reply") << QByteArray() << L{} << QByteArray();
    QTest::newRow("no keys") << QByteArray("QQQ#QV#OK") << L{} << QByteArray();
    QTest::newRow("key without colon") << QByteArray("MD1 BOA31") << L{} << QByteArray();
    QTest::newRow("duplicate key: first wins") << QByteArray("MD:0#MD:1") << L{"MODEL:0"} << QByteArray();
    QTest::newRow("duplicate two-field key") << QByteArray("BOA:31BOA:52") << L{"BOA:3", "JIAOA:1"} << QByteArray();
    QTest::newRow("duplicate: bad first occurrence is the one used")
        << QByteArray("DTA:xDTA:1") << L{} << err("x");
    QTest::newRow("key inside other text") << QByteArray("XXMD:0") << L{"MODEL:0"} << QByteArray();
    QTest::newRow("out-of-range index reported as is") << QByteArray("MD:9DTA:7BOB:98")
                                                       << L{"MODEL:9", "BOB:9", "JIAOB:8", "DTMA:7"} << QByteArray();

    // Conversion failures stop decoding; earlier updates stay.
    QTest::newRow("DTA:x stops before DTB and RTM")
        << QByteArray("MD:1C1:007DTA:xDTB:5RTM:015") << L{"MODEL:1", "Edit14='007'"} << err("x");
    QTest::newRow("letter in mode") << QByteArray("MD:aC1:007") << L{} << err("a");
    QTest::newRow("'#' as parity keeps the baud")
        << QByteArray("BOA:3#BOB:20") << L{"BOA:3"} << err("#");
    QTest::newRow("sign alone is not a number") << QByteArray("MD:+") << L{} << err("+");
    QTest::newRow("blank is not a digit") << QByteArray("C1:001DTB: ") << L{"Edit14='001'"} << err(" ");

    // Short replies: texts take what is there, absent index characters fail.
    QTest::newRow("mode at end of reply") << QByteArray("C1:123MD:") << L{} << err("");
    QTest::newRow("parity absent") << QByteArray("BOA:3") << L{"BOA:3"} << err("");
    QTest::newRow("short address") << QByteArray("C1:07") << L{"Edit14='07'"} << QByteArray();
    QTest::newRow("address absent") << QByteArray("C1:") << L{"Edit14=''"} << QByteArray();
    QTest::newRow("short interval") << QByteArray("MD:0RTM:1") << L{"MODEL:0", "RTD='1'"} << QByteArray();
    QTest::newRow("text values are not checked") << QByteArray("C1:a#bRTM:+ 9")
                                                 << L{"Edit14='a#b'", "RTD='+ 9'"} << QByteArray();
    // A key found inside another key's value: MD: is decoded first and has nothing after it.
    QTest::newRow("key hidden in a text value") << QByteArray("C1:MD:") << L{} << err("");

    // NUL is an ordinary character.
    QTest::newRow("NUL in a text value") << QByteArray("C1:0\0" "7RTM:015", 13)
                                         << L{QByteArray("Edit14='0\0" "7'", 12), "RTD='015'"} << QByteArray();
    QTest::newRow("NUL before the keys") << QByteArray("\0\0MD:1", 6) << L{"MODEL:1"} << QByteArray();
    QTest::newRow("NUL as an index") << QByteArray("MD:\0", 4) << L{}
                                     << QByteArray("'\0' is not a valid integer value", 32);
    QTest::newRow("high byte as an index") << QByteArray("MD:\xd9\xa1") << L{}
                                           << QByteArray("'\xd9' is not a valid integer value");
}

void TestConfigReplies::systemParameters()
{
    QFETCH(QByteArray, reply);
    check(decodeSystem(view(reply)));
}

void TestConfigReplies::instrumentTable_data()
{
    addColumns();
    const L row1 = {"SBZHU1:1", "NEIXING1:0", "QIADF1:4", "DTM1='060'"};

    QTest::newRow("row 1 defaults") << QByteArray("T01:1008060") << row1 << QByteArray();
    QTest::newRow("row 3 only") << QByteArray("T03:0005123")
                                << L{"SBZHU3:0", "NEIXING3:0", "QIADF3:1", "DTM3='123'"} << QByteArray();
    QTest::newRow("all rows with separators")
        << QByteArray("QH00#T01:1008060#T02:0016045#T03:1129999#T04:0004000#")
        << L{"SBZHU1:1", "NEIXING1:0", "QIADF1:4", "DTM1='060'", "SBZHU2:0", "NEIXING2:1", "QIADF2:2", "DTM2='045'",
             "SBZHU3:1", "NEIXING3:12", "QIADF3:5", "DTM3='999'", "SBZHU4:0", "NEIXING4:0", "QIADF4:0", "DTM4='000'"}
        << QByteArray();
    QTest::newRow("rows out of order decode 1..4")
        << QByteArray("T04:0004000T01:1008060")
        << L{"SBZHU1:1", "NEIXING1:0", "QIADF1:4", "DTM1='060'", "SBZHU4:0", "NEIXING4:0", "QIADF4:0", "DTM4='000'"}
        << QByteArray();
    QTest::newRow("no rows") << QByteArray("QQQ#QH00#") << L{} << QByteArray();
    QTest::newRow("duplicate row: first wins") << QByteArray("T01:1008060#T01:0004001") << row1 << QByteArray();
    QTest::newRow("two-digit type") << QByteArray("T02:1378010")
                                    << L{"SBZHU2:1", "NEIXING2:37", "QIADF2:4", "DTM2='010'"} << QByteArray();

    // Preamble digits below "4" give an index off the list.
    QTest::newRow("preamble 3") << QByteArray("T01:1003060")
                                << L{"SBZHU1:1", "NEIXING1:0", "QIADF1:-1", "DTM1='060'"} << QByteArray();
    QTest::newRow("preamble 0") << QByteArray("T02:1000060")
                                << L{"SBZHU2:1", "NEIXING2:0", "QIADF2:-4", "DTM2='060'"} << QByteArray();

    // Conversion failures stop decoding; earlier updates stay.
    QTest::newRow("letter in type stops row 2")
        << QByteArray("T01:1x08060T02:1008060") << L{"SBZHU1:1"} << err("x0");
    QTest::newRow("'#' mode in row 2 keeps row 1")
        << QByteArray("T01:1008060T02:#008060") << row1 << err("#");
    QTest::newRow("bad preamble keeps mode and type, not count")
        << QByteArray("T01:100#060") << L{"SBZHU1:1", "NEIXING1:0"} << err("#");
    QTest::newRow("blank in type") << QByteArray("T03:1 8060") << L{"SBZHU3:1"} << err(" 8");

    // Short replies.
    QTest::newRow("type absent") << QByteArray("T01:1") << L{"SBZHU1:1"} << err("");
    QTest::newRow("type one digit, preamble absent")
        << QByteArray("T01:10") << L{"SBZHU1:1", "NEIXING1:0"} << err("");
    QTest::newRow("count absent") << QByteArray("T01:1008")
                                  << L{"SBZHU1:1", "NEIXING1:0", "QIADF1:4", "DTM1=''"} << QByteArray();
    QTest::newRow("count one char") << QByteArray("T01:10080")
                                    << L{"SBZHU1:1", "NEIXING1:0", "QIADF1:4", "DTM1='0'"} << QByteArray();
    QTest::newRow("mode absent") << QByteArray("T04:") << L{} << err("");

    QTest::newRow("NUL in a count") << QByteArray("T02:10080\0" "1", 11)
                                    << L{"SBZHU2:1", "NEIXING2:0", "QIADF2:4", QByteArray("DTM2='0\0" "1'", 10)}
                                    << QByteArray();
}

void TestConfigReplies::instrumentTable()
{
    QFETCH(QByteArray, reply);
    check(decodeTable(view(reply)));
}

namespace {

// Filler the gateway might put around fields; no colon, so it never forms a key.
QByteArray noise(std::mt19937 &rng)
{
    static const char kChars[] = {'#', ' ', '\r', '\n', '\0', 'o', 'k', 'x', '-', '+', '5'};
    QByteArray out;
    const int n = std::uniform_int_distribution<int>(0, 3)(rng);
    for (int i = 0; i < n; ++i)
        out += kChars[std::uniform_int_distribution<size_t>(0, sizeof kChars - 1)(rng)];
    return out;
}

char digit(std::mt19937 &rng, int lo, int hi) { return char('0' + std::uniform_int_distribution<int>(lo, hi)(rng)); }

QByteArray digits3(std::mt19937 &rng)
{
    return QByteArray() + digit(rng, 0, 9) + digit(rng, 0, 9) + digit(rng, 0, 9);
}

QByteArray joinShuffled(QList<QByteArray> fields, std::mt19937 &rng)
{
    std::shuffle(fields.begin(), fields.end(), rng);
    QByteArray out = noise(rng);
    for (const QByteArray &f : fields)
        out += f + '#' + noise(rng);
    return out;
}

int comboIndex(const std::map<std::string, FieldUpdate> &c, const std::string &name)
{
    const auto it = c.find(name);
    if (it == c.end() || it->second.kind != FieldUpdate::ComboIndex)
        return -1000;
    return it->second.index;
}

// The window converts edit texts with the strict conversion before a set.
int editNumber(const std::map<std::string, FieldUpdate> &c, const std::string &name)
{
    const auto it = c.find(name);
    if (it == c.end() || it->second.kind != FieldUpdate::EditText)
        return -1000;
    return strictToInt(it->second.text).value_or(-1000);
}

constexpr int kRounds = 4000;

} // namespace

void TestConfigReplies::roundTripSystemParameters()
{
    std::mt19937 rng(20250807);
    for (int round = 0; round < kRounds; ++round) {
        const char md = digit(rng, 0, 1);
        const QByteArray c1 = digits3(rng);
        const char boa = digit(rng, 0, 7), jiaoa = digit(rng, 0, 2);
        const char bob = digit(rng, 0, 7), jiaob = digit(rng, 0, 2);
        const char dta = digit(rng, 0, 5), dtb = digit(rng, 0, 5);
        const QByteArray rtm = digits3(rng);

        const QByteArray reply = joinShuffled({QByteArray("MD:") + md, "C1:" + c1, QByteArray("BOA:") + boa + jiaoa,
                                               QByteArray("BOB:") + bob + jiaob, QByteArray("DTA:") + dta,
                                               QByteArray("DTB:") + dtb, "RTM:" + rtm},
                                              rng);
        const SystemReply decoded = decodeSystemParameters(view(reply));
        const ConfigDecodeResult r = flat(decoded);
        QVERIFY2(!r.error, reply.toHex(' ').constData());
        QCOMPARE(r.updates.size(), size_t(9));
        const auto c = apply(r);

        QCOMPARE(qbytes(setCommunicationMode(comboIndex(c, "MODEL"))), QByteArray("QQS#MD:") + md + '#');
        QCOMPARE(qbytes(setSlaveAddress(editNumber(c, "Edit14"))), "QQS#ADR:" + c1 + '#');
        QCOMPARE(qbytes(setRs485('A', comboIndex(c, "BOA"), comboIndex(c, "JIAOA"))),
                 QByteArray("QQS#BOA:") + boa + jiaoa + "0#");
        QCOMPARE(qbytes(setRs485('B', comboIndex(c, "BOB"), comboIndex(c, "JIAOB"))),
                 QByteArray("QQS#BOB:") + bob + jiaob + "0#");
        // The reply reports a digit; the set request carries the index as a raw byte.
        QCOMPARE(qbytes(setDataReturnTime('A', comboIndex(c, "DTMA"))), QByteArray("QQS#DTA:") + char(dta - '0') + '#');
        QCOMPARE(qbytes(setDataReturnTime('B', comboIndex(c, "DTMB"))), QByteArray("QQS#DTK:") + char(dtb - '0') + '#');
        QCOMPARE(qbytes(setCommunicationInterval(editNumber(c, "RTD"))), "QQS#RDM:" + rtm + '#');

        // The model itself carries the same values back to the gateway.
        GatewaySettings change;
        change.system = decoded.settings;
        const auto requests = setRequests(change, {});
        QVERIFY(requests);
        QList<QByteArray> sent;
        for (const SetRequest &q : *requests)
            sent << qbytes(q.bytes);
        QCOMPARE(sent, (QList<QByteArray>{"QQS#ADR:" + c1 + '#', QByteArray("QQS#BOA:") + boa + jiaoa + "0#",
                                          QByteArray("QQS#BOB:") + bob + jiaob + "0#", QByteArray("QQS#MD:") + md + '#',
                                          QByteArray("QQS#DTA:") + char(dta - '0') + '#',
                                          QByteArray("QQS#DTK:") + char(dtb - '0') + '#', "QQS#RDM:" + rtm + '#'}));
    }
}

void TestConfigReplies::roundTripInstrumentTable()
{
    std::mt19937 rng(4242);
    for (int round = 0; round < kRounds; ++round) {
        QList<QByteArray> fields;
        QByteArray values[5]; // the seven characters after "T0n:", empty when the row is left out
        for (int n = 1; n <= 4; ++n) {
            if (std::uniform_int_distribution<int>(0, 4)(rng) == 0)
                continue;
            values[n] = QByteArray() + digit(rng, 0, 1) + digit(rng, 0, 9) + digit(rng, 0, 9) + digit(rng, 4, 9)
                      + digits3(rng);
            fields << QByteArray("T0") + char('0' + n) + ':' + values[n];
        }
        const QByteArray reply = joinShuffled(fields, rng);
        const InstrumentReply decoded = decodeInstrumentTable(view(reply));
        const ConfigDecodeResult r = flat(decoded);
        QVERIFY2(!r.error, reply.toHex(' ').constData());
        QCOMPARE(r.updates.size(), size_t(4 * fields.size()));
        const auto c = apply(r);

        for (int n = 1; n <= 4; ++n) {
            const std::string s = std::to_string(n);
            if (values[n].isEmpty()) {
                QCOMPARE(c.count("SBZHU" + s) + c.count("NEIXING" + s) + c.count("QIADF" + s) + c.count("DTM" + s),
                         size_t(0));
                continue;
            }
            const Bytes sent = setInstrument(n, comboIndex(c, "SBZHU" + s), comboIndex(c, "NEIXING" + s),
                                             comboIndex(c, "QIADF" + s), editNumber(c, "DTM" + s));
            QCOMPARE(qbytes(sent), QByteArray("QQS#HA0") + char('0' + n) + ':' + values[n] + '#');
            GatewaySettings change;
            change.instruments[size_t(n - 1)] = decoded.rows[size_t(n - 1)];
            const auto requests = setRequests(change, {});
            QVERIFY(requests && requests->size() == 1);
            QCOMPARE(qbytes(requests->front().bytes), qbytes(sent));
        }
    }
}

// Any reply, however mangled, yields only known controls, decoded in table
// order, and an error only in the conversion message's shape.
void TestConfigReplies::arbitraryRepliesStayWellFormed()
{
    static const char *const kPieces[] = {"MD:", "C1:", "BOA:", "BOB:", "DTA:", "DTB:", "RTM:", "T01:", "T02:",
                                          "T03:", "T04:", "#", "1", "0", "9", "x", ":", "-", "+", " "};
    const std::set<std::string> sysControls = {"MODEL", "Edit14", "BOA", "JIAOA", "BOB",
                                               "JIAOB", "DTMA",   "DTMB", "RTD"};
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        QByteArray reply;
        const int pieces = std::uniform_int_distribution<int>(0, 40)(rng);
        for (int i = 0; i < pieces && reply.size() < 255; ++i) {
            if (std::uniform_int_distribution<int>(0, 5)(rng) == 0)
                reply += char(std::uniform_int_distribution<int>(0, 255)(rng));
            else
                reply += kPieces[std::uniform_int_distribution<size_t>(0, std::size(kPieces) - 1)(rng)];
        }
        reply.truncate(255);

        for (const ConfigDecodeResult &r : {decodeSystem(view(reply)), decodeTable(view(reply))}) {
            QVERIFY(r.updates.size() <= 16);
            for (const FieldUpdate &u : r.updates) {
                const bool known = sysControls.count(u.control)
                                || (u.control.size() >= 4 && u.control.back() >= '1' && u.control.back() <= '4');
                QVERIFY2(known, u.control.c_str());
                if (u.kind == FieldUpdate::EditText)
                    QVERIFY(u.text.size() <= 3);
                else
                    QVERIFY(u.index >= -99 - 4 && u.index <= 99);
            }
            if (r.error) {
                const std::string &e = *r.error;
                QVERIFY(e.size() >= 2 + 29 && e.size() <= 4 + 29);
                QCOMPARE(e.front(), '\'');
                QVERIFY(e.ends_with("' is not a valid integer value"));
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestConfigReplies)
#include "test_config_replies.moc"
