// SPDX-License-Identifier: GPL-3.0-or-later
// The real window against the gateway simulator for thousands of mixed
// configuration and HART exchanges, with faults switched on at random: the
// gateway stays silent, splits its reply, answers garbage or hangs up and
// comes back on a fresh port. Nothing may crash or hang; every reply that
// arrived whole must be decoded to what the simulated gateway really holds;
// memory, descriptors and threads stay flat. Size: NX_SOAK_SCALE.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

#include "../FormLookup.h"
#include "GatewaySim.h"
#include "NX260AB.h"
#include "SerialTestSupport.h"
#include "SoakSupport.h"
#include "TTimer.h"
#include "TestSupport.h"

using Clock = std::chrono::steady_clock;

namespace {

// The soak shortens the window's and the component's waits so that thousands
// of exchanges fit in minutes; the paths taken stay the same: a reply still
// ends on a read-interval gap, a split reply still arrives as two chunks, and
// the decoder still runs from the deferred-decode timer.
constexpr int kReadIntervalMs = 20; // component's ReadIntervalTimeout (100 in the window)
constexpr int kDecodeDelayMs = 40;  // Timer2 (300 in the window)
constexpr int kSplitGapMs = 80;     // gap between the halves of a split reply
constexpr int kQuietMs = 4 * kReadIntervalMs;
constexpr int kStepTimeoutMs = 5000; // any longer counts as a hang

enum Op {
    CommQuery,
    SystemQuery,
    InstrumentQuery,
    SetAddress,
    SetRs485A,
    SetRs485B,
    SetMode,
    SetReturnA,
    SetReturnB,
    SetInterval,
    SetChannels,
    SetInstrument,
    Reset,
    FactorySerial,
    HartCommand0,
    HartCommand3,
    HartManual,
    OpCount
};

struct OpInfo {
    const char *name;
    int weight;
};
constexpr std::array<OpInfo, OpCount> kOps = {{
    {"communication query", 6},
    {"system parameters", 14},
    {"instrument table", 12},
    {"set slave address", 4},
    {"set RS485A", 3},
    {"set RS485B", 3},
    {"set mode", 3},
    {"set return time A", 2},
    {"set return time B", 2},
    {"set interval", 3},
    {"set channel model", 2},
    {"set instrument", 6},
    {"parameter initialization", 1},
    {"factory serial", 2},
    {"HART command 0", 10},
    {"HART command 3", 18},
    {"HART manual frame", 6},
}};

enum Fault { NoFault, Silent, Split, Garbage, Hangup, FaultCount };
constexpr std::array<const char *, FaultCount> kFaultNames = {"none", "silent", "split", "garbage", "hang-up"};
// Out of 100 exchanges.
constexpr std::array<int, FaultCount> kFaultWeights = {70, 6, 9, 9, 6};

const QString kLostPort = QStringLiteral("The serial port was lost");

bool isConversionMessage(const QString &text)
{
    return text.startsWith('\'') && text.endsWith(QLatin1String("' is not a valid integer value"));
}

std::string digits3(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", v);
    return buf;
}

// The gateway's replies, written out from its protocol.
std::string identificationReply(const sim::GatewayState &s)
{
    return "NX260-HGW SIMULATOR V1.0 SN:" + s.serialNumber + " QC:" + s.inspector + "#";
}

std::string systemParameterReply(const sim::GatewayState &s)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "QX1#MD:%d#C1:%03d#BOA:%d%d0#BOB:%d%d0#DTA:%d#DTB:%d#RTM:%03d#XH:%d#", s.mode,
                  s.slaveAddress, s.baudA, s.parityA, s.baudB, s.parityB, s.returnTimeA, s.returnTimeB, s.interval,
                  s.channelModel);
    return buf;
}

std::string instrumentReply(const sim::GatewayState &s)
{
    std::string out = "QH00#";
    for (size_t i = 0; i < 4; ++i) {
        const sim::InstrumentRow &r = s.instruments[i];
        char buf[32];
        std::snprintf(buf, sizeof buf, "T0%zu:%d%02d%d%03d#", i + 1, r.deviceMode, r.type, r.preambles, r.interval);
        out += buf;
    }
    return out;
}

void appendFloat(std::vector<uint8_t> &out, float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(bits >> shift));
}

// Preambles, delimiter .. data, then the XOR of everything from the delimiter.
std::vector<uint8_t> hartFrame(int preambles, std::vector<uint8_t> body)
{
    std::vector<uint8_t> out(size_t(preambles), 0xFF);
    uint8_t check = 0;
    for (uint8_t b : body)
        check ^= b;
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(check);
    return out;
}

std::vector<uint8_t> command0Reply(const sim::HartDevice &h, bool master)
{
    return hartFrame(h.replyPreambles,
                     {0x06, uint8_t(master ? 0x80 : 0x00), 0x00, 14, 0x00, 0x00, 254, h.manufacturerId, h.deviceType,
                      h.minPreambles, h.universalRevision, h.deviceRevision, h.softwareRevision, h.hardwareRevision,
                      h.flags, h.deviceId[0], h.deviceId[1], h.deviceId[2]});
}

std::vector<uint8_t> command3Reply(const sim::HartDevice &h, bool master, const sim::Command3Values &v)
{
    std::vector<uint8_t> body = {0x86, uint8_t((master ? 0x80 : 0x00) | (h.manufacturerId & 0x3F)), h.deviceType,
                                 h.deviceId[0], h.deviceId[1], h.deviceId[2], 0x03, 26, 0x00, 0x00};
    appendFloat(body, v.current);
    for (size_t i = 0; i < 4; ++i) {
        body.push_back(v.units[i]);
        appendFloat(body, v.values[i]);
    }
    return hartFrame(h.replyPreambles, body);
}

// As the receive box shows HART replies: two hex digits and a blank per byte.
QString hexShown(const std::vector<uint8_t> &bytes)
{
    QString out;
    for (uint8_t b : bytes)
        out += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return out;
}

// Unit box items for the codes the simulated flowmeter reports.
const std::map<uint8_t, QString> kUnitItems = {
    {19, QStringLiteral("CuMtr_hr")},
    {32, QString::fromUtf8("\u2103")},
    {43, QStringLiteral("CuMtr")},
    {75, QStringLiteral("other")}, // kg/h: the list has no item for it
};

// A value box holds the first 9 characters of the value's text: it must read
// back as the value, short of the digits cut off.
bool valueShown(const QString &text, float value)
{
    bool ok = false;
    const double shown = text.toDouble(&ok);
    if (!ok || text.size() > 9 || text.contains('E'))
        return false;
    const int dot = int(text.indexOf('.'));
    const int decimals = dot < 0 ? 0 : int(text.size()) - dot - 1;
    return std::fabs(shown - double(value)) <= std::pow(10.0, -decimals) * (1 + 1e-9);
}

int countEntries(const char *path)
{
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *e = readdir(dir))
        count += e->d_name[0] != '.';
    closedir(dir);
    return count;
}
int countFds() { return countEntries("/proc/self/fd") - 1; }
int countThreads() { return countEntries("/proc/self/task"); }

// Runs the event loop until done() holds; false when the time is up.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QTimer tick; // wakes the loop to look at done()
    tick.start(2);
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Totals {
    std::array<size_t, OpCount> ops{};
    std::array<size_t, FaultCount> faults{};
    size_t exchanges = 0;
    size_t wholeVerified = 0;    // replies that arrived whole and were checked against the gateway
    size_t cleanNotWhole = 0;    // no fault, yet the reply came in pieces (timing)
    size_t faultedWhole = 0;     // fault switched on, reply still whole (checked too)
    size_t statesVerified = 0;   // set requests checked in the gateway's state
    size_t reopens = 0;
    size_t watchdogExpiries = 0; // silent queries whose watchdog was left to expire
    size_t watchdogBoxes = 0;
    size_t conversionBoxes = 0;
    qint64 slowestMs = 0;
};

} // namespace

class AppSoakTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void mixedExchangesWithFaults();

private:
    void openWindow();
    Op pick();
    Fault pickFault();
    // Sets the controls the request reads and returns the gateway state the
    // request must produce (for set requests).
    std::optional<sim::GatewayState> prepare(Op op);
    void scrambleDecodedControls(Op op);
    bool exchange(size_t index, Op op, Fault fault);
    // The complete reply as the receive box would show it, or nullopt when
    // the gateway does not answer it.
    QString expectedShown(Op op);
    bool verifyDecoded(Op op);

    QTemporaryDir m_dir;
    QString m_link;
    std::unique_ptr<sim::GatewaySim> m_gw;
    std::unique_ptr<TForm1> m_w;
    std::unique_ptr<MessageCatcher> m_boxes;
    std::mt19937_64 m_rng;
    Totals m_totals;

    // Receive hook counters.
    size_t m_chunks = 0;
    Clock::time_point m_lastChunk{};

    // What the soak knows about the HART side.
    bool m_identityGood = false;
    bool m_master = true;       // master mode of the last HART request
    int m_lastRow = 0;          // instrument row of the last set request
    bool m_silentSeen = false;
};

// Every message box on the offscreen platform warns that it cannot pass
// size hints on; hundreds of those would bury the real output.
QtMessageHandler g_testLogHandler = nullptr;
void dropSizeHintWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support propagateSizeHints")))
        return;
    g_testLogHandler(type, context, message);
}

void AppSoakTest::initTestCase()
{
    g_testLogHandler = qInstallMessageHandler(dropSizeHintWarnings);
    QVERIFY(m_dir.isValid());
    m_link = m_dir.filePath(QStringLiteral("gateway"));
    m_rng.seed(Soak::seed());
    sim::Options o;
    o.linkPath = m_link.toStdString();
    o.splitGapMs = kSplitGapMs;
    o.seed = uint32_t(Soak::seed());
    m_gw = std::make_unique<sim::GatewaySim>(o);
    std::string error;
    QVERIFY2(m_gw->start(&error), error.c_str());
    openWindow();
}

void AppSoakTest::cleanupTestCase()
{
    m_w.reset();
    m_boxes.reset();
    m_gw.reset();
}

void AppSoakTest::openWindow()
{
    m_w = std::make_unique<TForm1>(nullptr, TForm1Options{.receivePauseMs = 0});
    // A lost port is closed and reported; reopening it is left to the steps.
    m_w->findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->setChecked(false);
    m_w->Timer2->SetInterval(kDecodeDelayMs);
    m_w->Comm1->SetReadIntervalTimeout(kReadIntervalMs);
    // Count chunks on their way to the window's own handler.
    auto handler = m_w->Comm1->OnReceiveData;
    m_w->Comm1->OnReceiveData = [this, handler](SerialComm::TComm *s, const uint8_t *b, uint16_t n) {
        ++m_chunks;
        m_lastChunk = Clock::now();
        handler(s, b, n);
    };
    m_boxes = std::make_unique<MessageCatcher>();
    ui(*m_w).SPREALCOM->setEditText(m_link);
    m_w->Button1Click();
    QVERIFY(m_w->PortIsOpen);
}

Op AppSoakTest::pick()
{
    int total = 0;
    for (const OpInfo &o : kOps)
        total += o.weight;
    int r = int(m_rng() % unsigned(total));
    int op = 0;
    while (r >= kOps[size_t(op)].weight)
        r -= kOps[size_t(op++)].weight;
    // HART requests reach the instrument only in transparent mode, and
    // command 3 needs the identity from a command 0 reply.
    if (op >= HartCommand0 && m_gw->state().mode != 0)
        return SetMode;
    if (op == HartCommand3 && !m_identityGood)
        return HartCommand0;
    return Op(op);
}

Fault AppSoakTest::pickFault()
{
    int r = int(m_rng() % 100);
    int f = 0;
    while (r >= kFaultWeights[size_t(f)])
        r -= kFaultWeights[size_t(f++)];
    return Fault(f);
}

std::optional<sim::GatewayState> AppSoakTest::prepare(Op op)
{
    auto pickIndex = [this](QComboBox *box, int count) {
        const int i = int(m_rng() % unsigned(count));
        box->setCurrentIndex(i);
        return i;
    };
    auto pickNumber = [this](QLineEdit *edit, int max) {
        const int v = int(m_rng() % unsigned(max + 1));
        // Typed with or without leading zeros.
        edit->setText(m_rng() % 2 ? QString::number(v) : QString::fromStdString(digits3(v)));
        return v;
    };
    sim::GatewayState s = m_gw->state();
    TForm1 &w = *m_w;
    switch (op) {
    case SetAddress:
        s.slaveAddress = pickNumber(ui(w).Edit14, 999);
        return s;
    case SetRs485A:
        s.baudA = pickIndex(ui(w).BOA, 8);
        s.parityA = pickIndex(ui(w).JIAOA, 3);
        return s;
    case SetRs485B:
        s.baudB = pickIndex(ui(w).BOB, 8);
        s.parityB = pickIndex(ui(w).JIAOB, 3);
        return s;
    case SetMode:
        // Mostly transparent, so that HART requests get answers.
        s.mode = m_rng() % 6 == 0 ? 1 : 0;
        ui(w).MODEL->setCurrentIndex(s.mode);
        return s;
    case SetReturnA:
        s.returnTimeA = pickIndex(ui(w).DTMA, 6);
        return s;
    case SetReturnB:
        s.returnTimeB = pickIndex(ui(w).DTMB, 6);
        return s;
    case SetInterval:
        s.interval = pickNumber(ui(w).RTD, 999);
        return s;
    case SetChannels:
        s.channelModel = pickIndex(ui(w).CHXINGHAO, 3);
        return s;
    case SetInstrument: {
        const int row = int(m_rng() % 4);
        sim::InstrumentRow &r = s.instruments[size_t(row)];
        r.deviceMode = pickIndex(ui(w).SBZHU[row], 2);
        r.type = pickIndex(ui(w).NEIXING[row], 1);
        r.preambles = pickIndex(ui(w).QIADF[row], 6) + 4;
        r.interval = pickNumber(ui(w).DTM[row], 999);
        m_lastRow = row;
        return s;
    }
    case Reset: {
        sim::GatewayState fresh = sim::GatewayState::factoryDefaults();
        fresh.serialNumber = s.serialNumber;
        fresh.inspector = s.inspector;
        return fresh;
    }
    case FactorySerial: {
        const int serial = int(m_rng() % 100000000);
        ui(w).PCBSN->setText(QString::number(serial));
        pickIndex(ui(w).JIANZHI, ui(w).JIANZHI->count());
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08d", serial);
        s.serialNumber = buf;
        s.inspector = ui(w).JIANZHI->currentText().toStdString();
        return s;
    }
    case HartCommand0:
    case HartCommand3:
    case HartManual:
        m_master = m_rng() % 4 != 0;
        ui(w).ComboBox42->setCurrentIndex(m_master ? 0 : 1);
        ui(w).ComboBox30->setCurrentIndex(int(m_rng() % 32));
        ui(w).Edit9->setText(QString::number(2 + m_rng() % 9));
        ui(w).Edit10->setText(m_master ? QStringLiteral("02 80 00 00") : QStringLiteral("02 00 00 00"));
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

// Values no reply produces, so that a decoded reply has to put them back.
void AppSoakTest::scrambleDecodedControls(Op op)
{
    TForm1 &w = *m_w;
    if (op == SystemQuery) {
        for (QComboBox *c : {ui(w).MODEL, ui(w).BOA, ui(w).JIAOA, ui(w).BOB, ui(w).JIAOB, ui(w).DTMA, ui(w).DTMB})
            c->setCurrentIndex(-1);
        ui(w).Edit14->setText(QStringLiteral("x"));
        ui(w).RTD->setText(QStringLiteral("x"));
    } else if (op == InstrumentQuery) {
        for (int i = 0; i < 4; ++i) {
            for (QComboBox *c : {ui(w).SBZHU[i], ui(w).NEIXING[i], ui(w).QIADF[i]})
                c->setCurrentIndex(-1);
            ui(w).DTM[i]->setText(QStringLiteral("x"));
        }
    } else if (op == HartCommand3) {
        for (QComboBox *c : {ui(w).ComboBox3, ui(w).ComboBox31, ui(w).ComboBox32, ui(w).ComboBox33})
            c->setCurrentIndex(-1);
    }
}

QString AppSoakTest::expectedShown(Op op)
{
    const sim::GatewayState s = m_gw->state();
    auto text = [](const std::string &t) { return QString::fromLatin1(t.data(), qsizetype(t.size())); };
    switch (op) {
    case CommQuery:
        return text(identificationReply(s));
    case SystemQuery:
        return text(systemParameterReply(s));
    case InstrumentQuery:
        return text(instrumentReply(s));
    case SetAddress:
        return QStringLiteral("SET ADR OK#");
    case SetRs485A:
        return QStringLiteral("SET BOA OK#");
    case SetRs485B:
        return QStringLiteral("SET BOB OK#");
    case SetMode:
        return QStringLiteral("SET MD OK#");
    case SetReturnA:
        return QStringLiteral("SET DTA OK#");
    case SetReturnB:
        return QStringLiteral("SET DTK OK#");
    case SetInterval:
        return QStringLiteral("SET RDM OK#");
    case SetChannels:
        return QStringLiteral("SET XH OK#");
    case SetInstrument:
        return QStringLiteral("SET HA0%1 OK#").arg(m_lastRow + 1);
    case Reset:
        return QStringLiteral("RESET OK#");
    case FactorySerial:
        return QStringLiteral("SET PCBSN OK#");
    case HartCommand0:
    case HartManual:
        return hexShown(command0Reply(m_gw->hartDevice(), m_master));
    case HartCommand3:
        return hexShown(command3Reply(m_gw->hartDevice(), m_master, m_gw->lastCommand3Values()));
    default:
        return {};
    }
}

// The controls a whole reply was decoded into hold the gateway's values.
bool AppSoakTest::verifyDecoded(Op op)
{
    const TForm1 &w = *m_w;
    const sim::GatewayState s = m_gw->state();
    auto check = [](bool ok, const QString &what) {
        if (!ok)
            qWarning("decoded wrongly: %s", qPrintable(what));
        return ok;
    };
    auto text3 = [](int v) { return QString::fromStdString(digits3(v)); };
    switch (op) {
    case SystemQuery:
        return check(ui(w).MODEL->currentIndex() == s.mode, "MODEL") && check(ui(w).Edit14->text() == text3(s.slaveAddress), "Edit14")
            && check(ui(w).BOA->currentIndex() == s.baudA, "BOA") && check(ui(w).JIAOA->currentIndex() == s.parityA, "JIAOA")
            && check(ui(w).BOB->currentIndex() == s.baudB, "BOB") && check(ui(w).JIAOB->currentIndex() == s.parityB, "JIAOB")
            && check(ui(w).DTMA->currentIndex() == s.returnTimeA, "DTMA")
            && check(ui(w).DTMB->currentIndex() == s.returnTimeB, "DTMB") && check(ui(w).RTD->text() == text3(s.interval), "RTD")
            && check(w.Exchange.pendingReply == 0, "PendingReply");
    case InstrumentQuery:
        for (int i = 0; i < 4; ++i) {
            const sim::InstrumentRow &r = s.instruments[size_t(i)];
            const QString n = QString::number(i + 1);
            if (!check(ui(w).SBZHU[i]->currentIndex() == r.deviceMode, "SBZHU" + n)
                || !check(ui(w).NEIXING[i]->currentIndex() == r.type, "NEIXING" + n)
                || !check(ui(w).QIADF[i]->currentIndex() == r.preambles - 4, "QIADF" + n)
                || !check(ui(w).DTM[i]->text() == text3(r.interval), "DTM" + n))
                return false;
        }
        return check(w.Exchange.pendingReply == 0, "PendingReply");
    case HartCommand0: {
        const sim::HartDevice h = m_gw->hartDevice();
        const uint32_t id = uint32_t(h.deviceId[0]) << 16 | uint32_t(h.deviceId[1]) << 8 | h.deviceId[2];
        return check(ui(w).Edit28->text() == QString::number(h.manufacturerId), "Edit28")
            && check(ui(w).Edit29->text() == QString::number(h.deviceType), "Edit29")
            && check(ui(w).Edit31->text() == QString::number(h.minPreambles), "Edit31")
            && check(ui(w).Edit32->text() == QString::number(id), "Edit32")
            && check(w.Exchange.pendingReply == 0, "PendingReply");
    }
    case HartCommand3: {
        const sim::Command3Values v = m_gw->lastCommand3Values();
        const QLineEdit *values[4] = {ui(w).Edit25, ui(w).Edit26, ui(w).Edit27, ui(w).Edit30};
        const QComboBox *units[4] = {ui(w).ComboBox3, ui(w).ComboBox31, ui(w).ComboBox32, ui(w).ComboBox33};
        for (size_t i = 0; i < 4; ++i) {
            const auto unit = kUnitItems.find(v.units[i]);
            if (!check(unit != kUnitItems.end(), QStringLiteral("unit code %1 not in this test's table").arg(v.units[i]))
                || !check(valueShown(values[i]->text(), v.values[i]),
                          QStringLiteral("variable %1: '%2' for %3").arg(i + 1).arg(values[i]->text()).arg(v.values[i]))
                || !check(units[i]->currentText() == unit->second, QStringLiteral("unit %1").arg(i + 1)))
                return false;
        }
        return check(w.Exchange.pendingReply == 0, "PendingReply");
    }
    default:
        return true; // shown only; the text itself was compared
    }
}

// One exchange. Returns false (after a failed check) to stop the soak.
bool AppSoakTest::exchange(size_t index, Op op, Fault fault)
{
    TForm1 &w = *m_w;
    const auto fail = [&](const QString &what) {
        QTest::qFail(qPrintable(QStringLiteral("exchange %1 (%2, fault %3): %4")
                                    .arg(index)
                                    .arg(kOps[op].name)
                                    .arg(kFaultNames[fault])
                                    .arg(what)),
                     __FILE__, __LINE__);
        return false;
    };

    const std::optional<sim::GatewayState> target = prepare(op);
    scrambleDecodedControls(op);
    const sim::Counters before = m_gw->counters();
    const size_t chunksBefore = m_chunks;
    const qsizetype boxesBefore = m_boxes->texts().size();

    sim::Faults f;
    f.silent = fault == Silent;
    f.split = fault == Split;
    f.garbage = fault == Garbage;
    if (fault == Hangup) {
        f.hangupAfter = 1;
        f.reopenAfterHangup = true;
    }
    m_gw->setFaults(f);

    QElapsedTimer took;
    took.start();
    qint64 awaitedMs = 0; // a watchdog left to expire is no slowness
    switch (op) {
    case CommQuery: w.Button6Click(); break;
    case SystemQuery: w.Button23Click(); break;
    case InstrumentQuery: w.Button2Click(); break;
    case SetAddress: w.Button29Click(); break;
    case SetRs485A: w.Button9Click(); break;
    case SetRs485B: w.Button3Click(); break;
    case SetMode: w.Button24Click(); break;
    case SetReturnA: w.Button4Click(); break;
    case SetReturnB: w.Button5Click(); break;
    case SetInterval: w.Button13Click(); break;
    case SetChannels: w.Button14Click(); break;
    case SetInstrument: {
        QPushButton *rows[4] = {ui(w).Button10, ui(w).Button8, ui(w).Button11, ui(w).Button12};
        rows[m_lastRow]->click();
        break;
    }
    case Reset: w.Button30Click(); break;
    case FactorySerial: w.Button53Click(); break;
    case HartCommand0: w.Button7Click(); break;
    case HartCommand3: w.Button16Click(); break;
    case HartManual: w.Button20Click(); break;
    default: break;
    }

    // The request reaches the gateway, which applies it whatever the fault.
    if (!waitUntil([&] { return m_gw->counters().requests > before.requests; }, kStepTimeoutMs))
        return fail("the request never reached the gateway");
    if (target) {
        if (m_gw->state() != *target)
            return fail("the gateway's state is not what the request asked for");
        ++m_totals.statesVerified;
    }

    if (fault == Silent) {
        m_silentSeen = true;
        // Long enough for a reply to show if one came.
        waitUntil([] { return false; }, kQuietMs + kDecodeDelayMs);
        if (m_chunks != chunksBefore)
            return fail("something arrived from a silent gateway");
        // Now and then the watchdog is left to expire: a query reports the
        // missing reply once, with its own message.
        if ((op == CommQuery || op == SystemQuery || op == InstrumentQuery) && m_rng() % 8 == 0) {
            const qint64 waitStart = took.elapsed();
            if (!waitUntil([&] { return !w.Timer3->Enabled(); }, exchange::kWatchdogIntervalMs + kStepTimeoutMs))
                return fail("the watchdog never expired");
            const QString expected = op == CommQuery ? QStringLiteral("Connection Timeout! No reply to Communication Query within 3 s.")
                                     : op == SystemQuery ? QStringLiteral("No reply to System parameters within 3 s.")
                                                         : QStringLiteral("No reply to the instrument table Query within 3 s.");
            const auto reports = std::count(m_boxes->texts().begin() + boxesBefore, m_boxes->texts().end(), expected);
            if (reports != 1)
                return fail(QStringLiteral("%1 watchdog messages \"%2\"").arg(reports).arg(expected));
            ++m_totals.watchdogExpiries;
            awaitedMs = took.elapsed() - waitStart;
        }
    } else if (fault == Hangup) {
        if (!waitUntil([&] { return m_gw->counters().hangups > before.hangups; }, kStepTimeoutMs))
            return fail("the gateway did not hang up");
        if (!waitUntil([&] { return !w.PortIsOpen; }, kStepTimeoutMs))
            return fail("the window did not notice the lost port");
        const auto lost = std::count_if(m_boxes->texts().begin() + boxesBefore, m_boxes->texts().end(),
                                        [](const QString &t) { return t.startsWith(kLostPort); });
        if (lost != 1)
            return fail(QStringLiteral("%1 lost-port messages").arg(lost));
        waitUntil([&] { return !w.Timer2->Enabled(); }, kStepTimeoutMs);
        m_gw->setFaults({});
        w.Button1Click(); // the engineer opens the port again
        if (!w.PortIsOpen)
            return fail("reopening failed: " + m_boxes->texts().join(" | "));
        ++m_totals.reopens;
    } else {
        // A reply comes: wait until it is all written, handed over and (for
        // decoded replies) decoded, and the line has been quiet since.
        const QString whole = expectedShown(op);
        Clock::time_point repliedAt{};
        const bool settled = waitUntil(
            [&] {
                if (repliedAt == Clock::time_point{}) {
                    if (m_gw->counters().replies == before.replies)
                        return false;
                    repliedAt = Clock::now();
                }
                if (m_chunks == chunksBefore || w.Timer2->Enabled())
                    return false;
                // The complete reply shown, and decoded if it is decoded.
                if (fault == NoFault && ui(w).Memo10->toPlainText() == whole
                    && (w.Exchange.pendingReply == 0 || (op != SystemQuery && op != InstrumentQuery
                                                         && op != HartCommand0 && op != HartCommand3)))
                    return true;
                return Clock::now() - std::max(m_lastChunk, repliedAt) >= std::chrono::milliseconds(kQuietMs);
            },
            kStepTimeoutMs);
        if (!settled)
            return fail(QStringLiteral("no settled reply (%1 chunks)").arg(m_chunks - chunksBefore));
    }
    m_gw->setFaults({});
    m_totals.slowestMs = std::max(m_totals.slowestMs, took.elapsed() - awaitedMs);

    // Judge what arrived.
    const bool whole = fault != Silent && ui(w).Memo10->toPlainText() == expectedShown(op);
    if (whole) {
        if (!verifyDecoded(op))
            return fail("a reply that arrived whole was not decoded to the gateway's state");
        ++m_totals.wholeVerified;
        if (fault != NoFault)
            ++m_totals.faultedWhole;
        if (op == HartCommand0)
            m_identityGood = true;
    } else {
        if (fault == NoFault)
            ++m_totals.cleanNotWhole;
        // Garbage or half a reply may have been decoded into the identity.
        if (op == HartCommand0)
            m_identityGood = false;
    }

    // Every message box is accounted for.
    for (qsizetype i = boxesBefore; i < m_boxes->texts().size(); ++i) {
        const QString &t = m_boxes->texts()[i];
        if (t.startsWith(QLatin1String("Connection Timeout!")) || t.startsWith(QLatin1String("No reply to "))) {
            if (!m_silentSeen)
                return fail("watchdog message without a silent gateway: " + t);
            ++m_totals.watchdogBoxes;
        } else if (isConversionMessage(t)) {
            if (whole)
                return fail("a whole reply gave the message " + t);
            ++m_totals.conversionBoxes;
        } else if (!(fault == Hangup && t.startsWith(kLostPort))) {
            return fail("unexpected message: " + t);
        }
    }
    ++m_totals.ops[op];
    ++m_totals.faults[fault];
    ++m_totals.exchanges;
    return true;
}

void AppSoakTest::mixedExchangesWithFaults()
{
    const size_t count = Soak::size(500, 10000);
    const size_t warmUp = std::max<size_t>(count / 10, 20);

    // A known identity first, so command 3 requests are addressed properly.
    {
        sim::GatewayState s = m_gw->state();
        s.mode = 0;
        m_gw->setState(s);
    }
    long warmRss = 0;
    int warmFds = 0, warmThreads = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (size_t i = 0; i < count; ++i) {
        const Op op = pick();
        const Fault fault = i < 5 ? NoFault : pickFault();
        if (!exchange(i, op, fault))
            return;
        if (i + 1 == warmUp) {
            warmRss = Soak::residentKiB();
            warmFds = countFds();
            // A reopened port's old threads, joined, stay listed for a moment.
            warmThreads = SerialTest::fewestThreads(std::chrono::milliseconds(300));
        }
    }
    const double seconds = double(elapsed.elapsed()) / 1000;
    const long endRss = Soak::residentKiB();
    const int endFds = countFds();
    QElapsedTimer settle;
    settle.start();
    int endThreads = countThreads();
    while (endThreads != warmThreads && settle.elapsed() < 3000) {
        QTest::qWait(10);
        endThreads = countThreads();
    }
    const sim::Counters c = m_gw->counters();

    QString ops;
    for (int op = 0; op < OpCount; ++op)
        ops += QStringLiteral("%1%2 %3").arg(op ? ", " : "").arg(kOps[size_t(op)].name).arg(m_totals.ops[size_t(op)]);
    Soak::report("app: scale %s, seed 0x%llx", Soak::scaleName().c_str(), static_cast<unsigned long long>(Soak::seed()));
    Soak::report("app exchanges: %zu in %.1f s (%s)", m_totals.exchanges, seconds, qPrintable(ops));
    Soak::report("app faults: none %zu, silent %zu, split %zu, garbage %zu, hang-up+reopen %zu (reopened %zu)",
                 m_totals.faults[NoFault], m_totals.faults[Silent], m_totals.faults[Split], m_totals.faults[Garbage],
                 m_totals.faults[Hangup], m_totals.reopens);
    Soak::report("app replies: %zu arrived whole and matched the gateway (%zu of them despite a fault), "
                 "%zu without fault came in pieces, %zu set requests found in the gateway's state; "
                 "gateway: %llu requests, %llu replies (%llu HART), %llu hang-ups",
                 m_totals.wholeVerified, m_totals.faultedWhole, m_totals.cleanNotWhole, m_totals.statesVerified,
                 static_cast<unsigned long long>(c.requests), static_cast<unsigned long long>(c.replies),
                 static_cast<unsigned long long>(c.hartReplies), static_cast<unsigned long long>(c.hangups));
    Soak::report("app messages: %zu watchdog (%zu expiries awaited), %zu conversion (garbage or half replies), "
                 "%zu lost port; slowest exchange %lld ms",
                 m_totals.watchdogBoxes, m_totals.watchdogExpiries, m_totals.conversionBoxes, m_totals.faults[Hangup],
                 static_cast<long long>(m_totals.slowestMs));
    Soak::report("app resources: VmRSS %ld KiB after %zu exchanges -> %ld KiB at end (%+ld KiB), fds %d -> %d, "
                 "threads %d -> %d",
                 warmRss, warmUp, endRss, endRss - warmRss, warmFds, endFds, warmThreads, endThreads);

    QCOMPARE(m_totals.exchanges, count);
    QCOMPARE(c.hangups, uint64_t(m_totals.faults[Hangup]));
    // Without a fault nearly every reply must come whole, or the soak
    // proves little.
    QVERIFY2(m_totals.cleanNotWhole * 20 <= m_totals.faults[NoFault],
             qPrintable(QStringLiteral("%1 clean replies in pieces").arg(m_totals.cleanNotWhole)));
    QCOMPARE(endFds, warmFds);
    QCOMPARE(endThreads, warmThreads);
    if (Soak::residentSizeMeaningful())
        QVERIFY2(endRss - warmRss < 16 * 1024, qPrintable(QStringLiteral("%1 KiB more").arg(endRss - warmRss)));
}

int main(int argc, char **argv)
{
    Soak::allowLongRun();
    QApplication app(argc, argv);
    AppSoakTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_soak.moc"
