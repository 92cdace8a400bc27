// SPDX-License-Identifier: GPL-3.0-or-later
// The window's diagnostics beyond the form's own controls: the traffic
// monitor (`TrafficLog`), the View menu and File -> Save Traffic... / Save
// Trend..., put together with its parts: the HART trend (TrendChart), the
// status bar (StatusLine) and the HART diagnostics with Watch (HartWatch).
// The window calls the hooks below from its send and receive paths; nothing
// here changes what the form sends or decodes.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>

#include "HartWatch.h"
#include "StatusLine.h"
#include "TrafficModel.h"
#include "TrendChart.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QSplitter;
class QStatusBar;
class QTableView;
class QWidget;

class TrafficMonitor : public QObject {
    Q_OBJECT
public:
    // What the monitor asks of the window, and no more.
    struct Hooks {
        StatusLine::Port port;
        // A reply is awaited, settling or waiting to be decoded.
        std::function<bool()> exchangeBusy;
        // Sends the HART dynamic-variables query as its button does; false
        // when it cannot be sent yet (no device identity read).
        std::function<bool()> readHartVariables;
    };

    // Parts are made on `window` (the HART diagnostics on `hartBox`); the
    // window places them.
    TrafficMonitor(QWidget *window, QWidget *hartBox, Hooks hooks);
    // File -> Save Traffic / Save Trend before `before`, and the View menu.
    void addMenus(QMenuBar *bar, QMenu *file, QAction *before);
    QWidget *area() const;
    QStatusBar *statusBar() const { return Status->bar(); }

    // --- hooks from the form ---
    void sent(const uint8_t *bytes, size_t size, TrafficRow::Kind kind, bool written);
    void received(const uint8_t *bytes, size_t size);
    // After the command 0 / command 3 decoders ran on the received chunk.
    void hartDecoded(int command, const uint8_t *rx, size_t size);
    void portOpened();
    void portClosed();
    void portLost();
    void error(const QString &text);
    // The texts made here, in the language now chosen.
    void retranslate();
    // The port in the Serial Port box changed.
    void portChoiceChanged();

    // --- files (the menu actions ask for the name, then call these) ---
    bool saveTraffic(const QString &path, QString *error) const;
    bool saveTrend(const QString &path, QString *error) const;
    const std::deque<TrendSample> &trendSamples() const { return Trend->samples(); }

    TrafficModel *Model;
    TrendChart *Trend;
    StatusLine *Status;
    HartWatch *Watch;
    QSplitter *MonitorArea;
    // Made when first opened (View menu); null until then.
    QWidget *TrafficPanel = nullptr;
    QTableView *TrafficLog = nullptr;
    QLabel *TrafficDetails = nullptr;
    QMenu *ViewMenu;
    QAction *TrafficAction, *TrendAction, *SaveTrafficAction, *SaveTrendAction;

private:
    void buildMonitorArea();
    void makeTrafficLog();
    void setPanelVisible(QWidget *panel, bool on);
    void copyRows();
    void saveTrafficAs();
    void saveTrendAs();

    QWidget *window_;
    TrafficRow::Kind lastKind_ = TrafficRow::Config;
    QByteArray reply_; // received since the last request, for the meaning of split replies
};
