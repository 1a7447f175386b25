// The format lists callers build their file dialogs from: pairs of
// NUL-terminated strings, a converter's filter description and its extension
// patterns, in registry order, closed by an empty string.

#include <algorithm>
#include <cstdint>
#include <string>

#include "ConverterChoice.h"
#include "Formgate.h"
#include "FormgateApp.h"
#include "Utf16.h"

namespace {

template <class String>
String Text(const char* text);

template <>
std::string Text<std::string>(const char* text) {
    return text;
}

template <>
std::u16string Text<std::u16string>(const char* text) {
    return formgate::Utf16FromUtf8(text);
}

// With a null buffer or size 0: the characters needed (one for the closing
// empty string, plus each pair with its two NULs). Else the pairs that fit
// whole, in order up to the first that does not, then the closing NUL; the
// number of pairs written.
template <class Char>
int FillList(Char* buffer, unsigned size, std::uint32_t flag, std::uint32_t mask) {
    using String = std::basic_string<Char>;
    const auto registry = TheFormgateApp().Registry();
    const bool measure = !buffer || size == 0;
    std::uint64_t total = 1;
    int pairs = 0;
    Char* out = buffer;
    for (const ConverterRecord& record : registry->Records()) {
        if (!(record.flags & flag) || (mask && !(record.subformatMask & mask)))
            continue;
        const String description = Text<String>(record.filterDescription);
        const String patterns = Text<String>(record.patterns);
        const std::uint64_t pair = description.size() + patterns.size() + 2;
        if (!measure && total + pair > size)
            break;
        total += pair;
        if (measure)
            continue;
        for (const String* s : {&description, &patterns}) {
            out = std::copy(s->begin(), s->end(), out);
            *out++ = Char(0);
        }
        ++pairs;
    }
    if (measure)
        return static_cast<int>(total);
    *out = Char(0);
    return pairs;
}

template <class Char>
int FillSaveEx(Char* buffer, unsigned size, int pixelType) {
    const std::uint32_t mask = formgate::SaveListMask(pixelType);
    if (mask == 0)
        return 0;
    return FillList(buffer, size, ImExp::FlagWrite, mask);
}

template <class Function>
int Guarded(Function&& function) {
    try {
        return function();
    } catch (...) {
        return 0;
    }
}

}  // namespace

int ImExp_FillReadFormatsInfo(char* buffer, unsigned size) {
    return Guarded([&] { return FillList(buffer, size, ImExp::FlagRead, 0); });
}

int ImExp_FillReadFormatsInfoW(char16_t* buffer, unsigned size) {
    return Guarded([&] { return FillList(buffer, size, ImExp::FlagRead, 0); });
}

int ImExp_FillSaveFormatsInfo(char* buffer, unsigned size) {
    return Guarded([&] { return FillList(buffer, size, ImExp::FlagWrite, 0); });
}

int ImExp_FillSaveFormatsInfoW(char16_t* buffer, unsigned size) {
    return Guarded([&] { return FillList(buffer, size, ImExp::FlagWrite, 0); });
}

int ImExp_FillSaveFormatsInfoEx(char* buffer, unsigned size, int pixelType) {
    return Guarded([&] { return FillSaveEx(buffer, size, pixelType); });
}

int ImExp_FillSaveFormatsInfoExW(char16_t* buffer, unsigned size, int pixelType) {
    return Guarded([&] { return FillSaveEx(buffer, size, pixelType); });
}
