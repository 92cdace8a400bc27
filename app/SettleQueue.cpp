// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettleQueue.h"

SettleQueue::SettleQueue(QObject *parent, int settleMs, Apply apply)
    : QObject(parent), m_settleMs(settleMs), m_apply(std::move(apply))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { settled(); });
}

void SettleQueue::chunk(const uint8_t *bytes, size_t size)
{
    Item item;
    item.isChunk = true;
    if (bytes && size)
        item.bytes.assign(bytes, bytes + size);
    m_queue.push_back(std::move(item));
    pump();
}

void SettleQueue::run(std::function<void()> action)
{
    if (!busy()) {
        action();
        return;
    }
    Item item;
    item.action = std::move(action);
    m_queue.push_back(std::move(item));
}

void SettleQueue::pump()
{
    // A handler may open a modal box whose event loop comes back here: the
    // queue is taken from the front one item at a time, so order holds.
    while (!m_settling && !m_queue.empty()) {
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        if (!item.isChunk) {
            item.action();
            continue;
        }
        if (m_settleMs <= 0) {
            m_apply(item.bytes);
            continue;
        }
        m_current = std::move(item.bytes);
        m_settling = true;
        m_timer.start(m_settleMs);
    }
}

void SettleQueue::settled()
{
    const std::vector<uint8_t> chunk = std::move(m_current);
    m_current.clear();
    m_settling = false;
    m_apply(chunk);
    pump();
}
