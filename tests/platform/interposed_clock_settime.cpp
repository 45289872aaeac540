// A recording clock_settime that takes the C library's place in this test program.
#include "interposed_clock_settime.h"

#include <cerrno>
#include <mutex>

namespace {
std::mutex guard;
std::vector<InterposedClockCall> calls;
int failure = 0;
}  // namespace

extern "C" int clock_settime(clockid_t clock, const timespec* when) noexcept {
    std::lock_guard lock(guard);
    calls.push_back({clock, *when});
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    return 0;
}

std::vector<InterposedClockCall> InterposedClockCalls() {
    std::lock_guard lock(guard);
    return calls;
}

void ClearInterposedClockCalls() {
    std::lock_guard lock(guard);
    calls.clear();
}

void SetInterposedClockError(int error) {
    std::lock_guard lock(guard);
    failure = error;
}
