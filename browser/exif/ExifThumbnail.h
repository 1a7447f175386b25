#pragma once
// The small preview pictures that cameras store inside JPEG, TIFF and DNG
// files, fitted to a box and returned as a packed 24-bit bottom-up bitmap
// (40-byte header, 2835 pixels per metre, BGR rows of 4-byte stride).
//
// Damaged headers and directories raise CFileException with the generic
// cause (1, OS error -1); a preview that cannot be used gives null.

#include <cstdint>
#include <memory>
#include <string>

#include "CFile.h"

// A width and height: the largest size wanted, then the size produced.
struct ThumbBox {
    uint32_t cx = 0;
    uint32_t cy = 0;
};

using PackedDib = std::unique_ptr<uint8_t[]>;

// ".JPG" only. fromMakerNote becomes 1 when the preview came from the maker note.
PackedDib ExtractExifThumbnail(const std::string& path, ThumbBox& box, uint32_t& mainWidth,
                               uint32_t& mainHeight, int& fromMakerNote);
// ".TIF" and ".DNG" only; flag is set to 0.
PackedDib ExtractTiffThumbnail(const std::string& path, ThumbBox& box, uint32_t& mainWidth,
                               uint32_t& mainHeight, int& flag);

// Offset of the EXIF APP1 segment's length field, or 0; width and height come
// from the frame header that follows it.
uint64_t FindExifSegment(const std::string& path, uint32_t& width, uint32_t& height);

// The size a w x h picture takes in a box, keeping its shape (at least 1 x 1).
ThumbBox FitToBox(const ThumbBox& box, uint32_t w, uint32_t h);

// Previews larger than this are refused before anything is allocated for
// them: cameras store a few hundred kilopixels, and a forged frame header
// could declare 4 gigapixels.
constexpr uint64_t kMaxPreviewPixels = 40'000'000;
