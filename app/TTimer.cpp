// SPDX-License-Identifier: GPL-3.0-or-later
#include "TTimer.h"

TTimer::TTimer(QObject *parent, int intervalMs, std::function<void()> onTimer,
               std::function<void()> beforeFire)
    : QObject(parent), m_interval(intervalMs), m_onTimer(std::move(onTimer)),
      m_beforeFire(std::move(beforeFire))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { fire(); });
}

void TTimer::SetEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    ++m_generation;
    if (on)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}

void TTimer::SetInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    if (m_enabled) {
        ++m_generation;
        m_timer.start(ms);
    }
}

void TTimer::Restart(int ms)
{
    m_interval = ms;
    m_enabled = true;
    ++m_generation;
    m_timer.start(ms);
}

void TTimer::fire()
{
    if (m_firePending)
        return;
    const unsigned generation = m_generation;
    if (m_beforeFire)
        m_beforeFire();
    // A chunk handled before the firing runs may stop or restart this timer.
    auto go = [this, generation] {
        m_firePending = false;
        if (m_enabled && generation == m_generation && m_onTimer)
            m_onTimer();
    };
    if (!m_gate) {
        go();
        return;
    }
    m_firePending = true;
    m_gate(go);
}
