// SPDX-License-Identifier: GPL-3.0-or-later
// Traffic monitor under load: how many rows per second the window's record
// path (annotation included) appends, and the longest stall of the GUI
// thread while 100,000 rows arrive at 10,000 rows per second with the table
// open and following the newest row.
//   traffic_bench [rows] [rows per second]
// Run headless (QT_QPA_PLATFORM=offscreen) or under xvfb-run.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "HartFrames.h"
#include "NX260AB.h"
#include "TrafficMonitor.h"

namespace {

// A request and its reply as the window sees them, alternating, so every row
// is annotated like real HART traffic.
struct Traffic {
    hart::Bytes request = hart::command3Frame(0, true, {0x37, 0x51, {0x01, 0xE2, 0x40}}, 5);
    QByteArray reply = QByteArray::fromHex("FFFFFFFFFF 86 B7 51 01E240 03 1A 0000 41200000 13 42280000 20 42A00000 "
                                           "4B 461C4000 2B 449A5000 2F");
    void feed(TrafficMonitor &m, int i) const
    {
        if (i % 2 == 0)
            m.sent(request.data(), request.size(), TrafficRow::Hart, true);
        else
            m.received(reinterpret_cast<const uint8_t *>(reply.constData()), size_t(reply.size()));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const int rate = argc > 2 ? std::max(100, atoi(argv[2])) : 10000;

    TForm1 form;
    form.show();
    TrafficMonitor &m = *form.Monitor;
    m.TrafficAction->trigger();
    QApplication::processEvents();
    const Traffic traffic;

    // 1. Flat out: append and show as fast as the thread can.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rows; ++i) {
        traffic.feed(m, i);
        if (i % 1000 == 999)
            QApplication::processEvents();
    }
    m.Model->flush();
    QApplication::processEvents();
    const double flatSeconds = clock.nsecsElapsed() / 1e9;
    std::printf("flat out: %d rows in %.3f s = %.0f rows/s (table holds %d)\n", rows, flatSeconds,
                rows / flatSeconds, m.Model->rowCount());

    // 2. Paced: rows arrive in 10 ms bursts at `rate`; a 1 ms heartbeat on
    // the same thread measures how long the event loop was held up.
    m.Model->clear();
    const int perTick = std::max(1, rate / 100);
    int sent = 0;
    std::vector<qint64> gaps;
    gaps.reserve(size_t(rows / perTick) * 12 + 100);
    QElapsedTimer beat;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    qint64 longestAt = 0; // rows sent when the longest stall ended
    qint64 longest = 0;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 gap = beat.nsecsElapsed();
        gaps.push_back(gap);
        if (gap > longest) {
            longest = gap;
            longestAt = sent;
        }
        beat.restart();
    });
    QTimer producer;
    producer.setTimerType(Qt::PreciseTimer);
    producer.setInterval(10);
    QElapsedTimer paced;
    QObject::connect(&producer, &QTimer::timeout, [&] {
        // Catch up with the clock, so a late tick does not lower the rate.
        const qint64 due = std::min<qint64>(rows, paced.elapsed() * rate / 1000 + perTick);
        while (sent < due)
            traffic.feed(m, sent++);
        if (sent >= rows) {
            producer.stop();
            QTimer::singleShot(200, &app, &QApplication::quit);
        }
    });
    paced.start();
    beat.start();
    heartbeat.start();
    producer.start();
    app.exec();
    const double pacedSeconds = paced.nsecsElapsed() / 1e9;
    std::sort(gaps.begin(), gaps.end());
    const auto pct = [&](double p) { return gaps.empty() ? 0.0 : gaps[size_t(p * double(gaps.size() - 1))] / 1e6; };
    std::printf("paced: %d rows at %d rows/s in %.2f s (%.0f rows/s); table holds %d\n", rows, rate, pacedSeconds,
                rows / pacedSeconds, m.Model->rowCount());
    std::printf("GUI thread: longest stall %.1f ms (after row %lld), 99.9th percentile %.1f ms, 99th %.1f ms, "
                "median %.2f ms (1 ms heartbeat)\n",
                pct(1.0), static_cast<long long>(longestAt), pct(0.999), pct(0.99), pct(0.5));
    return 0;
}
