// SPDX-License-Identifier: GPL-3.0-or-later
// File -> Save Profile... / Load Profile...: the settings controls to and
// from a profile file, the same file the command-line tool backs up and
// restores.
#include "NX260AB.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <QSettings>

#include "ChangeRecord.h"
#include "Profile.h"
#include "Captions.h"
#include "FormControls.h"
#include "Remembered.h"
#include "SettingsControls.h"
#include "TrafficMonitor.h"
#include "SettleQueue.h"

namespace {

QString filter()
{
    return TForm1::tr("NX260 profiles (*.json);;All files (*)");
}

} // namespace

void TForm1::buildProfileActions()
{
    auto *save = new QAction(this);
    captions::set(save, QT_TRANSLATE_NOOP("Window", "&Save Profile..."));
    save->setObjectName(QStringLiteral("SaveProfileAction"));
    connect(save, &QAction::triggered, this, [this] { inTurn(&TForm1::SaveProfileClick); });
    auto *load = new QAction(this);
    captions::set(load, QT_TRANSLATE_NOOP("Window", "&Load Profile..."));
    load->setObjectName(QStringLiteral("LoadProfileAction"));
    connect(load, &QAction::triggered, this, [this] { inTurn(&TForm1::LoadProfileClick); });
    ui->FileMenu->insertAction(ui->QuitAction, save);
    ui->FileMenu->insertAction(ui->QuitAction, load);
    m_memory->addRecentMenu(ui->FileMenu, ui->QuitAction, [this](const QString &path) {
        m_settle->run([this, path] { loadProfile(path); });
    });
    ui->FileMenu->insertSeparator(ui->QuitAction);
}

void TForm1::SaveProfileClick()
{
    // A profile of a form never filled from the gateway holds the defaults.
    if (!(m_systemRead && m_instrumentsRead)) {
        QMessageBox ask(QMessageBox::Question, tr("Save Profile"),
                        tr("Read System parameters and the instrument table first?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        ask.setInformativeText(tr("The settings in the form were not read from the gateway since Open. "
                                  "Yes reads them; choose Save Profile again when the form is filled. "
                                  "No saves the form as it is."));
        const int answer = ask.exec();
        if (answer == QMessageBox::Yes && PortIsOpen) {
            m_readingForSave = true;
            Button23Click();
            return;
        }
        if (answer != QMessageBox::No)
            return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Profile"), m_memory->profileFolder(), filter());
    if (!path.isEmpty())
        saveProfile(path);
}

void TForm1::LoadProfileClick()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Load Profile"), m_memory->profileFolder(), filter());
    if (!path.isEmpty())
        loadProfileOffering(path);
}

namespace {

// The Set button that sends a setting, by the setting's profile key.
QPushButton *setButtonFor(const FormControls &ui, const std::string &key)
{
    const std::pair<const char *, QPushButton *> buttons[] = {
        {"system.mode", ui.Button24},
        {"system.address", ui.Button29},
        {"system.rs485a.baud", ui.Button9},
        {"system.rs485a.parity", ui.Button9},
        {"system.rs485b.baud", ui.Button3},
        {"system.rs485b.parity", ui.Button3},
        {"system.rs485a.return_time", ui.Button4},
        {"system.rs485b.return_time", ui.Button5},
        {"system.interval", ui.Button13},
        {"system.channels", ui.Button14},
        {"instruments[0]", ui.Button10},
        {"instruments[1]", ui.Button8},
        {"instruments[2]", ui.Button11},
        {"instruments[3]", ui.Button12},
    };
    for (const auto &[prefix, button] : buttons)
        if (key.starts_with(prefix))
            return button;
    return nullptr;
}

} // namespace

void TForm1::loadProfileOffering(const QString &path)
{
    // What the gateway holds, when the form was read from it since Open;
    // otherwise every setting of the profile is sent.
    QString problem;
    const bool known = m_systemRead && m_instrumentsRead;
    auto before = known ? readSettings(*this, &problem) : std::nullopt;
    if (!loadProfile(path))
        return;
    auto after = readSettings(*this, &problem);
    std::vector<QPushButton *> buttons;
    for (const SettingControl &c : settingControls()) {
        QPushButton *button = setButtonFor(*ui, c.key);
        if (!button || !after || !c.field(*after).has_value())
            continue;
        if (before && c.field(*before) == c.field(*after))
            continue;
        if (std::find(buttons.begin(), buttons.end(), button) == buttons.end())
            buttons.push_back(button);
    }

    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("NX260-HGW"),
                    tr("The profile is in the form; nothing was sent to the gateway. "
                       "Press each Set button to send its settings."),
                    QMessageBox::Close, this);
    QPushButton *sendAll = nullptr;
    if (PortIsOpen && !buttons.empty())
        sendAll = box.addButton(tr("Send all (%1)").arg(buttons.size()), QMessageBox::AcceptRole);
    if (Monitor)
        Monitor->error(box.text());
    box.exec();
    if (!sendAll || box.clickedButton() != sendAll)
        return;
    m_sendAll.assign(buttons.rbegin(), buttons.rend());
    sendAllNext();
}

void TForm1::sendAllNext()
{
    if (!PortIsOpen) {
        m_sendAll.clear();
        return;
    }
    // One at a time, as an engineer would press them: the next waits until
    // the last one's acknowledgement (or its time-out) is through.
    if (exchangeBusy() || QApplication::activeModalWidget() != nullptr) {
        QTimer::singleShot(100, this, [this] { sendAllNext(); });
        return;
    }
    if (m_sendAll.empty())
        return;
    QPushButton *button = m_sendAll.back();
    m_sendAll.pop_back();
    // Pressed as the engineer presses it: the same checks, the same path.
    button->click();
    if (!m_sendAll.empty())
        QTimer::singleShot(100, this, [this] { sendAllNext(); });
}

void TForm1::settingsDecoded(bool instruments)
{
    (instruments ? m_instrumentsRead : m_systemRead) = true;
    // Save Profile's reading: the instrument table follows the system parameters.
    if (m_readingForSave && !instruments) {
        Button2Click();
    } else if (m_readingForSave) {
        m_readingForSave = false;
        if (Monitor)
            Monitor->error(tr("The settings were read from the gateway; Save Profile can save them now."));
    }
}

void TForm1::recordSet(const char *name, const std::vector<uint8_t> &request, bool written)
{
    // The window does not wait for the acknowledgement: the line says what
    // was sent, as sent.
    const QString path = QSettings().value(QStringLiteral("record/file"),
                                           QString::fromStdString(exchange::defaultRecordPath())).toString();
    exchange::ChangeEntry e{"nx260-config", Comm1->CommName(), {}, name, nullptr,
                            std::string(request.begin(), request.end()), nullptr, written ? "sent" : "not_sent"};
    std::string error;
    if (!exchange::appendRecord(path.toStdString(), exchange::recordLine(e), &error) && Monitor)
        Monitor->error(tr("The change was not recorded: %1").arg(QString::fromStdString(error)));
}

bool TForm1::saveProfile(const QString &path)
{
    QString problem;
    const auto settings = readSettings(*this, &problem);
    if (!settings) {
        showMessage(tr("The profile was not saved. %1.").arg(problem));
        return false;
    }
    QFile file(path);
    const QByteArray text = QByteArray::fromStdString(exchange::profileJson(*settings).dump(2) + "\n");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush()) {
        showMessage(tr("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    m_memory->profileUsed(path);
    return true;
}

bool TForm1::loadProfile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(tr("Cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray text = file.readAll();
    std::string error;
    const auto settings = exchange::parseProfile(std::string_view(text.constData(), size_t(text.size())), &error);
    if (!settings) {
        // Nothing is changed by a bad file.
        showMessage(tr("%1 was not loaded: %2").arg(path, QString::fromStdString(error)));
        return false;
    }
    showSettings(*this, *settings);
    m_memory->profileUsed(path);
    return true;
}
