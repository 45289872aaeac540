// The Linux SetLocalTime: what it asks of the kernel, and every request it refuses untouched.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "interposed_clock_settime.h"
#include "platform/seam.h"

namespace {

class PosixClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearInterposedClockCalls();
        SetInterposedClockError(0);
        UseZone("UTC");
    }
    void TearDown() override { UseZone("UTC"); }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
};

TEST_F(PosixClockTest, SetsRealtimeClockToTheLocalTimeInUtc) {
    const SYSTEMTIME t{2017, 5, 3, 3, 12, 34, 56, 789};
    EXPECT_NE(SetLocalTime(&t), FALSE);
    const auto calls = InterposedClockCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].clock, CLOCK_REALTIME);
    EXPECT_EQ(calls[0].when.tv_sec, 1493814896);
    EXPECT_EQ(calls[0].when.tv_nsec, 789000000);
}

TEST_F(PosixClockTest, AppliesTheMachinesZoneRules) {
    struct Case {
        const char* zone;
        SYSTEMTIME local;
        long long utc_seconds;
    };
    const Case cases[] = {
        // Shanghai keeps UTC+8 all year.
        {"Asia/Shanghai", {2017, 1, 4, 5, 10, 28, 51, 0}, 1483583331},
        // Berlin in summer is UTC+2, in winter UTC+1.
        {"Europe/Berlin", {2021, 7, 4, 1, 12, 0, 0, 0}, 1625133600},
        {"Europe/Berlin", {2021, 1, 5, 1, 12, 0, 0, 0}, 1609498800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        ClearInterposedClockCalls();
        UseZone(c.zone);
        EXPECT_NE(SetLocalTime(&c.local), FALSE);
        const auto calls = InterposedClockCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].when.tv_sec, c.utc_seconds);
    }
}

TEST_F(PosixClockTest, RefusesWhatWindowsRefusesWithoutTouchingTheClock) {
    struct Case {
        const char* why;
        SYSTEMTIME t;
    };
    const Case cases[] = {
        {"year before 1601", {1600, 12, 0, 31, 0, 0, 0, 0}},
        {"year 100, the failure date", {100, 1, 5, 1, 0, 0, 0, 0}},
        {"year after 30827", {30828, 1, 0, 1, 0, 0, 0, 0}},
        {"month 0", {2017, 0, 0, 1, 0, 0, 0, 0}},
        {"month 13", {2017, 13, 0, 1, 0, 0, 0, 0}},
        {"day 0", {2017, 5, 0, 0, 0, 0, 0, 0}},
        {"day 32", {2017, 1, 0, 32, 0, 0, 0, 0}},
        {"31 April", {2017, 4, 0, 31, 0, 0, 0, 0}},
        {"29 February of a common year", {2017, 2, 0, 29, 0, 0, 0, 0}},
        {"29 February 1900, no leap year", {1900, 2, 0, 29, 0, 0, 0, 0}},
        {"hour 24", {2017, 5, 3, 3, 24, 0, 0, 0}},
        {"minute 60", {2017, 5, 3, 3, 12, 60, 0, 0}},
        {"second 60", {2017, 5, 3, 3, 12, 0, 60, 0}},
        {"millisecond 1000", {2017, 5, 3, 3, 12, 0, 0, 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(SetLocalTime(&c.t), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(InterposedClockCalls().empty());
    EXPECT_EQ(SetLocalTime(nullptr), FALSE);
}

TEST_F(PosixClockTest, AcceptsTheEdgesOfTheRangeAndIgnoresTheDayOfWeek) {
    const SYSTEMTIME accepted[] = {
        {2016, 2, 9, 29, 23, 59, 59, 999},  // a leap day, with a day of week out of range
        {2000, 2, 2, 29, 0, 0, 0, 0},       // 2000 is a leap year
        {30827, 12, 0, 31, 23, 59, 59, 999},
    };
    for (const SYSTEMTIME& t : accepted) EXPECT_NE(SetLocalTime(&t), FALSE);
    EXPECT_EQ(InterposedClockCalls().size(), 3u);
}

TEST_F(PosixClockTest, AKernelRefusalIsAFailureWithTheReason) {
    const SYSTEMTIME t{2017, 5, 3, 3, 12, 34, 56, 0};
    SetInterposedClockError(EPERM);
    EXPECT_EQ(SetLocalTime(&t), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
    SetInterposedClockError(EINVAL);  // before 1970, which Linux's clock cannot show
    const SYSTEMTIME early{1601, 1, 1, 1, 0, 0, 0, 0};
    EXPECT_EQ(SetLocalTime(&early), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
