// The two conversions the synchronisation loop makes itself: the interval text to a number and
// the page bytes to a text.
#pragma once

#include <cstdint>

#include "sync/text_value.h"

// Reads an optionally signed decimal number after leading white space, full-width forms folded
// first; digits wrap modulo 2^64, and a text without digits gives 0. Never fails.
std::int64_t TextToInt64(const TextValue& text);

// The buffer's bytes up to, not including, the first zero byte. No character-set conversion.
TextValue BytesToText(const ByteBuffer& bytes);
