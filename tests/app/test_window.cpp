// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: controls, defaults, port handling, receive path, timers.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "../FormLookup.h"
#include "NX260AB.h"
#include "QtOwnerQueue.h"
#include "TTimer.h"
#include "TestSupport.h"
#include "../IntervalCheck.h"

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void windowFrame();
    void controls_data();
    void controls();
    void comboLists_data();
    void comboLists();
    void unitLists();
    void hartValuesReadableWhole();
    void onlyPortAndBaudAreEditable();
    void formCreateHidesChannelModel();
    void label4DoubleClickRevealsChannelModel();
    void clearBuffer();

    void openCloseToggle();
    void openNonNumericBaud();
    void openFailureKeepsClosed();
    void openSetsBaudAndParity();
    void portLostClosesPort();
    void closingWindowClosesPort();

    void receiveBranches_data();
    void receiveBranches();
    void receiveCapsAt255();
    void chunksOfOneReplyAreJoined();
    void receiveKeepsNulBytes();

    void watchdogNamesRequest_data();
    void watchdogNamesRequest();
    void hartCommand3NeedsIdentity();
    void requestWithPortClosedStillArmsWatchdog();
    void everyRequestStartsFullWatchdogCount();

    void clicksDuringSettleActInOrder();
    void timerNoRestart();
    void chunksBeforeTimerAreHandledFirst();
};

void TestWindow::windowFrame()
{
    TForm1 w;
    QCOMPARE(w.windowTitle(), QStringLiteral("NX260-HGW"));
    QCOMPARE(w.size(), QSize(1057, 720));
    QCOMPARE(w.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Nothing clipped: every group gets at least the size its contents ask for.
    for (QGroupBox *g : w.findChildren<QGroupBox *>()) {
        if (!g->isVisible())
            continue;
        QVERIFY2(g->width() >= g->minimumSizeHint().width() && g->height() >= g->minimumSizeHint().height(),
                 qPrintable(g->objectName()));
    }
}

// name, kind, caption or text, parent group
void TestWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("group");

    const struct { const char *name, *kind, *text, *group; } rows[] = {
        {"Label41", "QLabel", "NX260-HGW Configuration Software", ""},
        {"Label9", "QLabel", "2025-08-07", ""},
        {"Label5", "QLabel", nullptr, ""},
        {"Label18", "QLabel", nullptr, ""},
        {"Label19", "QLabel", nullptr, ""},
        {"Button30", "QPushButton", "Parameter Initialization", ""},
        {"Button6", "QPushButton", "Communication Query", ""},
        {"Edit8", "QLineEdit", "", ""},
        {"Memo10", "QPlainTextEdit", "", ""},
        {"Button26", "QPushButton", "  Clear Buffer   ", ""},
        {"GroupBox1", "QGroupBox", "Serial Parameters", ""},
        {"SPREALCOM", "QComboBox", "COM4", "GroupBox1"},
        {"ComboBox11", "QComboBox", "9600", "GroupBox1"},
        {"ComboBox10", "QComboBox", "None", "GroupBox1"},
        {"Button1", "QPushButton", "Open", "GroupBox1"},
        {"GroupBox6", "QGroupBox", "System Parameters", ""},
        {"Edit14", "QLineEdit", "", "GroupBox6"},
        {"Button29", "QPushButton", "Set", "GroupBox6"},
        {"GroupBox18", "QGroupBox", "RS485 Serial Port Parameters", "GroupBox6"},
        {"BOA", "QComboBox", "9600", "GroupBox18"},
        {"BOB", "QComboBox", "9600", "GroupBox18"},
        {"JIAOA", "QComboBox", "None", "GroupBox18"},
        {"JIAOB", "QComboBox", "None", "GroupBox18"},
        {"Button9", "QPushButton", "Set", "GroupBox18"},
        {"Button3", "QPushButton", "Set", "GroupBox18"},
        {"MODEL", "QComboBox", "MODBUS Mode", "GroupBox6"},
        {"Button24", "QPushButton", "Set", "GroupBox6"},
        {"DTMA", "QComboBox", "2_200MS", "GroupBox6"},
        {"DTMB", "QComboBox", "2_200MS", "GroupBox6"},
        {"Button4", "QPushButton", "Set", "GroupBox6"},
        {"Button5", "QPushButton", "Set", "GroupBox6"},
        {"RTD", "QLineEdit", "10", "GroupBox6"},
        {"Button13", "QPushButton", "Set", "GroupBox6"},
        {"Label4", "QLabel", "", "GroupBox6"},
        {"CHXINGHAO", "QComboBox", "1 Channels", "GroupBox6"},
        {"Button14", "QPushButton", "Set", "GroupBox6"},
        {"Button23", "QPushButton", "System parameters ", "GroupBox6"},
        {"GroupBox3", "QGroupBox", "", ""},
        {"Button10", "QPushButton", "Set", "GroupBox3"},
        {"Button8", "QPushButton", "Set", "GroupBox3"},
        {"Button11", "QPushButton", "Set", "GroupBox3"},
        {"Button12", "QPushButton", "Set", "GroupBox3"},
        {"Button2", "QPushButton", "Query", "GroupBox3"},
        {"PCBSN", "QLineEdit", "00000000", ""},
        {"JIANZHI", "QComboBox", "001", ""},
        {"Button53", "QPushButton", "Set", ""},
        {"GroupBox4", "QGroupBox", "Transparent Transmission Mode", ""},
        {"ComboBox30", "QComboBox", "1", "GroupBox4"},
        {"ComboBox42", "QComboBox", "Master Mode", "GroupBox4"},
        {"Edit9", "QLineEdit", "6", "GroupBox4"},
        {"Edit10", "QLineEdit", "", "GroupBox4"},
        {"Button20", "QPushButton", "Send", "GroupBox4"},
        {"GroupBox8", "QGroupBox", "HART Device Basic Parameters", "GroupBox4"},
        {"Edit28", "QLineEdit", "", "GroupBox8"},
        {"Edit29", "QLineEdit", "", "GroupBox8"},
        {"Edit31", "QLineEdit", "", "GroupBox8"},
        {"Edit32", "QLineEdit", "", "GroupBox8"},
        {"Button7", "QPushButton", "HART Device Parameter Query", "GroupBox8"},
        {"GroupBox10", "QGroupBox", "Universal HART Real-Time Data", "GroupBox4"},
        {"Edit25", "QLineEdit", "", "GroupBox10"},
        {"Edit26", "QLineEdit", "", "GroupBox10"},
        {"Edit27", "QLineEdit", "", "GroupBox10"},
        {"Edit30", "QLineEdit", "", "GroupBox10"},
        {"ComboBox3", "QComboBox", "inH20", "GroupBox10"},
        {"ComboBox31", "QComboBox", "inH20", "GroupBox10"},
        {"ComboBox32", "QComboBox", "inH20", "GroupBox10"},
        {"ComboBox33", "QComboBox", "inH20", "GroupBox10"},
        {"Button16", "QPushButton", "HART Command Query  ", "GroupBox10"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << r.name << r.kind << (r.text ? QString::fromUtf8(r.text) : QString("?"))
                              << r.group;
    for (int n = 1; n <= 4; ++n) {
        const QString s = QString::number(n);
        QTest::newRow(qPrintable("SBZHU" + s)) << "SBZHU" + s << "QComboBox" << "Master Device" << "GroupBox3";
        QTest::newRow(qPrintable("NEIXING" + s))
            << "NEIXING" + s << "QComboBox" << "Yokogawa Vortex Flowmeter" << "GroupBox3";
        QTest::newRow(qPrintable("QIADF" + s)) << "QIADF" + s << "QComboBox" << "8" << "GroupBox3";
        QTest::newRow(qPrintable("DTM" + s)) << "DTM" + s << "QLineEdit" << "60" << "GroupBox3";
    }
}

static QString textOf(QWidget *w)
{
    if (auto *b = qobject_cast<QPushButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *m = qobject_cast<QPlainTextEdit *>(w))
        return m->toPlainText();
    return QString();
}

void TestWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, group);
    TForm1 w;
    const QList<QWidget *> found = w.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *c = found.first();
    QVERIFY2(c->inherits(kind.toLatin1()), qPrintable(c->metaObject()->className()));
    if (text != "?")
        QCOMPARE(textOf(c), text);
    else
        QVERIFY(!textOf(c).isEmpty()); // contact labels: some text of ours
    if (!group.isEmpty()) {
        QWidget *g = w.findChild<QGroupBox *>(group);
        QVERIFY(g);
        QVERIFY2(g->isAncestorOf(c), qPrintable(name + " not inside " + group));
    }
}

void TestWindow::comboLists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("index");
    const QStringList baud = {"1200", "2400", "4800", "9600", "19200", "38400", "56000", "115200"};
    const QStringList parity = {"None", "Odd", "Even"};
    const QStringList dt = {QString::fromUtf8("0_无延时"), "1_100MS", "2_200MS", "3_300MS", "4_300MS", "5_500MS"};
    QStringList ports;
    for (int i = 1; i <= 12; ++i)
        ports << QString("COM%1").arg(i);
    QStringList addrs;
    for (int i = 1; i <= 32; ++i)
        addrs << QString::number(i);
    QTest::newRow("SPREALCOM") << "SPREALCOM" << ports << 3;
    QTest::newRow("ComboBox11") << "ComboBox11" << baud << 3;
    QTest::newRow("ComboBox10") << "ComboBox10" << parity << 0;
    QTest::newRow("BOA") << "BOA" << baud << 3;
    QTest::newRow("BOB") << "BOB" << baud << 3;
    QTest::newRow("JIAOA") << "JIAOA" << parity << 0;
    QTest::newRow("JIAOB") << "JIAOB" << parity << 0;
    QTest::newRow("MODEL") << "MODEL" << QStringList{"Transparent Mode", "MODBUS Mode"} << 1;
    QTest::newRow("DTMA") << "DTMA" << dt << 2;
    QTest::newRow("DTMB") << "DTMB" << dt << 2;
    QTest::newRow("CHXINGHAO") << "CHXINGHAO" << QStringList{"1 Channels", "2 Channels", "4 Channels"} << 0;
    for (int n = 1; n <= 4; ++n) {
        QTest::newRow(qPrintable(QString("SBZHU%1").arg(n)))
            << QString("SBZHU%1").arg(n) << QStringList{"Secondary Master Device", "Master Device"} << 1;
        QTest::newRow(qPrintable(QString("NEIXING%1").arg(n)))
            << QString("NEIXING%1").arg(n) << QStringList{"Yokogawa Vortex Flowmeter"} << 0;
        QTest::newRow(qPrintable(QString("QIADF%1").arg(n)))
            << QString("QIADF%1").arg(n) << QStringList{"4", "5", "6", "7", "8", "9"} << 4;
    }
    QTest::newRow("JIANZHI") << "JIANZHI"
                             << QStringList{"001", "002", "003", "004", "005", "006", "006", "008", "009",
                                            "101", "102", "103", "104"}
                             << 0;
    QTest::newRow("ComboBox30") << "ComboBox30" << addrs << 0;
    QTest::newRow("ComboBox42") << "ComboBox42" << QStringList{"Master Mode", "Secondary Master Mode"} << 0;
}

void TestWindow::comboLists()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    QFETCH(int, index);
    TForm1 w;
    auto *c = w.findChild<QComboBox *>(name);
    QVERIFY(c);
    QStringList got;
    const int fixed = name == "SPREALCOM" ? 12 : c->count(); // serial devices may follow COM12
    for (int i = 0; i < fixed; ++i)
        got << c->itemText(i);
    QCOMPARE(got, items);
    QCOMPARE(c->currentIndex(), index);
}

void TestWindow::unitLists()
{
    TForm1 w;
    for (const char *name : {"ComboBox3", "ComboBox31", "ComboBox32", "ComboBox33"}) {
        auto *c = w.findChild<QComboBox *>(name);
        QVERIFY(c);
        QCOMPARE(c->count(), 77);
        QCOMPARE(c->currentIndex(), 0);
        QCOMPARE(c->itemText(0), QStringLiteral("inH20"));
        QCOMPARE(c->itemText(11), QStringLiteral("MPa"));
        QCOMPARE(c->itemText(12), QString::fromUtf8("℃"));
        QCOMPARE(c->itemText(13), QString::fromUtf8("℉"));
        QCOMPARE(c->itemText(46), QStringLiteral("kg"));
        QCOMPARE(c->itemText(47), QStringLiteral("MetTon"));
        QCOMPARE(c->itemText(48), QStringLiteral("lb"));
        QCOMPARE(c->itemText(75), QStringLiteral("%"));
        QCOMPARE(c->itemText(76), QStringLiteral("other"));
    }
}

// A HART value is readable whole in its box at the window's own size: the
// text fits inside the frame and the line edit's own 2-pixel margins.
void TestWindow::hartValuesReadableWhole()
{
    TForm1 w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString value = QStringLiteral("-12345.678");
    for (const char *name : {"Edit25", "Edit26", "Edit27", "Edit30"}) {
        auto *e = w.findChild<QLineEdit *>(name);
        QVERIFY(e);
        const int frame = e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, e);
        QVERIFY2(e->fontMetrics().horizontalAdvance(value) <= e->width() - 2 * frame - 4, name);
    }
}

void TestWindow::onlyPortAndBaudAreEditable()
{
    TForm1 w;
    for (QComboBox *c : w.findChildren<QComboBox *>()) {
        const bool editable = c->objectName() == "SPREALCOM" || c->objectName() == "ComboBox11";
        QVERIFY2(c->isEditable() == editable, qPrintable(c->objectName()));
    }
}

void TestWindow::formCreateHidesChannelModel()
{
    TForm1 w;
    w.show();
    QVERIFY(!ui(w).CHXINGHAO->isVisible());
    QVERIFY(!ui(w).Button14->isVisible());
    QVERIFY(ui(w).Button6->isEnabled() && ui(w).GroupBox1->isEnabled() && ui(w).Button1->isEnabled());
    QVERIFY(!w.Timer2->Enabled());
    QVERIFY(!w.Timer3->Enabled());
    QCOMPARE(w.Timer2->Interval(), 300);
    QCOMPARE(w.Timer3->Interval(), 1000);
    QCOMPARE(w.Exchange.pendingReply, 0);
    QCOMPARE(w.Exchange.timeoutKind, 0);
    QVERIFY(!w.PortIsOpen);
    QCOMPARE(w.Comm1->CommName(), std::string("COM2"));
    QCOMPARE(w.Comm1->BaudRate(), 115200u);
}

void TestWindow::label4DoubleClickRevealsChannelModel()
{
    TForm1 w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseDClick(ui(w).Label4, Qt::LeftButton);
    QVERIFY(ui(w).CHXINGHAO->isVisible());
    QVERIFY(ui(w).Button14->isVisible());
    QTest::mouseDClick(ui(w).Label4, Qt::LeftButton);
    QVERIFY(ui(w).CHXINGHAO->isVisible());
    QVERIFY(ui(w).Button14->isVisible());
}

void TestWindow::clearBuffer()
{
    TForm1 w;
    ui(w).Memo10->setPlainText("abc");
    ui(w).Edit8->setText("QQQ#QV#");
    QTest::mouseClick(ui(w).Button26, Qt::LeftButton);
    QCOMPARE(ui(w).Memo10->toPlainText(), QString());
    QCOMPARE(ui(w).Edit8->text(), QStringLiteral("QQQ#QV#"));
}

void TestWindow::openCloseToggle()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(peer.slavePath());
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('|')));
    QVERIFY(w.PortIsOpen);
    QVERIFY(w.Comm1->IsOpen());
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Close"));
    QCOMPARE(w.Comm1->CommName(), peer.slavePath().toStdString());
    QVERIFY(!w.Comm1->Outx_XonXoffFlow());
    QVERIFY(!w.Comm1->Inx_XonXoffFlow());

    // The open port carries a request.
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QCOMPARE(peer.readQuiet(), std::string("QQQ#QV#"));

    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(!w.PortIsOpen);
    QVERIFY(!w.Comm1->IsOpen());
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));

    // And again: the toggle is repeatable.
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(!w.PortIsOpen);
    QVERIFY(boxes.texts().isEmpty());
}

void TestWindow::openNonNumericBaud()
{
    PtyPeer peer;
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(peer.slavePath());
    ui(w).ComboBox11->setEditText("96OO");
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QTRY_COMPARE(boxes.texts(), QStringList{"'96OO' is not a valid integer value"});
    QVERIFY(!w.PortIsOpen);
    QVERIFY(!w.Comm1->IsOpen());
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));
    QCOMPARE(w.Comm1->BaudRate(), 115200u);
}

void TestWindow::openFailureKeepsClosed()
{
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText("/dev/nx260-no-such-port");
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QTRY_COMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().first().startsWith("Error opening serial port"));
    QVERIFY(!w.PortIsOpen);
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));

    // A regular file is not a serial port.
    boxes.clear();
    QTemporaryFile f;
    QVERIFY(f.open());
    ui(w).SPREALCOM->setEditText(f.fileName());
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QTRY_COMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().first().startsWith("File handle is not a comm handle "));
    QVERIFY(!w.PortIsOpen);

    // The next click tries again, and succeeds on a real port.
    PtyPeer peer;
    ui(w).SPREALCOM->setEditText(peer.slavePath());
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Close"));
}

void TestWindow::openSetsBaudAndParity()
{
    PtyPeer peer;
    TForm1 w;
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(peer.slavePath());
    ui(w).ComboBox11->setCurrentIndex(6); // 56000
    ui(w).ComboBox10->setCurrentIndex(2); // Even
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    QCOMPARE(w.Comm1->BaudRate(), 56000u);
    QCOMPARE(w.Comm1->Parity(), SerialComm::TParity::Even);
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    ui(w).ComboBox11->setCurrentIndex(7); // 115200, the form value already
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    QCOMPARE(w.Comm1->BaudRate(), 115200u);
    QVERIFY(boxes.texts().isEmpty());
}

void TestWindow::portLostClosesPort()
{
    auto peer = std::make_unique<PtyPeer>();
    TForm1 w;
    MessageCatcher boxes;
    w.findChild<QCheckBox *>(QStringLiteral("AutoReconnect"))->setChecked(false); // told by a dialog then
    ui(w).SPREALCOM->setEditText(peer->slavePath());
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    // A query still unanswered when the device goes away: the loss is
    // reported at once, naming the query, and its watchdog says no more.
    QElapsedTimer sinceQuery;
    sinceQuery.start();
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    peer.reset();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, 5000);
    QVERIFY(boxes.texts().first().contains("serial port was lost"));
    QVERIFY(boxes.texts().first().contains("Communication Query got no reply"));
    QVERIFY(sinceQuery.elapsed() < 3000);
    QVERIFY(!w.PortIsOpen);
    QVERIFY(!w.Comm1->IsOpen());
    QCOMPARE(ui(w).Button1->text(), QStringLiteral("Open"));
    QVERIFY(!w.Timer3->Enabled());
    QTest::qWait(3500 - int(sinceQuery.elapsed()));
    QCOMPARE(boxes.texts().size(), 1);
}

void TestWindow::closingWindowClosesPort()
{
    PtyPeer peer;
    auto w = std::make_unique<TForm1>();
    ui(*w).SPREALCOM->setEditText(peer.slavePath());
    w->show();
    QTest::mouseClick(ui(*w).Button1, Qt::LeftButton);
    QVERIFY(w->PortIsOpen);
    w->close();
    QVERIFY(!w->Comm1->IsOpen());
    // The port is free for the next program.
    const int fd = ::open(peer.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

void TestWindow::receiveBranches_data()
{
    QTest::addColumn<int>("pending");
    QTest::addColumn<QByteArray>("memo");
    QTest::addColumn<bool>("decodeTimerOn");
    const QByteArray hex = "51 31 FF 06 ";
    const QByteArray text("Q1\xff\x06", 4);
    QTest::newRow("0") << 0 << text << false;
    QTest::newRow("100 hart cmd0") << 100 << hex << true;
    QTest::newRow("103 hart cmd3") << 103 << hex << true;
    QTest::newRow("104 hart manual") << 104 << hex << false;
    QTest::newRow("200 ack") << 200 << text << false;
    QTest::newRow("201 comm query") << 201 << text << false;
    QTest::newRow("202 sys params") << 202 << text << true;
    QTest::newRow("203 instruments") << 203 << text << true;
}

void TestWindow::receiveBranches()
{
    QFETCH(int, pending);
    QFETCH(QByteArray, memo);
    QFETCH(bool, decodeTimerOn);
    TForm1 w(nullptr, {.receivePauseMs = 0});
    w.Exchange.pendingReply = pending;
    w.Timer3->SetEnabled(true);
    const uint8_t chunk[] = {'Q', '1', 0xFF, 0x06};
    w.Comm1ReceiveData(w.Comm1.get(), chunk, 4);
    QCOMPARE(ui(w).Memo10->toPlainText(), QString::fromLatin1(memo));
    QCOMPARE(w.Timer2->Enabled(), decodeTimerOn);
    QVERIFY(!w.Timer3->Enabled());
    QCOMPARE(w.Exchange.pendingReply, pending); // only decoders reset it
    QCOMPARE(w.Exchange.receivedText, std::string("Q1\xff\x06"));

    // An ack stops a running decode timer.
    if (pending == 200) {
        w.Timer2->SetEnabled(true);
        w.Comm1ReceiveData(w.Comm1.get(), chunk, 4);
        QVERIFY(!w.Timer2->Enabled());
    }
}

void TestWindow::receiveCapsAt255()
{
    TForm1 w(nullptr, {.receivePauseMs = 0});
    w.Exchange.pendingReply = 104;
    std::vector<uint8_t> chunk(300);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = uint8_t(i);
    w.Comm1ReceiveData(w.Comm1.get(), chunk.data(), uint16_t(chunk.size()));
    QCOMPARE(w.Exchange.receivedText.size(), size_t(255));
    const QString memo = ui(w).Memo10->toPlainText();
    QCOMPARE(memo.size(), 255 * 3);
    QVERIFY(memo.startsWith("00 01 02 "));
    QVERIFY(memo.endsWith("FD FE "));
    QCOMPARE(uint8_t(w.Exchange.receivedText[254]), uint8_t(254));
}

void TestWindow::chunksOfOneReplyAreJoined()
{
    // Two chunks of one reply show and decode as one; a chunk after the
    // decode starts afresh, and so does the reply to the next request.
    TForm1 w(nullptr, {.receivePauseMs = 0});
    MessageCatcher boxes;
    QTest::mouseClick(ui(w).Button23, Qt::LeftButton);
    const std::string first = "QX1#MD:0#C1:247#BOA:720#BOB:", second = "010#DTA:5#DTB:0#RTM:999#";
    w.Comm1ReceiveData(w.Comm1.get(), reinterpret_cast<const uint8_t *>(first.data()), uint16_t(first.size()));
    w.Comm1ReceiveData(w.Comm1.get(), reinterpret_cast<const uint8_t *>(second.data()), uint16_t(second.size()));
    QCOMPARE(ui(w).Memo10->toPlainText(), QString::fromStdString(first + second));
    QTRY_COMPARE(w.Exchange.pendingReply, 0);
    for (auto [box, index] : {std::pair{ui(w).MODEL, 0}, {ui(w).BOA, 7}, {ui(w).JIAOA, 2}, {ui(w).BOB, 0},
                              {ui(w).JIAOB, 1}, {ui(w).DTMA, 5}, {ui(w).DTMB, 0}})
        QCOMPARE(box->currentIndex(), index);
    QCOMPARE(ui(w).Edit14->text(), QStringLiteral("247"));
    QCOMPARE(ui(w).RTD->text(), QStringLiteral("999"));

    const uint8_t late[] = {'X', 'H', ':', '2', '#'};
    w.Comm1ReceiveData(w.Comm1.get(), late, sizeof late);
    QCOMPARE(ui(w).Memo10->toPlainText(), QStringLiteral("XH:2#"));
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    const uint8_t id[] = {'N', 'X'};
    w.Comm1ReceiveData(w.Comm1.get(), id, sizeof id);
    QCOMPARE(ui(w).Memo10->toPlainText(), QStringLiteral("NX"));
    QVERIFY(boxes.texts().isEmpty());
}

void TestWindow::receiveKeepsNulBytes()
{
    TForm1 w(nullptr, {.receivePauseMs = 0});
    w.Exchange.pendingReply = 201;
    const uint8_t chunk[] = {'O', 0x00, 'K'};
    w.Comm1ReceiveData(w.Comm1.get(), chunk, 3);
    QCOMPARE(w.Exchange.receivedText, std::string("O\0K", 3));
    QCOMPARE(ui(w).Memo10->toPlainText().size(), 3);
}

void TestWindow::watchdogNamesRequest_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    const auto noReply = [](const char *name) { return QStringLiteral("No reply to %1 within 0.1 s.").arg(name); };
    QTest::newRow("Button6") << "Button6" << "Connection Timeout! " + noReply("Communication Query");
    QTest::newRow("Button23") << "Button23" << noReply("System parameters");
    QTest::newRow("Button2") << "Button2" << noReply("the instrument table Query");
    QTest::newRow("Button29") << "Button29" << noReply("Set MODBUS Slave Address");
    QTest::newRow("Button9") << "Button9" << noReply("Set RS485A");
    QTest::newRow("Button3") << "Button3" << noReply("Set RS485B");
    QTest::newRow("Button24") << "Button24" << noReply("Set Communication Mode");
    QTest::newRow("Button4") << "Button4" << noReply("Set RS485A data return time");
    QTest::newRow("Button5") << "Button5" << noReply("Set RS485B data return time");
    QTest::newRow("Button13") << "Button13" << noReply("Set Communication Interval");
    QTest::newRow("Button14") << "Button14" << noReply("Set channel model");
    QTest::newRow("Button10") << "Button10" << noReply("Set Instrument Number 1");
    QTest::newRow("Button12") << "Button12" << noReply("Set Instrument Number 4");
    QTest::newRow("Button30") << "Button30" << noReply("Parameter Initialization");
    QTest::newRow("Button7") << "Button7" << noReply("HART Device Parameter Query");
    QTest::newRow("Button20") << "Button20" << noReply("Manual HART Command");
}

void TestWindow::watchdogNamesRequest()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    TForm1 w;
    MessageCatcher boxes;
    ui(w).Edit14->setText("1");
    ui(w).Edit10->setText("02 80 00 00");
    ui(w).Label4->onDoubleClick();
    QTest::mouseClick(w.findChild<QPushButton *>(button), Qt::LeftButton);
    QVERIFY2(w.Timer3->Enabled(), qPrintable(boxes.texts().join('|')));
    // A shorter count than the gateway's, so the table runs fast.
    w.Timer3->SetInterval(100);
    QTRY_VERIFY(!w.Timer3->Enabled());
    QCOMPARE(boxes.texts(), QStringList{message});
    // The awaited reply stays the awaited one.
    QVERIFY(w.Exchange.pendingReply != 0);
}

void TestWindow::hartCommand3NeedsIdentity()
{
    // Before a command 0 reply there is no address to send to: the engineer
    // is told, nothing is sent and no watchdog runs.
    TForm1 w;
    MessageCatcher boxes;
    ui(w).Edit8->setText("before");
    QTest::mouseClick(ui(w).Button16, Qt::LeftButton);
    QTRY_COMPARE(boxes.texts(), QStringList{"Read the device (HART Device Parameter Query) first."});
    QCOMPARE(ui(w).Edit8->text(), QString());
    QVERIFY(!w.Timer3->Enabled());
    QCOMPARE(w.Exchange.pendingReply, 0);
}

void TestWindow::requestWithPortClosedStillArmsWatchdog()
{
    TForm1 w;
    MessageCatcher boxes;
    // From the click to the message, each time from idle.
    const QString fault = IntervalCheck::check({{"watchdog", 3000, 300}}, [&]() -> std::vector<double> {
        boxes.clear();
        const auto clicked = IntervalCheck::Clock::now();
        QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !boxes.texts().isEmpty(); }, 8000))
            return {};
        return {IntervalCheck::msBetween(clicked, IntervalCheck::Clock::now())};
    });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(ui(w).Edit8->text(), QStringLiteral("QQQ#QV#"));
    QCOMPARE(w.Exchange.pendingReply, 201);
    QCOMPARE(boxes.texts(), QStringList{"Connection Timeout! No reply to Communication Query within 3 s."});
}

void TestWindow::everyRequestStartsFullWatchdogCount()
{
    // A request sent while an earlier one's watchdog runs gets its own full
    // count, whether it is a configuration or a HART request.
    TForm1 w;
    MessageCatcher boxes;
    for (QPushButton *next : {ui(w).Button6, ui(w).Button23, ui(w).Button7}) {
        QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
        QTest::qWait(400);
        const int left = w.Timer3->remainingTime();
        QTest::mouseClick(next, Qt::LeftButton);
        QVERIFY2(w.Timer3->remainingTime() > left + 200,
                 qPrintable(QStringLiteral("%1 -> %2").arg(left).arg(w.Timer3->remainingTime())));
        QCOMPARE(w.Timer3->Interval(), 3000);
    }
}

void TestWindow::clicksDuringSettleActInOrder()
{
    // The field pause: the chunk settles for 600 ms without holding the
    // window, and the clicks made meanwhile act after it, in their order.
    TForm1 w;
    MessageCatcher boxes;
    QTest::mouseClick(ui(w).Button23, Qt::LeftButton);
    QStringList events;
    connect(ui(w).Memo10, &QPlainTextEdit::textChanged, [&] {
        if (!ui(w).Memo10->toPlainText().isEmpty())
            events << "shown " + ui(w).Memo10->toPlainText();
    });
    connect(ui(w).Edit8, &QLineEdit::textChanged, [&](const QString &t) {
        if (!t.isEmpty())
            events << "sent " + t;
    });
    int ticks = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { ++ticks; });
    probe.start(20);
    const auto arrived = IntervalCheck::Clock::now();
    const uint8_t chunk[] = {'M', 'D', ':', '0', '#'};
    w.Comm1ReceiveData(w.Comm1.get(), chunk, sizeof chunk);
    QTest::mouseClick(ui(w).Button6, Qt::LeftButton);
    QTest::mouseClick(ui(w).Button2, Qt::LeftButton);
    QVERIFY(events.isEmpty());
    QTRY_COMPARE(events.size(), 3);
    const double settled = IntervalCheck::msBetween(arrived, IntervalCheck::Clock::now());
    QCOMPARE(events, (QStringList{"shown MD:0#", "sent QQQ#QV#", "sent QQQ#QH00#"}));
    QVERIFY2(settled >= 590, qPrintable(QString::number(settled)));
    // The window's own timers ran on while the chunk settled.
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    QVERIFY(boxes.texts().isEmpty());
}

void TestWindow::timerNoRestart()
{
    int fired = 0;
    QObject owner;
    TTimer t(&owner, 1000, [&] { ++fired; });
    t.SetEnabled(true);
    QTRY_VERIFY(t.remainingTime() < 900);
    const int before = t.remainingTime();
    t.SetEnabled(true); // already enabled: the count goes on
    t.SetInterval(1000); // same interval: the count goes on
    QVERIFY2(t.remainingTime() <= before, qPrintable(QString::number(t.remainingTime())));
    QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 3000);
    t.SetEnabled(false);

    // A real change restarts it.
    fired = 0;
    t.SetEnabled(true);
    QTRY_VERIFY(t.remainingTime() < 900);
    t.SetInterval(1500);
    QVERIFY(t.remainingTime() > 1000);
    t.SetEnabled(false);
    QCOMPARE(t.remainingTime(), -1);
    QTest::qWait(1600); // past the restarted count: nothing fires
    QCOMPARE(fired, 0);
}

void TestWindow::chunksBeforeTimerAreHandledFirst()
{
    // The decode timer comes due while a chunk is already waiting: the chunk
    // must be handled first, so the decoder reads it.
    PtyPeer peer;
    TForm1 w(nullptr, {.receivePauseMs = 0});
    MessageCatcher boxes;
    ui(w).SPREALCOM->setEditText(peer.slavePath());
    QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
    QVERIFY(w.PortIsOpen);
    QTest::mouseClick(ui(w).Button23, Qt::LeftButton);
    QCOMPARE(peer.readQuiet(), std::string("QQQ#QX1#"));
    w.Timer2->SetEnabled(true);
    // Just before the timer, in the same pass over due timers, the chunk is
    // handed over as the port's reader does it; the GUI is busy until both
    // are due.
    const uint8_t chunk[] = {'C', '1', ':', '0', '4', '2'};
    QTimer handOver;
    handOver.setTimerType(Qt::PreciseTimer);
    handOver.setSingleShot(true);
    connect(&handOver, &QTimer::timeout, [&] {
        w.NotifyQueue->post([&] { w.Comm1ReceiveData(w.Comm1.get(), chunk, sizeof chunk); });
    });
    handOver.start(qMax(0, w.Timer2->remainingTime() - 50));
    while (w.Timer2->remainingTime() > 0)
        QThread::msleep(uint32_t(w.Timer2->remainingTime()));
    QTRY_COMPARE_WITH_TIMEOUT(w.Exchange.pendingReply, 0, 3000);
    QCOMPARE(ui(w).Edit14->text(), QStringLiteral("042"));
    QCOMPARE(ui(w).Memo10->toPlainText(), QStringLiteral("C1:042"));
    QVERIFY(boxes.texts().isEmpty());
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
