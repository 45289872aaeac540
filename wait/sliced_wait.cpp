// The sliced wait: 15 ms sleeps, a pump after each, ended early by the tick counter or a stop.
#include "wait/sliced_wait.h"

#include "platform/seam.h"
#include "wait/pump.h"
#include "wait/stop_signal.h"

namespace {

// The one place where our signed 32-bit values meet the platform's unsigned ones.
//
// Sleep takes an unsigned count: a negative duration cast as it is would become a wait of
// about 49.7 days (and -1 would be INFINITE), so anything below 0 sleeps 0 instead.
DWORD ToSleepCount(std::int32_t milliseconds) {
    return milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds);
}

// GetTickCount's reading taken as a signed 32-bit integer (modulo 2^32, exact in C++20). That is
// how the elapsed time is measured: a wrap from 2^32 - 1 to 0 stays a step of one, while the
// passage from 2^31 - 1 to 2^31 reads as a jump back of nearly 2^32.
std::int32_t SignedTicks(DWORD reading) {
    return static_cast<std::int32_t>(reading);
}

// Sleeps, then drains the queue; true when the thread has been asked to stop meanwhile.
bool SleepAndPump(std::int32_t milliseconds) {
    Sleep(ToSleepCount(milliseconds));
    PumpPendingMessages();
    return ThreadStopRequested();
}

}  // namespace

void WaitMilliseconds(std::int32_t duration) {
    if (duration < kSliceMilliseconds) {
        SleepAndPump(duration);
        return;
    }

    const std::int32_t start = SignedTicks(GetTickCount());
    const SlicePlan plan = PlanSlices(duration);
    std::int32_t done = 0;
    bool not_yet = true;
    do {
        if (SleepAndPump(kSliceMilliseconds))
            return;
        ++done;
        // In double precision the difference of two signed readings cannot overflow.
        const double elapsed =
            static_cast<double>(SignedTicks(GetTickCount())) - static_cast<double>(start);
        not_yet = elapsed - static_cast<double>(duration) < -1e-7;
    } while (done < plan.budget && not_yet);

    // The fixed remainder, not the time actually missing.
    if (not_yet && plan.remainder > 0)
        SleepAndPump(plan.remainder);
}
