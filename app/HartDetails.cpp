// SPDX-License-Identifier: GPL-3.0-or-later
#include "HartDetails.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "HartAnnotate.h"
#include "HartUnits.h"

namespace {

// As long as the window's own watchdog gives a HART reply.
constexpr int kReplyMs = 3000;
// A reply never grows past this; anything longer is line noise.
constexpr size_t kMaxReply = 512;

const QString kNotSupported = QStringLiteral("not supported");

QString number(float v)
{
    return QString::number(double(v), 'g', 7);
}

QString text(const std::string &s)
{
    return QString::fromStdString(s);
}

QString withUnit(float v, uint8_t unit)
{
    return number(v) + ' ' + QString::fromUtf8(hart::unitSymbol(unit));
}

} // namespace

HartDetails::HartDetails(QWidget *window, HartDetailsHost &host) : QDialog(window), host_(host)
{
    setObjectName(QStringLiteral("HartDetails"));
    setWindowTitle(tr("HART Device Details"));
    setModal(true);
    auto *box = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    box->addLayout(form);
    const std::pair<const char *, const char *> rows[] = {
        {"DetailsIdentity", "Identity:"},        {"DetailsTag", "Tag:"},
        {"DetailsDescriptor", "Descriptor:"},    {"DetailsMessage", "Message:"},
        {"DetailsDate", "Date:"},                {"DetailsLongTag", "Long tag:"},
        {"DetailsPV", "Primary variable:"},      {"DetailsLoopCurrent", "Loop current:"},
        {"DetailsPercent", "Percent of range:"}, {"DetailsRange", "Range:"},
        {"DetailsTransfer", "Transfer function:"}, {"DetailsDamping", "Damping:"},
        {"DetailsAlarm", "Alarm selection:"},    {"DetailsWriteProtect", "Write protect:"},
        {"DetailsStatus", "Additional status:"}, {"DetailsCodes", "Response codes:"},
    };
    for (const auto &[name, label] : rows) {
        auto *value = new QLabel(this);
        value->setObjectName(QLatin1String(name));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QString::fromLatin1(label), value);
        values_.push_back(value);
    }
    State = new QLabel(this);
    State->setObjectName(QStringLiteral("DetailsState"));
    box->addWidget(State);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    ReadButton = buttons->addButton(QStringLiteral("Read Again"), QDialogButtonBox::ActionRole);
    ReadButton->setObjectName(QStringLiteral("DetailsRead"));
    box->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ReadButton, &QPushButton::clicked, this, &HartDetails::readAll);

    timeout_ = new QTimer(this);
    timeout_->setSingleShot(true);
    connect(timeout_, &QTimer::timeout, this, &HartDetails::replyTimedOut);
}

void HartDetails::attach(QPushButton *beside, QMenu *menu)
{
    auto *open = new QPushButton(tr("HART Device Details"), beside->parentWidget());
    open->setObjectName(QStringLiteral("HartDetailsButton"));
    connect(open, &QPushButton::clicked, this, &HartDetails::openAndRead);
    // Share the query button's grid cell, half each.
    if (auto *grid = qobject_cast<QGridLayout *>(beside->parentWidget()->layout())) {
        int row = 0, column = 0, rows = 1, columns = 1;
        grid->getItemPosition(grid->indexOf(beside), &row, &column, &rows, &columns);
        grid->removeWidget(beside);
        auto *pair = new QHBoxLayout;
        pair->addWidget(beside);
        pair->addWidget(open);
        grid->addLayout(pair, row, column, rows, columns);
    }
    if (menu != nullptr) {
        QAction *action = menu->addAction(tr("HART Device &Details..."), this, &HartDetails::openAndRead);
        action->setObjectName(QStringLiteral("HartDetailsAction"));
    }
}

void HartDetails::openAndRead()
{
    open();
    readAll();
}

void HartDetails::readAll()
{
    if (reading())
        return;
    identity_.reset();
    details_ = {};
    for (QLabel *v : values_)
        v->clear();
    step_ = 0;
    ReadButton->setEnabled(false);
    sendStep();
}

void HartDetails::sendStep()
{
    const uint8_t command = step_ == 0 ? 0 : hart::kDetailCommands[step_ - 1];
    const auto identity = identity_ ? std::optional(identity_->identity) : std::nullopt;
    reply_.clear();
    if (!host_.sendHartCommand(command, identity)) {
        finish(tr("Nothing sent: open the port and check the preamble length."));
        return;
    }
    State->setText(tr("Reading command %1 ...").arg(command));
    timeout_->start(kReplyMs);
}

void HartDetails::received(const std::vector<uint8_t> &chunk)
{
    if (!reading())
        return;
    if (reply_.size() + chunk.size() > kMaxReply)
        reply_.clear();
    reply_.insert(reply_.end(), chunk.begin(), chunk.end());
    // Noise or a broken candidate may stand before the reply: wait on until
    // a valid one is there or the time is up.
    const auto f = hart::findReply(reply_.data(), reply_.size()).frame;
    if (!f)
        return;
    timeout_->stop();
    const QString command = QStringLiteral("Command %1: ").arg(f->command);
    if (!f->responseCode) {
        finish(command + QStringLiteral("reply without status bytes"));
        return;
    }
    if (step_ == 0) {
        identity_ = *f->responseCode == 0 ? hart::command0Data(f->data.data(), f->data.size()) : std::nullopt;
        if (!identity_) {
            finish(command + (*f->responseCode != 0 ? text(hart::responseText(*f->responseCode))
                                                    : QStringLiteral("reply too short for an identity")));
            return;
        }
    } else {
        hart::addDetail(details_, *f);
    }
    if (++step_ <= int(std::size(hart::kDetailCommands))) {
        sendStep();
        return;
    }
    show(*identity_, details_);
    QString state = QStringLiteral("Read at %1.").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    for (const std::string &p : details_.problems)
        state += ' ' + text(p) + '.';
    finish(state);
}

void HartDetails::replyTimedOut()
{
    const uint8_t command = step_ <= 0 ? 0 : hart::kDetailCommands[step_ - 1];
    const hart::FoundReply found = hart::findReply(reply_.data(), reply_.size());
    if (found.fault != hart::ReplyFault::NotFound)
        finish(QStringLiteral("Command %1: %2.").arg(command).arg(text(hart::replyFaultText(found.fault))));
    else
        finish(QStringLiteral("Command %1: no reply within %2 ms.").arg(command).arg(kReplyMs));
}

void HartDetails::finish(const QString &state)
{
    timeout_->stop();
    step_ = -1;
    State->setText(state);
    ReadButton->setEnabled(true);
}

void HartDetails::show(const hart::Command0Data &c0, const hart::DeviceDetails &d)
{
    auto set = [this](const char *name, const QString &value) {
        findChild<QLabel *>(QLatin1String(name))->setText(value);
    };
    const auto optional = [](const std::optional<std::string> &v) { return v ? text(*v) : kNotSupported; };
    set("DetailsIdentity", QStringLiteral("manufacturer %1, device type %2, device id %3, HART %4")
                               .arg(c0.identity.manufacturerId)
                               .arg(c0.identity.deviceType)
                               .arg(hart::deviceIdNumber(c0.identity))
                               .arg(c0.universalRevision));
    const auto &tdd = d.tagDescriptorDate;
    set("DetailsTag", tdd ? text(tdd->tag) : kNotSupported);
    set("DetailsDescriptor", tdd ? text(tdd->descriptor) : kNotSupported);
    set("DetailsDate", tdd ? text(tdd->isoDate().value_or("invalid date")) : kNotSupported);
    set("DetailsMessage", optional(d.message));
    set("DetailsLongTag", optional(d.longTag));
    set("DetailsPV", d.pv ? withUnit(d.pv->value, d.pv->unitCode) : kNotSupported);
    set("DetailsLoopCurrent", d.loop ? number(d.loop->milliamperes) + QStringLiteral(" mA") : kNotSupported);
    set("DetailsPercent", d.loop ? number(d.loop->percentOfRange) + QStringLiteral(" %") : kNotSupported);
    const auto &r = d.range;
    set("DetailsRange", r ? withUnit(r->lower, r->rangeUnit) + QStringLiteral(" .. ") + withUnit(r->upper, r->rangeUnit)
                          : kNotSupported);
    set("DetailsTransfer", r ? text(hart::transferFunctionName(r->transferFunction)) : kNotSupported);
    set("DetailsDamping", r ? number(r->dampingSeconds) + QStringLiteral(" s") : kNotSupported);
    set("DetailsAlarm", r ? text(hart::alarmSelectionName(r->alarmSelection)) : kNotSupported);
    set("DetailsWriteProtect", r ? text(hart::writeProtectName(r->writeProtect)) : kNotSupported);
    QString status = kNotSupported;
    if (d.additionalStatus) {
        const hart::Bytes &bytes = *d.additionalStatus;
        status = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()))
                                         .toHex(' ')
                                         .toUpper());
        QStringList names;
        for (const std::string &n : hart::additionalStatusNames(bytes))
            names << text(n);
        if (!names.isEmpty())
            status += QStringLiteral(" (") + names.join(QStringLiteral(", ")) + ')';
    }
    set("DetailsStatus", status);
    QStringList codes;
    for (const auto &[command, code] : d.responseCodes)
        codes << QStringLiteral("%1: %2").arg(command).arg(code);
    set("DetailsCodes", codes.join(QStringLiteral(", ")));
}
