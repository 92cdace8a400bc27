// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficExport.h"

#include <QDateTime>
#include <QSaveFile>

#include "HartUnits.h"

namespace trafficexport {

QByteArray trafficLog(const std::vector<TrafficRow> &rows)
{
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
    return out;
}

#ifdef NX_HAVE_CAPTURE
std::vector<capture::Record> captureRecords(const std::vector<TrafficRow> &rows)
{
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
    return records;
}
#endif

QByteArray trendCsv(const std::deque<TrendSample> &samples)
{
    QByteArray out = "time,loop current (mA),PV,PV unit,SV,SV unit,TV,TV unit,QV,QV unit\n";
    for (const TrendSample &s : samples) {
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
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace trafficexport
