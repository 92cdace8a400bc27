// SPDX-License-Identifier: GPL-3.0-or-later
// The HART trend (`HartTrend`): the samples of the command 3 replies and
// their chart, made when first shown. The drawing library is used only in
// TrendChart.cpp; the rest of the window sees this interface.
#pragma once

#include <QObject>

#include <deque>
#include <memory>

#include "TrendSample.h"

class QAction;
class QString;
class QWidget;

class TrendChart : public QObject {
    Q_OBJECT
public:
    static constexpr int kWindowSeconds = 600;
    static constexpr size_t kSampleLimit = 100000;

    explicit TrendChart(QObject *parent);
    ~TrendChart() override;

    // The oldest sample goes when the limit is reached.
    void addSample(const TrendSample &sample);
    const std::deque<TrendSample> &samples() const { return samples_; }

    // The chart under `parent`, made on the first call; null before.
    QWidget *makeView(QWidget *parent);
    QWidget *view() const;

    // The samples as CSV (trafficexport::trendCsv).
    bool saveCsv(const QString &path, QString *error) const;
    // The texts made here, in the language now chosen.
    void retranslate();

private:
    void redraw();

    struct Chart;
    std::unique_ptr<Chart> chart_;
    std::deque<TrendSample> samples_;
    // "Separate lanes" (`TrendLanes`, the chart's context menu): each line in
    // a band of its own, else on shared ground.
    QAction *lanes_;
};
