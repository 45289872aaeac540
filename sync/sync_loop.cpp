// SyncLoop: fetch, extract, set the clock, wait; and the stop that ends it from another thread.
#include "sync/sync_loop.h"

#include <exception>

#include "sync/conversions.h"
#include "sync/date_time.h"
#include "sync/extract.h"
#include "sync/main_window_link.h"
#include "wait/sliced_wait.h"

namespace {

// Binds the loop's stop signal to its thread for as long as the loop runs, so the wait sees it.
class ThreadStopBinding {
public:
    explicit ThreadStopBinding(const StopSignal& signal) { BindThreadStopSignal(&signal); }
    ~ThreadStopBinding() { BindThreadStopSignal(nullptr); }
    ThreadStopBinding(const ThreadStopBinding&) = delete;
    ThreadStopBinding& operator=(const ThreadStopBinding&) = delete;
};

// What the loop keeps from one pass to the next. Each value is replaced, and so released, only
// when its successor arrives, so memory stays flat however long the loop runs.
struct PassValues {
    TextValue slot;  // the page text, then the date-time text built from it
    TextValue year, month, day, hour, minute, second;
};

bool Stopped(const SyncStop& stop) {
    return stop.signal.requested.load();
}

std::int32_t ReadInterval() {
    try {
        return IntervalFromText(ReadIntervalText());  // the text goes once it is converted
    } catch (const std::exception&) {
        return 0;  // an unreadable text counts as the empty text
    }
}

// One pass up to and including the clock call; false when a stop came first, in which case the
// answer is dropped and the clock is left alone.
bool RunPass(SyncStop& stop, const TextValue& url, PassValues& values) {
    {
        const ByteBuffer page = HttpGetBody(url, &stop.fetch);
        if (Stopped(stop))
            return false;  // an answer still in transit at the stop is discarded
        values.slot = BytesToText(page);
    }  // the buffer goes as soon as it has been converted

    // Every key is searched from the start of the page, bytes matched exactly.
    values.year = ExtractBetween(values.slot, "nyear=", ";", 0, false);
    values.month = ExtractBetween(values.slot, "nmonth=", ";", 0, false);
    values.day = ExtractBetween(values.slot, "nday=", ";", 0, false);
    values.hour = ExtractBetween(values.slot, "nhrs=", ";", 0, false);
    values.minute = ExtractBetween(values.slot, "nmin=", ";", 0, false);
    values.second = ExtractBetween(values.slot, "nsec=", ";", 0, false);
    values.slot = BuildDateTimeText(values.year, values.month, values.day, values.hour,
                                    values.minute, values.second);
    const DateTimeValue when = ParseDateTimeText(values.slot);

    // One step that a stop cannot split: either the clock is set before the stop returns, or the
    // stop is seen here and the clock is never set by this thread again.
    const std::lock_guard lock(stop.gate);
    if (Stopped(stop))
        return false;
    SetLocalClock(when);  // its result changes nothing: the next pass tries again
    return true;
}

}  // namespace

std::int32_t IntervalFromText(const TextValue& text) {
    // The low 32 bits, read as signed: 4294968096 is an interval of 800.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(TextToInt64(text)));
}

void SyncLoop(SyncStop& stop, const TextValue& url) {
    const ThreadStopBinding binding(stop.signal);
    if (Stopped(stop))
        return;  // stopped before it began: not even the interval is read
    const std::int32_t interval = ReadInterval();

    PassValues values;
    while (!Stopped(stop)) {
        bool carry_on = true;
        try {
            carry_on = RunPass(stop, url, values);
        } catch (const std::exception&) {
            // Memory ran out within the pass: like a failed fetch, the clock is left alone and
            // the next pass tries again.
        }
        if (!carry_on)
            break;
        WaitMilliseconds(interval);  // ends within one slice of a stop
    }
}

void StopSyncLoop(SyncStop& stop) {
    {
        // Waits only for a clock call under way; after this no clock call can begin.
        const std::lock_guard lock(stop.gate);
        RequestStop(stop.signal);
    }
    // Flag first, then the fetch: a fetch cut short must find the stop already set, or the loop
    // would go on to process its empty answer.
    CancelFetch(stop.fetch);
}
