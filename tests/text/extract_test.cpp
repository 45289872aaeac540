// ExtractBetween, FindText and MidText: markers, start positions, two-byte characters, big pages.
#include "sync/extract.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "sync/date_time.h"
#include "tests/text/cp936_literals.h"

using namespace std::string_literals;

namespace {

struct ExtractCase {
    const char* name;
    TextValue source;
    TextValue left;
    TextValue right;
    std::int32_t start;
    bool case_insensitive;
    TextValue expected;
};

TEST(ExtractBetween, TakesTheTextBetweenTheFirstLeftAndTheNextRightMarker) {
    const ExtractCase cases[] = {
        {"twenty_byte_source_gives_the_month", "nyear=2017;nmonth=5;", "nmonth=", ";", 0, false,
         "5"},
        {"key_followed_directly_by_semicolon_is_empty", "nyear=;", "nyear=", ";", 0, false, ""},
        {"semicolon_in_front_of_the_key_is_never_used", "a;nyear=2017", "nyear=", ";", 0, false,
         ""},
        {"no_right_marker_is_empty", "nyear=2017", "nyear=", ";", 0, false, ""},
        {"first_occurrence_of_the_left_marker_counts", "nyear=1;nyear=2;", "nyear=", ";", 0, false,
         "1"},
        {"start_position_passes_over_the_first_occurrence", "nyear=1;nyear=2;", "nyear=", ";", 2,
         false, "2"},
        {"start_position_beyond_the_end_is_empty", "nyear=1;", "nyear=", ";", 9, false, ""},
        {"negative_start_position_is_the_beginning", "nyear=1;", "nyear=", ";", -3, false, "1"},
        {"left_marker_ending_the_source_is_empty", "abcnyear=", "nyear=", ";", 0, false, ""},
        {"value_passes_untrimmed", "nyear= 2017 ;", "nyear=", ";", 0, false, " 2017 "},
        {"upper_case_key_does_not_match_exactly", "nyear=2017;", "NYEAR=", ";", 0, false, ""},
        {"upper_case_key_matches_without_case", "nyear=2017;", "NYEAR=", ";", 0, true, "2017"},
        {"right_marker_matches_without_case_too", "nyear=5X", "nyear=", "x", 0, true, "5"},
        {"quote_token_in_both_markers", "k=\"v\"", "k=" QUOTE_TOKEN, QUOTE_TOKEN, 0, false, "v"},
        {"every_quote_token_is_replaced", "a\"\"b;", QUOTE_TOKEN QUOTE_TOKEN, ";", 0, false, "b"},
        // B0 23 is one character, so the token's 23 starts inside it and the bytes stay literal.
        {"quote_token_inside_a_two_byte_character_stays_literal", "\xB0" QUOTE_TOKEN "y;",
         "\xB0" QUOTE_TOKEN, ";", 0, false, "y"},
        {"right_marker_as_second_byte_of_a_character_is_passed_over", "k=\xB0;x;", "k=", ";", 0,
         false, "\xB0;x"},
        {"empty_left_marker_takes_from_the_beginning", "2017;x;", "", ";", 0, false, "2017"},
        {"empty_left_marker_with_a_start_still_takes_from_the_beginning", "2017;x;", "", ";", 6,
         false, "2017"},
        {"empty_right_marker_always_gives_the_empty_text", "nyear=2017;", "nyear=", "", 0, false,
         ""},
        {"empty_source_gives_the_empty_text", "", "", ";", 0, false, ""},
        {"zero_byte_ends_the_source",
         "nyear=20\0"
         "17;"s,
         "nyear=", ";", 0, false, ""},
    };
    for (const ExtractCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExtractBetween(c.source, c.left, c.right, c.start, c.case_insensitive),
                  c.expected);
    }
}

TEST(ExtractBetween, DefaultsSearchFromTheBeginningWithExactCase) {
    EXPECT_EQ(ExtractBetween("nyear=1;NYEAR=2;", "NYEAR=", ";"), "2");
}

TEST(ExtractBetween, LeavesItsMarkersUnchanged) {
    const TextValue left = "k=" QUOTE_TOKEN;
    const TextValue right = QUOTE_TOKEN;
    ASSERT_EQ(ExtractBetween("k=\"v\"", left, right), "v");
    EXPECT_EQ(left, "k=" QUOTE_TOKEN);
    EXPECT_EQ(right, QUOTE_TOKEN);
}

TEST(ExtractBetween, TakesTheSixFieldsOfATimePage) {
    const TextValue page =
        "<html>nhrs=10;x nmin=28; nsec=51;nyear=2017;<b>nmonth=1;</b>nday=5;</html>";
    const TextValue text =
        BuildDateTimeText(ExtractBetween(page, "nyear=", ";"), ExtractBetween(page, "nmonth=", ";"),
                          ExtractBetween(page, "nday=", ";"), ExtractBetween(page, "nhrs=", ";"),
                          ExtractBetween(page, "nmin=", ";"), ExtractBetween(page, "nsec=", ";"));
    EXPECT_EQ(text,
              "2017" NIAN "1" YUE "5" RI "10" SHI "28" FEN "51" MIAO);  // 2017年1月5日10时28分51秒
}

// Filler that holds near misses of every key, two-byte characters and semicolons.
TextValue TenMegabytePage(const TextValue& tail) {
    const TextValue filler = "<p>\xCA\xB1\xBC\xE4 nyea; nmont=; nda nhr=; nmi sec=;</p>\n";
    TextValue page;
    page.reserve(10 * 1024 * 1024 + tail.size());
    while (page.size() + filler.size() <= 10 * 1024 * 1024)
        page += filler;
    page += tail;
    return page;
}

TEST(ExtractBetween, FindsFieldsAtTheEndOfATenMegabytePage) {
    const TextValue with_fields =
        TenMegabytePage("nyear=2017;nmonth=1;nday=5;nhrs=10;nmin=28;nsec=51;");
    const TextValue without_fields = TenMegabytePage("");
    const struct {
        const char* key;
        const char* value;
    } fields[] = {{"nyear=", "2017"}, {"nmonth=", "1"}, {"nday=", "5"},
                  {"nhrs=", "10"},    {"nmin=", "28"},  {"nsec=", "51"}};
    const auto began = std::chrono::steady_clock::now();
    for (const auto& field : fields) {
        SCOPED_TRACE(field.key);
        EXPECT_EQ(ExtractBetween(with_fields, field.key, ";"), field.value);
        EXPECT_EQ(ExtractBetween(without_fields, field.key, ";"), "");
    }
    // Twelve linear scans of 10 MB; a scan that restarts or copies per position would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
}

struct FindCase {
    const char* name;
    TextValue text;
    TextValue marker;
    std::int32_t start;
    bool case_insensitive;
    std::int32_t expected;
};

TEST(FindText, FindsTheFirstMatchAtACharacterStart) {
    const FindCase cases[] = {
        {"never_at_the_second_byte_of_a_character", "\x81\x61\x61", "a", 0, false, 3},
        {"start_inside_a_character_scans_from_there", "\x81\x61\x61", "a", 2, false, 2},
        {"start_zero_is_the_beginning", "abcabc", "b", 0, false, 2},
        {"start_one_is_the_beginning", "abcabc", "b", 1, false, 2},
        {"negative_start_is_the_beginning", "abcabc", "b", -5, false, 2},
        {"position_counts_from_the_beginning_of_the_text", "abcabc", "b", 3, false, 5},
        {"start_on_the_last_byte", "abcabc", "c", 6, false, 6},
        {"start_just_past_the_end", "abcabc", "c", 7, false, -1},
        {"largest_start", "abcabc", "c", INT32_MAX, false, -1},
        {"match_ending_the_text", "abc", "bc", 0, false, 2},
        {"marker_longer_than_the_rest", "abc", "bcd", 0, false, -1},
        {"marker_longer_than_the_text", "ab", "abc", 0, false, -1},
        {"not_found", "abc", "x", 0, false, -1},
        {"empty_marker_at_the_beginning", "abc", "", 0, false, 1},
        {"empty_marker_with_a_later_start_is_still_one", "abc", "", 3, false, 1},
        {"empty_marker_past_the_end", "abc", "", 4, false, -1},
        {"empty_marker_in_an_empty_text", "", "", 0, false, -1},
        {"two_byte_marker_after_two_byte_characters", "\xC4\xEA\xD4\xC2", "\xD4\xC2", 0, false, 3},
        {"two_byte_marker_across_a_character_boundary", "\xC4\xEA\xD4\xC2", "\xEA\xD4", 0, false,
         -1},
        {"lone_lead_byte_ending_the_text_matches_itself", "ab\x81", "\x81", 0, false, 3},
        {"lone_lead_byte_ending_the_text_ends_the_scan", "ab\x81", "c", 0, false, -1},
        {"exact_case_by_default", "xAbC", "abc", 0, false, -1},
        {"ascii_letters_match_either_case", "xAbC", "abc", 0, true, 2},
        {"marker_letters_fold_too", "xabc", "ABC", 0, true, 2},
        // One bit apart like the letters, but not letters: no folding.
        {"brackets_are_not_letters", "[", "{", 0, true, -1},
        {"at_sign_is_not_a_letter", "@", "`", 0, true, -1},
        {"full_width_letters_do_not_fold", "\xA3\xC1", "\xA3\xE1", 0, true, -1},
        {"zero_byte_ends_the_text", "ab\0c"s, "c", 0, false, -1},
        {"zero_byte_ends_the_marker", "abc", "b\0x"s, 0, false, 2},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindText(c.text, c.marker, c.start, c.case_insensitive), c.expected);
    }
}

TEST(MidText, ClipsToTheText) {
    const struct {
        const char* name;
        TextValue text;
        std::int32_t start;
        std::int32_t length;
        TextValue expected;
    } cases[] = {
        {"fewer_bytes_remain_than_asked", "abc", 2, 5, "bc"},
        {"whole_text", "abc", 1, 3, "abc"},
        {"last_byte", "abc", 3, 1, "c"},
        {"largest_length", "abc", 1, INT32_MAX, "abc"},
        {"start_zero", "abc", 0, 2, ""},
        {"negative_start", "abc", -1, 2, ""},
        {"start_past_the_end", "abc", 4, 1, ""},
        {"zero_length", "abc", 2, 0, ""},
        {"negative_length", "abc", 2, -1, ""},
        {"empty_text", "", 1, 1, ""},
        {"cuts_through_a_two_byte_character", "\xB0\xA1x", 2, 1, "\xA1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MidText(c.text, c.start, c.length), c.expected);
    }
}

}  // namespace
