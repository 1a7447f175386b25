#pragma once
// Conversions between the engine's wide strings and the UTF-8 the file system takes.

#include <string>

namespace Platform {

std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);

}  // namespace Platform
