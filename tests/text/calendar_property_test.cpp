// Every day Windows can hold, checked against the standard library's civil calendar: its text at
// 23:59:58 reads into a value that asks the clock for exactly that day and time.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "sync/date_time.h"

namespace {

using namespace std::chrono;

std::string Show(int y, unsigned m, unsigned d, int hour, int minute, int second) {
    return std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d) + " " +
           std::to_string(hour) + ":" + std::to_string(minute) + ":" + std::to_string(second);
}

TEST(CalendarProperty, EveryDayFrom1601To9999RoundTripsToTheClockRequest) {
    ClearRecordedClockRequests();
    SetRecordedClockResult(TRUE);
    constexpr sys_days kDayZero = 1899y / December / 30;
    constexpr sys_days kLast = 9999y / December / 31;
    const TextValue hour = "23", minute = "59", second = "58";
    std::vector<TextValue> numbers;
    for (int n = 0; n <= 31; ++n)
        numbers.push_back(std::to_string(n));

    long checked = 0;
    long mismatches = 0;
    std::ostringstream first_mismatches;
    const auto report = [&](const std::string& what) {
        if (++mismatches <= 5)
            first_mismatches << what << "\n";
    };

    for (int y = 1601; y <= 9999; ++y) {
        // One year at a time, so that the record stays small.
        const TextValue year_text = std::to_string(y);
        std::vector<sys_days> asked;
        asked.reserve(366);
        for (unsigned m = 1; m <= 12; ++m) {
            const unsigned last = static_cast<unsigned>(
                year_month_day_last{year{y} / month{m} / std::chrono::last}.day());
            for (unsigned d = 1; d <= last; ++d) {
                const sys_days day = year{y} / month{m} / d;
                const DateTimeValue value = ParseDateTimeText(
                    BuildDateTimeText(year_text, numbers[m], numbers[d], hour, minute, second));
                if (std::trunc(value) != static_cast<double>((day - kDayZero).count())) {
                    report(Show(y, m, d, 23, 59, 58) + " read as " + std::to_string(value));
                }
                if (!SetLocalClock(value))
                    report(Show(y, m, d, 23, 59, 58) + " refused");
                asked.push_back(day);
            }
        }
        const std::vector<SYSTEMTIME> requests = RecordedClockRequests();
        ClearRecordedClockRequests();
        ASSERT_EQ(requests.size(), asked.size()) << y;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            const year_month_day date{asked[i]};
            const SYSTEMTIME& t = requests[i];
            // The last day at 23:59:58 lies above the upper bound, 31 December 9999 00:00:00.
            const bool clamped = asked[i] == kLast;
            if (t.wYear != static_cast<int>(date.year()) ||
                t.wMonth != static_cast<unsigned>(date.month()) ||
                t.wDay != static_cast<unsigned>(date.day()) ||
                t.wDayOfWeek != weekday{asked[i]}.c_encoding() || t.wHour != (clamped ? 0 : 23) ||
                t.wMinute != (clamped ? 0 : 59) || t.wSecond != (clamped ? 0 : 58) ||
                t.wMilliseconds != 0) {
                report(Show(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                            static_cast<unsigned>(date.day()), 23, 59, 58) +
                       " asked for " +
                       Show(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond) +
                       " day of week " + std::to_string(t.wDayOfWeek) + " ms " +
                       std::to_string(t.wMilliseconds));
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, (kLast - sys_days{1601y / January / 1}).count() + 1);
    EXPECT_EQ(mismatches, 0) << first_mismatches.str();
}

}  // namespace
