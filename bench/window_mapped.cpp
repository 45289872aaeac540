// Start-up probe: starts a program and times it from the start of its process to the moment its
// top-level window named <title> is mapped, as the X server reports it; repeated <runs> times.
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool HasName(Display* display, Window window, const char* title) {
    char* name = nullptr;
    const bool same =
        XFetchName(display, window, &name) != 0 && name != nullptr && std::strcmp(name, title) == 0;
    if (name != nullptr)
        XFree(name);
    return same;
}

// Milliseconds from fork to the window's MapNotify, or a negative value after `limit_ms`.
double TimeOneStart(Display* display, const char* title, char** program, int limit_ms) {
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(program[0], program);
        _exit(127);
    }
    double elapsed = -1;
    const int fd = ConnectionNumber(display);
    while (elapsed < 0) {
        while (XPending(display) > 0 && elapsed < 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && HasName(display, event.xmap.window, title))
                elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        if (elapsed >= 0)
            break;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (spent.count() >= limit_ms)
            break;
        pollfd wait{fd, POLLIN, 0};
        poll(&wait, 1, static_cast<int>(limit_ms - spent.count()));
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <runs> <title> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    if (runs < 1) {
        std::fprintf(stderr, "runs must be at least 1\n");
        return 2;
    }
    const char* title = argv[2];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    // Top-level windows are children of the root: their mapping reaches us as SubstructureNotify.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = TimeOneStart(display, title, argv + 3, 30000);
        if (ms < 0) {
            std::fprintf(stderr, "run %d: no window named %s within 30 s\n", i + 1, title);
            return 1;
        }
        std::printf("run_%d_ms=%.1f\n", i + 1, ms);
        times.push_back(ms);
        XSync(display, True);  // what the ended program's windows left in the queue
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("runs=%d\nmedian_ms=%.1f\nmin_ms=%.1f\nmax_ms=%.1f\n", runs, median, times.front(),
                times.back());
    XCloseDisplay(display);
    return 0;
}
