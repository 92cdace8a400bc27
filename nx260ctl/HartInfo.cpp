// SPDX-License-Identifier: GPL-3.0-or-later
// hart info: command 0, then the detail commands, as one document or lines.
#include "Ctl.h"
#include "HartCommands.h"

#include "HartUnits.h"

namespace nx260ctl {

namespace {

// Each detail command's reply; a command the device refuses leaves its part empty.
hart::DeviceDetails readDetails(Session &s, const hart::Identity &identity, const std::string &where)
{
    const Options &o = s.options();
    hart::DeviceDetails details;
    for (const uint8_t command : hart::kDetailCommands) {
        const std::string what = "hart: command " + std::to_string(command) + where;
        hart::addDetail(details, *s.hartExchange(what, hart::commandFrame(addressIndex(o.address), !o.secondary,
                                                                           identity, o.preambles, command)));
    }
    return details;
}

Json rangeJson(const hart::DeviceDetails &details)
{
    const auto &range = details.range;
    if (!range)
        return nullptr;
    const uint8_t wp = range->writeProtect;
    return {{"upper", floatJson(range->upper)},
            {"lower", floatJson(range->lower)},
            {"unit", hart::unitSymbol(range->rangeUnit)},
            {"unit_code", range->rangeUnit},
            {"damping_s", floatJson(range->dampingSeconds)},
            {"transfer_function", hart::transferFunctionName(range->transferFunction)},
            {"alarm_selection", hart::alarmSelectionName(range->alarmSelection)},
            {"write_protect", wp <= 1 ? Json(wp == 1) : Json(nullptr)}};
}

// Null for each part the device did not report.
Json detailsJson(int address, const hart::DeviceDetails &details)
{
    const auto &pv = details.pv;
    const auto &loop = details.loop;
    const auto &tdd = details.tagDescriptorDate;
    const auto &status = details.additionalStatus;
    const auto text = [](const std::optional<std::string> &v) { return v ? Json(*v) : Json(nullptr); };
    const auto floatMember = [](const auto &v, auto member) { return v ? floatJson((*v).*member) : Json(nullptr); };
    Json codes = {{"0", 0}};
    for (const auto &[command, code] : details.responseCodes)
        codes[std::to_string(command)] = code;

    Json doc = {{"address", address}};
    doc["tag"] = tdd ? Json(tdd->tag) : Json(nullptr);
    doc["descriptor"] = tdd ? Json(tdd->descriptor) : Json(nullptr);
    doc["message"] = text(details.message);
    doc["date"] = text(tdd ? tdd->isoDate() : std::nullopt);
    doc["long_tag"] = text(details.longTag);
    doc["pv"] = pv ? Json{{"value", floatJson(pv->value)}, {"unit", hart::unitSymbol(pv->unitCode)},
                          {"unit_code", pv->unitCode}}
                   : Json(nullptr);
    doc["loop_current_ma"] = floatMember(loop, &hart::LoopCurrent::milliamperes);
    doc["percent_of_range"] = floatMember(loop, &hart::LoopCurrent::percentOfRange);
    doc["range"] = rangeJson(details);
    doc["additional_status"] = status ? Json(hexText(*status)) : Json(nullptr);
    doc["additional_status_bits"] = status ? Json(hart::additionalStatusNames(*status)) : Json(nullptr);
    doc["response_codes"] = codes;
    return doc;
}

std::string shown(const Json &v)
{
    return v.is_null() ? std::string("(not supported)") : exchange::valueText(v);
}

void addRangeLines(std::vector<std::pair<std::string, std::string>> &lines, const hart::DeviceDetails &details)
{
    const auto &range = details.range;
    if (!range) {
        lines.emplace_back("range", shown(nullptr));
        return;
    }
    const std::string unit = std::string(" ") + hart::unitSymbol(range->rangeUnit);
    lines.emplace_back("range", floatText(range->lower) + unit + " .. " + floatText(range->upper) + unit + ", "
                                    + hart::transferFunctionName(range->transferFunction));
    lines.emplace_back("damping", floatText(range->dampingSeconds) + " s");
    lines.emplace_back("alarm_selection", hart::alarmSelectionName(range->alarmSelection));
    lines.emplace_back("write_protect", hart::writeProtectName(range->writeProtect));
}

// The document's parts as aligned lines, numbers with their units.
std::vector<std::pair<std::string, std::string>> detailsLines(int address, const Json &doc,
                                                              const hart::DeviceDetails &details)
{
    const auto &pv = details.pv;
    const auto &loop = details.loop;
    std::vector<std::pair<std::string, std::string>> lines = {
        {"address", std::to_string(address)},
        {"tag", shown(doc["tag"])},
        {"descriptor", shown(doc["descriptor"])},
        {"message", shown(doc["message"])},
        {"date", shown(doc["date"])},
        {"long_tag", shown(doc["long_tag"])},
    };
    lines.emplace_back("pv", pv ? floatText(pv->value) + " " + hart::unitSymbol(pv->unitCode) : shown(nullptr));
    lines.emplace_back("loop_current", loop ? floatText(loop->milliamperes) + " mA" : shown(nullptr));
    lines.emplace_back("percent_of_range", loop ? floatText(loop->percentOfRange) + " %" : shown(nullptr));
    addRangeLines(lines, details);
    std::string statusText = shown(doc["additional_status"]);
    const std::vector<std::string> names = details.additionalStatus ? hart::additionalStatusNames(*details.additionalStatus)
                                                                    : std::vector<std::string>{};
    if (!names.empty()) {
        statusText += " (";
        for (size_t i = 0; i < names.size(); ++i)
            statusText += (i ? ", " : "") + names[i];
        statusText += ")";
    }
    lines.emplace_back("additional_status", statusText);
    std::string codeText;
    for (const auto &[command, code] : doc["response_codes"].items())
        codeText += (codeText.empty() ? "" : ", ") + command + ": " + exchange::valueText(code);
    lines.emplace_back("response_codes", codeText);
    return lines;
}

} // namespace

namespace commands {

int hartInfo(Session &s)
{
    const Options &o = s.options();
    s.need(1, "hart info [--address A] [--secondary] [--preambles N]");
    const std::string where = " at address " + std::to_string(o.address);
    const hart::Command0Data c0 = hartIdentify(s, command0Name(o.address), addressIndex(o.address));
    const hart::DeviceDetails details = readDetails(s, c0.identity, where);
    const Json doc = detailsJson(o.address, details);
    if (o.json)
        s.emit(doc);
    else
        printLines(s.out(), detailsLines(o.address, doc, details));
    if (!details.problems.empty()) {
        s.out().flush();
        for (size_t i = 0; i + 1 < details.problems.size(); ++i)
            s.err() << "nx260ctl: hart info" << where << ": " << details.problems[i] << std::endl;
        fail(Differs, "hart info" + where + ": " + details.problems.back());
    }
    return Done;
}

} // namespace commands

} // namespace nx260ctl
