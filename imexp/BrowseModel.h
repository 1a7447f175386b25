#pragma once
// The browse palette's model in the library: readability through the
// converters, thumbnails through the read pipeline, the cache file and the
// [Browse] settings of "CONVERT.INI".

#include <memory>

#include "PaletteCache.h"
#include "UiHost.h"

namespace formgate {

class BrowseModel : public BrowsePaletteModel {
public:
    // cachePath: the cache file; settingsPath: "CONVERT.INI".
    BrowseModel(std::string cachePath, std::string settingsPath);

    bool Readable(const std::string& path) override;
    const CPaletteItem* Item(const std::string& path, bool make) override;
    bool SaveOnExit() const override { return saveOnExit_; }
    void SetSaveOnExit(bool save) override { saveOnExit_ = save; }
    void RefreshAll() override;
    void DeleteCacheFile() override;
    bool SavedRect(int& left, int& top, int& right, int& bottom) const override;
    void Close(int left, int top, int right, int bottom) override;

    const PaletteCache& Cache() const { return cache_; }
    int ItemsMade() const { return made_; }

private:
    std::string cachePath_;
    std::string settingsPath_;
    PaletteCache cache_;
    bool saveOnExit_ = true;
    bool changed_ = false;
    int made_ = 0;
};

// The model for the library's open dialog: the user's cache file and the
// library's settings file.
std::unique_ptr<BrowsePaletteModel> NewBrowseModel();

}  // namespace formgate
