#include "FileDialogs.h"

#include <cstring>

#include "BrowseModel.h"
#include "ConverterChoice.h"
#include "ErrorReporter.h"
#include "FormgateApp.h"
#include "ImageInfo.h"
#include "IniFile.h"
#include "ModuleStrings.h"
#include "Utf16.h"

namespace formgate {

namespace {

std::string SettingsFile(const ConverterRegistry& registry) {
    return registry.SettingsPath().empty() ? TheFormgateApp().SettingsPath() : registry.SettingsPath();
}

std::string Setting(const ConverterRegistry& registry, const char* key) {
    Platform::IniFile ini(SettingsFile(registry));
    return ini.GetString(ModuleString(IDS_SETTINGS_SECTION), key);
}

void StoreSetting(const ConverterRegistry& registry, const char* key, const std::string& value) {
    Platform::IniFile ini(SettingsFile(registry));
    ini.WriteString(ModuleString(IDS_SETTINGS_SECTION), key, value);
}

// The index (into indices) of the first converter whose patterns match path,
// else of the one named name; -1 for none.
int MatchingEntry(const ConverterRegistry& registry, const std::vector<int>& indices, const std::string& path,
                  const std::string& name) {
    if (!path.empty()) {
        for (size_t i = 0; i < indices.size(); ++i)
            if (ExtensionMatches(path.c_str(), registry.Record(indices[i]).patterns))
                return static_cast<int>(i);
    }
    if (!name.empty()) {
        for (size_t i = 0; i < indices.size(); ++i)
            if (name == registry.Record(indices[i]).name)
                return static_cast<int>(i);
    }
    return -1;
}

bool FitsCaller(const std::string& path, bool wide) {
    const size_t length = wide ? Utf16FromUtf8(path).size() : path.size();
    return length < kDialogPathCapacity;
}

UiHost* DialogHost() {
    UiHost* host = TheFormgateApp().Host();
    return host && host->CanShowDialogs() ? host : nullptr;
}

}  // namespace

std::vector<FileDialogFilter> OpenFilters(const ConverterRegistry& registry, std::vector<int>& readers,
                                          bool video) {
    std::vector<FileDialogFilter> filters;
    readers.clear();
    std::string all;
    for (int i = 0; i < registry.Count(); ++i) {
        const ConverterRecord& record = registry.Record(i);
        if (!(record.flags & ImExp::FlagRead))
            continue;
        readers.push_back(i);
        filters.push_back({record.filterDescription, record.patterns});
        all += record.patterns;
        all += ';';
    }
    if (video)
        filters.push_back({ModuleString(IDS_AVI_FILTER), ModuleString(IDS_AVI_PATTERN)});
    filters.push_back({ModuleString(IDS_ALL_GRAPHIC_FILES), all});
    return filters;
}

int InitialOpenFilter(const ConverterRegistry& registry, const std::vector<int>& readers,
                      const std::string& path, const std::string& openFormat, int allEntry) {
    const int match = MatchingEntry(registry, readers, path, openFormat);
    if (match >= 0)
        return match;
    // A remembered name that no reader has any more leaves the first entry.
    return openFormat.empty() ? allEntry : 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string SaveName(const std::string& path, const std::string& writerPatterns) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name.find('.') != std::string::npos)
        return path;
    const std::string first = writerPatterns.substr(0, writerPatterns.find(';'));
    const size_t dot = first.rfind('.');
    if (dot == std::string::npos)
        return path;
    std::string extension = first.substr(dot);
    // A wildcard pattern (".tif*") gives its fixed part.
    extension = extension.substr(0, extension.find_first_of("*?"));
    return extension.size() > 1 ? path + extension : path;
}

std::vector<int> SaveWriters(const ConverterRegistry& registry, int pixelType) {
    std::vector<int> writers;
    const std::uint32_t mask = SaveListMask(pixelType);
    for (int i = 0; i < registry.Count() && mask; ++i) {
        const ConverterRecord& record = registry.Record(i);
        if ((record.flags & ImExp::FlagWrite) && (record.subformatMask & mask))
            writers.push_back(i);
    }
    return writers;
}

int RunOpenDialog(void* owner, std::string& path, const OpenDialogOptions& options) {
    const auto registry = TheFormgateApp().Registry();
    std::vector<int> readers;
    auto filters = OpenFilters(*registry, readers, options.video);
    if (readers.empty()) {
        ReportError(owner, ImExp::ErrorNoConverter, nullptr, nullptr);
        return 0;
    }
    UiHost* host = DialogHost();
    if (!host)
        return 0;
    const int allEntry = static_cast<int>(filters.size()) - 1;
    OpenDialogRequest request;
    request.filters = std::move(filters);
    request.initialFilter = InitialOpenFilter(*registry, readers, options.matchPath ? path : std::string(),
                                              Setting(*registry, "OpenFormat"), allEntry);
    request.directory = Setting(*registry, "OpenDir");
    request.fileName = path;
    request.extraButtons = options.extraButtons;
    request.showInfo = [](void* dialog, const std::string& file) { ShowFileInfo(dialog, file, nullptr, -1); };
    request.browse = [] { return NewBrowseModel(); };
    const int shown = host->RunOpenDialog(owner, request);
    if (shown < 0)
        return 0;
    if (shown == 0 || request.chosenPath.empty())
        return 2;
    if (options.limitPath && !FitsCaller(request.chosenPath, options.wide)) {
        ReportError(owner, ImExp::ErrorCannotOpen, request.chosenPath.c_str(), nullptr);
        return 0;
    }
    const int chosen = request.chosenFilter;
    const bool reader = chosen >= 0 && chosen < static_cast<int>(readers.size());
    StoreSetting(*registry, "OpenDir", FolderOf(request.chosenPath));
    StoreSetting(*registry, "OpenFormat",
                 reader ? registry->Record(readers[static_cast<size_t>(chosen)]).name : "");
    path = request.chosenPath;
    return 1;
}

int SelectFileToWrite(void* owner, int pixelType, std::string& path, bool wide) {
    if (SaveListMask(pixelType) == 0)
        return 0;
    const auto registry = TheFormgateApp().Registry();
    const std::vector<int> writers = SaveWriters(*registry, pixelType);
    if (writers.empty()) {
        ReportError(owner, ImExp::ErrorNoWriter, nullptr, nullptr);
        return 0;
    }
    UiHost* host = DialogHost();
    if (!host)
        return 0;
    SaveDialogRequest request;
    for (int index : writers)
        request.filters.push_back(
            {registry->Record(index).filterDescription, registry->Record(index).patterns});
    const int initial = MatchingEntry(*registry, writers, path, Setting(*registry, "SaveFormat"));
    request.initialFilter = initial < 0 ? 0 : initial;
    request.directory = Setting(*registry, "SaveDir");
    request.fileName = path;
    auto patternsOf = [&](int filter) -> std::string {
        if (filter < 0 || filter >= static_cast<int>(writers.size()))
            return {};
        return registry->Record(writers[static_cast<size_t>(filter)]).patterns;
    };
    request.finalName = [&](const std::string& typed, int filter) {
        return SaveName(typed, patternsOf(filter));
    };
    if (host->RunSaveDialog(owner, request) != 1 || request.chosenPath.empty())
        return 0;
    const std::string chosen = SaveName(request.chosenPath, patternsOf(request.chosenFilter));
    if (!FitsCaller(chosen, wide)) {
        ReportError(owner, ImExp::ErrorCannotOpen, chosen.c_str(), nullptr);
        return 0;
    }
    StoreSetting(*registry, "SaveDir", FolderOf(chosen));
    if (request.chosenFilter >= 0 && request.chosenFilter < static_cast<int>(writers.size()))
        StoreSetting(*registry, "SaveFormat",
                     registry->Record(writers[static_cast<size_t>(request.chosenFilter)]).name);
    path = chosen;
    return 1;
}

}  // namespace formgate

namespace {

// Copies a chosen path into the caller's buffer, which holds kDialogPathCapacity characters.
void CopyOut(const std::string& path, char* buffer) {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
}

void CopyOut(const std::string& path, char16_t* buffer) {
    const std::u16string wide = formgate::Utf16FromUtf8(path);
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
}

std::string In(const char* path) {
    return path ? path : "";
}

std::string In(const char16_t* path) {
    return path ? formgate::Utf8FromUtf16(path) : std::string();
}

template <class Char>
int SelectToRead(void* owner, Char* path, bool extraButtons) {
    try {
        if (!path)
            return 0;
        std::string chosen = In(path);
        formgate::OpenDialogOptions options;
        options.extraButtons = extraButtons;
        options.wide = sizeof(Char) == 2;
        if (formgate::RunOpenDialog(owner, chosen, options) != 1)
            return 0;
        CopyOut(chosen, path);
        return 1;
    } catch (...) {
        return 0;
    }
}

template <class Char>
int SelectToWrite(void* owner, int pixelType, Char* path) {
    try {
        if (!path)
            return 0;
        std::string chosen = In(path);
        if (formgate::SelectFileToWrite(owner, pixelType, chosen, sizeof(Char) == 2) != 1)
            return 0;
        CopyOut(chosen, path);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SourceType(const CAbstractWriteWA* source) {
    int type = 0;
    if (!source || const_cast<CAbstractWriteWA*>(source)->GetFormat(0, 0, &type) != 0)
        return 0;
    return type;
}

}  // namespace

int ImExp_SelectFileToRead(void* owner, char* path) {
    return SelectToRead(owner, path, true);
}

int ImExp_SelectFileToReadW(void* owner, char16_t* path) {
    return SelectToRead(owner, path, true);
}

int ImExp_SelectFileToReadNoTemplate(void* owner, char* path) {
    return SelectToRead(owner, path, false);
}

int ImExp_SelectFileToReadNoTemplate(void* owner, char16_t* path) {
    return SelectToRead(owner, path, false);
}

int ImExp_SelectFileToWrite(void* owner, int pixelType, char* path) {
    return SelectToWrite(owner, pixelType, path);
}

int ImExp_SelectFileToWriteW(void* owner, int pixelType, char16_t* path) {
    return SelectToWrite(owner, pixelType, path);
}

int ImExp_SelectFileAndRead(CAbstractReadWA* sink, void* owner, char* path, int acceptedTypes,
                            CProgress* progress, char** options, int optionCount) {
    if (!SelectToRead(owner, path, true))
        return 0;
    return ImExp_ReadFile(sink, owner, path, acceptedTypes, progress, options, optionCount);
}

int ImExp_SelectFileAndReadW(CAbstractReadWA* sink, void* owner, char16_t* path, int acceptedTypes,
                             CProgress* progress, char** options, int optionCount) {
    if (!SelectToRead(owner, path, true))
        return 0;
    return ImExp_ReadFileW(sink, owner, path, acceptedTypes, progress, options, optionCount);
}

int ImExp_SelectFileAndWrite(const CAbstractWriteWA* source, void* owner, char* path, int* pixelType,
                             CProgress* progress, char** options, int optionCount) {
    if (pixelType)
        *pixelType = 0;
    if (!SelectToWrite(owner, SourceType(source), path))
        return 0;
    return ImExp_WriteFile(source, owner, path, pixelType, progress, options, optionCount);
}

int ImExp_SelectFileAndWriteW(const CAbstractWriteWA* source, void* owner, char16_t* path, int* pixelType,
                              CProgress* progress, char** options, int optionCount) {
    if (pixelType)
        *pixelType = 0;
    if (!SelectToWrite(owner, SourceType(source), path))
        return 0;
    return ImExp_WriteFileW(source, owner, path, pixelType, progress, options, optionCount);
}
