// The event pump against the scripted queue: what it peeks, dispatches and translates, in order.
#include <gtest/gtest.h>

#include <vector>

#include "platform/fake/scripted_wait_platform.h"
#include "wait/pump.h"

namespace {

struct Posted {
    UINT message;
    WPARAM wParam = 0;
};

struct Case {
    const char* why;
    std::vector<Posted> queued;
    UINT posting_dispatch;  // the message whose dispatch posts `posted_meanwhile`; WM_NULL: none
    std::vector<Posted> posted_meanwhile;
    const char* expected;  // P peek, D dispatch, X translate; P- finds the queue empty
};

constexpr UINT kFirst = WM_USER + 1;
constexpr UINT kSecond = WM_USER + 2;
constexpr UINT kThird = WM_USER + 3;

TEST(PumpTest, HandsEveryMessageToThePlatformDispatchedThenTranslatedUntilEmpty) {
    const Case cases[] = {
        {"an empty queue costs one peek and nothing else", {}, WM_NULL, {}, "P-"},
        {"three messages: three dispatches, three translations, four peeks",
         {{kFirst}, {kSecond}, {kThird}},
         WM_NULL,
         {},
         "P(USER+1) D(USER+1) X(USER+1) P(USER+2) D(USER+2) X(USER+2) "
         "P(USER+3) D(USER+3) X(USER+3) P-"},
        {"a key is dispatched before it is translated; its character is handled in the same call",
         {{WM_KEYDOWN, 'A'}},
         WM_NULL,
         {},
         "P(KEYDOWN:65) D(KEYDOWN:65) X(KEYDOWN:65) P(CHAR:65) D(CHAR:65) X(CHAR:65) P-"},
        {"messages posted during a dispatch are handled in the same call",
         {{kFirst}},
         kFirst,
         {{kSecond}, {kThird}},
         "P(USER+1) D(USER+1) X(USER+1) P(USER+2) D(USER+2) X(USER+2) "
         "P(USER+3) D(USER+3) X(USER+3) P-"},
        {"a character queues up behind what its key's dispatch posted",
         {{WM_KEYDOWN, 'A'}, {kFirst}},
         WM_KEYDOWN,
         {{kSecond}},
         "P(KEYDOWN:65) D(KEYDOWN:65) X(KEYDOWN:65) P(USER+1) D(USER+1) X(USER+1) "
         "P(USER+2) D(USER+2) X(USER+2) P(CHAR:65) D(CHAR:65) X(CHAR:65) P-"},
        {"a quit message is dispatched and translated, and the rest still drained",
         {{kFirst}, {WM_QUIT}, {kSecond}},
         WM_NULL,
         {},
         "P(USER+1) D(USER+1) X(USER+1) P(QUIT) D(QUIT) X(QUIT) P(USER+2) D(USER+2) X(USER+2) "
         "P-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ResetScriptedWaitPlatform();
        for (const Posted& p : c.queued)
            PostScriptedMessage(p.message, p.wParam);
        bool posted = false;
        SetDispatchHook([&](const MSG& msg) {
            if (posted || msg.message != c.posting_dispatch)
                return;
            posted = true;
            for (const Posted& p : c.posted_meanwhile)
                PostScriptedMessage(p.message, p.wParam);
        });

        PumpPendingMessages();

        EXPECT_EQ(DescribeWaitCalls(RecordedWaitCalls()), c.expected);
        EXPECT_EQ(ScriptedQueueLength(), 0u);
        for (const WaitCall& call : RecordedWaitCalls()) {
            if (call.kind != WaitCallKind::kPeekMessage)
                continue;
            // Any window of the thread and the thread itself, no range, taken off the queue.
            EXPECT_EQ(call.window, nullptr);
            EXPECT_EQ(call.filter_first, 0u);
            EXPECT_EQ(call.filter_last, 0u);
            EXPECT_EQ(call.remove, PM_REMOVE);
        }
    }
}

}  // namespace
