// SPDX-License-Identifier: GPL-3.0-or-later
// The engineer's choices kept between runs (~/.config/nx260-config/): the
// port and its framing, the window's geometry, which panels are open, the
// Watch interval, the profile folder and the recent profiles. Only the
// window's own choices: the gateway's settings are always read from the
// gateway, so nothing kept here changes what is sent.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class QSettings;
class QWidget;

class Remembered : public QObject {
    Q_OBJECT
public:
    static constexpr int kRecentLimit = 8;

    // `form` is the window; its controls are found by their object names.
    explicit Remembered(QWidget *form);

    // Shows what was kept. A file that cannot be read is ignored: the
    // returned note says so (empty when all was well).
    QString restore();
    // Keeps the current choices (at close).
    void save();

    QString profileFolder() const { return profileFolder_; }
    // A profile was saved or loaded: its folder is the next dialog's and it
    // heads File -> Recent Profiles.
    void profileUsed(const QString &path);
    QStringList recentProfiles() const { return recent_; }
    // File -> Recent Profiles, inserted before `before`; a pick calls `open`.
    void addRecentMenu(QMenu *file, QAction *before, std::function<void(const QString &)> open);

    // The stable name of a serial device: its /dev/serial/by-id link when
    // one points at it, else the name as given.
    static QString stableName(const QString &port);

private:
    void fillRecentMenu();

    QWidget *form_;
    QString profileFolder_;
    QStringList recent_;
    QMenu *recentMenu_ = nullptr;
    std::function<void(const QString &)> open_;
};
