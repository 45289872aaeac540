// The core's value types: page bytes, code page 936 texts and date-times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Code page 936 bytes with no zero byte inside; a routine given raw bytes ends the text at the
// first zero. Positions into it are 1-based byte positions held in std::int32_t.
using TextValue = std::string;

// The bytes of an HTTP answer's body; empty is how a failed fetch shows itself.
using ByteBuffer = std::vector<std::uint8_t>;

// Days since midnight at the start of 30 December 1899; before that day the integer part is
// negative and the time of day is subtracted from it.
using DateTimeValue = double;
