// SPDX-License-Identifier: GPL-3.0-or-later
// Sets window controls from short text rules, for table-driven window tests.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QtTest>

#include "NX260AB.h"

// "NAME=#3" selects item 3 of a combo, "NAME=text" sets an edit's text.
inline void applySetup(TForm1 &w, const QStringList &setup)
{
    for (const QString &a : setup) {
        const int eq = a.indexOf('=');
        const QString name = a.left(eq), value = a.mid(eq + 1);
        if (value.startsWith('#')) {
            auto *c = w.findChild<QComboBox *>(name);
            QVERIFY2(c, qPrintable(name));
            c->setCurrentIndex(value.mid(1).toInt());
        } else {
            auto *e = w.findChild<QLineEdit *>(name);
            QVERIFY2(e, qPrintable(name));
            e->setText(value);
        }
    }
}
