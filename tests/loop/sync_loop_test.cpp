// SyncLoop against a scripted server: the clock request each page leads to, and the interval that
// each text of 编辑框1 gives.
#include "sync/sync_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "tests/loop/loop_test_support.h"
#include "tests/support/scripted_http_server.h"

using namespace std::string_literals;

namespace {

constexpr char kOk[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
constexpr char kSixFields[] = "nyear=2017;nmonth=1;nday=5;nhrs=10;nmin=28;nsec=51;";
constexpr char kFifthJanuary[] = "2017-01-05 10:28:51.000 dow 4";
// What the platform is asked for when the page gives no date: 1 January 100, which it refuses.
constexpr char kRefusedDate[] = "0100-01-01 00:00:00.000 dow 5";

TEST(SyncLoopPages, EachPageLeadsToTheClockRequestItsFieldsMake) {
    const struct {
        const char* name;
        std::string head;
        std::string body;
        const char* expected;
    } cases[] = {
        {"six_fields_set_that_date_and_time", kOk, kSixFields, kFifthJanuary},
        {"another_order_amid_other_text_gives_the_same", kOk,
         "<html><p>nsec=51;</p>time: nhrs=10; nmin=28;<br>nday=5;nmonth=1; and nyear=2017;</html>",
         kFifthJanuary},
        {"an_error_status_is_read_like_the_time_page", "HTTP/1.0 500 Internal Server Error\r\n\r\n",
         kSixFields, kFifthJanuary},
        {"year_key_in_capitals_leaves_the_year_empty", kOk,
         "NYEAR=2017;nmonth=1;nday=5;nhrs=10;nmin=28;nsec=51;", kRefusedDate},
        {"blanks_around_the_year_go_into_the_text_and_fail_it", kOk,
         "nyear= 2017 ;nmonth=1;nday=5;nhrs=10;nmin=28;nsec=51;", kRefusedDate},
        {"zero_byte_before_nsec_ends_the_page_so_the_minute_starts", kOk,
         "nyear=2017;nmonth=1;nday=5;nhrs=10;nmin=28;\0nsec=51;"s, "2017-01-05 10:28:00.000 dow 4"},
        {"empty_page_gives_no_date", kOk, "", kRefusedDate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFrontEndStandIns();
        SetIntervalText("20");
        ClearRecordedClockRequests();
        HttpScenario scenario;
        scenario.head = c.head;
        scenario.body = c.body;
        ScriptedHttpServer server(scenario);
        {
            LoopRun run(server.Url("/time15.asp"));
            // Two passes: the second shows that the loop goes on whatever the first made.
            ASSERT_TRUE(WaitUntil([] { return RecordedClockRequests().size() >= 2; },
                                  std::chrono::seconds(10)));
        }
        const std::vector<SYSTEMTIME> asked = RecordedClockRequests();
        for (const SYSTEMTIME& request : asked)
            EXPECT_EQ(Describe(request), c.expected);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].rfind("GET /time15.asp HTTP/1.0\r\n", 0), 0u) << requests[0];
        EXPECT_EQ(IntervalReads(), 1);
    }
}

TEST(SyncLoopPages, AnUnreachableHostLeavesTheClockAloneAndIsTriedAgainAfterTheInterval) {
    ResetFrontEndStandIns();
    SetIntervalText("20");
    ClearRecordedClockRequests();
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/time15.asp";
    {
        LoopRun run(refused);
        ASSERT_TRUE(WaitUntil([] { return RecordedClockRequests().size() >= 3; },
                              std::chrono::seconds(10)));
    }
    // Each attempt ends in the request that the platform refuses; none names a real date.
    for (const SYSTEMTIME& request : RecordedClockRequests())
        EXPECT_EQ(Describe(request), kRefusedDate);
}

TEST(SyncLoopInterval, TheTextGivesItsNumberLowThirtyTwoBitsReadAsSigned) {
    const struct {
        const char* name;
        TextValue text;
        std::int32_t expected;
    } cases[] = {
        {"plain_number", "800", 800},
        {"two_leading_blanks", "  800", 800},
        {"unit_after_the_number", "800ms", 800},
        {"plus_sign", "+800", 800},
        {"full_width_digits", "\xA3\xB8\xA3\xB0\xA3\xB0", 800},  // ８００
        {"empty_text", "", 0},
        {"no_digits", "abc", 0},
        {"letters_before_the_digits", "ms800", 0},
        {"negative_is_kept_for_the_wait", "-800", -800},
        {"above_32_bits_keeps_the_low_ones", "4294968096", 800},
        {"two_to_the_31_reads_as_the_smallest", "2147483648", INT32_MIN},
        {"all_ones_reads_as_minus_one", "4294967295", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IntervalFromText(c.text), c.expected);
    }
}

}  // namespace
