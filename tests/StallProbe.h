// SPDX-License-Identifier: GPL-3.0-or-later
// How long the GUI thread stays away from its event loop: a precise timer
// ticks every few milliseconds on that thread, and every late tick is a
// stall of that length. Used by the end-to-end test and the stall benchmark.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <vector>

class StallProbe : public QObject {
public:
    static constexpr int kTickMs = 5;

    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const double gap = double(m_clock.nsecsElapsed()) / 1e6;
            m_clock.restart();
            m_stalls.push_back(std::max(0.0, gap - kTickMs));
        });
    }
    void start()
    {
        m_stalls.clear();
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    size_t ticks() const { return m_stalls.size(); }
    double worstMs() const { return m_stalls.empty() ? 0.0 : *std::max_element(m_stalls.begin(), m_stalls.end()); }
    // The stall that `fraction` of the ticks stay at or under (0.99: p99).
    double percentileMs(double fraction) const
    {
        if (m_stalls.empty())
            return 0.0;
        std::vector<double> sorted = m_stalls;
        std::sort(sorted.begin(), sorted.end());
        const size_t i = std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())));
        return sorted[i];
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<double> m_stalls;
};
