// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficModel.h"

#include "Captions.h"

#include <QDateTime>

#include <algorithm>

TrafficModel::TrafficModel(QObject *parent) : QAbstractTableModel(parent)
{
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(kBatchMs);
    connect(&batchTimer_, &QTimer::timeout, this, &TrafficModel::flush);
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TrafficModel::cellText(const TrafficRow &row, int column, bool withDate)
{
    switch (column) {
    case TimeColumn: {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(row.time.time_since_epoch()).count();
        return QDateTime::fromMSecsSinceEpoch(ms).toString(withDate ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")
                                                                    : QStringLiteral("hh:mm:ss.zzz"));
    }
    case DirectionColumn:
        return row.direction == TrafficRow::Sent ? QStringLiteral("sent") : QStringLiteral("received");
    case LengthColumn:
        return QString::number(row.bytes.size());
    case HexColumn:
        return QString::fromLatin1(row.bytes.toHex(' ').toUpper());
    case TextColumn: {
        QString text(row.bytes.size(), QLatin1Char('.'));
        for (qsizetype i = 0; i < row.bytes.size(); ++i) {
            const auto c = static_cast<unsigned char>(row.bytes[i]);
            if (c >= 0x20 && c < 0x7F)
                text[i] = QLatin1Char(static_cast<char>(c));
        }
        return text;
    }
    case MeaningColumn:
        return row.meaning;
    default:
        return {};
    }
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TrafficRow &r = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole || (role == Qt::ToolTipRole && index.column() >= HexColumn))
        return cellText(r, index.column());
    if (role == Qt::TextAlignmentRole && index.column() == LengthColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const names[] = {QT_TRANSLATE_NOOP("Window", "Time"),   QT_TRANSLATE_NOOP("Window", "Direction"),
                                        QT_TRANSLATE_NOOP("Window", "Length"), QT_TRANSLATE_NOOP("Window", "Hex"),
                                        QT_TRANSLATE_NOOP("Window", "Text"),   QT_TRANSLATE_NOOP("Window", "Meaning")};
    return section >= 0 && section < ColumnCount ? captions::text(names[section]) : QString();
}

void TrafficModel::append(TrafficRow row)
{
    pending_.push_back(std::move(row));
    if (!batchTimer_.isActive())
        batchTimer_.start();
}

void TrafficModel::flush()
{
    batchTimer_.stop();
    if (pending_.empty())
        return;
    // Only the newest kRowLimit of the queue can survive.
    auto first = pending_.begin();
    if (pending_.size() > static_cast<size_t>(kRowLimit))
        first = pending_.end() - kRowLimit;
    const int incoming = static_cast<int>(pending_.end() - first);
    const int overflow = static_cast<int>(rows_.size()) + incoming - kRowLimit;
    if (overflow > 0) {
        const int drop = std::min(overflow, static_cast<int>(rows_.size()));
        beginRemoveRows({}, 0, drop - 1);
        rows_.erase(rows_.begin(), rows_.begin() + drop);
        endRemoveRows();
    }
    const int start = static_cast<int>(rows_.size());
    beginInsertRows({}, start, start + incoming - 1);
    std::move(first, pending_.end(), std::back_inserter(rows_));
    endInsertRows();
    pending_.clear();
    emit batchAppended();
}

void TrafficModel::clear()
{
    batchTimer_.stop();
    pending_.clear();
    beginResetModel();
    rows_.clear();
    endResetModel();
}

std::vector<TrafficRow> TrafficModel::rows() const
{
    std::vector<TrafficRow> out(rows_.begin(), rows_.end());
    out.insert(out.end(), pending_.begin(), pending_.end());
    if (out.size() > static_cast<size_t>(kRowLimit))
        out.erase(out.begin(), out.end() - kRowLimit);
    return out;
}
