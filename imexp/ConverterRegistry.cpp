#include "ConverterRegistry.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "IniFile.h"
#include "ModuleStrings.h"

namespace formgate {

namespace {

// The version a module reports; nothing when it has none or fails to answer.
std::optional<std::uint32_t> VersionOf(const ConverterLibrary& library) {
    auto* getVersion = FORMGATE_ENTRY(library, ConvGetVersion);
    if (!getVersion)
        return std::nullopt;
    int version = 0;
    if (GuardedCall([&] { version = getVersion(); }) != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(version);
}

bool UsableVersion(std::optional<std::uint32_t> version) {
    return version && (*version & ImExp::VersionNumberMask) >= ImExp::VersionMinimum;
}

// The file a path names after resolving links; the path itself when it cannot
// be resolved.
std::string CanonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return std::filesystem::path(path).lexically_normal().string();
}

template <size_t N>
void Terminate(char (&field)[N]) {
    field[N - 1] = '\0';
}

}  // namespace

std::string ConverterRegistry::ResolvePath(const std::string& value, const std::string& moduleFolder) {
    std::filesystem::path p(value);
    if (!value.empty() && value.front() != '/')
        p = std::filesystem::path(moduleFolder) / p;
    return p.lexically_normal().string();
}

void ConverterRegistry::Clear() {
    records_.clear();
}

bool ConverterRegistry::DescribeConverter(const ConverterLibrary& library, const std::string& path,
                                          ConverterRecord& record) const {
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.path, path.data(), path.size());
    int failed = 0;
    if (auto* getInfo = FORMGATE_ENTRY(library, ConvGetDllInfo))
        failed = GuardedCall([&] { getInfo(&record, settingsPath_.c_str()); });
    // The path is ours; the strings are the converter's and may come unterminated.
    std::memset(record.path, 0, sizeof record.path);
    std::memcpy(record.path, path.data(), path.size());
    Terminate(record.name);
    Terminate(record.filterDescription);
    Terminate(record.patterns);
    return failed == 0;
}

int ConverterRegistry::Load(const std::string& settingsPath, const std::string& moduleFolder) {
    try {
        records_.clear();
        problem_.clear();
        settingsPath_ = settingsPath;
        moduleFolder_ = moduleFolder;
        const Platform::IniFile ini(settingsPath);
        const auto entries = ini.Section(ModuleString(IDS_CONVERTERS_SECTION));
        records_.reserve(entries.size());
        std::string passedOver;  // each listed module that is not used, and why
        for (const auto& entry : entries) {
            if (entry.second.empty())
                continue;
            const std::string path = ResolvePath(entry.second, moduleFolder);
            const auto skip = [&](const std::string& why) { passedOver += "\n  " + path + ": " + why; };
            if (path.size() > kMaxPath) {
                skip("path too long");
                continue;
            }
            ConverterLibrary library;
            if (!library.Open(path)) {
                skip("cannot be loaded: " + library.Error());
                continue;
            }
            if (!UsableVersion(VersionOf(library))) {
                skip("no ConvGetVersion reporting version 0x300 or later");
                continue;
            }
            ConverterRecord record;
            if (DescribeConverter(library, path, record))
                records_.push_back(record);
            else
                skip("failed in ConvGetDllInfo");
        }
        records_.shrink_to_fit();
        if (!records_.empty())
            return ImExp::ErrorNone;
        const std::string file = ModuleString(IDS_SETTINGS_FILE);
        std::error_code error;
        if (!std::filesystem::exists(settingsPath, error))
            problem_ = "Formgate: no \"" + file + "\" in " + moduleFolder +
                       ": no image converter is installed (expected " + settingsPath + ")";
        else if (passedOver.empty())
            problem_ = "Formgate: " + settingsPath + " lists no converter in section [" +
                       ModuleString(IDS_CONVERTERS_SECTION) + "]";
        else
            problem_ = "Formgate: no usable converter in " + settingsPath + ":" + passedOver;
        return ImExp::ErrorNoConverter;
    } catch (const std::bad_alloc&) {
        records_.clear();
        return ImExp::ErrorNoMemory;
    }
}

int ConverterRegistry::OpenConverter(int index, ConverterLibrary& library) const {
    if (index < 0 || index >= Count())
        return ImExp::ErrorConverterMissing;
    return library.Open(records_[static_cast<size_t>(index)].path) ? ImExp::ErrorNone
                                                                   : ImExp::ErrorConverterMissing;
}

bool ConverterRegistry::WriteSection() const {
    Platform::IniFile::Entries entries;
    for (size_t i = 0; i < records_.size(); ++i)
        entries.emplace_back(std::to_string(i), records_[i].path);
    Platform::IniFile ini(settingsPath_);
    return ini.ReplaceSection(ModuleString(IDS_CONVERTERS_SECTION), entries);
}

ConverterRegistry::InstallResult ConverterRegistry::Install(int position, const std::string& path) {
    try {
        const std::string full = std::filesystem::absolute(path).lexically_normal().string();
        const std::string canonical = CanonicalPath(full);
        for (const ConverterRecord& record : records_)
            if (CanonicalPath(record.path) == canonical)
                return InstallResult::AlreadyInstalled;
        if (full.size() > kMaxPath)
            return InstallResult::Unusable;

        ConverterLibrary library;
        if (!library.Open(full))
            return InstallResult::Unusable;
        const auto version = VersionOf(library);
        const bool filter = version && (*version & (ImExp::VersionImport | ImExp::VersionExport)) != 0;
        if (!FORMGATE_ENTRY(library, ConvGetDllInfo) || !filter || !UsableVersion(version))
            return InstallResult::Unusable;

        ConverterRecord record;
        if (!DescribeConverter(library, full, record))
            return InstallResult::Unusable;
        if (position < 0 || position > Count())
            position = Count();
        records_.insert(records_.begin() + position, record);
        WriteSection();
        return InstallResult::Installed;
    } catch (const std::bad_alloc&) {
        return InstallResult::NoMemory;
    }
}

bool ConverterRegistry::Remove(int index) {
    if (index < 0 || index >= Count())
        return false;
    records_.erase(records_.begin() + index);
    records_.shrink_to_fit();
    WriteSection();
    return true;
}

bool ConverterRegistry::Redescribe(int index, const ConverterLibrary& library) {
    if (index < 0 || index >= Count())
        return false;
    ConverterRecord record = records_[static_cast<size_t>(index)];
    if (!DescribeConverter(library, record.path, record))
        return false;
    records_[static_cast<size_t>(index)] = record;
    return true;
}

}  // namespace formgate
