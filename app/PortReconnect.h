// SPDX-License-Identifier: GPL-3.0-or-later
// Brings a lost port back without the engineer: waits for the same device
// (kernel device events) or device server (tries with growing pauses) and
// reopens it with the same settings. Network connects run on a worker
// thread, so the window never waits for a server.
#pragma once

#include "PortPresence.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QGridLayout;
class QSocketNotifier;
class QStatusBar;
class QTimer;

class PortReconnect : public QObject {
public:
    // `reopen` opens the port under the given name with the settings it had
    // and says whether that worked.
    PortReconnect(QWidget *portGroup, QGridLayout *grid, QStatusBar *status,
                  std::function<bool(const QString &)> reopen);
    ~PortReconnect() override;

    // A port was opened under `name`: remembered for when it is lost.
    void opened(const QString &name);
    // The open port was lost. True when it is now being waited for (the
    // box is ticked); the status bar says so.
    bool lost();
    // The engineer took over (Open, Close, or the box unticked).
    void stop();

    // For a device server, connects on a worker and then calls `then` with
    // 0 or the errno of the failure, here; false (nothing started) for other
    // names and for the call that follows a successful connect.
    bool connectFirst(const QString &name, std::function<void(int)> then);

private:
    void watchDevice();
    void deviceEvent();
    void tryNetwork();
    bool reopenAt(const QString &path);
    void connectOnWorker(const QString &name, std::function<void(int)> then);

    QCheckBox *m_enabled;
    QStatusBar *m_status;
    std::function<bool(const QString &)> m_reopen;
    QString m_name;
    SerialComm::PortIdentity m_identity;
    bool m_waiting = false;
    std::unique_ptr<SerialComm::DeviceEvents> m_events;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retry;
    int m_pauseS = 1;
    std::thread m_worker;
    bool m_connecting = false;
    std::function<void()> m_afterWorker; // an Open clicked while a retry was connecting
    QString m_connected; // connected ahead, for the next open of that name
};
