// Threads for Linux: CreateThread on pthreads, with a handle that can be waited on and closed.
// There is no TerminateThread: threads here end by returning from their routine.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/seam.h"

namespace {

// What a handle refers to. Shared by the handle table and the running thread: it is freed when
// the handle is closed and the thread has ended, in whichever order those come.
struct ThreadObject {
    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID parameter = nullptr;
    std::mutex guard;
    std::condition_variable changed;
    DWORD id = 0;  // 0 until the thread has told it
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
};

// The open handles. A handle is looked up here before use, so a closed or made-up handle fails
// with ERROR_INVALID_HANDLE instead of reaching freed memory.
struct HandleTable {
    std::mutex guard;
    std::unordered_map<HANDLE, std::shared_ptr<ThreadObject>> open;
};

HandleTable& Handles() {
    // Never destroyed: detached threads may outlive static destructors at process exit.
    static HandleTable* table = new HandleTable;
    return *table;
}

std::shared_ptr<ThreadObject> Find(HANDLE handle) {
    HandleTable& table = Handles();
    std::lock_guard lock(table.guard);
    const auto found = table.open.find(handle);
    if (found == table.open.end())
        return nullptr;
    return found->second;
}

// Marks the thread ended when the thread's own thread_local objects are gone. Constructed first
// on the new thread, it is destroyed last, after the objects its routine made (its message queue
// among them): a thread seen as ended has no queue left to post to.
struct EndOnExit {
    std::shared_ptr<ThreadObject> object;
    DWORD result = 0;
    ~EndOnExit() {
        {
            std::lock_guard lock(object->guard);
            object->exit_code = result;
            object->ended = true;
        }
        object->changed.notify_all();
    }
};

void* ThreadEntry(void* raw) {
    // Take over the reference that CreateThread handed to this thread.
    const std::unique_ptr<std::shared_ptr<ThreadObject>> handed_over(
        static_cast<std::shared_ptr<ThreadObject>*>(raw));
    const std::shared_ptr<ThreadObject> object = std::move(*handed_over);
    {
        std::lock_guard lock(object->guard);
        object->id = GetCurrentThreadId();
    }
    object->changed.notify_all();
    thread_local EndOnExit end_on_exit;
    end_on_exit.object = object;
    end_on_exit.result = object->routine(object->parameter);
    return nullptr;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes;  // no security descriptors here
    // Only flags 0 (run at once): suspended starts are not needed by this design.
    if (lpStartAddress == nullptr || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    object->routine = lpStartAddress;
    object->parameter = lpParameter;

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Nobody joins: the handle waits on the object, and the thread frees itself when it ends.
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        pthread_attr_setstacksize(
            &attributes, std::max<SIZE_T>(dwStackSize, static_cast<SIZE_T>(PTHREAD_STACK_MIN)));
    }
    auto* handed_over = new std::shared_ptr<ThreadObject>(object);
    pthread_t thread;
    const int created = pthread_create(&thread, &attributes, ThreadEntry, handed_over);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete handed_over;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }

    const HANDLE handle = object.get();
    {
        HandleTable& table = Handles();
        std::lock_guard lock(table.guard);
        table.open.emplace(handle, object);
    }
    if (lpThreadId != nullptr) {
        // The id is the kernel's, known only once the thread runs; it reports it at once.
        std::unique_lock lock(object->guard);
        object->changed.wait(lock, [&] { return object->id != 0; });
        *lpThreadId = object->id;
    }
    return handle;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    const auto object = Find(hThread);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(object->guard);
    *lpExitCode = object->ended ? object->exit_code : STILL_ACTIVE;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    // The reference held here keeps the object alive even if another thread closes the handle
    // during the wait.
    const auto object = Find(hHandle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock lock(object->guard);
    const auto ended = [&] { return object->ended; };
    if (dwMilliseconds == INFINITE) {
        object->changed.wait(lock, ended);
        return WAIT_OBJECT_0;
    }
    // wait_for measures with the steady clock, so setting the wall clock does not stretch it.
    return object->changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ended)
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<ThreadObject> closed;  // released after the table's lock
    HandleTable& table = Handles();
    std::lock_guard lock(table.guard);
    const auto found = table.open.find(hObject);
    if (found == table.open.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The thread goes on running; only the handle's reference goes.
    closed = std::move(found->second);
    table.open.erase(found);
    return TRUE;
}
