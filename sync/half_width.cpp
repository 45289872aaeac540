// ToHalfWidth: the folding applied before numbers are read from a text.
#include <cstddef>

#include "sync/date_time.h"
#include "sync/extract.h"

TextValue ToHalfWidth(const TextValue& text) {
    const std::string_view bytes = TextBytes(text);
    // Every character folds to at most its own width, so the copy never outgrows the text.
    TextValue folded(bytes.size(), '\0');
    char* out = folded.data();
    const std::size_t n = bytes.size();
    for (std::size_t at = 0; at < n; ++at) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            *out++ = static_cast<char>(lead);
            continue;
        }
        if (at + 1 == n)
            break;  // a lone lead byte at the end is dropped
        const auto trail = static_cast<unsigned char>(bytes[at + 1]);
        ++at;
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
            *out++ = static_cast<char>(trail - 0x80);
        } else if (lead == 0xA1 && trail == 0xA1) {
            *out++ = ' ';
        } else if (lead == 0xA1 && trail == 0xAB) {
            *out++ = '~';
        } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
            *out++ = '*';
        } else {
            *out++ = static_cast<char>(lead);
            *out++ = static_cast<char>(trail);
        }
    }
    folded.resize(static_cast<std::size_t>(out - folded.data()));
    return folded;
}
