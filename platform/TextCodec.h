#pragma once
// Conversions between the engine's wide strings and the UTF-8 the file system takes.

#include <string>

namespace Platform {

// Appends the UTF-8 form of one code point; a surrogate or a value beyond
// U+10FFFF goes in as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);

}  // namespace Platform
