// SPDX-License-Identifier: GPL-3.0-or-later
// startup_probe: starts a GUI program on the current X display and reports
// how long it took from fork to the mapping of its first real top-level
// window, then its resident memory after a quiet period. Waits on X events
// (MapNotify on the root window), so the timing does not depend on a polling
// interval. Meant for a bare X server without a window manager (Xvfb), where
// top-level windows are the root's children.
//
//   startup_probe [--idle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]
//
// Prints one line: "mapped_ms=<float> rss_kb=<int> pss_kb=<int>".
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// "Name:   1234 kB" from a /proc file; -1 when absent.
long procField(const std::string &path, const char *name)
{
    std::ifstream in(path);
    std::string line;
    const std::size_t len = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, len, name) == 0 && line.size() > len && line[len] == ':')
            return std::strtol(line.c_str() + len + 1, nullptr, 10);
    }
    return -1;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(xcb_intern_atom_reply(c, cookie, nullptr),
                                                                      &std::free);
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window's _NET_WM_PID, 0 when it has none.
pid_t windowPid(xcb_connection_t *c, xcb_window_t w, xcb_atom_t netWmPid)
{
    auto cookie = xcb_get_property(c, 0, w, netWmPid, XCB_ATOM_CARDINAL, 0, 1);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(xcb_get_property_reply(c, cookie, nullptr),
                                                                       &std::free);
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4)
        return 0;
    return static_cast<pid_t>(*static_cast<uint32_t *>(xcb_get_property_value(r.get())));
}

// Tool-kits map helper windows of 1x1 pixels; the main window is larger.
bool realSize(xcb_connection_t *c, xcb_window_t w)
{
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr), &std::free);
    return g && g->width > 16 && g->height > 16;
}

int usage()
{
    std::fprintf(stderr, "usage: startup_probe [--idle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int idleMs = 3000;
    int timeoutMs = 30000;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if ((a == "--idle-ms" || a == "--timeout-ms") && i + 1 < argc) {
            (a == "--idle-ms" ? idleMs : timeoutMs) = std::atoi(argv[++i]);
            continue;
        }
        return usage();
    }
    if (i >= argc)
        return usage();

    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "startup_probe: cannot open the X display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int s = 0; s < screenNumber; ++s)
        xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;
    const xcb_atom_t netWmPid = atom(c, "_NET_WM_PID");
    // Listen before the program exists, so no map can be missed.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    const auto start = Clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        close(xcb_get_file_descriptor(c));
        execvp(argv[i], argv + i);
        std::perror("exec");
        _exit(127);
    }

    double mappedMs = -1;
    const int fd = xcb_get_file_descriptor(c);
    while (mappedMs < 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            start + std::chrono::milliseconds(timeoutMs) - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            const auto at = Clock::now();
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY && mappedMs < 0) {
                auto *m = reinterpret_cast<xcb_map_notify_event_t *>(e);
                if (!m->override_redirect && windowPid(c, m->window, netWmPid) == child && realSize(c, m->window))
                    mappedMs = std::chrono::duration<double, std::milli>(at - start).count();
            }
            std::free(e);
        }
        if (xcb_connection_has_error(c))
            break;
    }

    long rss = -1, pss = -1;
    if (mappedMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
        const std::string proc = "/proc/" + std::to_string(child);
        rss = procField(proc + "/status", "VmRSS");
        pss = procField(proc + "/smaps_rollup", "Pss");
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    xcb_disconnect(c);

    if (mappedMs < 0) {
        std::fprintf(stderr, "startup_probe: %s showed no window within %d ms\n", argv[i], timeoutMs);
        return 1;
    }
    std::printf("mapped_ms=%.1f rss_kb=%ld pss_kb=%ld\n", mappedMs, rss, pss);
    return 0;
}
