// SPDX-License-Identifier: GPL-3.0-or-later
// The whole tool end to end: the real window, clicked like an engineer would,
// its real serial component, and the gateway simulator on a pseudo-terminal.
// What the window shows is compared with what the simulated gateway knows.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

#include "../FormLookup.h"
#include "GatewaySim.h"
#include "NX260AB.h"
#include "TTimer.h"
#include "TestSupport.h"
#include "WindowSetup.h"
#include "../IntervalCheck.h"
#include "../StallProbe.h"
#include "TrafficMonitor.h"
#include <QAction>
#include <QCheckBox>
#include <QSpinBox>

using namespace std::chrono_literals;
using IntervalCheck::Clock;

Q_DECLARE_METATYPE(sim::GatewayState)

namespace {

void click(QPushButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton);
}

// Same notation as applySetup(); "Memo10~text" means the receive box contains text.
void verifyShown(TForm1 &w, const QStringList &expected)
{
    for (const QString &a : expected) {
        if (a.startsWith(QLatin1String("Memo10~"))) {
            QVERIFY2(ui(w).Memo10->toPlainText().contains(a.mid(7)), qPrintable(ui(w).Memo10->toPlainText()));
            continue;
        }
        const int eq = a.indexOf('=');
        const QString name = a.left(eq), value = a.mid(eq + 1);
        if (value.startsWith('#')) {
            auto *c = w.findChild<QComboBox *>(name);
            QVERIFY2(c, qPrintable(name));
            QCOMPARE(c->currentIndex(), value.mid(1).toInt());
        } else {
            auto *e = w.findChild<QLineEdit *>(name);
            QVERIFY2(e, qPrintable(name));
            QCOMPARE(e->text(), value);
        }
    }
}

// Puts values into the checked controls that no reply would produce, so a
// re-query has to bring the gateway's values back.
void scramble(TForm1 &w, const QStringList &expected)
{
    for (const QString &a : expected) {
        const QString name = a.left(a.indexOf('='));
        if (auto *c = w.findChild<QComboBox *>(name))
            c->setCurrentIndex(-1);
        else if (auto *e = w.findChild<QLineEdit *>(name))
            e->setText(QStringLiteral("x"));
    }
}

// A gateway state in which every field differs from the window's defaults.
sim::GatewayState unusualState()
{
    sim::GatewayState s;
    s.mode = 0;
    s.slaveAddress = 247;
    s.baudA = 7;
    s.parityA = 2;
    s.baudB = 0;
    s.parityB = 1;
    s.returnTimeA = 5;
    s.returnTimeB = 0;
    s.interval = 999;
    s.channelModel = 2;
    s.instruments[0] = {0, 0, 4, 45};
    s.instruments[1] = {1, 0, 9, 0};
    s.instruments[2] = {0, 0, 6, 123};
    s.instruments[3] = {1, 0, 5, 999};
    s.serialNumber = "00004711";
    s.inspector = "104";
    return s;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    int serial_ = 0;
    QString link_;
    std::unique_ptr<sim::GatewaySim> gw;
    std::unique_ptr<TForm1> w;
    std::unique_ptr<MessageCatcher> boxes;

    // Waits until the gateway has written one more reply than before.
    bool replied(std::uint64_t before, std::chrono::milliseconds timeout = 3s)
    {
        return gw->waitFor([&](const sim::Counters &c) { return c.replies > before; }, timeout);
    }
    // Clicks and waits for the reply to be shown; for replies that are
    // decoded, also for the decoder to have run.
    void clickAndAwait(QPushButton *b)
    {
        const auto before = gw->counters().replies;
        click(b);
        const bool decoded = w->Exchange.pendingReply != exchange::PendingCommQuery &&
                             w->Exchange.pendingReply != exchange::PendingAck;
        QVERIFY2(replied(before), qPrintable(b->objectName()));
        QTRY_VERIFY_WITH_TIMEOUT(!ui(*w).Memo10->toPlainText().isEmpty(), 5000);
        if (decoded)
            QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 5000);
    }
    // A window of its own on the gateway's link, the port open.
    void openWindow(TForm1Options options)
    {
        w.reset(); // frees the port
        w = std::make_unique<TForm1>(nullptr, options);
        // The stable name, as an engineer would type it.
        ui(*w).SPREALCOM->setEditText(link_);
        click(ui(*w).Button1);
        QVERIFY(w->PortIsOpen);
        QCOMPARE(ui(*w).Button1->text(), QStringLiteral("Close"));
    }
    void clickAndAwaitText(QPushButton *b, const QString &text)
    {
        const auto before = gw->counters().replies;
        click(b);
        QVERIFY2(replied(before), qPrintable(b->objectName()));
        QTRY_COMPARE_WITH_TIMEOUT(ui(*w).Memo10->toPlainText(), text, 5000);
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void communicationQueryShowsIdentification();
    void queriesFillControls();
    void setChangesGatewayAndRequeryShowsIt_data();
    void setChangesGatewayAndRequeryShowsIt();
    void hartIdentityAddressesCommand3_data();
    void hartIdentityAddressesCommand3();
    void silentGateway_data();
    void silentGateway();
    void splitReplyDecodedWhole();
    void windowNeverStalls();
    void garbageNeverCrashes();
    void hangUp_data();
    void hangUp();
    void simulatorAsSeparateProcess();
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void TestEndToEnd::init()
{
    link_ = dir_.filePath(QStringLiteral("gw-%1").arg(++serial_));
    sim::Options o;
    o.linkPath = link_.toStdString();
    gw = std::make_unique<sim::GatewaySim>(o);
    std::string error;
    QVERIFY2(gw->start(&error), error.c_str());
    boxes = std::make_unique<MessageCatcher>();
    openWindow({.receivePauseMs = 0}); // tests that are about the pause open their own
}

void TestEndToEnd::cleanup()
{
    w.reset();
    boxes.reset();
    gw.reset();
}

void TestEndToEnd::communicationQueryShowsIdentification()
{
    sim::GatewayState s = gw->state();
    s.serialNumber = "00004711";
    s.inspector = "104";
    gw->setState(s);
    clickAndAwaitText(ui(*w).Button6, QStringLiteral("NX260-HGW SIMULATOR V1.0 SN:00004711 QC:104#"));
    QCOMPARE(ui(*w).Edit8->text(), QStringLiteral("QQQ#QV#"));
    // The reply stopped the watchdog: no timeout follows.
    QVERIFY(!w->Timer3->Enabled());
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::queriesFillControls()
{
    // The receive handler's real pause, as in the field.
    openWindow({});
    gw->setState(unusualState());
    // When a chunk reaches the window, shows and has its first value decoded.
    Clock::time_point arrived, shown, decoded;
    const auto handler = w->Comm1->OnReceiveData;
    w->Comm1->OnReceiveData = [&, handler](SerialComm::TComm *s, const uint8_t *b, uint16_t n) {
        arrived = Clock::now();
        handler(s, b, n);
    };
    connect(ui(*w).Memo10, &QPlainTextEdit::textChanged, this, [&] { shown = Clock::now(); });
    connect(ui(*w).Edit14, &QLineEdit::textChanged, this, [&] { decoded = Clock::now(); });
    const QString fault = IntervalCheck::check({{"receive pause", 600, 100}, {"decode delay", 300, 100}}, [&] {
        ui(*w).Edit14->setText(QStringLiteral("x"));
        clickAndAwait(ui(*w).Button23);
        return QTest::currentTestFailed() ? std::vector<double>{}
                                          : std::vector<double>{IntervalCheck::msBetween(arrived, shown),
                                                                IntervalCheck::msBetween(shown, decoded)};
    });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    QCOMPARE(ui(*w).Memo10->toPlainText(),
             QStringLiteral("QX1#MD:0#C1:247#BOA:720#BOB:010#DTA:5#DTB:0#RTM:999#XH:2#"));
    verifyShown(*w, {"MODEL=#0", "Edit14=247", "BOA=#7", "JIAOA=#2", "BOB=#0", "JIAOB=#1", "DTMA=#5", "DTMB=#0",
                     "RTD=999"});

    clickAndAwait(ui(*w).Button2);
    QCOMPARE(ui(*w).Memo10->toPlainText(), QStringLiteral("QH00#T01:0004045#T02:1009000#T03:0006123#T04:1005999#"));
    verifyShown(*w, {"SBZHU1=#0", "NEIXING1=#0", "QIADF1=#0", "DTM1=045", //
                     "SBZHU2=#1", "NEIXING2=#0", "QIADF2=#5", "DTM2=000", //
                     "SBZHU3=#0", "NEIXING3=#0", "QIADF3=#2", "DTM3=123", //
                     "SBZHU4=#1", "NEIXING4=#0", "QIADF4=#1", "DTM4=999"});
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::setChangesGatewayAndRequeryShowsIt_data()
{
    QTest::addColumn<sim::GatewayState>("initial");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("ack");
    QTest::addColumn<sim::GatewayState>("expected");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("shown");

    const sim::GatewayState def = sim::GatewayState::factoryDefaults();
    auto with = [&](const std::function<void(sim::GatewayState &)> &change) {
        sim::GatewayState s = def;
        change(s);
        return s;
    };
    QTest::newRow("slave address") << def << QStringList{"Edit14=123"} << "Button29" << "SET ADR OK#"
                                   << with([](auto &s) { s.slaveAddress = 123; }) << "Button23"
                                   << QStringList{"Edit14=123"};
    QTest::newRow("rs485a 115200 even") << def << QStringList{"BOA=#7", "JIAOA=#2"} << "Button9" << "SET BOA OK#"
                                        << with([](auto &s) { s.baudA = 7; s.parityA = 2; }) << "Button23"
                                        << QStringList{"BOA=#7", "JIAOA=#2"};
    QTest::newRow("rs485b 2400 odd") << def << QStringList{"BOB=#1", "JIAOB=#1"} << "Button3" << "SET BOB OK#"
                                     << with([](auto &s) { s.baudB = 1; s.parityB = 1; }) << "Button23"
                                     << QStringList{"BOB=#1", "JIAOB=#1"};
    QTest::newRow("transparent mode") << def << QStringList{"MODEL=#0"} << "Button24" << "SET MD OK#"
                                      << with([](auto &s) { s.mode = 0; }) << "Button23"
                                      << QStringList{"MODEL=#0"};
    // The data return time travels as a raw byte; 0x00 must survive the line.
    QTest::newRow("return time a none") << def << QStringList{"DTMA=#0"} << "Button4" << "SET DTA OK#"
                                        << with([](auto &s) { s.returnTimeA = 0; }) << "Button23"
                                        << QStringList{"DTMA=#0"};
    QTest::newRow("return time b 500") << def << QStringList{"DTMB=#5"} << "Button5" << "SET DTK OK#"
                                       << with([](auto &s) { s.returnTimeB = 5; }) << "Button23"
                                       << QStringList{"DTMB=#5"};
    QTest::newRow("interval") << def << QStringList{"RTD=25"} << "Button13" << "SET RDM OK#"
                              << with([](auto &s) { s.interval = 25; }) << "Button23" << QStringList{"RTD=025"};
    QTest::newRow("instrument 3") << def << QStringList{"SBZHU3=#0", "QIADF3=#1", "DTM3=7"} << "Button11"
                                  << "SET HA03 OK#" << with([](auto &s) { s.instruments[2] = {0, 0, 5, 7}; })
                                  << "Button2" << QStringList{"SBZHU3=#0", "QIADF3=#1", "DTM3=007", "DTM1=060"};
    QTest::newRow("instrument 2 own interval")
        << def << QStringList{"DTM2=45", "DTM3=60"} << "Button8" << "SET HA02 OK#"
        << with([](auto &s) { s.instruments[1].interval = 45; }) << "Button2" << QStringList{"DTM2=045"};
    QTest::newRow("factory serial") << def << QStringList{"PCBSN=4711", "JIANZHI=#9"} << "Button53"
                                    << "SET PCBSN OK#"
                                    << with([](auto &s) { s.serialNumber = "00004711"; s.inspector = "101"; })
                                    << "Button6" << QStringList{"Memo10~SN:00004711 QC:101#"};
    // Everything back to the factory parameters; the serial number stays.
    sim::GatewayState reset = def;
    reset.serialNumber = "00004711";
    reset.inspector = "104";
    QTest::newRow("parameter initialization")
        << unusualState() << QStringList{} << "Button30" << "RESET OK#" << reset << "Button23"
        << QStringList{"MODEL=#1", "Edit14=001", "BOA=#3", "JIAOA=#0", "BOB=#3", "JIAOB=#0", "DTMA=#2", "DTMB=#2",
                       "RTD=010"};
}

void TestEndToEnd::setChangesGatewayAndRequeryShowsIt()
{
    QFETCH(sim::GatewayState, initial);
    QFETCH(QStringList, setup);
    QFETCH(QString, button);
    QFETCH(QString, ack);
    QFETCH(sim::GatewayState, expected);
    QFETCH(QString, query);
    QFETCH(QStringList, shown);

    gw->setState(initial);
    applySetup(*w, setup);
    auto *set = w->findChild<QPushButton *>(button);
    QVERIFY(set);
    clickAndAwaitText(set, ack);
    QVERIFY(gw->state() == expected);

    scramble(*w, shown);
    auto *q = w->findChild<QPushButton *>(query);
    QVERIFY(q);
    clickAndAwait(q);
    verifyShown(*w, shown);
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::hartIdentityAddressesCommand3_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("command0");
    QTest::addColumn<QString>("command3");
    QTest::addColumn<QString>("replyStart");

    // Identity of the simulated instrument: manufacturer 0x37, device type
    // 0x51, device id 01 E2 40; the checksum is the XOR from the delimiter.
    QTest::newRow("master, address 1")
        << QStringList{}
        << "00 66 55 01 FF FF FF FF FF FF 02 80 00 00 82 "
        << "00 66 55 01 FF FF FF FF FF FF 82 B7 51 01 E2 40 03 00 C4 "
        << "FF FF FF FF FF 06 80 00 0E 00 00 FE 37 51 05 ";
    QTest::newRow("secondary master, address 5, 2 preambles")
        << QStringList{"ComboBox42=#1", "ComboBox30=#4", "Edit9=2"}
        << "04 66 55 01 FF FF 02 00 00 00 02 "
        << "04 66 55 01 FF FF 82 37 51 01 E2 40 03 00 44 "
        << "FF FF FF FF FF 06 00 00 0E 00 00 FE 37 51 05 ";
}

void TestEndToEnd::hartIdentityAddressesCommand3()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, command0);
    QFETCH(QString, command3);
    QFETCH(QString, replyStart);

    // The engineer switches the gateway to transparent mode first.
    applySetup(*w, {"MODEL=#0"});
    clickAndAwaitText(ui(*w).Button24, QStringLiteral("SET MD OK#"));
    QCOMPARE(gw->state().mode, 0);
    applySetup(*w, setup);

    clickAndAwait(ui(*w).Button7);
    QCOMPARE(ui(*w).Edit8->text(), command0);
    QVERIFY2(ui(*w).Memo10->toPlainText().startsWith(replyStart), qPrintable(ui(*w).Memo10->toPlainText()));
    const sim::HartDevice dev = gw->hartDevice();
    QCOMPARE(ui(*w).Edit28->text(), QString::number(dev.manufacturerId));
    QCOMPARE(ui(*w).Edit29->text(), QString::number(dev.deviceType));
    QCOMPARE(ui(*w).Edit31->text(), QString::number(dev.minPreambles));
    QCOMPARE(ui(*w).Edit32->text(), QStringLiteral("123456")); // 0x01E240

    const auto hartBefore = gw->counters().hartReplies;
    clickAndAwait(ui(*w).Button16);
    QCOMPARE(ui(*w).Edit8->text(), command3);
    // The instrument answers only frames carrying its own long address.
    QCOMPARE(gw->counters().hartReplies, hartBefore + 1);

    const sim::Command3Values truth = gw->lastCommand3Values();
    QVERIFY(truth.valid);
    QLineEdit *values[4] = {ui(*w).Edit25, ui(*w).Edit26, ui(*w).Edit27, ui(*w).Edit30};
    QComboBox *units[4] = {ui(*w).ComboBox3, ui(*w).ComboBox31, ui(*w).ComboBox32, ui(*w).ComboBox33};
    // The window's unit list, for the codes of a vortex flowmeter. The list
    // has no item for code 75 (kg/h): it shows "other".
    struct Unit {
        int code;
        int index;
        const char *text;
    };
    const Unit table[] = {{19, 19, "CuMtr_hr"}, {32, 12, "\u2103"}, {75, 76, "other"}, {43, 34, "CuMtr"}};
    for (int i = 0; i < 4; ++i) {
        const QString expected = QString::number(double(truth.values[i]), 'g', 15).left(9);
        QCOMPARE(values[i]->text(), expected);
        const Unit *u = std::find_if(std::begin(table), std::end(table),
                                     [&](const Unit &x) { return x.code == truth.units[i]; });
        QVERIFY2(u != std::end(table), qPrintable(QString::number(truth.units[i])));
        QCOMPARE(units[i]->currentIndex(), u->index);
        QCOMPARE(units[i]->currentText(), QString::fromUtf8(u->text));
    }
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::silentGateway_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("watchdogMs");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("communication query")
        << "Button6" << 3000 << QStringList{"Connection Timeout! No reply to Communication Query within 3 s."};
    QTest::newRow("system parameters") << "Button23" << 3000
                                       << QStringList{"No reply to System parameters within 3 s."};
    // A HART request starts a full count too, and says what timed out.
    QTest::newRow("hart command 0") << "Button7" << 3000
                                    << QStringList{"No reply to HART Device Parameter Query within 3 s."};
}

void TestEndToEnd::silentGateway()
{
    QFETCH(QString, button);
    QFETCH(int, watchdogMs);
    QFETCH(QStringList, messages);

    gw->setState(unusualState()); // transparent: HART requests would be answered
    sim::Faults f;
    f.silent = true;
    gw->setFaults(f);
    const auto before = gw->counters();
    auto *b = w->findChild<QPushButton *>(button);
    QVERIFY(b);
    // From the click that arms the watchdog (from idle) to its expiry.
    int pending = 0;
    const QString fault = IntervalCheck::check({{"watchdog", watchdogMs, 300}}, [&]() -> std::vector<double> {
        boxes->clear();
        const auto clicked = Clock::now();
        click(b);
        pending = w->Exchange.pendingReply;
        if (!QTest::qWaitFor([&] { return !w->Timer3->Enabled(); }, watchdogMs + 5000))
            return {};
        return {IntervalCheck::msBetween(clicked, Clock::now())};
    });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(boxes->texts(), messages);
    QVERIFY(gw->counters().requests > before.requests);
    QCOMPARE(gw->counters().replies, before.replies);
    // The request stays the awaited one.
    QCOMPARE(w->Exchange.pendingReply, pending);
}

void TestEndToEnd::splitReplyDecodedWhole()
{
    // The field pause with the gateway's 250 ms gap: the second chunk
    // arrives while the first settles, and the reply is read whole.
    openWindow({});
    gw->setState(unusualState());
    sim::Faults f;
    f.split = true;
    gw->setFaults(f);

    // The 57-character reply goes out as 28 + 29 characters:
    // "QX1#MD:0#C1:247#BOA:720#BOB:" and "010#DTA:5#DTB:0#RTM:999#XH:2#".
    const auto before = gw->counters().replies;
    click(ui(*w).Button23);
    QVERIFY(replied(before));
    QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 5000);
    QCOMPARE(ui(*w).Memo10->toPlainText(),
             QStringLiteral("QX1#MD:0#C1:247#BOA:720#BOB:010#DTA:5#DTB:0#RTM:999#XH:2#"));
    verifyShown(*w, {"MODEL=#0", "Edit14=247", "BOA=#7", "JIAOA=#2", "BOB=#0", "JIAOB=#1", "DTMA=#5", "DTMB=#0",
                     "RTD=999"});
    QVERIFY(!w->Timer2->Enabled());
    QVERIFY(!w->Timer3->Enabled());
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::windowNeverStalls()
{
    // The field pauses, the traffic table and the trend open, Watch every
    // second, and queries clicked in between: the window's thread must come
    // back to its loop within 50 ms every time. A loaded machine can stretch
    // one try; only a stall in every try is a fault.
    openWindow({});
    gw->setState(unusualState());
    clickAndAwait(ui(*w).Button7); // the identity Watch needs
    TrafficMonitor &m = *w->Monitor;
    m.TrafficAction->trigger();
    m.TrendAction->trigger();
    w->findChild<QSpinBox *>("WatchInterval")->setValue(1);

    double worst = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        StallProbe probe;
        probe.start();
        w->findChild<QCheckBox *>("WatchHart")->setChecked(true);
        QTest::qWait(1200);
        click(ui(*w).Button23);
        QTest::qWait(1500);
        click(ui(*w).Button2);
        QTest::qWait(1500);
        w->findChild<QCheckBox *>("WatchHart")->setChecked(false);
        probe.stop();
        QTRY_COMPARE_WITH_TIMEOUT(w->Exchange.pendingReply, 0, 5000);
        QVERIFY(probe.ticks() > 100);
        worst = probe.worstMs();
        qInfo("try %d: worst stall %.1f ms, p99 %.1f ms", attempt + 1, worst, probe.percentileMs(0.99));
        if (worst <= 50)
            break;
    }
    QVERIFY2(worst <= 50, qPrintable(QStringLiteral("the window's thread stalled %1 ms").arg(worst)));
    QVERIFY(m.trendSamples().size() >= 2);
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::garbageNeverCrashes()
{
    gw->setState(unusualState()); // transparent, so HART requests get answers too
    sim::Faults f;
    f.garbage = true;
    gw->setFaults(f);
    ui(*w).Edit10->setText(QStringLiteral("02 80 00 00"));

    QPushButton *requests[] = {ui(*w).Button6, ui(*w).Button23, ui(*w).Button2, ui(*w).Button7, ui(*w).Button16, ui(*w).Button20};
    for (int round = 0; round < 3; ++round) {
        for (QPushButton *b : requests) {
            const auto before = gw->counters();
            // Command 3 is sent only when command 0's garbage happened to
            // carry an identity, and answered only when that is the device's.
            const bool sent = b != ui(*w).Button16 || w->hartIdentity().has_value();
            click(b);
            if (!sent) {
                QVERIFY(!boxes->texts().isEmpty());
                QCOMPARE(boxes->texts().last(), QStringLiteral("Read the device (HART Device Parameter Query) first."));
                continue;
            }
            QVERIFY(gw->waitFor([&](const sim::Counters &c) { return c.requests > before.requests; }, 2s));
            if (replied(before.replies, b == ui(*w).Button16 ? 300ms : 2s))
                QTRY_VERIFY_WITH_TIMEOUT(!ui(*w).Memo10->toPlainText().isEmpty(), 3000);
            QTRY_VERIFY_WITH_TIMEOUT(!w->Timer2->Enabled(), 3000);
        }
    }
    // Whatever the decoders made of it, they said so in words.
    for (const QString &m : boxes->texts())
        QVERIFY2(m.endsWith(QLatin1String("is not a valid integer value")) || m.startsWith(QLatin1String("Read the device"))
                     || m.startsWith(QLatin1String("No reply to HART Command Query")),
                 qPrintable(m));
    QVERIFY(w->PortIsOpen);

    // And the window is fine once the line is clean again.
    gw->setFaults({});
    boxes->clear();
    clickAndAwaitText(ui(*w).Button6, QStringLiteral("NX260-HGW SIMULATOR V1.0 SN:00004711 QC:104#"));
    clickAndAwait(ui(*w).Button23);
    verifyShown(*w, {"MODEL=#0", "Edit14=247", "BOA=#7", "RTD=999"});
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::hangUp_data()
{
    QTest::addColumn<bool>("reopen");
    QTest::newRow("gateway comes back") << true;
    QTest::newRow("gateway gone") << false;
}

void TestEndToEnd::hangUp()
{
    QFETCH(bool, reopen);
    // The engineer reopens by hand here (Reconnect has its own tests).
    w->findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->setChecked(false);
    sim::Faults f;
    f.hangupAfter = 1;
    f.reopenAfterHangup = reopen;
    gw->setFaults(f);

    click(ui(*w).Button6);
    QTRY_COMPARE_WITH_TIMEOUT(boxes->texts().size(), 1, 5000);
    QVERIFY2(boxes->texts().first().contains(QLatin1String("serial port was lost")),
             qPrintable(boxes->texts().first()));
    QCOMPARE(gw->counters().hangups, 1u);
    // The reply that came before the line went away is not lost.
    QCOMPARE(ui(*w).Memo10->toPlainText(), QStringLiteral("NX260-HGW SIMULATOR V1.0 SN:00000000 QC:001#"));
    QCOMPARE(ui(*w).Button1->text(), QStringLiteral("Open"));
    QVERIFY(!w->PortIsOpen);
    QVERIFY(!w->Comm1->IsOpen());
    boxes->clear();

    gw->setFaults({});
    click(ui(*w).Button1);
    if (!reopen) {
        // Nothing behind the name any more: the open fails and says so.
        QCOMPARE(boxes->texts().size(), 1);
        QVERIFY2(boxes->texts().first().startsWith(QLatin1String("Error opening serial port")),
                 qPrintable(boxes->texts().first()));
        QVERIFY(!w->PortIsOpen);
        QCOMPARE(ui(*w).Button1->text(), QStringLiteral("Open"));
        return;
    }
    QVERIFY(boxes->texts().isEmpty());
    QVERIFY(w->PortIsOpen);
    QCOMPARE(ui(*w).Button1->text(), QStringLiteral("Close"));
    clickAndAwaitText(ui(*w).Button6, QStringLiteral("NX260-HGW SIMULATOR V1.0 SN:00000000 QC:001#"));
    QVERIFY(boxes->texts().isEmpty());
}

void TestEndToEnd::simulatorAsSeparateProcess()
{
    // The demo's set-up: the simulator as its own program, found by its link.
    w.reset();
    gw.reset();
    const QString link = dir_.filePath(QStringLiteral("separate"));
    QProcess simProcess;
    simProcess.setProgram(QStringLiteral(NX_GATEWAY_SIM_EXE));
    simProcess.setArguments({"--link", link, "--quiet"});
    simProcess.start();
    QVERIFY(simProcess.waitForStarted(5000));
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromLocal8Bit(simProcess.readAllStandardOutput()))
                                 .contains(QLatin1String("link: ")),
                             5000);
    QVERIFY2(out.contains(QLatin1String("port: /dev/pts/")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("link: ") + link), qPrintable(out));

    TForm1 form(nullptr, {.receivePauseMs = 0});
    ui(form).SPREALCOM->setEditText(link);
    click(ui(form).Button1);
    QVERIFY(form.PortIsOpen);
    click(ui(form).Button6);
    QTRY_COMPARE_WITH_TIMEOUT(ui(form).Memo10->toPlainText(),
                              QStringLiteral("NX260-HGW SIMULATOR V1.0 SN:00000000 QC:001#"), 5000);
    click(ui(form).Button1);
    QVERIFY(!form.PortIsOpen);

    simProcess.terminate();
    QVERIFY(simProcess.waitForFinished(5000));
    QCOMPARE(simProcess.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simProcess.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(boxes->texts().isEmpty());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_window.moc"
