// SPDX-License-Identifier: GPL-3.0-or-later
#include "Gateways.h"
#include "Ctl.h"
#include "Session.h"

#include "ChangeRecord.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace nx260ctl {

namespace {

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// What one gateway's command wrote, kept until its turn to be printed.
struct Outcome {
    std::ostringstream out, err;
    int code = -1;
    bool done = false;
};

// Serves the ports on at most `jobs` threads; each outcome is marked done
// under `lock` and announced on `finished`.
class Workers {
public:
    Workers(const Options &o, const std::vector<std::string> &ports, std::vector<Outcome> &outcomes)
        : o_(o), ports_(ports), outcomes_(outcomes)
    {
        const size_t jobs = std::min(ports.size(), o.jobs > 0 ? size_t(o.jobs) : ports.size());
        for (size_t j = 0; j < jobs; ++j)
            threads_.emplace_back([this] { work(); });
    }
    ~Workers()
    {
        for (std::thread &t : threads_)
            t.join();
    }
    // Returns once the outcome of port `i` is complete.
    void waitFor(size_t i)
    {
        std::unique_lock<std::mutex> g(lock_);
        finished_.wait(g, [&] { return outcomes_[i].done; });
    }

private:
    void work()
    {
        for (size_t i; (i = next_++) < ports_.size();) {
            Options one = o_;
            one.port = ports_[i];
            if (i < one.modbusPorts.size())
                one.modbusPort = one.modbusPorts[i];
            for (std::string &w : one.words) {
                for (size_t at; (at = w.find("{port}")) != std::string::npos;)
                    w.replace(at, 6, exchange::fileSafe(ports_[i]));
            }
            const int code = runOne(one, outcomes_[i].out, outcomes_[i].err);
            std::lock_guard<std::mutex> g(lock_);
            outcomes_[i].code = code;
            outcomes_[i].done = true;
            finished_.notify_all();
        }
    }

    const Options &o_;
    const std::vector<std::string> &ports_;
    std::vector<Outcome> &outcomes_;
    std::mutex lock_;
    std::condition_variable finished_;
    std::atomic<size_t> next_{0};
    std::vector<std::thread> threads_;
};

// {port, ok, exit_code, error, result} of one gateway.
Json outcomeJson(const std::string &port, const Outcome &r)
{
    const std::string text = r.out.str();
    std::string error;
    for (const std::string &line : lines(r.err.str()))
        if (line.starts_with("nx260ctl: "))
            error = line.substr(10);
    Json result = nullptr;
    if (!text.empty())
        result = Json::parse(text, nullptr, false);
    return {{"port", port}, {"ok", r.code == Done}, {"exit_code", r.code},
            {"error", error.empty() ? Json(nullptr) : Json(error)}, {"result", result}};
}

void printPrefixed(const std::string &port, const Outcome &r, std::ostream &out, std::ostream &err)
{
    for (const std::string &line : lines(r.out.str()))
        out << port << ": " << line << '\n';
    out.flush();
    for (const std::string &line : lines(r.err.str()))
        err << port << ": " << line << '\n';
    err.flush();
}

} // namespace

int runOne(const Options &o, std::ostream &out, std::ostream &err)
{
    try {
        Session session(o, out, err);
        return session.run();
    } catch (const Failure &f) {
        out.flush();
        err << "nx260ctl: " << f.message << std::endl;
        return f.code;
    }
}

std::vector<std::string> portList(const Options &o, const std::string &envPort)
{
    std::vector<std::string> ports = o.ports;
    if (!o.portsFile.empty()) {
        std::ifstream in(o.portsFile);
        if (!in)
            fail(Usage, "--ports-file: cannot read " + o.portsFile);
        for (std::string line; std::getline(in, line);) {
            line = line.substr(0, line.find('#'));
            const size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos)
                continue;
            ports.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
        }
        if (ports.empty())
            fail(Usage, "--ports-file: " + o.portsFile + " names no port");
    }
    if (ports.empty() && !envPort.empty())
        ports.push_back(envPort);
    return ports;
}

int runMany(const Options &o, const std::vector<std::string> &ports, std::ostream &out, std::ostream &err)
{
    const std::string command = o.words.empty() ? "" : o.words.front();
    const bool namesFile = std::any_of(o.words.begin(), o.words.end(),
                                       [](const std::string &w) { return w.find("{port}") != std::string::npos; });
    if (command == "backup" && !namesFile)
        fail(Usage, "backup: with several ports the file name needs {port}");
    if (o.watchSeconds)
        fail(Usage, "--watch: one port at a time");

    std::vector<Outcome> outcomes(ports.size());
    int highest = Done;
    Json docs = Json::array();
    {
        Workers workers(o, ports, outcomes);
        for (size_t i = 0; i < ports.size(); ++i) {
            workers.waitFor(i);
            highest = std::max(highest, outcomes[i].code);
            if (o.json)
                docs.push_back(outcomeJson(ports[i], outcomes[i]));
            else
                printPrefixed(ports[i], outcomes[i], out, err);
        }
    }
    if (o.json)
        out << docs.dump(2) << '\n';
    return highest;
}

} // namespace nx260ctl
