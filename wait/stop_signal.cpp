// The stop signal and its per-thread binding.
#include "wait/stop_signal.h"

namespace {
thread_local const StopSignal* bound_signal = nullptr;
}

// Release and acquire: whatever the GUI thread wrote before asking is seen by the thread that
// notices the request.
void RequestStop(StopSignal& signal) {
    signal.requested.store(true, std::memory_order_release);
}

void BindThreadStopSignal(const StopSignal* signal) {
    bound_signal = signal;
}

bool ThreadStopRequested() {
    return bound_signal != nullptr && bound_signal->requested.load(std::memory_order_acquire);
}
