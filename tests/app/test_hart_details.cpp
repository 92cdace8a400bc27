// SPDX-License-Identifier: GPL-3.0-or-later
// "HART Device Details" against the gateway simulator: every field from one
// click, "not supported" where the instrument answers response code 64, and
// the specified boxes left alone.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include "../FormLookup.h"
#include "GatewaySim.h"
#include "NX260AB.h"
#include "TrafficMonitor.h"

class TestHartDetails : public QObject {
    Q_OBJECT
private slots:
    void readsEverything();
};

void TestHartDetails::readsEverything()
{
    sim::Options o;
    o.linkPath.clear();
    o.initialState.mode = 0;
    o.hart.notImplemented = {12};
    sim::GatewaySim gw(o);
    QVERIFY(gw.start());
    TForm1 w;
    ui(w).SPREALCOM->setCurrentText(QString::fromStdString(gw.slavePath()));
    w.Button1Click();
    QVERIFY(w.PortIsOpen);

    auto *button = w.findChild<QPushButton *>(QStringLiteral("HartDetailsButton"));
    QVERIFY(button);
    auto *action = w.findChild<QAction *>(QStringLiteral("HartDetailsAction"));
    QVERIFY(action && w.Monitor->ViewMenu->actions().contains(action));
    QTest::mouseClick(button, Qt::LeftButton);
    auto *dialog = w.findChild<QDialog *>(QStringLiteral("HartDetails"));
    QVERIFY(dialog && dialog->isVisible());
    auto value = [&](const char *name) { return dialog->findChild<QLabel *>(QLatin1String(name))->text(); };
    QTRY_VERIFY_WITH_TIMEOUT(value("DetailsState").startsWith(QStringLiteral("Read at")), 20000);

    const sim::Command3Values last = gw.lastCommand3Values();
    const QStringList expected = {
        "DetailsIdentity=manufacturer 55, device type 81, device id 123456, HART 5",
        "DetailsTag=FT-101", "DetailsDescriptor=HOT WATER LINE", "DetailsDate=2026-12-10",
        "DetailsMessage=not supported", "DetailsLongTag=not supported",
        "DetailsLoopCurrent=" + QString::number(double(last.current), 'g', 7) + " mA",
        "DetailsRange=0 m3/h .. 100 m3/h", "DetailsTransfer=linear", "DetailsDamping=2 s",
        "DetailsAlarm=high", "DetailsWriteProtect=not write protected",
        "DetailsStatus=00 00 00 00 00 00 01 00 01 (maintenance required, simulation active)",
        "DetailsCodes=1: 0, 2: 0, 12: 64, 13: 0, 15: 0, 20: 64, 48: 0",
    };
    for (const QString &e : expected) {
        const int eq = e.indexOf('=');
        QCOMPARE(value(e.left(eq).toLatin1().constData()), e.mid(eq + 1));
    }
    QVERIFY(value("DetailsPV").endsWith(QStringLiteral(" m3/h")));
    // The window's own identity boxes and what command 3 addresses stay as they were.
    QVERIFY(ui(w).Edit28->text().isEmpty());
    QVERIFY(!w.hartIdentity());

    // A closed port: nothing is sent and the dialog says so.
    w.Button1Click();
    QVERIFY(!w.PortIsOpen);
    QMetaObject::invokeMethod(dialog->findChild<QPushButton *>(QStringLiteral("DetailsRead")), "click");
    QCOMPARE(value("DetailsState"), QStringLiteral("Nothing sent: open the port and check the preamble length."));
    gw.stop();
}

QTEST_MAIN(TestHartDetails)
#include "test_hart_details.moc"
