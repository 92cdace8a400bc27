// SPDX-License-Identifier: GPL-3.0-or-later
// Reconnect after a lost port: the window waits for the same device, says
// so in the status bar, and reopens it with the same settings when it is
// back, without resending the request that was in flight.
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "../FormLookup.h"
#include "GatewaySim.h"
#include "Ser2NetServer.h"
#include "TTimer.h"
#include "TestSupport.h"

using namespace std::chrono_literals;

class TestReconnect : public QObject {
    Q_OBJECT

private slots:
    void reopensWhenTheDeviceReturns();
    void untickedStopsWaiting();
    void deviceServerComesBack();
    void sendAllAfterReconnectSendsEverySetting();
};

namespace {

sim::Options at(const QString &link, int hangupAfter)
{
    sim::Options o;
    o.linkPath = link.toStdString();
    o.faults.hangupAfter = hangupAfter;
    return o;
}

// Opens the window on a device that answers one query and goes away
// (unplugged); returns when the window has noticed.
bool openAndLose(TForm1 &w, const QString &link)
{
    sim::GatewaySim device(at(link, 1));
    if (!device.start())
        return false;
    ui(w).SPREALCOM->setEditText(link);
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    if (!w.PortIsOpen)
        return false;
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    return QTest::qWaitFor([&w] { return !w.PortIsOpen; }, 5000);
}

} // namespace

void TestReconnect::reopensWhenTheDeviceReturns()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("gateway"));
    TForm1 w;
    MessageCatcher boxes;
    auto *status = w.findChild<QStatusBar *>();
    QVERIFY(w.findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->isChecked());
    ui(w).ComboBox11->setCurrentText(QStringLiteral("19200"));
    QVERIFY(openAndLose(w, link));
    QCOMPARE(status->currentMessage(), QStringLiteral("Lost: waiting for %1").arg(link));
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));

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
    TForm1 w;
    MessageCatcher boxes;
    QVERIFY(openAndLose(w, link));
    w.findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->setChecked(false);
    QVERIFY(w.findChild<QStatusBar *>()->currentMessage().isEmpty());

    sim::GatewaySim second(at(link, 0));
    QVERIFY(second.start());
    QTest::qWait(500);
    QVERIFY(!w.PortIsOpen);
}

void TestReconnect::deviceServerComesBack()
{
    if (::access(SerialTest::Ser2NetPath, X_OK) != 0)
        QSKIP("ser2net is not installed");
    sim::Options o;
    o.linkPath.clear();
    sim::GatewaySim device(o);
    QVERIFY(device.start());
    auto server = std::make_unique<SerialTest::Ser2Net>(device.slavePath());
    QVERIFY(server->ok());
    const int rawPort = server->rawPort(), rfcPort = server->rfcPort();
    const QString name = QString::fromStdString(server->rfc2217());
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(name);
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.PortIsOpen, 3000); // connected on a worker first
    QVERIFY(ui(w).SPREALCOM->findText(name) >= 0);

    server.reset(); // the server goes away
    QTRY_VERIFY_WITH_TIMEOUT(!w.PortIsOpen, 3000);
    QCOMPARE(w.findChild<QStatusBar *>()->currentMessage(), QStringLiteral("Lost: waiting for %1").arg(name));
    SerialTest::Ser2Net again(device.slavePath(), rawPort, rfcPort);
    QVERIFY(again.ok());
    QTRY_VERIFY_WITH_TIMEOUT(w.PortIsOpen, 5000);
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QVERIFY(device.waitFor([](const sim::Counters &c) { return c.replies >= 1; }, 3000ms));
    QVERIFY(boxes.texts().isEmpty());
}

// What was read from the gateway before the loss says nothing of the one
// found after it: a profile loaded then offers every setting, as after Open.
void TestReconnect::sendAllAfterReconnectSendsEverySetting()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("gateway"));
    TForm1 w(nullptr, TForm1Options{.receivePauseMs = 0});
    QStringList offered;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            for (QAbstractButton *b : box->buttons())
                offered << b->text();
            box->accept();
        }
    });
    answer.start(5);
    {
        // Both tables read, the profile saved from them, then the device goes.
        sim::GatewaySim first(at(link, 3));
        QVERIFY(first.start());
        ui(w).SPREALCOM->setEditText(link);
        QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
        auto *memo = ui(w).Memo10;
        for (QPushButton *read : {ui(w).Button23, ui(w).Button2}) {
            QTest::mouseClick(read, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!memo->toPlainText().isEmpty(), 3000);
            QTest::qWait(400); // decoded after the 300 ms pause
        }
        QVERIFY(w.saveProfile(dir.filePath(QStringLiteral("p.json"))));
        w.loadProfileOffering(dir.filePath(QStringLiteral("p.json")));
        QCOMPARE(offered, QStringList({QStringLiteral("Close")})); // equal to what was read: nothing to send
        QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(ui(w).Button1->text(), QStringLiteral("Open"), 5000);
    }
    sim::GatewaySim second(at(link, 0));
    QVERIFY(second.start());
    QTRY_COMPARE_WITH_TIMEOUT(ui(w).Button1->text(), QStringLiteral("Close"), 2000);
    offered.clear();
    w.loadProfileOffering(dir.filePath(QStringLiteral("p.json")));
    QVERIFY2(offered.size() == 2 && offered.contains(QStringLiteral("Send all (11)")), qPrintable(offered.join('|')));
}

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
