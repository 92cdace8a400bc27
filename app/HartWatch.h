// SPDX-License-Identifier: GPL-3.0-or-later
// The loop current and status lines under the HART values (`HartLoopCurrent`,
// `HartStatus`) and Watch (`WatchHart`, `WatchInterval`): the dynamic
// variables asked for again every few seconds, each reply a trend sample.
// It knows nothing of the window: what it needs comes in as Hooks, and the
// window places its widgets.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "TrendSample.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QWidget;

class HartWatch : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> portOpen;
        // A reply is awaited, settling or waiting to be decoded.
        std::function<bool()> busy;
        // Sends the dynamic-variables query as its button does; false when it
        // cannot be sent yet (no device identity read).
        std::function<bool()> query;
        std::function<void(const QString &)> error;
        // A command 3 reply with a loop current.
        std::function<void(const TrendSample &)> sample;
    };

    // The widgets are made on `box`, unplaced.
    HartWatch(QWidget *box, Hooks hooks);

    QLineEdit *loopCurrent() const { return loopCurrent_; }
    QLabel *status() const { return status_; }
    QCheckBox *watchBox() const { return watch_; }
    QSpinBox *interval() const { return interval_; }

    // After the command 0 / command 3 decoders ran: `rx` is the whole reply.
    void decoded(int command, const uint8_t *rx, size_t size);
    // A closed or lost port ends the watch.
    void stop();
    void retranslate();

    static constexpr int kDefaultSeconds = 2;
    static constexpr int kRetryMs = 100;

private:
    void toggled(bool on);
    void tick();

    Hooks hooks_;
    QLineEdit *loopCurrent_;
    QLabel *status_;
    QCheckBox *watch_;
    QSpinBox *interval_;
    QTimer timer_;
    QTimer retry_; // the tick came while an exchange was in flight
};
