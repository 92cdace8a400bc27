// SPDX-License-Identifier: GPL-3.0-or-later
// File -> Save Profile... / Load Profile...: the controls survive a round
// trip, a bad file changes nothing, and loading sends nothing.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

#include "../FormLookup.h"
#include "ChangeRecord.h"
#include "NX260AB.h"
#include "TestSupport.h"
#include "WindowSetup.h"

namespace {

// Every control a profile holds, as "NAME=#index" or "NAME=text".
QStringList profileControls(TForm1 &w)
{
    QStringList out;
    for (const char *name : {"MODEL", "BOA", "JIAOA", "DTMA", "BOB", "JIAOB", "DTMB", "SBZHU1", "NEIXING1", "QIADF1",
                             "SBZHU2", "QIADF2", "SBZHU3", "QIADF3", "SBZHU4", "QIADF4"})
        out << QStringLiteral("%1=#%2").arg(name).arg(w.findChild<QComboBox *>(name)->currentIndex());
    for (const char *name : {"Edit14", "RTD", "DTM1", "DTM2", "DTM3", "DTM4"})
        out << QStringLiteral("%1=%2").arg(name, w.findChild<QLineEdit *>(name)->text());
    return out;
}

const QStringList kChanged = {"MODEL=#0", "Edit14=17",  "BOA=#7",    "JIAOA=#2", "DTMA=#0", "BOB=#1",
                              "JIAOB=#1", "DTMB=#5",    "RTD=250",   "SBZHU2=#0", "QIADF3=#0", "DTM4=999",
                              "DTM1=0"};

} // namespace

namespace {

// The window's port opened on the test's end of a pseudo-terminal.
bool openOn(TForm1 &w, const PtyPeer &peer)
{
    ui(w).SPREALCOM->setCurrentText(peer.slavePath());
    w.Button1Click();
    return w.PortIsOpen;
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT
private slots:
    void menuOrder();
    void roundTrip();
    void badFileChangesNothing_data();
    void badFileChangesNothing();
    void unsavableControlWritesNothing();
    void saveOffersToReadAndSetsAreRecorded();
    void loadOffersToSendWhatDiffers();
};

void TestProfile::menuOrder()
{
    TForm1 w;
    const QList<QAction *> actions = ui(w).FileMenu->actions();
    // The profile pair opens the menu; Quit closes it, after a separator.
    QVERIFY(actions.size() >= 4);
    QCOMPARE(actions[0], w.findChild<QAction *>("SaveProfileAction"));
    QCOMPARE(actions[1], w.findChild<QAction *>("LoadProfileAction"));
    QVERIFY(actions[actions.size() - 2]->isSeparator());
    QCOMPARE(actions.back(), ui(w).QuitAction);
}

void TestProfile::roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    MessageCatcher messages;
    QStringList saved;
    {
        TForm1 w;
        applySetup(w, kChanged);
        QVERIFY(w.saveProfile(path));
        saved = profileControls(w);
    }
    PtyPeer peer;
    QVERIFY(peer.ok());
    TForm1 w;
    QVERIFY(openOn(w, peer));
    QVERIFY(profileControls(w) != saved);
    QVERIFY(w.loadProfile(path));
    QCOMPARE(profileControls(w), saved);
    QVERIFY(messages.texts().isEmpty());
    QCOMPARE(peer.readQuiet(150, 500), std::string()); // nothing sent until Set
}

void TestProfile::badFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("member");
    QTest::newRow("unknown member") << QByteArray(R"({"format":"nx260-profile","version":1,"system":{"mode":"modbus","speed":1}})")
                                    << "system.speed";
    QTest::newRow("out of range, after a good member")
        << QByteArray(R"({"format":"nx260-profile","version":1,"system":{"address":5},"instruments":[{"row":1,"preambles":12}]})")
        << "instruments[0].preambles";
    QTest::newRow("version") << QByteArray(R"({"format":"nx260-profile","version":3})") << "version";
}

void TestProfile::badFileChangesNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, member);
    QTemporaryDir dir;
    QFile f(dir.filePath("bad.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    MessageCatcher messages;
    TForm1 w;
    const QStringList before = profileControls(w);
    QVERIFY(!w.loadProfile(f.fileName()));
    QCOMPARE(profileControls(w), before);
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts().first().contains(member + ":"), qPrintable(messages.texts().first()));
}

void TestProfile::unsavableControlWritesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    MessageCatcher messages;
    TForm1 w;
    ui(w).RTD->setText(QStringLiteral("1000"));
    QVERIFY(!w.saveProfile(path));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts().first().contains("system.interval"), qPrintable(messages.texts().first()));
}

// Save Profile before anything was read asks first and, on Yes, reads the
// system parameters and then the instrument table. A Set click is recorded.
void TestProfile::saveOffersToReadAndSetsAreRecorded()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    TForm1 w;
    QVERIFY(openOn(w, peer));
    QString asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            asked = box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    answer.start(5);
    w.findChild<QAction *>("SaveProfileAction")->trigger();
    QCOMPARE(peer.readQuiet(), std::string("QQQ#QX1#"));
    QCOMPARE(asked, QStringLiteral("Read System parameters and the instrument table first?"));
    peer.write("QX1#MD:1#C1:007#BOA:300#BOB:300#DTA:2#DTB:2#RTM:010#");
    QCOMPARE(peer.readQuiet(1000, 5000), std::string("QQQ#QH00#")); // after the settle and decode
    QCOMPARE(ui(w).Edit14->text(), QStringLiteral("007"));

    const std::string record = exchange::defaultRecordPath();
    const auto lines = [&] {
        std::vector<nlohmann::json> out;
        std::ifstream in(record);
        for (std::string l; std::getline(in, l);)
            out.push_back(nlohmann::json::parse(l));
        return out;
    };
    const size_t before = lines().size();
    QTest::mouseClick(ui(w).Button29, Qt::LeftButton);
    QTRY_COMPARE(lines().size(), before + 1);
    const auto line = lines().back();
    QCOMPARE(line["tool"], "nx260-config");
    QCOMPARE(line["port"], peer.slavePath().toStdString());
    QCOMPARE(line["asked"], "QQS#ADR:007#");
    QCOMPARE(line["result"], "sent");
}

void TestProfile::loadOffersToSendWhatDiffers()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    TForm1 w(nullptr, TForm1Options{.receivePauseMs = 0});
    QVERIFY(openOn(w, peer));
    // What the gateway holds, read since Open.
    QTest::mouseClick(ui(w).Button23, Qt::LeftButton);
    QCOMPARE(peer.readQuiet(), std::string("QQQ#QX1#"));
    peer.write("QX1#MD:1#C1:007#BOA:300#BOB:300#DTA:2#DTB:2#RTM:010#");
    QTRY_COMPARE(w.Exchange.pendingReply, 0);
    QTest::mouseClick(ui(w).Button2, Qt::LeftButton);
    QCOMPARE(peer.readQuiet(), std::string("QQQ#QH00#"));
    peer.write("T01:1008060#T02:0004120#T03:1009999#T04:0005007#");
    QTRY_COMPARE(w.Exchange.pendingReply, 0);

    // A profile that differs in the address and instrument 2's interval.
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    ui(w).Edit14->setText("017");
    ui(w).DTM[1]->setText("045");
    QVERIFY(w.saveProfile(path));
    ui(w).Edit14->setText("007");
    ui(w).DTM[1]->setText("120");

    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            for (QAbstractButton *b : box->buttons())
                if (b->text() == QStringLiteral("Send all (2)"))
                    b->click();
    });
    answer.start(5);
    w.loadProfileOffering(path);
    // One by one: the second waits for the first one's acknowledgement.
    QCOMPARE(peer.readQuiet(), std::string("QQS#ADR:017#"));
    peer.write("SET ADR OK#");
    QCOMPARE(peer.readQuiet(1000, 5000), std::string("QQS#HA02:0004045#"));
    peer.write("SET HA02 OK#");
    QCOMPARE(peer.readQuiet(300, 1000), std::string());
}

QTEST_MAIN(TestProfile)
#include "test_profile.moc"
