// SPDX-License-Identifier: GPL-3.0-or-later
// The window's controls as the tests reach them: found by object name, the
// way an engineer's eye finds them by caption.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "FormControls.h"
#include "NX260AB.h"
#include "Widgets.h"

namespace formlookup {

template <class T>
void find(const QWidget &w, T *&out, const QString &name)
{
    out = w.findChild<T *>(name);
    if (!out)
        qFatal("no control named %s", qPrintable(name));
}

inline FormControls lookUp(const QWidget &w)
{
    FormControls c{};
#define NX_FIND(member) find(w, c.member, QStringLiteral(#member))
    NX_FIND(Label41); NX_FIND(Label9); NX_FIND(Label5); NX_FIND(Label18); NX_FIND(Label19);
    NX_FIND(Button30); NX_FIND(Button6); NX_FIND(Button26); NX_FIND(Edit8); NX_FIND(Memo10);
    NX_FIND(GroupBox1); NX_FIND(SPREALCOM); NX_FIND(ComboBox11); NX_FIND(ComboBox10); NX_FIND(Button1);
    NX_FIND(GroupBox6); NX_FIND(GroupBox18); NX_FIND(Edit14); NX_FIND(Button29);
    NX_FIND(BOA); NX_FIND(BOB); NX_FIND(JIAOA); NX_FIND(JIAOB); NX_FIND(Button9); NX_FIND(Button3);
    NX_FIND(MODEL); NX_FIND(Button24); NX_FIND(DTMA); NX_FIND(DTMB); NX_FIND(Button4); NX_FIND(Button5);
    NX_FIND(RTD); NX_FIND(Button13); NX_FIND(Label4); NX_FIND(CHXINGHAO); NX_FIND(Button14); NX_FIND(Button23);
    NX_FIND(GroupBox3); NX_FIND(Button10); NX_FIND(Button8); NX_FIND(Button11); NX_FIND(Button12);
    NX_FIND(Button2); NX_FIND(FactoryGroup); NX_FIND(PCBSN); NX_FIND(JIANZHI); NX_FIND(Button53);
    NX_FIND(GroupBox4); NX_FIND(GroupBox8); NX_FIND(GroupBox10); NX_FIND(ComboBox30); NX_FIND(ComboBox42);
    NX_FIND(Edit9); NX_FIND(Edit10); NX_FIND(Button20); NX_FIND(Edit28); NX_FIND(Edit29); NX_FIND(Edit31);
    NX_FIND(Edit32); NX_FIND(Button7); NX_FIND(Edit25); NX_FIND(Edit26); NX_FIND(Edit27); NX_FIND(Edit30);
    NX_FIND(ComboBox3); NX_FIND(ComboBox31); NX_FIND(ComboBox32); NX_FIND(ComboBox33); NX_FIND(Button16);
    NX_FIND(MenuBar); NX_FIND(FileMenu); NX_FIND(QuitAction);
#undef NX_FIND
    for (int i = 0; i < 4; ++i) {
        const QString n = QString::number(i + 1);
        find(w, c.SBZHU[i], "SBZHU" + n);
        find(w, c.NEIXING[i], "NEIXING" + n);
        find(w, c.QIADF[i], "QIADF" + n);
        find(w, c.DTM[i], "DTM" + n);
    }
    return c;
}

} // namespace formlookup

// The controls of window `w`, looked up once per window.
inline const FormControls &ui(const QWidget &w)
{
    struct Cached {
        const QWidget *window = nullptr;
        QPointer<QObject> probe; // gone when that window is
        FormControls controls{};
    };
    static Cached cache;
    if (cache.window != &w || !cache.probe) {
        cache.controls = formlookup::lookUp(w);
        cache.window = &w;
        cache.probe = cache.controls.Button1;
    }
    return cache.controls;
}
