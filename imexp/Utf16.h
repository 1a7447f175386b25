#pragma once
// UTF-16 names of the W exports, turned into the UTF-8 the file system takes.

#include <string>

namespace formgate {

// Unpaired surrogates become U+FFFD; a null pointer gives an empty string.
std::string Utf8FromUtf16(const char16_t* text);

// Invalid UTF-8 bytes become U+FFFD each.
std::u16string Utf16FromUtf8(const std::string& text);

}  // namespace formgate
