#include "MarkerBitmap.h"

#include <cstring>
#include <map>
#include <mutex>

#include "FileReading.h"

namespace Markers {

namespace {

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::uint16_t U16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

}  // namespace

bool MarkerBitmap::IsHitAt(int x, int yFromTop) const {
    if (x < 0 || x >= width || yFromTop < 0 || yFromTop >= height)
        return false;
    if (bpp != 32)
        return true;
    const int row = height - 1 - yFromTop;
    return bits[std::size_t(row) * stride + std::size_t(x) * 4 + 3] >= 127;
}

std::shared_ptr<const MarkerBitmap> LoadPremultipliedBitmap(const std::string& path) {
    // The largest accepted bitmap: 4096 x 4096 at 32 bits behind the largest header.
    constexpr std::uint64_t kMaxFileBytes = 14 + 1024 + std::uint64_t(4096) * 4096 * 4;
    std::vector<std::uint8_t> file;
    if (Platform::ReadWholeFile(path, kMaxFileBytes, file) != 0)
        return nullptr;
    return DecodePremultipliedBitmap(file.data(), file.size());
}

std::shared_ptr<const MarkerBitmap> DecodePremultipliedBitmap(const std::uint8_t* file,
                                                              std::size_t fileSize) {
    if (fileSize < 14 || U16(file) != 0x4D42)
        return nullptr;
    const std::int64_t offset = U32(file + 10);
    const std::int64_t infoSize = offset - 14;
    if (infoSize < 40 || infoSize > 1024 || std::uint64_t(offset) > fileSize)
        return nullptr;
    const std::uint8_t* const info = file + 14;
    const std::int32_t width = std::int32_t(U32(&info[4]));
    const std::int32_t height = std::int32_t(U32(&info[8]));
    const int planes = U16(&info[12]);
    const int bpp = U16(&info[14]);
    const std::uint32_t compression = U32(&info[16]);
    if (planes != 1 || (compression != 0 && compression != 3) || (bpp != 16 && bpp != 24 && bpp != 32))
        return nullptr;
    if (width < 1 || width > 4096 || height < 1 || height > 4096)
        return nullptr;
    auto bitmap = std::make_shared<MarkerBitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bpp = bpp;
    bitmap->stride = int((std::int64_t(bpp) * width + 31) / 32 * 4);
    // Bit fields follow the 40-byte block; a 16-bit file with a 6-bit green is 5-6-5.
    if (bpp == 16 && compression == 3 && infoSize >= 52)
        bitmap->rgb565 = U32(&info[44]) == 0x07E0;
    const std::size_t size = std::size_t(bitmap->stride) * std::size_t(height);
    if (size > fileSize - std::size_t(offset))
        return nullptr;
    bitmap->bits.assign(file + offset, file + offset + size);
    if (bpp == 32) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* p = bitmap->bits.data() + std::size_t(y) * bitmap->stride;
            for (int x = 0; x < width; ++x, p += 4)
                for (int c = 0; c < 3; ++c)
                    p[c] = std::uint8_t(p[c] * p[3] / 255);
        }
    }
    return bitmap;
}

std::shared_ptr<const MarkerBitmap> CachedMarkerBitmap(const std::string& path) {
    if (path.empty())
        return nullptr;
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const MarkerBitmap>> cache;
    std::lock_guard lock(mutex);
    if (auto it = cache.find(path); it != cache.end())
        return it->second;
    auto bitmap = LoadPremultipliedBitmap(path);
    if (bitmap)
        cache.emplace(path, bitmap);
    return bitmap;
}

}  // namespace Markers
