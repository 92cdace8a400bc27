// SPDX-License-Identifier: GPL-3.0-or-later
#include "NX260AB.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cstring>

#include "Captions.h"
#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "FormControls.h"
#include "HartReplies.h"
#include "PortReconnect.h"
#include "OpenHint.h"
#include "QtOwnerQueue.h"
#include "Remembered.h"
#include "SettingsControls.h"
#include "SettleQueue.h"
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

QString openFailureText(const SerialComm::ECommsError &e, const std::string &portName)
{
    QString text = QString::fromStdString(e.what());
    if (e.systemError() != 0)
        text += QStringLiteral("\n\n") + QString::fromStdString(e.reason());
    if (const std::string hint = SerialComm::openFailureHint(e, portName); !hint.empty())
        text += (e.systemError() != 0 ? QStringLiteral("\n") : QStringLiteral("\n\n")) + QString::fromStdString(hint);
    return text;
}

} // namespace

TForm1::TForm1(QWidget *parent, TForm1Options options) : QWidget(parent), ui(std::make_unique<FormControls>())
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

    m_settle = new SettleQueue(this, options.receivePauseMs,
                               [this](const std::vector<uint8_t> &chunk) { applyChunk(chunk); });
    // Chunks handed over before a timer fires are handled before it, and the
    // firing waits for any chunk still settling.
    auto drain = [this] { NotifyQueue->drain(); };
    auto gate = [this](std::function<void()> fire) { m_settle->run(std::move(fire)); };
    Timer2 = new TTimer(this, exchange::kDecodeDelayMs, [this] { Timer2Timer(); }, drain);
    Timer3 = new TTimer(this, exchange::kWatchdogDefaultMs, [this] { Timer3Timer(); }, drain);
    Timer2->SetGate(gate);
    Timer3->SetGate(gate);

    buildForm(this, *ui);
    m_memory = new Remembered(this);
    m_remember = options.rememberChoices;
    buildProfileActions();
    Monitor = new TrafficMonitor(this, ui->GroupBox10,
                                 {.port = {.name = [this] { return portName(); },
                                           .framing = [this] { return framing(); },
                                           .open = [this] { return PortIsOpen; }},
                                  .exchangeBusy = [this] { return exchangeBusy(); },
                                  // As the engineer's click on the query button.
                                  .readHartVariables = [this] {
                                      if (!m_hartIdentity)
                                          return false;
                                      ui->Button16->click();
                                      return true;
                                  }});
    HartWatch &watch = *Monitor->Watch;
    placeHartWatch(*ui, watch.loopCurrent(), watch.status(), watch.watchBox(), watch.interval());
    Monitor->addMenus(ui->MenuBar, ui->FileMenu, ui->QuitAction);
    Details = new HartDetails(this, *this);
    Details->attach(ui->Button7, Monitor->ViewMenu);
    ui->Root->addWidget(Monitor->area());
    ui->Root->addWidget(Monitor->statusBar());
    Reconnect = new PortReconnect(ui->GroupBox1, qobject_cast<QGridLayout *>(ui->GroupBox1->layout()),
                                  Monitor->statusBar(), [this](const QString &path) { return reopenPort(path); });
    wireControls();
    FormCreate();
    if (m_remember) {
        const QString note = m_memory->restore();
        if (!note.isEmpty())
            Monitor->error(note);
    }
}

TForm1::~TForm1()
{
    // Stop the threads before the handlers they post to go away.
    Comm1->ClosePort();
}

void TForm1::inTurn(void (TForm1::*handler)())
{
    m_settle->run([this, handler] { (this->*handler)(); });
}

void TForm1::wireControls()
{
    // Button handlers are named after their buttons; a click waits for a
    // chunk that arrived before it.
    const std::pair<QPushButton *, void (TForm1::*)()> wiring[] = {
        {ui->Button1, &TForm1::Button1Click},   {ui->Button26, &TForm1::Button26Click},
        {ui->Button6, &TForm1::Button6Click},   {ui->Button23, &TForm1::Button23Click},
        {ui->Button2, &TForm1::Button2Click},   {ui->Button29, &TForm1::Button29Click},
        {ui->Button9, &TForm1::Button9Click},   {ui->Button3, &TForm1::Button3Click},
        {ui->Button24, &TForm1::Button24Click}, {ui->Button4, &TForm1::Button4Click},
        {ui->Button5, &TForm1::Button5Click},   {ui->Button13, &TForm1::Button13Click},
        {ui->Button14, &TForm1::Button14Click}, {ui->Button10, &TForm1::Button10Click},
        {ui->Button8, &TForm1::Button8Click},   {ui->Button11, &TForm1::Button11Click},
        {ui->Button12, &TForm1::Button12Click}, {ui->Button30, &TForm1::Button30Click},
        {ui->Button53, &TForm1::Button53Click}, {ui->Button7, &TForm1::Button7Click},
        {ui->Button16, &TForm1::Button16Click}, {ui->Button20, &TForm1::Button20Click},
    };
    for (const auto &[button, handler] : wiring)
        connect(button, &QPushButton::clicked, this, [this, h = handler] { inTurn(h); });
    ui->Label4->onDoubleClick = [this] { inTurn(&TForm1::Label4DblClick); };
    connect(ui->SPREALCOM, &QComboBox::currentTextChanged, Monitor, &TrafficMonitor::portChoiceChanged);
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate()
{
    ui->Button6->setEnabled(true);
    ui->GroupBox1->setEnabled(true);
    ui->Button1->setEnabled(true);
    Timer2->SetEnabled(false);
    Timer3->SetEnabled(false);
    ui->CHXINGHAO->hide();
    ui->Button14->hide();
}

void TForm1::closeEvent(QCloseEvent *e)
{
    // Leave the port free for the next program.
    if (Comm1->IsOpen())
        Comm1->ClosePort();
    PortIsOpen = false;
    if (m_remember)
        m_memory->save();
    QWidget::closeEvent(e);
}

void TForm1::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::LanguageChange) {
        captions::retranslate(this);
        Monitor->retranslate();
    }
    QWidget::changeEvent(e);
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
        showMessage(tr("%1 must be a number from 0 to %2.").arg(field).arg(exchange::kThreeDigitMax));
        return std::nullopt;
    }
    return *v;
}

std::optional<int> TForm1::selectedIndex(const QComboBox *box, const QString &field)
{
    const int i = box->currentIndex();
    if (i < 0) {
        showMessage(tr("%1: no item is selected. Choose one and press Set again.").arg(field));
        return std::nullopt;
    }
    return i;
}

// ------------------------------------------------------------ port handling

void TForm1::Button1Click()
{
    Reconnect->stop();
    if (PortIsOpen) {
        PortIsOpen = false;
        captions::set(ui->Button1, QT_TRANSLATE_NOOP("Window", "Open"));
        Comm1->ClosePort();
        Monitor->portClosed();
        return;
    }
    // A device server is connected to on a worker first; this handler runs
    // again when that is done and the open takes the connection over.
    const QString name = ui->SPREALCOM->currentText();
    if (Reconnect->connectFirst(name, [this, name](int error) {
            if (error != 0)
                showMessage(openFailureText(SerialComm::ECommsError("Error opening serial port", error), name.toStdString()));
            else if (!PortIsOpen && ui->SPREALCOM->currentText() == name)
                inTurn(&TForm1::Button1Click);
        }))
        return;
    Comm1->ClosePort();
    const QString baudText = ui->ComboBox11->currentText();
    const auto baud = toInt(baudText);
    if (!baud)
        return;
    if (*baud <= 0) {
        showMessage(tr("'%1' is not a valid baud rate").arg(baudText));
        return;
    }
    Comm1->SetBaudRate(static_cast<uint32_t>(*baud));
    const int parity = ui->ComboBox10->currentIndex();
    Comm1->SetParity(static_cast<SerialComm::TParity>(parity < 0 ? 0 : parity));
    Comm1->SetCommName(ui->SPREALCOM->currentText().toStdString());
    Comm1->SetOutx_XonXoffFlow(false);
    Comm1->SetInx_XonXoffFlow(false);
    try {
        Comm1->OpenPort();
    } catch (const SerialComm::ECommsError &e) {
        showMessage(openFailureText(e, Comm1->CommName()));
        return;
    }
    sessionStarted();
    Reconnect->opened(ui->SPREALCOM->currentText());
    ui->SPREALCOM->remember(ui->SPREALCOM->currentText());
}

bool TForm1::reopenPort(const QString &path)
{
    Comm1->SetCommName(path.toStdString());
    try {
        Comm1->OpenPort();
    } catch (const SerialComm::ECommsError &) {
        return false;
    }
    // Whatever comes back under this name may be another gateway.
    sessionStarted();
    return true;
}

void TForm1::sessionStarted()
{
    PortIsOpen = true;
    // Nothing is known yet of the gateway on this port.
    m_systemRead = m_instrumentsRead = false;
    m_readingForSave = false;
    captions::set(ui->Button1, QT_TRANSLATE_NOOP("Window", "Close"));
    Monitor->portOpened();
}

void TForm1::Comm1RequestHangup(SerialComm::TComm *)
{
    // In turn: a chunk that came before the loss is still shown first.
    m_settle->run([this] {
        if (!Comm1->IsOpen())
            return;
        // The request in flight can get no reply now: said here, once, and
        // not again by its watchdog.
        const bool awaited = Timer3->Enabled();
        Timer3->SetEnabled(false);
        Comm1->ClosePort();
        PortIsOpen = false;
        captions::set(ui->Button1, QT_TRANSLATE_NOOP("Window", "Open"));
        Monitor->portLost();
        const bool waiting = Reconnect->lost();
        QString text = tr("The serial port was lost (the device was unplugged or stopped responding). ")
                       + (waiting ? tr("It will be opened again when the device returns.")
                                  : tr("It has been closed; check the connection and click Open."));
        if (awaited && !Exchange.requestName.empty())
            text += QStringLiteral("\n\n") + tr("%1 got no reply.").arg(QString::fromStdString(Exchange.requestName));
        if (waiting)
            Monitor->error(text); // no dialog: the port comes back by itself
        else
            showMessage(text);
    });
}

void TForm1::Button26Click()
{
    ui->Memo10->clear();
}

void TForm1::Label4DblClick()
{
    ui->CHXINGHAO->show();
    ui->Button14->show();
}

// ------------------------------------------------------------- send paths

void TForm1::clearEchoAndMemo()
{
    ui->Edit8->setText(QString());
    ui->Memo10->clear();
}

void TForm1::sendConfig(const std::vector<uint8_t> &request, int32_t pending, int32_t timeoutKind, const char *name)
{
    // The builders give nothing for a value they cannot encode: send nothing.
    const auto text = request.empty() ? std::nullopt : Exchange.compose(request);
    if (!text)
        return;
    ui->Edit8->setText(latin1(*text));
    const bool written = Comm1->SendData(text->data(), static_cast<uint16_t>(text->size()));
    Monitor->sent(request.data(), request.size(), TrafficRow::Config, written);
    Exchange.pendingReply = pending;
    Exchange.timeoutKind = timeoutKind;
    Exchange.requestName = name;
    if (pending == exchange::PendingAck)
        recordSet(name, request, written);
    // A full count for every request: time left over from an earlier one
    // would report a time-out before the gateway could answer this one.
    Timer3->Restart(exchange::kWatchdogIntervalMs);
}

void TForm1::sendHart(const std::vector<uint8_t> &frame, int32_t pending, const char *name)
{
    const auto text = frame.empty() ? std::nullopt : Exchange.compose(frame);
    if (!text)
        return;
    ui->Edit8->setText(QString::fromStdString(exchange::hexRender(frame)));
    const bool written = Comm1->SendData(text->data(), static_cast<uint16_t>(text->size()));
    Monitor->sent(frame.data(), frame.size(), TrafficRow::Hart, written);
    Timer3->Restart(exchange::kWatchdogIntervalMs);
    Exchange.pendingReply = pending;
    Exchange.timeoutKind = exchange::TimeoutSilent;
    Exchange.requestName = name;
}

// ------------------------------------------------- configuration requests

void TForm1::Button6Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::communicationQuery(), exchange::PendingCommQuery, exchange::TimeoutConnection,
               "Communication Query");
}

void TForm1::Button23Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::systemParameterQuery(), exchange::PendingSystemParams, exchange::TimeoutBang,
               "System parameters");
}

void TForm1::Button2Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::instrumentQuery(), exchange::PendingInstruments, exchange::TimeoutBang,
               "the instrument table Query");
}

void TForm1::Button29Click()
{
    clearEchoAndMemo();
    const auto n = threeDigit(ui->Edit14, QStringLiteral("MODBUS Slave Address"));
    if (!n)
        return;
    sendConfig(exchange::setSlaveAddress(*n), exchange::PendingAck, exchange::TimeoutSilent,
               "Set MODBUS Slave Address");
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
    sendConfig(exchange::setRs485(port, *b, *p), exchange::PendingAck, exchange::TimeoutSilent,
               port == 'A' ? "Set RS485A" : "Set RS485B");
}

void TForm1::Button9Click() { sendRs485('A', ui->BOA, ui->JIAOA); }
void TForm1::Button3Click() { sendRs485('B', ui->BOB, ui->JIAOB); }

void TForm1::Button24Click()
{
    clearEchoAndMemo();
    const auto m = selectedIndex(ui->MODEL, QStringLiteral("Communication Mode"));
    if (!m)
        return;
    sendConfig(exchange::setCommunicationMode(*m), exchange::PendingAck, exchange::TimeoutSilent,
               "Set Communication Mode");
}

void TForm1::sendDataReturnTime(char port, const QComboBox *box)
{
    clearEchoAndMemo();
    const auto r = selectedIndex(box, QStringLiteral("RS485%1 data return time").arg(port));
    if (!r)
        return;
    sendConfig(exchange::setDataReturnTime(port, *r), exchange::PendingAck, exchange::TimeoutSilent,
               port == 'A' ? "Set RS485A data return time" : "Set RS485B data return time");
}

void TForm1::Button4Click() { sendDataReturnTime('A', ui->DTMA); }
void TForm1::Button5Click() { sendDataReturnTime('B', ui->DTMB); }

void TForm1::Button13Click()
{
    clearEchoAndMemo();
    const auto n = threeDigit(ui->RTD, QStringLiteral("Communication Interval"));
    if (!n)
        return;
    sendConfig(exchange::setCommunicationInterval(*n), exchange::PendingAck, exchange::TimeoutSilent,
               "Set Communication Interval");
}

void TForm1::Button14Click()
{
    clearEchoAndMemo();
    const auto c = selectedIndex(ui->CHXINGHAO, QStringLiteral("Channel model"));
    if (!c)
        return;
    sendConfig(exchange::setChannelModel(*c), exchange::PendingAck, exchange::TimeoutSilent, "Set channel model");
}

void TForm1::sendInstrument(int row)
{
    static const char *const names[] = {"Set Instrument Number 1", "Set Instrument Number 2",
                                        "Set Instrument Number 3", "Set Instrument Number 4"};
    clearEchoAndMemo();
    const int i = row - 1;
    const QString n = QString::number(row);
    const auto s = selectedIndex(ui->SBZHU[i], QStringLiteral("Instrument %1 Device Mode").arg(n));
    if (!s)
        return;
    const auto t = selectedIndex(ui->NEIXING[i], QStringLiteral("Instrument %1 Instrument Type").arg(n));
    if (!t)
        return;
    const auto q = selectedIndex(ui->QIADF[i], QStringLiteral("Instrument %1 Length").arg(n));
    if (!q)
        return;
    const auto d = threeDigit(ui->DTM[i], QStringLiteral("Instrument %1 Comm Count").arg(n));
    if (!d)
        return;
    sendConfig(exchange::setInstrument(row, *s, *t, *q, *d), exchange::PendingAck, exchange::TimeoutSilent,
               names[i]);
}

void TForm1::Button10Click() { sendInstrument(1); }
void TForm1::Button8Click() { sendInstrument(2); }
void TForm1::Button11Click() { sendInstrument(3); }
void TForm1::Button12Click() { sendInstrument(4); }

void TForm1::Button30Click()
{
    clearEchoAndMemo();
    sendConfig(exchange::parameterInitialization(), exchange::PendingAck, exchange::TimeoutSilent,
               "Parameter Initialization");
}

void TForm1::Button53Click()
{
    const auto serial = toInt(ui->PCBSN->text());
    if (!serial)
        return;
    if (*serial < 0 || *serial > exchange::kSerialMax) {
        showMessage(tr("PCBSN must be a number from 0 to %1.").arg(exchange::kSerialMax));
        return;
    }
    const auto inspector = toInt(ui->JIANZHI->currentText());
    if (!inspector)
        return;
    if (*inspector < 0 || *inspector > exchange::kInspectorMax) {
        showMessage(tr("Inspector must be a number from 0 to %1.").arg(exchange::kInspectorMax));
        return;
    }
    const std::string text = exchange::factorySerialRequest(*serial, *inspector);
    // Composed like every request, so its reply is read as a new one.
    Exchange.compose({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
    ui->Edit8->setText(latin1(text));
    Exchange.pendingReply = exchange::PendingAck;
    Exchange.requestName = "Set PCBSN";
    ui->Memo10->clear();
    const bool written = Comm1->SendData(text.data(), static_cast<uint16_t>(text.size()));
    Monitor->sent(reinterpret_cast<const uint8_t *>(text.data()), text.size(), TrafficRow::Config, written);
}

// ------------------------------------------------------------ HART requests

std::optional<int> TForm1::preambles(int overhead)
{
    const auto p = toInt(ui->Edit9->text());
    if (!p)
        return std::nullopt;
    const int max = hart::kFrameArea - overhead;
    if (*p < 0 || *p > max) {
        showMessage(tr("Preamble Length must be a number from 0 to %1.").arg(max));
        return std::nullopt;
    }
    return *p;
}

uint8_t TForm1::hartAddressIndex() const
{
    return static_cast<uint8_t>(std::max(0, ui->ComboBox30->currentIndex()));
}

bool TForm1::hartMasterMode() const
{
    return ui->ComboBox42->currentIndex() != 1;
}

void TForm1::clearIdentityBoxes()
{
    ui->Edit28->clear();
    ui->Edit29->clear();
    ui->Edit31->clear();
    ui->Edit32->clear();
}

void TForm1::Button7Click()
{
    clearEchoAndMemo();
    clearIdentityBoxes();
    const auto p = preambles(hart::kCommand0Overhead);
    if (!p)
        return;
    sendHart(hart::command0Frame(hartAddressIndex(), hartMasterMode(), *p), exchange::PendingHartCommand0,
             "HART Device Parameter Query");
}

void TForm1::Button16Click()
{
    clearEchoAndMemo();
    ui->Edit25->clear();
    ui->Edit26->clear();
    ui->Edit27->clear();
    ui->Edit30->clear();
    // An all-zero address belongs to no instrument: nothing would answer.
    if (!m_hartIdentity) {
        showMessage(tr("Read the device (HART Device Parameter Query) first."));
        return;
    }
    const auto p = preambles(hart::kCommand3Overhead);
    if (!p)
        return;
    sendHart(hart::command3Frame(hartAddressIndex(), hartMasterMode(), *m_hartIdentity, *p),
             exchange::PendingHartCommand3, "HART Command Query");
}

void TForm1::Button20Click()
{
    clearEchoAndMemo();
    const hart::ManualEntry entry = hart::parseManualEntry(ui->Edit10->text().toLatin1().toStdString());
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
        showMessage(tr("At most 15 bytes can be sent by hand."));
        return;
    case hart::ManualEntry::LoneCharacter:
        showMessage(tr("Each byte needs two hex digits."));
        return;
    case hart::ManualEntry::Ok:
        break;
    }
    const auto p = preambles(int(entry.bytes.size()) + 1);
    if (!p)
        return;
    sendHart(hart::manualFrame(entry.bytes, *p), exchange::PendingHartManual, "Manual HART Command");
}

// ------------------------------------------------------------ receive path

void TForm1::Comm1ReceiveData(SerialComm::TComm *, const uint8_t *Buffer, uint16_t BufferLength)
{
    Monitor->received(Buffer, BufferLength);
    // Let the rest of a reply arrive; what comes after waits its turn.
    m_settle->chunk(Buffer, BufferLength);
}

void TForm1::applyChunk(const std::vector<uint8_t> &chunk)
{
    const exchange::ReceivePlan plan =
        Exchange.receive(chunk.empty() ? nullptr : chunk.data(), static_cast<uint16_t>(chunk.size()));
    ui->Memo10->setPlainText(plan.memoIsHex ? QString::fromStdString(plan.memoText) : latin1(plan.memoText));
    if (plan.decodeTimer == exchange::ReceivePlan::Timer::Enable)
        Timer2->SetEnabled(true);
    else if (plan.decodeTimer == exchange::ReceivePlan::Timer::Disable)
        Timer2->SetEnabled(false);
    if (plan.stopWatchdog)
        Timer3->SetEnabled(false);
    Details->received(chunk);
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
    if (const auto msg = exchange::watchdogMessage(Exchange.timeoutKind, Exchange.requestName, Timer3->Interval()))
        showMessage(QString::fromStdString(*msg));
}

void TForm1::decodeHartCommand0()
{
    Exchange.pendingReply = exchange::PendingNone;
    Timer3->SetEnabled(false);
    const auto rx = Exchange.received();
    Monitor->hartDecoded(0, rx.data(), rx.size());
    hart::ReplyFault fault = hart::ReplyFault::NotFound;
    const auto info = hart::decodeCommand0(rx.data(), rx.size(), &fault);
    if (!info) {
        clearIdentityBoxes();
        showReplyFault(fault);
        return;
    }
    m_hartIdentity = info->identity;
    m_hartPreambleCount = info->minPreambles;
    ui->Edit28->setText(QString::number(info->identity.manufacturerId));
    ui->Edit29->setText(QString::number(info->identity.deviceType));
    ui->Edit31->setText(QString::number(info->minPreambles));
    ui->Edit32->setText(QString::number(hart::deviceIdNumber(info->identity)));
}

void TForm1::decodeHartCommand3()
{
    Exchange.pendingReply = exchange::PendingNone;
    Timer3->SetEnabled(false);
    const auto rx = Exchange.received();
    Monitor->hartDecoded(3, rx.data(), rx.size());
    const hart::Command3Info info = hart::decodeCommand3(rx.data(), rx.size());
    if (!info.markerFound)
        showReplyFault(info.fault);
    QLineEdit *values[4] = {ui->Edit25, ui->Edit26, ui->Edit27, ui->Edit30};
    QComboBox *units[4] = {ui->ComboBox3, ui->ComboBox31, ui->ComboBox32, ui->ComboBox33};
    for (const hart::Variable &v : info.variables) {
        if (v.number < 1 || v.number > 4)
            continue;
        values[v.number - 1]->setText(QString::fromStdString(v.valueText));
        units[v.number - 1]->setCurrentIndex(v.unitIndex);
    }
}

void TForm1::showReplyFault(hart::ReplyFault fault)
{
    // Nothing was decoded; say why instead of leaving the boxes silently empty.
    if (fault == hart::ReplyFault::CutShort)
        Monitor->statusBar()->showMessage(tr("HART reply cut short"));
    else if (fault == hart::ReplyFault::ChecksumError)
        Monitor->statusBar()->showMessage(tr("HART reply checksum error"));
}

void TForm1::decodeConfig(bool instruments)
{
    Exchange.pendingReply = exchange::PendingNone;
    Exchange.timeoutKind = exchange::TimeoutNone;
    // The decoders stop at a conversion error; what they decoded before it
    // is still applied, then the error is shown. Text fields show the
    // reply's characters as they stand.
    exchange::GatewaySettings decoded;
    std::map<std::string, std::string> texts;
    std::optional<std::string> error;
    if (instruments) {
        const exchange::InstrumentReply reply = exchange::decodeInstrumentTable(Exchange.receivedText);
        decoded.instruments = reply.rows;
        for (size_t i = 0; i < reply.rows.size(); ++i) {
            if (reply.intervalText[i])
                texts["instruments[" + std::to_string(i) + "].interval"] = *reply.intervalText[i];
        }
        error = reply.error;
    } else {
        const exchange::SystemReply reply = exchange::decodeSystemParameters(Exchange.receivedText);
        decoded.system = reply.settings;
        if (reply.addressText)
            texts["system.address"] = *reply.addressText;
        if (reply.intervalText)
            texts["system.interval"] = *reply.intervalText;
        error = reply.error;
    }
    showSettings(*this, decoded, texts);
    if (error)
        showMessage(latin1(*error));
    Exchange.pendingReply = exchange::PendingNone;
    if (!error)
        settingsDecoded(instruments);
}

// ------------------------------------------------------- status and Watch

QString TForm1::portName() const
{
    return PortIsOpen ? QString::fromStdString(Comm1->CommName()) : ui->SPREALCOM->currentText();
}

QString TForm1::framing() const
{
    static const char parity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char *const stop[] = {"1", "1.5", "2"};
    return QStringLiteral("%1 %2%3%4")
        .arg(Comm1->BaudRate())
        .arg(5 + int(Comm1->ByteSize()))
        .arg(QLatin1Char(parity[int(Comm1->Parity())]))
        .arg(QString::fromLatin1(stop[int(Comm1->StopBits())]));
}

bool TForm1::exchangeBusy() const
{
    return m_settle->busy() || Timer2->Enabled() || (Timer3->Enabled() && Exchange.pendingReply != 0);
}

bool TForm1::sendHartCommand(uint8_t command, const std::optional<hart::Identity> &identity)
{
    // Shown like a hand-typed frame's reply: hex only, the specified boxes stay as they are.
    const auto p = PortIsOpen ? preambles(identity ? hart::kCommand3Overhead : hart::kCommand0Overhead) : std::nullopt;
    if (!p)
        return false;
    clearEchoAndMemo();
    sendHart(identity ? hart::commandFrame(hartAddressIndex(), hartMasterMode(), *identity, *p, command)
                      : hart::command0Frame(hartAddressIndex(), hartMasterMode(), *p),
             exchange::PendingHartManual, "HART Device Details");
    return true;
}
