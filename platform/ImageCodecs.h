#pragma once
// The per-format readers and writers behind ImageFile.h. Private to platform_core.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "ImageFile.h"

namespace Platform::Codec {

// A decoded picture held by the codec until it is known to be whole: packed B, G, R
// rows, top row first, so a damaged file never reaches the caller's sink.
struct Picture {
    std::unique_ptr<std::uint8_t[]> pixels;
    int width = 0;
    int height = 0;

    std::size_t RowBytes() const { return static_cast<std::size_t>(width) * 3; }
    std::uint8_t* Row(int y) { return pixels.get() + static_cast<std::size_t>(y) * RowBytes(); }
};

enum class DecodeResult { Ok, Unsupported, OutOfMemory };

// False for empty sizes and for sizes whose 24-bit pixels would pass 2^31 bytes:
// such headers are damaged or hostile, and are refused before anything is allocated.
bool AcceptableSize(std::uint64_t width, std::uint64_t height);

// Gives the picture `bytes` bytes of storage (at least width * height * 3) and its size.
bool AllocatePicture(Picture& picture, int width, int height, std::size_t bytes);

// Each reader gets the file positioned at its first byte.
DecodeResult DecodeJpeg(std::FILE* file, Picture& picture);
DecodeResult DecodePng(std::FILE* file, Picture& picture);
DecodeResult DecodeTiff(int fd, Picture& picture);
DecodeResult DecodeBmp(std::FILE* file, Picture& picture);

// The memory row that holds picture row y (views are stored bottom-up).
inline const std::uint8_t* PictureRow(const ImageView& view, int y) {
    return view.bits + static_cast<std::size_t>(view.height - 1 - y) * view.stride;
}

// Each writer writes the whole file through `fd`, which stays open, and returns 0 or the
// errno that explains the failure (EIO when nothing more precise is known).
int EncodeJpeg(int fd, const ImageView& view);
int EncodePng(int fd, const ImageView& view);
int EncodeTiff(int fd, const ImageView& view);
int EncodeBmp(int fd, const ImageView& view);

// A stdio stream over a duplicate of `fd`, so closing it leaves `fd` open.
struct StreamCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;
Stream OpenWriteStream(int fd);
// Flushes and closes the stream; 0 or the errno of the failure.
int CloseWriteStream(Stream& stream);

// errno as it stands, or EIO when the failing call left it unset.
int CurrentError();

}  // namespace Platform::Codec
