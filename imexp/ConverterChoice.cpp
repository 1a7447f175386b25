#include "ConverterChoice.h"

#include <cctype>
#include <cstring>
#include <string>

#include <strings.h>

#include "Formgate.h"
#include "FormgateApp.h"

namespace formgate {

namespace {

int Upper(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}

// One pattern (from its first '.') against a whole extension (from its '.').
bool PatternMatches(const char* pattern, std::size_t length, const char* extension) {
    const char* p = static_cast<const char*>(std::memchr(pattern, '.', length));
    if (!p)
        return false;
    const char* end = pattern + length;
    const char* e = extension;
    for (; p < end; ++p, ++e) {
        if (*p == '*')
            return true;
        if (*e == '\0')
            return false;
        if (*p != '?' && Upper(*p) != Upper(*e))
            return false;
    }
    return *e == '\0';
}

}  // namespace

bool ExtensionMatches(const char* path, const char* patterns) {
    if (!path || !patterns)
        return false;
    const char* dot = std::strrchr(path, '.');
    const char* slash = std::strrchr(path, '/');
    if (!dot || (slash && slash > dot))
        return false;
    const char* start = patterns;
    while (true) {
        const char* stop = std::strchr(start, ';');
        const std::size_t length = stop ? static_cast<std::size_t>(stop - start) : std::strlen(start);
        if (PatternMatches(start, length, dot))
            return true;
        if (!stop)
            return false;
        start = stop + 1;
    }
}

std::uint32_t WriterMask(int pixelType) {
    switch (pixelType) {
        case ImExp::PixelBilevel:
            return 0x3F1;
        case ImExp::PixelPalette16:
            return 0x3F0;
        case ImExp::PixelPalette256:
        case ImExp::PixelGrey8:
            return 0x3E0;
        case ImExp::PixelRgb24:
            return 0x380;
        case ImExp::PixelGrey16:
            return 0x18000;
        case ImExp::PixelRgb48:
            return 0x10000;
        default:
            return 0;
    }
}

std::uint32_t SaveListMask(int pixelType) {
    return pixelType == ImExp::PixelGrey8 ? 0x3EC : WriterMask(pixelType);
}

bool ContentCheckPasses(const ConverterRegistry& registry, int index, IOStream& stream) {
    if (index < 0 || index >= registry.Count())
        return false;
    const ConverterRecord& record = registry.Record(index);
    if (!(record.flags & ImExp::FlagCheckFile))
        return true;
    ConverterLibrary library;
    if (registry.OpenConverter(index, library) != 0)
        return false;
    auto* check = FORMGATE_ENTRY(library, RDCheckFile);
    if (!check)
        return false;
    const std::string settings = registry.SettingsPath();
    int answer = 0;
    // Each converter looks at the file from its start, whatever the one before did.
    const int failed = GuardedCall([&] {
        stream.Seek(0, 0, nullptr);
        answer = check(&stream, settings.c_str());
    });
    return failed == 0 && answer != 0;
}

int ChooseReader(const ConverterRegistry& registry, const char* path, IOStream& stream, int preferred) {
    const int count = registry.Count();
    if (count == 0)
        return -1;
    // A preferred converter must be a reader to read.
    if (preferred >= 0 && preferred < count && (registry.Record(preferred).flags & ImExp::FlagRead) &&
        ContentCheckPasses(registry, preferred, stream))
        return preferred;
    bool matchedByName = false;
    for (int i = 0; i < count; ++i) {
        const ConverterRecord& record = registry.Record(i);
        if (!(record.flags & ImExp::FlagRead) || !ExtensionMatches(path, record.patterns))
            continue;
        if (i != preferred && ContentCheckPasses(registry, i, stream))
            return i;
        matchedByName = true;
    }
    if (matchedByName)
        return -1;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t flags = registry.Record(i).flags;
        if ((flags & ImExp::FlagRead) && (flags & ImExp::FlagCheckFile) && i != preferred &&
            ContentCheckPasses(registry, i, stream))
            return i;
    }
    return -1;
}

int ChooseWriter(const ConverterRegistry& registry, std::uint32_t mask, const char* path) {
    for (int i = 0; i < registry.Count(); ++i) {
        const ConverterRecord& record = registry.Record(i);
        if ((record.flags & ImExp::FlagWrite) && (record.subformatMask & mask) &&
            ExtensionMatches(path, record.patterns))
            return i;
    }
    return -1;
}

}  // namespace formgate

int FindReader(const char* path, char* converterName) {
    try {
        if (!path)
            return 0;
        CImExp_FileStream stream;
        if (!stream.Open(path, CImExp_FileStream::OpenMode::Read))
            return 0;
        const auto registry = TheFormgateApp().Registry();
        int preferred = -1;
        if (converterName) {
            for (int i = 0; i < registry->Count() && preferred < 0; ++i)
                if (::strcasecmp(registry->Record(i).name, converterName) == 0)
                    preferred = i;
        }
        const int chosen = formgate::ChooseReader(*registry, path, stream, preferred);
        if (chosen < 0)
            return 0;
        // Names are at most 127 characters and a NUL (the registry terminates them).
        if (converterName)
            std::strcpy(converterName, registry->Record(chosen).name);
        return 1;
    } catch (...) {
        return 0;
    }
}

int FindWriter(CAbstractWriteWA* source, const char* path) {
    try {
        std::uint32_t mask = 0xFFFFFFFFu;
        if (source) {
            int type = 0;
            if (source->GetFormat(0, 0, &type) != 0)
                return 0;
            if (type == ImExp::PixelPalette16 || type == ImExp::PixelPalette256) {
                unsigned char palette[256 * 4] = {};
                source->GetPalette(0, 0, palette);
            }
            mask = formgate::WriterMask(type);
            if (mask == 0)
                return 0;
        }
        const auto registry = TheFormgateApp().Registry();
        return formgate::ChooseWriter(*registry, mask, path) >= 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
