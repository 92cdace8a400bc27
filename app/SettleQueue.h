// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the window's events in the order they happened while a received
// chunk settles. A chunk is held for the settle time (the rest of a reply may
// still be on its way) and every click, timer or port event that comes after
// it waits until it has been applied. Nothing blocks the window's thread
// meanwhile: painting and input go on, only the handlers wait their turn.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class SettleQueue : public QObject {
public:
    using Apply = std::function<void(const std::vector<uint8_t> &chunk)>;

    // settleMs 0: chunks are applied at once.
    SettleQueue(QObject *parent, int settleMs, Apply apply);

    // A chunk arrived: applied after the settle time, behind everything
    // queued before it.
    void chunk(const uint8_t *bytes, size_t size);
    // Runs the action now when nothing waits, else after what waits.
    void run(std::function<void()> action);

    // A chunk is settling or events wait behind one.
    bool busy() const { return m_settling || !m_queue.empty(); }
    int settleMs() const { return m_settleMs; }

private:
    struct Item {
        bool isChunk = false;
        std::vector<uint8_t> bytes;
        std::function<void()> action;
    };
    void pump();
    void settled();

    const int m_settleMs;
    Apply m_apply;
    QTimer m_timer;
    bool m_settling = false;
    std::vector<uint8_t> m_current;
    std::deque<Item> m_queue;
};
