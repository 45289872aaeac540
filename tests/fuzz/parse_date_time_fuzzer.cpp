// Fuzzes ParseDateTimeText and SetLocalClock: a value is the failure value or lies in the bounds,
// and the request it gives reads back, as a date-time text, into the same request.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "sync/date_time.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr double kLowest = -657434.0;
constexpr double kHighest = 2958465.0;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

SYSTEMTIME RequestFor(DateTimeValue value) {
    ClearRecordedClockRequests();
    SetLocalClock(value);
    const std::vector<SYSTEMTIME> requests = RecordedClockRequests();
    ClearRecordedClockRequests();
    FUZZ_CHECK(requests.size() == 1);
    return requests[0];
}

bool SameRequest(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek &&
           a.wDay == b.wDay && a.wHour == b.wHour && a.wMinute == b.wMinute &&
           a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TextValue text(reinterpret_cast<const char*>(data), size);
    const DateTimeValue value = ParseDateTimeText(text);
    FUZZ_CHECK(!std::isnan(value));
    FUZZ_CHECK(value >= kLowest && value < kHighest + 1);

    const SYSTEMTIME t = RequestFor(value);
    FUZZ_CHECK(t.wYear >= 100 && t.wYear <= 9999);
    FUZZ_CHECK(t.wMonth >= 1 && t.wMonth <= 12);
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int month_length = t.wMonth == 2 && IsLeapYear(t.wYear) ? 29 : kDays[t.wMonth - 1];
    FUZZ_CHECK(t.wDay >= 1 && t.wDay <= month_length);
    FUZZ_CHECK(t.wDayOfWeek <= 6 && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59);
    FUZZ_CHECK(t.wMilliseconds == 0);

    const TextValue again = BuildDateTimeText(std::to_string(t.wYear), std::to_string(t.wMonth),
                                              std::to_string(t.wDay), std::to_string(t.wHour),
                                              std::to_string(t.wMinute), std::to_string(t.wSecond));
    const DateTimeValue reread = ParseDateTimeText(again);
    FUZZ_CHECK(SameRequest(RequestFor(reread), t));
    // Parsed values are whole seconds, so the request names the value itself; only values past
    // the upper bound are brought down to it.
    if (value <= kHighest) {
        FUZZ_CHECK(reread == value);
    } else {
        FUZZ_CHECK(reread == kHighest);
    }
    return 0;
}
