// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsControls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include <vector>

#include "StrictInt.h"

namespace {

using exchange::GatewaySettings;

template <int Row>
std::optional<int> &rowMode(GatewaySettings &s) { return s.instruments[Row].mode; }
template <int Row>
std::optional<int> &rowType(GatewaySettings &s) { return s.instruments[Row].type; }
template <int Row>
std::optional<int> &rowPreambles(GatewaySettings &s) { return s.instruments[Row].preambles; }
template <int Row>
std::optional<int> &rowInterval(GatewaySettings &s) { return s.instruments[Row].interval; }

template <int Row>
void addRow(std::vector<SettingControl> &t)
{
    static const std::string n = std::to_string(Row);
    static const std::string keys[] = {"instruments[" + n + "].mode", "instruments[" + n + "].type",
                                       "instruments[" + n + "].preambles", "instruments[" + n + "].interval"};
    const QString digit = QString::number(Row + 1);
    t.push_back({keys[0].c_str(), "SBZHU" + digit, SettingControl::Choice, 0, &rowMode<Row>});
    t.push_back({keys[1].c_str(), "NEIXING" + digit, SettingControl::Choice, 0, &rowType<Row>});
    t.push_back({keys[2].c_str(), "QIADF" + digit, SettingControl::Choice, exchange::kPreamblesMin,
                 &rowPreambles<Row>});
    t.push_back({keys[3].c_str(), "DTM" + digit, SettingControl::Number, 0, &rowInterval<Row>});
}

std::vector<SettingControl> makeTable()
{
    using C = SettingControl;
    std::vector<SettingControl> t = {
        {"system.mode", "MODEL", C::Choice, 0, [](GatewaySettings &s) -> auto & { return s.system.mode; }},
        {"system.address", "Edit14", C::Number, 0, [](GatewaySettings &s) -> auto & { return s.system.address; }},
        {"system.rs485a.baud", "BOA", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485a.baud; }},
        {"system.rs485a.parity", "JIAOA", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485a.parity; }},
        {"system.rs485b.baud", "BOB", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485b.baud; }},
        {"system.rs485b.parity", "JIAOB", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485b.parity; }},
        {"system.rs485a.return_time", "DTMA", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485a.returnTime; }},
        {"system.rs485b.return_time", "DTMB", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.rs485b.returnTime; }},
        {"system.interval", "RTD", C::Number, 0, [](GatewaySettings &s) -> auto & { return s.system.interval; }},
        {"system.channels", "CHXINGHAO", C::Choice, 0,
         [](GatewaySettings &s) -> auto & { return s.system.channels; }, false},
    };
    addRow<0>(t);
    addRow<1>(t);
    addRow<2>(t);
    addRow<3>(t);
    return t;
}

} // namespace

std::span<const SettingControl> settingControls()
{
    static const std::vector<SettingControl> table = makeTable();
    return table;
}

void showSettings(QWidget &form, const GatewaySettings &settings, const std::map<std::string, std::string> &texts)
{
    GatewaySettings s = settings;
    for (const SettingControl &c : settingControls()) {
        const std::optional<int> &value = c.field(s);
        if (c.kind == SettingControl::Choice) {
            auto *box = form.findChild<QComboBox *>(c.control);
            if (!box || !value)
                continue;
            const int i = *value - c.bias;
            box->setCurrentIndex(i >= 0 && i < box->count() ? i : -1);
            continue;
        }
        auto *edit = form.findChild<QLineEdit *>(c.control);
        if (!edit)
            continue;
        if (const auto t = texts.find(c.key); t != texts.end())
            edit->setText(QString::fromLatin1(t->second.data(), qsizetype(t->second.size())));
        else if (value)
            edit->setText(QString::number(*value));
    }
}

std::optional<GatewaySettings> readSettings(const QWidget &form, QString *problem)
{
    GatewaySettings s;
    for (const SettingControl &c : settingControls()) {
        std::optional<int> &value = c.field(s);
        if (!c.reported)
            continue;
        if (c.kind == SettingControl::Choice) {
            const auto *box = form.findChild<const QComboBox *>(c.control);
            if (!box)
                continue;
            if (box->currentIndex() < 0) {
                if (problem)
                    *problem = QStringLiteral("%1: no item is selected in %2")
                                   .arg(QLatin1String(c.key), c.control);
                return std::nullopt;
            }
            value = box->currentIndex() + c.bias;
            continue;
        }
        const auto *edit = form.findChild<const QLineEdit *>(c.control);
        // An empty box (the address before any query) is left out.
        if (!edit || edit->text().isEmpty())
            continue;
        const auto v = exchange::strictToInt(edit->text().toStdString());
        if (!v || *v < 0 || *v > exchange::kNumberMax) {
            if (problem)
                *problem = QStringLiteral("%1: '%2' in %3 is not a number from 0 to %4")
                               .arg(QLatin1String(c.key), edit->text(), c.control)
                               .arg(exchange::kNumberMax);
            return std::nullopt;
        }
        value = *v;
    }
    return s;
}
