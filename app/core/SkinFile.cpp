#include "SkinFile.h"

#include <cctype>
#include <cstdint>

#include "IniFile.h"

namespace {

// One "%i" conversion: blanks, an optional sign, then a decimal, 0-octal or
// 0x-hexadecimal number. Wraps like a 32-bit int instead of overflowing.
bool ScanInt(std::string_view text, size_t& pos, bool anyBase, uint32_t& out) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    unsigned base = 10;
    if (anyBase && pos < text.size() && text[pos] == '0') {
        base = 8;
        if (pos + 2 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(text[pos + 2]))) {
            base = 16;
            pos += 2;
        }
    }
    uint32_t value = 0;
    size_t digits = 0;
    for (; pos < text.size(); ++pos, ++digits) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (d >= base)
            break;
        value = value * base + d;
    }
    if (digits == 0)
        return false;
    out = negative ? 0u - value : value;
    return true;
}

bool ScanThree(std::string_view text, bool anyBase, bool blankAfterComma, SkinRgb& out) {
    uint32_t v[3];
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return false;
            ++pos;
            (void)blankAfterComma;  // blanks are skipped by the number scan either way
        }
        if (!ScanInt(text, pos, anyBase, v[i]))
            return false;
    }
    out = {static_cast<uint8_t>(v[0] & 0xff), static_cast<uint8_t>(v[1] & 0xff),
           static_cast<uint8_t>(v[2] & 0xff)};
    return true;
}

}  // namespace

std::string CSkinFile::GetSkinString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    std::string value;
    if (path_.empty()) {
        value = std::string(defaultValue);
    } else {
        const Platform::IniFile ini(path_);
        value = ini.GetString(section, key, defaultValue);
    }
    if (value.size() > kMaxValue)
        value.resize(kMaxValue);
    return value;
}

SkinRgb CSkinFile::GetSkinColor(std::string_view section, std::string_view key, SkinRgb defaultValue) const {
    const std::string text = GetSkinString(section, key);
    SkinRgb rgb;
    if (!text.empty() && ParseColor(text, rgb))
        return rgb;
    return defaultValue;
}

std::string CSkinFile::GetSkinImagePath(std::string_view resFolder, std::string_view section,
                                        std::string_view key) const {
    const std::string name = GetSkinString(section, key);
    if (name.empty())
        return {};
    return std::string(resFolder) + name;
}

bool CSkinFile::ParseColor(std::string_view text, SkinRgb& out) {
    return ScanThree(text, true, false, out);
}

SkinRgb CSkinFile::ParseBrowserColor(std::string_view text, std::string_view defaultText) {
    SkinRgb rgb;
    if (ScanThree(text, false, true, rgb))
        return rgb;
    ScanThree(defaultText, false, true, rgb);
    return rgb;
}

void AddTrailingBackslash(std::string& path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
}

void RemoveTrailingBackslash(std::string& path) {
    if (!path.empty() && path.back() == '/')
        path.pop_back();
}
