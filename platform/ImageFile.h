#pragma once
// Reading and writing of image files for the engine's pixel buffers, on
// libjpeg-turbo, libpng, libtiff and our own BMP code. No Qt here: the engine
// must stay free of it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Platform {

// Outcome of an image-file operation; callers map each to their own text.
enum class ImageFileStatus {
    Ok,
    OutOfMemory,
    FileNotFound,
    AccessDenied,
    UnknownImageFormat,  // no encoder for the requested extension
    Unsupported,         // not a readable 3-channel, 8-bit-per-channel colour file
    Other,
};

enum class ImageFileFormat { Bmp, Jpeg, Png, Tiff };

// The encoder for a path's extension, compared without regard to case:
// ".bmp", ".jpg"/".jpeg", ".png", ".tif"/".tiff"; nothing for any other.
std::optional<ImageFileFormat> FormatFromExtension(const std::string& path);

// Receives a decoded picture: Allocate once, then each row is filled in.
class IRgbSink {
public:
    virtual ~IRgbSink() = default;
    // False when the memory cannot be had.
    virtual bool Allocate(int width, int height) = 0;
    // Row 0 is the top of the picture; width * 3 bytes, ordered B, G, R.
    virtual std::uint8_t* RowBgr(int pictureRow) = 0;
};

// Decodes a file that holds a 24-bit colour picture (three 8-bit channels, no
// alpha, no palette, no grey, no CMYK). The format is told by the file's first
// bytes, not its name. Every failure to read or decode gives Unsupported;
// a failed Allocate gives OutOfMemory. The sink is not touched before the
// header has been accepted.
ImageFileStatus DecodeRgb24(const std::string& utf8Path, IRgbSink& sink);

// A picture in memory: rows bottom-up (row 0 in memory is the bottom row),
// stride bytes apart; 24-bit pixels are B, G, R; 8-bit pixels are grey levels.
struct ImageView {
    const std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int bpp = 24;  // 8 or 24
    std::size_t stride = 0;
};

// Encodes the picture into a temporary file in the target's folder and renames
// it over the target only on success, so a failed save never damages an
// existing file. errno maps to FileNotFound (ENOENT, ENOTDIR), AccessDenied
// (EACCES, EPERM, EROFS), OutOfMemory (ENOMEM) and Other.
ImageFileStatus EncodeImage(const std::string& utf8Path, ImageFileFormat format, const ImageView& view);

}  // namespace Platform
