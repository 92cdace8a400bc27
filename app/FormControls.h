// SPDX-License-Identifier: GPL-3.0-or-later
// The form's controls, named as on the form, and the code that lays them
// out. Private to the window: other code finds a control by its object name.
#pragma once

class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;
class DoubleClickLabel;
class PortComboBox;

struct FormControls {
    QVBoxLayout *Root;
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
    QGridLayout *HartValuesGrid; // GroupBox10's grid: the diagnostics join it
    QComboBox *ComboBox30, *ComboBox42;
    QLineEdit *Edit9, *Edit10;
    QPushButton *Button20;
    QLineEdit *Edit28, *Edit29, *Edit31, *Edit32;
    QPushButton *Button7;
    QLineEdit *Edit25, *Edit26, *Edit27, *Edit30;
    QComboBox *ComboBox3, *ComboBox31, *ComboBox32, *ComboBox33;
    QPushButton *Button16;

    // menu bar (tools beyond the form's own controls)
    QMenuBar *MenuBar;
    QMenu *FileMenu;
    QAction *QuitAction;
};

// Creates every control on `form` with its caption, items and defaults, and
// lays them out as on the form.
void buildForm(QWidget *form, FormControls &ui);

// The HART diagnostics and Watch under the HART values: the loop current and
// status lines take the query button's row, the button moves down with the
// watch controls beside it.
void placeHartWatch(FormControls &ui, QWidget *loopCurrent, QWidget *status, QWidget *watch, QWidget *interval);
