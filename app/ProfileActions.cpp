// File -> Save Profile... / Load Profile...: the settings controls to and
// from a profile file, the same file the command-line tool backs up and
// restores.
#include "NX260AB.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>

#include "Profile.h"
#include "StrictInt.h"

namespace {

const QString kFilter = QStringLiteral("NX260 profiles (*.json);;All files (*)");

} // namespace

void TForm1::buildProfileActions()
{
    SaveProfileAction = new QAction(QStringLiteral("&Save Profile..."), this);
    SaveProfileAction->setObjectName(QStringLiteral("SaveProfileAction"));
    connect(SaveProfileAction, &QAction::triggered, this, &TForm1::SaveProfileClick);
    LoadProfileAction = new QAction(QStringLiteral("&Load Profile..."), this);
    LoadProfileAction->setObjectName(QStringLiteral("LoadProfileAction"));
    connect(LoadProfileAction, &QAction::triggered, this, &TForm1::LoadProfileClick);
    FileMenu->insertAction(QuitAction, SaveProfileAction);
    FileMenu->insertAction(QuitAction, LoadProfileAction);
    FileMenu->insertSeparator(QuitAction);
}

void TForm1::SaveProfileClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Profile"), {}, kFilter);
    if (!path.isEmpty())
        saveProfile(path);
}

void TForm1::LoadProfileClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Profile"), {}, kFilter);
    if (!path.isEmpty())
        loadProfile(path);
}

bool TForm1::saveProfile(const QString &path)
{
    exchange::GatewaySettings s;
    QString problem;
    auto index = [&](const QComboBox *box, const char *member) -> std::optional<int> {
        if (box->currentIndex() >= 0)
            return box->currentIndex();
        if (problem.isEmpty())
            problem = QStringLiteral("%1: no item is selected in %2").arg(QLatin1String(member), box->objectName());
        return std::nullopt;
    };
    // An empty box (the address before any query) is left out of the file.
    auto number = [&](const QLineEdit *edit, const char *member) -> std::optional<int> {
        if (edit->text().isEmpty())
            return std::nullopt;
        const auto v = exchange::strictToInt(edit->text().toStdString());
        if (v && *v >= 0 && *v <= exchange::kNumberMax)
            return *v;
        if (problem.isEmpty())
            problem = QStringLiteral("%1: '%2' in %3 is not a number from 0 to %4")
                          .arg(QLatin1String(member), edit->text(), edit->objectName())
                          .arg(exchange::kNumberMax);
        return std::nullopt;
    };

    exchange::SystemSettings &sys = s.system;
    sys.mode = index(MODEL, "system.mode");
    sys.address = number(Edit14, "system.address");
    sys.rs485a = {index(BOA, "system.rs485a.baud"), index(JIAOA, "system.rs485a.parity"),
                  index(DTMA, "system.rs485a.return_time")};
    sys.rs485b = {index(BOB, "system.rs485b.baud"), index(JIAOB, "system.rs485b.parity"),
                  index(DTMB, "system.rs485b.return_time")};
    sys.interval = number(RTD, "system.interval");
    for (size_t i = 0; i < s.instruments.size(); ++i) {
        const std::string row = "instruments[" + std::to_string(i) + "].";
        exchange::InstrumentSettings &r = s.instruments[i];
        r.mode = index(SBZHU[i], (row + "mode").c_str());
        r.type = index(NEIXING[i], (row + "type").c_str());
        if (const auto p = index(QIADF[i], (row + "preambles").c_str()))
            r.preambles = *p + exchange::kPreamblesMin;
        r.interval = number(DTM[i], (row + "interval").c_str());
    }
    if (!problem.isEmpty()) {
        showMessage(QStringLiteral("The profile was not saved. %1.").arg(problem));
        return false;
    }

    QFile file(path);
    const QByteArray text = QByteArray::fromStdString(exchange::profileJson(s).dump(2) + "\n");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush()) {
        showMessage(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool TForm1::loadProfile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray text = file.readAll();
    std::string error;
    const auto settings = exchange::parseProfile(std::string_view(text.constData(), size_t(text.size())), &error);
    if (!settings) {
        // Nothing is changed by a bad file.
        showMessage(QStringLiteral("%1 was not loaded: %2").arg(path, QString::fromStdString(error)));
        return false;
    }

    auto select = [](QComboBox *box, const std::optional<int> &index, int bias = 0) {
        if (index)
            box->setCurrentIndex(*index - bias);
    };
    auto show = [](QLineEdit *edit, const std::optional<int> &n) {
        if (n)
            edit->setText(QString::number(*n));
    };
    const exchange::SystemSettings &sys = settings->system;
    select(MODEL, sys.mode);
    show(Edit14, sys.address);
    select(BOA, sys.rs485a.baud);
    select(JIAOA, sys.rs485a.parity);
    select(DTMA, sys.rs485a.returnTime);
    select(BOB, sys.rs485b.baud);
    select(JIAOB, sys.rs485b.parity);
    select(DTMB, sys.rs485b.returnTime);
    show(RTD, sys.interval);
    select(CHXINGHAO, sys.channels);
    for (size_t i = 0; i < settings->instruments.size(); ++i) {
        const exchange::InstrumentSettings &r = settings->instruments[i];
        select(SBZHU[i], r.mode);
        select(NEIXING[i], r.type);
        select(QIADF[i], r.preambles, exchange::kPreamblesMin);
        show(DTM[i], r.interval);
    }
    return true;
}
