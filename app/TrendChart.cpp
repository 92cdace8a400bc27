// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrendChart.h"

#include <QAction>
#include <QDateTime>
#include <QFont>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <array>
#include <cmath>

#include "Captions.h"
#include "HartUnits.h"
#include "TrafficExport.h"

namespace {
const char *const kVariableNames[] = {"PV", "SV", "TV", "QV"};
}

struct TrendChart::Chart {
    QChartView *view = nullptr;
    QChart *chart = nullptr;
    QDateTimeAxis *timeAxis = nullptr;
    std::array<QLineSeries *, 5> series{}; // PV, SV, TV, QV, loop current
    std::array<QValueAxis *, 5> axes{};
};

TrendChart::TrendChart(QObject *parent) : QObject(parent)
{
    lanes_ = new QAction(this);
    lanes_->setObjectName(QStringLiteral("TrendLanes"));
    captions::set(lanes_, QT_TRANSLATE_NOOP("Window", "Separate lanes"));
    lanes_->setCheckable(true);
    lanes_->setChecked(true);
    connect(lanes_, &QAction::toggled, this, &TrendChart::redraw);
}

TrendChart::~TrendChart() = default;

void TrendChart::addSample(const TrendSample &sample)
{
    samples_.push_back(sample);
    if (samples_.size() > kSampleLimit)
        samples_.pop_front();
    redraw();
}

QWidget *TrendChart::view() const
{
    return chart_ ? chart_->view : nullptr;
}

QWidget *TrendChart::makeView(QWidget *parent)
{
    if (chart_)
        return chart_->view;
    chart_ = std::make_unique<Chart>();
    Chart &c = *chart_;
    c.chart = new QChart;
    c.chart->setMargins(QMargins(4, 4, 4, 4));
    c.chart->legend()->setAlignment(Qt::AlignBottom);
    QFont legendFont = c.chart->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    c.chart->legend()->setFont(legendFont);
    c.timeAxis = new QDateTimeAxis;
    c.timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    c.timeAxis->setTickCount(4);
    c.chart->addAxis(c.timeAxis, Qt::AlignBottom);
    for (size_t i = 0; i < c.series.size(); ++i) {
        c.series[i] = new QLineSeries;
        c.series[i]->setName(i < 4 ? QString::fromLatin1(kVariableNames[i]) : tr("Loop current"));
        c.chart->addSeries(c.series[i]);
        c.axes[i] = new QValueAxis;
        c.axes[i]->setLabelFormat(QStringLiteral("%.4g"));
        c.axes[i]->setTickCount(3);
        QFont small = c.axes[i]->labelsFont();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        c.axes[i]->setLabelsFont(small);
        c.axes[i]->setTitleFont(small);
        c.axes[i]->setLinePenColor(c.series[i]->color());
        c.axes[i]->setLabelsColor(c.series[i]->color());
        // PV on the left, the loop current on the right. Each other variable
        // keeps its own scale too, but five scales do not fit beside a
        // small chart: their units are in the legend.
        c.chart->addAxis(c.axes[i], i == 4 ? Qt::AlignRight : Qt::AlignLeft);
        c.axes[i]->setVisible(i == 0 || i == 4);
        c.series[i]->attachAxis(c.timeAxis);
        c.series[i]->attachAxis(c.axes[i]);
    }
    c.axes[4]->setTitleText(captions::text(QT_TRANSLATE_NOOP("Window", "mA")));
    c.view = new QChartView(c.chart, parent);
    c.view->setObjectName(QStringLiteral("HartTrend"));
    c.view->setRenderHint(QPainter::Antialiasing);
    c.view->setContextMenuPolicy(Qt::ActionsContextMenu);
    c.view->addAction(lanes_);
    redraw();
    return c.view;
}

bool TrendChart::saveCsv(const QString &path, QString *error) const
{
    return trafficexport::writeFile(path, trafficexport::trendCsv(samples_), error);
}

void TrendChart::retranslate()
{
    redraw();
}

void TrendChart::redraw()
{
    if (!chart_) // not opened yet: the samples wait
        return;
    Chart &c = *chart_;
    const auto now = std::chrono::system_clock::now();
    // The last ten minutes, or less while there is less to show.
    auto from = now - std::chrono::seconds(kWindowSeconds);
    if (!samples_.empty() && samples_.front().time > from)
        from = std::min(samples_.front().time, now - std::chrono::seconds(10));
    auto msecs = [](std::chrono::system_clock::time_point t) {
        return double(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    std::array<QList<QPointF>, 5> points;
    std::array<double, 5> lo, hi;
    lo.fill(INFINITY);
    hi.fill(-INFINITY);
    std::array<int, 4> unit{-1, -1, -1, -1};
    auto add = [&](size_t i, double x, double y) {
        if (!std::isfinite(y))
            return;
        points[i].append(QPointF(x, y));
        lo[i] = std::min(lo[i], y);
        hi[i] = std::max(hi[i], y);
    };
    for (auto it = std::lower_bound(samples_.begin(), samples_.end(), from,
                                    [](const TrendSample &s, auto t) { return s.time < t; });
         it != samples_.end(); ++it) {
        const double x = msecs(it->time);
        for (int i = 0; i < it->variableCount; ++i) {
            add(size_t(i), x, double(it->values[size_t(i)]));
            unit[size_t(i)] = it->units[size_t(i)];
        }
        add(4, x, double(it->loopCurrent));
    }
    const bool lanes = lanes_->isChecked();
    for (size_t i = 0; i < c.series.size(); ++i) {
        c.series[i]->replace(points[i]);
        if (lo[i] > hi[i]) {
            lo[i] = 0;
            hi[i] = 1;
        }
        const double pad = std::max((hi[i] - lo[i]) * 0.05, std::abs(hi[i]) * 0.001 + 1e-6);
        if (lanes) {
            // Each line in its own band, top to bottom, scaled to its own
            // range: equal or constant values cannot hide one another.
            const double bandLo = double(c.series.size() - 1 - i) / double(c.series.size()) + 0.02;
            const double bandHi = bandLo + 1.0 / double(c.series.size()) - 0.04;
            const double span = (hi[i] - lo[i] + 2 * pad) / (bandHi - bandLo);
            const double bottom = lo[i] - pad - bandLo * span;
            c.axes[i]->setRange(bottom, bottom + span);
        } else {
            c.axes[i]->setRange(lo[i] - pad, hi[i] + pad);
        }
        // Lane positions are no scale to read values from.
        c.axes[i]->setLabelsVisible(!lanes);
        if (i < 4) {
            const QString symbol = unit[i] < 0 ? QString() : QString::fromUtf8(hart::unitSymbol(uint8_t(unit[i])));
            c.axes[i]->setTitleText(QString::fromLatin1(kVariableNames[i])
                                    + (symbol.isEmpty() ? QString() : QStringLiteral(" (") + symbol + QLatin1Char(')')));
            c.series[i]->setName(c.axes[i]->titleText());
            c.axes[i]->setTitleVisible(true);
        }
    }
    c.series[4]->setName(tr("Loop current (mA)"));
    c.timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(msecs(from))),
                         QDateTime::fromMSecsSinceEpoch(qint64(msecs(now))));
}
