// SPDX-License-Identifier: GPL-3.0-or-later
// "HART Device Details": what a HART handheld shows first (tag, descriptor,
// message, date, long tag, PV, loop current, range, additional status), read
// in one go through the window's port: command 0 for the long address, then
// the read-only identity and health commands, one reply at a time.
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>
#include <vector>

#include "HartReader.h"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;

// The window's side: it builds the frame from its own address, mode and
// preamble controls and writes it like its other HART requests.
class HartDetailsHost {
public:
    virtual ~HartDetailsHost() = default;
    // Command 0 in a short frame when `identity` is empty, else the long
    // frame to that instrument. False when nothing was written.
    virtual bool sendHartCommand(uint8_t command, const std::optional<hart::Identity> &identity) = 0;
};

class HartDetails : public QDialog {
    Q_OBJECT
public:
    HartDetails(QWidget *window, HartDetailsHost &host);

    // The opening button beside `beside` (in the same grid cell) and an
    // action in `menu`.
    void attach(QPushButton *beside, QMenu *menu);
    // Every chunk the window receives; used only while reading.
    void received(const std::vector<uint8_t> &chunk);
    bool reading() const { return step_ >= 0; }

public slots:
    void openAndRead();
    void readAll();

private:
    void sendStep();
    void replyTimedOut();
    void finish(const QString &state);
    void show(const hart::Command0Data &c0, const hart::DeviceDetails &d);

    HartDetailsHost &host_;
    int step_ = -1; // -1 idle, 0 command 0, 1.. the detail commands
    std::vector<uint8_t> reply_;
    std::optional<hart::Command0Data> identity_;
    hart::DeviceDetails details_;
    QTimer *timeout_;
    QPushButton *ReadButton;
    QLabel *State;
    std::vector<QLabel *> values_;
};
