// SPDX-License-Identifier: GPL-3.0-or-later
// The commissioning report made from record lines alone, without a port.
#include "Report.h"

#include <QtTest>

#include <string>
#include <vector>

using exchange::Json;

namespace {

Json line(const std::string &port, const std::string &key, Json before, Json asked, Json after,
          const std::string &result, const std::string &gateway = "NX260-HGW V1.0#")
{
    return {{"time", "2026-12-10T05:30:12.345Z"}, {"tool", "nx260ctl"}, {"user", "anna"}, {"port", port},
            {"gateway", gateway}, {"key", key}, {"before", before}, {"asked", asked}, {"after", after},
            {"result", result}};
}

// The text between `from` and the next `to`, starting at `at`.
std::string between(const std::string &html, const std::string &from, const std::string &to, size_t at = 0)
{
    const size_t b = html.find(from, at);
    if (b == std::string::npos)
        return {};
    const size_t e = html.find(to, b + from.size());
    return html.substr(b + from.size(), e - b - from.size());
}

} // namespace

class TstReport : public QObject {
    Q_OBJECT
private slots:
    void gatewaysInOrderFirstMet();
    void finalSettingsAreTheLastReadBack();
    void hartInstruments();
    void changesMarkFailuresAndEscape();
    void emptyRecord();
};

// One section per gateway, in the order met, named by its latest identification.
void TstReport::gatewaysInOrderFirstMet()
{
    const std::vector<Json> lines = {
        line("/dev/ttyUSB1", "address", 1, 5, 5, "set", "NX260-HGW A#"),
        line("/dev/ttyUSB0", "address", 1, 6, 6, "set"),
        line("/dev/ttyUSB1", "rs485a.baud", 9600, 19200, 19200, "set", "NX260-HGW B#"),
    };
    const std::string html = nx260ctl::reportHtml(lines, "/tmp/changes.jsonl", "2026-12-11T10:00:00.000Z");
    QVERIFY(html.starts_with("<!DOCTYPE html>"));
    QVERIFY(html.ends_with("</body></html>\n"));
    QVERIFY(html.find("<p>Written 2026-12-11T10:00:00.000Z by nx260ctl ") != std::string::npos);
    QVERIFY(html.find(" from /tmp/changes.jsonl; 2 gateway(s), 3 change(s).</p>") != std::string::npos);
    const size_t first = html.find("<h2>/dev/ttyUSB1</h2>");
    const size_t second = html.find("<h2>/dev/ttyUSB0</h2>");
    QVERIFY(first != std::string::npos && second != std::string::npos && first < second);
    QCOMPARE(between(html, "<p>Identification: ", "</p>", first), std::string("NX260-HGW B#"));
    QCOMPARE(between(html, "<p>Identification: ", "</p>", second), std::string("NX260-HGW V1.0#"));
}

// The last value per key, read back or else asked; scans and resets are no setting.
void TstReport::finalSettingsAreTheLastReadBack()
{
    const std::vector<Json> lines = {
        line("COM3", "address", 1, 5, 5, "set"),
        line("COM3", "rs485a.parity", "none", "even", nullptr, "set_unverified"),
        line("COM3", "reset", nullptr, "factory", nullptr, "acknowledged"),
        line("COM3", "address", 5, 7, 6, "read_back_different"),
        line("COM3", "hart.instruments", nullptr, nullptr, Json::array(), "found"),
    };
    const std::string html = nx260ctl::reportHtml(lines, "r", "t");
    QCOMPARE(between(html, "<h3>Final settings</h3>\n<table>\n", "</table>"),
             std::string("<tr><th>address</th><td>6</td></tr>\n<tr><th>rs485a.parity</th><td>even</td></tr>\n"));
}

void TstReport::hartInstruments()
{
    const std::string none = nx260ctl::reportHtml({line("COM3", "address", 1, 2, 2, "set")}, "r", "t");
    QVERIFY(none.find("<h3>HART instruments found</h3>\n<p>No HART scan recorded.</p>\n") != std::string::npos);

    const Json first = Json::array({{{"address", 1}, {"manufacturer_id", 38}, {"device_type", 9}, {"device_id", 1}}});
    const Json last = Json::array({{{"address", 2}, {"manufacturer_id", 17}, {"device_type", 200}, {"device_id", 123456}},
                                   {{"address", 4}, {"manufacturer_id", 0}, {"device_type", 1}, {"device_id", 0}}});
    const std::string html = nx260ctl::reportHtml({line("COM3", "hart.instruments", nullptr, nullptr, first, "found"),
                                                   line("COM3", "hart.instruments", nullptr, nullptr, last, "found")},
                                                  "r", "t");
    QCOMPARE(between(html, "<th>device id</th></tr>\n", "</table>"),
             std::string("<tr><td>2</td><td>17</td><td>200</td><td>123456</td></tr>\n"
                         "<tr><td>4</td><td>0</td><td>1</td><td>0</td></tr>\n"));
}

// Every change is a row of seven cells; a result that is no success is marked.
void TstReport::changesMarkFailuresAndEscape()
{
    const std::vector<Json> lines = {
        line("tcp://a&b", "tag", "<old>", "\"new\"", "\"new\"", "set"),
        line("tcp://a&b", "address", 1, 2, nullptr, "not_acknowledged"),
    };
    const std::string html = nx260ctl::reportHtml(lines, "r", "t");
    QVERIFY(html.find("<h2>tcp://a&amp;b</h2>") != std::string::npos);
    const std::string rows = between(html, "<th>by</th></tr>\n", "</table>");
    QCOMPARE(rows, std::string("<tr><td>2026-12-10T05:30:12.345Z</td><td>tag</td><td>&lt;old&gt;</td>"
                               "<td>&quot;new&quot;</td><td>&quot;new&quot;</td><td>set</td><td>anna, nx260ctl</td></tr>\n"
                               "<tr><td>2026-12-10T05:30:12.345Z</td><td>address</td><td>1</td><td>2</td><td>null</td>"
                               "<td class=\"bad\">not_acknowledged</td><td>anna, nx260ctl</td></tr>\n"));
}

void TstReport::emptyRecord()
{
    const std::string html = nx260ctl::reportHtml({}, "changes.jsonl", "t");
    QVERIFY(html.find("from changes.jsonl; 0 gateway(s), 0 change(s).</p>\n</body></html>\n") != std::string::npos);
    QVERIFY(html.find("<section") == std::string::npos);
}

QTEST_GUILESS_MAIN(TstReport)
#include "tst_report.moc"
