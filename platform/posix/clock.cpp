// SetLocalTime for Linux: a local wall-clock time, turned into CLOCK_REALTIME with the machine's
// time-zone rules, refused without touching the clock wherever Windows would refuse it.
#include <cerrno>
#include <ctime>

#include "platform/seam.h"

namespace {

constexpr int kFirstYear = 1601;   // Windows' FILETIME epoch
constexpr int kLastYear = 30827;   // the last year a SYSTEMTIME may carry

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// wDayOfWeek is not checked: Windows ignores it too.
bool IsValidRequest(const SYSTEMTIME& t) {
    if (t.wYear < kFirstYear || t.wYear > kLastYear) return false;
    if (t.wMonth < 1 || t.wMonth > 12) return false;
    if (t.wDay < 1 || t.wDay > DaysInMonth(t.wYear, t.wMonth)) return false;
    return t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

}  // namespace

BOOL SetLocalTime(const SYSTEMTIME* lpSystemTime) {
    if (lpSystemTime == nullptr || !IsValidRequest(*lpSystemTime)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& t = *lpSystemTime;
    std::tm local{};
    local.tm_year = t.wYear - 1900;
    local.tm_mon = t.wMonth - 1;
    local.tm_mday = t.wDay;
    local.tm_hour = t.wHour;
    local.tm_min = t.wMinute;
    local.tm_sec = t.wSecond;
    local.tm_isdst = -1;  // let the zone's rules decide, as Windows does for a local time
    errno = 0;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && errno != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const timespec when{seconds, static_cast<long>(t.wMilliseconds) * 1000000L};
    if (clock_settime(CLOCK_REALTIME, &when) != 0) {
        SetLastError(errno == EPERM ? ERROR_PRIVILEGE_NOT_HELD : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
