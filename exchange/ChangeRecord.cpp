// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChangeRecord.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace exchange {

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string userName()
{
#ifdef _WIN32
    return env("USERNAME");
#else
    if (const passwd *pw = getpwuid(geteuid()))
        return pw->pw_name;
    return env("USER");
#endif
}

bool makeFolderFor(const std::string &path, std::string *error)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    if (ec && error)
        *error = "cannot create " + folder.string() + ": " + ec.message();
    return !ec;
}

} // namespace

std::string defaultRecordPath()
{
#ifdef _WIN32
    std::string base = env("LOCALAPPDATA");
#else
    std::string base = env("XDG_STATE_HOME");
    if (base.empty())
        base = env("HOME") + "/.local/state";
#endif
    return (std::filesystem::path(base) / "nx260-config" / "changes.jsonl").string();
}

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

Json recordLine(const ChangeEntry &e)
{
    return {{"time", utcNow()}, {"tool", e.tool},       {"version", NX260_VERSION}, {"user", userName()},
            {"port", e.port},   {"gateway", e.gateway}, {"key", e.key},             {"before", e.before},
            {"asked", e.asked}, {"after", e.after},     {"result", e.result}};
}

bool appendRecord(const std::string &path, const Json &line, std::string *error)
{
    if (!makeFolderFor(path, error))
        return false;
    // The whole line in one write: appends from several gateways at once, or
    // a kill between two, never interleave or tear a line.
    const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
    if (fd < 0) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
#ifdef _WIN32
    const auto written = _write(fd, text.data(), static_cast<unsigned>(text.size()));
    _close(fd);
#else
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int writeErrno = errno;
    ::close(fd);
    errno = writeErrno;
#endif
    if (written < 0 || static_cast<size_t>(written) != text.size()) {
        if (error)
            *error = "cannot write " + path + ": " + (written < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

std::optional<std::vector<Json>> readRecord(const std::string &path, std::string *error)
{
    std::vector<Json> lines;
    if (!std::filesystem::exists(path))
        return lines;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read " + path;
        return std::nullopt;
    }
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line, nullptr, false);
        if (j.is_object())
            lines.push_back(std::move(j));
    }
    return lines;
}

// A port as part of a file name: "/dev/ttyUSB0" gives "dev_ttyUSB0".
std::string fileSafe(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
        if (plain || !out.empty())
            out += plain ? c : '_';
    }
    return out.empty() ? "port" : out;
}

std::string undoProfilePath(const std::string &recordPath, const std::string &port)
{
    std::string time = utcNow();
    for (char &c : time)
        if (c == ':')
            c = '-';
    return (std::filesystem::path(recordPath).parent_path() / "undo" / (fileSafe(port) + "-" + time + ".json")).string();
}

bool writeNewFile(const std::string &path, const std::string &text, std::string *error)
{
    if (!makeFolderFor(path, error))
        return false;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f && error)
        *error = "cannot write " + path;
    return bool(f);
}

} // namespace exchange
