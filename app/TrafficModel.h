// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic monitor's rows: one per request sent and per chunk received,
// the newest kRowLimit kept. Appends are collected and handed to the view in
// batches, so a burst of rows costs the window one update, not one per row.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <vector>

struct TrafficRow {
    enum Direction : uint8_t { Sent, Received };
    enum Kind : uint8_t { Config, Hart };
    std::chrono::system_clock::time_point time;
    Direction direction = Sent;
    Kind kind = Config;
    QByteArray bytes;
    QString meaning;
};

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, LengthColumn, HexColumn, TextColumn, MeaningColumn, ColumnCount };
    static constexpr int kRowLimit = 100000;
    static constexpr int kBatchMs = 50;

    explicit TrafficModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Queued; shown with the next batch.
    void append(TrafficRow row);
    // Hands the queued rows to the view now.
    void flush();
    void clear();

    // Rows shown plus rows queued, oldest first.
    std::vector<TrafficRow> rows() const;
    const TrafficRow &row(int i) const { return rows_[static_cast<size_t>(i)]; }

    // One cell as text (the table and the saved log agree).
    static QString cellText(const TrafficRow &row, int column, bool withDate = false);

signals:
    void batchAppended();

private:
    std::deque<TrafficRow> rows_;
    std::vector<TrafficRow> pending_;
    QTimer batchTimer_;
};
