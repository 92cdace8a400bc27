// SPDX-License-Identifier: GPL-3.0-or-later
// Checks a prescribed interval against the monotonic clock. It must never
// be short; on an idle machine it also ends within a small slack. A busy
// machine can stretch any one try, so a long try is repeated, and only when
// every try comes out long is that a fault.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <vector>

namespace IntervalCheck {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Bound {
    const char *name;
    int leastMs; // never shorter
    int slackMs; // at most this much longer, in at least one try
};

// `measure` runs the scenario once and returns one length per bound, in ms
// from the event that starts each interval (empty when the scenario failed).
// Returns what went wrong, or an empty string.
inline QString check(std::initializer_list<Bound> bounds, const std::function<std::vector<double>()> &measure,
                     int tries = 4)
{
    QStringList seen;
    for (int t = 0; t < tries; ++t) {
        const std::vector<double> ms = measure();
        if (ms.size() != bounds.size())
            return QStringLiteral("the scenario did not complete (try %1)").arg(t + 1);
        bool inSlack = true;
        QStringList row;
        size_t i = 0;
        for (const Bound &b : bounds) {
            row << QStringLiteral("%1 %2 ms").arg(QLatin1String(b.name)).arg(ms[i], 0, 'f', 1);
            if (ms[i] < b.leastMs)
                return QStringLiteral("%1 took %2 ms, less than %3 ms")
                    .arg(QLatin1String(b.name))
                    .arg(ms[i], 0, 'f', 1)
                    .arg(b.leastMs);
            inSlack = inSlack && ms[i] <= b.leastMs + b.slackMs;
            ++i;
        }
        if (inSlack)
            return {};
        seen << row.join(QStringLiteral(", "));
    }
    return QStringLiteral("late in every try: ") + seen.join(QStringLiteral("; "));
}

} // namespace IntervalCheck
