// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortReconnect.h"

#include <QCoreApplication>

#include "net/NetName.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>

namespace {
constexpr int LongestPauseS = 30;
}

PortReconnect::PortReconnect(QWidget *portGroup, QGridLayout *grid, QStatusBar *status,
                             std::function<bool(const QString &)> reopen)
    : QObject(portGroup), m_status(status), m_reopen(std::move(reopen))
{
    m_enabled = new QCheckBox(QCoreApplication::translate("PortReconnect", "Reconnect"), portGroup);
    m_enabled->setObjectName(QStringLiteral("AutoReconnect"));
    m_enabled->setChecked(true);
    m_enabled->setToolTip(QCoreApplication::translate("PortReconnect", "Open the port again when the same device comes back"));
    grid->addWidget(m_enabled, 3, 2);
    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            stop();
    });
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &PortReconnect::tryNetwork);
}

PortReconnect::~PortReconnect()
{
    if (m_worker.joinable())
        m_worker.join();
}

void PortReconnect::opened(const QString &name)
{
    m_name = name;
    m_identity = SerialComm::portIdentity(name.toStdString());
}

bool PortReconnect::lost()
{
    stop();
    if (!m_enabled->isChecked() || m_name.isEmpty())
        return false;
    m_waiting = true;
    m_status->showMessage(QCoreApplication::translate("PortReconnect", "Lost: waiting for %1").arg(m_name));
    if (SerialComm::isNetworkPortName(m_name.toStdString())) {
        m_pauseS = 1;
        m_retry->start(m_pauseS * 1000);
    } else {
        watchDevice();
    }
    return true;
}

void PortReconnect::stop()
{
    if (m_waiting)
        m_status->clearMessage();
    m_waiting = false;
    m_retry->stop();
    delete m_notifier;
    m_notifier = nullptr;
    m_events.reset();
}

void PortReconnect::watchDevice()
{
    m_events = std::make_unique<SerialComm::DeviceEvents>(m_identity);
    if (m_events->ok()) {
        m_notifier = new QSocketNotifier(m_events->fd(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &PortReconnect::deviceEvent);
    }
    // It may be back already.
    const std::string path = SerialComm::presentPath(m_identity);
    if (!path.empty())
        reopenAt(QString::fromStdString(path));
}

void PortReconnect::deviceEvent()
{
    if (!m_events)
        return;
    m_events->drain();
    const std::string path = SerialComm::presentPath(m_identity);
    if (!path.empty())
        reopenAt(QString::fromStdString(path));
}

bool PortReconnect::reopenAt(const QString &path)
{
    if (!m_waiting || !m_reopen(path))
        return false; // not ready yet (permissions still being set): the next event tries again
    stop();
    return true;
}

void PortReconnect::tryNetwork()
{
    if (!m_waiting || m_connecting)
        return;
    connectOnWorker(m_name, [this](int error) {
        if (!m_waiting)
            return;
        if (error == 0 && reopenAt(m_name))
            return;
        m_pauseS = std::min(m_pauseS * 2, LongestPauseS);
        m_retry->start(m_pauseS * 1000);
    });
}

bool PortReconnect::connectFirst(const QString &name, std::function<void(int)> then)
{
    if (!SerialComm::isNetworkPortName(name.toStdString()))
        return false;
    if (m_connected == name) {
        m_connected.clear();
        return false;
    }
    if (m_connecting) {
        // One connect at a time: this one starts when the running one is done.
        m_afterWorker = [this, name, then = std::move(then)]() mutable { connectFirst(name, std::move(then)); };
        return true;
    }
    connectOnWorker(name, [this, name, then = std::move(then)](int error) {
        if (error == 0)
            m_connected = name;
        then(error);
    });
    return true;
}

void PortReconnect::connectOnWorker(const QString &name, std::function<void(int)> then)
{
    if (m_worker.joinable())
        m_worker.join(); // it has reported already
    m_connecting = true;
    m_worker = std::thread([this, target = name.toStdString(), then = std::move(then)]() mutable {
        const int error = SerialComm::connectAhead(target);
        // The destructor joins this thread, so `this` outlives the posting.
        QMetaObject::invokeMethod(
            this,
            [this, error, then = std::move(then)] {
                m_connecting = false;
                then(error);
                if (auto next = std::move(m_afterWorker)) {
                    m_afterWorker = nullptr;
                    next();
                }
            },
            Qt::QueuedConnection);
    });
}
