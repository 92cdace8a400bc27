// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficMonitor.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFont>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSaveFile>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <set>

#include "Captions.h"
#include "ConfigMeaning.h"
#include "HartAnnotate.h"
#include "HartUnits.h"
#include "MonitorHost.h"
#include "Widgets.h"
#ifdef NX_HAVE_CAPTURE
#include "TrafficCapture.h"
#endif

namespace {

constexpr int kAreaHeight = 260;
constexpr size_t kReplyKeep = 4096; // a reply longer than this is noise anyway
constexpr int kWatchDefaultSeconds = 2;
constexpr int kWatchRetryMs = 100;
const char *const kVariableNames[] = {"PV", "SV", "TV", "QV"};

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string latin1(const QByteArray &b)
{
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

void setFault(QLabel *label, bool fault)
{
    label->setStyleSheet(fault ? QStringLiteral("color: #C00000; font-weight: bold;") : QString());
}

} // namespace

TrafficMonitor::TrafficMonitor(QWidget *window, MonitorHost &host) : QObject(window), window_(window), host_(host)
{
    buildMonitorArea();
    buildStatusBar();
    watchTimer_.setInterval(kWatchDefaultSeconds * 1000);
    connect(&watchTimer_, &QTimer::timeout, this, &TrafficMonitor::watchTick);
    watchRetry_.setSingleShot(true);
    watchRetry_.setInterval(kWatchRetryMs);
    connect(&watchRetry_, &QTimer::timeout, this, [this] {
        if (WatchHart->isChecked())
            watchTick();
    });
}

// ------------------------------------------------------------------ layout

void TrafficMonitor::addDiagnostics(QWidget *box, QGridLayout *grid, QPushButton *query)
{
    HartLoopCurrent = new QLineEdit(box);
    HartLoopCurrent->setObjectName(QStringLiteral("HartLoopCurrent"));
    HartLoopCurrent->setReadOnly(true);
    HartStatus = new QLabel(box);
    HartStatus->setObjectName(QStringLiteral("HartStatus"));
    WatchHart = new QCheckBox(box);
    captions::set(WatchHart, QT_TRANSLATE_NOOP("Window", "Watch"));
    WatchHart->setObjectName(QStringLiteral("WatchHart"));
    WatchInterval = new QSpinBox(box);
    WatchInterval->setObjectName(QStringLiteral("WatchInterval"));
    WatchInterval->setRange(1, 60);
    WatchInterval->setValue(kWatchDefaultSeconds);
    WatchInterval->setSuffix(tr(" s"));
    captions::setToolTip(WatchInterval, QT_TRANSLATE_NOOP("Window", "Seconds between two queries while Watch is checked"));

    // The diagnostics take the query button's row, under the variables;
    // the button moves one row down with the watch controls beside it.
    const int buttonRow = 4;
    // Tighter rows keep the group as high as its neighbour was, so the form
    // keeps its size.
    grid->setVerticalSpacing(2);
    grid->removeWidget(query);
    auto *current = new QHBoxLayout;
    current->addWidget(HartLoopCurrent, 1);
    auto *unit = new QLabel(box);
    captions::set(unit, QT_TRANSLATE_NOOP("Window", "mA"));
    current->addWidget(unit);
    auto *currentCaption = new QLabel(box);
    captions::set(currentCaption, QT_TRANSLATE_NOOP("Window", "Loop current:"));
    grid->addWidget(currentCaption, buttonRow, 0);
    grid->addLayout(current, buttonRow, 1);
    // Long fault texts must not widen the group: the full text is the tooltip.
    HartStatus->setWordWrap(false);
    HartStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(HartStatus, buttonRow, 2, 1, 2);
    auto *queryRow = new QHBoxLayout;
    queryRow->addWidget(query, 1);
    queryRow->addWidget(WatchHart);
    queryRow->addWidget(WatchInterval);
    grid->addLayout(queryRow, buttonRow + 1, 0, 1, 4);
    connect(WatchHart, &QCheckBox::toggled, this, &TrafficMonitor::watchToggled);
    connect(WatchInterval, &QSpinBox::valueChanged, this, [this](int s) { watchTimer_.setInterval(s * 1000); });
}

void TrafficMonitor::buildMonitorArea()
{
    Model = new TrafficModel(this);
    MonitorArea = new QSplitter(Qt::Horizontal, window_);
    MonitorArea->setObjectName(QStringLiteral("MonitorArea"));

    // The table and the chart are made when first shown: a window that
    // never opens them starts without Qt Charts' scene and the table view.
    // The rows are kept from the start, so the table shows them all.
    // Follow the newest rows unless the engineer scrolled up to read.
    connect(Model, &TrafficModel::rowsAboutToBeInserted, this, [this] {
        if (!TrafficLog)
            return;
        auto *bar = TrafficLog->verticalScrollBar();
        TrafficLog->setProperty("follow", bar->value() >= bar->maximum() - 1);
    });
    connect(Model, &TrafficModel::batchAppended, this, [this] {
        if (TrafficLog && TrafficLog->isVisible() && TrafficLog->property("follow").toBool())
            TrafficLog->scrollToBottom();
    });

    TrendLanes = new QAction(this);
    TrendLanes->setObjectName(QStringLiteral("TrendLanes"));
    captions::set(TrendLanes, QT_TRANSLATE_NOOP("Window", "Separate lanes"));
    TrendLanes->setCheckable(true);
    TrendLanes->setChecked(true);
    connect(TrendLanes, &QAction::toggled, this, &TrafficMonitor::redrawTrend);
    MonitorArea->hide();
    MonitorArea->setFixedHeight(kAreaHeight);
}

void TrafficMonitor::makeTrafficLog()
{
    // The table with a details line under it: the Meaning of the chosen row
    // in full, wrapped, however narrow its column.
    TrafficPanel = new QWidget(MonitorArea);
    auto *box = new QVBoxLayout(TrafficPanel);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(2);
    TrafficLog = new QTableView(TrafficPanel);
    TrafficLog->setObjectName(QStringLiteral("TrafficLog"));
    TrafficLog->setModel(Model);
    TrafficLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    TrafficLog->setWordWrap(false);
    TrafficLog->setAlternatingRowColors(true);
    // Fixed row heights and column widths: with 100,000 rows nothing may be
    // measured per row.
    TrafficLog->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TrafficLog->verticalHeader()->setDefaultSectionSize(TrafficLog->fontMetrics().height() + 4);
    TrafficLog->verticalHeader()->hide();
    TrafficLog->horizontalHeader()->setStretchLastSection(true);
    const int digit = TrafficLog->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {13, 9, 6, 24, 12};
    for (int c = 0; c < 5; ++c)
        TrafficLog->setColumnWidth(c, widths[c] * digit);
    TrafficLog->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *copy = new QAction(TrafficLog);
    captions::set(copy, QT_TRANSLATE_NOOP("Window", "Copy rows"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &TrafficMonitor::copyRows);
    auto *clear = new QAction(TrafficLog);
    captions::set(clear, QT_TRANSLATE_NOOP("Window", "Clear"));
    connect(clear, &QAction::triggered, Model, &TrafficModel::clear);
    TrafficLog->addAction(copy);
    TrafficLog->addAction(clear);
    TrafficDetails = new QLabel(TrafficPanel);
    TrafficDetails->setObjectName(QStringLiteral("TrafficDetails"));
    TrafficDetails->setWordWrap(true);
    TrafficDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TrafficDetails->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    TrafficDetails->setFixedHeight(TrafficDetails->fontMetrics().lineSpacing() * 3 + 4);
    connect(TrafficLog->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                TrafficDetails->setText(current.isValid() ? TrafficModel::cellText(Model->row(current.row()),
                                                                                   TrafficModel::MeaningColumn)
                                                          : QString());
            });
    box->addWidget(TrafficLog, 1);
    box->addWidget(TrafficDetails);
    MonitorArea->insertWidget(0, TrafficPanel);
    MonitorArea->setStretchFactor(0, 5);
    Model->flush();
}

void TrafficMonitor::makeTrend()
{
    chart_ = new QChart;
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    QFont legendFont = chart_->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    chart_->legend()->setFont(legendFont);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("hh:mm:ss"));
    timeAxis_->setTickCount(4);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    for (size_t i = 0; i < series_.size(); ++i) {
        series_[i] = new QLineSeries;
        series_[i]->setName(i < 4 ? QString::fromLatin1(kVariableNames[i]) : tr("Loop current"));
        chart_->addSeries(series_[i]);
        axes_[i] = new QValueAxis;
        axes_[i]->setLabelFormat(QStringLiteral("%.4g"));
        axes_[i]->setTickCount(3);
        QFont small = axes_[i]->labelsFont();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        axes_[i]->setLabelsFont(small);
        axes_[i]->setTitleFont(small);
        axes_[i]->setLinePenColor(series_[i]->color());
        axes_[i]->setLabelsColor(series_[i]->color());
        // PV on the left, the loop current on the right. Each other variable
        // keeps its own scale too, but five scales do not fit beside a
        // small chart: their units are in the legend.
        chart_->addAxis(axes_[i], i == 4 ? Qt::AlignRight : Qt::AlignLeft);
        axes_[i]->setVisible(i == 0 || i == 4);
        series_[i]->attachAxis(timeAxis_);
        series_[i]->attachAxis(axes_[i]);
    }
    axes_[4]->setTitleText(captions::text(QT_TRANSLATE_NOOP("Window", "mA")));
    HartTrend = new QChartView(chart_, MonitorArea);
    HartTrend->setObjectName(QStringLiteral("HartTrend"));
    HartTrend->setRenderHint(QPainter::Antialiasing);
    HartTrend->setContextMenuPolicy(Qt::ActionsContextMenu);
    HartTrend->addAction(TrendLanes);
    MonitorArea->addWidget(HartTrend);
    MonitorArea->setStretchFactor(MonitorArea->indexOf(HartTrend), 4);
    MonitorArea->setSizes({5000, 4000});
    redrawTrend();
}

void TrafficMonitor::addMenus(QMenuBar *bar, QMenu *file, QAction *before)
{
    SaveTrafficAction = new QAction(window_);
    captions::set(SaveTrafficAction, QT_TRANSLATE_NOOP("Window", "Save &Traffic..."));
    SaveTrafficAction->setObjectName(QStringLiteral("SaveTrafficAction"));
    SaveTrendAction = new QAction(window_);
    captions::set(SaveTrendAction, QT_TRANSLATE_NOOP("Window", "Save T&rend..."));
    SaveTrendAction->setObjectName(QStringLiteral("SaveTrendAction"));
    connect(SaveTrafficAction, &QAction::triggered, this, &TrafficMonitor::saveTrafficAs);
    connect(SaveTrendAction, &QAction::triggered, this, &TrafficMonitor::saveTrendAs);
    file->insertAction(before, SaveTrafficAction);
    file->insertAction(before, SaveTrendAction);
    file->insertSeparator(before);

    ViewMenu = bar->addMenu(QString());
    captions::set(ViewMenu, QT_TRANSLATE_NOOP("Window", "&View"));
    ViewMenu->setObjectName(QStringLiteral("ViewMenu"));
    TrafficAction = ViewMenu->addAction(QString());
    captions::set(TrafficAction, QT_TRANSLATE_NOOP("Window", "&Traffic"));
    TrafficAction->setObjectName(QStringLiteral("TrafficAction"));
    TrafficAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    TrafficAction->setCheckable(true);
    TrendAction = ViewMenu->addAction(QString());
    captions::set(TrendAction, QT_TRANSLATE_NOOP("Window", "HART T&rend"));
    TrendAction->setObjectName(QStringLiteral("TrendAction"));
    TrendAction->setCheckable(true);
    ViewMenu->addSeparator();
    captions::addLanguageMenu(ViewMenu);
    connect(TrafficAction, &QAction::toggled, this, [this](bool on) {
        if (on && !TrafficLog)
            makeTrafficLog();
        setPanelVisible(TrafficPanel, on);
    });
    connect(TrendAction, &QAction::toggled, this, [this](bool on) {
        if (on && !HartTrend)
            makeTrend();
        setPanelVisible(HartTrend, on);
    });
}

void TrafficMonitor::buildStatusBar()
{
    StatusBar = new QStatusBar(window_);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setContentsMargins(0, 0, 0, 0);
    PortState = new QLabel(StatusBar);
    PortState->setObjectName(QStringLiteral("PortState"));
    ByteCounts = new QLabel(StatusBar);
    ByteCounts->setObjectName(QStringLiteral("ByteCounts"));
    // A long error must not widen the window: elided, in full in the tooltip.
    LastError = new ElidedLabel(StatusBar);
    LastError->setObjectName(QStringLiteral("LastError"));
    StatusBar->addWidget(PortState);
    StatusBar->addWidget(ByteCounts);
    StatusBar->addWidget(LastError, 1);
    showPortState(QT_TRANSLATE_NOOP("Window", "Closed"));
    showByteCounts();
}

void TrafficMonitor::setPanelVisible(QWidget *panel, bool on)
{
    const bool wasShown = MonitorArea->isVisibleTo(window_);
    if (panel)
        panel->setVisible(on);
    const bool show = TrafficAction->isChecked() || TrendAction->isChecked();
    if (show == wasShown)
        return;
    // The form's own controls keep their size: the window grows by the area
    // (the layout may already have stretched it to the new minimum).
    const int before = window_->height();
    MonitorArea->setVisible(show);
    window_->layout()->activate();
    if (!window_->isMaximized() && !window_->isFullScreen()) {
        const int delta = kAreaHeight + window_->layout()->spacing();
        window_->resize(window_->width(),
                        std::max(before + (show ? delta : -delta), window_->minimumSizeHint().height()));
    }
    if (show && TrafficLog && TrafficLog->isVisible())
        TrafficLog->scrollToBottom();
}

// ------------------------------------------------------------------- hooks

void TrafficMonitor::sent(const uint8_t *bytes, size_t size, TrafficRow::Kind kind, bool written)
{
    TrafficRow row;
    row.time = std::chrono::system_clock::now();
    row.direction = TrafficRow::Sent;
    row.kind = kind;
    row.bytes = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
    row.meaning = fromStd(kind == TrafficRow::Hart ? hart::describe(bytes, size)
                                                   : exchange::describeRequest(latin1(row.bytes)));
    if (!written)
        row.meaning += tr(" (not written: the port is not open)");
    else
        bytesSent_ += size;
    lastKind_ = kind;
    reply_.clear();
    Model->append(std::move(row));
    showByteCounts();
}

void TrafficMonitor::received(const uint8_t *bytes, size_t size)
{
    TrafficRow row;
    row.time = std::chrono::system_clock::now();
    row.direction = TrafficRow::Received;
    row.kind = lastKind_;
    row.bytes = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const bool continued = !reply_.isEmpty();
    if (reply_.size() + row.bytes.size() > qsizetype(kReplyKeep))
        reply_.clear();
    reply_ += row.bytes;
    const auto *all = reinterpret_cast<const uint8_t *>(reply_.constData());
    const std::string meaning = lastKind_ == TrafficRow::Hart ? hart::describe(all, size_t(reply_.size()))
                                                              : exchange::describeReply(latin1(reply_));
    row.meaning = (continued ? tr("with the chunk before: ") : QString()) + fromStd(meaning);
    bytesReceived_ += size;
    Model->append(std::move(row));
    showByteCounts();
}

void TrafficMonitor::hartDecoded(int command, const uint8_t *rx, size_t size)
{
    const QString prefix = tr("Command %1: ").arg(command);
    // The whole reply since the request: a reply split into chunks still
    // shows what the instrument said.
    if (!reply_.isEmpty()) {
        rx = reinterpret_cast<const uint8_t *>(reply_.constData());
        size = size_t(reply_.size());
    }
    // Only a valid frame is read; without one the line and the status bar
    // say what the candidate lacked.
    const hart::FoundReply found = hart::findReply(rx, size);
    const auto &info = found.frame;
    if (!info) {
        const bool broken = found.fault != hart::ReplyFault::NotFound;
        HartStatus->setText(found.fault == hart::ReplyFault::ChecksumError ? tr("HART reply checksum error")
                            : found.fault == hart::ReplyFault::CutShort    ? tr("HART reply cut short")
                                                                           : tr("No complete reply frame"));
        HartStatus->setToolTip(prefix + HartStatus->text());
        setFault(HartStatus, broken);
        if (broken)
            error(prefix + HartStatus->text());
        if (command == 3)
            HartLoopCurrent->clear();
        return;
    }
    // All well fits in two words; anything else is spelled out (in full in
    // the tooltip when the line is too short for it).
    const bool allWell = info->responseCode == 0 && info->deviceStatus == 0;
    const QString line = fromStd(hart::statusLine(*info));
    HartStatus->setText(allWell ? tr("Status: OK") : line);
    HartStatus->setToolTip(prefix + line);
    setFault(HartStatus, hart::reportsFault(*info));
    if (command != 3)
        return;
    // A communication error carries no data.
    const hart::DynamicVariables v = info->responseCode && !info->communicationError() && info->command == 3
        ? hart::command3Data(info->data.data(), info->data.size())
        : hart::DynamicVariables{};
    if (!v.loopCurrent) {
        HartLoopCurrent->clear();
        return;
    }
    HartLoopCurrent->setText(QString::number(double(*v.loopCurrent), 'f', 3));
    TrendSample s;
    s.time = std::chrono::system_clock::now();
    s.loopCurrent = *v.loopCurrent;
    s.variableCount = int(v.variables.size());
    for (size_t i = 0; i < v.variables.size(); ++i) {
        s.values[i] = v.variables[i].value;
        s.units[i] = v.variables[i].unitCode;
    }
    addSample(s);
}

void TrafficMonitor::portOpened()
{
    bytesSent_ = bytesReceived_ = 0;
    // A fresh session: the error of the last one (a lost port) is over.
    LastError->clear();
    LastError->setToolTip(QString());
    showPortState(QT_TRANSLATE_NOOP("Window", "Open"));
    showByteCounts();
}

void TrafficMonitor::portClosed()
{
    WatchHart->setChecked(false);
    showPortState(QT_TRANSLATE_NOOP("Window", "Closed"));
}

void TrafficMonitor::portLost()
{
    WatchHart->setChecked(false);
    showPortState(QT_TRANSLATE_NOOP("Window", "Lost"));
}

void TrafficMonitor::error(const QString &text)
{
    const QString line = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
    LastError->setText(tr("Last error: ") + line);
    LastError->setToolTip(text);
}

void TrafficMonitor::retranslate()
{
    if (portState_)
        showPortState(portState_);
    showByteCounts();
    WatchInterval->setSuffix(tr(" s"));
    emit Model->headerDataChanged(Qt::Horizontal, 0, TrafficModel::ColumnCount - 1);
    redrawTrend();
}

void TrafficMonitor::portChoiceChanged()
{
    // Before Open the status names the port in the box, not the last one used.
    if (!host_.portOpen() && portState_)
        showPortState(portState_);
}

void TrafficMonitor::showPortState(const char *state)
{
    portState_ = state;
    // An open port shows its framing too.
    const QString framing = host_.portOpen() ? QLatin1Char(' ') + host_.framing() : QString();
    PortState->setText(host_.portName() + QStringLiteral(": ") + captions::text(state) + framing);
}

void TrafficMonitor::showByteCounts()
{
    ByteCounts->setText(tr("Sent %1 bytes, received %2 bytes").arg(bytesSent_).arg(bytesReceived_));
}

// ------------------------------------------------------------------- watch

void TrafficMonitor::watchToggled(bool on)
{
    if (!on) {
        watchTimer_.stop();
        watchRetry_.stop();
        return;
    }
    if (!host_.portOpen()) {
        WatchHart->setChecked(false);
        error(tr("Watch needs an open port."));
        return;
    }
    watchTimer_.start(WatchInterval->value() * 1000);
    watchTick();
}

void TrafficMonitor::watchTick()
{
    // A message box waiting for the engineer must not be joined by another
    // one every few seconds.
    if (QApplication::activeModalWidget() != nullptr)
        return;
    // A new query while the last reply is still awaited or not yet decoded
    // would take that reply's decoding away; ask again once it is through.
    if (host_.exchangeBusy()) {
        watchRetry_.start();
        return;
    }
    if (!host_.readHartVariables()) {
        WatchHart->setChecked(false);
        error(tr("Watch needs the device read first (HART Device Parameter Query)."));
    }
}

// ------------------------------------------------------------------- trend

void TrafficMonitor::addSample(const TrendSample &sample)
{
    samples_.push_back(sample);
    if (samples_.size() > kTrendSampleLimit)
        samples_.pop_front();
    redrawTrend();
}

void TrafficMonitor::redrawTrend()
{
    if (!chart_) // not opened yet: the samples wait
        return;
    const auto now = std::chrono::system_clock::now();
    // The last ten minutes, or less while there is less to show.
    auto from = now - std::chrono::seconds(kTrendWindowSeconds);
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
    for (size_t i = 0; i < series_.size(); ++i) {
        series_[i]->replace(points[i]);
        if (lo[i] > hi[i]) {
            lo[i] = 0;
            hi[i] = 1;
        }
        const double pad = std::max((hi[i] - lo[i]) * 0.05, std::abs(hi[i]) * 0.001 + 1e-6);
        if (TrendLanes->isChecked()) {
            // Each line in its own band, top to bottom, scaled to its own
            // range: equal or constant values cannot hide one another.
            const double bandLo = double(series_.size() - 1 - i) / double(series_.size()) + 0.02;
            const double bandHi = bandLo + 1.0 / double(series_.size()) - 0.04;
            const double span = (hi[i] - lo[i] + 2 * pad) / (bandHi - bandLo);
            const double from = lo[i] - pad - bandLo * span;
            axes_[i]->setRange(from, from + span);
        } else {
            axes_[i]->setRange(lo[i] - pad, hi[i] + pad);
        }
        // Lane positions are no scale to read values from.
        axes_[i]->setLabelsVisible(!TrendLanes->isChecked());
        if (i < 4) {
            const QString symbol = unit[i] < 0 ? QString() : QString::fromUtf8(hart::unitSymbol(uint8_t(unit[i])));
            axes_[i]->setTitleText(QString::fromLatin1(kVariableNames[i])
                                   + (symbol.isEmpty() ? QString() : QStringLiteral(" (") + symbol + QLatin1Char(')')));
            series_[i]->setName(axes_[i]->titleText());
            axes_[i]->setTitleVisible(true);
        }
    }
    series_[4]->setName(tr("Loop current (mA)"));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(qint64(msecs(from))),
                        QDateTime::fromMSecsSinceEpoch(qint64(msecs(now))));
}

// ------------------------------------------------------------------- files

bool TrafficMonitor::saveTraffic(const QString &path, QString *error) const
{
    const std::vector<TrafficRow> rows = Model->rows();
    if (QFileInfo(path).suffix().compare(QStringLiteral("pcap"), Qt::CaseInsensitive) == 0) {
#ifdef NX_HAVE_CAPTURE
        std::vector<capture::Record> records;
        records.reserve(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const TrafficRow &r = rows[i];
            capture::Record rec{r.time,
                                r.direction == TrafficRow::Sent ? capture::Direction::Sent : capture::Direction::Received,
                                r.kind == TrafficRow::Hart ? capture::Payload::Hart : capture::Payload::Config,
                                std::vector<uint8_t>(r.bytes.begin(), r.bytes.end())};
            // A HART reply that came in several chunks is one frame on the wire.
            while (r.kind == TrafficRow::Hart && r.direction == TrafficRow::Received && i + 1 < rows.size()
                   && rows[i + 1].kind == TrafficRow::Hart && rows[i + 1].direction == TrafficRow::Received) {
                const QByteArray &more = rows[++i].bytes;
                rec.bytes.insert(rec.bytes.end(), more.begin(), more.end());
            }
            records.push_back(std::move(rec));
        }
        std::string message;
        if (!capture::writePcap(path.toStdString(), records, &message)) {
            *error = QString::fromStdString(message);
            return false;
        }
        return true;
#else
        *error = tr("This build cannot write pcap files; save as .log instead.");
        return false;
#endif
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QByteArray out = "Time\tDirection\tLength\tHex\tText\tMeaning\n";
    for (const TrafficRow &r : rows) {
        for (int c = 0; c < TrafficModel::ColumnCount; ++c) {
            // Tabs and line breaks inside a cell would break the columns.
            QString cell = TrafficModel::cellText(r, c, true);
            cell.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
            out += cell.toUtf8();
            out += c + 1 < TrafficModel::ColumnCount ? '\t' : '\n';
        }
    }
    if (file.write(out) != out.size() || !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool TrafficMonitor::saveTrend(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QByteArray out = "time,loop current (mA),PV,PV unit,SV,SV unit,TV,TV unit,QV,QV unit\n";
    for (const TrendSample &s : samples_) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(s.time.time_since_epoch()).count();
        out += QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODateWithMs).toUtf8();
        out += ',' + QByteArray::number(double(s.loopCurrent), 'g', 7);
        for (int i = 0; i < 4; ++i) {
            if (i < s.variableCount)
                out += ',' + QByteArray::number(double(s.values[size_t(i)]), 'g', 7) + ",\""
                       + QByteArray(hart::unitName(s.units[size_t(i)])).replace('"', "\"\"") + '"';
            else
                out += ",,";
        }
        out += '\n';
    }
    if (file.write(out) != out.size() || !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

void TrafficMonitor::copyRows()
{
    const QModelIndexList selected = TrafficLog->selectionModel()->selectedRows();
    std::set<int> rows;
    for (const QModelIndex &i : selected)
        rows.insert(i.row());
    QString text;
    for (int r : rows) {
        for (int c = 0; c < TrafficModel::ColumnCount; ++c)
            text += TrafficModel::cellText(Model->row(r), c) + (c + 1 < TrafficModel::ColumnCount ? u'\t' : u'\n');
    }
    QApplication::clipboard()->setText(text);
}

void TrafficMonitor::saveTrafficAs()
{
    Model->flush();
    QString filter;
#ifdef NX_HAVE_CAPTURE
    const QString filters = tr("Traffic log (*.log);;Wireshark capture (*.pcap)");
#else
    const QString filters = tr("Traffic log (*.log)");
#endif
    QString path = QFileDialog::getSaveFileName(window_, tr("Save Traffic"), QStringLiteral("traffic.log"),
                                                filters, &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += filter.contains(QStringLiteral("pcap")) ? QStringLiteral(".pcap") : QStringLiteral(".log");
    QString message;
    if (!saveTraffic(path, &message)) {
        error(message);
        QMessageBox::warning(window_, QStringLiteral("NX260-HGW"), message);
    }
}

void TrafficMonitor::saveTrendAs()
{
    QString path = QFileDialog::getSaveFileName(window_, tr("Save Trend"), QStringLiteral("trend.csv"),
                                                tr("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString message;
    if (!saveTrend(path, &message)) {
        error(message);
        QMessageBox::warning(window_, QStringLiteral("NX260-HGW"), message);
    }
}

QWidget *TrafficMonitor::area() const
{
    return MonitorArea;
}
