// The start/stop control over threads that the test controls: a creation that fails, and a stop
// that comes before the new thread has run at all.
#include "app/start_stop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/fake/controlled_threads.h"
#include "platform/fake/recording_clock.h"
#include "tests/loop/loop_test_support.h"
#include "tests/support/scripted_http_server.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class StartStopThreadControlTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFrontEndStandIns();
        ClearRecordedClockRequests();
        SetThreadCreationFails(false);
        HoldNewThreadsAtStart(false);
        // Nothing listens here: a pass that gets so far fails at once.
        SetLoopServiceUrl("http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) +
                          "/time15.asp");
        ASSERT_EQ(WorkerThreadHandle, nullptr);
    }
    void TearDown() override {
        SetThreadCreationFails(false);
        HoldNewThreadsAtStart(false);
        if (WorkerThreadHandle != nullptr)
            OnStartStopClicked();
        EndSyncAtExit();
    }
};

TEST_F(StartStopThreadControlTest, AFailedCreationLeavesStopAndNoThreadAndTheNextClickTriesAgain) {
    const int calls_before = ThreadCreationCalls();
    SetThreadCreationFails(true);

    OnStartStopClicked();
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption}));
    EXPECT_EQ(WorkerThreadHandle, nullptr);
    EXPECT_EQ(ThreadCreationCalls(), calls_before + 1);

    OnStartStopClicked();  // finds no thread, so starts again
    EXPECT_EQ(Captions(), std::vector<TextValue>({kStopCaption, kStopCaption}));
    EXPECT_EQ(WorkerThreadHandle, nullptr);
    EXPECT_EQ(ThreadCreationCalls(), calls_before + 2);

    SetThreadCreationFails(false);
    OnStartStopClicked();
    EXPECT_NE(WorkerThreadHandle, nullptr);
    EXPECT_EQ(ThreadCreationCalls(), calls_before + 3);
    EXPECT_TRUE(WaitUntil([] { return IntervalReads() == 1; }, seconds(10)));

    OnStartStopClicked();
    EXPECT_EQ(Captions(),
              std::vector<TextValue>({kStopCaption, kStopCaption, kStopCaption, kStartCaption}));
    EXPECT_EQ(WorkerThreadHandle, nullptr);
}

TEST_F(StartStopThreadControlTest, AStopBeforeTheThreadHasRunEndsItBeforeItReadsTheInterval) {
    const int threads_before = LiveThreadCount();
    HoldNewThreadsAtStart(true);
    OnStartStopClicked();
    ASSERT_NE(WorkerThreadHandle, nullptr);
    OnStartStopClicked();
    HoldNewThreadsAtStart(false);  // the thread runs only now, already stopped

    EXPECT_TRUE(WaitUntil([&] { return LiveThreadCount() == threads_before; }, seconds(2)));
    EXPECT_EQ(IntervalReads(), 0);
    EXPECT_TRUE(RecordedClockRequests().empty());
}

}  // namespace
