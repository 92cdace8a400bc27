// SPDX-License-Identifier: GPL-3.0-or-later
#include "Captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTranslator>
#include <QWidget>

namespace {

constexpr char kSource[] = "nxCaption";
constexpr char kArg[] = "nxCaptionArg";
constexpr char kTip[] = "nxToolTip";

QString current = QStringLiteral("en");

void apply(QObject *o, const QString &text)
{
    if (auto *l = qobject_cast<QLabel *>(o))
        l->setText(text);
    else if (auto *b = qobject_cast<QAbstractButton *>(o))
        b->setText(text);
    else if (auto *g = qobject_cast<QGroupBox *>(o))
        g->setTitle(text);
    else if (auto *m = qobject_cast<QMenu *>(o))
        m->setTitle(text);
    else if (auto *a = qobject_cast<QAction *>(o))
        a->setText(text);
    else if (auto *w = qobject_cast<QWidget *>(o))
        w->setWindowTitle(text);
}

QString translated(const QObject *o)
{
    const QByteArray source = o->property(kSource).toByteArray();
    QString text = captions::text(source.constData());
    const QVariant arg = o->property(kArg);
    return arg.isValid() ? text.arg(arg.toString()) : text;
}

QTranslator &translator()
{
    static QTranslator t;
    return t;
}

} // namespace

namespace captions {

QString text(const char *source)
{
    return QCoreApplication::translate("Window", source);
}

void set(QObject *o, const char *source, const QString &arg)
{
    o->setProperty(kSource, QByteArray(source));
    o->setProperty(kArg, arg.isNull() ? QVariant() : QVariant(arg));
    apply(o, translated(o));
}

void setToolTip(QObject *o, const char *source)
{
    o->setProperty(kTip, QByteArray(source));
    if (auto *w = qobject_cast<QWidget *>(o))
        w->setToolTip(text(source));
    else if (auto *a = qobject_cast<QAction *>(o))
        a->setToolTip(text(source));
}

void retranslate(QObject *root)
{
    QList<QObject *> all = root->findChildren<QObject *>();
    all.prepend(root);
    for (QObject *o : all) {
        if (o->property(kSource).isValid())
            apply(o, translated(o));
        if (o->property(kTip).isValid())
            setToolTip(o, o->property(kTip).toByteArray().constData());
    }
}

QString systemLanguage()
{
    for (const QString &ui : QLocale::system().uiLanguages()) {
        if (ui.startsWith(QLatin1String("zh")))
            return QStringLiteral("zh_CN");
        if (ui.startsWith(QLatin1String("en")))
            return QStringLiteral("en");
    }
    return QStringLiteral("en");
}

bool useLanguage(const QString &language)
{
    QCoreApplication::removeTranslator(&translator());
    current = QStringLiteral("en");
    // English is the texts as written: removing the translation (which
    // tells the windows) is all it takes.
    if (language == QLatin1String("en"))
        return true;
    if (!translator().load(QStringLiteral(":/i18n/nx260-config_") + language))
        return false;
    QCoreApplication::installTranslator(&translator());
    current = language;
    return true;
}

QString currentLanguage()
{
    return current;
}

void addLanguageMenu(QMenu *view)
{
    auto *menu = view->addMenu(QString());
    menu->setObjectName(QStringLiteral("LanguageMenu"));
    set(menu, QT_TRANSLATE_NOOP("Window", "&Language"));
    auto *group = new QActionGroup(menu);
    // Each language in its own words, so anyone can find the way back.
    const std::pair<const char *, QString> languages[] = {{"en", QStringLiteral("English")},
                                                          {"zh_CN", QStringLiteral("简体中文")}};
    for (const auto &[code, name] : languages) {
        QAction *a = menu->addAction(name);
        a->setObjectName(QStringLiteral("Language_") + QLatin1String(code));
        a->setCheckable(true);
        a->setActionGroup(group);
        const QString language = QLatin1String(code);
        QObject::connect(a, &QAction::triggered, menu, [language] { useLanguage(language); });
    }
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] {
        for (QAction *a : menu->actions())
            a->setChecked(a->objectName() == QStringLiteral("Language_") + current);
    });
}

} // namespace captions
