// SPDX-License-Identifier: GPL-3.0-or-later
#include "Widgets.h"

#include "net/NetName.h"

#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>

void DoubleClickLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (onDoubleClick)
        onDoubleClick();
    QLabel::mouseDoubleClickEvent(e);
}

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const
{
    return {0, QLabel::sizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = contentsRect();
    p.setPen(palette().color(foregroundRole()));
    p.drawText(r, int(Qt::AlignLeft | Qt::AlignVCenter), fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
}

QStringList presentSerialDevices()
{
    QStringList out;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString &pattern : {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
                                   QStringLiteral("ttyAMA*"), QStringLiteral("rfcomm*")}) {
        const QStringList names = dev.entryList({pattern}, QDir::System | QDir::Files, QDir::Name);
        for (const QString &n : names)
            out << dev.filePath(n);
    }
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString &n : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        out << byId.filePath(n);
    return out;
}

void PortComboBox::refreshDevices()
{
    const QString typed = currentText();
    const int fixed = 12; // COM1..COM12 stay first
    while (count() > fixed)
        removeItem(count() - 1);
    addItems(presentSerialDevices());
    addItems(m_remembered);
    // Refreshing must not change what the engineer has chosen or typed.
    const int at = findText(typed);
    if (at >= 0)
        setCurrentIndex(at);
    else
        setEditText(typed);
}

void PortComboBox::remember(const QString &name)
{
    if (!SerialComm::isNetworkPortName(name.toStdString()) || m_remembered.contains(name))
        return;
    m_remembered << name;
    refreshDevices();
}

void PortComboBox::showPopup()
{
    refreshDevices();
    QComboBox::showPopup();
}
