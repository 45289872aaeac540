// Starts and stops at random moments, thousands of times, against a timed server: after every stop
// the stopped thread sends no further request and sets no clock, and at the end no thread, no
// memory and (under ThreadSanitizer) no race is left.
#include "app/start_stop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "tests/loop/loop_test_support.h"
#include "tests/loop/timed_http_server.h"

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::seconds;

#if defined(_WIN32)
constexpr int kCycles = 100;  // under Wine every thread and request costs far more
#else
constexpr int kCycles = 2000;
#endif
constexpr unsigned kRandomStart = 20170105;

// Where the thread is when the stop comes.
enum class Moment {
    kAtOnce,              // right after the start: the thread may not have run yet
    kDuringIntervalRead,  // the read is held until the stop has returned
    kDuringSlowFetch,     // the server answers after a delay: the answer may be in transit
    kDuringSilentFetch,   // the server never answers
    kDuringWait,          // interval 800, first pass done: the thread waits
    kAroundClockCall,     // interval 0, passes back to back: anywhere, the clock call included
};

const char* NameOf(Moment moment) {
    switch (moment) {
        case Moment::kAtOnce:
            return "at_once";
        case Moment::kDuringIntervalRead:
            return "during_interval_read";
        case Moment::kDuringSlowFetch:
            return "during_slow_fetch";
        case Moment::kDuringSilentFetch:
            return "during_silent_fetch";
        case Moment::kDuringWait:
            return "during_wait";
        case Moment::kAroundClockCall:
            return "around_clock_call";
    }
    return "?";
}

struct Cycle {
    long run = 0;
    Moment moment = Moment::kAtOnce;
    // What the server and the recording clock held the moment the stop click returned.
    std::size_t requests_at_stop = 0;
    std::size_t clock_calls_at_stop = 0;
    double stop_ms = 0;
};

Moment PickMoment(std::mt19937& random) {
    static const Moment moments[] = {Moment::kAtOnce,          Moment::kDuringIntervalRead,
                                     Moment::kDuringSlowFetch, Moment::kDuringSilentFetch,
                                     Moment::kDuringWait,      Moment::kAroundClockCall};
    std::discrete_distribution<int> weights({15, 15, 20, 15, 10, 25});
    return moments[weights(random)];
}

int Between(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

// Sets up one start, clicks it, brings the thread to its moment, clicks the stop.
Cycle RunCycle(long run, Moment moment, TimedHttpServer& server, std::mt19937& random) {
    Cycle cycle;
    cycle.run = run;
    cycle.moment = moment;
    int slow_ms = 0;
    switch (moment) {
        case Moment::kDuringSlowFetch:
            slow_ms = Between(random, 1, 20);
            server.AnswerAfter(milliseconds(slow_ms));
            break;
        case Moment::kDuringSilentFetch:
            server.NeverAnswer();
            break;
        default:
            server.AnswerAtOnce();
            break;
    }
    const bool wait_long = moment == Moment::kDuringWait ||
                           (moment != Moment::kAroundClockCall && Between(random, 0, 1) == 1);
    SetIntervalText(wait_long ? "800" : "0");
    SetLoopServiceUrl(server.Url(run));
    HoldIntervalReads(moment == Moment::kDuringIntervalRead);
    const std::size_t clock_calls_at_start = RecordedClockRequests().size();

    OnStartStopClicked();
    switch (moment) {
        case Moment::kAtOnce:
            break;
        case Moment::kDuringIntervalRead:
            std::this_thread::sleep_for(microseconds(Between(random, 0, 2000)));
            break;
        case Moment::kDuringSlowFetch:
            EXPECT_TRUE(WaitUntil([&] { return server.RunRequestCount(run) >= 1; }, seconds(10)));
            std::this_thread::sleep_for(microseconds(Between(random, 0, slow_ms * 1000)));
            break;
        case Moment::kDuringSilentFetch:
            EXPECT_TRUE(WaitUntil([&] { return server.RunRequestCount(run) >= 1; }, seconds(10)));
            std::this_thread::sleep_for(microseconds(Between(random, 0, 5000)));
            break;
        case Moment::kDuringWait:
            EXPECT_TRUE(
                WaitUntil([&] { return RecordedClockRequests().size() > clock_calls_at_start; },
                          seconds(10)));
            std::this_thread::sleep_for(microseconds(Between(random, 0, 20000)));
            break;
        case Moment::kAroundClockCall:
            std::this_thread::sleep_for(microseconds(Between(random, 0, 10000)));
            break;
    }
    const auto asked = LoopClock::now();
    OnStartStopClicked();
    const auto returned = LoopClock::now();
    cycle.requests_at_stop = server.RequestCount();
    cycle.clock_calls_at_stop = RecordedClockRequests().size();
    cycle.stop_ms = Milliseconds(returned - asked).count();
    HoldIntervalReads(false);
    return cycle;
}

// The thread count once it has held for half a second (the warm-up's threads make their way out).
int SteadyThreadCount() {
    int count = LiveThreadCount();
    auto since = LoopClock::now();
    const auto give_up = since + seconds(10);
    while (LoopClock::now() - since < milliseconds(500) && LoopClock::now() < give_up) {
        std::this_thread::sleep_for(milliseconds(10));
        const int now = LiveThreadCount();
        if (now != count) {
            count = now;
            since = LoopClock::now();
        }
    }
    return count;
}

struct Figures {
    double seconds = 0;
    std::size_t requests = 0;
    std::size_t clock_calls = 0;
    std::size_t in_transit_at_stop = 0;
    std::size_t silent_fetches_stopped = 0;
    double longest_stop_ms = 0;
};

// Runs every cycle and checks, from the server's and the recording clock's lists:
// - every clock request names a request of the server (its page's date), so belongs to one run;
// - after a run's stop returned, the recording clock got no request from that run, and the server
//   got at most one request from it: the one whose sending had begun before the stop (the run's
//   thread makes one request at a time and no new one once stopped);
// - where the moment leaves no room for a request in transit, not even that one: a stop during
//   the interval read leaves the run without any request, one during a silent fetch with exactly
//   its one request and no clock call, one during the 800 ms wait with one request and one clock
//   call;
// - every stop click returns within a bounded moment;
// - at the end, once the last stop has had a short grace, no thread of the loop or the server is
//   left.
Figures StressStartStop(int threads_before) {
    Figures figures;
    std::mt19937 random(kRandomStart);
    std::vector<Cycle> cycles;
    cycles.reserve(kCycles);
    TimedHttpServer server;
    const auto began = LoopClock::now();
    for (long run = 0; run < kCycles; ++run)
        cycles.push_back(RunCycle(run, PickMoment(random), server, random));
    EndSyncAtExit();
    figures.seconds = std::chrono::duration<double>(LoopClock::now() - began).count();

    // The server's own connection threads end once their clients are gone; under Wine a stopped
    // silent fetch only ends with its connection, so the server closes them first there.
    int server_threads = 1;
    if (RunsUnderWine()) {
        server.Stop();
        server_threads = 0;
    }
    EXPECT_TRUE(
        WaitUntil([&] { return LiveThreadCount() == threads_before + server_threads; }, seconds(5)))
        << LiveThreadCount() - threads_before - server_threads << " threads left";
    const std::vector<TimedRequest> requests = server.Requests();
    const std::vector<SYSTEMTIME> clock_calls = RecordedClockRequests();
    server.Stop();
    figures.requests = requests.size();
    figures.clock_calls = clock_calls.size();

    // Runs of the clock calls, in the order they were made.
    std::vector<long> clock_runs;
    for (const SYSTEMTIME& call : clock_calls) {
        const auto index = RequestOfClockRequest(call);
        if (!index || *index >= requests.size()) {
            ADD_FAILURE() << "a clock request that no request of the server led to: "
                          << Describe(call);
            clock_runs.push_back(-1);
            continue;
        }
        clock_runs.push_back(requests[*index].run);
    }

    for (const Cycle& cycle : cycles) {
        SCOPED_TRACE(testing::Message() << "run " << cycle.run << ", " << NameOf(cycle.moment));
        std::size_t requests_of_run = 0;
        std::size_t requests_after_stop = 0;
        for (const TimedRequest& request : requests) {
            if (request.run != cycle.run)
                continue;
            ++requests_of_run;
            if (request.index >= cycle.requests_at_stop)
                ++requests_after_stop;
        }
        std::size_t clock_calls_of_run = 0;
        std::size_t clock_calls_after_stop = 0;
        for (std::size_t i = 0; i < clock_runs.size(); ++i) {
            if (clock_runs[i] != cycle.run)
                continue;
            ++clock_calls_of_run;
            if (i >= cycle.clock_calls_at_stop)
                ++clock_calls_after_stop;
        }
        EXPECT_EQ(clock_calls_after_stop, 0u);
        EXPECT_LE(requests_after_stop, 1u);
        figures.in_transit_at_stop += requests_after_stop;
        switch (cycle.moment) {
            case Moment::kDuringIntervalRead:
                EXPECT_EQ(requests_of_run, 0u);
                break;
            case Moment::kDuringSilentFetch:
                EXPECT_EQ(requests_of_run, 1u);
                EXPECT_EQ(clock_calls_of_run, 0u);
                ++figures.silent_fetches_stopped;
                break;
            case Moment::kDuringWait:
                EXPECT_EQ(requests_of_run, 1u);
                EXPECT_EQ(clock_calls_of_run, 1u);
                break;
            default:
                break;
        }
        figures.longest_stop_ms = std::max(figures.longest_stop_ms, cycle.stop_ms);
    }
    // The GUI thread waits for a clock call under way and for the fetch's cancel, nothing more;
    // the bound leaves room for a loaded machine under ThreadSanitizer.
    EXPECT_LT(figures.longest_stop_ms, 500.0);
    return figures;
}

TEST(SyncStress, StartsAndStopsAtRandomMomentsLeaveNoLateRequestClockCallThreadOrMemory) {
    // Also gives GoogleTest its per-thread trace state now: on Windows that starts a thread of its
    // own, which would otherwise show in the thread count.
    SCOPED_TRACE(testing::Message() << "random start " << kRandomStart);
    ResetFrontEndStandIns();
    ClearRecordedClockRequests();
    // What the first fetches and threads make once and keep (the HTTP session, the HTTP client's
    // own state and threads, the control's list of ending threads) is made here, before the
    // figures: a first, smaller round of the same cycles.
    {
        TimedHttpServer warm_up;
        std::mt19937 random(kRandomStart + 1);
        for (long run = 0; run < kCycles / 5; ++run)
            RunCycle(run, PickMoment(random), warm_up, random);
        EndSyncAtExit();
        warm_up.Stop();
    }
    const int threads_at_start = SteadyThreadCount();
    ReserveClockRecords(1 << 17);
    ResetFrontEndStandIns();
    const std::size_t heap_before = HeapBytesInUse();

    const Figures figures = StressStartStop(threads_at_start);

    ClearRecordedClockRequests();
    ResetFrontEndStandIns();
    const std::size_t heap_after = HeapBytesInUse();
    EXPECT_TRUE(WaitUntil([&] { return LiveThreadCount() == threads_at_start; }, seconds(2)));
    std::printf(
        "%d cycles in %.1f s: %zu requests, %zu clock calls, %zu requests in transit at a stop, "
        "longest stop %.2f ms; heap %zu -> %zu bytes\n",
        kCycles, figures.seconds, figures.requests, figures.clock_calls, figures.in_transit_at_stop,
        figures.longest_stop_ms, heap_before, heap_after);
    RecordProperty("wall_seconds", std::to_string(figures.seconds));
    RecordProperty("longest_stop_ms", std::to_string(figures.longest_stop_ms));
    // A stop that leaked what one thread holds (its stop, its handle, its queue, a fetch's
    // buffers) would leave hundreds of bytes per cycle; the bound is far below that.
    std::size_t allowance = 16 * 1024;
    // Wine's WinINet keeps about 750 bytes of every request whose handle was closed while a call
    // on it was blocked, which is how a silent fetch is cancelled.
    if (RunsUnderWine())
        allowance += figures.silent_fetches_stopped * 1024;
    EXPECT_LE(heap_after, heap_before + allowance)
        << "grew by " << static_cast<long long>(heap_after) - static_cast<long long>(heap_before);
}

}  // namespace
