// SPDX-License-Identifier: GPL-3.0-or-later
// The NX260-HGW configuration window: the request handlers, the receive path
// and the two timers. The controls themselves are private (FormControls);
// other code and the tests find them by their object names.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Exchange.h"
#include "HartDetails.h"
#include "HartFrames.h"
#include "SerialComm.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QtOwnerQueue;
class Remembered;
class SettleQueue;
class TTimer;
class TrafficMonitor;
class PortReconnect;
struct FormControls;

// Choices fixed when the window is made. The defaults are the field values;
// automated runs of thousands of exchanges shorten the receive pause.
struct TForm1Options {
    int receivePauseMs = exchange::kReceivePauseMs;
    // Restore the engineer's choices at start and keep them at close (the
    // program does; tests opt in).
    bool rememberChoices = false;
};

class TForm1 : public QWidget, private HartDetailsHost {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr, TForm1Options options = {});
    ~TForm1() override;

    // Traffic monitor, HART diagnostics, trend and status bar.
    TrafficMonitor *Monitor = nullptr;
    HartDetails *Details = nullptr; // "HART Device Details"
    PortReconnect *Reconnect = nullptr;

    // --- non-visual members ---
    std::shared_ptr<QtOwnerQueue> NotifyQueue; // declared before Comm1: outlives it
    std::unique_ptr<SerialComm::TComm> Comm1;
    TTimer *Timer2; // deferred decode
    TTimer *Timer3; // reply watchdog

    // Module state shared by the handlers.
    exchange::ExchangeState Exchange;
    bool PortIsOpen = false;

    // What the last command 0 reply taught; nothing until one is decoded.
    const std::optional<hart::Identity> &hartIdentity() const { return m_hartIdentity; }

public slots:
    void FormCreate();
    void Button1Click();
    void Button26Click();
    void Label4DblClick();

    // configuration requests
    void Button6Click();
    void Button23Click();
    void Button2Click();
    void Button29Click();
    void Button9Click();
    void Button3Click();
    void Button24Click();
    void Button4Click();
    void Button5Click();
    void Button13Click();
    void Button14Click();
    void Button10Click();
    void Button8Click();
    void Button11Click();
    void Button12Click();
    void Button30Click();
    void Button53Click();

    // HART requests
    void Button7Click();
    void Button16Click();
    void Button20Click();

    void Timer2Timer();
    void Timer3Timer();

    // File menu: profiles hold the settings controls' values; loading fills
    // the controls only, nothing is sent until a Set button is pressed.
    void SaveProfileClick();
    void LoadProfileClick();

public:
    // The two halves without the file dialogs; false after a message box.
    bool saveProfile(const QString &path);
    bool loadProfile(const QString &path);
    // Loads and says that nothing was sent; with the port open the message
    // offers "Send all": the settings that differ go out one by one through
    // their Set buttons, each after the one before is through.
    void loadProfileOffering(const QString &path);

    // The serial component's events. A chunk settles for the receive pause
    // (the rest of a reply may follow) without holding the window's thread;
    // clicks and timer events that come after it wait their turn.
    void Comm1ReceiveData(SerialComm::TComm *Sender, const uint8_t *Buffer, uint16_t BufferLength);
    void Comm1RequestHangup(SerialComm::TComm *Sender);
    bool reopenPort(const QString &path);

private:
    // A port was opened (Open or a reconnect): one fresh start for both.
    void sessionStarted();

protected:
    void closeEvent(QCloseEvent *e) override;
    // A switch of language translates the captions again.
    void changeEvent(QEvent *e) override;

private:
    // What the status line and Watch ask of the window.
    QString portName() const;
    QString framing() const;
    bool exchangeBusy() const;
    // HartDetailsHost
    bool sendHartCommand(uint8_t command, const std::optional<hart::Identity> &identity) override;

    void wireControls();
    void buildProfileActions();
    // Runs a handler in turn with the chunks and events before it.
    void inTurn(void (TForm1::*handler)());
    void applyChunk(const std::vector<uint8_t> &chunk);
    void showMessage(const QString &text);
    // Strict conversion of a control's text; shows the conversion error and
    // returns nullopt on failure.
    std::optional<int32_t> toInt(const QString &text);
    // Strict conversion plus range check, naming the field in the message.
    std::optional<int> threeDigit(const QLineEdit *box, const QString &field);
    std::optional<int> selectedIndex(const QComboBox *box, const QString &field);

    void clearEchoAndMemo();
    // Compose, echo, write, record; starts a full 3000 ms watchdog count.
    void sendConfig(const std::vector<uint8_t> &request, int32_t pending, int32_t timeoutKind, const char *name);
    // Compose, hex echo, write, start a full 3000 ms watchdog count, record
    // (TimeoutKind 3).
    void sendHart(const std::vector<uint8_t> &frame, int32_t pending, const char *name);
    void sendInstrument(int row);
    void sendRs485(char port, const QComboBox *baud, const QComboBox *parity);
    void sendDataReturnTime(char port, const QComboBox *box);
    uint8_t hartAddressIndex() const;
    bool hartMasterMode() const;
    void clearIdentityBoxes();
    std::optional<int> preambles(int overhead);

    void decodeHartCommand0();
    void decodeHartCommand3();
    void decodeConfig(bool instruments);
    void showReplyFault(hart::ReplyFault fault);

    std::unique_ptr<FormControls> ui;
    SettleQueue *m_settle = nullptr;
    Remembered *m_memory = nullptr;
    bool m_remember = false;
    std::optional<hart::Identity> m_hartIdentity;
    uint8_t m_hartPreambleCount = 0; // shown only

    // Profiles and the commissioning record (ProfileActions.cpp).
    void settingsDecoded(bool instruments);
    void recordSet(const char *name, const std::vector<uint8_t> &request, bool written);
    bool m_systemRead = false, m_instrumentsRead = false; // since Open
    bool m_readingForSave = false; // Save Profile asked to read both first
    std::vector<QPushButton *> m_sendAll; // Set buttons still to press, last first
    void sendAllNext();
};
