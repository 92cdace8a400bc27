// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic monitor, HART diagnostics, trend and status bar of the window,
// driven through the form's own send and receive paths (port closed, replies
// handed to the receive handler as the serial component would).
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QSplitter>
#include <QPushButton>
#include <QTableView>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "../FormLookup.h"
#include "NX260AB.h"
#include "TestSupport.h"
#include "TrafficExport.h"
#include "TrafficMonitor.h"

namespace {

// Command 3 reply, long frame, device status `status`, loop current 4.0 mA,
// PV 100 kg/h (75) and SV 0.1 degC (32); checksum appended (or spoilt).
QByteArray command3Reply(uint8_t status, bool goodChecksum = true)
{
    QByteArray f = QByteArray::fromHex("FFFFFF 86 B7 51 01E240 03 0C 00") + char(status)
                   + QByteArray::fromHex("40800000 4B 42C80000 20 3DCCCCCD");
    f[10] = char(f.size() - 11); // byte count: status .. last data byte
    char sum = 0;
    for (qsizetype i = 3; i < f.size(); ++i)
        sum = char(sum ^ f[i]);
    return f + char(goodChecksum ? sum : sum ^ 1);
}

void receive(TForm1 &w, const QByteArray &bytes)
{
    w.Comm1ReceiveData(w.Comm1.get(), reinterpret_cast<const uint8_t *>(bytes.constData()), uint16_t(bytes.size()));
}

QStringList column(const TrafficModel &m, int column)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.data(m.index(r, column), Qt::DisplayRole).toString();
    return out;
}

// Command 3 goes to the device command 0 found: this one, whose replies
// command3Reply() plays. The rows of that exchange are cleared again.
void learnIdentity(TForm1 &w)
{
    QTest::mouseClick(ui(w).Button7, Qt::LeftButton);
    QByteArray f = QByteArray::fromHex("FFFFFFFFFF 06 80 00 0E 00 00 FE 37 51 05 05 01 01 00 00 01 E2 40");
    char sum = 0;
    for (qsizetype i = 5; i < f.size(); ++i)
        sum = char(sum ^ f[i]);
    receive(w, f + sum);
    QTRY_COMPARE(w.Exchange.pendingReply, 0);
    QVERIFY(w.hartIdentity().has_value());
    w.Monitor->Model->flush();
    w.Monitor->Model->clear();
}

} // namespace

class TestTrafficMonitor : public QObject {
    Q_OBJECT
private slots:
    void panelsHiddenAtStartAndOpenedFromView()
    {
        TForm1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TrafficMonitor &m = *w.Monitor;
        const QSize start = w.size();
        QVERIFY(!m.TrafficLog && !w.findChild<QChartView *>("HartTrend")); // made when first opened
        QCOMPARE(m.TrafficAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
        QCOMPARE(ui(w).FileMenu->actions().indexOf(m.SaveTrafficAction) + 3, ui(w).FileMenu->actions().indexOf(ui(w).QuitAction));
        m.TrafficAction->trigger();
        m.TrendAction->trigger();
        QVERIFY(m.TrafficLog->isVisible() && w.findChild<QChartView *>("HartTrend")->isVisible());
        QVERIFY(w.height() > start.height());
        m.TrafficAction->trigger();
        m.TrendAction->trigger();
        QVERIFY(!m.MonitorArea->isVisible());
        QCOMPARE(w.size(), start);
    }

    // One row per request and per chunk, with meanings; diagnostics follow
    // the decoded reply and turn red on a fault or a bad checksum.
    void rowsAndDiagnostics()
    {
        TForm1 w(nullptr, TForm1Options{.receivePauseMs = 0});
        TrafficMonitor &m = *w.Monitor;
        learnIdentity(w);
        QTest::mouseClick(ui(w).Button9, Qt::LeftButton); // port closed: composed, not written
        QTest::mouseClick(ui(w).Button16, Qt::LeftButton);
        const QByteArray reply = command3Reply(0x80);
        receive(w, reply.left(10)); // split in two chunks
        receive(w, reply.mid(10));
        QTRY_COMPARE(w.Exchange.pendingReply, 0);
        m.Model->flush();
        QCOMPARE(column(*m.Model, TrafficModel::DirectionColumn), QStringList({"sent", "sent", "received", "received"}));
        const QStringList meaning = column(*m.Model, TrafficModel::MeaningColumn);
        QCOMPARE(meaning[0], QStringLiteral("Set RS485A: 9600 baud, None (not written: the port is not open)"));
        QVERIFY2(meaning[2].contains(QStringLiteral("incomplete frame")), qPrintable(meaning[2]));
        QVERIFY2(meaning[3].startsWith(QStringLiteral("with the chunk before:"))
                     && meaning[3].contains(QStringLiteral("device malfunction"))
                     && meaning[3].contains(QStringLiteral("PV 100 kilograms per hour")),
                 qPrintable(meaning[3]));
        QCOMPARE(column(*m.Model, TrafficModel::LengthColumn)[3], QString::number(reply.size() - 10));

        QCOMPARE(w.findChild<QLineEdit *>("HartLoopCurrent")->text(), QStringLiteral("4.000"));
        QVERIFY(w.findChild<QLabel *>("HartStatus")->text().contains(QStringLiteral("device malfunction")));
        QVERIFY(w.findChild<QLabel *>("HartStatus")->styleSheet().contains(QStringLiteral("color")));

        // Cold start is shown, not red; a bad checksum or a cut reply is red,
        // named in the status bar, and its values are not shown.
        const struct { QByteArray bytes; QString text; bool red; QString pv; } cases[] = {
            {command3Reply(0x20), QStringLiteral("Response: OK; status: cold start"), false, QStringLiteral("100")},
            {command3Reply(0x00), QStringLiteral("Status: OK"), false, QStringLiteral("100")},
            {command3Reply(0x00, false), QStringLiteral("HART reply checksum error"), true, QString()},
            {command3Reply(0x00).chopped(1), QStringLiteral("HART reply cut short"), true, QString()},
        };
        for (const auto &c : cases) {
            QTest::mouseClick(ui(w).Button16, Qt::LeftButton);
            receive(w, c.bytes);
            QTRY_COMPARE(w.Exchange.pendingReply, 0);
            QCOMPARE(w.findChild<QLabel *>("HartStatus")->text(), c.text);
            QCOMPARE(!w.findChild<QLabel *>("HartStatus")->styleSheet().isEmpty(), c.red);
            QCOMPARE(ui(w).Edit25->text(), c.pv);
            QCOMPARE(w.findChild<QLabel *>("LastError")->text().endsWith(c.text), c.red);
        }
        QCOMPARE(m.trendSamples().size(), size_t(3));

        // The trend, made when opened, puts each line in a band of its own.
        m.TrendAction->trigger();
        QVERIFY(w.findChild<QAction *>("TrendLanes")->isChecked());
        std::vector<std::pair<double, double>> bands;
        for (QAbstractSeries *a : w.findChild<QChartView *>("HartTrend")->chart()->series()) {
            auto *line = static_cast<QLineSeries *>(a);
            auto *axis = static_cast<QValueAxis *>(line->attachedAxes().constLast());
            if (line->count() == 0)
                continue;
            double lo = 1, hi = 0;
            for (const QPointF &p : line->points()) {
                const double f = (p.y() - axis->min()) / (axis->max() - axis->min());
                lo = std::min(lo, f);
                hi = std::max(hi, f);
            }
            QVERIFY(lo >= 0 && hi <= 1);
            bands.emplace_back(lo, hi);
        }
        QCOMPARE(bands.size(), size_t(3)); // PV, SV and the loop current
        std::sort(bands.begin(), bands.end());
        for (size_t i = 1; i < bands.size(); ++i)
            QVERIFY(bands[i - 1].second < bands[i].first);
    }

    void ringKeepsNewestRows()
    {
        TrafficModel model;
        for (int i = 0; i < TrafficModel::kRowLimit + 25; ++i)
            model.append({std::chrono::system_clock::now(), TrafficRow::Sent, TrafficRow::Config, QByteArray::number(i), {}});
        model.flush();
        QCOMPARE(model.rowCount(), TrafficModel::kRowLimit);
        QCOMPARE(model.row(0).bytes, QByteArray("25"));
        model.append({std::chrono::system_clock::now(), TrafficRow::Sent, TrafficRow::Config, "x", {}});
        model.flush();
        QCOMPARE(model.rowCount(), TrafficModel::kRowLimit);
        QCOMPARE(model.row(TrafficModel::kRowLimit - 1).bytes, QByteArray("x"));
    }

    // Only a valid command 0 reply is decoded: a bad checksum leaves the
    // boxes empty and says why; line noise 250 ms before the reply (joined
    // with it in one reply) neither stands in for it nor spoils command 3.
    void command0OnlyFromValidFrames()
    {
        TForm1 w(nullptr, TForm1Options{.receivePauseMs = 0});
        learnIdentity(w);
        const QByteArray good = QByteArray::fromHex("FFFFFFFFFF 06 80 00 0E 00 00 FE 37 51 05 05 01 01 00 00 01 E2 40 B3");
        QByteArray bad = good;
        bad[bad.size() - 1] = char(0xB2);
        QTest::mouseClick(ui(w).Button7, Qt::LeftButton);
        receive(w, QByteArray::fromHex("FF06") + bad);
        QTRY_COMPARE(w.Exchange.pendingReply, 0);
        for (QLineEdit *e : {ui(w).Edit28, ui(w).Edit29, ui(w).Edit31, ui(w).Edit32})
            QCOMPARE(e->text(), QString());
        QCOMPARE(w.findChild<QLabel *>("HartStatus")->text(), QStringLiteral("HART reply checksum error"));
        QVERIFY(w.findChild<QLabel *>("LastError")->text().endsWith(QStringLiteral("Command 0: HART reply checksum error")));

        QTest::mouseClick(ui(w).Button7, Qt::LeftButton);
        receive(w, QByteArray::fromHex("00FF06"));
        QTest::qWait(250);
        receive(w, good);
        QTRY_COMPARE(w.Exchange.pendingReply, 0);
        QCOMPARE(ui(w).Edit28->text(), QStringLiteral("55"));
        QCOMPARE(ui(w).Edit29->text(), QStringLiteral("81"));
        QCOMPARE(ui(w).Edit32->text(), QStringLiteral("123456"));
        QCOMPARE(w.findChild<QLabel *>("HartStatus")->text(), QStringLiteral("Status: OK"));
        QTest::mouseClick(ui(w).Button16, Qt::LeftButton);
        QVERIFY2(ui(w).Edit8->text().endsWith(QStringLiteral("82 B7 51 01 E2 40 03 00 C4 ")), qPrintable(ui(w).Edit8->text()));
    }

    void savedFiles()
    {
        TForm1 w(nullptr, TForm1Options{.receivePauseMs = 0});
        TrafficMonitor &m = *w.Monitor;
        learnIdentity(w);
        QTest::mouseClick(ui(w).Button16, Qt::LeftButton);
        const QByteArray reply = command3Reply(0);
        receive(w, reply.left(7));
        receive(w, reply.mid(7));
        QTRY_COMPARE(w.Exchange.pendingReply, 0);
        QTemporaryDir dir;
        QString error;

        QVERIFY2(m.saveTraffic(dir.filePath("t.log"), &error), qPrintable(error));
        QFile log(dir.filePath("t.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // header, three rows, final newline
        QCOMPARE(lines[0], QByteArray("Time\tDirection\tLength\tHex\tText\tMeaning"));
        const QList<QByteArray> cells = lines[2].split('\t');
        QCOMPARE(cells.size(), 6);
        QCOMPARE(cells[1], QByteArray("received"));
        QCOMPARE(cells[3], QByteArray("FF FF FF 86 B7 51 01"));

        QVERIFY2(m.saveTrend(dir.filePath("t.csv"), &error), qPrintable(error));
        QFile csv(dir.filePath("t.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QVERIFY2(rows[1].endsWith(",4,100,\"kilograms per hour\",0.1,\"degrees Celsius\",,,,"), rows[1].constData());

#ifdef NX_HAVE_CAPTURE
        // The split reply is one HART-IP response in the capture.
        QVERIFY2(m.saveTraffic(dir.filePath("t.pcap"), &error), qPrintable(error));
        QProcess tshark;
        tshark.start("tshark", {"-r", dir.filePath("t.pcap"), "-d", "udp.port==5094,hart_ip", "-T", "fields",
                                "-e", "hart_ip.message_type", "-e", "hart_ip.pt.command"});
        QVERIFY(tshark.waitForFinished(60000));
        QCOMPARE(tshark.readAllStandardOutput(), QByteArray("0\t3\n1\t3\n"));
#endif
        QVERIFY(!m.saveTrend(dir.filePath("missing/t.csv"), &error));
        QVERIFY(error.contains(QStringLiteral("missing/t.csv")));
    }

    // The writers are functions of the rows and samples alone: cells never
    // break the columns, chunks of one HART reply are one frame, a sample
    // with fewer variables leaves their columns empty.
    void exportsFromRowsAndSamples()
    {
        const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123));
        const std::vector<TrafficRow> rows = {
            {t, TrafficRow::Sent, TrafficRow::Config, "AB\t\n", QStringLiteral("a\tb\nc")},
            {t, TrafficRow::Sent, TrafficRow::Hart, QByteArray::fromHex("FF02"), QString()},
            {t, TrafficRow::Received, TrafficRow::Hart, QByteArray::fromHex("FF06"), QString()},
            {t, TrafficRow::Received, TrafficRow::Hart, QByteArray::fromHex("8001"), QString()},
            {t, TrafficRow::Received, TrafficRow::Config, "OK", QString()},
        };
        const QList<QByteArray> lines = trafficexport::trafficLog(rows).split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[1].count('\t'), 5);
        QVERIFY2(lines[1].endsWith("\ta b c"), lines[1].constData());
#ifdef NX_HAVE_CAPTURE
        const std::vector<capture::Record> records = trafficexport::captureRecords(rows);
        QCOMPARE(records.size(), size_t(4));
        QCOMPARE(records[2].bytes, (std::vector<uint8_t>{0xFF, 0x06, 0x80, 0x01}));
        QVERIFY(records[2].direction == capture::Direction::Received && records[2].payload == capture::Payload::Hart);
        QVERIFY(records[3].payload == capture::Payload::Config);
#endif
        TrendSample s;
        s.time = t;
        s.loopCurrent = 12.5f;
        s.variableCount = 1;
        s.values[0] = 3.25f;
        s.units[0] = 32;
        const QList<QByteArray> csv = trafficexport::trendCsv({s}).split('\n');
        QCOMPARE(csv[0], QByteArray("time,loop current (mA),PV,PV unit,SV,SV unit,TV,TV unit,QV,QV unit"));
        QVERIFY2(csv[1].endsWith(",12.5,3.25,\"degrees Celsius\",,,,,,"), csv[1].constData());
        QCOMPARE(csv.size(), 3);
    }

    void watchNeedsOpenPortAndStatusBarShowsState()
    {
        TForm1 w;
        TrafficMonitor &m = *w.Monitor;
        QCOMPARE(w.findChild<QLabel *>("PortState")->text(), QStringLiteral("COM4: Closed"));
        w.findChild<QCheckBox *>("WatchHart")->setChecked(true);
        QVERIFY(!w.findChild<QCheckBox *>("WatchHart")->isChecked());
        QCOMPARE(w.findChild<QLabel *>("LastError")->text(), QStringLiteral("Last error: Watch needs an open port."));
        QCOMPARE(w.findChild<QSpinBox *>("WatchInterval")->minimum(), 1);
        QCOMPARE(w.findChild<QSpinBox *>("WatchInterval")->maximum(), 60);
        QCOMPARE(w.findChild<QSpinBox *>("WatchInterval")->value(), 2);

        // The status names the port in the box before Open.
        PtyPeer peer;
        QVERIFY(peer.ok());
        ui(w).SPREALCOM->setEditText(peer.slavePath());
        QCOMPARE(w.findChild<QLabel *>("PortState")->text(), peer.slavePath() + QStringLiteral(": Closed"));
        // A long error does not widen the window; the tooltip has it all.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int width = w.width();
        const QString longError = QStringLiteral("The serial port was lost. ").repeated(40);
        m.error(longError);
        w.layout()->activate();
        QCOMPARE(w.width(), width);
        QVERIFY(w.minimumSizeHint().width() <= width);
        QCOMPARE(w.findChild<QLabel *>("LastError")->toolTip(), longError);
        // A successful open starts afresh.
        QTest::mouseClick(ui(w).Button1, Qt::LeftButton);
        QVERIFY(w.PortIsOpen);
        QVERIFY(w.findChild<QLabel *>("LastError")->text().isEmpty() && w.findChild<QLabel *>("LastError")->toolTip().isEmpty());
        QVERIFY2(w.findChild<QLabel *>("PortState")->text().startsWith(peer.slavePath() + QStringLiteral(": Open 9600")),
                 qPrintable(w.findChild<QLabel *>("PortState")->text()));
    }
};

QTEST_MAIN(TestTrafficMonitor)
#include "test_traffic_monitor.moc"
