// SPDX-License-Identifier: GPL-3.0-or-later
// The window's texts in the engineer's language. A caption keeps its English
// source, so a switch of language translates it again at once. Item lists,
// the gateway's replies and the fixed message texts stay as they are.
#pragma once

#include <QString>

class QMenu;
class QObject;

namespace captions {

// Translation context of every caption: QT_TRANSLATE_NOOP("Window", "...").
QString text(const char *source);

// Sets the caption of `o` (label, button, check box, group box title, menu,
// action or window title) from its English source; `arg` fills a %1.
void set(QObject *o, const char *source, const QString &arg = {});
void setToolTip(QObject *o, const char *source);
// Translates every caption under `root` again (after a switch).
void retranslate(QObject *root);

// "en" or "zh_CN": the one the system locale asks for.
QString systemLanguage();
// Installs the translation of `language` ("en" or "zh_CN"); the windows are
// told by Qt and translate their captions again.
bool useLanguage(const QString &language);
QString currentLanguage();
// View -> Language, with each language named in itself.
void addLanguageMenu(QMenu *view);

} // namespace captions
