// The front end's stand-ins for the loop tests, and the probes: threads, heap, recorded clock.
#include "tests/loop/loop_test_support.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/start_stop.h"
#include "platform/fake/recording_clock.h"
#include "sync/main_window_link.h"
#include "sync/sync_loop.h"

#if defined(_WIN32)
#include <malloc.h>
#include <tlhelp32.h>
#else
#include <malloc.h>

#include <filesystem>
#include <string>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer's runtime; gcc ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define LOOP_TEST_SANITIZER_HEAP 1
#endif

namespace {

struct FrontEnd {
    std::mutex guard;
    std::condition_variable released;
    TextValue interval_text = "800";
    int reads = 0;
    DWORD last_reader = 0;
    bool hold = false;
    int waiting = 0;
    std::vector<TextValue> captions;
    TextValue url;
};

FrontEnd& Shared() {
    // Never destroyed: a stopped thread may still be on its way out when the program ends.
    static FrontEnd* front_end = new FrontEnd;
    return *front_end;
}

// Some runtimes start a helper thread of their own along with the program's first thread
// (ThreadSanitizer does); one thread made and ended before the first count keeps that out of it.
void SettleThreadRuntime() {
    static const bool settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)settled;
}

}  // namespace

TextValue ReadIntervalText() {
    FrontEnd& f = Shared();
    std::unique_lock lock(f.guard);
    ++f.reads;
    f.last_reader = GetCurrentThreadId();
    ++f.waiting;
    f.released.wait_for(lock, std::chrono::seconds(5), [&] { return !f.hold; });
    --f.waiting;
    return f.interval_text;
}

void SetStartStopCaption(const TextValue& caption) {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    f.captions.push_back(caption);
}

TextValue SyncServiceUrl() {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    return f.url;
}

void ResetFrontEndStandIns() {
    FrontEnd& f = Shared();
    {
        std::lock_guard lock(f.guard);
        f.interval_text = "800";
        f.reads = 0;
        f.last_reader = 0;
        f.hold = false;
        // Swapped out rather than cleared, so that no capacity is left to show in a heap figure.
        std::vector<TextValue>().swap(f.captions);
        TextValue().swap(f.url);
    }
    f.released.notify_all();
}

void SetIntervalText(const TextValue& text) {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    f.interval_text = text;
}

int IntervalReads() {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    return f.reads;
}

DWORD LastIntervalReaderId() {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    return f.last_reader;
}

void HoldIntervalReads(bool hold) {
    FrontEnd& f = Shared();
    {
        std::lock_guard lock(f.guard);
        f.hold = hold;
    }
    f.released.notify_all();
}

int IntervalReadsWaiting() {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    return f.waiting;
}

std::vector<TextValue> Captions() {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    return f.captions;
}

void SetLoopServiceUrl(const TextValue& url) {
    FrontEnd& f = Shared();
    std::lock_guard lock(f.guard);
    f.url = url;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds poll) {
    const auto deadline = LoopClock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (LoopClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
}

#if defined(_WIN32)

int LiveThreadCount() {
    SettleThreadRuntime();
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

bool ThreadHasEnded(DWORD id) {
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr)
        return true;
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

#else

int LiveThreadCount() {
    SettleThreadRuntime();
    int count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

bool ThreadHasEnded(DWORD id) {
    std::error_code error;
    return !std::filesystem::exists("/proc/self/task/" + std::to_string(id), error);
}

#endif

std::size_t HeapBytesInUse() {
#if defined(LOOP_TEST_SANITIZER_HEAP)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
    std::size_t used = 0;
    _HEAPINFO entry{};
    while (_heapwalk(&entry) == _HEAPOK) {
        if (entry._useflag == _USEDENTRY)
            used += entry._size;
    }
    return used;
#else
    return mallinfo2().uordblks;
#endif
}

void ReserveClockRecords(std::size_t count) {
    SYSTEMTIME refused{};  // 1 January 100: a date that no clock takes
    refused.wYear = 100;
    refused.wMonth = 1;
    refused.wDay = 1;
    refused.wDayOfWeek = 5;
    for (std::size_t i = 0; i < count; ++i)
        SetLocalTime(&refused);
    ClearRecordedClockRequests();
}

std::string Describe(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u dow %u", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return text;
}
