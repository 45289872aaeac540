// Field extraction: the piece of a text between two markers, and the two text helpers it rests on.
#pragma once

#include <cstdint>
#include <string_view>

#include "sync/text_value.h"

// The text's bytes before its terminator: a TextValue ends at its first zero byte.
inline std::string_view TextBytes(const TextValue& text) {
    return std::string_view(text.c_str());
}

// The bytes between the first `left` at or after `start` (1-based; 0 or less is the beginning) and
// the first `right` after it; empty when either is missing. The five bytes of "#引号" in a marker
// stand for one double quote. With `case_insensitive`, ASCII letters match either case.
TextValue ExtractBetween(const TextValue& source, const TextValue& left, const TextValue& right,
                         std::int32_t start = 0, bool case_insensitive = false);

// The 1-based position of the first `marker` at a character start at or after `start`, or -1.
// An empty marker is found at 1 whenever the searched part is not empty.
std::int32_t FindText(const TextValue& text, const TextValue& marker, std::int32_t start,
                      bool case_insensitive);

// At most `length` bytes of the text from 1-based `start` on; empty when start is outside it.
TextValue MidText(const TextValue& text, std::int32_t start, std::int32_t length);
