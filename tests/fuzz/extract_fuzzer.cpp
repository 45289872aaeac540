// Fuzzes FindText, MidText and ExtractBetween. Input: source, left and right marker separated by
// zero bytes, then a tail whose first byte's low bit asks for case-insensitive matching and whose
// next four bytes (little-endian) give the start position.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sync/extract.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<std::string_view> SplitAtZeros(std::string_view data, std::size_t parts) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < parts) {
        const std::size_t zero = data.find('\0');
        if (zero == std::string_view::npos)
            break;
        out.push_back(data.substr(0, zero));
        data.remove_prefix(zero + 1);
    }
    out.push_back(data);
    out.resize(parts);
    return out;
}

bool IsLead(char byte) {
    return static_cast<unsigned char>(byte) >= 0x80;
}

char Lower(char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
}

bool MatchAt(std::string_view text, std::size_t at, std::string_view marker, bool fold) {
    if (text.size() - at < marker.size())
        return false;
    for (std::size_t i = 0; i < marker.size(); ++i) {
        const char a = fold ? Lower(text[at + i]) : text[at + i];
        const char b = fold ? Lower(marker[i]) : marker[i];
        if (a != b)
            return false;
    }
    return true;
}

// The character starts of `text` from offset `from` on.
std::vector<std::size_t> CharacterStarts(std::string_view text, std::size_t from) {
    std::vector<std::size_t> starts;
    for (std::size_t at = from; at < text.size(); at += IsLead(text[at]) ? 2 : 1) {
        starts.push_back(at);
    }
    return starts;
}

// Every double quote at a character start written as the quote token instead.
TextValue WithQuoteTokens(std::string_view marker) {
    TextValue out;
    for (std::size_t at = 0; at < marker.size();) {
        const std::size_t width = IsLead(marker[at]) && at + 1 < marker.size() ? 2 : 1;
        if (marker[at] == '"') {
            out += "\x23\xD2\xFD\xBA\xC5";
        } else {
            out.append(marker.substr(at, width));
        }
        at += width;
    }
    return out;
}

void CheckFindText(const TextValue& text, const TextValue& marker, std::int32_t start, bool fold) {
    const std::int32_t found = FindText(text, marker, start, fold);
    const std::size_t n = text.size();
    const std::size_t b = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (marker.empty()) {
        FUZZ_CHECK(found == (b < n ? 1 : -1));
        return;
    }
    // The first character start at or after b where the marker matches, or none.
    std::int32_t expected = -1;
    if (b < n) {
        for (const std::size_t at : CharacterStarts(text, b)) {
            if (MatchAt(text, at, marker, fold)) {
                expected = static_cast<std::int32_t>(at + 1);
                break;
            }
        }
    }
    FUZZ_CHECK(found == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = SplitAtZeros(std::string_view(reinterpret_cast<const char*>(data), size), 4);
    const TextValue source(parts[0]), left(parts[1]), right(parts[2]);
    const std::string_view tail = parts[3];
    const bool fold = !tail.empty() && (static_cast<unsigned char>(tail[0]) & 1) != 0;
    std::uint32_t raw_start = 0;
    for (std::size_t i = 1; i < 5 && i < tail.size(); ++i) {
        raw_start |= static_cast<std::uint32_t>(static_cast<unsigned char>(tail[i]))
                     << (8 * (i - 1));
    }
    const auto start = static_cast<std::int32_t>(raw_start);

    CheckFindText(source, left, start, fold);
    CheckFindText(source, right, start, fold);

    // Any length will do for MidText: the left marker's, less one, reaches zero and below.
    const auto length = static_cast<std::int32_t>(left.size()) - 1;
    const TextValue piece = MidText(source, start, length);
    if (start >= 1 && static_cast<std::size_t>(start) <= source.size() && length > 0) {
        FUZZ_CHECK(piece == source.substr(static_cast<std::size_t>(start) - 1,
                                          static_cast<std::size_t>(length)));
    } else {
        FUZZ_CHECK(piece.empty());
    }

    const TextValue value = ExtractBetween(source, left, right, start, fold);
    FUZZ_CHECK(value.size() <= source.size());
    FUZZ_CHECK(source.find(value) != TextValue::npos);
    const bool has_hash = left.find('#') != TextValue::npos || right.find('#') != TextValue::npos;
    if (!fold && !has_hash && !value.empty()) {
        FUZZ_CHECK(source.find(left + value + right) != TextValue::npos);
    }
    // Writing the markers' double quotes as quote tokens changes nothing.
    FUZZ_CHECK(ExtractBetween(source, WithQuoteTokens(left), WithQuoteTokens(right), start, fold) ==
               value);
    return 0;
}
