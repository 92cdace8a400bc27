// SPDX-License-Identifier: GPL-3.0-or-later
// The form's layout: every control with its caption, items and default, in
// two columns as on the form.
#include "FormControls.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "Captions.h"
#include "HartReplies.h"
#include "Settings.h"
#include "Widgets.h"

namespace {

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

QPushButton *makeButton(QWidget *parent, const char *name, const char *caption)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    captions::set(b, caption);
    return b;
}

QGroupBox *makeGroup(QWidget *parent, const char *name, const char *title)
{
    auto *g = new QGroupBox(parent);
    g->setObjectName(QString::fromLatin1(name));
    if (title)
        captions::set(g, title);
    return g;
}

QLabel *caption(const char *text, QWidget *parent, const QString &arg = {})
{
    auto *l = new QLabel(parent);
    captions::set(l, text, arg);
    return l;
}

template <size_t N>
QStringList items(const std::array<std::string_view, N> &list)
{
    QStringList out;
    for (std::string_view s : list)
        out << QString::fromUtf8(s.data(), qsizetype(s.size()));
    return out;
}

QStringList unitItems()
{
    QStringList out;
    for (const char *name : hart::kUnitNames)
        out << QString::fromUtf8(name);
    return out;
}

} // namespace

namespace {

// Builds the form one group at a time; the controls go into `ui`, each
// group is returned for the caller to place.
struct FormBuilder {
    QWidget *form;
    FormControls &ui;
    const QStringList baudItems = items(exchange::kBaudItems);
    const QStringList parityItems = items(exchange::kParityItems);
    // Short buttons ("Set", "Send", "Query") share one width, narrower than
    // the style's dialog-button minimum, so the rows fit the form's width.
    int shortButton = 0;

    QPushButton *compact(QPushButton *b) const
    {
        b->setFixedWidth(std::max(shortButton, b->fontMetrics().horizontalAdvance(b->text()) + 20));
        return b;
    }

    void menus(QVBoxLayout *root);
    QHBoxLayout *titleRow();
    QGroupBox *serialGroup();
    QHBoxLayout *queryButtons();
    QGroupBox *systemGroup();
    QGroupBox *rs485Group(QWidget *parent);
    QGroupBox *instrumentGroup();
    QGroupBox *factoryGroup();
    QGroupBox *transparentGroup();
    QGroupBox *hartBasicGroup(QWidget *parent);
    QGroupBox *hartValuesGroup(QWidget *parent);
    QGridLayout *buffers(); // send and receive buffers
};

void FormBuilder::menus(QVBoxLayout *root)
{
    ui.MenuBar = new QMenuBar(form);
    ui.MenuBar->setObjectName(QStringLiteral("MenuBar"));
    root->setMenuBar(ui.MenuBar);
    ui.FileMenu = ui.MenuBar->addMenu(QString());
    captions::set(ui.FileMenu, QT_TRANSLATE_NOOP("Window", "&File"));
    ui.FileMenu->setObjectName(QStringLiteral("FileMenu"));
    ui.QuitAction = ui.FileMenu->addAction(QString(), QKeySequence::Quit, form, &QWidget::close);
    captions::set(ui.QuitAction, QT_TRANSLATE_NOOP("Window", "&Quit"));
    ui.QuitAction->setObjectName(QStringLiteral("QuitAction"));
}

QHBoxLayout *FormBuilder::titleRow()
{
    auto *title = new QHBoxLayout;
    ui.Label41 = caption(QT_TRANSLATE_NOOP("Window", "NX260-HGW Configuration Software"), form);
    ui.Label41->setObjectName(QStringLiteral("Label41"));
    QFont tf(QStringLiteral("Segoe UI"));
    tf.setBold(true);
    tf.setPointSizeF(form->font().pointSizeF() * 1.8);
    ui.Label41->setFont(tf);
    ui.Label9 = new QLabel(QStringLiteral("2025-08-07"), form); // a date reads the same everywhere
    ui.Label9->setObjectName(QStringLiteral("Label9"));
    ui.Label5 = caption(QT_TRANSLATE_NOOP("Window", "E-mail: support@example.com"), form);
    ui.Label5->setObjectName(QStringLiteral("Label5"));
    ui.Label18 = caption(QT_TRANSLATE_NOOP("Window", "Tel: +00 000 0000 0000"), form);
    ui.Label18->setObjectName(QStringLiteral("Label18"));
    ui.Label19 = caption(QT_TRANSLATE_NOOP("Window", "Web: www.example.com"), form);
    ui.Label19->setObjectName(QStringLiteral("Label19"));
    title->addWidget(ui.Label41, 0, Qt::AlignVCenter);
    title->addSpacing(8);
    title->addWidget(ui.Label9, 0, Qt::AlignVCenter);
    title->addStretch(1);
    // The maker's contacts on one line keep the title row low.
    title->addWidget(ui.Label5, 0, Qt::AlignVCenter);
    title->addSpacing(14);
    title->addWidget(ui.Label18, 0, Qt::AlignVCenter);
    title->addSpacing(14);
    title->addWidget(ui.Label19, 0, Qt::AlignVCenter);
    return title;
}

QGroupBox *FormBuilder::serialGroup()
{
    ui.GroupBox1 = makeGroup(form, "GroupBox1", QT_TRANSLATE_NOOP("Window", "Serial Parameters"));
    auto *g = new QGridLayout(ui.GroupBox1);
    QStringList ports;
    for (int i = 1; i <= 12; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    ui.SPREALCOM = new PortComboBox(ui.GroupBox1);
    ui.SPREALCOM->setObjectName(QStringLiteral("SPREALCOM"));
    ui.SPREALCOM->setEditable(true);
    ui.SPREALCOM->addItems(ports);
    ui.SPREALCOM->setCurrentIndex(3);
    ui.SPREALCOM->setInsertPolicy(QComboBox::NoInsert);
    ui.ComboBox11 = makeCombo(ui.GroupBox1, "ComboBox11", baudItems, 3, true);
    ui.ComboBox11->setInsertPolicy(QComboBox::NoInsert);
    ui.ComboBox10 = makeCombo(ui.GroupBox1, "ComboBox10", parityItems, 0);
    ui.Button1 = makeButton(ui.GroupBox1, "Button1", QT_TRANSLATE_NOOP("Window", "Open"));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Serial Port:"), ui.GroupBox1), 0, 0);
    g->addWidget(ui.SPREALCOM, 0, 1, 1, 2);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Baud Rate:"), ui.GroupBox1), 1, 0);
    g->addWidget(ui.ComboBox11, 1, 1, 1, 2);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Parity Bit:"), ui.GroupBox1), 2, 0);
    g->addWidget(ui.ComboBox10, 2, 1);
    g->addWidget(ui.Button1, 2, 2);
    g->setColumnStretch(1, 1);
    return ui.GroupBox1;
}

QHBoxLayout *FormBuilder::queryButtons()
{
    auto *h = new QHBoxLayout;
    ui.Button6 = makeButton(form, "Button6", QT_TRANSLATE_NOOP("Window", "Communication Query"));
    ui.Button30 = makeButton(form, "Button30", QT_TRANSLATE_NOOP("Window", "Parameter Initialization"));
    h->addWidget(ui.Button6, 1);
    h->addWidget(ui.Button30, 1);
    return h;
}

QGroupBox *FormBuilder::systemGroup()
{
    ui.GroupBox6 = makeGroup(form, "GroupBox6", QT_TRANSLATE_NOOP("Window", "System Parameters"));
    auto *g = new QGridLayout(ui.GroupBox6);
    int r = 0;
    ui.Edit14 = makeEdit(ui.GroupBox6, "Edit14", QString());
    ui.Button29 = compact(makeButton(ui.GroupBox6, "Button29", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "MODBUS Slave Address:"), ui.GroupBox6), r, 0);
    g->addWidget(ui.Edit14, r, 1, 1, 2);
    g->addWidget(ui.Button29, r++, 3);

    g->addWidget(rs485Group(ui.GroupBox6), r++, 0, 1, 4);

    ui.MODEL = makeCombo(ui.GroupBox6, "MODEL", items(exchange::kModeItems), 1);
    ui.Button24 = compact(makeButton(ui.GroupBox6, "Button24", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Communication Mode:"), ui.GroupBox6), r, 0);
    g->addWidget(ui.MODEL, r, 1, 1, 2);
    g->addWidget(ui.Button24, r++, 3);

    const QStringList dt = items(exchange::kReturnTimes);
    ui.DTMA = makeCombo(ui.GroupBox6, "DTMA", dt, 2);
    ui.DTMB = makeCombo(ui.GroupBox6, "DTMB", dt, 2);
    ui.Button4 = compact(makeButton(ui.GroupBox6, "Button4", QT_TRANSLATE_NOOP("Window", "Set")));
    ui.Button5 = compact(makeButton(ui.GroupBox6, "Button5", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "RS485A data return time:"), ui.GroupBox6), r, 0);
    g->addWidget(ui.DTMA, r, 1, 1, 2);
    g->addWidget(ui.Button4, r++, 3);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "RS485B data return time:"), ui.GroupBox6), r, 0);
    g->addWidget(ui.DTMB, r, 1, 1, 2);
    g->addWidget(ui.Button5, r++, 3);

    ui.RTD = makeEdit(ui.GroupBox6, "RTD", QStringLiteral("10"));
    ui.Button13 = compact(makeButton(ui.GroupBox6, "Button13", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Communication Interval:"), ui.GroupBox6), r, 0);
    g->addWidget(ui.RTD, r, 1);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "*100ms"), ui.GroupBox6), r, 2);
    g->addWidget(ui.Button13, r++, 3);

    ui.Label4 = new DoubleClickLabel(ui.GroupBox6);
    ui.Label4->setObjectName(QStringLiteral("Label4"));
    ui.Label4->setMinimumSize(60, 20);
    ui.CHXINGHAO = makeCombo(ui.GroupBox6, "CHXINGHAO", items(exchange::kChannelItems), 0);
    ui.Button14 = compact(makeButton(ui.GroupBox6, "Button14", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(ui.Label4, r, 0);
    g->addWidget(ui.CHXINGHAO, r, 1, 1, 2);
    g->addWidget(ui.Button14, r++, 3);

    ui.Button23 = makeButton(ui.GroupBox6, "Button23", QT_TRANSLATE_NOOP("Window", "System parameters "));
    g->addWidget(ui.Button23, r++, 0, 1, 4);
    g->setColumnStretch(1, 1);
    return ui.GroupBox6;
}

QGroupBox *FormBuilder::rs485Group(QWidget *parent)
{
    ui.GroupBox18 = makeGroup(parent, "GroupBox18", QT_TRANSLATE_NOOP("Window", "RS485 Serial Port Parameters"));
    auto *h = new QGridLayout(ui.GroupBox18);
    ui.BOA = makeCombo(ui.GroupBox18, "BOA", baudItems, 3);
    ui.BOB = makeCombo(ui.GroupBox18, "BOB", baudItems, 3);
    ui.JIAOA = makeCombo(ui.GroupBox18, "JIAOA", parityItems, 0);
    ui.JIAOB = makeCombo(ui.GroupBox18, "JIAOB", parityItems, 0);
    ui.Button9 = compact(makeButton(ui.GroupBox18, "Button9", QT_TRANSLATE_NOOP("Window", "Set")));
    ui.Button3 = compact(makeButton(ui.GroupBox18, "Button3", QT_TRANSLATE_NOOP("Window", "Set")));
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Baud Rate"), ui.GroupBox18), 0, 1);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Parity Bit"), ui.GroupBox18), 0, 2);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "RS485A:"), ui.GroupBox18), 1, 0);
    h->addWidget(ui.BOA, 1, 1);
    h->addWidget(ui.JIAOA, 1, 2);
    h->addWidget(ui.Button9, 1, 3);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "RS485B:"), ui.GroupBox18), 2, 0);
    h->addWidget(ui.BOB, 2, 1);
    h->addWidget(ui.JIAOB, 2, 2);
    h->addWidget(ui.Button3, 2, 3);
    h->setColumnStretch(1, 1);
    h->setColumnStretch(2, 1);
    return ui.GroupBox18;
}

QGroupBox *FormBuilder::instrumentGroup()
{
    ui.GroupBox3 = makeGroup(form, "GroupBox3", nullptr);
    auto *g = new QGridLayout(ui.GroupBox3);
    g->setVerticalSpacing(4);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Device Mode"), ui.GroupBox3), 0, 1);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Instrument Type"), ui.GroupBox3), 0, 2);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Length"), ui.GroupBox3), 0, 3);
    // The header may reach over the Set column: the counts are 3 digits.
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Comm Count"), ui.GroupBox3), 0, 4, 1, 2);
    const char *btnNames[4] = {"Button10", "Button8", "Button11", "Button12"};
    QPushButton **btns[4] = {&ui.Button10, &ui.Button8, &ui.Button11, &ui.Button12};
    for (int i = 0; i < 4; ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        ui.SBZHU[i] = makeCombo(ui.GroupBox3, ("SBZHU" + n).constData(), items(exchange::kDeviceModeItems), 1);
        ui.NEIXING[i] = makeCombo(ui.GroupBox3, ("NEIXING" + n).constData(), items(exchange::kInstrumentTypeItems), 0);
        ui.QIADF[i] = makeCombo(ui.GroupBox3, ("QIADF" + n).constData(), items(exchange::kPreambleItems), 4);
        ui.DTM[i] = makeEdit(ui.GroupBox3, ("DTM" + n).constData(), QStringLiteral("60"));
        ui.DTM[i]->setFixedWidth(form->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
        *btns[i] = compact(makeButton(ui.GroupBox3, btnNames[i], QT_TRANSLATE_NOOP("Window", "Set")));
        g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Instrument Number %1:"), ui.GroupBox3, QString::number(i + 1)), i + 1, 0);
        g->addWidget(ui.SBZHU[i], i + 1, 1);
        g->addWidget(ui.NEIXING[i], i + 1, 2);
        g->addWidget(ui.QIADF[i], i + 1, 3);
        g->addWidget(ui.DTM[i], i + 1, 4);
        g->addWidget(*btns[i], i + 1, 5);
    }
    ui.Button2 = compact(makeButton(ui.GroupBox3, "Button2", QT_TRANSLATE_NOOP("Window", "Query")));
    g->addWidget(ui.Button2, 5, 5);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(2, 1);
    return ui.GroupBox3;
}

QGroupBox *FormBuilder::factoryGroup()
{
    ui.FactoryGroup = makeGroup(form, "FactoryGroup", nullptr);
    auto *g = new QHBoxLayout(ui.FactoryGroup);
    ui.PCBSN = makeEdit(ui.FactoryGroup, "PCBSN", QStringLiteral("00000000"));
    ui.PCBSN->setMaximumWidth(form->fontMetrics().horizontalAdvance(QStringLiteral("000000000000")) + 12);
    ui.JIANZHI = makeCombo(ui.FactoryGroup, "JIANZHI",
                           {"001", "002", "003", "004", "005", "006", "006", "008", "009", "101", "102", "103", "104"}, 0);
    ui.Button53 = compact(makeButton(ui.FactoryGroup, "Button53", QT_TRANSLATE_NOOP("Window", "Set")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "PCBSN:"), ui.FactoryGroup));
    g->addWidget(ui.PCBSN, 1);
    g->addSpacing(12);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Inspector:"), ui.FactoryGroup));
    g->addWidget(ui.JIANZHI);
    g->addStretch(1);
    g->addWidget(ui.Button53);
    return ui.FactoryGroup;
}

QGroupBox *FormBuilder::transparentGroup()
{
    ui.GroupBox4 = makeGroup(form, "GroupBox4", QT_TRANSLATE_NOOP("Window", "Transparent Transmission Mode"));
    auto *v = new QVBoxLayout(ui.GroupBox4);
    auto *g = new QGridLayout;
    QStringList addrs;
    for (int i = 1; i <= 32; ++i)
        addrs << QString::number(i);
    ui.ComboBox30 = makeCombo(ui.GroupBox4, "ComboBox30", addrs, 0);
    ui.ComboBox42 = makeCombo(ui.GroupBox4, "ComboBox42", {"Master Mode", "Secondary Master Mode"}, 0);
    ui.Edit9 = makeEdit(ui.GroupBox4, "Edit9", QStringLiteral("6"));
    ui.Edit10 = makeEdit(ui.GroupBox4, "Edit10", QString());
    ui.Button20 = compact(makeButton(ui.GroupBox4, "Button20", QT_TRANSLATE_NOOP("Window", "Send")));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "HART Address:"), ui.GroupBox4), 0, 0);
    g->addWidget(ui.ComboBox30, 0, 1);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Preamble Length:"), ui.GroupBox4), 0, 3);
    g->addWidget(ui.Edit9, 0, 4, 1, 2);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "HART Command Mode:"), ui.GroupBox4), 1, 0);
    g->addWidget(ui.ComboBox42, 1, 1);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Manual HART Command:"), ui.GroupBox4), 2, 0);
    g->addWidget(ui.Edit10, 2, 1, 1, 4);
    g->addWidget(ui.Button20, 2, 5);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "  HEX (76 89 FD AD)"), ui.GroupBox4), 3, 1, 1, 4);
    g->setColumnMinimumWidth(2, 12);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(4, 1);
    v->addLayout(g);

    auto *boxes = new QHBoxLayout;
    boxes->addWidget(hartBasicGroup(ui.GroupBox4), 2);
    boxes->addWidget(hartValuesGroup(ui.GroupBox4), 3);
    v->addLayout(boxes);
    return ui.GroupBox4;
}

QGroupBox *FormBuilder::hartBasicGroup(QWidget *parent)
{
    ui.GroupBox8 = makeGroup(parent, "GroupBox8", QT_TRANSLATE_NOOP("Window", "HART Device Basic Parameters"));
    auto *h = new QGridLayout(ui.GroupBox8);
    ui.Edit28 = makeEdit(ui.GroupBox8, "Edit28", QString());
    ui.Edit29 = makeEdit(ui.GroupBox8, "Edit29", QString());
    ui.Edit31 = makeEdit(ui.GroupBox8, "Edit31", QString());
    ui.Edit32 = makeEdit(ui.GroupBox8, "Edit32", QString());
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Manufacturing ID:"), ui.GroupBox8), 0, 0);
    h->addWidget(ui.Edit28, 0, 1);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Sensor Type:"), ui.GroupBox8), 1, 0);
    h->addWidget(ui.Edit29, 1, 1);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Preamble Byte Count:"), ui.GroupBox8), 2, 0);
    h->addWidget(ui.Edit31, 2, 1);
    h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Sensor Serial Number:"), ui.GroupBox8), 3, 0);
    h->addWidget(ui.Edit32, 3, 1);
    ui.Button7 = makeButton(ui.GroupBox8, "Button7", QT_TRANSLATE_NOOP("Window", "HART Device Parameter Query"));
    h->addWidget(ui.Button7, 4, 0, 1, 2);
    h->setColumnStretch(1, 1);
    return ui.GroupBox8;
}

QGroupBox *FormBuilder::hartValuesGroup(QWidget *parent)
{
    ui.GroupBox10 = makeGroup(parent, "GroupBox10", QT_TRANSLATE_NOOP("Window", "Universal HART Real-Time Data"));
    auto *h = new QGridLayout(ui.GroupBox10);
    ui.HartValuesGrid = h;
    const QStringList units = unitItems();
    ui.Edit25 = makeEdit(ui.GroupBox10, "Edit25", QString());
    ui.Edit26 = makeEdit(ui.GroupBox10, "Edit26", QString());
    ui.Edit27 = makeEdit(ui.GroupBox10, "Edit27", QString());
    ui.Edit30 = makeEdit(ui.GroupBox10, "Edit30", QString());
    ui.ComboBox3 = makeCombo(ui.GroupBox10, "ComboBox3", units, 0);
    ui.ComboBox31 = makeCombo(ui.GroupBox10, "ComboBox31", units, 0);
    ui.ComboBox32 = makeCombo(ui.GroupBox10, "ComboBox32", units, 0);
    ui.ComboBox33 = makeCombo(ui.GroupBox10, "ComboBox33", units, 0);
    QLineEdit *vals[4] = {ui.Edit25, ui.Edit26, ui.Edit27, ui.Edit30};
    QComboBox *unitBoxes[4] = {ui.ComboBox3, ui.ComboBox31, ui.ComboBox32, ui.ComboBox33};
    // A value must be readable whole; a unit box shows its longest
    // name in the drop-down list, not by taking the values' width.
    const int valueWidth = ui.Edit25->fontMetrics().horizontalAdvance(QStringLiteral("-00000.0000")) + 12;
    for (int i = 0; i < 4; ++i) {
        vals[i]->setMinimumWidth(valueWidth);
        unitBoxes[i]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        unitBoxes[i]->setMinimumContentsLength(8);
        h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Current_Variable_%1:"), ui.GroupBox10, QString::number(i + 1)), i, 0);
        h->addWidget(vals[i], i, 1);
        h->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Unit:"), ui.GroupBox10), i, 2);
        h->addWidget(unitBoxes[i], i, 3);
    }
    ui.Button16 = makeButton(ui.GroupBox10, "Button16", QT_TRANSLATE_NOOP("Window", "HART Command Query  "));
    h->addWidget(ui.Button16, 4, 0, 1, 4);
    h->setColumnStretch(1, 1);
    return ui.GroupBox10;
}

QGridLayout *FormBuilder::buffers()
{
    auto *g = new QGridLayout;
    ui.Edit8 = makeEdit(form, "Edit8", QString());
    ui.Memo10 = new QPlainTextEdit(form);
    ui.Memo10->setObjectName(QStringLiteral("Memo10"));
    ui.Memo10->setLineWrapMode(QPlainTextEdit::NoWrap);
    ui.Memo10->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui.Memo10->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui.Memo10->setMinimumHeight(48);
    ui.Button26 = makeButton(form, "Button26", QT_TRANSLATE_NOOP("Window", "  Clear Buffer   "));
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Send Buffer:"), form), 0, 0);
    g->addWidget(ui.Edit8, 0, 1);
    g->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Receive Buffer:"), form), 1, 0, Qt::AlignTop);
    g->addWidget(ui.Memo10, 1, 1);
    g->addWidget(ui.Button26, 1, 2, Qt::AlignTop);
    g->setColumnStretch(1, 1);
    return g;
}

} // namespace

void buildForm(QWidget *form, FormControls &ui)
{
    form->setObjectName(QStringLiteral("Form1"));
    // The product's name, the same in every language.
    form->setWindowTitle(QStringLiteral("NX260-HGW"));
    form->resize(1057, 720);
    QPalette pal = form->palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0)); // silver
    form->setPalette(pal);
    form->setAutoFillBackground(true);
    // The desktop's own GUI face, at the form's 8 pt so the groups fit the
    // form's size.
    QFont base = form->font();
    base.setPointSize(8);
    form->setFont(base);

    FormBuilder b{form, ui};
    b.shortButton = form->fontMetrics().horizontalAdvance(QStringLiteral("Query")) + 20;

    auto *root = new QVBoxLayout(form);
    ui.Root = root;
    root->setContentsMargins(6, 4, 6, 6);
    root->setSpacing(6);
    b.menus(root);
    root->addLayout(b.titleRow());

    // Two columns: the link and the gateway's own parameters on the left,
    // the instruments and transparent mode on the right.
    auto *columns = new QHBoxLayout;
    root->addLayout(columns, 1);
    auto *left = new QVBoxLayout;
    auto *right = new QVBoxLayout;
    columns->addLayout(left, 0);
    columns->addLayout(right, 1);
    left->addWidget(b.serialGroup());
    left->addLayout(b.queryButtons());
    left->addWidget(b.systemGroup());
    left->addStretch(1);
    right->addWidget(b.instrumentGroup());
    right->addWidget(b.factoryGroup());
    right->addWidget(b.transparentGroup());
    right->addStretch(1);
    root->addLayout(b.buffers());
}

void placeHartWatch(FormControls &ui, QWidget *loopCurrent, QWidget *status, QWidget *watch, QWidget *interval)
{
    QGridLayout *grid = ui.HartValuesGrid;
    QWidget *box = ui.GroupBox10;
    // The diagnostics take the query button's row, under the variables;
    // the button moves one row down with the watch controls beside it.
    const int buttonRow = 4;
    // Tighter rows keep the group as high as its neighbour was, so the form
    // keeps its size.
    grid->setVerticalSpacing(2);
    grid->removeWidget(ui.Button16);
    auto *current = new QHBoxLayout;
    current->addWidget(loopCurrent, 1);
    current->addWidget(caption(QT_TRANSLATE_NOOP("Window", "mA"), box));
    grid->addWidget(caption(QT_TRANSLATE_NOOP("Window", "Loop current:"), box), buttonRow, 0);
    grid->addLayout(current, buttonRow, 1);
    grid->addWidget(status, buttonRow, 2, 1, 2);
    auto *queryRow = new QHBoxLayout;
    queryRow->addWidget(ui.Button16, 1);
    queryRow->addWidget(watch);
    queryRow->addWidget(interval);
    grid->addLayout(queryRow, buttonRow + 1, 0, 1, 4);
}
