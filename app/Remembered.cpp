// SPDX-License-Identifier: GPL-3.0-or-later
#include "Remembered.h"

#include "Captions.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QWidget>

namespace {

// ~/.config/nx260-config/nx260-config.conf
QSettings store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("nx260-config"),
                     QStringLiteral("nx260-config"));
}

template <typename T>
T *find(QWidget *form, const char *name)
{
    return form->findChild<T *>(QString::fromLatin1(name));
}

} // namespace

Remembered::Remembered(QWidget *form) : QObject(form), form_(form) {}

QString Remembered::stableName(const QString &port)
{
    const QString target = QFileInfo(port).canonicalFilePath();
    if (target.isEmpty() || port.startsWith(QStringLiteral("/dev/serial/by-id/")))
        return port;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return port;
}

QString Remembered::restore()
{
    QSettings s = store();
    if (s.status() != QSettings::NoError)
        return tr("The saved settings (%1) could not be read and were ignored.").arg(s.fileName());
    bool bad = false;
    // Each value is checked before it is shown; a wrong one is left out.
    auto text = [&](const char *key, const QRegularExpression &valid) -> QString {
        const QVariant v = s.value(QString::fromLatin1(key));
        if (!v.isValid())
            return {};
        const QString t = v.toString();
        if (!valid.match(t).hasMatch()) {
            bad = true;
            return {};
        }
        return t;
    };
    const QString port = text("port/name", QRegularExpression(QStringLiteral("\\A[^\\x00-\\x1f]{1,255}\\z")));
    if (!port.isEmpty())
        find<QComboBox>(form_, "SPREALCOM")->setEditText(port);
    const QString baud = text("port/baud", QRegularExpression(QStringLiteral("\\A[1-9][0-9]{1,6}\\z")));
    if (!baud.isEmpty())
        find<QComboBox>(form_, "ComboBox11")->setEditText(baud);
    const QString parity = text("port/parity", QRegularExpression(QStringLiteral("\\A[0-2]\\z")));
    if (!parity.isEmpty())
        find<QComboBox>(form_, "ComboBox10")->setCurrentIndex(parity.toInt());
    const QString watch = text("hart/watchSeconds", QRegularExpression(QStringLiteral("\\A[0-9]{1,2}\\z")));
    auto *interval = find<QSpinBox>(form_, "WatchInterval");
    if (!watch.isEmpty() && interval) {
        if (watch.toInt() < interval->minimum() || watch.toInt() > interval->maximum())
            bad = true;
        else
            interval->setValue(watch.toInt());
    }
    for (const char *panel : {"TrafficAction", "TrendAction"}) {
        const QString on = text((QByteArrayLiteral("window/") + panel).constData(),
                                QRegularExpression(QStringLiteral("\\A(true|false)\\z")));
        auto *action = find<QAction>(form_, panel);
        if (action && on == QLatin1String("true"))
            action->setChecked(true);
    }
    // After the panels: opening one grows the window.
    const QByteArray geometry = s.value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty() && !form_->restoreGeometry(geometry))
        bad = true;
    profileFolder_ = text("profiles/folder", QRegularExpression(QStringLiteral("\\A[^\\x00-\\x1f]{0,4096}\\z")));
    const QVariant recent = s.value(QStringLiteral("profiles/recent"));
    if (recent.isValid()) {
        for (const QString &p : recent.toStringList()) {
            if (!p.isEmpty() && !recent_.contains(p) && recent_.size() < kRecentLimit)
                recent_ << p;
        }
    }
    fillRecentMenu();
    // A language chosen in View -> Language over the system's.
    const QString language = text("window/language", QRegularExpression(QStringLiteral("\\A(en|zh_CN)\\z")));
    if (!language.isEmpty() && language != captions::currentLanguage())
        captions::useLanguage(language);
    if (bad)
        return tr("Some saved settings (%1) were not valid and were ignored.").arg(s.fileName());
    return {};
}

void Remembered::save()
{
    QSettings fresh = store();
    // Written afresh: nothing of a damaged or older file stays behind.
    fresh.clear();
    const QString port = find<QComboBox>(form_, "SPREALCOM")->currentText();
    fresh.setValue(QStringLiteral("port/name"), stableName(port));
    fresh.setValue(QStringLiteral("port/baud"), find<QComboBox>(form_, "ComboBox11")->currentText());
    fresh.setValue(QStringLiteral("port/parity"), find<QComboBox>(form_, "ComboBox10")->currentIndex());
    if (auto *interval = find<QSpinBox>(form_, "WatchInterval"))
        fresh.setValue(QStringLiteral("hart/watchSeconds"), interval->value());
    // A window never shown has no geometry worth keeping.
    if (form_->isVisible())
        fresh.setValue(QStringLiteral("window/geometry"), form_->saveGeometry());
    for (const char *panel : {"TrafficAction", "TrendAction"}) {
        if (auto *action = find<QAction>(form_, panel))
            fresh.setValue(QStringLiteral("window/") + QLatin1String(panel), action->isChecked());
    }
    if (captions::currentLanguage() != captions::systemLanguage())
        fresh.setValue(QStringLiteral("window/language"), captions::currentLanguage());
    fresh.setValue(QStringLiteral("profiles/folder"), profileFolder_);
    fresh.setValue(QStringLiteral("profiles/recent"), recent_);
    fresh.sync();
}

void Remembered::profileUsed(const QString &path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    profileFolder_ = QFileInfo(full).absolutePath();
    recent_.removeAll(full);
    recent_.prepend(full);
    while (recent_.size() > kRecentLimit)
        recent_.removeLast();
    fillRecentMenu();
}

void Remembered::addRecentMenu(QMenu *file, QAction *before, std::function<void(const QString &)> open)
{
    open_ = std::move(open);
    recentMenu_ = new QMenu(file);
    captions::set(recentMenu_, QT_TRANSLATE_NOOP("Window", "Recent &Profiles"));
    recentMenu_->setObjectName(QStringLiteral("RecentProfilesMenu"));
    file->insertMenu(before, recentMenu_);
    fillRecentMenu();
}

void Remembered::fillRecentMenu()
{
    if (!recentMenu_)
        return;
    recentMenu_->clear();
    for (const QString &path : recent_) {
        QAction *a = recentMenu_->addAction(QDir::toNativeSeparators(path));
        connect(a, &QAction::triggered, this, [this, path] {
            if (open_)
                open_(path);
        });
    }
    recentMenu_->setEnabled(!recent_.isEmpty());
}
