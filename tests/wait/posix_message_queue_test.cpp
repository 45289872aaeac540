// The Linux thread message queue: per-thread queues, posts from other threads, peeking with
// and without removal, failures to post, and the characters of key messages.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/seam.h"

namespace {

// Makes the calling thread's queue, as its first queue call does, and empties it.
void FreshQueue() {
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    }
}

std::vector<UINT> DrainMessages() {
    std::vector<UINT> messages;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE)
        messages.push_back(msg.message);
    return messages;
}

// A thread that has made its queue and waits to be told what to do next.
class QueueThread {
public:
    QueueThread() : thread_([this] { Run(); }) {
        std::unique_lock lock(guard_);
        changed_.wait(lock, [&] { return id_ != 0; });
    }
    ~QueueThread() {
        Finish();
        thread_.join();
    }
    DWORD id() const { return id_; }
    // What the thread found in its queue when told to finish.
    std::vector<UINT> Finish() {
        std::unique_lock lock(guard_);
        finish_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return drained_; });
        return found_;
    }

private:
    void Run() {
        FreshQueue();
        std::unique_lock lock(guard_);
        id_ = GetCurrentThreadId();
        changed_.notify_all();
        changed_.wait(lock, [&] { return finish_; });
        if (!drained_)
            found_ = DrainMessages();
        drained_ = true;
        changed_.notify_all();
    }
    std::mutex guard_;
    std::condition_variable changed_;
    DWORD id_ = 0;
    bool finish_ = false;
    bool drained_ = false;
    std::vector<UINT> found_;
    std::thread thread_;  // last: starts once the members above exist
};

TEST(PosixMessageQueueTest, MessagesPostedFromOtherThreadsArriveWholeAndInOrder) {
    FreshQueue();
    const DWORD self = GetCurrentThreadId();
    constexpr int kPerPoster = 1000;
    const DWORD before = GetTickCount();
    std::vector<std::thread> posters;
    for (int poster = 0; poster < 2; ++poster) {
        posters.emplace_back([=] {
            for (int i = 0; i < kPerPoster; ++i) {
                while (PostThreadMessageA(self, WM_USER + poster, i, -i) == FALSE) {
                    std::this_thread::yield();
                }
            }
        });
    }
    // Drain while they post.
    int next[2] = {0, 0};
    MSG msg{};
    while (next[0] < kPerPoster || next[1] < kPerPoster) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE)
            continue;
        const int poster = static_cast<int>(msg.message - WM_USER);
        ASSERT_TRUE(poster == 0 || poster == 1) << msg.message;
        ASSERT_EQ(msg.wParam, static_cast<WPARAM>(next[poster]));
        ASSERT_EQ(msg.lParam, -static_cast<LPARAM>(next[poster]));
        ASSERT_EQ(msg.hwnd, nullptr);
        ++next[poster];
    }
    for (std::thread& t : posters)
        t.join();
    const DWORD after = GetTickCount();
    EXPECT_LE(msg.time - before, after - before) << "time is the counter when it was posted";
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
}

TEST(PosixMessageQueueTest, EachThreadSeesOnlyItsOwnQueue) {
    FreshQueue();
    QueueThread other;
    ASSERT_NE(other.id(), GetCurrentThreadId());
    ASSERT_NE(PostThreadMessageA(other.id(), WM_USER + 1, 0, 0), FALSE);
    ASSERT_NE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 0, 0), FALSE);
    EXPECT_EQ(DrainMessages(), std::vector<UINT>{WM_USER + 2});
    EXPECT_EQ(other.Finish(), std::vector<UINT>{WM_USER + 1});
}

TEST(PosixMessageQueueTest, PeekTakesTheFirstMatchingMessageAndRemovesItOnlyWhenAsked) {
    struct Case {
        const char* why;
        HWND window;
        UINT first;
        UINT last;
        UINT remove;
        BOOL found;
        UINT message;
        std::vector<UINT> left;
    };
    const UINT a = WM_USER + 1, b = WM_USER + 5, c = WM_USER + 2;
    const HWND some_window = reinterpret_cast<HWND>(0x1234);
    const Case cases[] = {
        {"no filter, removing: the oldest goes", nullptr, 0, 0, PM_REMOVE, TRUE, a, {b, c}},
        {"no filter, not removing: the oldest stays",
         nullptr,
         0,
         0,
         PM_NOREMOVE,
         TRUE,
         a,
         {a, b, c}},
        {"a range takes the first message inside it",
         nullptr,
         WM_USER + 2,
         WM_USER + 3,
         PM_REMOVE,
         TRUE,
         c,
         {a, b}},
        {"a range with nothing inside finds nothing",
         nullptr,
         WM_USER + 6,
         WM_USER + 9,
         PM_REMOVE,
         FALSE,
         0,
         {a, b, c}},
        {"a window filter finds nothing: there are no windows here",
         some_window,
         0,
         0,
         PM_REMOVE,
         FALSE,
         0,
         {a, b, c}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.why);
        FreshQueue();
        for (const UINT m : {a, b, c}) {
            ASSERT_NE(PostThreadMessageA(GetCurrentThreadId(), m, 0, 0), FALSE);
        }
        MSG msg{};
        EXPECT_EQ(PeekMessageA(&msg, k.window, k.first, k.last, k.remove), k.found);
        if (k.found) {
            EXPECT_EQ(msg.message, k.message);
        }
        EXPECT_EQ(DrainMessages(), k.left);
    }
}

TEST(PosixMessageQueueTest, APostFailsForAThreadWithoutAQueueAndForAFullOne) {
    FreshQueue();
    // A live thread that has made no queue call.
    std::mutex guard;
    std::condition_variable changed;
    DWORD quiet_id = 0;
    bool release = false;
    std::thread quiet([&] {
        std::unique_lock lock(guard);
        quiet_id = GetCurrentThreadId();
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock lock(guard);
        changed.wait(lock, [&] { return quiet_id != 0; });
    }
    // A thread that made its queue and has ended.
    DWORD ended_id = 0;
    std::thread([&] {
        FreshQueue();
        ended_id = GetCurrentThreadId();
    }).join();

    struct Case {
        const char* why;
        DWORD thread;
        DWORD error;
    };
    const Case cases[] = {
        {"a thread that never used a queue", quiet_id, ERROR_INVALID_THREAD_ID},
        {"a thread that has ended: its queue went with it", ended_id, ERROR_INVALID_THREAD_ID},
        {"no thread has id 0", 0, ERROR_INVALID_THREAD_ID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(PostThreadMessageA(c.thread, WM_USER, 0, 0), FALSE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    {
        std::lock_guard lock(guard);
        release = true;
    }
    changed.notify_all();
    quiet.join();

    // A queue that is never drained stops taking posts at the platform's limit of 10000.
    int accepted = 0;
    while (accepted < 20000 && PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0) != FALSE) {
        ++accepted;
    }
    EXPECT_EQ(accepted, 10000);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    FreshQueue();
    EXPECT_NE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0), FALSE)
        << "drained: room again";
    FreshQueue();
}

TEST(PosixMessageQueueTest, TranslationPostsTheCharacterOfACharacterKey) {
    struct Case {
        const char* why;
        UINT message;
        WPARAM key;
        BOOL result;
        WPARAM character;  // 0: nothing posted
    };
    const Case cases[] = {
        {"a letter, with no shift state: lower case", WM_KEYDOWN, 'A', TRUE, 'a'},
        {"a digit of the main row", WM_KEYDOWN, '7', TRUE, '7'},
        {"a digit of the number pad (VK_NUMPAD3)", WM_KEYDOWN, 0x63, TRUE, '3'},
        {"space", WM_KEYDOWN, 0x20, TRUE, ' '},
        {"return gives a carriage return", WM_KEYDOWN, 0x0D, TRUE, '\r'},
        {"backspace", WM_KEYDOWN, 0x08, TRUE, 0x08},
        {"escape", WM_KEYDOWN, 0x1B, TRUE, 0x1B},
        {"an arrow key (VK_LEFT) gives no character", WM_KEYDOWN, 0x25, TRUE, 0},
        {"a shift key gives no character", WM_KEYDOWN, 0x10, TRUE, 0},
        {"a key going up gives none", WM_KEYUP, 'A', TRUE, 0},
        {"not a key message", WM_USER, 'A', FALSE, 0},
        {"a character is not translated again", WM_CHAR, 'a', FALSE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        FreshQueue();
        MSG key{};
        key.message = c.message;
        key.wParam = c.key;
        key.lParam = 0x001E0001;  // scan code and repeat count, carried to the character
        EXPECT_EQ(TranslateMessage(&key), c.result);
        MSG posted{};
        const BOOL any = PeekMessageA(&posted, nullptr, 0, 0, PM_REMOVE);
        if (c.character == 0) {
            EXPECT_EQ(any, FALSE);
            continue;
        }
        ASSERT_NE(any, FALSE);
        EXPECT_EQ(posted.message, WM_CHAR);
        EXPECT_EQ(posted.wParam, c.character);
        EXPECT_EQ(posted.lParam, key.lParam);
        EXPECT_EQ(posted.hwnd, nullptr);
        EXPECT_EQ(PeekMessageA(&posted, nullptr, 0, 0, PM_REMOVE), FALSE);
    }
}

}  // namespace
