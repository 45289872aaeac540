// Sleep and GetTickCount for Linux.
#include <sched.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/seam.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

timespec AddMilliseconds(timespec t, DWORD milliseconds) {
    t.tv_sec += static_cast<time_t>(milliseconds / 1000);
    t.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (t.tv_nsec >= kNanosecondsPerSecond) {
        t.tv_sec += 1;
        t.tv_nsec -= kNanosecondsPerSecond;
    }
    return t;
}

}  // namespace

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        // As on Windows: give up the rest of the time slice, nothing more.
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        // Windows never returns from this; neither do we.
        for (;;) {
            const timespec day{86400, 0};
            clock_nanosleep(CLOCK_MONOTONIC, 0, &day, nullptr);
        }
    }
    // An absolute deadline, so that a signal handler running in the middle neither shortens the
    // sleep nor makes it drift by resuming from a rounded remainder.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec deadline = AddMilliseconds(now, dwMilliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// CLOCK_BOOTTIME rather than CLOCK_MONOTONIC: like Windows' counter it keeps counting while the
// machine is suspended, so a wait that spans a suspend ends when its time is up in real terms.
// Neither clock moves when the wall clock is set, which is what the sliced wait relies on.
DWORD GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const std::uint64_t milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    // The low 32 bits: wraps to 0 after about 49.7 days, as the platform's does.
    return static_cast<DWORD>(milliseconds);
}
