// SPDX-License-Identifier: GPL-3.0-or-later
// The window's status bar: the port and its state (`PortState`), the bytes
// sent and received (`ByteCounts`) and the last error (`LastError`).
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QStatusBar;
class QWidget;

class StatusLine : public QObject {
    Q_OBJECT
public:
    // What the line shows of the port, asked each time it changes.
    struct Port {
        // The open port, or before any open the one the window would open.
        std::function<QString()> name;
        // Line settings of the open port, as "9600 8N1".
        std::function<QString()> framing;
        std::function<bool()> open;
    };

    StatusLine(QWidget *window, Port port);
    QStatusBar *bar() const { return bar_; }

    void portOpened();
    void portClosed();
    void portLost();
    // The port in the Serial Port box changed.
    void portChoiceChanged();
    void countSent(size_t bytes);
    void countReceived(size_t bytes);
    // One line; the whole text is the tooltip.
    void error(const QString &text);
    void retranslate();

private:
    void showPortState(const char *state);
    void showByteCounts();

    Port port_;
    QStatusBar *bar_;
    QLabel *portState_, *byteCounts_, *lastError_;
    uint64_t sent_ = 0, received_ = 0;
    const char *state_ = nullptr; // English source of the state shown
};
