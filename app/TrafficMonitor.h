// SPDX-License-Identifier: GPL-3.0-or-later
// The window's diagnostics beyond the form's own controls: the traffic
// monitor (`TrafficLog`), the HART trend (`HartTrend`) with the Watch check
// box, the loop current and status lines under the HART values, the status
// bar, the View menu and File -> Save Traffic... / Save Trend....
// The window calls the hooks below from its send and receive paths; nothing here
// changes what the form sends or decodes.
#pragma once

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "TrafficModel.h"

class QAction;
class QChart;
class QChartView;
class QCheckBox;
class QDateTimeAxis;
class QLabel;
class QLineEdit;
class QLineSeries;
class QMenu;
class QSpinBox;
class QSplitter;
class QStatusBar;
class QTableView;
class QValueAxis;
class MonitorHost;
class QGridLayout;
class QMenuBar;
class QPushButton;
class QWidget;

struct TrendSample {
    std::chrono::system_clock::time_point time;
    float loopCurrent = 0.0f;                 // mA
    int variableCount = 0;                    // 0..4 received
    std::array<float, 4> values{};
    std::array<uint8_t, 4> units{};           // HART unit codes
};

class TrafficMonitor : public QObject {
    Q_OBJECT
public:
    // Parts are made on `window`; the window places them: the diagnostics
    // join the HART values' grid, the area and the status bar its layout.
    TrafficMonitor(QWidget *window, MonitorHost &host);
    // Loop current and status lines under the HART values, the query button
    // with Watch beside it.
    void addDiagnostics(QWidget *box, QGridLayout *grid, QPushButton *query);
    // File -> Save Traffic / Save Trend before `before`, and the View menu.
    void addMenus(QMenuBar *bar, QMenu *file, QAction *before);
    QWidget *area() const;
    QStatusBar *statusBar() const { return StatusBar; }

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

    static constexpr int kTrendWindowSeconds = 600;
    static constexpr size_t kTrendSampleLimit = 100000;
    const std::deque<TrendSample> &trendSamples() const { return samples_; }

    TrafficModel *Model;
    QSplitter *MonitorArea;
    // Made when first opened (View menu); null until then.
    QWidget *TrafficPanel = nullptr;
    QTableView *TrafficLog = nullptr;
    QLabel *TrafficDetails = nullptr;
    QChartView *HartTrend = nullptr;
    // The trend's lines each in a band of their own (else on shared ground).
    QAction *TrendLanes;
    QLineEdit *HartLoopCurrent;
    QLabel *HartStatus;
    QCheckBox *WatchHart;
    QSpinBox *WatchInterval;
    QStatusBar *StatusBar;
    QLabel *PortState, *ByteCounts, *LastError;
    QMenu *ViewMenu;
    QAction *TrafficAction, *TrendAction, *SaveTrafficAction, *SaveTrendAction;

private:
    void buildMonitorArea();
    void buildStatusBar();
    void makeTrafficLog();
    void makeTrend();
    void setPanelVisible(QWidget *panel, bool on);
    void showPortState(const char *state);
    void showByteCounts();
    void watchToggled(bool on);
    void watchTick();
    void addSample(const TrendSample &sample);
    void redrawTrend();
    void copyRows();
    void saveTrafficAs();
    void saveTrendAs();

    QWidget *window_;
    MonitorHost &host_;
    TrafficRow::Kind lastKind_ = TrafficRow::Config;
    QByteArray reply_; // received since the last request, for the meaning of split replies
    uint64_t bytesSent_ = 0, bytesReceived_ = 0;
    QTimer watchTimer_;
    QTimer watchRetry_; // the tick came while an exchange was in flight
    std::deque<TrendSample> samples_;
    QChart *chart_ = nullptr;
    QDateTimeAxis *timeAxis_ = nullptr;
    std::array<QLineSeries *, 5> series_{}; // PV, SV, TV, QV, loop current
    std::array<QValueAxis *, 5> axes_{};
    int areaHeight_ = 0;
    const char *portState_ = nullptr; // English source of the state shown
};
