// The Linux Sleep and GetTickCount: how long a sleep lasts, signals included, and a counter that
// keeps pace with a monotonic clock.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/seam.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

double MeasureSleep(DWORD count) {
    const auto start = Clock::now();
    Sleep(count);
    return Milliseconds(Clock::now() - start).count();
}

TEST(PosixTicksTest, ASleepLastsItsCountAndLittleMore) {
    struct Case {
        const char* why;
        DWORD count;
        double at_least;
        double at_most;  // generous: a loaded two-core machine may be late to wake us
    };
    const Case cases[] = {
        {"0 only yields", 0, 0.0, 10.0},
        {"1 ms", 1, 1.0, 15.0},
        {"one slice", 15, 15.0, 30.0},
        {"over a second crosses the nanosecond carry", 1005, 1005.0, 1030.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const double lasted = MeasureSleep(c.count);
        EXPECT_GE(lasted, c.at_least);
        EXPECT_LE(lasted, c.at_most);
    }
}

std::atomic<int> interruptions{0};
void CountInterruption(int) {
    interruptions.fetch_add(1);
}

TEST(PosixTicksTest, ASleepInterruptedBySignalsStillLastsItsFullCount) {
    struct sigaction action {};
    action.sa_handler = CountInterruption;
    action.sa_flags = 0;  // no SA_RESTART: each signal ends the kernel's sleep early
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    std::atomic<bool> done{false};
    double lasted = 0;
    std::thread sleeper([&] {
        lasted = MeasureSleep(300);
        done = true;
    });
    while (!done) {
        pthread_kill(sleeper.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sleeper.join();
    sigaction(SIGUSR1, &previous, nullptr);

    // A signal every 20 ms reaches the sleeper (under ThreadSanitizer, whose deferred delivery
    // runs the handler fewer times, at least once).
    EXPECT_GE(interruptions.load(), 1);
    EXPECT_GE(lasted, 300.0);
    EXPECT_LE(lasted, 330.0);
}

TEST(PosixTicksTest, TheCounterKeepsPaceWithAMonotonicClock) {
    const DWORD first = GetTickCount();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const DWORD second = GetTickCount();
    const double passed = Milliseconds(Clock::now() - start).count();
    // Unsigned difference: right across a wrap of the counter too.
    const double counted = static_cast<double>(static_cast<DWORD>(second - first));
    EXPECT_NEAR(counted, passed, 2.0);
}

}  // namespace
