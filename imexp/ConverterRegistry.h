#pragma once
// The installed converters: section "Converters" of "CONVERT.INI", one record
// per usable converter module, in the file's order.

#include <string>
#include <vector>

#include "ConverterInterface.h"
#include "ConverterLibrary.h"

namespace formgate {

class ConverterRegistry {
public:
    // Longest module path a record holds, without its terminating NUL. Longer
    // paths are refused rather than cut (a cut path names another file).
    static constexpr size_t kMaxPath = sizeof(ConverterRecord::path) - 1;

    // Drops any previous content and reads the list of settingsPath. Each value
    // names a converter module: as it stands when it begins with '/', else
    // relative to moduleFolder. A module counts when it loads, exports
    // ConvGetVersion and reports version 0x300 or more; its ConvGetDllInfo (if
    // any) then fills its record (a converter that throws there is skipped). Values that are empty, resolve
    // to a path longer than kMaxPath, or name no usable module are skipped. Returns 0, ErrorNoConverter when
    // no converter is usable (the registry is then empty) or ErrorNoMemory.
    int Load(const std::string& settingsPath, const std::string& moduleFolder);
    void Clear();

    // Why the last Load found no usable converter, in words for whoever
    // diagnoses a broken installation: no settings file, a list with no
    // converter, or each listed module with the reason it was passed over.
    // Empty when a converter was found.
    const std::string& Problem() const { return problem_; }

    const std::string& SettingsPath() const { return settingsPath_; }
    const std::string& ModuleFolder() const { return moduleFolder_; }
    int Count() const { return static_cast<int>(records_.size()); }
    const std::vector<ConverterRecord>& Records() const { return records_; }
    // Index between 0 and Count() - 1.
    const ConverterRecord& Record(int index) const { return records_.at(static_cast<size_t>(index)); }

    // Loads converter index for one operation; the library frees it when it
    // goes. 0, or ErrorConverterMissing for a bad index or a module that does
    // not load.
    int OpenConverter(int index, ConverterLibrary& library) const;

    // Rewrites the whole section with the keys "0", "1", ... and the full
    // paths in registry order, in one atomic write; other sections are kept.
    bool WriteSection() const;

    enum class InstallResult { Installed, AlreadyInstalled, Unusable, NoMemory };
    // Installs the module at position (0 to Count(); later records move down)
    // and rewrites the section. It must export ConvGetVersion and
    // ConvGetDllInfo, report version 0x300 or more and be an import or export
    // filter. A module already registered (same file, after resolving links)
    // is refused.
    InstallResult Install(int position, const std::string& path);
    // Removes record index and rewrites the section; false for a bad index.
    // (Install and Remove keep their change in memory when the settings file
    // cannot be written, as in a read-only installation.)
    bool Remove(int index);
    // Fills record index again from its loaded module (after the converter's
    // own set-up changed it); false for a bad index or a converter that failed.
    bool Redescribe(int index, const ConverterLibrary& library);

    // The full path a list value stands for.
    static std::string ResolvePath(const std::string& value, const std::string& moduleFolder);

private:
    // Fills a record from a loaded module: path, then ConvGetDllInfo, then every
    // string the converter wrote is cut to its field. False when the converter
    // failed with an exception: such a record is not used.
    bool DescribeConverter(const ConverterLibrary& library, const std::string& path,
                           ConverterRecord& record) const;

    std::string settingsPath_;
    std::string moduleFolder_;
    std::vector<ConverterRecord> records_;
    std::string problem_;
};

}  // namespace formgate
