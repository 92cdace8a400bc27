// SPDX-License-Identifier: GPL-3.0-or-later
// The window's thread while it works live: the gateway simulator on a
// pseudo-terminal, the field's 600 ms receive pause, the traffic table and the
// trend open, Watch every second, and a configuration query clicked every
// 2.5 s. Reports the longest stalls of the window's thread (p99 and worst).
//   stall_bench [seconds]
// Run headless (QT_QPA_PLATFORM=offscreen) or under xvfb-run.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "../../tests/StallProbe.h"
#include "GatewaySim.h"
#include "NX260AB.h"
#include "TrafficMonitor.h"

namespace {

QPushButton *button(TForm1 &w, const char *name)
{
    auto *b = w.findChild<QPushButton *>(QString::fromLatin1(name));
    if (!b)
        qFatal("no button %s", name);
    return b;
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, atoi(argv[1])) : 20;

    QTemporaryDir dir;
    sim::Options o;
    o.linkPath = dir.filePath(QStringLiteral("gw")).toStdString();
    sim::GatewaySim gw(o);
    std::string error;
    if (!gw.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    sim::GatewayState state;
    state.mode = 0; // transparent: HART requests are answered
    gw.setState(state);

    TForm1 w;
    w.show();
    w.findChild<QComboBox *>(QStringLiteral("SPREALCOM"))->setEditText(QString::fromStdString(o.linkPath));
    button(w, "Button1")->click();
    if (!w.PortIsOpen) {
        std::fprintf(stderr, "the window could not open %s\n", o.linkPath.c_str());
        return 1;
    }
    button(w, "Button7")->click(); // the identity Watch needs
    waitMs(2000);
    TrafficMonitor &m = *w.Monitor;
    m.TrafficAction->trigger();
    m.TrendAction->trigger();
    w.findChild<QSpinBox *>("WatchInterval")->setValue(1);

    StallProbe probe;
    probe.start();
    w.findChild<QCheckBox *>("WatchHart")->setChecked(true);
    const char *queries[] = {"Button23", "Button2"};
    for (int i = 0; i * 2500 < seconds * 1000; ++i) {
        button(w, queries[i % 2])->click();
        waitMs(2500);
    }
    w.findChild<QCheckBox *>("WatchHart")->setChecked(false);
    probe.stop();

    std::printf("window thread over %d s live (%zu ticks of %d ms, %zu trend samples):\n", seconds, probe.ticks(),
                StallProbe::kTickMs, m.trendSamples().size());
    std::printf("  stall p99 %.1f ms, worst %.1f ms (targets: 16 ms, 50 ms)\n", probe.percentileMs(0.99),
                probe.worstMs());
    return 0;
}
