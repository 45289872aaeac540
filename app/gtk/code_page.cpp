// Code page 936 and UTF-8, both ways, through iconv.
#include "app/gtk/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <memory>

namespace {

// glibc's name for the code page, with 0x80 as the euro sign.
constexpr const char* kCodePage = "CP936";

struct IconvCloser {
    void operator()(void* descriptor) const { iconv_close(static_cast<iconv_t>(descriptor)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

Converter OpenConverter(const char* to, const char* from) {
    iconv_t descriptor = iconv_open(to, from);
    if (descriptor == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return Converter(descriptor);
}

// Bytes of the UTF-8 sequence that starts with lead, or 1 for a byte that starts none.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 1;
}

// Runs the whole input through the converter; at every sequence it cannot convert, appends
// substitute and asks skip how many input bytes to pass over.
template <typename Skip>
std::string Convert(iconv_t descriptor, const std::string& input, const char* substitute,
                    Skip skip) {
    std::string output;
    output.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    char chunk[256];
    while (in_left > 0) {
        char* out = chunk;
        std::size_t out_left = sizeof chunk;
        std::size_t result = iconv(descriptor, &in, &in_left, &out, &out_left);
        output.append(chunk, static_cast<std::size_t>(out - chunk));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ (no such character) or EINVAL (cut short at the end): replace and go on.
        output += substitute;
        std::size_t step = skip(static_cast<unsigned char>(*in));
        if (step > in_left)
            step = in_left;
        in += step;
        in_left -= step;
    }
    return output;
}

}  // namespace

std::string Utf8From936(const TextValue& text) {
    Converter converter = OpenConverter("UTF-8", kCodePage);
    if (!converter)
        return {};
    return Convert(static_cast<iconv_t>(converter.get()), text, "\xEF\xBF\xBD",
                   [](unsigned char) { return std::size_t{1}; });
}

TextValue TextFromUtf8(const std::string& text) {
    Converter converter = OpenConverter(kCodePage, "UTF-8");
    if (!converter)
        return {};
    return Convert(static_cast<iconv_t>(converter.get()), text, "?", Utf8SequenceLength);
}
