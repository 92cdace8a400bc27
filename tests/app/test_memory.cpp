// SPDX-License-Identifier: GPL-3.0-or-later
// The engineer's choices survive a restart; a damaged settings file is
// ignored with a note in the status bar. Runs in its own configuration
// folder, never the user's.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "../FormLookup.h"
#include "Captions.h"
#include "NX260AB.h"
#include "TestSupport.h"

namespace {

constexpr TForm1Options kRemember{.rememberChoices = true};

QString settingsFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/nx260-config/nx260-config.conf");
}

QString lastError(TForm1 &w)
{
    return w.findChild<QLabel *>(QStringLiteral("LastError"))->text();
}

} // namespace

class TestMemory : public QObject {
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsFile()); }

    void choicesSurviveARestart()
    {
        QTemporaryDir dir;
        QSize kept;
        const QString profile = dir.filePath(QStringLiteral("site.json"));
        {
            TForm1 w(nullptr, kRemember);
            w.show();
            ui(w).SPREALCOM->setEditText(QStringLiteral("/dev/ttyNX9"));
            ui(w).ComboBox11->setCurrentIndex(7);
            ui(w).ComboBox10->setCurrentIndex(2);
            w.findChild<QSpinBox *>(QStringLiteral("WatchInterval"))->setValue(7);
            w.findChild<QAction *>(QStringLiteral("TrafficAction"))->setChecked(true);
            w.resize(1190, 1100);
            QVERIFY(w.saveProfile(profile));
            kept = w.size();
            QVERIFY(captions::useLanguage(QStringLiteral("zh_CN"))); // over the system's English
            w.close();
        }
        captions::useLanguage(QStringLiteral("en"));
        TForm1 w(nullptr, kRemember);
        QCOMPARE(captions::currentLanguage(), QStringLiteral("zh_CN"));
        QTRY_COMPARE(ui(w).GroupBox1->title(), QStringLiteral("串口参数"));
        captions::useLanguage(QStringLiteral("en"));
        QCOMPARE(ui(w).SPREALCOM->currentText(), QStringLiteral("/dev/ttyNX9"));
        QCOMPARE(ui(w).ComboBox11->currentText(), QStringLiteral("115200"));
        QCOMPARE(ui(w).ComboBox10->currentIndex(), 2);
        QCOMPARE(w.findChild<QSpinBox *>(QStringLiteral("WatchInterval"))->value(), 7);
        QVERIFY(w.findChild<QAction *>(QStringLiteral("TrafficAction"))->isChecked());
        QVERIFY(!w.findChild<QAction *>(QStringLiteral("TrendAction"))->isChecked());
        QCOMPARE(w.size(), kept);
        const auto recent = w.findChild<QMenu *>(QStringLiteral("RecentProfilesMenu"))->actions();
        QCOMPARE(recent.size(), 1);
        QCOMPARE(recent.first()->text(), QDir::toNativeSeparators(QFileInfo(profile).absoluteFilePath()));
        QVERIFY(lastError(w).isEmpty());
        // Windows that do not remember (the tests') leave the defaults alone.
        TForm1 plain;
        QCOMPARE(ui(plain).SPREALCOM->currentText(), QStringLiteral("COM4"));
    }

    void damagedFileIsIgnoredWithANote_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("not ini") << QByteArray("[port\nname=\"/dev/ttyNX9\n\x01\x02");
        QTest::newRow("bad values") << QByteArray("[port]\nname=/dev/ttyNX9\\tX\nbaud=fast\nparity=7\n"
                                                 "[hart]\nwatchSeconds=999\n[window]\ngeometry=@ByteArray(junk)\n");
    }

    void damagedFileIsIgnoredWithANote()
    {
        QFETCH(QByteArray, text);
        QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
        QFile f(settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        {
            TForm1 w(nullptr, kRemember);
            QCOMPARE(ui(w).SPREALCOM->currentText(), QStringLiteral("COM4"));
            QCOMPARE(ui(w).ComboBox11->currentText(), QStringLiteral("9600"));
            QCOMPARE(ui(w).ComboBox10->currentIndex(), 0);
            QCOMPARE(w.findChild<QSpinBox *>(QStringLiteral("WatchInterval"))->value(), 2);
            QVERIFY2(lastError(w).contains(QStringLiteral("ignored")), qPrintable(lastError(w)));
            w.close(); // writes a sound file over the damaged one
        }
        TForm1 w(nullptr, kRemember);
        QVERIFY2(lastError(w).isEmpty(), qPrintable(lastError(w)));
    }
};

int main(int argc, char *argv[])
{
    // Settings go to a folder of this run, before Qt first looks for it.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("LC_ALL", "C.UTF-8");
    QApplication app(argc, argv);
    TestMemory t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_memory.moc"
