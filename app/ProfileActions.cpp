// File -> Save Profile... / Load Profile...: the settings controls to and
// from a profile file, the same file the command-line tool backs up and
// restores.
#include "NX260AB.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QMenu>

#include "Profile.h"
#include "Captions.h"
#include "FormControls.h"
#include "Remembered.h"
#include "SettingsControls.h"
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
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Profile"), m_memory->profileFolder(), filter());
    if (!path.isEmpty())
        saveProfile(path);
}

void TForm1::LoadProfileClick()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Load Profile"), m_memory->profileFolder(), filter());
    if (!path.isEmpty())
        loadProfile(path);
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
