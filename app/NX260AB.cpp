#include "NX260AB.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <cstring>

#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "HartFrames.h"
#include "HartReplies.h"
#include "QtOwnerQueue.h"
#include "StrictInt.h"
#include "TTimer.h"
#include "TrafficMonitor.h"
#include "Widgets.h"

namespace {

// Bytes as 8-bit characters, one character per byte (0x00 included).
QString latin1(const std::string &s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

QComboBox *makeCombo(QWidget *parent, const char *name, const QStringList &items, int index,
                     bool editable = false)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setEditable(editable);
    c->addItems(items);
    c->setCurrentIndex(index);
    return c;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &text)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setText(text);
    return e;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QGroupBox *makeGroup(QWidget *parent, const char *name, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

const QStringList kBaudItems = {"1200", "2400", "4800", "9600", "19200", "38400", "56000", "115200"};
const QStringList kParityItems = {"None", "Odd", "Even"};

QStringList unitItems()
{
    QStringList out;
    for (const char *name : hart::kUnitNames)
        out << QString::fromUtf8(name);
    return out;
}

QString openFailureText(const SerialComm::ECommsError &e)
{
    QString text = QString::fromStdString(e.what());
    const int err = e.systemError();
    if (err != 0) {
        text += QStringLiteral("\n\n") + QString::fromStdString(e.reason());
#ifdef _WIN32
        // A Windows error code: the port is held by another program.
        if (err == 5 || err == 32) // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION
            text += QStringLiteral("\nAnother program holds this port; close it and try again.");
#else
        if (err == EACCES || err == EPERM)
            text += QStringLiteral(
                "\nYour user may not use serial ports: add it to the 'dialout' group "
                "(sudo usermod -aG dialout $USER), then log out and back in.");
        else if (err == EBUSY || err == EWOULDBLOCK)
            text += QStringLiteral("\nAnother program holds this port; close it and try again.");
#endif
    }
    return text;
}

} // namespace

TForm1::TForm1(QWidget *parent, TForm1Options options)
    : QWidget(parent), m_receivePauseMs(options.receivePauseMs)
{
    NotifyQueue = std::make_shared<QtOwnerQueue>();
    Comm1 = std::make_unique<SerialComm::TComm>(NotifyQueue);
    // Form values of the component: only the baud rate differs from its own.
    Comm1->SetCommName("COM2");
    Comm1->SetBaudRate(115200);
    Comm1->OnReceiveData = [this](SerialComm::TComm *s, const uint8_t *b, uint16_t n) {
        Comm1ReceiveData(s, b, n);
    };
    Comm1->OnRequestHangup = [this](SerialComm::TComm *s) { Comm1RequestHangup(s); };

    // Chunks handed over before a timer fires are handled before it.
    auto drain = [this] { NotifyQueue->drain(); };
    Timer2 = new TTimer(this, exchange::kDecodeDelayMs, [this] { Timer2Timer(); }, drain);
    Timer3 = new TTimer(this, exchange::kWatchdogDefaultMs, [this] { Timer3Timer(); }, drain);

    buildUi();
    FormCreate();
}

TForm1::~TForm1()
{
    // Stop the threads before the handlers they post to go away.
    Comm1->ClosePort();
}

void TForm1::buildUi()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("NX260-HGW"));
    resize(1057, 720);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0)); // silver
    setPalette(pal);
    setAutoFillBackground(true);
    // The desktop's own GUI face, at the form's 8 pt so the groups fit the
    // form's size.
    QFont base = font();
    base.setPointSize(8);
    setFont(base);

    // Short buttons ("Set", "Send", "Query") share one width, narrower than
    // the style's dialog-button minimum, so the rows fit the form's width.
    const int shortButton = fontMetrics().horizontalAdvance(QStringLiteral("Query")) + 20;
    auto compact = [shortButton](QPushButton *b) {
        b->setFixedWidth(std::max(shortButton, b->fontMetrics().horizontalAdvance(b->text()) + 20));
        return b;
    };

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(6, 4, 6, 6);
    root->setSpacing(6);

    MenuBar = new QMenuBar(this);
    MenuBar->setObjectName(QStringLiteral("MenuBar"));
    root->setMenuBar(MenuBar);
    FileMenu = MenuBar->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    QuitAction = FileMenu->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QuitAction->setObjectName(QStringLiteral("QuitAction"));
    buildProfileActions();

    // Title row
    auto *title = new QHBoxLayout;
    Label41 = new QLabel(QStringLiteral("NX260-HGW Configuration Software"), this);
    Label41->setObjectName(QStringLiteral("Label41"));
    QFont tf(QStringLiteral("Segoe UI"));
    tf.setBold(true);
    tf.setPointSizeF(font().pointSizeF() * 1.8);
    Label41->setFont(tf);
    Label9 = new QLabel(QStringLiteral("2025-08-07"), this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label5 = new QLabel(QStringLiteral("E-mail: support@example.com"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label18 = new QLabel(QStringLiteral("Tel: +00 000 0000 0000"), this);
    Label18->setObjectName(QStringLiteral("Label18"));
    Label19 = new QLabel(QStringLiteral("Web: www.example.com"), this);
    Label19->setObjectName(QStringLiteral("Label19"));
    title->addWidget(Label41, 0, Qt::AlignVCenter);
    title->addSpacing(8);
    title->addWidget(Label9, 0, Qt::AlignVCenter);
    title->addStretch(1);
    // The maker's contacts on one line keep the title row low.
    title->addWidget(Label5, 0, Qt::AlignVCenter);
    title->addSpacing(14);
    title->addWidget(Label18, 0, Qt::AlignVCenter);
    title->addSpacing(14);
    title->addWidget(Label19, 0, Qt::AlignVCenter);
    root->addLayout(title);

    // Two columns: the link and the gateway's own parameters on the left,
    // the instruments and transparent mode on the right.
    auto *columns = new QHBoxLayout;
    root->addLayout(columns, 1);
    auto *left = new QVBoxLayout;
    auto *right = new QVBoxLayout;
    columns->addLayout(left, 0);
    columns->addLayout(right, 1);

    // Serial Parameters
    GroupBox1 = makeGroup(this, "GroupBox1", QStringLiteral("Serial Parameters"));
    {
        auto *g = new QGridLayout(GroupBox1);
        QStringList ports;
        for (int i = 1; i <= 12; ++i)
            ports << QStringLiteral("COM%1").arg(i);
        SPREALCOM = new PortComboBox(GroupBox1);
        SPREALCOM->setObjectName(QStringLiteral("SPREALCOM"));
        SPREALCOM->setEditable(true);
        SPREALCOM->addItems(ports);
        SPREALCOM->setCurrentIndex(3);
        SPREALCOM->setInsertPolicy(QComboBox::NoInsert);
        ComboBox11 = makeCombo(GroupBox1, "ComboBox11", kBaudItems, 3, true);
        ComboBox11->setInsertPolicy(QComboBox::NoInsert);
        ComboBox10 = makeCombo(GroupBox1, "ComboBox10", kParityItems, 0);
        Button1 = makeButton(GroupBox1, "Button1", QStringLiteral("Open"));
        g->addWidget(caption(QStringLiteral("Serial Port:"), GroupBox1), 0, 0);
        g->addWidget(SPREALCOM, 0, 1, 1, 2);
        g->addWidget(caption(QStringLiteral("Baud Rate:"), GroupBox1), 1, 0);
        g->addWidget(ComboBox11, 1, 1, 1, 2);
        g->addWidget(caption(QStringLiteral("Parity Bit:"), GroupBox1), 2, 0);
        g->addWidget(ComboBox10, 2, 1);
        g->addWidget(Button1, 2, 2);
        g->setColumnStretch(1, 1);
    }
    left->addWidget(GroupBox1);

    {
        auto *h = new QHBoxLayout;
        Button6 = makeButton(this, "Button6", QStringLiteral("Communication Query"));
        Button30 = makeButton(this, "Button30", QStringLiteral("Parameter Initialization"));
        h->addWidget(Button6, 1);
        h->addWidget(Button30, 1);
        left->addLayout(h);
    }

    // System Parameters
    GroupBox6 = makeGroup(this, "GroupBox6", QStringLiteral("System Parameters"));
    {
        auto *g = new QGridLayout(GroupBox6);
        int r = 0;
        Edit14 = makeEdit(GroupBox6, "Edit14", QString());
        Button29 = compact(makeButton(GroupBox6, "Button29", QStringLiteral("Set")));
        g->addWidget(caption(QStringLiteral("MODBUS Slave Address:"), GroupBox6), r, 0);
        g->addWidget(Edit14, r, 1, 1, 2);
        g->addWidget(Button29, r++, 3);

        GroupBox18 = makeGroup(GroupBox6, "GroupBox18", QStringLiteral("RS485 Serial Port Parameters"));
        {
            auto *h = new QGridLayout(GroupBox18);
            BOA = makeCombo(GroupBox18, "BOA", kBaudItems, 3);
            BOB = makeCombo(GroupBox18, "BOB", kBaudItems, 3);
            JIAOA = makeCombo(GroupBox18, "JIAOA", kParityItems, 0);
            JIAOB = makeCombo(GroupBox18, "JIAOB", kParityItems, 0);
            Button9 = compact(makeButton(GroupBox18, "Button9", QStringLiteral("Set")));
            Button3 = compact(makeButton(GroupBox18, "Button3", QStringLiteral("Set")));
            h->addWidget(caption(QStringLiteral("Baud Rate"), GroupBox18), 0, 1);
            h->addWidget(caption(QStringLiteral("Parity Bit"), GroupBox18), 0, 2);
            h->addWidget(caption(QStringLiteral("RS485A:"), GroupBox18), 1, 0);
            h->addWidget(BOA, 1, 1);
            h->addWidget(JIAOA, 1, 2);
            h->addWidget(Button9, 1, 3);
            h->addWidget(caption(QStringLiteral("RS485B:"), GroupBox18), 2, 0);
            h->addWidget(BOB, 2, 1);
            h->addWidget(JIAOB, 2, 2);
            h->addWidget(Button3, 2, 3);
            h->setColumnStretch(1, 1);
            h->setColumnStretch(2, 1);
        }
        g->addWidget(GroupBox18, r++, 0, 1, 4);

        MODEL = makeCombo(GroupBox6, "MODEL", {"Transparent Mode", "MODBUS Mode"}, 1);
        Button24 = compact(makeButton(GroupBox6, "Button24", QStringLiteral("Set")));
        g->addWidget(caption(QStringLiteral("Communication Mode:"), GroupBox6), r, 0);
        g->addWidget(MODEL, r, 1, 1, 2);
        g->addWidget(Button24, r++, 3);

        const QStringList dt = {QStringLiteral("0_无延时"), "1_100MS", "2_200MS", "3_300MS", "4_300MS", "5_500MS"};
        DTMA = makeCombo(GroupBox6, "DTMA", dt, 2);
        DTMB = makeCombo(GroupBox6, "DTMB", dt, 2);
        Button4 = compact(makeButton(GroupBox6, "Button4", QStringLiteral("Set")));
        Button5 = compact(makeButton(GroupBox6, "Button5", QStringLiteral("Set")));
        g->addWidget(caption(QStringLiteral("RS485A data return time:"), GroupBox6), r, 0);
        g->addWidget(DTMA, r, 1, 1, 2);
        g->addWidget(Button4, r++, 3);
        g->addWidget(caption(QStringLiteral("RS485B data return time:"), GroupBox6), r, 0);
        g->addWidget(DTMB, r, 1, 1, 2);
        g->addWidget(Button5, r++, 3);

        RTD = makeEdit(GroupBox6, "RTD", QStringLiteral("10"));
        Button13 = compact(makeButton(GroupBox6, "Button13", QStringLiteral("Set")));
        g->addWidget(caption(QStringLiteral("Communication Interval:"), GroupBox6), r, 0);
        g->addWidget(RTD, r, 1);
        g->addWidget(caption(QStringLiteral("*100ms"), GroupBox6), r, 2);
        g->addWidget(Button13, r++, 3);

        Label4 = new DoubleClickLabel(GroupBox6);
        Label4->setObjectName(QStringLiteral("Label4"));
        Label4->setMinimumSize(60, 20);
        Label4->onDoubleClick = [this] { Label4DblClick(); };
        CHXINGHAO = makeCombo(GroupBox6, "CHXINGHAO", {"1 Channels", "2 Channels", "4 Channels"}, 0);
        Button14 = compact(makeButton(GroupBox6, "Button14", QStringLiteral("Set")));
        g->addWidget(Label4, r, 0);
        g->addWidget(CHXINGHAO, r, 1, 1, 2);
        g->addWidget(Button14, r++, 3);

        Button23 = makeButton(GroupBox6, "Button23", QStringLiteral("System parameters "));
        g->addWidget(Button23, r++, 0, 1, 4);
        g->setColumnStretch(1, 1);
    }
    left->addWidget(GroupBox6);
    left->addStretch(1);

    // Instrument table
    GroupBox3 = makeGroup(this, "GroupBox3", QString());
    {
        auto *g = new QGridLayout(GroupBox3);
        g->setVerticalSpacing(4);
        g->addWidget(caption(QStringLiteral("Device Mode"), GroupBox3), 0, 1);
        g->addWidget(caption(QStringLiteral("Instrument Type"), GroupBox3), 0, 2);
        g->addWidget(caption(QStringLiteral("Length"), GroupBox3), 0, 3);
        // The header may reach over the Set column: the counts are 3 digits.
        g->addWidget(caption(QStringLiteral("Comm Count"), GroupBox3), 0, 4, 1, 2);
        const char *btnNames[4] = {"Button10", "Button8", "Button11", "Button12"};
        QPushButton **btns[4] = {&Button10, &Button8, &Button11, &Button12};
        for (int i = 0; i < 4; ++i) {
            const QByteArray n = QByteArray::number(i + 1);
            SBZHU[i] = makeCombo(GroupBox3, ("SBZHU" + n).constData(),
                                 {"Secondary Master Device", "Master Device"}, 1);
            NEIXING[i] = makeCombo(GroupBox3, ("NEIXING" + n).constData(), {"Yokogawa Vortex Flowmeter"}, 0);
            QIADF[i] = makeCombo(GroupBox3, ("QIADF" + n).constData(), {"4", "5", "6", "7", "8", "9"}, 4);
            DTM[i] = makeEdit(GroupBox3, ("DTM" + n).constData(), QStringLiteral("60"));
            DTM[i]->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
            *btns[i] = compact(makeButton(GroupBox3, btnNames[i], QStringLiteral("Set")));
            g->addWidget(caption(QStringLiteral("Instrument Number %1:").arg(i + 1), GroupBox3), i + 1, 0);
            g->addWidget(SBZHU[i], i + 1, 1);
            g->addWidget(NEIXING[i], i + 1, 2);
            g->addWidget(QIADF[i], i + 1, 3);
            g->addWidget(DTM[i], i + 1, 4);
            g->addWidget(*btns[i], i + 1, 5);
        }
        Button2 = compact(makeButton(GroupBox3, "Button2", QStringLiteral("Query")));
        g->addWidget(Button2, 5, 5);
        g->setColumnStretch(1, 1);
        g->setColumnStretch(2, 1);
    }
    right->addWidget(GroupBox3);

    // Factory data
    FactoryGroup = makeGroup(this, "FactoryGroup", QString());
    {
        auto *g = new QHBoxLayout(FactoryGroup);
        PCBSN = makeEdit(FactoryGroup, "PCBSN", QStringLiteral("00000000"));
        PCBSN->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000000000")) + 12);
        JIANZHI = makeCombo(FactoryGroup, "JIANZHI",
                            {"001", "002", "003", "004", "005", "006", "006", "008", "009", "101", "102", "103", "104"}, 0);
        Button53 = compact(makeButton(FactoryGroup, "Button53", QStringLiteral("Set")));
        g->addWidget(caption(QStringLiteral("PCBSN:"), FactoryGroup));
        g->addWidget(PCBSN, 1);
        g->addSpacing(12);
        g->addWidget(caption(QStringLiteral("Inspector:"), FactoryGroup));
        g->addWidget(JIANZHI);
        g->addStretch(1);
        g->addWidget(Button53);
    }
    right->addWidget(FactoryGroup);

    // Transparent Transmission Mode
    GroupBox4 = makeGroup(this, "GroupBox4", QStringLiteral("Transparent Transmission Mode"));
    {
        auto *v = new QVBoxLayout(GroupBox4);
        auto *g = new QGridLayout;
        QStringList addrs;
        for (int i = 1; i <= 32; ++i)
            addrs << QString::number(i);
        ComboBox30 = makeCombo(GroupBox4, "ComboBox30", addrs, 0);
        ComboBox42 = makeCombo(GroupBox4, "ComboBox42", {"Master Mode", "Secondary Master Mode"}, 0);
        Edit9 = makeEdit(GroupBox4, "Edit9", QStringLiteral("6"));
        Edit10 = makeEdit(GroupBox4, "Edit10", QString());
        Button20 = compact(makeButton(GroupBox4, "Button20", QStringLiteral("Send")));
        g->addWidget(caption(QStringLiteral("HART Address:"), GroupBox4), 0, 0);
        g->addWidget(ComboBox30, 0, 1);
        g->addWidget(caption(QStringLiteral("Preamble Length:"), GroupBox4), 0, 3);
        g->addWidget(Edit9, 0, 4, 1, 2);
        g->addWidget(caption(QStringLiteral("HART Command Mode:"), GroupBox4), 1, 0);
        g->addWidget(ComboBox42, 1, 1);
        g->addWidget(caption(QStringLiteral("Manual HART Command:"), GroupBox4), 2, 0);
        g->addWidget(Edit10, 2, 1, 1, 4);
        g->addWidget(Button20, 2, 5);
        g->addWidget(caption(QStringLiteral("  HEX (76 89 FD AD)"), GroupBox4), 3, 1, 1, 4);
        g->setColumnMinimumWidth(2, 12);
        g->setColumnStretch(1, 1);
        g->setColumnStretch(4, 1);
        v->addLayout(g);

        auto *boxes = new QHBoxLayout;
        GroupBox8 = makeGroup(GroupBox4, "GroupBox8", QStringLiteral("HART Device Basic Parameters"));
        {
            auto *h = new QGridLayout(GroupBox8);
            Edit28 = makeEdit(GroupBox8, "Edit28", QString());
            Edit29 = makeEdit(GroupBox8, "Edit29", QString());
            Edit31 = makeEdit(GroupBox8, "Edit31", QString());
            Edit32 = makeEdit(GroupBox8, "Edit32", QString());
            h->addWidget(caption(QStringLiteral("Manufacturing ID:"), GroupBox8), 0, 0);
            h->addWidget(Edit28, 0, 1);
            h->addWidget(caption(QStringLiteral("Sensor Type:"), GroupBox8), 1, 0);
            h->addWidget(Edit29, 1, 1);
            h->addWidget(caption(QStringLiteral("Preamble Byte Count:"), GroupBox8), 2, 0);
            h->addWidget(Edit31, 2, 1);
            h->addWidget(caption(QStringLiteral("Sensor Serial Number:"), GroupBox8), 3, 0);
            h->addWidget(Edit32, 3, 1);
            Button7 = makeButton(GroupBox8, "Button7", QStringLiteral("HART Device Parameter Query"));
            h->addWidget(Button7, 4, 0, 1, 2);
            h->setColumnStretch(1, 1);
        }
        boxes->addWidget(GroupBox8, 2);

        GroupBox10 = makeGroup(GroupBox4, "GroupBox10", QStringLiteral("Universal HART Real-Time Data"));
        {
            auto *h = new QGridLayout(GroupBox10);
            const QStringList units = unitItems();
            Edit25 = makeEdit(GroupBox10, "Edit25", QString());
            Edit26 = makeEdit(GroupBox10, "Edit26", QString());
            Edit27 = makeEdit(GroupBox10, "Edit27", QString());
            Edit30 = makeEdit(GroupBox10, "Edit30", QString());
            ComboBox3 = makeCombo(GroupBox10, "ComboBox3", units, 0);
            ComboBox31 = makeCombo(GroupBox10, "ComboBox31", units, 0);
            ComboBox32 = makeCombo(GroupBox10, "ComboBox32", units, 0);
            ComboBox33 = makeCombo(GroupBox10, "ComboBox33", units, 0);
            QLineEdit *vals[4] = {Edit25, Edit26, Edit27, Edit30};
            QComboBox *unitBoxes[4] = {ComboBox3, ComboBox31, ComboBox32, ComboBox33};
            for (int i = 0; i < 4; ++i) {
                h->addWidget(caption(QStringLiteral("Current_Variable_%1:").arg(i + 1), GroupBox10), i, 0);
                h->addWidget(vals[i], i, 1);
                h->addWidget(caption(QStringLiteral("Unit:"), GroupBox10), i, 2);
                h->addWidget(unitBoxes[i], i, 3);
            }
            Button16 = makeButton(GroupBox10, "Button16", QStringLiteral("HART Command Query  "));
            h->addWidget(Button16, 4, 0, 1, 4);
            h->setColumnStretch(1, 1);
        }
        boxes->addWidget(GroupBox10, 3);
        v->addLayout(boxes);
    }
    right->addWidget(GroupBox4);
    right->addStretch(1);

    // Send / receive buffers
    {
        auto *g = new QGridLayout;
        Edit8 = makeEdit(this, "Edit8", QString());
        Memo10 = new QPlainTextEdit(this);
        Memo10->setObjectName(QStringLiteral("Memo10"));
        Memo10->setLineWrapMode(QPlainTextEdit::NoWrap);
        Memo10->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo10->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo10->setMinimumHeight(48);
        Button26 = makeButton(this, "Button26", QStringLiteral("  Clear Buffer   "));
        g->addWidget(caption(QStringLiteral("Send Buffer:"), this), 0, 0);
        g->addWidget(Edit8, 0, 1);
        g->addWidget(caption(QStringLiteral("Receive Buffer:"), this), 1, 0, Qt::AlignTop);
        g->addWidget(Memo10, 1, 1);
        g->addWidget(Button26, 1, 2, Qt::AlignTop);
        g->setColumnStretch(1, 1);
        root->addLayout(g);
    }

    // Button handlers are named after their buttons.
    const std::pair<QPushButton *, void (TForm1::*)()> wiring[] = {
        {Button1, &TForm1::Button1Click},   {Button26, &TForm1::Button26Click},
        {Button6, &TForm1::Button6Click},   {Button23, &TForm1::Button23Click},
        {Button2, &TForm1::Button2Click},   {Button29, &TForm1::Button29Click},
        {Button9, &TForm1::Button9Click},   {Button3, &TForm1::Button3Click},
        {Button24, &TForm1::Button24Click}, {Button4, &TForm1::Button4Click},
        {Button5, &TForm1::Button5Click},   {Button13, &TForm1::Button13Click},
        {Button14, &TForm1::Button14Click}, {Button10, &TForm1::Button10Click},
        {Button8, &TForm1::Button8Click},   {Button11, &TForm1::Button11Click},
        {Button12, &TForm1::Button12Click}, {Button30, &TForm1::Button30Click},
        {Button53, &TForm1::Button53Click}, {Button7, &TForm1::Button7Click},
        {Button16, &TForm1::Button16Click}, {Button20, &TForm1::Button20Click},
    };
    for (const auto &[button, handler] : wiring)
        connect(button, &QPushButton::clicked, this, handler);

    Monitor = new TrafficMonitor(this);
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate()
{
    Button6->setEnabled(true);
    GroupBox1->setEnabled(true);
    Button1->setEnabled(true);
    Timer2->SetEnabled(false);
    Timer3->SetEnabled(false);
    CHXINGHAO->hide();
    Button14->hide();
}

void TForm1::closeEvent(QCloseEvent *e)
{
    // Leave the port free for the next program.
    if (Comm1->IsOpen())
        Comm1->ClosePort();
    PortIsOpen = false;
    QWidget::closeEvent(e);
}

void TForm1::showMessage(const QString &text)
{
    if (Monitor)
        Monitor->error(text);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("NX260-HGW"), text, QMessageBox::Ok, this);
    box.exec();
}

std::optional<int32_t> TForm1::toInt(const QString &text)
{
    const std::string s = text.toStdString();
    auto v = exchange::strictToInt(s);
    if (!v)
        showMessage(QString::fromStdString(exchange::notAnIntegerMessage(s)));
    return v;
}

std::optional<int> TForm1::threeDigit(const QLineEdit *box, const QString &field)
{
    auto v = toInt(box->text());
    if (!v)
        return std::nullopt;
    if (*v < 0 || *v > exchange::kThreeDigitMax) {
        showMessage(QStringLiteral("%1 must be a number from 0 to %2.").arg(field).arg(exchange::kThreeDigitMax));
        return std::nullopt;
    }
    return *v;
}

std::optional<int> TForm1::selectedIndex(const QComboBox *box, const QString &field)
{
    const int i = box->currentIndex();
    if (i < 0) {
        showMessage(QStringLiteral("%1: no item is selected. Choose one and press Set again.").arg(field));
        return std::nullopt;
    }
    return i;
}

// ------------------------------------------------------------ port handling

void TForm1::Button1Click()
{
    if (PortIsOpen) {
        PortIsOpen = false;
        Button1->setText(QStringLiteral("Open"));
        Comm1->ClosePort();
        Monitor->portClosed();
        return;
    }
    Comm1->ClosePort();
    const QString baudText = ComboBox11->currentText();
    const auto baud = toInt(baudText);
    if (!baud)
        return;
    if (*baud <= 0) {
        showMessage(QStringLiteral("'%1' is not a valid baud rate").arg(baudText));
        return;
    }
    Comm1->SetBaudRate(static_cast<uint32_t>(*baud));
    const int parity = ComboBox10->currentIndex();
    Comm1->SetParity(static_cast<SerialComm::TParity>(parity < 0 ? 0 : parity));
    Comm1->SetCommName(SPREALCOM->currentText().toStdString());
    Comm1->SetOutx_XonXoffFlow(false);
    Comm1->SetInx_XonXoffFlow(false);
    try {
        Comm1->OpenPort();
    } catch (const SerialComm::ECommsError &e) {
        showMessage(openFailureText(e));
        return;
    }
    PortIsOpen = true;
    Button1->setText(QStringLiteral("Close"));
    Monitor->portOpened();
}

void TForm1::Comm1RequestHangup(SerialComm::TComm *)
{
    if (!Comm1->IsOpen())
        return;
    Comm1->ClosePort();
    PortIsOpen = false;
    Button1->setText(QStringLiteral("Open"));
    Monitor->portLost();
    showMessage(QStringLiteral("The serial port was lost (the device was unplugged or stopped responding). "
                               "It has been closed; check the connection and click Open."));
}

void TForm1::Button26Click()
{
    Memo10->clear();
}

void TForm1::Label4DblClick()
{
    CHXINGHAO->show();
    Button14->show();
}

// ------------------------------------------------------------- send paths

void TForm1::clearEchoAndMemo()
{
    Edit8->setText(QString());
    Memo10->clear();
}

void TForm1::sendConfig(const std::vector<uint8_t> &request, int32_t pending, int32_t timeoutKind)
{
    // The builders give nothing for a value they cannot encode: send nothing.
    const auto text = request.empty() ? std::nullopt : Exchange.compose(request);
    if (!text)
        return;
    Edit8->setText(latin1(*text));
    const bool written = Comm1->SendData(text->data(), static_cast<uint16_t>(text->size()));
    Monitor->sent(request.data(), request.size(), TrafficRow::Config, written);
    Exchange.pendingReply = pending;
    Exchange.timeoutKind = timeoutKind;
    // A full count for every request: time left over from an earlier one
    // would report a time-out before the gateway could answer this one.
    Timer3->Restart(exchange::kWatchdogIntervalMs);
}

void TForm1::sendHart(const std::vector<uint8_t> &frame, int32_t pending)
{
    const auto text = frame.empty() ? std::nullopt : Exchange.compose(frame);
    if (!text)
        return;
    Edit8->setText(QString::fromStdString(exchange::hexRender(frame)));
    const bool written = Comm1->SendData(text->data(), static_cast<uint16_t>(text->size()));
    Monitor->sent(frame.data(), frame.size(), TrafficRow::Hart, written);
    Timer3->Restart(exchange::kWatchdogIntervalMs);
    Exchange.pendingReply = pending;
    Exchange.timeoutKind = exchange::TimeoutSilent;
}

// ------------------------------------------------- configuration requests

void TForm1::Button6Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::communicationQuery(), exchange::PendingCommQuery, exchange::TimeoutConnection);
}

void TForm1::Button23Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::systemParameterQuery(), exchange::PendingSystemParams, exchange::TimeoutBang);
}

void TForm1::Button2Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::instrumentQuery(), exchange::PendingInstruments, exchange::TimeoutBang);
}

void TForm1::Button29Click()
{
    clearEchoAndMemo();
    const auto n = threeDigit(Edit14, QStringLiteral("MODBUS Slave Address"));
    if (!n)
        return;
    sendConfig(exchange::setSlaveAddress(*n), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::sendRs485(char port, const QComboBox *baud, const QComboBox *parity)
{
    clearEchoAndMemo();
    const auto b = selectedIndex(baud, QStringLiteral("RS485%1 Baud Rate").arg(port));
    if (!b)
        return;
    const auto p = selectedIndex(parity, QStringLiteral("RS485%1 Parity Bit").arg(port));
    if (!p)
        return;
    sendConfig(exchange::setRs485(port, *b, *p), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::Button9Click() { sendRs485('A', BOA, JIAOA); }
void TForm1::Button3Click() { sendRs485('B', BOB, JIAOB); }

void TForm1::Button24Click()
{
    clearEchoAndMemo();
    const auto m = selectedIndex(MODEL, QStringLiteral("Communication Mode"));
    if (!m)
        return;
    sendConfig(exchange::setCommunicationMode(*m), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::sendDataReturnTime(char port, const QComboBox *box)
{
    clearEchoAndMemo();
    const auto r = selectedIndex(box, QStringLiteral("RS485%1 data return time").arg(port));
    if (!r)
        return;
    sendConfig(exchange::setDataReturnTime(port, *r), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::Button4Click() { sendDataReturnTime('A', DTMA); }
void TForm1::Button5Click() { sendDataReturnTime('B', DTMB); }

void TForm1::Button13Click()
{
    clearEchoAndMemo();
    const auto n = threeDigit(RTD, QStringLiteral("Communication Interval"));
    if (!n)
        return;
    sendConfig(exchange::setCommunicationInterval(*n), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::Button14Click()
{
    clearEchoAndMemo();
    const auto c = selectedIndex(CHXINGHAO, QStringLiteral("Channel model"));
    if (!c)
        return;
    sendConfig(exchange::setChannelModel(*c), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::sendInstrument(int row)
{
    clearEchoAndMemo();
    const int i = row - 1;
    const QString n = QString::number(row);
    const auto s = selectedIndex(SBZHU[i], QStringLiteral("Instrument %1 Device Mode").arg(n));
    if (!s)
        return;
    const auto t = selectedIndex(NEIXING[i], QStringLiteral("Instrument %1 Instrument Type").arg(n));
    if (!t)
        return;
    const auto q = selectedIndex(QIADF[i], QStringLiteral("Instrument %1 Length").arg(n));
    if (!q)
        return;
    const auto d = threeDigit(DTM[i], QStringLiteral("Instrument %1 Comm Count").arg(n));
    if (!d)
        return;
    sendConfig(exchange::setInstrument(row, *s, *t, *q, *d), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::Button10Click() { sendInstrument(1); }
void TForm1::Button8Click() { sendInstrument(2); }
void TForm1::Button11Click() { sendInstrument(3); }
void TForm1::Button12Click() { sendInstrument(4); }

void TForm1::Button30Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::parameterInitialization(), exchange::PendingAck, exchange::TimeoutSilent);
}

void TForm1::Button53Click()
{
    const auto serial = toInt(PCBSN->text());
    if (!serial)
        return;
    if (*serial < 0 || *serial > exchange::kSerialMax) {
        showMessage(QStringLiteral("PCBSN must be a number from 0 to %1.").arg(exchange::kSerialMax));
        return;
    }
    const auto inspector = toInt(JIANZHI->currentText());
    if (!inspector)
        return;
    if (*inspector < 0 || *inspector > exchange::kInspectorMax) {
        showMessage(QStringLiteral("Inspector must be a number from 0 to %1.").arg(exchange::kInspectorMax));
        return;
    }
    const std::string text = exchange::factorySerialRequest(*serial, *inspector);
    Edit8->setText(latin1(text));
    Exchange.pendingReply = exchange::PendingAck;
    Memo10->clear();
    const bool written = Comm1->SendData(text.data(), static_cast<uint16_t>(text.size()));
    Monitor->sent(reinterpret_cast<const uint8_t *>(text.data()), text.size(), TrafficRow::Config, written);
}

// ------------------------------------------------------------ HART requests

std::optional<int> TForm1::preambles(int overhead)
{
    const auto p = toInt(Edit9->text());
    if (!p)
        return std::nullopt;
    const int max = hart::kFrameArea - overhead;
    if (*p < 0 || *p > max) {
        showMessage(QStringLiteral("Preamble Length must be a number from 0 to %1.").arg(max));
        return std::nullopt;
    }
    return *p;
}

uint8_t TForm1::hartAddressIndex() const
{
    return static_cast<uint8_t>(std::max(0, ComboBox30->currentIndex()));
}

bool TForm1::hartMasterMode() const
{
    return ComboBox42->currentIndex() != 1;
}

void TForm1::clearIdentityBoxes()
{
    Edit28->clear();
    Edit29->clear();
    Edit31->clear();
    Edit32->clear();
}

void TForm1::Button7Click()
{
    clearEchoAndMemo();
    clearIdentityBoxes();
    const auto p = preambles(hart::kCommand0Overhead);
    if (!p)
        return;
    sendHart(hart::command0Frame(hartAddressIndex(), hartMasterMode(), *p), exchange::PendingHartCommand0);
}

void TForm1::Button16Click()
{
    clearEchoAndMemo();
    Edit25->clear();
    Edit26->clear();
    Edit27->clear();
    Edit30->clear();
    const auto p = preambles(hart::kCommand3Overhead);
    if (!p)
        return;
    hart::Identity id;
    id.manufacturerId = Exchange.manufacturerId;
    id.deviceType = Exchange.buffer[exchange::kDeviceTypeIndex];
    id.deviceId = {Exchange.buffer[0], Exchange.buffer[1], Exchange.buffer[2]};
    sendHart(hart::command3Frame(hartAddressIndex(), hartMasterMode(), id, *p), exchange::PendingHartCommand3);
}

void TForm1::Button20Click()
{
    clearEchoAndMemo();
    const hart::ManualEntry entry = hart::parseManualEntry(Edit10->text().toLatin1().toStdString());
    switch (entry.status) {
    case hart::ManualEntry::NoSpack:
        showMessage(QStringLiteral("NO SPACK"));
        return;
    case hart::ManualEntry::DataError:
        showMessage(QStringLiteral("Data eeore!"));
        return;
    case hart::ManualEntry::ConversionError:
        showMessage(QString::fromStdString(exchange::notAnIntegerMessage(entry.badText)));
        return;
    case hart::ManualEntry::TooManyBytes:
        showMessage(QStringLiteral("At most 15 bytes can be sent by hand."));
        return;
    case hart::ManualEntry::LoneCharacter:
        showMessage(QStringLiteral("Each byte needs two hex digits."));
        return;
    case hart::ManualEntry::Ok:
        break;
    }
    const auto p = preambles(int(entry.bytes.size()) + 1);
    if (!p)
        return;
    sendHart(hart::manualFrame(entry.bytes, *p), exchange::PendingHartManual);
}

// ------------------------------------------------------------ receive path

void TForm1::Comm1ReceiveData(SerialComm::TComm *, const uint8_t *Buffer, uint16_t BufferLength)
{
    Monitor->received(Buffer, BufferLength);
    // Let the rest of a reply arrive; later chunks queue meanwhile.
    if (m_receivePauseMs > 0)
        QThread::msleep(static_cast<unsigned long>(m_receivePauseMs));
    const exchange::ReceivePlan plan = Exchange.receive(Buffer, BufferLength);
    Memo10->setPlainText(plan.memoIsHex ? QString::fromStdString(plan.memoText) : latin1(plan.memoText));
    if (plan.decodeTimer == exchange::ReceivePlan::Timer::Enable)
        Timer2->SetEnabled(true);
    else if (plan.decodeTimer == exchange::ReceivePlan::Timer::Disable)
        Timer2->SetEnabled(false);
    if (plan.stopWatchdog)
        Timer3->SetEnabled(false);
}

void TForm1::Timer2Timer()
{
    Timer2->SetEnabled(false);
    switch (exchange::decodeBranch(Exchange.pendingReply)) {
    case exchange::DecodeBranch::HartCommand0: decodeHartCommand0(); break;
    case exchange::DecodeBranch::HartCommand3: decodeHartCommand3(); break;
    case exchange::DecodeBranch::SystemParams: decodeConfig(false); break;
    case exchange::DecodeBranch::Instruments: decodeConfig(true); break;
    case exchange::DecodeBranch::None: break;
    }
}

void TForm1::Timer3Timer()
{
    Timer3->SetEnabled(false);
    if (const auto msg = exchange::watchdogMessage(Exchange.timeoutKind))
        showMessage(QString::fromStdString(*msg));
}

void TForm1::decodeHartCommand0()
{
    Exchange.pendingReply = exchange::PendingNone;
    Timer3->SetEnabled(false);
    const auto rx = Exchange.received();
    Monitor->hartDecoded(0, rx.data(), rx.size());
    const auto info = hart::decodeCommand0(rx.data(), rx.size());
    if (!info) {
        clearIdentityBoxes();
        return;
    }
    Exchange.manufacturerId = info->identity.manufacturerId;
    Exchange.buffer[exchange::kDeviceTypeIndex] = info->identity.deviceType;
    Exchange.hartPreambleCount = info->preambleCount;
    for (size_t i = 0; i < 3; ++i)
        Exchange.buffer[i] = info->identity.deviceId[i];
    Edit28->setText(QString::number(info->identity.manufacturerId));
    Edit29->setText(QString::number(info->identity.deviceType));
    Edit31->setText(QString::number(info->preambleCount));
    Edit32->setText(QString::number(info->deviceIdNumber));
}

void TForm1::decodeHartCommand3()
{
    Exchange.pendingReply = exchange::PendingNone;
    Timer3->SetEnabled(false);
    const auto rx = Exchange.received();
    Monitor->hartDecoded(3, rx.data(), rx.size());
    const hart::Command3Info info = hart::decodeCommand3(rx.data(), rx.size());
    QLineEdit *values[4] = {Edit25, Edit26, Edit27, Edit30};
    QComboBox *units[4] = {ComboBox3, ComboBox31, ComboBox32, ComboBox33};
    for (const hart::Variable &v : info.variables) {
        if (v.number < 1 || v.number > 4)
            continue;
        values[v.number - 1]->setText(QString::fromStdString(v.valueText));
        units[v.number - 1]->setCurrentIndex(v.unitIndex);
    }
}

namespace {

// A decoded index selects its item; one outside the list leaves no selection.
void selectDecoded(QComboBox *box, const std::optional<int> &index, int bias = 0)
{
    if (!index)
        return;
    const int i = *index - bias;
    box->setCurrentIndex(i >= 0 && i < box->count() ? i : -1);
}

void showDecoded(QLineEdit *edit, const std::optional<std::string> &text)
{
    if (text)
        edit->setText(latin1(*text));
}

} // namespace

void TForm1::decodeConfig(bool instruments)
{
    Exchange.pendingReply = exchange::PendingNone;
    Exchange.timeoutKind = exchange::TimeoutNone;
    // The decoders stop at a conversion error; what they decoded before it
    // is still applied, then the error is shown.
    std::optional<std::string> error;
    if (instruments) {
        const exchange::InstrumentReply reply = exchange::decodeInstrumentTable(Exchange.receivedText);
        for (size_t i = 0; i < reply.rows.size(); ++i) {
            const exchange::InstrumentSettings &row = reply.rows[i];
            selectDecoded(SBZHU[i], row.mode);
            selectDecoded(NEIXING[i], row.type);
            selectDecoded(QIADF[i], row.preambles, exchange::kPreamblesMin);
            showDecoded(DTM[i], reply.intervalText[i]);
        }
        error = reply.error;
    } else {
        const exchange::SystemReply reply = exchange::decodeSystemParameters(Exchange.receivedText);
        const exchange::SystemSettings &s = reply.settings;
        selectDecoded(MODEL, s.mode);
        showDecoded(Edit14, reply.addressText);
        selectDecoded(BOA, s.rs485a.baud);
        selectDecoded(JIAOA, s.rs485a.parity);
        selectDecoded(BOB, s.rs485b.baud);
        selectDecoded(JIAOB, s.rs485b.parity);
        selectDecoded(DTMA, s.rs485a.returnTime);
        selectDecoded(DTMB, s.rs485b.returnTime);
        showDecoded(RTD, reply.intervalText);
        error = reply.error;
    }
    if (error)
        showMessage(latin1(*error));
    Exchange.pendingReply = exchange::PendingNone;
}
