// BMP, our own: uncompressed 24-bit pictures in, 8-bit (grey palette) and 24-bit out.
// Every field comes from a bounds-checked buffer and every read is checked, so a short
// or lying file ends in a refusal, never in a read past the data.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "ImageCodecs.h"

namespace Platform::Codec {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kLargestInfoHeader = 124;  // BITMAPV5HEADER
constexpr std::uint32_t kRgbUncompressed = 0;      // BI_RGB

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool ReadExact(std::FILE* file, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, file) == size;
}

// Rows are padded to whole 32-bit words.
std::uint64_t PaddedRow(std::uint64_t width, int bpp) {
    return (width * static_cast<std::uint64_t>(bpp) + 31) / 32 * 4;
}

}  // namespace

DecodeResult DecodeBmp(std::FILE* file, Picture& picture) {
    std::uint8_t header[kFileHeaderSize + kLargestInfoHeader] = {};
    if (!ReadExact(file, header, kFileHeaderSize + 4))
        return DecodeResult::Unsupported;
    if (header[0] != 'B' || header[1] != 'M')
        return DecodeResult::Unsupported;
    const std::uint32_t pixelOffset = Le32(header + 10);
    const std::uint32_t infoSize = Le32(header + 14);
    // The 40-byte header and its longer successors; the old 12-byte core header has no
    // compression field and is not a 24-bit BI_RGB picture in the sense wanted here.
    if (infoSize < kInfoHeaderSize || infoSize > kLargestInfoHeader)
        return DecodeResult::Unsupported;
    if (!ReadExact(file, header + kFileHeaderSize + 4, infoSize - 4))
        return DecodeResult::Unsupported;
    const std::uint8_t* info = header + kFileHeaderSize;
    const std::int64_t width = static_cast<std::int32_t>(Le32(info + 4));
    const std::int64_t signedHeight = static_cast<std::int32_t>(Le32(info + 8));
    const std::uint16_t planes = Le16(info + 12);
    const std::uint16_t bitCount = Le16(info + 14);
    const std::uint32_t compression = Le32(info + 16);
    if (planes != 1 || bitCount != 24 || compression != kRgbUncompressed)
        return DecodeResult::Unsupported;
    // A negative height marks rows stored top-down.
    const bool topDown = signedHeight < 0;
    const std::int64_t height = topDown ? -signedHeight : signedHeight;
    if (width <= 0 || height <= 0 ||
        !AcceptableSize(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)))
        return DecodeResult::Unsupported;
    if (pixelOffset < kFileHeaderSize + infoSize)
        return DecodeResult::Unsupported;

    // A file too short for its rows is refused before any allocation.
    const std::uint64_t rowBytes = PaddedRow(static_cast<std::uint64_t>(width), 24);
    const std::uint64_t needed = pixelOffset + rowBytes * static_cast<std::uint64_t>(height);
    struct stat status;
    if (::fstat(::fileno(file), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) < needed)
        return DecodeResult::Unsupported;
    if (::fseeko(file, static_cast<off_t>(pixelOffset), SEEK_SET) != 0)
        return DecodeResult::Unsupported;

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (!AllocatePicture(picture, w, h, static_cast<std::size_t>(w) * h * 3))
        return DecodeResult::OutOfMemory;
    const std::size_t padding = static_cast<std::size_t>(rowBytes) - picture.RowBytes();
    for (int r = 0; r < h; ++r) {
        std::uint8_t pad[4];
        const int y = topDown ? r : h - 1 - r;
        if (!ReadExact(file, picture.Row(y), picture.RowBytes()))
            return DecodeResult::Unsupported;
        if (padding && !ReadExact(file, pad, padding))
            return DecodeResult::Unsupported;
    }
    return DecodeResult::Ok;
}

int EncodeBmp(int fd, const ImageView& view) {
    const bool grey = view.bpp == 8;
    const std::uint32_t paletteBytes = grey ? 256 * 4 : 0;
    const std::uint64_t rowBytes = PaddedRow(static_cast<std::uint64_t>(view.width), view.bpp);
    const std::uint64_t imageBytes = rowBytes * static_cast<std::uint64_t>(view.height);
    const std::uint64_t fileBytes = kFileHeaderSize + kInfoHeaderSize + paletteBytes + imageBytes;
    // The format's size fields are 32 bits wide.
    if (fileBytes > std::numeric_limits<std::uint32_t>::max())
        return EFBIG;

    std::uint8_t header[kFileHeaderSize + kInfoHeaderSize] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<std::uint32_t>(fileBytes));
    Put32(header + 10, kFileHeaderSize + kInfoHeaderSize + paletteBytes);
    std::uint8_t* info = header + kFileHeaderSize;
    Put32(info + 0, kInfoHeaderSize);
    Put32(info + 4, static_cast<std::uint32_t>(view.width));
    Put32(info + 8, static_cast<std::uint32_t>(view.height));  // positive: bottom-up, as in memory
    Put16(info + 12, 1);
    Put16(info + 14, static_cast<std::uint16_t>(view.bpp));
    Put32(info + 16, kRgbUncompressed);
    Put32(info + 20, static_cast<std::uint32_t>(imageBytes));
    // Resolutions stay 0.
    Put32(info + 32, grey ? 256 : 0);
    Put32(info + 36, grey ? 256 : 0);

    Stream stream = OpenWriteStream(fd);
    if (!stream)
        return CurrentError();
    std::FILE* file = stream.get();
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header)
        return CurrentError();
    if (grey) {
        std::uint8_t palette[256 * 4];
        for (int i = 0; i < 256; ++i) {
            palette[4 * i + 0] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<std::uint8_t>(i);
            palette[4 * i + 3] = 0;
        }
        if (std::fwrite(palette, 1, sizeof palette, file) != sizeof palette)
            return CurrentError();
    }
    const std::size_t packed = static_cast<std::size_t>(view.width) * static_cast<std::size_t>(view.bpp / 8);
    const std::size_t padding = static_cast<std::size_t>(rowBytes) - packed;
    static const std::uint8_t kZeros[4] = {};
    for (int r = 0; r < view.height; ++r) {
        const std::uint8_t* row = view.bits + static_cast<std::size_t>(r) * view.stride;
        if (std::fwrite(row, 1, packed, file) != packed)
            return CurrentError();
        if (padding && std::fwrite(kZeros, 1, padding, file) != padding)
            return CurrentError();
    }
    return CloseWriteStream(stream);
}

}  // namespace Platform::Codec
