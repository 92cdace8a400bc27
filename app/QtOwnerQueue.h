// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the serial component's notifications on the GUI thread, in posting
// order. drain() lets a timer run every chunk handed over before it fired.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

#include "SerialComm.h"

class QtOwnerQueue : public QObject, public SerialComm::OwnerQueue {
public:
    explicit QtOwnerQueue(QObject *parent = nullptr);
    ~QtOwnerQueue() override;

    bool post(std::function<void()> task) override; // any thread
    void drain();                                   // GUI thread only

protected:
    bool event(QEvent *e) override;

private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_tasks;
    bool m_wakePosted = false;
};
