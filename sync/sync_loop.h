// The synchronisation loop, the whole life of its thread, and the stop that ends it.
#pragma once

#include <cstdint>
#include <mutex>

#include "sync/http_get.h"
#include "sync/text_value.h"
#include "sync/time_service.h"
#include "wait/stop_signal.h"

// What a stop from the GUI thread needs to reach inside a running loop. One per thread; shared
// with it, since the thread may still be on its way out when the next one starts.
struct SyncStop {
    StopSignal signal;  // seen before every request, before every clock call and by the wait
    FetchCancel fetch;  // ends a fetch under way
    std::mutex gate;    // held across "not stopped, so set the clock", and across the stop
};

// Reads the interval once from 编辑框1, then fetches `url`, extracts the six fields, sets the
// local clock and waits the interval, pass after pass, until `stop` is requested; then returns,
// having released everything it held.
void SyncLoop(SyncStop& stop, const TextValue& url = TimeServiceUrl);

// Callable from any thread. Once it returns, the loop sends no further request and never sets the
// clock again: a fetch under way is cancelled and its answer discarded, and a wait ends within one
// slice. It waits for nothing but a clock call already under way.
void StopSyncLoop(SyncStop& stop);

// The interval the loop waits after each pass: the text's number, low 32 bits, read as signed.
std::int32_t IntervalFromText(const TextValue& text);

// The address each new synchronisation thread fetches: TimeServiceUrl. It has an object file of
// its own (sync_loop_url.cpp), so a test program can link its loopback server's address instead.
TextValue SyncServiceUrl();
