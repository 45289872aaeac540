// ExtractBetween, FindText and MidText over code page 936 texts, with the quote token in markers.
#include "sync/extract.h"

#include <cstddef>

namespace {

// "#引号": a caller's way of writing a double quote inside a marker.
constexpr std::string_view kQuoteToken = "\x23\xD2\xFD\xBA\xC5";

// Only the top bit decides: no code page's lead-byte table is consulted.
bool IsLeadByte(char byte) {
    return static_cast<unsigned char>(byte) >= 0x80;
}

unsigned char FoldAsciiLetter(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

bool MatchesAt(std::string_view text, std::size_t at, std::string_view marker,
               bool case_insensitive) {
    for (std::size_t i = 0; i < marker.size(); ++i) {
        if (case_insensitive ? FoldAsciiLetter(text[at + i]) != FoldAsciiLetter(marker[i])
                             : text[at + i] != marker[i]) {
            return false;
        }
    }
    return true;
}

// Every token that begins at a character start becomes 0x22; everything else is copied.
TextValue ReplaceQuoteTokens(std::string_view marker) {
    TextValue copy;
    copy.reserve(marker.size());
    std::size_t at = 0;
    while (at < marker.size()) {
        if (marker.substr(at, kQuoteToken.size()) == kQuoteToken) {
            copy.push_back('"');
            at += kQuoteToken.size();
            continue;
        }
        const std::size_t width = IsLeadByte(marker[at]) && at + 1 < marker.size() ? 2 : 1;
        copy.append(marker.substr(at, width));
        at += width;
    }
    return copy;
}

}  // namespace

std::int32_t FindText(const TextValue& text, const TextValue& marker, std::int32_t start,
                      bool case_insensitive) {
    const std::string_view bytes = TextBytes(text);
    const std::string_view wanted = TextBytes(marker);
    const std::size_t n = bytes.size();
    const std::size_t b = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (b >= n)
        return -1;
    if (wanted.empty())
        return 1;
    std::size_t at = b;
    while (at < n && n - at >= wanted.size()) {
        if (MatchesAt(bytes, at, wanted, case_insensitive))
            return static_cast<std::int32_t>(at + 1);
        if (IsLeadByte(bytes[at])) {
            if (at + 1 == n)
                break;  // a lone lead byte ends the text
            at += 2;
        } else {
            at += 1;
        }
    }
    return -1;
}

TextValue MidText(const TextValue& text, std::int32_t start, std::int32_t length) {
    const std::string_view bytes = TextBytes(text);
    if (start < 1 || length <= 0 || static_cast<std::size_t>(start) > bytes.size())
        return {};
    return TextValue(
        bytes.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(length)));
}

TextValue ExtractBetween(const TextValue& source, const TextValue& left, const TextValue& right,
                         std::int32_t start, bool case_insensitive) {
    const TextValue left_copy = ReplaceQuoteTokens(TextBytes(left));
    const TextValue right_copy = ReplaceQuoteTokens(TextBytes(right));
    const std::int32_t p = FindText(source, left_copy, start, case_insensitive);
    if (p == -1)
        return {};
    // Widened: a position plus a marker's length need not fit in 32 bits.
    const std::int64_t e = std::int64_t{p} + static_cast<std::int64_t>(left_copy.size());
    if (e > INT32_MAX)
        return {};
    const std::int32_t after_left = static_cast<std::int32_t>(e);
    const std::int32_t q = FindText(source, right_copy, after_left, case_insensitive);
    if (q == -1)
        return {};
    return MidText(source, after_left, q - after_left);
}
