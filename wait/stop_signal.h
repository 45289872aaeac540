// The stop signal: how the GUI thread asks a synchronisation thread to end, at once and
// cooperatively, without forcing it out of a lock it may hold.
#pragma once

#include <atomic>

// One per synchronisation thread. The GUI thread sets it; the thread that has it bound notices
// within one 15 ms slice of any wait and makes its way out.
struct StopSignal {
    std::atomic<bool> requested{false};
};

// Callable from any thread. Never cleared: a thread that was asked to stop stays asked.
void RequestStop(StopSignal& signal);

// Binds the signal that ThreadStopRequested() reads on the calling thread; null unbinds. The
// signal must outlive the binding.
void BindThreadStopSignal(const StopSignal* signal);

// Whether the signal bound on the calling thread has been set; false when none is bound.
bool ThreadStopRequested();
