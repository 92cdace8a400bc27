// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficMonitor.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "Captions.h"
#include "ConfigMeaning.h"
#include "HartAnnotate.h"
#include "TrafficExport.h"

namespace {

constexpr int kAreaHeight = 260;
constexpr size_t kReplyKeep = 4096; // a reply longer than this is noise anyway

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string latin1(const QByteArray &b)
{
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

} // namespace

TrafficMonitor::TrafficMonitor(QWidget *window, QWidget *hartBox, Hooks hooks) : QObject(window), window_(window)
{
    buildMonitorArea();
    Trend = new TrendChart(this);
    Status = new StatusLine(window, hooks.port);
    Watch = new HartWatch(hartBox, {.portOpen = std::move(hooks.port.open),
                                    .busy = std::move(hooks.exchangeBusy),
                                    .query = std::move(hooks.readHartVariables),
                                    .error = [this](const QString &text) { error(text); },
                                    .sample = [this](const TrendSample &s) { Trend->addSample(s); }});
}

// ------------------------------------------------------------------ layout

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
        QWidget *view = Trend->view();
        if (on && !view) {
            view = Trend->makeView(MonitorArea);
            MonitorArea->addWidget(view);
            MonitorArea->setStretchFactor(MonitorArea->indexOf(view), 4);
            MonitorArea->setSizes({5000, 4000});
        }
        setPanelVisible(view, on);
    });
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
        Status->countSent(size);
    lastKind_ = kind;
    reply_.clear();
    Model->append(std::move(row));
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
    Status->countReceived(size);
    Model->append(std::move(row));
}

void TrafficMonitor::hartDecoded(int command, const uint8_t *rx, size_t size)
{
    // The whole reply since the request: a reply split into chunks still
    // shows what the instrument said.
    if (!reply_.isEmpty())
        Watch->decoded(command, reinterpret_cast<const uint8_t *>(reply_.constData()), size_t(reply_.size()));
    else
        Watch->decoded(command, rx, size);
}

void TrafficMonitor::portOpened()
{
    Status->portOpened();
}

void TrafficMonitor::portClosed()
{
    Watch->stop();
    Status->portClosed();
}

void TrafficMonitor::portLost()
{
    Watch->stop();
    Status->portLost();
}

void TrafficMonitor::error(const QString &text)
{
    Status->error(text);
}

void TrafficMonitor::retranslate()
{
    Status->retranslate();
    Watch->retranslate();
    emit Model->headerDataChanged(Qt::Horizontal, 0, TrafficModel::ColumnCount - 1);
    Trend->retranslate();
}

void TrafficMonitor::portChoiceChanged()
{
    Status->portChoiceChanged();
}

// ------------------------------------------------------------------- files

bool TrafficMonitor::saveTraffic(const QString &path, QString *error) const
{
    const std::vector<TrafficRow> rows = Model->rows();
    if (QFileInfo(path).suffix().compare(QStringLiteral("pcap"), Qt::CaseInsensitive) == 0) {
#ifdef NX_HAVE_CAPTURE
        std::string message;
        if (!capture::writePcap(path.toStdString(), trafficexport::captureRecords(rows), &message)) {
            *error = QString::fromStdString(message);
            return false;
        }
        return true;
#else
        *error = tr("This build cannot write pcap files; save as .log instead.");
        return false;
#endif
    }
    return trafficexport::writeFile(path, trafficexport::trafficLog(rows), error);
}

bool TrafficMonitor::saveTrend(const QString &path, QString *error) const
{
    return Trend->saveCsv(path, error);
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
