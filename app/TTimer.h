// SPDX-License-Identifier: GPL-3.0-or-later
// A timer with the classic Enabled/Interval semantics: enabling an enabled
// timer or setting the interval it already has does not restart its count;
// a real change does. Before each firing it lets the owner hand over every
// event queued ahead of it (serial chunks are handled before the timer), and
// a gate may hold the firing back until the events ahead of it have run.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class TTimer : public QObject {
public:
    TTimer(QObject *parent, int intervalMs, std::function<void()> onTimer,
           std::function<void()> beforeFire = {});

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool on);
    int Interval() const { return m_interval; }
    void SetInterval(int ms);
    // Sets the interval and starts a full count at once, running or not:
    // for a watchdog that each request arms afresh.
    void Restart(int ms);
    // The firing goes through the gate, which runs it now or later; it still
    // fires only if the timer was neither stopped nor restarted meanwhile.
    using Gate = std::function<void(std::function<void()>)>;
    void SetGate(Gate gate) { m_gate = std::move(gate); }
    // Milliseconds until the next firing, -1 when disabled (for tests).
    int remainingTime() const { return m_enabled ? m_timer.remainingTime() : -1; }

private:
    void fire();

    QTimer m_timer;
    bool m_enabled = false;
    unsigned m_generation = 0; // bumped whenever the count restarts
    int m_interval;
    std::function<void()> m_onTimer;
    std::function<void()> m_beforeFire;
    Gate m_gate;
    bool m_firePending = false; // one held firing at a time, as timer events coalesce
};
