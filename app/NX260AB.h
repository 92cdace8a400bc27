// The NX260-HGW configuration window: every control, the request handlers,
// the receive path and the two timers.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Exchange.h"
#include "SerialComm.h"
#include "Widgets.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QtOwnerQueue;
class TTimer;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // --- controls, named as on the form ---
    QLabel *Label41, *Label9, *Label5, *Label18, *Label19;
    QPushButton *Button30, *Button6, *Button26;
    QLineEdit *Edit8;
    QPlainTextEdit *Memo10;

    QGroupBox *GroupBox1;
    PortComboBox *SPREALCOM;
    QComboBox *ComboBox11, *ComboBox10;
    QPushButton *Button1;

    QGroupBox *GroupBox6, *GroupBox18;
    QLineEdit *Edit14;
    QPushButton *Button29;
    QComboBox *BOA, *BOB, *JIAOA, *JIAOB;
    QPushButton *Button9, *Button3;
    QComboBox *MODEL;
    QPushButton *Button24;
    QComboBox *DTMA, *DTMB;
    QPushButton *Button4, *Button5;
    QLineEdit *RTD;
    QPushButton *Button13;
    DoubleClickLabel *Label4;
    QComboBox *CHXINGHAO;
    QPushButton *Button14, *Button23;

    QGroupBox *GroupBox3;
    QComboBox *SBZHU[4], *NEIXING[4], *QIADF[4];
    QLineEdit *DTM[4];
    QPushButton *Button10, *Button8, *Button11, *Button12, *Button2;

    QGroupBox *FactoryGroup;
    QLineEdit *PCBSN;
    QComboBox *JIANZHI;
    QPushButton *Button53;

    QGroupBox *GroupBox4, *GroupBox8, *GroupBox10;
    QComboBox *ComboBox30, *ComboBox42;
    QLineEdit *Edit9, *Edit10;
    QPushButton *Button20;
    QLineEdit *Edit28, *Edit29, *Edit31, *Edit32;
    QPushButton *Button7;
    QLineEdit *Edit25, *Edit26, *Edit27, *Edit30;
    QComboBox *ComboBox3, *ComboBox31, *ComboBox32, *ComboBox33;
    QPushButton *Button16;

    // --- menu bar (tools beyond the form's own controls) ---
    QMenuBar *MenuBar;
    QMenu *FileMenu;
    QAction *SaveProfileAction, *LoadProfileAction; // before QuitAction
    QAction *QuitAction;

    // --- non-visual members ---
    std::shared_ptr<QtOwnerQueue> NotifyQueue; // declared before Comm1: outlives it
    std::unique_ptr<SerialComm::TComm> Comm1;
    TTimer *Timer2; // deferred decode
    TTimer *Timer3; // reply watchdog

    // Module state shared by the handlers.
    exchange::ExchangeState Exchange;
    bool PortIsOpen = false;

    // The receive handler's pause; tests that run thousands of exchanges
    // shorten it.
    int ReceivePauseMs = exchange::kReceivePauseMs;

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

public:
    void Comm1ReceiveData(SerialComm::TComm *Sender, const uint8_t *Buffer, uint16_t BufferLength);
    void Comm1RequestHangup(SerialComm::TComm *Sender);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void buildUi();
    void buildProfileActions();
    void showMessage(const QString &text);
    // Strict conversion of a control's text; shows the conversion error and
    // returns nullopt on failure.
    std::optional<int32_t> toInt(const QString &text);
    // Strict conversion plus range check, naming the field in the message.
    std::optional<int> threeDigit(const QLineEdit *box, const QString &field);
    std::optional<int> selectedIndex(const QComboBox *box, const QString &field);

    void clearEchoAndMemo();
    // Compose, echo, write, record; arms the watchdog at 3000 ms.
    void sendConfig(const std::vector<uint8_t> &request, int32_t pending, int32_t timeoutKind);
    // Compose, hex echo, write, enable the watchdog, record (TimeoutKind 3).
    void sendHart(const std::vector<uint8_t> &frame, int32_t pending);
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
};
