// TextToInt64 and BytesToText.
#include "sync/conversions.h"

#include <algorithm>

#include "sync/date_time.h"

namespace {

// Only these count as white space: no locale is in force.
bool IsBlank(unsigned char byte) { return (byte >= 0x09 && byte <= 0x0D) || byte == 0x20; }

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

}  // namespace

std::int64_t TextToInt64(const TextValue& text) {
    const TextValue folded = ToHalfWidth(text);
    auto at = folded.begin();
    while (at != folded.end() && IsBlank(static_cast<unsigned char>(*at))) ++at;
    bool negative = false;
    if (at != folded.end() && (*at == '+' || *at == '-')) {
        negative = *at == '-';
        ++at;
    }
    // Unsigned arithmetic: a long digit run wraps instead of overflowing a signed value.
    std::uint64_t value = 0;
    for (; at != folded.end() && IsDigit(static_cast<unsigned char>(*at)); ++at) {
        value = value * 10u + static_cast<std::uint64_t>(*at - '0');
    }
    if (negative) value = ~value + 1u;
    return static_cast<std::int64_t>(value);
}

TextValue BytesToText(const ByteBuffer& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return TextValue(bytes.begin(), end);
}
