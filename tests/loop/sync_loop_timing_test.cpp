// SyncLoop's pause between passes, seen at a timed server: from the end of one request to the
// start of the next; and the interval read once, at the start.
#include "sync/sync_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "tests/loop/loop_test_support.h"
#include "tests/loop/timed_http_server.h"

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;

// From the moment each answer was complete to the moment the next connection came.
std::vector<double> GapsBetween(const std::vector<TimedRequest>& requests) {
    std::vector<double> gaps;
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        if (requests[i].answered)
            gaps.push_back(Milliseconds(requests[i + 1].accepted - *requests[i].answered).count());
    }
    return gaps;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1.0 : values[values.size() / 2];
}

// Collects `count` gaps of a loop that reads `text` as its interval.
std::vector<double> MeasureGaps(const TextValue& text, std::size_t count) {
    ResetFrontEndStandIns();
    SetIntervalText(text);
    TimedHttpServer server;
    {
        LoopRun run(server.Url());
        EXPECT_TRUE(
            WaitUntil([&] { return server.RequestCount() > count; }, std::chrono::seconds(30)));
    }
    std::vector<TimedRequest> requests = server.Requests();
    if (requests.size() > count + 1)
        requests.resize(count + 1);
    return GapsBetween(requests);
}

TEST(SyncLoopTiming, ThePauseFromOneRequestsEndToTheNextsStartIsTheInterval) {
    // Wide bounds for a loaded two-core machine; the two kinds of interval stay far apart. The
    // server stamps "answered" after its send returns, so a client that reconnects at once can be
    // stamped accepted a moment earlier: back-to-back gaps may come out a hair below zero.
    const struct {
        const char* name;
        TextValue text;
        std::size_t gaps;
        double at_least_ms;
        double at_most_ms;
    } cases[] = {
        {"eight_hundred_waits_eight_hundred", "800", 3, 795.0, 950.0},
        {"zero_runs_the_passes_back_to_back", "0", 9, -5.0, 100.0},
        {"negative_waits_no_longer_than_zero", "-800", 9, -5.0, 100.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> gaps = MeasureGaps(c.text, c.gaps);
        ASSERT_EQ(gaps.size(), c.gaps);
        const double median = Median(gaps);
        std::printf("interval %-4s: median gap %.1f ms (of %zu, from %.1f to %.1f)\n",
                    c.text.c_str(), median, gaps.size(),
                    *std::min_element(gaps.begin(), gaps.end()),
                    *std::max_element(gaps.begin(), gaps.end()));
        RecordProperty(std::string(c.name) + "_median_ms", std::to_string(median));
        EXPECT_GE(median, c.at_least_ms);
        EXPECT_LE(median, c.at_most_ms);
    }
}

TEST(SyncLoopTiming, EditingTheIntervalAfterTheStartChangesNothing) {
    ResetFrontEndStandIns();
    SetIntervalText("800");
    TimedHttpServer server;
    {
        LoopRun run(server.Url());
        ASSERT_TRUE(
            WaitUntil([&] { return server.RequestCount() >= 1; }, std::chrono::seconds(10)));
        SetIntervalText("0");
        ASSERT_TRUE(
            WaitUntil([&] { return server.RequestCount() >= 3; }, std::chrono::seconds(10)));
    }
    std::vector<TimedRequest> requests = server.Requests();
    requests.resize(3);
    for (const double gap : GapsBetween(requests))
        EXPECT_GE(gap, 795.0);
    EXPECT_EQ(IntervalReads(), 1);
}

}  // namespace
