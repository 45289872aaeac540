// The Linux threads: exit codes, waits with and without a timeout, closing a handle while its
// thread runs, the thread id, and calls with handles that are not open.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/seam.h"

namespace {

using Clock = std::chrono::steady_clock;

// Holds a thread until the test lets it go, and says what the thread saw.
struct Gate {
    std::mutex guard;
    std::condition_variable changed;
    bool open = false;
    DWORD result = 0;
    DWORD id_inside = 0;
    std::atomic<bool> finished{false};

    void Open() {
        {
            std::lock_guard lock(guard);
            open = true;
        }
        changed.notify_all();
    }
};

DWORD GatedRoutine(LPVOID parameter) {
    Gate& gate = *static_cast<Gate*>(parameter);
    std::unique_lock lock(gate.guard);
    gate.id_inside = GetCurrentThreadId();
    gate.changed.wait(lock, [&] { return gate.open; });
    const DWORD result = gate.result;
    lock.unlock();
    gate.finished = true;
    return result;
}

TEST(PosixThreadsTest, ExitCodeIsStillActiveWhileRunningThenTheRoutinesResult) {
    Gate gate;
    gate.result = 42;
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, GatedRoutine, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);

    DWORD code = 0;
    ASSERT_NE(GetExitCodeThread(thread, &code), FALSE);
    EXPECT_EQ(code, STILL_ACTIVE);
    const auto asked = Clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(50));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

    gate.Open();
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    ASSERT_NE(GetExitCodeThread(thread, &code), FALSE);
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    {
        std::lock_guard lock(gate.guard);
        EXPECT_EQ(gate.id_inside, id) << "the id handed out is the one the thread sees";
    }
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_NE(CloseHandle(thread), FALSE);
}

TEST(PosixThreadsTest, ClosingTheHandleLeavesTheThreadRunning) {
    Gate gate;
    const HANDLE thread = CreateThread(nullptr, 0, GatedRoutine, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Another thread waits on the handle while it is closed: the wait still sees the end.
    std::atomic<DWORD> waited{WAIT_FAILED};
    std::thread waiter([&] { waited = WaitForSingleObject(thread, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(CloseHandle(thread), FALSE);

    gate.Open();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!gate.finished && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(gate.finished) << "the thread ran on after its handle was closed";
    waiter.join();
    // A waiter that began before the close either saw the end or found the handle gone.
    EXPECT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_FAILED) << waited;
}

TEST(PosixThreadsTest, AThreadSeenEndedHasNoQueueLeft) {
    DWORD id = 0;
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            MSG msg{};
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
            return 7;
        },
        nullptr, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(PostThreadMessageA(id, WM_USER, 0, 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    EXPECT_NE(CloseHandle(thread), FALSE);
}

TEST(PosixThreadsTest, ManyThreadsEachReturnTheirOwnResult) {
    std::vector<HANDLE> threads;
    for (std::uintptr_t i = 0; i < 16; ++i) {
        threads.push_back(CreateThread(
            nullptr, i == 0 ? 0 : 64 * 1024,
            [](LPVOID p) -> DWORD {
                return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(p)) * 3;
            },
            reinterpret_cast<LPVOID>(i), 0, nullptr));
        ASSERT_NE(threads.back(), nullptr);
    }
    for (std::size_t i = 0; i < threads.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(WaitForSingleObject(threads[i], INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_NE(GetExitCodeThread(threads[i], &code), FALSE);
        EXPECT_EQ(code, i * 3);
        EXPECT_NE(CloseHandle(threads[i]), FALSE);
    }
}

TEST(PosixThreadsTest, RefusesWhatItCannotDoAndHandlesThatAreNotOpen) {
    const auto nothing = [](LPVOID) -> DWORD { return 0; };
    constexpr DWORD kCreateSuspended = 0x4;
    struct Creation {
        const char* why;
        LPTHREAD_START_ROUTINE routine;
        DWORD flags;
    };
    const Creation refused[] = {
        {"no routine", nullptr, 0},
        {"a suspended start: only flags 0", nothing, kCreateSuspended},
    };
    for (const Creation& c : refused) {
        SCOPED_TRACE(c.why);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateThread(nullptr, 0, c.routine, nullptr, c.flags, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }

    const HANDLE closed = CreateThread(nullptr, 0, nothing, nullptr, 0, nullptr);
    ASSERT_NE(closed, nullptr);
    ASSERT_EQ(WaitForSingleObject(closed, INFINITE), WAIT_OBJECT_0);
    ASSERT_NE(CloseHandle(closed), FALSE);
    int not_a_thread = 0;
    struct Case {
        const char* why;
        HANDLE handle;
    };
    const Case cases[] = {
        {"the null handle", nullptr},
        {"a handle already closed", closed},
        {"an address that was never a handle", &not_a_thread},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DWORD code = 12345;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(GetExitCodeThread(c.handle, &code), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(code, 12345u);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(c.handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CloseHandle(c.handle), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

}  // namespace
