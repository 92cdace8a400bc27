// SPDX-License-Identifier: GPL-3.0-or-later
// `restore` of one profile on 16 simulated gateways at once against the same
// restore on one gateway alone: the tool serves its gateways in parallel,
// so 16 should take little longer than one (target: at most 1.5x).
#include "Ctl.h"
#include "GatewaySim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kGateways = 16;
constexpr int kRuns = 5;

// Four groups differ from the factory defaults: four set requests each run.
const char kProfile[] = R"({"format":"nx260-profile","version":1,
  "system":{"address":42,"mode":"transparent","rs485a":{"baud":19200,"parity":"even"}},
  "instruments":[{"row":2,"interval":7}]})";

double restore(std::vector<std::unique_ptr<sim::GatewaySim>> &gateways, size_t count, const std::string &profile,
               const std::string &record)
{
    std::vector<std::string> args;
    for (size_t i = 0; i < count; ++i) {
        gateways[i]->setState(sim::GatewayState::factoryDefaults());
        args.insert(args.end(), {"--port", gateways[i]->slavePath()});
    }
    args.insert(args.end(), {"--record", record, "restore", profile});
    std::ostringstream out, err;
    const auto t0 = Clock::now();
    const int code = nx260ctl::run(args, out, err);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (code != 0) {
        std::fprintf(stderr, "restore failed (%d): %s", code, err.str().c_str());
        std::exit(1);
    }
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("nx260-restore-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string profile = (dir / "site.json").string(), record = (dir / "changes.jsonl").string();
    std::ofstream(profile) << kProfile;

    std::vector<std::unique_ptr<sim::GatewaySim>> gateways;
    for (int i = 0; i < kGateways; ++i) {
        sim::Options o;
        o.linkPath.clear();
        gateways.push_back(std::make_unique<sim::GatewaySim>(o));
        std::string error;
        if (!gateways.back()->start(&error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            return 1;
        }
    }
    std::vector<double> one, many;
    for (int run = 0; run < kRuns; ++run) {
        one.push_back(restore(gateways, 1, profile, record));
        many.push_back(restore(gateways, kGateways, profile, record));
    }
    const double a = median(one), b = median(many);
    std::printf("restore, 1 gateway:   median %.0f ms over %d runs\n", a, kRuns);
    std::printf("restore, %d gateways: median %.0f ms over %d runs\n", kGateways, b, kRuns);
    std::printf("ratio %.2f (target at most 1.50): %s\n", b / a, b / a <= 1.5 ? "met" : "NOT met");
    std::filesystem::remove_all(dir);
    return b / a <= 1.5 ? 0 : 1;
}
