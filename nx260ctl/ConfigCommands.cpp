// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration commands: info, show, set, reset, backup, restore, diff.
#include "Ctl.h"
#include "Session.h"

#include "ConfigReplies.h"
#include "ConfigRequests.h"
#include "Profile.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace nx260ctl {

namespace {

// Which sections a set of settings touches (the channel model is read back
// from the system reply where the gateway reports it).
bool touchesSystem(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.system = s.system;
    return !exchange::settingValues(only).empty();
}

bool touchesInstruments(const exchange::GatewaySettings &s)
{
    exchange::GatewaySettings only;
    only.instruments = s.instruments;
    return !exchange::settingValues(only).empty();
}

// What became of one setting of a set or restore.
struct KeyOutcome {
    enum Result { Unchanged, Set, SetUnverified, ReadBackDifferent, NotAcknowledged };
    std::string key;
    Json before, asked, after; // null where the gateway did not report it
    Result result;

    bool asAsked() const { return result == Unchanged || result == Set || result == SetUnverified; }
    std::string text() const
    {
        switch (result) {
        case Unchanged: return "unchanged";
        case Set: return "set";
        case SetUnverified: return "set (the gateway does not report it: not read back)";
        case ReadBackDifferent: return "set but read back different (" + exchange::valueText(after) + ")";
        case NotAcknowledged: return "not acknowledged";
        }
        return {};
    }
    std::string word() const
    {
        static const char *const kWords[] = {"unchanged", "set", "set_unverified", "read_back_different",
                                             "not_acknowledged"};
        return kWords[result];
    }
};

std::map<std::string, Json> valuesByKey(const exchange::GatewaySettings &s)
{
    std::map<std::string, Json> values;
    for (auto &[k, v] : exchange::settingValues(s))
        values[k] = v;
    return values;
}

void checkDecoded(const std::string &command, const exchange::Bytes &request, const std::vector<uint8_t> &reply,
                  const std::optional<std::string> &error, const std::vector<std::string> &bad)
{
    if (error || !bad.empty())
        fail(Differs, command + ": " + printable(request) + ": reply not understood ("
                          + (error ? *error : "missing or invalid: " + bad.front()) + "): " + printable(reply));
}

exchange::GatewaySettings query(Session &s, const std::string &command, bool system, bool instruments)
{
    exchange::GatewaySettings settings;
    if (system) {
        const exchange::Bytes request = exchange::systemParameterQuery();
        const auto bytes = s.config(command, request, "system parameters", Session::Expect::System);
        const exchange::SystemReply r = exchange::decodeSystemParameters(std::string(bytes.begin(), bytes.end()));
        settings.system = r.settings;
        settings.system.channels = r.channels;
        checkDecoded(command, request, bytes, r.error, exchange::unusableFields(settings, true, false));
    }
    if (instruments) {
        const exchange::Bytes request = exchange::instrumentQuery();
        const auto bytes = s.config(command, request, "instrument table", Session::Expect::Instruments);
        const exchange::InstrumentReply r = exchange::decodeInstrumentTable(std::string(bytes.begin(), bytes.end()));
        settings.instruments = r.rows;
        checkDecoded(command, request, bytes, r.error, exchange::unusableFields(settings, false, true));
    }
    return settings;
}

// Sends the groups of `change`; the keys whose request the gateway refused.
std::set<std::string> sendAll(Session &s, const std::string &command, const exchange::GatewaySettings &change,
                              const exchange::GatewaySettings &current)
{
    std::string problem;
    const auto requests = exchange::setRequests(change, current, &problem);
    if (!requests)
        fail(Usage, command + ": " + problem + ": cannot be encoded");
    const auto changed = exchange::settingValues(change);
    std::set<std::string> refusedKeys;
    for (const exchange::SetRequest &q : *requests) {
        const auto reply = s.config(command, q.bytes, "acknowledgement");
        // Name the settings this request carried, as they were asked for.
        std::string carried;
        for (const auto &[key, value] : changed) {
            const bool inGroup = key == q.name
                || (q.name.starts_with("instrument.") && key.starts_with(q.name + "."))
                || key == q.name + ".baud" || key == q.name + ".parity";
            if (!inGroup)
                continue;
            carried += (carried.empty() ? "" : " ") + key + "=" + exchange::valueText(value);
            if (refused(reply))
                refusedKeys.insert(key);
        }
        s.progress(command + ": " + carried + (refused(reply) ? ": not acknowledged (" : ": acknowledged (")
                   + printable(reply) + ")");
    }
    return refusedKeys;
}

// The keys of `wanted` to send: all, or only those the gateway holds otherwise.
std::set<std::string> keysToSend(const exchange::GatewaySettings &current, const exchange::GatewaySettings &wanted,
                                 bool onlyDiffering)
{
    std::set<std::string> send;
    if (!onlyDiffering) {
        for (const auto &kv : exchange::settingValues(wanted))
            send.insert(kv.first);
        return send;
    }
    for (const std::string &k : exchange::differingKeys(current, wanted))
        send.insert(k);
    // Where the gateway does not report the channel model, only sending it makes sure.
    if (wanted.system.channels && !current.system.channels)
        send.insert("channels");
    return send;
}

KeyOutcome::Result resultOf(const std::string &key, const Json &asked, const Json &after,
                            const std::set<std::string> &send, const std::set<std::string> &refusedKeys)
{
    if (!send.count(key))
        return KeyOutcome::Unchanged;
    if (refusedKeys.count(key))
        return KeyOutcome::NotAcknowledged;
    if (after.is_null())
        return KeyOutcome::SetUnverified;
    return after == asked ? KeyOutcome::Set : KeyOutcome::ReadBackDifferent;
}

// Reads the gateway, sends `wanted` (or only what differs), reads back and
// says per key what became of it; every key sent is recorded.
std::vector<KeyOutcome> change(Session &s, const std::string &command, const exchange::GatewaySettings &wanted,
                               bool onlyDiffering)
{
    const bool system = touchesSystem(wanted), instruments = touchesInstruments(wanted);
    // Requests that carry several settings take the others from the gateway.
    const exchange::GatewaySettings current = query(s, command, system, instruments);
    const auto wantedValues = exchange::settingValues(wanted);
    const std::set<std::string> send = keysToSend(current, wanted, onlyDiffering);
    exchange::GatewaySettings changes;
    for (const auto &[k, v] : wantedValues) {
        std::string error;
        if (send.count(k))
            exchange::applySetting(changes, k, exchange::valueText(v), &error);
    }
    if (!send.empty()) {
        s.gatewayId();
        s.keepUndo(command, current);
    }
    const std::set<std::string> refusedKeys = send.empty() ? std::set<std::string>{}
                                                           : sendAll(s, command, changes, current);
    const exchange::GatewaySettings now = send.empty() ? current : query(s, command, system, instruments);

    std::map<std::string, Json> before = valuesByKey(current), after = valuesByKey(now);
    std::vector<KeyOutcome> outcomes;
    for (const auto &[k, asked] : wantedValues) {
        KeyOutcome o{k, before.count(k) ? before[k] : Json(nullptr), asked, after.count(k) ? after[k] : Json(nullptr),
                     KeyOutcome::Unchanged};
        o.result = resultOf(k, asked, o.after, send, refusedKeys);
        if (send.count(k))
            s.recordChange(k, o.before, o.asked, o.after, o.word());
        outcomes.push_back(std::move(o));
    }
    return outcomes;
}

exchange::GatewaySettings readProfile(const std::string &command, const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(Usage, command + ": cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const auto settings = exchange::parseProfile(text.str(), &error);
    if (!settings)
        fail(Usage, command + ": " + file + ": " + error);
    return *settings;
}

// A reply line on stdout, or {member: line} with --json.
int printReply(Session &s, const char *member, const std::vector<uint8_t> &reply)
{
    if (s.options().json)
        s.emit({{member, printable(reply)}});
    else
        s.out() << printable(reply) << '\n';
    return Done;
}

} // namespace

namespace commands {

int info(Session &s)
{
    s.need(0, "info");
    const auto reply = s.config("info", exchange::communicationQuery(), "reply");
    if (!identification(reply))
        fail(Differs, "info: " + printable(exchange::communicationQuery()) + ": not an identification; received: "
                          + received(reply));
    return printReply(s, "identification", reply);
}

int show(Session &s)
{
    const auto &words = s.options().words;
    bool system = true, instruments = true;
    if (words.size() == 2 && words[1] == "system")
        instruments = false;
    else if (words.size() == 2 && words[1] == "instruments")
        system = false;
    else if (words.size() != 1)
        fail(Usage, "usage: nx260ctl show [system|instruments]");
    const exchange::GatewaySettings settings = query(s, "show", system, instruments);
    if (s.options().json) {
        s.emit(exchange::settingsJson(settings, system, instruments));
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto &[k, v] : exchange::settingValues(settings))
            lines.emplace_back(k, exchange::valueText(v));
        printLines(s.out(), lines);
    }
    return Done;
}

int set(Session &s)
{
    const auto &words = s.options().words;
    if (words.size() < 2)
        fail(Usage, "usage: nx260ctl set KEY=VALUE ...");
    exchange::GatewaySettings wanted;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string &w = words[i];
        const size_t eq = w.find('=');
        std::string error;
        if (eq == std::string::npos)
            fail(Usage, "set: " + w + ": expected KEY=VALUE");
        if (!exchange::applySetting(wanted, std::string_view(w).substr(0, eq), std::string_view(w).substr(eq + 1),
                                    &error))
            fail(Usage, "set: " + error);
    }
    const auto outcomes = change(s, "set", wanted, false);
    const auto notAsAsked = [](const KeyOutcome &o) { return !o.asAsked(); };
    const auto bad = std::find_if(outcomes.begin(), outcomes.end(), notAsAsked);
    if (bad != outcomes.end()) {
        const auto more = std::count_if(outcomes.begin(), outcomes.end(), notAsAsked) - 1;
        const std::string rest = more > 0 ? " (and " + std::to_string(more) + " more)" : "";
        if (bad->result == KeyOutcome::NotAcknowledged)
            fail(Differs, "set: " + bad->key + "=" + exchange::valueText(bad->asked) + ": not acknowledged" + rest);
        fail(Differs, "set: verify: the gateway reports " + bad->key + "=" + exchange::valueText(bad->after) + ", not "
                          + exchange::valueText(bad->asked) + rest);
    }
    if (s.options().json)
        s.emit(exchange::settingsJson(wanted, touchesSystem(wanted), touchesInstruments(wanted)));
    return Done;
}

int reset(Session &s)
{
    s.need(0, "reset");
    s.gatewayId();
    const auto reply = s.config("reset", exchange::parameterInitialization(), "acknowledgement");
    s.recordChange("reset", nullptr, "QQS#RESET#", nullptr, refused(reply) ? "not_acknowledged" : "acknowledged");
    if (refused(reply))
        fail(Differs, "reset: not acknowledged (" + printable(reply) + ")");
    return printReply(s, "reply", reply);
}

int backup(Session &s)
{
    s.need(1, "backup FILE");
    const std::string &file = s.options().words[1];
    const exchange::GatewaySettings settings = query(s, "backup", true, true);
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f << exchange::profileJson(settings).dump(2) << '\n';
    f.close();
    if (!f)
        fail(Usage, "backup: cannot write " + file);
    if (s.options().json)
        s.emit({{"file", file}});
    else
        s.out() << "wrote " << file << '\n';
    return Done;
}

int restore(Session &s)
{
    s.need(1, "restore FILE");
    const exchange::GatewaySettings wanted = readProfile("restore", s.options().words[1]);
    const auto outcomes = change(s, "restore", wanted, true);
    const bool asAsked = std::all_of(outcomes.begin(), outcomes.end(), [](const KeyOutcome &k) { return k.asAsked(); });
    if (s.options().json) {
        Json keys = Json::array(), changed = Json::array();
        for (const KeyOutcome &k : outcomes) {
            keys.push_back({{"key", k.key}, {"before", k.before}, {"asked", k.asked}, {"after", k.after},
                            {"result", k.word()}});
            if (k.result != KeyOutcome::Unchanged && k.asAsked())
                changed.push_back(k.key);
        }
        s.emit({{"changed", changed}, {"keys", keys}});
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const KeyOutcome &k : outcomes)
            lines.emplace_back(k.key, k.text());
        printLines(s.out(), lines);
    }
    return asAsked ? Done : Differs;
}

int diff(Session &s)
{
    s.need(1, "diff FILE");
    const exchange::GatewaySettings wanted = readProfile("diff", s.options().words[1]);
    const exchange::GatewaySettings gateway = query(s, "diff", touchesSystem(wanted), touchesInstruments(wanted));
    std::map<std::string, Json> g = valuesByKey(gateway), w = valuesByKey(wanted);
    const auto keys = exchange::differingKeys(gateway, wanted);
    // A key the profile holds and the gateway does not report cannot be compared.
    std::vector<std::string> unreported;
    for (const auto &[k, v] : w)
        if (!g.count(k))
            unreported.push_back(k);
    if (s.options().json) {
        Json list = Json::array();
        for (const std::string &k : keys)
            list.push_back({{"key", k}, {"gateway", g[k]}, {"profile", w[k]}});
        s.emit({{"differences", list}, {"not_reported", unreported}});
    } else {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const std::string &k : keys)
            lines.emplace_back(k, "gateway " + exchange::valueText(g[k]) + ", profile " + exchange::valueText(w[k]));
        for (const std::string &k : unreported)
            lines.emplace_back(k, "not reported by the gateway, profile " + exchange::valueText(w[k]));
        printLines(s.out(), lines);
        if (keys.empty())
            s.out() << "no differences\n";
    }
    return keys.empty() ? Done : Differs;
}

} // namespace commands

} // namespace nx260ctl
