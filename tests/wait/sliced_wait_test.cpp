// The sliced wait against a scripted sleep, tick counter and queue: every sleep, pump and
// reading in order, for short, sliced, extreme and negative durations, and the stop signal.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/scripted_wait_platform.h"
#include "wait/sliced_wait.h"
#include "wait/stop_signal.h"

namespace {

// The shape of a sliced wait: the start reading, then per slice a sleep, a pump (P- on the
// empty queue) and a reading, then the remainder's sleep and pump when there is one.
std::string SlicedTrace(int slices, int remainder) {
    std::string trace = "T";
    for (int i = 0; i < slices; ++i)
        trace += " S15 P- T";
    if (remainder > 0) {
        trace += " S";
        trace += std::to_string(remainder);
        trace += " P-";
    }
    return trace;
}

// A counter that never moves.
TickScript Stuck(DWORD reading) {
    return [reading](const TickScriptState&) { return reading; };
}

// A counter that starts at `start` and moves `per_slice` ms with each sleep (32-bit wrap).
TickScript Moving(DWORD start, DWORD per_slice) {
    return [=](const TickScriptState& s) {
        return static_cast<DWORD>(start + static_cast<DWORD>(s.sleeps) * per_slice);
    };
}

// The start reading, then `later` for every reading after it.
TickScript Jump(DWORD start, DWORD later) {
    return [=](const TickScriptState& s) { return s.readings == 0 ? start : later; };
}

class SlicedWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScriptedWaitPlatform();
        BindThreadStopSignal(nullptr);
    }
    void TearDown() override { BindThreadStopSignal(nullptr); }
};

TEST_F(SlicedWaitTest, BelowOneSliceSleepsOnceAndPumpsOnceWithoutReadingTheCounter) {
    struct Case {
        const char* why;
        std::int32_t duration;
        const char* expected;
    };
    const Case cases[] = {
        {"0 gives up the time slice and pumps", 0, "S0 P-"},
        {"1 ms", 1, "S1 P-"},
        {"14, the longest single sleep", 14, "S14 P-"},
        // Handed to Sleep as they are, these would be unsigned counts of weeks or INFINITE.
        {"-1 would be INFINITE: waits like 0", -1, "S0 P-"},
        {"-800 would be about 49.7 days: waits like 0", -800, "S0 P-"},
        {"the most negative duration waits like 0", std::numeric_limits<std::int32_t>::min(),
         "S0 P-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ResetScriptedWaitPlatform();
        WaitMilliseconds(c.duration);
        EXPECT_EQ(DescribeWaitCalls(RecordedWaitCalls()), c.expected);
    }
}

TEST_F(SlicedWaitTest, SlicesUntilTheCounterShowsTheDurationOrTheBudgetIsSpent) {
    struct Case {
        const char* why;
        std::int32_t duration;
        TickScript ticks;
        int slices;
        int remainder_slept;  // 0: no remainder sleep
    };
    constexpr DWORD kBelow2To31 = 0x7FFFFF00;  // 256 ms before the counter passes 2^31
    constexpr DWORD kBelow2To32 = 0xFFFFFF00;  // 256 ms before it wraps to 0
    const Case cases[] = {
        {"15: one slice, whatever the counter shows", 15, Stuck(5000), 1, 0},
        {"15: one slice with an exact counter", 15, Moving(5000, 15), 1, 0},
        {"16, counter shows 15 after the slice: the remainder of 1 follows", 16, Moving(0, 15), 1,
         1},
        {"16, counter shows exactly 16: done, no remainder", 16, Moving(0, 16), 1, 0},
        {"29, counter shows 15: the remainder of 14 follows", 29, Moving(0, 15), 1, 14},
        {"29, counter shows 29: done", 29, Moving(0, 29), 1, 0},
        {"800, exact counter: 53 slices show 795, then the remainder of 5", 800, Moving(1000, 15),
         53, 5},
        {"800, counter 16 ms a slice: ends when it shows 800, after 50", 800, Moving(1000, 16), 50,
         0},
        {"800, counter that does not move: full budget, then the remainder", 800, Stuck(1000), 53,
         5},
        {"810, counter that does not move: budget 54 and no remainder to sleep", 810, Stuck(1000),
         54, 0},
        // Read as signed, 2^31 - 1 then 2^31 is a jump back of almost 2^32: never enough.
        {"800, counter passes 2^31: full budget and remainder", 800, Moving(kBelow2To31, 16), 53,
         5},
        // Read as signed, 2^32 - 1 then 0 is a step of one: the measurement stays right.
        {"800, counter wraps at 2^32: ends after 50 as usual", 800, Moving(kBelow2To32, 16), 50, 0},
        {"largest duration, counter shows it after one slice", 2147483647, Jump(0, 0x7FFFFFFF), 1,
         0},
        {"largest duration from a negative start, no overflow", 2147483647,
         Jump(0xFFFFFFFF, 0x7FFFFFFE), 1, 0},
        {"largest duration, counter one short: keeps slicing", 2147483647,
         [](const TickScriptState& s) -> DWORD {
             return s.readings == 0 ? 0 : s.readings < 3 ? 0x7FFFFFFE : 0x7FFFFFFF;
         },
         3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ResetScriptedWaitPlatform();
        SetTickScript(c.ticks);
        WaitMilliseconds(c.duration);
        EXPECT_EQ(DescribeWaitCalls(RecordedWaitCalls()), SlicedTrace(c.slices, c.remainder_slept));
    }
}

TEST(SlicePlanTest, BudgetAndRemainderAreTheExactQuotientAndRemainder) {
    struct Case {
        std::int32_t duration;
        std::int32_t budget;
        std::int32_t remainder;
    };
    const Case cases[] = {
        {15, 1, 0}, {16, 1, 1}, {29, 1, 14}, {30, 2, 0}, {800, 53, 5}, {2147483647, 143165576, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.duration);
        const SlicePlan plan = PlanSlices(c.duration);
        EXPECT_EQ(plan.budget, c.budget);
        EXPECT_EQ(plan.remainder, c.remainder);
    }
}

TEST_F(SlicedWaitTest, AStopEndsTheWaitAfterThePumpOfTheSliceItArrivedIn) {
    struct Case {
        const char* why;
        std::int32_t duration;
        bool bind;
        int stop_at_sleep;    // 1-based; 0: never asked
        bool post_with_stop;  // a message arrives with the stop
        std::string expected;
    };
    const auto slices_then_stop = [](int slices) {
        std::string trace = "T";
        for (int i = 1; i < slices; ++i)
            trace += " S15 P- T";
        return trace + " S15 P-";
    };
    const Case cases[] = {
        {"asked during the first slice of 800: no further reading or sleep", 800, true, 1, false,
         slices_then_stop(1)},
        {"asked during slice 20 of 800", 800, true, 20, false, slices_then_stop(20)},
        {"the slice's pump still drains the queue before the wait returns", 800, true, 1, true,
         "T S15 P(USER+1) D(USER+1) X(USER+1) P-"},
        {"asked during the remainder: returns after its pump, as it would anyway", 800, true, 54,
         false, SlicedTrace(53, 5)},
        {"a short wait asked to stop: its one sleep and one pump", 5, true, 1, false, "S5 P-"},
        {"bound but never asked: exactly the plain wait", 800, true, 0, false, SlicedTrace(53, 5)},
        {"a signal set but not bound on this thread changes nothing", 800, false, 1, false,
         SlicedTrace(53, 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ResetScriptedWaitPlatform();
        SetTickScript(Stuck(1000));
        StopSignal signal;
        BindThreadStopSignal(c.bind ? &signal : nullptr);
        int sleeps = 0;
        SetSleepHook([&](DWORD) {
            if (++sleeps != c.stop_at_sleep)
                return;
            RequestStop(signal);
            if (c.post_with_stop)
                PostScriptedMessage(WM_USER + 1);
        });

        WaitMilliseconds(c.duration);

        EXPECT_EQ(DescribeWaitCalls(RecordedWaitCalls()), c.expected);
        BindThreadStopSignal(nullptr);
    }
}

TEST_F(SlicedWaitTest, AStopAskedBeforeTheWaitEndsItAfterTheFirstSlice) {
    StopSignal signal;
    RequestStop(signal);
    BindThreadStopSignal(&signal);
    SetTickScript(Stuck(1000));
    WaitMilliseconds(800);
    EXPECT_EQ(DescribeWaitCalls(RecordedWaitCalls()), "T S15 P-");
}

TEST(StopSignalTest, TheBindingBelongsToTheCallingThread) {
    StopSignal mine;
    StopSignal theirs;
    RequestStop(theirs);
    BindThreadStopSignal(&mine);
    bool seen_there = false;
    std::thread other([&] {
        EXPECT_FALSE(ThreadStopRequested()) << "a new thread has nothing bound";
        BindThreadStopSignal(&theirs);
        seen_there = ThreadStopRequested();
    });
    other.join();
    EXPECT_TRUE(seen_there);
    EXPECT_FALSE(ThreadStopRequested()) << "the other thread's binding is not ours";
    RequestStop(mine);
    EXPECT_TRUE(ThreadStopRequested());
    BindThreadStopSignal(nullptr);
    EXPECT_FALSE(ThreadStopRequested()) << "unbound";
}

}  // namespace
