// SPDX-License-Identifier: GPL-3.0-or-later
// Small widget helpers of the main window.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QStringList>

#include <functional>

// A label that reports double-clicks (the hidden channel-model switch).
class DoubleClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent *e) override;
};

// A one-line label that never asks for more width than it gets: a long text
// is cut with an ellipsis (callers put the full text in the tooltip).
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget *parent = nullptr);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;
};

// The serial port box: "COM1".."COM12", then the serial devices present,
// refreshed each time the list drops down, then the device servers opened
// before (typed, never offered). Typed text is kept as typed.
class PortComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    void refreshDevices();
    void showPopup() override;
    // Keeps a typed device server name in the list from now on.
    void remember(const QString &name);

private:
    QStringList m_remembered;
};

// Serial devices present on this machine, by their usual device paths.
QStringList presentSerialDevices();
