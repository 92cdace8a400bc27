// SPDX-License-Identifier: GPL-3.0-or-later
#include "StatusLine.h"

#include <QLabel>
#include <QStatusBar>

#include "Captions.h"
#include "Widgets.h"

StatusLine::StatusLine(QWidget *window, Port port) : QObject(window), port_(std::move(port))
{
    bar_ = new QStatusBar(window);
    bar_->setObjectName(QStringLiteral("StatusBar"));
    bar_->setSizeGripEnabled(false);
    bar_->setContentsMargins(0, 0, 0, 0);
    portState_ = new QLabel(bar_);
    portState_->setObjectName(QStringLiteral("PortState"));
    byteCounts_ = new QLabel(bar_);
    byteCounts_->setObjectName(QStringLiteral("ByteCounts"));
    // A long error must not widen the window: elided, in full in the tooltip.
    lastError_ = new ElidedLabel(bar_);
    lastError_->setObjectName(QStringLiteral("LastError"));
    bar_->addWidget(portState_);
    bar_->addWidget(byteCounts_);
    bar_->addWidget(lastError_, 1);
    showPortState(QT_TRANSLATE_NOOP("Window", "Closed"));
    showByteCounts();
}

void StatusLine::portOpened()
{
    sent_ = received_ = 0;
    // A fresh session: the error of the last one (a lost port) is over.
    lastError_->clear();
    lastError_->setToolTip(QString());
    showPortState(QT_TRANSLATE_NOOP("Window", "Open"));
    showByteCounts();
}

void StatusLine::portClosed()
{
    showPortState(QT_TRANSLATE_NOOP("Window", "Closed"));
}

void StatusLine::portLost()
{
    showPortState(QT_TRANSLATE_NOOP("Window", "Lost"));
}

void StatusLine::portChoiceChanged()
{
    // Before Open the status names the port in the box, not the last one used.
    if (!port_.open() && state_)
        showPortState(state_);
}

void StatusLine::countSent(size_t bytes)
{
    sent_ += bytes;
    showByteCounts();
}

void StatusLine::countReceived(size_t bytes)
{
    received_ += bytes;
    showByteCounts();
}

void StatusLine::error(const QString &text)
{
    const QString line = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
    lastError_->setText(tr("Last error: ") + line);
    lastError_->setToolTip(text);
}

void StatusLine::retranslate()
{
    if (state_)
        showPortState(state_);
    showByteCounts();
}

void StatusLine::showPortState(const char *state)
{
    state_ = state;
    // An open port shows its framing too.
    const QString framing = port_.open() ? QLatin1Char(' ') + port_.framing() : QString();
    portState_->setText(port_.name() + QStringLiteral(": ") + captions::text(state) + framing);
}

void StatusLine::showByteCounts()
{
    byteCounts_->setText(tr("Sent %1 bytes, received %2 bytes").arg(sent_).arg(received_));
}
