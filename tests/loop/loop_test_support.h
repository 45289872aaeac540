// What the loop tests put in the front end's place (the interval box, the caption of 按钮1 and
// the address the threads fetch), and the probes they look through: threads, heap, the clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/seam.h"
#include "sync/sync_loop.h"
#include "sync/text_value.h"
#include "tests/support/test_process.h"

inline constexpr char kStopCaption[] = "\xCD\xA3\xD6\xB9";   // 停止
inline constexpr char kStartCaption[] = "\xC6\xF4\xB6\xAF";  // 启动

using LoopClock = std::chrono::steady_clock;

// ---- In the front end's place
// --------------------------------------------------------------------

// Forgets the reads, the captions and the address, lets held reads go, sets the text to "800".
void ResetFrontEndStandIns();
// What ReadIntervalText gives from now on.
void SetIntervalText(const TextValue& text);
// How often ReadIntervalText has been called, and the id of the thread that called it last.
int IntervalReads();
DWORD LastIntervalReaderId();
// While held, a read waits until the hold is lifted (5 s at most) before it answers.
void HoldIntervalReads(bool hold);
int IntervalReadsWaiting();
// Every caption set so far, oldest first.
std::vector<TextValue> Captions();
// What SyncServiceUrl gives each new synchronisation thread.
void SetLoopServiceUrl(const TextValue& url);

// SyncLoop on a thread of its own, stopped and joined when it goes out of scope.
class LoopRun {
public:
    explicit LoopRun(const TextValue& url) : thread_([this, url] { SyncLoop(stop_, url); }) {}
    ~LoopRun() {
        StopSyncLoop(stop_);
        thread_.join();
    }
    LoopRun(const LoopRun&) = delete;
    LoopRun& operator=(const LoopRun&) = delete;

private:
    SyncStop stop_;
    std::thread thread_;
};

// ---- Probes -------------------------------------------------------------------------------------

// Polls `condition` every `poll`; true as soon as it holds, false once `limit` has passed.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds poll = std::chrono::milliseconds(1));
// Threads of this process, as the system counts them.
int LiveThreadCount();
// Whether the thread with this id has ended (or never existed).
bool ThreadHasEnded(DWORD id);
// Bytes the heap has handed out and not taken back; 0 where there is no way to ask.
std::size_t HeapBytesInUse();
// Lets the recording clock keep `count` requests without growing, so that its list does not
// show in a memory figure: records harmless requests (1 January 100), then clears them.
void ReserveClockRecords(std::size_t count);
// "2017-01-05 10:28:51.000 dow 4", for messages and comparisons.
std::string Describe(const SYSTEMTIME& t);
