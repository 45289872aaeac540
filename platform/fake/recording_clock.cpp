// Recording SetLocalTime: on Linux it replaces our own function; on Windows it takes the place of
// the import slot that kernel32's SetLocalTime would fill, so the real one is never linked.
#include "platform/fake/recording_clock.h"

#include <mutex>

namespace {

std::mutex guard;
std::vector<SYSTEMTIME> requests;
BOOL answer = TRUE;

BOOL WINAPI RecordSetLocalTime(const SYSTEMTIME* lpSystemTime) {
    std::lock_guard lock(guard);
    if (lpSystemTime != nullptr) requests.push_back(*lpSystemTime);
    return answer;
}

}  // namespace

#if defined(_WIN32)
extern "C" {
// The name the compiler calls through for a dllimport function.
BOOL(WINAPI* __imp_SetLocalTime)(const SYSTEMTIME*) = RecordSetLocalTime;
}
#else
BOOL SetLocalTime(const SYSTEMTIME* lpSystemTime) { return RecordSetLocalTime(lpSystemTime); }
#endif

std::vector<SYSTEMTIME> RecordedClockRequests() {
    std::lock_guard lock(guard);
    return requests;
}

void ClearRecordedClockRequests() {
    std::lock_guard lock(guard);
    requests.clear();
}

void SetRecordedClockResult(BOOL result) {
    std::lock_guard lock(guard);
    answer = result;
}
