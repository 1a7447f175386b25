#pragma once
// The bitmaps of the matching markers: small BMP files with per-pixel alpha,
// premultiplied once at load, kept once per file name for the whole run.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Markers {

struct MarkerBitmap {
    int width = 0;
    int height = 0;
    int bpp = 0;  // 16, 24 or 32
    int stride = 0;
    bool rgb565 = false;             // 16 bits with a 5-6-5 layout (else 5-5-5)
    std::vector<std::uint8_t> bits;  // bottom-up rows; 32 bits: premultiplied B, G, R, A

    // Whether the pixel at x, y (y from the top row) catches the mouse: alpha of
    // 127 or more; a bitmap without alpha is opaque everywhere.
    bool IsHitAt(int x, int yFromTop) const;
};

// Reads a "BM" file of 16, 24 or 32 bits per pixel (uncompressed or with bit
// fields). Null for anything else: a short or damaged file, a header block
// outside 40..1024 bytes, a size outside 1..4096, or top-down rows.
// Only a regular file is read, and none larger than such a bitmap can be.
std::shared_ptr<const MarkerBitmap> LoadPremultipliedBitmap(const std::string& path);
// The same from the file's bytes.
std::shared_ptr<const MarkerBitmap> DecodePremultipliedBitmap(const std::uint8_t* data, std::size_t size);

// The process-wide cache by exact file name; a failed load is not kept, so a
// later marker of the same name tries again. Empty names give null.
std::shared_ptr<const MarkerBitmap> CachedMarkerBitmap(const std::string& path);

}  // namespace Markers
