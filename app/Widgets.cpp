#include "Widgets.h"

#include "net/NetName.h"

#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>

void DoubleClickLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (onDoubleClick)
        onDoubleClick();
    QLabel::mouseDoubleClickEvent(e);
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
