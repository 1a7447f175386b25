#include "Utf16.h"

#include "TextCodec.h"

namespace formgate {

std::string Utf8FromUtf16(const char16_t* text) {
    std::string out;
    if (!text)
        return out;
    for (const char16_t* p = text; *p; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        }
        // An unpaired surrogate goes in as U+FFFD.
        Platform::AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf16FromUtf8(const std::string& text) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        char32_t c = *p;
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || end - p <= extra) {
            out += u'\uFFFD';
            ++p;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        bool valid = true;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                valid = false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++p;
            continue;
        }
        p += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace formgate
