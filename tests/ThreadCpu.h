// SPDX-License-Identifier: GPL-3.0-or-later
// CPU time of this process's threads, read from /proc (Linux). Lets a test
// ask whether the threads it started sit idle, whatever else the process
// (the test itself, a sanitizer's own threads) is doing.
#pragma once

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace ThreadCpu {

// CPU seconds used so far, by thread id.
inline std::map<int, double> snapshot()
{
    std::map<int, double> cpu;
    if (DIR *dir = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(dir)) {
            std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (e->d_name[0] != '.' && stat >> ns)
                cpu[std::atoi(e->d_name)] = double(ns) / 1e9;
        }
        ::closedir(dir);
    }
    return cpu;
}

// CPU seconds used since `from` by the threads that are not in `others`.
inline double usedSince(const std::map<int, double> &from, const std::map<int, double> &others)
{
    double used = 0;
    for (const auto &[tid, seconds] : snapshot()) {
        if (others.count(tid))
            continue;
        const auto start = from.find(tid);
        used += seconds - (start == from.end() ? 0.0 : start->second);
    }
    return used;
}

} // namespace ThreadCpu
