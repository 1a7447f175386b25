#pragma once
// The browse palette's thumbnails and the cache file that keeps them from one
// run to the next ("QXBRWS.TMP" in the user's cache folder). The module's
// own class: it lives in the library's namespace and is never exported, so it
// cannot clash with the photo browser's class of the same name.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace formgate {

// One file's thumbnail: its last-write time when it was made, and a packed
// bottom-up 24-bit DIB (40-byte header, rows padded to 4 bytes); no DIB for a
// file that could not be read (drawn as a red cross).
class CPaletteItem {
public:
    static constexpr int kThumbWidth = 120;
    static constexpr int kThumbHeight = 90;
    static constexpr int kCellWidth = 140;
    static constexpr int kCellHeight = 120;

    std::uint32_t timeLow = 0;
    std::uint32_t timeHigh = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> dib;  // empty, or DibSize(width, height) bytes
    bool selected = false;

    bool HasDib() const { return !dib.empty(); }
    static std::size_t Stride(int width) { return (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4; }
    static std::size_t DibSize(int width, int height) {
        return Stride(width) * static_cast<std::size_t>(height) + 40;
    }

    bool operator==(const CPaletteItem& other) const {
        return timeLow == other.timeLow && timeHigh == other.timeHigh && width == other.width &&
               height == other.height && dib == other.dib;
    }
};

using PaletteCache = std::map<std::string, CPaletteItem>;

// The thumbnail size of an image: its aspect within 120 x 90, each side at least 1.
void ThumbnailSize(int width, int height, int& thumbWidth, int& thumbHeight);

// The index of the cell under (x, y) of a client area clientWidth wide,
// scrolled by scrollRow rows; -1 outside the columns. (Inline: the palette's
// window, in the companion library, asks it too.)
inline int PaletteHitTest(int x, int y, int clientWidth, int scrollRow) {
    const int columns =
        clientWidth / CPaletteItem::kCellWidth > 1 ? clientWidth / CPaletteItem::kCellWidth : 1;
    if (x < 0 || y < 0 || x / CPaletteItem::kCellWidth >= columns)
        return -1;
    const int row = (y + scrollRow * CPaletteItem::kCellHeight) / CPaletteItem::kCellHeight;
    return row * columns + x / CPaletteItem::kCellWidth;
}

// The cache in the archive layout: the map's count, then per entry the path
// and the item (class record "CPaletteItem", schema 1, on its first use).
std::vector<std::uint8_t> SaveCache(const PaletteCache& cache);
// Reads what SaveCache wrote. Anything damaged, short, or describing a
// thumbnail larger than 120 x 90 gives false and an empty cache.
bool LoadCache(const std::uint8_t* data, std::size_t size, PaletteCache& cache);

// The cache file: "QXBRWS.TMP" in the user's cache folder.
std::string PaletteCachePath();
bool LoadCacheFile(const std::string& path, PaletteCache& cache);
// Through a temporary file renamed over the old one; never through a link.
bool SaveCacheFile(const std::string& path, const PaletteCache& cache);

// A file's last-write time in the cache's two words (100 ns units since 1601).
bool FileTime(const std::string& path, std::uint32_t& low, std::uint32_t& high);

// Reads the file through the library and makes its thumbnail; an item without
// DIB when it cannot be read. The time is the caller's to set.
CPaletteItem MakePaletteItem(const std::string& path);

}  // namespace formgate
