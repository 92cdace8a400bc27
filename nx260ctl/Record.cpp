// SPDX-License-Identifier: GPL-3.0-or-later
// The commissioning record as a list (record) and as a page (report).
#include "Ctl.h"
#include "Report.h"
#include "Session.h"

#include "ChangeRecord.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace nx260ctl {

namespace {

std::string html(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// One gateway's lines, in record order.
using Lines = std::vector<const Json *>;

void finalSettings(std::ostream &h, const Lines &list)
{
    std::map<std::string, Json> finalValues;
    std::vector<std::string> keyOrder;
    for (const Json *e : list) {
        const std::string key = e->value("key", "");
        if (key == "hart.instruments" || key == "reset")
            continue;
        if (!finalValues.count(key))
            keyOrder.push_back(key);
        const Json after = e->value("after", Json());
        finalValues[key] = after.is_null() ? e->value("asked", Json()) : after;
    }
    h << "<h3>Final settings</h3>\n<table>\n";
    for (const std::string &k : keyOrder)
        h << "<tr><th>" << html(k) << "</th><td>" << html(exchange::valueText(finalValues[k])) << "</td></tr>\n";
    h << "</table>\n";
}

void hartInstruments(std::ostream &h, const Lines &list)
{
    const Json *hart = nullptr;
    for (const Json *e : list)
        if (e->value("key", "") == "hart.instruments")
            hart = e;
    h << "<h3>HART instruments found</h3>\n";
    if (!hart) {
        h << "<p>No HART scan recorded.</p>\n";
        return;
    }
    h << "<table>\n<tr><th>address</th><th>manufacturer</th><th>device type</th><th>device id</th></tr>\n";
    for (const Json &i : hart->value("after", Json::array()))
        h << "<tr><td>" << i.value("address", 0) << "</td><td>" << i.value("manufacturer_id", 0) << "</td><td>"
          << i.value("device_type", 0) << "</td><td>" << i.value("device_id", 0) << "</td></tr>\n";
    h << "</table>\n";
}

void changes(std::ostream &h, const Lines &list)
{
    h << "<h3>Changes</h3>\n<table class=\"changes\">\n<tr><th>time (UTC)</th><th>key</th><th>before</th>"
         "<th>asked</th><th>read back</th><th>result</th><th>by</th></tr>\n";
    for (const Json *e : list) {
        const std::string result = e->value("result", "");
        const bool ok = result == "set" || result == "set_unverified" || result == "acknowledged" || result == "found";
        h << "<tr><td>" << html(e->value("time", "")) << "</td><td>" << html(e->value("key", "")) << "</td><td>"
          << html(exchange::valueText(e->value("before", Json()))) << "</td><td>"
          << html(exchange::valueText(e->value("asked", Json()))) << "</td><td>"
          << html(e->value("key", "") == "hart.instruments" ? "" : exchange::valueText(e->value("after", Json())))
          << "</td><td" << (ok ? "" : " class=\"bad\"") << ">" << html(result) << "</td><td>"
          << html(e->value("user", "") + ", " + e->value("tool", "")) << "</td></tr>\n";
    }
    h << "</table>\n";
}

// The record, filtered by --since and --port.
std::vector<Json> recordLines(const Options &o)
{
    std::string error;
    const auto all = exchange::readRecord(o.record, &error);
    if (!all)
        fail(Usage, o.words.front() + ": " + error);
    std::vector<Json> out;
    for (const Json &line : *all) {
        const std::string time = line.value("time", "");
        const std::string port = line.value("port", "");
        if (o.since && time < *o.since)
            continue;
        if (!o.ports.empty() && std::find(o.ports.begin(), o.ports.end(), port) == o.ports.end())
            continue;
        out.push_back(line);
    }
    return out;
}

// The gateways in the order first met, each with its lines.
std::vector<std::pair<std::string, Lines>> byGateway(const std::vector<Json> &lines)
{
    std::vector<std::pair<std::string, Lines>> gateways;
    for (const Json &e : lines) {
        const std::string port = e.value("port", "");
        auto it = std::find_if(gateways.begin(), gateways.end(), [&](const auto &g) { return g.first == port; });
        if (it == gateways.end())
            it = gateways.insert(gateways.end(), {port, {}});
        it->second.push_back(&e);
    }
    return gateways;
}

} // namespace

std::string reportHtml(const std::vector<Json> &lines, const std::string &recordPath, const std::string &writtenAt)
{
    const auto gateways = byGateway(lines);
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/><title>Commissioning report</title>\n"
         "<style>body{font:11pt sans-serif;margin:1.5em}h1{font-size:16pt}h2{font-size:13pt;margin-top:1.2em}"
         "table{border-collapse:collapse;margin:.3em 0}td,th{border:1px solid #888;padding:2px 6px;text-align:left}"
         ".bad{color:#b00;font-weight:bold}@media print{body{margin:0}section{break-inside:avoid}}</style>"
         "</head>\n<body>\n<h1>Commissioning report</h1>\n<p>Written "
      << html(writtenAt) << " by nx260ctl " << NX260_VERSION << " from " << html(recordPath) << "; "
      << gateways.size() << " gateway(s), " << lines.size() << " change(s).</p>\n";
    for (const auto &[port, list] : gateways) {
        h << "<section class=\"gateway\">\n<h2>" << html(port) << "</h2>\n<p>Identification: "
          << html(list.back()->value("gateway", "")) << "</p>\n";
        finalSettings(h, list);
        hartInstruments(h, list);
        changes(h, list);
        h << "</section>\n";
    }
    h << "</body></html>\n";
    return h.str();
}

namespace commands {

int record(Session &s)
{
    const Options &o = s.options();
    s.need(0, "record [--since DATE] [--port P] [--json]");
    const auto entries = recordLines(o);
    if (o.json) {
        s.emit(Json(entries));
        return Done;
    }
    for (const Json &e : entries) {
        s.out() << e.value("time", "") << "  " << e.value("port", "") << "  " << e.value("key", "") << "  "
                << exchange::valueText(e.value("before", Json())) << " -> "
                << exchange::valueText(e.value("asked", Json())) << ", read back "
                << exchange::valueText(e.value("after", Json())) << ": " << e.value("result", "") << "  ("
                << e.value("gateway", "") << "; " << e.value("user", "") << ", " << e.value("tool", "") << ")\n";
    }
    if (entries.empty())
        s.out() << "no changes recorded in " << o.record << '\n';
    return Done;
}

int report(Session &s)
{
    const Options &o = s.options();
    s.need(1, "report FILE.html [--since DATE] [--port P]");
    const auto entries = recordLines(o);
    std::string error;
    if (!exchange::writeNewFile(o.words[1], reportHtml(entries, o.record, exchange::utcNow()), &error))
        fail(OutputError, "report: " + error);
    if (o.json)
        s.emit({{"file", o.words[1]}, {"gateways", byGateway(entries).size()}, {"changes", entries.size()}});
    else
        s.out() << "wrote " << o.words[1] << '\n';
    return Done;
}

} // namespace commands

} // namespace nx260ctl
