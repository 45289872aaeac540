// Fuzzes TextToInt64 against the C library's strtoll on the folded text wherever no wrap can
// happen, and checks that leading blanks and a minus sign act as they should.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sync/conversions.h"
#include "sync/date_time.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Digits of the number strtoll would read: after white space and one sign.
std::size_t DigitRun(const TextValue& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    std::size_t digits = 0;
    while (at + digits < text.size() && text[at + digits] >= '0' && text[at + digits] <= '9') {
        ++digits;
    }
    return digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TextValue text(reinterpret_cast<const char*>(data), size);
    const std::int64_t value = TextToInt64(text);

    const TextValue folded = ToHalfWidth(text);
    if (DigitRun(folded) <= 18) {
        errno = 0;
        const long long expected = std::strtoll(folded.c_str(), nullptr, 10);
        FUZZ_CHECK(errno == 0);
        FUZZ_CHECK(value == expected);
    }
    FUZZ_CHECK(TextToInt64(" \t" + text) == value);
    if (!folded.empty() && folded[0] >= '0' && folded[0] <= '9') {
        // Negation modulo 2^64, done in unsigned arithmetic.
        const auto negated = static_cast<std::int64_t>(0u - static_cast<std::uint64_t>(value));
        FUZZ_CHECK(TextToInt64("-" + text) == negated);
    }
    return 0;
}
