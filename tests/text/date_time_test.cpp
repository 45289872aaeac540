// The date-time text: joining the fields, reading the text into a value, and the clock request.
#include "sync/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/fake/recording_clock.h"
#include "sync/extract.h"
#include "tests/text/cp936_literals.h"

namespace {

constexpr DateTimeValue kFailure = -657434.0;

TEST(BuildDateTimeText, JoinsTheFieldsWithTheirUnits) {
    const struct {
        const char* name;
        TextValue fields[6];
        TextValue expected;
    } cases[] = {
        {"six_fields",
         {"2017", "5", "3", "12", "34", "56"},
         "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN "56" MIAO},  // 2017年5月3日12时34分56秒
        {"six_empty_fields", {}, NIAN YUE RI SHI FEN MIAO},        // 年月日时分秒
        {"empty_second",
         {"2017", "5", "3", "12", "34", ""},
         "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN MIAO},  // 2017年5月3日12时34分秒
        {"fields_pass_unchecked",
         {" 2017 ", "x", "", "", "", "56" MIAO "x"},
         " 2017 " NIAN "x" YUE RI SHI FEN "56" MIAO "x" MIAO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& f = c.fields;
        EXPECT_EQ(BuildDateTimeText(f[0], f[1], f[2], f[3], f[4], f[5]), c.expected);
    }
}

struct ParseCase {
    const char* name;
    TextValue text;
    DateTimeValue expected;
};

// 2017-05-03 12:34:56.
const DateTimeValue kMay3rd = 42858 + 45296 / 86400.0;

TEST(ParseDateTimeText, ReadsTheSixNumbers) {
    const ParseCase cases[] = {
        // 2017年5月3日12时34分56秒
        {"worked_example", "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN "56" MIAO, kMay3rd},
        // 2017年5月3日12时34分秒
        {"empty_second_reads_as_zero", "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN MIAO,
         42858 + 45240 / 86400.0},
        {"day_alone_is_midnight", "2017" NIAN "5" YUE "3" RI, 42858.0},
        {"hour_without_minutes", "2017" NIAN "5" YUE "3" RI "12" SHI, 42858.5},
        // 2017年05月03日08时05分09秒
        {"leading_zeros", "2017" NIAN "05" YUE "03" RI "08" SHI "05" FEN "09" MIAO,
         42858 + (8 * 3600 + 5 * 60 + 9) / 86400.0},
        {"dashes_and_colons", "2017-5-3 12:34:56", kMay3rd},
        {"slashes_and_dots", "2017/5/3 12.34.56", kMay3rd},
        {"separators_mixed", "2017.5" YUE "3-12" SHI "34/56", kMay3rd},
        {"text_after_the_second_unit_is_ignored",
         "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN "56" MIAO "x\xFF"
         "99",
         kMay3rd},
        {"second_followed_by_its_unit_and_more", "2017-5-3 12:34:56" MIAO "x", kMay3rd},
        // ２０１７年５月３日 and ２０１７／５／３ in full-width forms.
        {"full_width_digits", "\xA3\xB2\xA3\xB0\xA3\xB1\xA3\xB7" NIAN "\xA3\xB5" YUE "\xA3\xB3" RI,
         42858.0},
        {"full_width_separators",
         "2017\xA3\xAF"
         "5\xA3\xAF"
         "3",
         42858.0},
        {"lone_lead_byte_at_the_end_is_dropped",
         "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN "56\xC3", kMay3rd},
        {"leap_day", "2016" NIAN "2" YUE "29" RI "0" SHI "0" FEN "0" MIAO, 42429.0},
        {"leap_day_of_a_four_hundredth_year", "2000-2-29", 36585.0},
        {"after_the_unkept_leap_day_of_1900", "1900" NIAN "3" YUE "1" RI "0" SHI "0" FEN "0" MIAO,
         61.0},
        {"day_zero", "1899-12-30", 0.0},
        {"noon_of_day_zero", "1899-12-30 12:00:00", 0.5},
        // Before day zero the time of day is subtracted from the negative day number.
        {"before_day_zero_subtracts_the_time", "1899-12-29 6:00:00", -1.25},
        {"first_day_of_year_100", "100-1-1", -657434.0},
        {"last_second", "9999" NIAN "12" YUE "31" RI "23" SHI "59" FEN "59" MIAO,
         2958465 + 86399 / 86400.0},
        {"day_number_of_the_first_pass", "2017-1-5 10:28:51", 42740 + 37731 / 86400.0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(ParseDateTimeText(c.text), c.expected);
    }
}

TEST(ParseDateTimeText, GivesTheFailureValueForTextItCannotRead) {
    const ParseCase cases[] = {
        {"six_units_alone", NIAN YUE RI SHI FEN MIAO, kFailure},  // 年月日时分秒
        {"empty_text", "", kFailure},
        {"lone_lead_byte_alone", "\xC4", kFailure},
        {"unkept_leap_day", "2017" NIAN "2" YUE "29" RI "0" SHI "0" FEN "0" MIAO, kFailure},
        {"1900_is_not_a_leap_year", "1900" NIAN "2" YUE "29" RI "0" SHI "0" FEN "0" MIAO, kFailure},
        {"two_digit_year", "99" NIAN "1" YUE "1" RI "0" SHI "0" FEN "0" MIAO, kFailure},
        {"year_0099", "0099-1-1", kFailure},
        {"five_digit_year", "20170" NIAN "5" YUE "3" RI, kFailure},
        {"year_beginning_with_a_space", " 2017" NIAN "5" YUE "3" RI, kFailure},
        {"month_beginning_with_a_space", "2017" NIAN " 5" YUE "3" RI, kFailure},
        {"fractional_second", "2017" NIAN "5" YUE "3" RI "12" SHI "34" FEN "5.5" MIAO, kFailure},
        {"three_digit_second", "2017-5-3 12:34:567", kFailure},
        {"separator_after_the_second", "2017-5-3 12:34:56:", kFailure},
        {"space_after_the_second", "2017-5-3 12:34:56 ", kFailure},
        {"space_is_a_separator_only_after_the_day", "2017 5 3", kFailure},
        {"unit_of_another_field_is_no_separator", "2017" YUE "5" YUE "3" RI, kFailure},
        {"two_separators_in_a_row", "2017--5-3", kFailure},
        {"no_sign_is_read", "2017-+5-3", kFailure},
        {"month_zero", "2017-0-3", kFailure},
        {"month_13", "2017-13-3", kFailure},
        {"day_zero", "2017-5-0", kFailure},
        {"day_32", "2017-1-32", kFailure},
        {"april_31", "2017-4-31", kFailure},
        {"hour_24", "2017-5-3 24:00:00", kFailure},
        {"minute_60", "2017-5-3 12:60:00", kFailure},
        {"second_60", "2017-5-3 12:34:60", kFailure},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseDateTimeText(c.text), c.expected);
    }
}

// Every test here starts with an empty record and a clock that accepts.
class SetLocalClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRecordedClockRequests();
        SetRecordedClockResult(TRUE);
    }
    void TearDown() override {
        ClearRecordedClockRequests();
        SetRecordedClockResult(TRUE);
    }
};

struct Request {
    int year, month, day_of_week, day, hour, minute, second;
};

void ExpectOneRequest(const Request& expected) {
    const std::vector<SYSTEMTIME> requests = RecordedClockRequests();
    ASSERT_EQ(requests.size(), 1u);
    const SYSTEMTIME& t = requests[0];
    EXPECT_EQ(t.wYear, expected.year);
    EXPECT_EQ(t.wMonth, expected.month);
    EXPECT_EQ(t.wDayOfWeek, expected.day_of_week);
    EXPECT_EQ(t.wDay, expected.day);
    EXPECT_EQ(t.wHour, expected.hour);
    EXPECT_EQ(t.wMinute, expected.minute);
    EXPECT_EQ(t.wSecond, expected.second);
    EXPECT_EQ(t.wMilliseconds, 0);
}

TEST_F(SetLocalClockTest, AsksForTheValuesDateAndTimeToTheNearestSecond) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        DateTimeValue value;
        Request expected;
    } cases[] = {
        {"worked_example_a_wednesday", kMay3rd, {2017, 5, 3, 3, 12, 34, 56}},
        {"first_pass_a_thursday", 42740 + 37731 / 86400.0, {2017, 1, 4, 5, 10, 28, 51}},
        {"day_zero_is_a_saturday", 0.0, {1899, 12, 6, 30, 0, 0, 0}},
        {"before_day_zero_a_friday", -1.25, {1899, 12, 5, 29, 6, 0, 0}},
        {"leap_day", 42429.0, {2016, 2, 1, 29, 0, 0, 0}},
        {"lower_bound", -657434.0, {100, 1, 5, 1, 0, 0, 0}},
        {"below_the_lower_bound", -1e9, {100, 1, 5, 1, 0, 0, 0}},
        {"minus_infinity", -kInfinity, {100, 1, 5, 1, 0, 0, 0}},
        {"not_a_number_takes_the_lower_bound", std::nan(""), {100, 1, 5, 1, 0, 0, 0}},
        {"upper_bound", 2958465.0, {9999, 12, 5, 31, 0, 0, 0}},
        // 9999年12月31日23时59分59秒 lies above the bound and is brought down to it.
        {"last_second_is_brought_down_to_the_bound",
         2958465 + 86399 / 86400.0,
         {9999, 12, 5, 31, 0, 0, 0}},
        {"infinity", kInfinity, {9999, 12, 5, 31, 0, 0, 0}},
        {"less_than_half_a_second_rounds_down", 0.5 + 0.4 / 86400, {1899, 12, 6, 30, 12, 0, 0}},
        {"more_than_half_a_second_rounds_up", 0.5 + 0.6 / 86400, {1899, 12, 6, 30, 12, 0, 1}},
        {"rounding_up_before_day_zero", -1.25 - 0.6 / 86400, {1899, 12, 5, 29, 6, 0, 1}},
        {"rounding_into_the_next_day", 1 - 0.4 / 86400, {1899, 12, 0, 31, 0, 0, 0}},
        {"rounding_into_the_next_year", 42735 + 86399.6 / 86400, {2017, 1, 0, 1, 0, 0, 0}},
        // Day -5 (25 December 1899) at 23:59:59.6 rounds to the start of day -4, not of day -6.
        {"rounding_past_midnight_before_day_zero",
         -5 - 86399.6 / 86400,
         {1899, 12, 2, 26, 0, 0, 0}},
        {"last_half_second_before_day_zero_rounds_to_day_zero",
         -1 - 86399.6 / 86400,
         {1899, 12, 6, 30, 0, 0, 0}},
        {"first_day_windows_can_hold", -109205.0, {1601, 1, 1, 1, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRecordedClockRequests();
        EXPECT_TRUE(SetLocalClock(c.value));
        ExpectOneRequest(c.expected);
    }
}

TEST_F(SetLocalClockTest, ReportsARefusedRequest) {
    SetRecordedClockResult(FALSE);
    EXPECT_FALSE(SetLocalClock(ParseDateTimeText(NIAN YUE RI SHI FEN MIAO)));  // 年月日时分秒
    ExpectOneRequest({100, 1, 5, 1, 0, 0, 0});
}

TEST_F(SetLocalClockTest, OnePassFromPageToClockRequest) {
    const TextValue page = "nyear=2017;nmonth=1;nday=5;nhrs=10;nmin=28;nsec=51;";
    const TextValue text =
        BuildDateTimeText(ExtractBetween(page, "nyear=", ";"), ExtractBetween(page, "nmonth=", ";"),
                          ExtractBetween(page, "nday=", ";"), ExtractBetween(page, "nhrs=", ";"),
                          ExtractBetween(page, "nmin=", ";"), ExtractBetween(page, "nsec=", ";"));
    EXPECT_TRUE(SetLocalClock(ParseDateTimeText(text)));
    ExpectOneRequest({2017, 1, 4, 5, 10, 28, 51});
}

}  // namespace
