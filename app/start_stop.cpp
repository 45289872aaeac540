// The start/stop control: one click starts a synchronisation thread, the next ends it at once.
#include "app/start_stop.h"

#include <chrono>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "sync/sync_loop.h"

HANDLE WorkerThreadHandle = nullptr;

namespace {

const TextValue kStopCaption = "\xCD\xA3\xD6\xB9";   // 停止
const TextValue kStartCaption = "\xC6\xF4\xB6\xAF";  // 启动
constexpr std::chrono::milliseconds kExitGrace{2000};

// What a new thread is handed: its own share of its stop, and the address it fetches, fixed at
// the click so that a thread that starts late cannot take a later thread's settings.
struct WorkerStart {
    std::shared_ptr<SyncStop> stop;
    TextValue url;
};

// GUI thread only, like WorkerThreadHandle. The running thread's stop: the thread holds a share
// too, so whichever of the two lets go last frees it.
std::shared_ptr<SyncStop> running_stop;

// Threads that were asked to stop and may still be on their way out. Their handles are closed
// once they are seen to have ended, at a later click or at the program's end.
std::vector<HANDLE> ending_threads;

void CloseEndedThreads() {
    std::erase_if(ending_threads, [](HANDLE thread) {
        if (WaitForSingleObject(thread, 0) != WAIT_TIMEOUT) {
            CloseHandle(thread);
            return true;
        }
        return false;
    });
}

}  // namespace

DWORD WINAPI SyncWorkerEntry(LPVOID parameter) {
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    if (start == nullptr || start->stop == nullptr)
        return 0;
    try {
        SyncLoop(*start->stop, start->url);
    } catch (...) {
        // Nothing may leave a thread's start routine; the thread just ends.
    }
    return 0;
}

void StopWorker(HANDLE handle) {
    DWORD exit_code = 0;
    GetExitCodeThread(handle, &exit_code);  // STILL_ACTIVE for a running thread; not needed here
    // The thread is asked to end rather than forced: forcing it could leave the HTTP client's
    // or the allocator's lock taken for good. It is still immediate to the user: once this
    // returns, the thread sends no request and sets no clock, and it ends by itself at once.
    if (running_stop != nullptr)
        StopSyncLoop(*running_stop);
    running_stop.reset();
    CloseEndedThreads();
    try {
        ending_threads.push_back(handle);
    } catch (const std::exception&) {
        CloseHandle(handle);  // the thread still ends; it just cannot be waited for at exit
    }
}

void OnStartStopClicked() {
    if (WorkerThreadHandle != nullptr) {
        StopWorker(WorkerThreadHandle);
        SetStartStopCaption(kStartCaption);
        WorkerThreadHandle = nullptr;
        return;
    }
    SetStartStopCaption(kStopCaption);
    // A thread that cannot be created leaves the caption as it is and no handle: the next click
    // finds none and tries again.
    std::shared_ptr<SyncStop> stop;
    std::unique_ptr<WorkerStart> start;
    try {
        stop = std::make_shared<SyncStop>();
        start = std::make_unique<WorkerStart>(WorkerStart{stop, SyncServiceUrl()});
    } catch (const std::exception&) {
        return;
    }
    const HANDLE thread = CreateThread(nullptr, 0, SyncWorkerEntry, start.get(), 0, nullptr);
    if (thread == nullptr)
        return;
    start.release();  // SyncWorkerEntry owns it now
    running_stop = std::move(stop);
    WorkerThreadHandle = thread;
}

void EndSyncAtExit() {
    if (WorkerThreadHandle != nullptr) {
        StopWorker(WorkerThreadHandle);
        WorkerThreadHandle = nullptr;
    }
    // One grace for all of them: each is already stopped and only has to make its way out.
    const auto deadline = std::chrono::steady_clock::now() + kExitGrace;
    for (const HANDLE thread : ending_threads) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        WaitForSingleObject(thread, left.count() > 0 ? static_cast<DWORD>(left.count()) : 0);
        CloseHandle(thread);
    }
    ending_threads.clear();
}
