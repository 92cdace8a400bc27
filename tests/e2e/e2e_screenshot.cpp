// SPDX-License-Identifier: GPL-3.0-or-later
// Walks through a short service session against the simulated gateway and
// saves a picture of the window: open the port, identify the gateway, read the
// system parameters and the instrument table, switch to transparent mode and
// read the HART instrument. With a second path it then opens the traffic
// monitor and the HART trend, watches the instrument for a while and saves a
// second picture; with a third, it reads "HART Device Details" and saves a
// picture of that dialog. Used by scripts/screenshot.sh under a virtual X server;
// exits non-zero when a step gets no answer.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "../FormLookup.h"
#include "Captions.h"
#include "GatewaySim.h"
#include "NX260AB.h"
#include "TrafficMonitor.h"

using namespace std::chrono_literals;

namespace {

bool fail(const char *step)
{
    std::fprintf(stderr, "e2e_screenshot: no answer to \"%s\"\n", step);
    return false;
}

// Clicks a request button and waits until the reply is shown and, where the
// window decodes it, decoded.
bool request(sim::GatewaySim &gw, TForm1 &form, QPushButton *button)
{
    const auto before = gw.counters().replies;
    QTest::mouseClick(button, Qt::LeftButton);
    const bool decoded = form.Exchange.pendingReply != exchange::PendingCommQuery &&
                         form.Exchange.pendingReply != exchange::PendingAck;
    if (!gw.waitFor([&](const sim::Counters &c) { return c.replies > before; }, 3s))
        return fail(qPrintable(button->text().trimmed()));
    if (!QTest::qWaitFor([&] { return !ui(form).Memo10->toPlainText().isEmpty(); }, 5000))
        return fail(qPrintable(button->text().trimmed()));
    if (decoded && !QTest::qWaitFor([&] { return form.Exchange.pendingReply == 0; }, 5000))
        return fail(qPrintable(button->text().trimmed()));
    QTest::qWait(150); // let the eye (and the picture) catch up
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // In the system's language, as the program starts (LANG=zh_CN.UTF-8 for
    // the Chinese picture).
    captions::useLanguage(captions::systemLanguage());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshot.png");

    // A short port name, so the Serial Port box shows all of it.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/nx260-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "e2e_screenshot: no temporary folder\n");
        return 1;
    }
    sim::Options options;
    options.linkPath = dir.filePath(QStringLiteral("gateway")).toStdString();
    // A gateway that has been configured before, so the queries change the form.
    options.initialState.slaveAddress = 17;
    options.initialState.baudA = 4;
    options.initialState.parityA = 2;
    options.initialState.returnTimeB = 1;
    options.initialState.interval = 20;
    options.initialState.instruments[1] = {1, 0, 5, 30};
    options.initialState.serialNumber = "20250807";
    options.hart.universalRevision = 7; // answers the long tag too
    sim::GatewaySim gw(options);
    std::string error;
    if (!gw.start(&error)) {
        std::fprintf(stderr, "e2e_screenshot: %s\n", error.c_str());
        return 1;
    }

    TForm1 form;
    ui(form).SPREALCOM->setEditText(QString::fromStdString(gw.linkPath()));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 5000)) {
        std::fprintf(stderr, "e2e_screenshot: the window was not shown\n");
        return 1;
    }

    QTest::mouseClick(ui(form).Button1, Qt::LeftButton);
    if (!form.PortIsOpen) {
        std::fprintf(stderr, "e2e_screenshot: the port did not open\n");
        return 1;
    }
    bool ok = request(gw, form, ui(form).Button6) && request(gw, form, ui(form).Button23) &&
              request(gw, form, ui(form).Button2);
    if (ok) {
        ui(form).MODEL->setCurrentIndex(0); // Transparent Mode
        ok = request(gw, form, ui(form).Button24) && request(gw, form, ui(form).Button7) &&
             request(gw, form, ui(form).Button16);
    }
    if (!ok)
        return 1;

    QDir().mkpath(QFileInfo(out).absolutePath());
    if (!form.grab().save(out)) {
        std::fprintf(stderr, "e2e_screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("saved %s (%dx%d)\n", qPrintable(out), form.width(), form.height());
    if (argc < 3)
        return 0;

    const QString monitorOut = QString::fromLocal8Bit(argv[2]);
    TrafficMonitor &m = *form.Monitor;
    m.TrafficAction->trigger();
    m.TrendAction->trigger();
    form.findChild<QSpinBox *>("WatchInterval")->setValue(1);
    form.findChild<QCheckBox *>("WatchHart")->setChecked(true);
    const size_t samples = 12;
    if (!QTest::qWaitFor([&] { return m.trendSamples().size() >= samples; }, 60000))
        return fail("Watch");
    form.findChild<QCheckBox *>("WatchHart")->setChecked(false);
    // The last query through, so the values stand in their boxes.
    if (!QTest::qWaitFor([&] { return form.Exchange.pendingReply == 0 && !ui(form).Edit25->text().isEmpty(); }, 5000))
        return fail("Watch");
    QTest::qWait(300);
    if (!form.grab().save(monitorOut)) {
        std::fprintf(stderr, "e2e_screenshot: cannot write %s\n", qPrintable(monitorOut));
        return 1;
    }
    std::printf("saved %s (%dx%d)\n", qPrintable(monitorOut), form.width(), form.height());
    if (argc < 4)
        return 0;

    const QString detailsOut = QString::fromLocal8Bit(argv[3]);
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("HartDetailsButton")), Qt::LeftButton);
    auto *details = form.findChild<QDialog *>(QStringLiteral("HartDetails"));
    auto *state = details->findChild<QLabel *>(QStringLiteral("DetailsState"));
    if (!QTest::qWaitFor([&] { return state->text().startsWith(QStringLiteral("Read at")); }, 10000))
        return fail("HART Device Details");
    QTest::qWait(300);
    if (!details->grab().save(detailsOut)) {
        std::fprintf(stderr, "e2e_screenshot: cannot write %s\n", qPrintable(detailsOut));
        return 1;
    }
    std::printf("saved %s (%dx%d)\n", qPrintable(detailsOut), details->width(), details->height());
    return 0;
}
