// Controlled threads: CreateThread, GetExitCodeThread, WaitForSingleObject and CloseHandle on
// std::thread, with creation that can fail and threads that can be held before they run. Linux
// only: it takes the place of platform/posix/threads.cpp in a test program.
#include "platform/fake/controlled_threads.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct ThreadObject {
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
    // Joined by the first wait that sees the routine done, so that the thread has really gone
    // (its thread-local data released) when the wait returns; detached if never waited for.
    std::thread thread;
};

// One lock for everything: these threads are few and their bookkeeping is short.
struct Threads {
    std::mutex guard;
    std::condition_variable changed;
    bool creation_fails = false;
    bool hold_at_start = false;
    int creation_calls = 0;
    std::map<HANDLE, std::shared_ptr<ThreadObject>> open_handles;
};

// Never destroyed: a thread may still be on its way out when the program ends.
Threads& State() {
    static Threads* threads = new Threads;
    return *threads;
}

}  // namespace

void SetThreadCreationFails(bool fail) {
    std::lock_guard lock(State().guard);
    State().creation_fails = fail;
}

void HoldNewThreadsAtStart(bool hold) {
    {
        std::lock_guard lock(State().guard);
        State().hold_at_start = hold;
    }
    State().changed.notify_all();
}

int ThreadCreationCalls() {
    std::lock_guard lock(State().guard);
    return State().creation_calls;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    std::unique_lock lock(State().guard);
    ++State().creation_calls;
    if (State().creation_fails || lpStartAddress == nullptr || dwCreationFlags != 0) {
        SetLastError(State().creation_fails ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    const std::weak_ptr<ThreadObject> weak = object;
    object->thread = std::thread([weak, lpStartAddress, lpParameter] {
        {
            std::unique_lock wait(State().guard);
            State().changed.wait(wait, [] { return !State().hold_at_start; });
        }
        const DWORD result = lpStartAddress(lpParameter);
        {
            std::lock_guard done(State().guard);
            if (const auto mine = weak.lock()) {
                mine->ended = true;
                mine->exit_code = result;
            }
        }
        State().changed.notify_all();
    });
    const HANDLE handle = object.get();
    State().open_handles.emplace(handle, object);
    if (lpThreadId != nullptr)
        *lpThreadId = 0;  // not known here, and not needed by the programs that use this
    return handle;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    std::lock_guard lock(State().guard);
    const auto found = State().open_handles.find(hThread);
    if (found == State().open_handles.end() || lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = found->second->exit_code;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    std::unique_lock lock(State().guard);
    const auto found = State().open_handles.find(hHandle);
    if (found == State().open_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const std::shared_ptr<ThreadObject> object = found->second;
    const auto ended = [&] { return object->ended; };
    if (dwMilliseconds == INFINITE) {
        State().changed.wait(lock, ended);
    } else if (!State().changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ended)) {
        return WAIT_TIMEOUT;
    }
    std::thread done = std::move(object->thread);
    lock.unlock();
    if (done.joinable())
        done.join();  // the routine has returned: only the thread's own end is left
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject) {
    std::thread unwaited;
    {
        std::lock_guard lock(State().guard);
        const auto found = State().open_handles.find(hObject);
        if (found == State().open_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        unwaited = std::move(found->second->thread);
        State().open_handles.erase(found);
    }
    if (unwaited.joinable())
        unwaited.detach();  // it goes on and ends by itself
    return TRUE;
}
