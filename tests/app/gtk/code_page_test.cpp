// The window's code page 936 <-> UTF-8 edge: the program's own texts, broken bytes, and
// characters the code page cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "app/gtk/code_page.h"

namespace {

struct TextCase {
    const char* name;
    std::string cp936;
    std::string utf8;
};

// Texts that exist in both encodings, so each direction must give the other exactly.
const TextCase kBothWays[] = {
    {"ascii interval", "800", "800"},
    {"empty text", "", ""},
    {"start caption", "\xC6\xF4\xB6\xAF", "\xE5\x90\xAF\xE5\x8A\xA8"},  // 启动
    {"stop caption", "\xCD\xA3\xD6\xB9", "\xE5\x81\x9C\xE6\xAD\xA2"},   // 停止
    // 自动校准时间 单位(毫秒): mixes double-byte characters, a space and ASCII brackets
    {"heading label",
     "\xD7\xD4\xB6\xAF\xD0\xA3\xD7\xBC\xCA\xB1\xBC\xE4 \xB5\xA5\xCE\xBB(\xBA\xC1\xC3\xEB)",
     "\xE8\x87\xAA\xE5\x8A\xA8\xE6\xA0\xA1\xE5\x87\x86\xE6\x97\xB6\xE9\x97\xB4 "
     "\xE5\x8D\x95\xE4\xBD\x8D(\xE6\xAF\xAB\xE7\xA7\x92)"},
    // 1秒=1000毫秒: a double-byte character right before ASCII digits
    {"unit hint label", "1\xC3\xEB=1000\xBA\xC1\xC3\xEB",
     "1\xE7\xA7\x92=1000\xE6\xAF\xAB\xE7\xA7\x92"},
    {"euro sign is the code page's single byte 0x80",
     "a\x80"
     "b",
     "a\xE2\x82\xAC"
     "b"},
    {"full-width digit one", "\xA3\xB1", "\xEF\xBC\x91"},  // １
};

TEST(CodePageTest, ConvertsTheProgramsTextsBothWays) {
    for (const TextCase& row : kBothWays) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Utf8From936(row.cp936), row.utf8);
        EXPECT_EQ(TextFromUtf8(row.utf8), row.cp936);
    }
}

// Bytes that start no character show as U+FFFD, one per byte, and the rest is still shown.
const TextCase kBrokenCodePage[] = {
    {"lone lead byte at the end", "80\xC6", "80\xEF\xBF\xBD"},
    {"lone lead byte before an ASCII digit",
     "\xC6"
     "0",
     "\xEF\xBF\xBD"
     "0"},
    {"lead byte with 0x7F, which is no trail byte",
     "\xC6\x7F"
     "1",
     "\xEF\xBF\xBD\x7F"
     "1"},
    {"byte 0xFF is no character",
     "1\xFF"
     "2",
     "1\xEF\xBF\xBD"
     "2"},
};

TEST(CodePageTest, ShowsBrokenCodePageBytesAsReplacementAndGoesOn) {
    for (const TextCase& row : kBrokenCodePage) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Utf8From936(row.cp936), row.utf8);
    }
}

// What the user types but the code page cannot hold becomes one "?" per character, so the
// loop reads a text of the same shape.
const TextCase kOutsideCodePage[] = {
    {"emoji between digits", "8?00",
     "8\xF0\x9F\x98\x80"
     "00"},
    {"hangul syllable", "?", "\xED\x95\x9C"},
    {"two in a row stay two", "??1",
     "\xF0\x9F\x98\x80\xED\x95\x9C"
     "1"},
    {"held characters around it survive", "\xD6\xD0?\xD6\xD0",
     "\xE4\xB8\xAD\xF0\x9F\x98\x80\xE4\xB8\xAD"},  // 中?中
};

TEST(CodePageTest, ReplacesCharactersOutsideTheCodePageWithQuestionMarks) {
    for (const TextCase& row : kOutsideCodePage) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TextFromUtf8(row.utf8), row.cp936);
    }
}

// Texts longer than one conversion chunk keep every byte.
TEST(CodePageTest, KeepsLongTextsWhole) {
    std::string cp936;
    std::string utf8;
    for (int i = 0; i < 500; ++i) {
        cp936 +=
            "\xC6\xF4"
            "7";
        utf8 +=
            "\xE5\x90\xAF"
            "7";
    }
    EXPECT_EQ(Utf8From936(cp936), utf8);
    EXPECT_EQ(TextFromUtf8(utf8), cp936);
}

}  // namespace
