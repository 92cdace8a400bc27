// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartWatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "Captions.h"
#include "HartAnnotate.h"

namespace {

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

void setFault(QLabel *label, bool fault)
{
    label->setStyleSheet(fault ? QStringLiteral("color: #C00000; font-weight: bold;") : QString());
}

} // namespace

HartWatch::HartWatch(QWidget *box, Hooks hooks) : QObject(box), hooks_(std::move(hooks))
{
    loopCurrent_ = new QLineEdit(box);
    loopCurrent_->setObjectName(QStringLiteral("HartLoopCurrent"));
    loopCurrent_->setReadOnly(true);
    status_ = new QLabel(box);
    status_->setObjectName(QStringLiteral("HartStatus"));
    // Long fault texts must not widen the group: the full text is the tooltip.
    status_->setWordWrap(false);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    watch_ = new QCheckBox(box);
    captions::set(watch_, QT_TRANSLATE_NOOP("Window", "Watch"));
    watch_->setObjectName(QStringLiteral("WatchHart"));
    interval_ = new QSpinBox(box);
    interval_->setObjectName(QStringLiteral("WatchInterval"));
    interval_->setRange(1, 60);
    interval_->setValue(kDefaultSeconds);
    interval_->setSuffix(tr(" s"));
    captions::setToolTip(interval_, QT_TRANSLATE_NOOP("Window", "Seconds between two queries while Watch is checked"));
    connect(watch_, &QCheckBox::toggled, this, &HartWatch::toggled);
    connect(interval_, &QSpinBox::valueChanged, this, [this](int s) { timer_.setInterval(s * 1000); });

    timer_.setInterval(kDefaultSeconds * 1000);
    connect(&timer_, &QTimer::timeout, this, &HartWatch::tick);
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (watch_->isChecked())
            tick();
    });
}

void HartWatch::decoded(int command, const uint8_t *rx, size_t size)
{
    const QString prefix = tr("Command %1: ").arg(command);
    // Only a valid frame is read; without one the line and the status bar
    // say what the candidate lacked.
    const hart::FoundReply found = hart::findReply(rx, size);
    const auto &info = found.frame;
    if (!info) {
        const bool broken = found.fault != hart::ReplyFault::NotFound;
        status_->setText(found.fault == hart::ReplyFault::ChecksumError ? tr("HART reply checksum error")
                         : found.fault == hart::ReplyFault::CutShort    ? tr("HART reply cut short")
                                                                        : tr("No complete reply frame"));
        status_->setToolTip(prefix + status_->text());
        setFault(status_, broken);
        if (broken)
            hooks_.error(prefix + status_->text());
        if (command == 3)
            loopCurrent_->clear();
        return;
    }
    // All well fits in two words; anything else is spelled out (in full in
    // the tooltip when the line is too short for it).
    const bool allWell = info->responseCode == 0 && info->deviceStatus == 0;
    const QString line = fromStd(hart::statusLine(*info));
    status_->setText(allWell ? tr("Status: OK") : line);
    status_->setToolTip(prefix + line);
    setFault(status_, hart::reportsFault(*info));
    if (command != 3)
        return;
    // A communication error carries no data.
    const hart::DynamicVariables v = info->responseCode && !info->communicationError() && info->command == 3
        ? hart::command3Data(info->data.data(), info->data.size())
        : hart::DynamicVariables{};
    if (!v.loopCurrent) {
        loopCurrent_->clear();
        return;
    }
    loopCurrent_->setText(QString::number(double(*v.loopCurrent), 'f', 3));
    TrendSample s;
    s.time = std::chrono::system_clock::now();
    s.loopCurrent = *v.loopCurrent;
    s.variableCount = int(v.variables.size());
    for (size_t i = 0; i < v.variables.size(); ++i) {
        s.values[i] = v.variables[i].value;
        s.units[i] = v.variables[i].unitCode;
    }
    hooks_.sample(s);
}

void HartWatch::stop()
{
    watch_->setChecked(false);
}

void HartWatch::retranslate()
{
    interval_->setSuffix(tr(" s"));
}

void HartWatch::toggled(bool on)
{
    if (!on) {
        timer_.stop();
        retry_.stop();
        return;
    }
    if (!hooks_.portOpen()) {
        watch_->setChecked(false);
        hooks_.error(tr("Watch needs an open port."));
        return;
    }
    timer_.start(interval_->value() * 1000);
    tick();
}

void HartWatch::tick()
{
    // A message box waiting for the engineer must not be joined by another
    // one every few seconds.
    if (QApplication::activeModalWidget() != nullptr)
        return;
    // A new query while the last reply is still awaited or not yet decoded
    // would take that reply's decoding away; ask again once it is through.
    if (hooks_.busy()) {
        retry_.start();
        return;
    }
    if (!hooks_.query()) {
        watch_->setChecked(false);
        hooks_.error(tr("Watch needs the device read first (HART Device Parameter Query)."));
    }
}
