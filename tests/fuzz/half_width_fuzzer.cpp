// Fuzzes ToHalfWidth: the folded copy never outgrows the text, and folding it again changes
// nothing.
#include <cstddef>
#include <cstdint>

#include "sync/date_time.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TextValue text(reinterpret_cast<const char*>(data), size);
    const TextValue folded = ToHalfWidth(text);
    FUZZ_CHECK(folded.size() <= TextValue(text.c_str()).size());
    FUZZ_CHECK(folded.find('\0') == TextValue::npos);
    FUZZ_CHECK(ToHalfWidth(folded) == folded);
    return 0;
}
