// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtOwnerQueue.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

QtOwnerQueue::QtOwnerQueue(QObject *parent) : QObject(parent) {}

QtOwnerQueue::~QtOwnerQueue() = default;

bool QtOwnerQueue::post(std::function<void()> task)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_tasks.push_back(std::move(task));
        if (!m_wakePosted) {
            m_wakePosted = true;
            wake = true;
        }
    }
    // One wake-up event covers every task queued until it is handled.
    if (wake)
        QCoreApplication::postEvent(this, new QEvent(kDrainEvent));
    return true;
}

void QtOwnerQueue::drain()
{
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_tasks.empty()) {
                m_wakePosted = false;
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        // Taken one at a time: a task may open a modal dialog whose nested
        // event loop drains the rest, in order.
        task();
    }
}

bool QtOwnerQueue::event(QEvent *e)
{
    if (e->type() == kDrainEvent) {
        drain();
        return true;
    }
    return QObject::event(e);
}
