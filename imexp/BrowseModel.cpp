#include "BrowseModel.h"

#include <climits>
#include <filesystem>

#include "Formgate.h"
#include "FormgateApp.h"
#include "IniFile.h"

namespace formgate {

namespace {

constexpr char kSection[] = "Browse";

}  // namespace

BrowseModel::BrowseModel(std::string cachePath, std::string settingsPath)
    : cachePath_(std::move(cachePath)), settingsPath_(std::move(settingsPath)) {
    // A missing or damaged cache starts empty (and is rewritten on close).
    if (!LoadCacheFile(cachePath_, cache_) && std::filesystem::exists(cachePath_))
        changed_ = true;
    Platform::IniFile ini(settingsPath_);
    saveOnExit_ = ini.GetInt(kSection, "SAVEDB", 1) != 0;
}

bool BrowseModel::Readable(const std::string& path) {
    return FindReader(path.c_str(), nullptr) != 0;
}

const CPaletteItem* BrowseModel::Item(const std::string& path, bool make) {
    std::uint32_t low = 0, high = 0;
    const bool timed = FileTime(path, low, high);
    auto it = cache_.find(path);
    if (it != cache_.end() && timed && (it->second.timeLow != low || it->second.timeHigh != high)) {
        cache_.erase(it);
        changed_ = true;
        it = cache_.end();
    }
    if (it != cache_.end())
        return &it->second;
    if (!make)
        return nullptr;
    CPaletteItem item = MakePaletteItem(path);
    item.timeLow = low;
    item.timeHigh = high;
    ++made_;
    changed_ = true;
    // emplace rather than [], which would bind the library to a converter's copy of
    // std::piecewise_construct (see CMakeLists.txt) in unoptimised builds.
    return &cache_.emplace(path, std::move(item)).first->second;
}

void BrowseModel::RefreshAll() {
    for (auto it = cache_.begin(); it != cache_.end();) {
        std::error_code ec;
        if (!std::filesystem::exists(it->first, ec)) {
            it = cache_.erase(it);
            changed_ = true;
        } else {
            ++it;
        }
    }
}

void BrowseModel::DeleteCacheFile() {
    std::error_code ec;
    std::filesystem::remove(cachePath_, ec);
    changed_ = true;
}

bool BrowseModel::SavedRect(int& left, int& top, int& right, int& bottom) const {
    Platform::IniFile ini(settingsPath_);
    left = ini.GetInt(kSection, "Left", INT_MIN);
    top = ini.GetInt(kSection, "Top", INT_MIN);
    right = ini.GetInt(kSection, "Right", INT_MIN);
    bottom = ini.GetInt(kSection, "Bottom", INT_MIN);
    return left != INT_MIN && top != INT_MIN && right > left && bottom > top;
}

void BrowseModel::Close(int left, int top, int right, int bottom) {
    if (changed_ && saveOnExit_)
        SaveCacheFile(cachePath_, cache_);
    changed_ = false;
    Platform::IniFile ini(settingsPath_);
    ini.WriteInt(kSection, "Left", left);
    ini.WriteInt(kSection, "Right", right);
    ini.WriteInt(kSection, "Top", top);
    ini.WriteInt(kSection, "Bottom", bottom);
    ini.WriteInt(kSection, "SAVEDB", saveOnExit_ ? 1 : 0);
}

std::unique_ptr<BrowsePaletteModel> NewBrowseModel() {
    const auto registry = TheFormgateApp().Registry();
    const std::string settings =
        registry->SettingsPath().empty() ? TheFormgateApp().SettingsPath() : registry->SettingsPath();
    return std::make_unique<BrowseModel>(PaletteCachePath(), settings);
}

}  // namespace formgate
