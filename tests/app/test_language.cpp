// SPDX-License-Identifier: GPL-3.0-or-later
// The window in the system's language: LANG=zh_CN.UTF-8 gives Chinese
// captions, View -> Language switches at once, and the item lists and
// product name stay as they are in both languages.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QtTest>

#include "../FormLookup.h"
#include "Captions.h"
#include "NX260AB.h"
#include "TrafficModel.h"

namespace {

// Captions read through the controls, as the engineer sees them.
QStringList captionsOf(TForm1 &w)
{
    const FormControls c = ui(w);
    auto *model = w.findChild<TrafficModel *>();
    return {c.GroupBox1->title(),
            c.Button1->text(),
            c.Label41->text(),
            c.FileMenu->title(),
            w.findChild<QAction *>(QStringLiteral("TrafficAction"))->text(),
            w.findChild<QWidget *>(QStringLiteral("WatchHart"))->property("text").toString(),
            model->headerData(TrafficModel::MeaningColumn, Qt::Horizontal, Qt::DisplayRole).toString()};
}

const QStringList kEnglish = {"Serial Parameters", "Open", "NX260-HGW Configuration Software", "&File",
                              "&Traffic", "Watch", "Meaning"};
const QStringList kChinese = {"串口参数", "打开", "NX260-HGW 配置软件", "文件(&F)", "通信记录(&T)", "监视", "含义"};

// What stays literal in every language.
QStringList literals(TForm1 &w)
{
    const FormControls c = ui(w);
    return {w.windowTitle(), c.ComboBox10->itemText(0), c.DTMA->itemText(0), c.ComboBox11->currentText(),
            c.SPREALCOM->currentText()};
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT
private slots:
    void followsTheSystemAndSwitchesAtOnce()
    {
        QCOMPARE(captions::systemLanguage(), QStringLiteral("zh_CN"));
        QVERIFY(captions::useLanguage(captions::systemLanguage()));
        TForm1 w;
        const QStringList fixed = {"NX260-HGW", "None", "0_无延时", "9600", "COM4"};
        QCOMPARE(captionsOf(w), kChinese);
        QCOMPARE(literals(w), fixed);

        w.findChild<QAction *>(QStringLiteral("Language_en"))->trigger();
        QTRY_COMPARE(captionsOf(w), kEnglish);
        QCOMPARE(literals(w), fixed);
        QCOMPARE(captions::currentLanguage(), QStringLiteral("en"));

        w.findChild<QAction *>(QStringLiteral("Language_zh_CN"))->trigger();
        QTRY_COMPARE(captionsOf(w), kChinese);
        QCOMPARE(literals(w), fixed);
    }
};

int main(int argc, char *argv[])
{
    // The system locale is read once, from the environment, when first asked.
    for (const char *v : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        qunsetenv(v);
    qputenv("LANG", "zh_CN.UTF-8");
    QApplication app(argc, argv);
    TestLanguage t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_language.moc"
