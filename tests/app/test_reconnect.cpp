// Reconnect after a lost port: the window waits for the same device, says
// so in the status bar, and reopens it with the same settings when it is
// back, without resending the request that was in flight.
#include <QCheckBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "../FormLookup.h"
#include "GatewaySim.h"
#include "TTimer.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

class TestReconnect : public QObject {
    Q_OBJECT

private slots:
    void reopensWhenTheDeviceReturns();
    void untickedStopsWaiting();
};

namespace {

sim::Options at(const QString &link, int hangupAfter)
{
    sim::Options o;
    o.linkPath = link.toStdString();
    o.faults.hangupAfter = hangupAfter;
    return o;
}

} // namespace

void TestReconnect::reopensWhenTheDeviceReturns()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("gateway"));
    auto first = std::make_unique<sim::GatewaySim>(at(link, 1));
    QVERIFY(first->start());
    TForm1 w;
    MessageCatcher boxes;
    auto *status = w.findChild<QStatusBar *>();
    QVERIFY(w.findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->isChecked());
    ui(w).SPREALCOM->setEditText(link);
    ui(w).ComboBox11->setCurrentText(QStringLiteral("19200"));
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);

    // The device answers the query and goes away (unplugged).
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.PortIsOpen, 5000);
    QCOMPARE(status->currentMessage(), QStringLiteral("Lost: waiting for %1").arg(link));
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));
    first.reset();

    // Back under the same name: reopened at once, with the same settings,
    // and nothing was resent to it.
    sim::GatewaySim second(at(link, 0));
    QElapsedTimer back;
    back.start();
    QVERIFY(second.start());
    QTRY_VERIFY_WITH_TIMEOUT(w.PortIsOpen, 2000);
    QVERIFY(back.elapsed() < 1000);
    QVERIFY(w.Comm1->IsOpen());
    QCOMPARE(w.Comm1->BaudRate(), 19200u);
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Close"));
    QVERIFY(status->currentMessage().isEmpty());
    QTest::qWait(300);
    QCOMPARE(second.counters().requests, 0u);

    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QVERIFY(second.waitFor([](const sim::Counters &c) { return c.replies == 1; }, 3000ms));
    QVERIFY(boxes.texts().isEmpty());
}

void TestReconnect::untickedStopsWaiting()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("gateway"));
    auto first = std::make_unique<sim::GatewaySim>(at(link, 1));
    QVERIFY(first->start());
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(link);
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.PortIsOpen, 5000);
    first.reset();
    w.findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->setChecked(false);
    QVERIFY(w.findChild<QStatusBar *>()->currentMessage().isEmpty());

    sim::GatewaySim second(at(link, 0));
    QVERIFY(second.start());
    QTest::qWait(500);
    QVERIFY(!w.PortIsOpen);
}

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
