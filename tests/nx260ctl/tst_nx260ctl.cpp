// SPDX-License-Identifier: GPL-3.0-or-later
// nx260ctl against the gateway simulator on a pseudo-terminal: each command,
// each exit code, profiles, and that bad input sends nothing.
#include "Ctl.h"
#include "GatewaySim.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <nlohmann/json.hpp>

#ifdef NX_HAVE_CAPTURE
#include <pcap/pcap.h>
#endif

#include <QXmlStreamReader>

#include <fstream>
#include <functional>
#include <sstream>

using namespace std::chrono_literals;
using Json = nlohmann::json;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

class Gateway {
public:
    explicit Gateway(sim::Options o = {})
    {
        o.linkPath.clear();
        sim_ = std::make_unique<sim::GatewaySim>(o);
        started_ = sim_->start();
    }
    bool started() const { return started_; }
    sim::GatewaySim &sim() { return *sim_; }

    Result run(std::vector<std::string> args)
    {
        std::ostringstream out, err;
        Result r;
        r.code = nx260ctl::run(args, out, err, sim_->slavePath());
        r.out = out.str();
        r.err = err.str();
        return r;
    }
    uint64_t requests() const { return sim_->counters().requests; }

private:
    std::unique_ptr<sim::GatewaySim> sim_;
    bool started_ = false;
};

sim::Options transparent()
{
    sim::Options o;
    o.initialState.mode = 0;
    return o;
}

std::string writeFile(const QTemporaryDir &dir, const char *name, const std::string &text)
{
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path) << text;
    return path;
}

int gw0run(const std::string &record, const std::string &html)
{
    std::ostringstream out, err;
    return nx260ctl::run({"--record", record, "report", html}, out, err);
}

} // namespace

class TstNx260ctl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void infoAndShow();
    void hartInfo();
    void hartScanWait();
    void setEachKey();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void backupChangeRestoreDiff();
    void badProfileSendsNothing_data();
    void badProfileSendsNothing();
    void hartIdReadSend();
    void hartOnlyValidReplies();
    void hartScanFindsEachAddress();
    void hartReadWatchRepeats();
    void silentGatewayTimesOut();
    void portErrors();
    void captureWritesEachExchange();
    void splitReplyIsReadWhole();
    void incompleteOrForeignReplyIsExit1();
    void outputWriteFailureIsAnError();
    void channelModelReadBackAndCompared();
    void manyGatewaysRestoreAndRecord();
    void recordSurvivesKill();
    void manPageNamesWhatHelpNames();
};

// Changes are recorded; keep them out of the user's own record.
void TstNx260ctl::initTestCase()
{
    static QTemporaryDir state;
    QVERIFY(state.isValid());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
}

void TstNx260ctl::infoAndShow()
{
    Gateway gw;
    QVERIFY(gw.started());
    Result r = gw.run({"info"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.starts_with("NX260-HGW SIMULATOR"));

    r = gw.run({"show"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.find("rs485a.return_time      2_200MS\n") != std::string::npos);
    QVERIFY(r.out.find("instrument.4.preambles  8\n") != std::string::npos);

    r = gw.run({"--json", "show"});
    QCOMPARE(r.code, 0);
    const Json both = Json::parse(r.out);
    QCOMPARE(both["system"]["mode"], "modbus");
    QCOMPARE(both["system"]["rs485b"]["baud"], 9600);
    QCOMPARE(both["instruments"].size(), size_t(4));
    QCOMPARE(both["instruments"][3], Json::parse(R"({"row":4,"mode":"master","type":0,"preambles":8,"interval":60})"));

    r = gw.run({"show", "instruments", "--json"});
    QVERIFY(!Json::parse(r.out).contains("system"));
}

void TstNx260ctl::setEachKey()
{
    struct Row {
        const char *setting;
        std::function<bool(const sim::GatewayState &)> applied;
    };
    const Row rows[] = {
        {"mode=transparent", [](auto &s) { return s.mode == 0; }},
        {"address=123", [](auto &s) { return s.slaveAddress == 123; }},
        {"rs485a.baud=115200", [](auto &s) { return s.baudA == 7 && s.parityA == 0; }},
        {"rs485b.baud=1200", [](auto &s) { return s.baudB == 0 && s.parityB == 0; }},
        {"rs485a.parity=odd", [](auto &s) { return s.parityA == 1 && s.baudA == 3; }},
        {"rs485b.parity=even", [](auto &s) { return s.parityB == 2; }},
        {"rs485a.return_time=5_500MS", [](auto &s) { return s.returnTimeA == 5; }},
        {"rs485b.return_time=0", [](auto &s) { return s.returnTimeB == 0; }},
        {"interval=999", [](auto &s) { return s.interval == 999; }},
        {"channels=4", [](auto &s) { return s.channelModel == 2; }},
        {"instrument.1.mode=secondary", [](auto &s) { return s.instruments[0].deviceMode == 0; }},
        {"instrument.2.type=0", [](auto &s) { return s.instruments[1].type == 0; }},
        {"instrument.3.preambles=4", [](auto &s) { return s.instruments[2].preambles == 4; }},
        {"instrument.4.interval=7",
         [](auto &s) { return s.instruments[3].interval == 7 && s.instruments[3].preambles == 8; }},
    };
    for (const Row &row : rows) {
        Gateway gw;
        QVERIFY(gw.started());
        const Result r = gw.run({"set", row.setting});
        QVERIFY2(r.code == 0, (row.setting + (": " + r.err)).c_str());
        QVERIFY2(row.applied(gw.sim().state()), row.setting);
        // Progress names the setting as it is acknowledged.
        const std::string key = std::string(row.setting).substr(0, std::string(row.setting).find('='));
        QVERIFY2(r.err.starts_with("set: " + key + "=") && r.err.find(": acknowledged (SET ") != std::string::npos,
                 r.err.c_str());
    }
}

void TstNx260ctl::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown key") << QStringList{"set", "speed=9"} << "set: speed: unknown key";
    QTest::newRow("baud not listed") << QStringList{"set", "rs485a.baud=57600"} << "rs485a.baud=57600: the value must be one of";
    QTest::newRow("address out of range") << QStringList{"set", "address=1000"} << "address=1000";
    QTest::newRow("row 5") << QStringList{"set", "instrument.5.mode=master"} << "unknown key";
    QTest::newRow("preambles 3") << QStringList{"set", "instrument.1.preambles=3"} << "4 to 9";
    QTest::newRow("second setting bad") << QStringList{"set", "address=5", "channels=3"} << "channels=3";
    QTest::newRow("no =") << QStringList{"set", "address"} << "expected KEY=VALUE";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command";
    QTest::newRow("bad option value") << QStringList{"--timeout", "0", "info"} << "--timeout 0";
    QTest::newRow("hart send not hex") << QStringList{"hart", "send", "02", "8G"} << "8G: not a hex byte";
    QTest::newRow("hart send 16 bytes") << QStringList{"hart", "send", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"}
                                        << "16 bytes typed; at most 15";
    QTest::newRow("bad identity") << QStringList{"hart", "read", "--identity", "1:2"} << "--identity 1:2";
}

void TstNx260ctl::badInputSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    Gateway gw;
    QVERIFY(gw.started());
    std::vector<std::string> a;
    for (const QString &s : args)
        a.push_back(s.toStdString());
    const Result r = gw.run(a);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.find(message.toStdString()) != std::string::npos, r.err.c_str());
    QCOMPARE(std::count(r.err.begin(), r.err.end(), '\n'), 1); // one line
    QTest::qWait(100);
    QCOMPARE(gw.requests(), uint64_t(0));
}

void TstNx260ctl::backupChangeRestoreDiff()
{
    QTemporaryDir dir;
    Gateway gw;
    QVERIFY(gw.started());
    QCOMPARE(gw.run({"set", "rs485b.baud=19200", "rs485b.parity=even", "instrument.2.interval=45"}).code, 0);
    const sim::GatewayState saved = gw.sim().state();
    const std::string profile = dir.filePath("gw.json").toStdString();
    QCOMPARE(gw.run({"backup", profile}).code, 0);

    QCOMPARE(gw.run({"set", "mode=transparent", "rs485b.parity=none", "instrument.2.preambles=9"}).code, 0);
    Result r = gw.run({"diff", profile});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.out, std::string("mode                    gateway transparent, profile modbus\n"
                                "rs485b.parity           gateway none, profile even\n"
                                "instrument.2.preambles  gateway 9, profile 8\n"));

    const uint64_t before = gw.requests();
    r = gw.run({"restore", profile});
    QCOMPARE(r.code, 0);
    // Two queries, the identification for the record, three set requests
    // (rs485b, mode, instrument 2), two queries to verify.
    QCOMPARE(gw.requests() - before, uint64_t(8));
    QVERIFY(gw.sim().state() == saved);
    QVERIFY2(r.out.find("mode                    set\n") != std::string::npos, r.out.c_str());
    QVERIFY(r.out.find("address                 unchanged\n") != std::string::npos);

    r = gw.run({"diff", "--json", profile});
    QCOMPARE(r.code, 0);
    QCOMPARE(Json::parse(r.out), Json::parse(R"({"differences":[],"not_reported":[]})"));
    QVERIFY(gw.run({"diff", profile}).out.ends_with("no differences\n"));
}

void TstNx260ctl::badProfileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("message");
    QTest::newRow("not json") << QByteArray("{") << "not valid JSON";
    QTest::newRow("format") << QByteArray(R"({"format":"other","version":1})") << "format: must be";
    QTest::newRow("version") << QByteArray(R"({"format":"nx260-profile","version":2})") << "version: must be 1";
    QTest::newRow("unknown top member")
        << QByteArray(R"({"format":"nx260-profile","version":1,"extra":1})") << "extra: unknown member";
    QTest::newRow("unknown nested member")
        << QByteArray(R"({"format":"nx260-profile","version":1,"system":{"rs485a":{"stop":1}}})")
        << "system.rs485a.stop: unknown member";
    QTest::newRow("baud out of list")
        << QByteArray(R"({"format":"nx260-profile","version":1,"system":{"rs485a":{"baud":9601}}})")
        << "system.rs485a.baud: 9601 is not one of";
    QTest::newRow("choice as number")
        << QByteArray(R"({"format":"nx260-profile","version":1,"system":{"mode":1}})") << "system.mode: 1 is not";
    QTest::newRow("row missing")
        << QByteArray(R"({"format":"nx260-profile","version":1,"instruments":[{"mode":"master"}]})")
        << "instruments[0].row";
    QTest::newRow("preambles out of range")
        << QByteArray(R"({"format":"nx260-profile","version":1,"instruments":[{"row":2,"preambles":10}]})")
        << "instruments[0].preambles: 10 is not a number from 4 to 9";
}

void TstNx260ctl::badProfileSendsNothing()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const std::string path = writeFile(dir, "bad.json", profile.toStdString());
    Gateway gw;
    QVERIFY(gw.started());
    for (const char *command : {"restore", "diff"}) {
        const Result r = gw.run({command, path});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.find(message.toStdString()) != std::string::npos, r.err.c_str());
    }
    QTest::qWait(100);
    QCOMPARE(gw.requests(), uint64_t(0));
}

void TstNx260ctl::hartIdReadSend()
{
    Gateway gw(transparent());
    QVERIFY(gw.started());
    Result r = gw.run({"hart", "id", "--json"});
    QCOMPARE(r.code, 0);
    QCOMPARE(Json::parse(r.out),
             Json::parse(R"({"address":1,"manufacturer_id":55,"device_type":81,"preambles":5,"device_id":123456})"));

    r = gw.run({"--json", "hart", "read"});
    QCOMPARE(r.code, 0);
    const Json read = Json::parse(r.out);
    const sim::Command3Values sent = gw.sim().lastCommand3Values();
    QVERIFY(sent.valid);
    QCOMPARE(read["loop_current"]["value"].get<float>(), sent.current);
    QCOMPARE(read["variables"].size(), size_t(4));
    for (size_t i = 0; i < 4; ++i) {
        QCOMPARE(read["variables"][i]["value"].get<float>(), sent.values[i]);
        QCOMPARE(read["variables"][i]["unit_code"].get<int>(), int(sent.units[i]));
    }
    QCOMPARE(read["variables"][2]["unit"], "kg/h"); // code 75
    QCOMPARE(read["variables"][2]["unit_name"], "kilograms per hour");

    // A given identity skips command 0; a wrong one gets no answer.
    const uint64_t before = gw.sim().counters().hartReplies;
    QCOMPARE(gw.run({"hart", "read", "--identity", "0x37:0x51:123456"}).code, 0);
    QCOMPARE(gw.sim().counters().hartReplies - before, uint64_t(1));
    QCOMPARE(gw.run({"hart", "read", "--identity", "55:81:1", "--timeout", "200"}).code, 4);

    r = gw.run({"hart", "send", "02 80 00 00"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.find("request        FF FF FF FF FF FF 02 80 00 00 82\n") != std::string::npos, r.out.c_str());
    QVERIFY(r.out.find("reply          06 80 00 0E 00 00 FE 37 51 05") != std::string::npos);
    // Command 50 is not implemented by the instrument: response code 64.
    r = gw.run({"hart", "send", "82", "B7", "51", "01", "E2", "40", "32", "00"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.out.find("response_code  64") != std::string::npos);
}

// Noise 250 ms before the reply does not stand in for it; a reply with a
// bad checksum is refused by name and nothing is decoded from it.
void TstNx260ctl::hartOnlyValidReplies()
{
    sim::Options o = transparent();
    o.faults.hartNoiseFirst = true;
    Gateway noisy(o);
    o.faults = {};
    o.faults.hartBadChecksum = true;
    Gateway broken(o);
    QVERIFY(noisy.started() && broken.started());
    Result r = noisy.run({"hart", "id", "--json"});
    QVERIFY2(r.code == 0, r.err.c_str());
    QCOMPARE(Json::parse(r.out),
             Json::parse(R"({"address":1,"manufacturer_id":55,"device_type":81,"preambles":5,"device_id":123456})"));
    r = noisy.run({"--json", "hart", "read"});
    QVERIFY2(r.code == 0, r.err.c_str());
    QCOMPARE(Json::parse(r.out)["variables"].size(), size_t(4));

    for (const char *command : {"id", "read"}) {
        r = broken.run({"hart", command, "--timeout", "300"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.find("HART reply checksum error") != std::string::npos, r.err.c_str());
        QVERIFY(r.out.empty());
    }
}

void TstNx260ctl::hartScanFindsEachAddress()
{
    sim::Options o = transparent();
    o.hart.addressMask = (1u << 1) | (1u << 4); // addresses 2 and 5
    Gateway gw(o);
    QVERIFY(gw.started());
    Result r = gw.run({"hart", "scan", "--range", "0-5", "--timeout", "150"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, std::string("address 2 (polling 1): manufacturer_id 55, device_type 81, preambles 5, device_id "
                                "123456, HART 5\n"
                                "address 5 (polling 4): manufacturer_id 55, device_type 81, preambles 5, device_id "
                                "123456, HART 5\n"));
    QCOMPARE(gw.run({"hart", "id", "--address", "3", "--timeout", "150"}).code, 4);
    QCOMPARE(gw.run({"hart", "id", "--address", "5"}).code, 0);
    QCOMPARE(gw.run({"hart", "scan", "--range", "2-3", "--timeout", "100"}).code, 4);
    for (const char *bad : {"5-2", "0-32", "x", "1-"})
        QCOMPARE(gw.run({"hart", "scan", "--range", bad}).code, 2);
}

// The scan gives up on an address whose reply has not begun within its
// wait, but a reply that has begun gets the whole time-out.
void TstNx260ctl::hartScanWait()
{
    sim::Options o = transparent();
    o.faults.split = true;
    o.splitGapMs = 400; // the second half comes after the scan's 300 ms wait
    Gateway split(o);
    QVERIFY(split.started());
    QCOMPARE(split.run({"hart", "scan", "--range", "0-0"}).code, 0);

    o = transparent();
    o.faults.slowMs = 500; // no byte within 300 ms
    Gateway slow(o);
    QVERIFY(slow.started());
    QCOMPARE(slow.run({"hart", "scan", "--range", "0-0"}).code, 4);
    QCOMPARE(slow.run({"hart", "scan", "--range", "0-0", "--timeout", "1500"}).code, 0);
}

// Every member from the commands the instrument implements; those it does
// not (response code 64) are null and no error.
void TstNx260ctl::hartInfo()
{
    sim::Options o = transparent();
    o.hart.universalRevision = 7;
    Gateway gw(o);
    QVERIFY(gw.started());
    Result r = gw.run({"--json", "hart", "info"});
    QCOMPARE(r.code, 0);
    Json j = Json::parse(r.out);
    const sim::Command3Values sent = gw.sim().lastCommand3Values();
    QCOMPARE(j["tag"], "FT-101");
    QCOMPARE(j["descriptor"], "HOT WATER LINE");
    QCOMPARE(j["message"], "NX260 GATEWAY SIMULATOR");
    QCOMPARE(j["date"], "2026-12-10");
    QCOMPARE(j["long_tag"], "Vortex FT-101 Stra\u00DFe 4");
    QCOMPARE(j["pv"]["unit"], "m3/h");
    QCOMPARE(j["pv"]["unit_code"], 19);
    QCOMPARE(j["loop_current_ma"].get<float>(), sent.current);
    QCOMPARE(j["percent_of_range"].get<float>(), (sent.current - 4.0f) / 16.0f * 100.0f);
    QCOMPARE(j["range"], Json::parse(R"({"upper": 100.0, "lower": 0.0, "unit": "m3/h", "unit_code": 19,
        "damping_s": 2.0, "transfer_function": "linear", "alarm_selection": "high", "write_protect": false})"));
    QCOMPARE(j["additional_status"], "00 00 00 00 00 00 01 00 01");
    QCOMPARE(j["additional_status_bits"], Json::parse(R"(["maintenance required", "simulation active"])"));
    QCOMPARE(j["response_codes"], Json::parse(R"({"0": 0, "1": 0, "2": 0, "12": 0, "13": 0, "15": 0, "20": 0, "48": 0})"));

    o.hart.universalRevision = 5; // no long tag before HART 6
    o.hart.notImplemented = {12, 48};
    Gateway old(o);
    QVERIFY(old.started());
    r = old.run({"--json", "hart", "info"});
    QCOMPARE(r.code, 0);
    j = Json::parse(r.out);
    for (const char *member : {"message", "long_tag", "additional_status"})
        QVERIFY2(j[member].is_null(), member);
    QCOMPARE(j["tag"], "FT-101");
    QCOMPARE(j["response_codes"]["20"], 64);
    QCOMPARE(j["response_codes"]["12"], 64);
}

// --watch keeps reading at its pace until stopped; with --json one document
// per line.
void TstNx260ctl::hartReadWatchRepeats()
{
    Gateway gw(transparent());
    QVERIFY(gw.started());
    QProcess p;
    p.start(QStringLiteral(NX260CTL_EXE),
            {"--port", QString::fromStdString(gw.sim().slavePath()), "--json", "hart", "read", "--watch", "1"});
    QVERIFY(p.waitForStarted());
    QList<QByteArray> lines;
    QElapsedTimer t;
    qint64 first = 0;
    t.start();
    while (lines.size() < 3 && t.elapsed() < 10000 && p.waitForReadyRead(10000)) {
        while (p.canReadLine()) {
            lines << p.readLine();
            if (lines.size() == 1)
                first = t.elapsed();
        }
    }
    const qint64 third = t.elapsed();
    p.kill();
    p.waitForFinished();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(third - first >= 1900, QByteArray::number(third - first)); // one reading a second
    for (const QByteArray &line : lines)
        QCOMPARE(Json::parse(line.toStdString())["variables"].size(), size_t(4));
    QCOMPARE(gw.sim().counters().hartReplies, uint64_t(4)); // command 0 once, then command 3 each time
}

void TstNx260ctl::silentGatewayTimesOut()
{
    sim::Options o;
    o.faults.silent = true;
    Gateway gw(o);
    QVERIFY(gw.started());
    for (const char *command : {"show", "info"}) {
        QElapsedTimer t;
        t.start();
        const Result r = gw.run({"--timeout", "300", command});
        QCOMPARE(r.code, 4);
        QVERIFY2(t.elapsed() < 300 + 500, QByteArray::number(t.elapsed()));
        QVERIFY2(r.err.find(": QQQ#Q") != std::string::npos && r.err.find("within 300 ms") != std::string::npos,
                 r.err.c_str());
    }
}

void TstNx260ctl::portErrors()
{
    std::ostringstream out, err;
    QCOMPARE(nx260ctl::run({"--port", "/nonexistent/tty", "info"}, out, err), 3);
    QVERIFY(err.str().starts_with("nx260ctl: cannot open port /nonexistent/tty"));
    // The window's hints: which device a COM name is here.
    err.str({});
    QCOMPARE(nx260ctl::run({"--port", "COM40", "info"}, out, err), 3);
    QVERIFY2(err.str().find("COM40 is /dev/ttyS39 on this system.") != std::string::npos, err.str().c_str());
    QCOMPARE(nx260ctl::run({"info"}, out, err), 2); // no port at all

    sim::Options o;
    o.faults.hangupAfter = 1;
    Gateway gw(o);
    QVERIFY(gw.started());
    const Result r = gw.run({"show"});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.find("show: QQQ#QH00#: the port") != std::string::npos, r.err.c_str());
}

void TstNx260ctl::captureWritesEachExchange()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("x.pcap").toStdString();
    Gateway gw(transparent());
    QVERIFY(gw.started());
    const Result r = gw.run({"--capture", path, "hart", "read"});
#ifdef NX_HAVE_CAPTURE
    QCOMPARE(r.code, 0);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t *p = pcap_open_offline(path.c_str(), error);
    QVERIFY2(p, error);
    int packets = 0;
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    while (pcap_next_ex(p, &header, &data) == 1)
        ++packets;
    pcap_close(p);
    QCOMPARE(packets, 4); // command 0 and command 3, each request and reply
#else
    QCOMPARE(r.code, 2);
    QVERIFY(r.err.find("this build cannot capture") != std::string::npos);
    QCOMPARE(gw.requests(), uint64_t(0));
#endif
}

// A reply in two parts, 250 ms apart, is read whole: nothing decoded from
// half, and no command reads the previous reply's tail.
void TstNx260ctl::splitReplyIsReadWhole()
{
    Gateway plain;
    sim::Options o;
    o.faults.split = true;
    Gateway split(o);
    QVERIFY(plain.started() && split.started());
    const Result whole = plain.run({"--json", "show"});
    Result r = split.run({"--json", "show"});
    QCOMPARE(r.code, 0);
    QCOMPARE(Json::parse(r.out), Json::parse(whole.out));
    r = split.run({"info"});
    QCOMPARE(r.out, plain.run({"info"}).out);
    // A set's acknowledgement and the read-back after it, all split.
    r = split.run({"set", "address=77", "instrument.3.interval=5"});
    QVERIFY2(r.code == 0, r.err.c_str());
    QVERIFY2(r.err.find("acknowledged (SET ADR OK#)") != std::string::npos, r.err.c_str());
    QCOMPARE(split.sim().state().slaveAddress, 77);
}

void TstNx260ctl::incompleteOrForeignReplyIsExit1()
{
    sim::Options o;
    o.faults.split = true;
    Gateway split(o);
    o.faults = {};
    o.faults.garbage = true;
    Gateway garbage(o);
    QVERIFY(split.started() && garbage.started());
    // The second part comes after the time-out: what came is shown.
    Result r = split.run({"--timeout", "100", "show", "system"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.find("QQQ#QX1#: incomplete system parameters within 100 ms; received: \"QX1#MD:") != std::string::npos,
             r.err.c_str());
    QVERIFY(r.out.empty());
    for (const char *command : {"info", "show"}) {
        r = garbage.run({"--timeout", "300", command});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.find("received: bytes ") != std::string::npos || r.err.find("not an identification") != std::string::npos,
                 r.err.c_str());
        QVERIFY(r.out.empty());
    }
}

void TstNx260ctl::outputWriteFailureIsAnError()
{
    Gateway gw;
    QVERIFY(gw.started());
    std::ofstream full("/dev/full");
    std::ostringstream err;
    QCOMPARE(nx260ctl::run({"show"}, full, err, gw.sim().slavePath()), 5);
    QVERIFY2(err.str().starts_with("nx260ctl: cannot write the output"), err.str().c_str());

    // A closed pipe: the program says so instead of dying of SIGPIPE.
    Gateway hart(transparent());
    QVERIFY(hart.started());
    QProcess p;
    p.start("bash", {"-c", "set -o pipefail; \"$@\" | true", "_", QStringLiteral(NX260CTL_EXE), "--port",
                     QString::fromStdString(hart.sim().slavePath()), "hart", "scan"});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 5); // 141 when killed by SIGPIPE
    QVERIFY(p.readAllStandardError().startsWith("nx260ctl: cannot write the output"));
}

void TstNx260ctl::channelModelReadBackAndCompared()
{
    QTemporaryDir dir;
    Gateway gw;
    QVERIFY(gw.started());
    QCOMPARE(gw.run({"set", "channels=4"}).code, 0);
    QCOMPARE(gw.sim().state().channelModel, 2);
    QCOMPARE(Json::parse(gw.run({"--json", "show", "system"}).out)["system"]["channels"], 4);
    const std::string profile = dir.filePath("p.json").toStdString();
    QCOMPARE(gw.run({"backup", profile}).code, 0);
    QCOMPARE(gw.run({"set", "channels=2"}).code, 0);
    const Result r = gw.run({"diff", profile});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.out, std::string("channels  gateway 2, profile 4\n"));
    QCOMPARE(gw.run({"restore", profile}).code, 0);
    QCOMPARE(gw.sim().state().channelModel, 2);
}

namespace {

struct Farm {
    std::vector<std::unique_ptr<Gateway>> gateways;
    std::vector<std::string> args; // --port ... for each
};

Farm farm(int n, const std::function<void(int, sim::Options &)> &tune)
{
    Farm f;
    for (int i = 0; i < n; ++i) {
        sim::Options o;
        tune(i, o);
        f.gateways.push_back(std::make_unique<Gateway>(o));
        f.args.insert(f.args.end(), {"--port", f.gateways.back()->sim().slavePath()});
    }
    return f;
}

std::vector<Json> recordOf(const std::string &path)
{
    std::vector<Json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(Json::parse(line)); // throws on a torn line
    return lines;
}

} // namespace

// Eight gateways at once, one silent and one split: the others restore,
// verify and record; the report lists each.
void TstNx260ctl::manyGatewaysRestoreAndRecord()
{
    QTemporaryDir dir;
    const std::string profile = writeFile(dir, "site.json", R"({"format":"nx260-profile","version":1,
        "system":{"address":42,"rs485a":{"baud":19200,"parity":"even"}},"instruments":[{"row":2,"interval":7}]})");
    const std::string record = dir.filePath("changes.jsonl").toStdString();
    Farm f = farm(8, [](int i, sim::Options &o) {
        o.faults.silent = i == 2;
        o.faults.split = i == 5;
    });
    std::vector<std::string> args = f.args;
    args.insert(args.end(), {"--timeout", "1000", "--record", record, "--json", "restore", profile});
    std::ostringstream out, err;
    QCOMPARE(nx260ctl::run(args, out, err), 4); // the highest: the silent gateway's
    const Json docs = Json::parse(out.str());
    QCOMPARE(docs.size(), size_t(8));
    for (int i = 0; i < 8; ++i) {
        const Json &d = docs[size_t(i)];
        QCOMPARE(d["port"], f.gateways[size_t(i)]->sim().slavePath());
        QCOMPARE(d["exit_code"].get<int>(), i == 2 ? 4 : 0);
        if (i == 2)
            continue;
        QCOMPARE(d["result"]["changed"], Json::parse(R"(["address","rs485a.baud","rs485a.parity","instrument.2.interval"])"));
        const sim::GatewayState s = f.gateways[size_t(i)]->sim().state();
        QVERIFY(s.slaveAddress == 42 && s.baudA == 4 && s.parityA == 2 && s.instruments[1].interval == 7);
    }
    const auto lines = recordOf(record);
    QCOMPARE(lines.size(), size_t(7 * 4)); // four keys on each gateway that answered
    for (const Json &l : lines) {
        QCOMPARE(l["result"], "set");
        QVERIFY(l["time"].get<std::string>().ends_with("Z") && l["gateway"].get<std::string>().starts_with("NX260-HGW"));
        QCOMPARE(l["after"], l["asked"]);
    }
    QCOMPARE(std::count_if(lines.begin(), lines.end(), [&](const Json &l) { return l["key"] == "address"; }), 7);

    // The report: one section per gateway that was changed, well-formed.
    const std::string html = dir.filePath("report.html").toStdString();
    QCOMPARE(gw0run(record, html), 0);
    QFile file(QString::fromStdString(html));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int sections = 0, changeRows = 0;
    bool inChanges = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"section")
            ++sections;
        if (xml.isStartElement() && xml.name() == u"table")
            inChanges = xml.attributes().value("class") == u"changes";
        if (xml.isStartElement() && xml.name() == u"td" && inChanges)
            ++changeRows;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(sections, 7);
    QCOMPARE(changeRows, 28 * 7); // seven cells a change
}

// A kill in the middle of a run leaves only whole lines in the record.
void TstNx260ctl::recordSurvivesKill()
{
    QTemporaryDir dir;
    const std::string record = dir.filePath("changes.jsonl").toStdString();
    // The gateways finish one after another: the kill lands between them.
    Farm f = farm(4, [](int i, sim::Options &o) { o.faults.slowMs = 40 + 400 * i; });
    QStringList args;
    for (const std::string &a : f.args)
        args << QString::fromStdString(a);
    args << "--record" << QString::fromStdString(record) << "set" << "address=9" << "rs485b.baud=1200"
         << "instrument.1.interval=3" << "instrument.2.interval=4" << "instrument.3.interval=5";
    QProcess p;
    p.start(QStringLiteral(NX260CTL_EXE), args);
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QString::fromStdString(record)).size() > 0, 20000);
    p.kill();
    p.waitForFinished();
    QVERIFY(p.exitStatus() == QProcess::CrashExit);
    std::ifstream in(record, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(text.ends_with('\n'));
    const auto lines = recordOf(record);
    QVERIFY(!lines.empty() && lines.size() < 4 * 5);
}

// Every option, command and key of --help appears in the man page.
void TstNx260ctl::manPageNamesWhatHelpNames()
{
    QFile man(QStringLiteral(NX260CTL_MAN));
    QVERIFY(man.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(man.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    const QString help = QString::fromUtf8(nx260ctl::helpText());
    static const QRegularExpression names(QStringLiteral("--[a-z]+|\\b[a-z0-9]+(\\.[a-zN_]+)+\\b|^  (?<command>[a-z]+(?: [a-z]+)?)(?= {2,}| \\[| [A-Z])"),
                                          QRegularExpression::MultilineOption);
    int count = 0;
    for (auto it = names.globalMatch(help); it.hasNext();) {
        const auto m = it.next();
        const QString name = m.hasCaptured("command") ? m.captured("command") : m.captured(0);
        QVERIFY2(page.contains(name), qPrintable(name));
        ++count;
    }
    QVERIFY(count > 30);
}

QTEST_GUILESS_MAIN(TstNx260ctl)
#include "tst_nx260ctl.moc"
