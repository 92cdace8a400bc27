// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's files as bytes: the traffic log, the traffic as capture
// records and the trend as CSV. Functions of the rows and samples only, so
// they are checked without a window; writeFile is the one step that touches
// the disk.
#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

#include "TrafficModel.h"
#include "TrendSample.h"
#ifdef NX_HAVE_CAPTURE
#include "TrafficCapture.h"
#endif

namespace trafficexport {

// Tab-separated, one line per row under a header line.
QByteArray trafficLog(const std::vector<TrafficRow> &rows);
#ifdef NX_HAVE_CAPTURE
// One record per row; a HART reply that came in several chunks is one frame.
std::vector<capture::Record> captureRecords(const std::vector<TrafficRow> &rows);
#endif
// time, loop current, then value and unit name of PV, SV, TV and QV.
QByteArray trendCsv(const std::deque<TrendSample> &samples);

// Replaces `path` with `bytes` in one step; false with the reason in `error`.
bool writeFile(const QString &path, const QByteArray &bytes, QString *error);

} // namespace trafficexport
