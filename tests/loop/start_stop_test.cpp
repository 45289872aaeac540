// The start/stop control on the real threads: the caption and the thread click by click, stops in
// the middle of a silent fetch and of the interval read, and the end of the program.
#include "app/start_stop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "tests/loop/loop_test_support.h"
#include "tests/loop/timed_http_server.h"
#include "tests/support/scripted_http_server.h"

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;
using std::chrono::milliseconds;
using std::chrono::seconds;

class StartStopTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFrontEndStandIns();
        ClearRecordedClockRequests();
        ASSERT_EQ(WorkerThreadHandle, nullptr);
    }
    void TearDown() override {
        if (WorkerThreadHandle != nullptr)
            OnStartStopClicked();
        HoldIntervalReads(false);
        EndSyncAtExit();
    }

    // Clicks and says how long the click took.
    static double Click() {
        const auto asked = LoopClock::now();
        OnStartStopClicked();
        return Milliseconds(LoopClock::now() - asked).count();
    }
};

TEST_F(StartStopTest, FirstClickStartsSecondStopsAndTheThreadEndsThirdReadsTheIntervalAnew) {
    TimedHttpServer server;
    SetLoopServiceUrl(server.Url());
    SetIntervalText("800");

    Click();
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption}));
    ASSERT_NE(WorkerThreadHandle, nullptr);
    ASSERT_TRUE(WaitUntil([] { return RecordedClockRequests().size() == 1; }, seconds(10)));
    const DWORD first = LastIntervalReaderId();
    EXPECT_EQ(IntervalReads(), 1);
    EXPECT_FALSE(ThreadHasEnded(first));

    Click();  // the thread is in its 800 ms wait now
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption, kStartCaption}));
    EXPECT_EQ(WorkerThreadHandle, nullptr);
    // Within a slice or so of the wait, not at its end.
    EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(first); }, milliseconds(200)));
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(RecordedClockRequests().size(), 1u);

    SetIntervalText("0");
    Click();
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption, kStartCaption, kStopCaption}));
    ASSERT_NE(WorkerThreadHandle, nullptr);
    EXPECT_TRUE(WaitUntil([] { return IntervalReads() == 2; }, seconds(10)));
    // Interval 0 now: five more passes in far less than one 800 ms wait.
    EXPECT_TRUE(WaitUntil([&] { return server.RequestCount() >= 6; }, milliseconds(700)));
}

TEST_F(StartStopTest, AStopWhileTheServerNeverAnswersEndsTheThreadAtOnceAndNoClockRequestFollows) {
    HttpScenario silent;
    silent.answer = false;
    ScriptedHttpServer server(silent);
    SetLoopServiceUrl(server.Url("/time15.asp"));
    SetIntervalText("0");

    Click();
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() == 1; }, seconds(10)));
    const DWORD worker = LastIntervalReaderId();
    std::this_thread::sleep_for(milliseconds(50));  // well inside the wait for the answer

    const double click_ms = Click();
    RecordProperty("stop_click_ms", std::to_string(click_ms));
    EXPECT_LT(click_ms, 100.0);
    if (!RunsUnderWine()) {
        EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(worker); }, milliseconds(500)));
    }
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_TRUE(RecordedClockRequests().empty());
    EXPECT_EQ(server.Requests().size(), 1u);
    if (RunsUnderWine()) {
        // The fetch there only ends with its connection: the server closes it now.
        server.Stop();
        EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(worker); }, milliseconds(2000)));
        EXPECT_TRUE(RecordedClockRequests().empty());
    }
}

TEST_F(StartStopTest, AStopDuringTheIntervalReadEndsTheThreadBeforeItsFirstRequest) {
    TimedHttpServer server;
    SetLoopServiceUrl(server.Url());
    HoldIntervalReads(true);

    Click();
    ASSERT_TRUE(WaitUntil([] { return IntervalReadsWaiting() == 1; }, seconds(10)));
    const DWORD worker = LastIntervalReaderId();
    Click();
    HoldIntervalReads(false);  // the read answers only now, after the stop

    EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(worker); }, milliseconds(1000)));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_TRUE(RecordedClockRequests().empty());
}

TEST_F(StartStopTest, AtTheProgramsEndEveryThreadHasEndedAndTheCaptionIsLeftAsItIs) {
    // Answers that come late, within the grace at the end: each thread is in a fetch at its stop.
    TimedHttpServer server;
    server.AnswerAfter(milliseconds(300));
    SetLoopServiceUrl(server.Url());

    // One thread stopped just before the end, one still running at the end.
    Click();
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 1; }, seconds(10)));
    const DWORD stopped = LastIntervalReaderId();
    Click();
    Click();
    ASSERT_TRUE(WaitUntil([] { return IntervalReads() == 2; }, seconds(10)));
    const DWORD running = LastIntervalReaderId();

    EndSyncAtExit();
    // On Linux the system lists a thread for a moment after it has told its handle it ended.
    const auto gone = [&] { return ThreadHasEnded(stopped) && ThreadHasEnded(running); };
    EXPECT_TRUE(WaitUntil(gone, milliseconds(50)));
    EXPECT_EQ(WorkerThreadHandle, nullptr);
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption, kStartCaption, kStopCaption}));
    EXPECT_TRUE(RecordedClockRequests().empty());
}

}  // namespace
