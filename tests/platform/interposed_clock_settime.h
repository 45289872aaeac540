// Test programs that link this define clock_settime themselves, so the Linux SetLocalTime runs
// in full while the machine's clock is never touched.
#pragma once

#include <ctime>
#include <vector>

struct InterposedClockCall {
    clockid_t clock;
    timespec when;
};

std::vector<InterposedClockCall> InterposedClockCalls();
void ClearInterposedClockCalls();
// errno to fail with from now on; 0 makes the call succeed.
void SetInterposedClockError(int error);
