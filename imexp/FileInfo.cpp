// What a file holds, without reading its pixels and without showing anything.

#include <algorithm>
#include <cstring>
#include <string>

#include "ConverterChoice.h"
#include "ConverterLibrary.h"
#include "Formgate.h"
#include "FormgateApp.h"
#include "Utf16.h"

namespace {

template <std::size_t N>
void Terminate(char (&field)[N]) {
    field[N - 1] = '\0';
}

std::string FileTitle(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Fills info from the file's reader; true on success. The title is the
// caller's to write.
bool DescribeFile(CONVIMAGEINFO& info, const std::string& path, const char16_t* widePath) {
    CImExp_FileStream stream;
    const bool opened = widePath ? stream.Open(widePath, CImExp_FileStream::OpenMode::Read)
                                 : stream.Open(path.c_str(), CImExp_FileStream::OpenMode::Read);
    if (!opened)
        return false;
    const auto registry = TheFormgateApp().Registry();
    const int reader = formgate::ChooseReader(*registry, path.c_str(), stream, -1);
    if (reader < 0)
        return false;
    formgate::ConverterLibrary library;
    if (registry->OpenConverter(reader, library) != 0)
        return false;
    const std::string settings = registry->SettingsPath();

    int count = 1;
    if (registry->Record(reader).flags & ImExp::FlagSeveralImages) {
        auto* getCount = FORMGATE_ENTRY(library, RDGetImageCount);
        if (!getCount)
            return false;
        int chooses = 0;
        count = 0;
        const int code = formgate::GuardedCall([&] {
            stream.Seek(0, 0, nullptr);
            return getCount(&stream, settings.c_str(), &count, &chooses);
        });
        if (code != 0 || count < 1)
            return false;
    }
    auto* getInfo = FORMGATE_ENTRY(library, RDGetImageInfo);
    if (!getInfo)
        return false;
    std::memset(&info, 0, sizeof info);
    info.imageCount = static_cast<std::uint16_t>(count > 0xFFFF ? 0xFFFF : count);
    info.imageIndex = 0;
    const int code = formgate::GuardedCall([&] {
        stream.Seek(0, 0, nullptr);
        return getInfo(&stream, 0, settings.c_str(), &info);
    });
    // The converter's strings may come unterminated.
    Terminate(info.fileName);
    Terminate(info.formatName);
    Terminate(info.compression);
    return code == 0;
}

}  // namespace

int ImExp_GetFileInfo(void* info, const char* path, int) {
    try {
        if (!info || !path)
            return 0;
        CONVIMAGEINFO record;
        if (!DescribeFile(record, path, nullptr))
            return 0;
        const std::string title = FileTitle(path);
        std::memset(record.fileName, 0, sizeof record.fileName);
        std::memcpy(record.fileName, title.data(), std::min(title.size(), sizeof record.fileName - 1));
        std::memcpy(info, &record, sizeof record);
        return 1;
    } catch (...) {
        return 0;
    }
}

int ImExp_GetFileInfoW(void* info, const char16_t* path, int) {
    try {
        if (!info || !path)
            return 0;
        const std::string narrow = formgate::Utf8FromUtf16(path);
        CONVIMAGEINFO record;
        if (!DescribeFile(record, narrow, path))
            return 0;
        // The title in 16-bit characters: at most 63 and a NUL in the 128 bytes.
        std::u16string title = formgate::Utf16FromUtf8(FileTitle(narrow));
        constexpr std::size_t kChars = sizeof record.fileName / sizeof(char16_t);
        if (title.size() > kChars - 1)
            title.resize(kChars - 1);
        std::memset(record.fileName, 0, sizeof record.fileName);
        std::memcpy(record.fileName, title.data(), title.size() * sizeof(char16_t));
        std::memcpy(info, &record, sizeof record);
        return 1;
    } catch (...) {
        return 0;
    }
}
