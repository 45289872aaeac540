// The end-to-end build's clock: appends each request, with the moment it was made, to the file
// that TOCKMERE_E2E_CLOCK_FILE names, and never sets the machine's clock.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/seam.h"

namespace {

// A stopped thread on its way out may meet the next thread's first request here.
std::mutex log_guard;

// One line per request: the function, the SYSTEMTIME's fields by name and the moment in seconds
// since 1970 UTC, e.g.
//   SetLocalTime wYear=2017 wMonth=1 wDay=5 wHour=10 wMinute=28 wSecond=51 wMilliseconds=0
//   wDayOfWeek=4 at=1483583331.270                                          (on one line)
bool LogRequest(const char* function, const SYSTEMTIME* lpSystemTime) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    if (lpSystemTime == nullptr)
        return false;
    const char* path = std::getenv("TOCKMERE_E2E_CLOCK_FILE");
    if (path == nullptr || path[0] == '\0')
        return false;
    const SYSTEMTIME& t = *lpSystemTime;
    char line[200];
    std::snprintf(line, sizeof(line),
                  "%s wYear=%u wMonth=%u wDay=%u wHour=%u wMinute=%u wSecond=%u wMilliseconds=%u "
                  "wDayOfWeek=%u at=%lld.%03lld\n",
                  function, unsigned{t.wYear}, unsigned{t.wMonth}, unsigned{t.wDay},
                  unsigned{t.wHour}, unsigned{t.wMinute}, unsigned{t.wSecond},
                  unsigned{t.wMilliseconds}, unsigned{t.wDayOfWeek}, ms / 1000, ms % 1000);
    std::lock_guard lock(log_guard);
    std::FILE* file = std::fopen(path, "ab");
    if (file == nullptr)
        return false;
    const bool written = std::fputs(line, file) >= 0;
    return std::fclose(file) == 0 && written;
}

BOOL WINAPI LogSetLocalTime(const SYSTEMTIME* lpSystemTime) {
    return LogRequest("SetLocalTime", lpSystemTime) ? TRUE : FALSE;
}

#if defined(_WIN32)
// The C runtime brings a clock_settime along that nothing calls; it would reach kernel32's
// SetSystemTime. That slot is filled too, with a logged refusal, so no way to the clock is left.
BOOL WINAPI RefuseSetSystemTime(const SYSTEMTIME* lpSystemTime) {
    LogRequest("SetSystemTime", lpSystemTime);
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
}
#endif

}  // namespace

#if defined(_WIN32)
extern "C" {
// The slot the compiler calls kernel32's SetLocalTime through: filled here, kernel32's is never
// linked.
BOOL(WINAPI* __imp_SetLocalTime)(const SYSTEMTIME*) = LogSetLocalTime;
BOOL(WINAPI* __imp_SetSystemTime)(const SYSTEMTIME*) = RefuseSetSystemTime;
}
#else
// Takes the place of platform/posix/clock.cpp, which the linker then leaves out.
BOOL SetLocalTime(const SYSTEMTIME* lpSystemTime) {
    return LogSetLocalTime(lpSystemTime);
}
#endif
