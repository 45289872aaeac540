// TextToInt64, BytesToText and ToHalfWidth: the interval text, the page bytes and the folding.
#include "sync/conversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sync/date_time.h"

using namespace std::string_literals;

namespace {

TEST(TextToInt64, ReadsASignedDecimalNumberAfterWhiteSpace) {
    const struct {
        const char* name;
        TextValue text;
        std::int64_t expected;
    } cases[] = {
        {"plain_number", "800", 800},
        {"two_leading_blanks", "  800", 800},
        {"every_white_space_byte", "\t\n\v\f\r 800", 800},
        {"unit_after_the_number_is_ignored", "800ms", 800},
        {"plus_sign", "+800", 800},
        {"minus_sign", "-800", -800},
        {"full_width_digits", "\xA3\xB8\xA3\xB0\xA3\xB0", 800},  // ８００
        {"full_width_minus_and_ideographic_space",
         "\xA1\xA1\xA3\xAD"
         "800",
         -800},  // 　－800
        {"leading_zeros", "000800", 800},
        {"empty_text", "", 0},
        {"no_digits", "abc", 0},
        {"letters_before_the_digits", "ms800", 0},
        {"blank_between_sign_and_digits", "- 800", 0},
        {"two_signs", "+-800", 0},
        {"no_break_space_is_not_white_space",
         "\xA0"
         "800",
         0},
        {"above_32_bits_keeps_all_64", "4294968096", 4294968096},
        {"largest_value", "9223372036854775807", INT64_MAX},
        {"one_more_wraps_to_the_smallest", "9223372036854775808", INT64_MIN},
        {"smallest_value", "-9223372036854775808", INT64_MIN},
        {"two_to_the_64_wraps_to_zero", "18446744073709551616", 0},
        {"two_to_the_64_plus_one_wraps_to_one", "18446744073709551617", 1},
        {"negated_wrap", "-18446744073709551617", -1},
        {"long_run_wraps_modulo_two_to_the_64", "100000000000000000000", 7766279631452241920},
        {"lone_lead_byte_after_the_digits", "800\xA3", 800},
        {"lone_lead_byte_alone", "\xA3", 0},
        {"zero_byte_ends_the_text",
         "8\0"
         "00"s,
         8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextToInt64(c.text), c.expected);
    }
}

TEST(TextToInt64, LowThirtyTwoBitsOfAWrappedIntervalGiveEightHundred) {
    EXPECT_EQ(static_cast<std::int32_t>(TextToInt64("4294968096")), 800);
}

TEST(BytesToText, TakesTheBytesUpToTheFirstZero) {
    const struct {
        const char* name;
        ByteBuffer bytes;
        TextValue expected;
    } cases[] = {
        {"empty_buffer", {}, ""},
        {"zero_first", {0x00, 0x41}, ""},
        {"no_zero_takes_all", {0x6E, 0x3D, 0x31, 0x3B}, "n=1;"},
        {"stops_at_the_first_zero", {0x61, 0x62, 0x00, 0x63, 0x00}, "ab"},
        {"high_bytes_pass_unconverted", {0xC4, 0xEA, 0xFF, 0x80}, "\xC4\xEA\xFF\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BytesToText(c.bytes), c.expected);
    }
}

TEST(ToHalfWidth, FoldsFullWidthFormsIntoSingleBytes) {
    const struct {
        const char* name;
        TextValue text;
        TextValue expected;
    } cases[] = {
        {"ascii_is_copied", "abc 123", "abc 123"},
        {"full_width_digits", "\xA3\xB0\xA3\xB9", "09"},   // ０９
        {"first_full_width_form", "\xA3\xA1", "!"},        // ！
        {"last_full_width_form", "\xA3\xFE", "~"},         // ￣
        {"full_width_letters", "\xA3\xC1\xA3\xE1", "Aa"},  // Ａａ
        {"just_below_the_full_width_forms", "\xA3\xA0", "\xA3\xA0"},
        {"just_above_the_full_width_forms", "\xA3\xFF", "\xA3\xFF"},
        {"ideographic_space", "\xA1\xA1", " "},              // 　
        {"full_width_tilde", "\xA1\xAB", "~"},               // ～
        {"white_and_black_star", "\xA1\xEE\xA1\xEF", "**"},  // ☆★
        {"neighbour_of_the_stars_is_kept", "\xA1\xED", "\xA1\xED"},
        {"other_characters_are_kept", "2017\xC4\xEA", "2017\xC4\xEA"},  // 2017年
        {"lead_byte_takes_an_ascii_byte_with_it",
         "\x81"
         "a1",
         "\x81"
         "a1"},
        // B0 A3 is one character, so the B0 after it is a lone lead byte.
        {"pairs_are_taken_from_the_start", "\xB0\xA3\xB0", "\xB0\xA3"},
        {"lone_lead_byte_at_the_end_is_dropped", "12\xA3", "12"},
        {"lone_lead_byte_alone", "\xA3", ""},
        {"empty_text", "", ""},
        {"zero_byte_ends_the_text", "\xA3\xB1\0\xA3\xB2"s, "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToHalfWidth(c.text), c.expected);
    }
}

}  // namespace
