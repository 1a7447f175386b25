// Every reader of picture files on one input: the engine's photo loader, the
// library's read pipeline with its converters (whole picture, preview and file
// information), the browser's EXIF fields, previews and thumbnail maker, the
// program's thumbnail reader, and the baseline JPEG decoder. The seeds cover
// the layouts each format allows (palettes, 16-bit samples, interlacing,
// tiles, compression, run-length rows, EXIF previews), so mutants reach the
// branches a single plain file never takes.
#include <cstring>
#include <random>

#include "CPaletteItem.h"
#include "ConverterInterface.h"
#include "ExifFields.h"
#include "ExifFixture.h"
#include "ExifThumbnail.h"
#include "Formgate.h"
#include "FuzzTarget.h"
#include "ImageFile.h"
#include "LibraryFiles.h"
#include "MiniJpeg.h"
#include "ModuleThumbnailReader.h"
#include "ReadThroughExif.h"
#include "ReadThroughMiniJpeg.h"

namespace {

// Forged sizes are refused here as memory running out would be.
constexpr std::int64_t kMaxPixels = 4'000'000;

struct RgbSink : Platform::IRgbSink {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    bool Allocate(int w, int h) override {
        if (std::int64_t(w) * h > kMaxPixels)
            return false;
        width = w;
        pixels.resize(std::size_t(w) * h * 3);
        return true;
    }
    std::uint8_t* RowBgr(int row) override { return pixels.data() + std::size_t(row) * width * 3; }
};

// Touches every byte the library hands over, so a short row shows.
class ModuleSink : public CAbstractReadWA {
public:
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int SetSize(int, int, int w, int h) override {
        width_ = w;
        return w <= 0 || h <= 0 || std::int64_t(w) * h > kMaxPixels;
    }
    int SetFormat(int, int, int type) override { return type_ = type, 0; }
    int SetPalette(int, int, const unsigned char* entries, int count) override {
        Sum(entries, std::size_t(count) * 4);
        return 0;
    }
    int SetResolution(int, int, int, int) override { return 0; }
    int PutRow(int, int, int, const void* pixels) override {
        const int bits = type_ == ImExp::PixelBilevel     ? 1
                         : type_ == ImExp::PixelPalette16 ? 4
                         : type_ == ImExp::PixelRgb24     ? 24
                         : type_ == ImExp::PixelGrey16    ? 16
                         : type_ == ImExp::PixelRgb48     ? 48
                                                          : 8;
        Sum(pixels, (std::size_t(bits) * std::size_t(width_) + 7) / 8);
        return 0;
    }
    int PutAlphaRow(int, int, int, const void* alpha) override {
        Sum(alpha, std::size_t(width_) * (type_ == ImExp::PixelGrey16 || type_ == ImExp::PixelRgb48 ? 2 : 1));
        return 0;
    }
    int SetAlphaChannel(int, int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }
    unsigned sum = 0;

private:
    void Sum(const void* bytes, std::size_t count) {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        for (std::size_t i = 0; i < count; ++i)
            sum += p[i];
    }
    int width_ = 0, type_ = 0;
};

// The extension the file's first bytes call for: the library and the
// browser choose their reader by name.
const char* ExtensionOf(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return ".jpg";
    if (size >= 4 && std::memcmp(data, "\x89PNG", 4) == 0)
        return ".png";
    if (size >= 2 && (std::memcmp(data, "II", 2) == 0 || std::memcmp(data, "MM", 2) == 0))
        return ".tif";
    return ".bmp";
}

}  // namespace

// The structure-aware half of the mutations, which byte-level changes rarely
// hit: a length, count or offset field of the format enlarged, shrunk or set
// to a boundary value, and a range of bytes repeated. PNG chunks get their
// checksums mended, so a mutant passes the check and reaches the decoder.

// libFuzzer's own mutation; absent in the replay driver, which never mutates.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize)
    __attribute__((weak));

namespace {

struct Field {
    std::size_t at;
    int bytes;  // 2 or 4
    bool bigEndian;
};

std::uint32_t GetField(const std::uint8_t* d, const Field& f) {
    std::uint32_t v = 0;
    for (int i = 0; i < f.bytes; ++i)
        v |= std::uint32_t(d[f.at + std::size_t(i)]) << (8 * (f.bigEndian ? f.bytes - 1 - i : i));
    return v;
}

void SetField(std::uint8_t* d, const Field& f, std::uint32_t v) {
    for (int i = 0; i < f.bytes; ++i)
        d[f.at + std::size_t(i)] = std::uint8_t(v >> (8 * (f.bigEndian ? f.bytes - 1 - i : i)));
}

std::uint32_t Big32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The length, count and offset fields of the file's structure, as far as it holds together.
std::vector<Field> StructureFields(const std::uint8_t* d, std::size_t size) {
    std::vector<Field> fields;
    if (size >= 4 && d[0] == 0xFF && d[1] == 0xD8) {
        for (std::size_t at = 2; at + 4 <= size && fields.size() < 64;) {
            if (d[at] != 0xFF) {
                ++at;
                continue;
            }
            const std::uint8_t marker = d[at + 1];
            if (marker == 0xFF || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {
                at += marker == 0xFF ? 1 : 2;
                continue;
            }
            if (marker == 0xD9)
                break;
            fields.push_back({at + 2, 2, true});
            const std::size_t length = std::size_t(d[at + 2]) << 8 | d[at + 3];
            // Frame and scan headers: the sizes and component counts inside.
            if ((marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && at + 9 < size) {
                fields.push_back({at + 5, 2, true});
                fields.push_back({at + 7, 2, true});
            }
            at += 2 + (length < 2 ? 2 : length);
        }
    } else if (size >= 16 && std::memcmp(d, "\x89PNG", 4) == 0) {
        for (std::size_t at = 8; at + 12 <= size && fields.size() < 64;) {
            fields.push_back({at, 4, true});
            if (std::memcmp(d + at + 4, "IHDR", 4) == 0 && at + 16 <= size) {
                fields.push_back({at + 8, 4, true});
                fields.push_back({at + 12, 4, true});
            }
            const std::uint64_t length = Big32(d + at);
            if (length > size)
                break;
            at += 12 + std::size_t(length);
        }
    } else if (size >= 8 && (std::memcmp(d, "II", 2) == 0 || std::memcmp(d, "MM", 2) == 0)) {
        const bool big = d[0] == 'M';
        fields.push_back({4, 4, big});
        std::size_t ifd = GetField(d, {4, 4, big});
        for (int directories = 0; directories < 4 && ifd + 2 <= size && ifd >= 8; ++directories) {
            fields.push_back({ifd, 2, big});
            const std::size_t count = GetField(d, {ifd, 2, big});
            std::size_t entry = ifd + 2;
            for (std::size_t i = 0; i < count && entry + 12 <= size && fields.size() < 256;
                 ++i, entry += 12) {
                fields.push_back({entry + 4, 4, big});
                fields.push_back({entry + 8, 4, big});
                fields.push_back({entry + 8, 2, big});
            }
            if (entry + 4 > size)
                break;
            fields.push_back({entry, 4, big});
            ifd = GetField(d, {entry, 4, big});
        }
    } else if (size >= 54 && d[0] == 'B' && d[1] == 'M') {
        for (std::size_t at : {2, 10, 14, 18, 22, 34, 46, 50})
            fields.push_back({at, 4, false});
        for (std::size_t at : {26, 28, 30})
            fields.push_back({at, 2, false});
    }
    return fields;
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

void MendPngChecksums(std::uint8_t* d, std::size_t size) {
    if (size < 8 || std::memcmp(d, "\x89PNG", 4) != 0)
        return;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint64_t length = Big32(d + at);
        if (length > size - at - 12)
            return;
        SetField(d, {at + 8 + std::size_t(length), 4, true}, Crc32(d + at + 4, 4 + std::size_t(length)));
        at += 12 + std::size_t(length);
    }
}

std::size_t MutateStructure(std::uint8_t* d, std::size_t size, std::size_t maxSize, std::minstd_rand& rng) {
    const std::vector<Field> fields = StructureFields(d, size);
    if (fields.empty() || rng() % 4 == 0) {
        // A range repeated in place, pushing the rest along.
        if (size < 2 || size >= maxSize)
            return size;
        const std::size_t from = rng() % size;
        std::size_t length = 1 + rng() % std::min<std::size_t>(size - from, 64);
        length = std::min(length, maxSize - size);
        std::memmove(d + from + length, d + from, size - from);
        return size + length;
    }
    const Field& f = fields[rng() % fields.size()];
    const std::uint32_t v = GetField(d, f);
    const std::uint32_t top = f.bytes == 2 ? 0xFFFF : 0xFFFFFFFF;
    const std::uint32_t choices[] = {0,
                                     1,
                                     top,
                                     top / 2,
                                     top / 2 + 1,
                                     v + 1 + std::uint32_t(rng() % 16),
                                     v - 1 - std::uint32_t(rng() % 16),
                                     v * 2,
                                     v / 2,
                                     std::uint32_t(size),
                                     std::uint32_t(size - 1)};
    SetField(d, f, choices[rng() % std::size(choices)] & top);
    return size;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    std::minstd_rand rng(seed);
    size = rng() % 3 == 0 ? MutateStructure(data, size, maxSize, rng) : LLVMFuzzerMutate(data, size, maxSize);
    if (rng() % 8)
        MendPngChecksums(data, size);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* extension = ExtensionOf(data, size);
    const std::string path = Fuzz::InputFile(data, size, extension);

    RgbSink rgb;
    Platform::DecodeRgb24(path, rgb);

    const int allTypes = ImExp::PixelBilevel | ImExp::PixelPalette16 | ImExp::PixelPalette256 |
                         ImExp::PixelGrey8 | ImExp::PixelRgb24 | ImExp::PixelGrey16 | ImExp::PixelRgb48;
    ModuleSink whole;
    ImExp_ReadFile(&whole, nullptr, path.c_str(), allTypes, nullptr, nullptr, 0);
    ModuleSink rgbOnly;
    ImExp_ReadFile(&rgbOnly, nullptr, path.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0);
    ModuleSink preview;
    ImExpRect box{0, 0, 160, 120};
    ImExp_ReadThumb(&preview, nullptr, path.c_str(), &box);
    CONVIMAGEINFO info{};
    ImExp_GetFileInfo(&info, path.c_str(), 0);

    if (extension[1] == 'j' || extension[1] == 't')
        Fuzz::ReadThroughExif(path, extension[1] == 'j');
    // The program's own thumbnail reader: the toolkit's codecs, then the library.
    ThumbnailPicture picture;
    ReadThumbnailThroughModule(path, QSize(220, 165), nullptr, picture);
    // The thumbnail maker: a stored preview first, then the whole picture.
    for (bool full : {false, true}) {
        try {
            CPaletteItemImg item;
            item.MakeThumbnail(path, full, nullptr);
        } catch (...) {
            // The thumbnail builder drops a file that throws.
        }
    }
    if (extension[1] == 'j')
        Fuzz::ReadThroughMiniJpeg(data, size);
    return 0;
}

namespace {

using LibraryFiles::Bytes;

Bytes Pattern(std::size_t count, int step) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = std::uint8_t(i * std::size_t(step) + i / 7);
    return bytes;
}

void Put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = std::uint8_t(v), b[at + 1] = std::uint8_t(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF), Put16(b, at + 2, v >> 16);
}

// A bottom-up BMP with a 40-byte header; pixels already laid out in rows of
// 4-byte stride (or run-length coded when compression is 1 or 2).
Bytes Bmp(int width, int height, int bits, int compression, int colours, const Bytes& pixels,
          const Bytes& masks = {}) {
    const std::size_t offset = 14 + 40 + masks.size() + std::size_t(colours) * 4;
    Bytes b(offset);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, std::uint32_t(offset + pixels.size()));
    Put32(b, 10, std::uint32_t(offset));
    Put32(b, 14, 40);
    Put32(b, 18, std::uint32_t(width));
    Put32(b, 22, std::uint32_t(height));
    Put16(b, 26, 1);
    Put16(b, 28, unsigned(bits));
    Put32(b, 30, std::uint32_t(compression));
    Put32(b, 34, std::uint32_t(pixels.size()));
    Put32(b, 38, 2835), Put32(b, 42, 2835);
    Put32(b, 46, std::uint32_t(colours));
    std::copy(masks.begin(), masks.end(), b.begin() + 54);
    for (int i = 0; i < colours; ++i)
        for (int c = 0; c < 3; ++c)
            b[54 + masks.size() + std::size_t(i) * 4 + std::size_t(c)] = std::uint8_t(i * (37 + c * 20));
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// Rows of the given bits per pixel, 4-byte stride.
Bytes BmpRows(int width, int height, int bits) {
    const std::size_t stride = (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
    return Pattern(stride * std::size_t(height), 29);
}

// Run-length rows: each row a run and a literal stretch, then end of line;
// one delta jump, and the end of the picture.
Bytes BmpRle(int width, int height, bool fourBit) {
    Bytes r;
    for (int y = 0; y < height; ++y) {
        const int run = width / 2, literal = width - run;
        r.push_back(std::uint8_t(run)), r.push_back(fourBit ? 0x12 : std::uint8_t(y * 3));
        r.push_back(0), r.push_back(std::uint8_t(literal));
        const int literalBytes = fourBit ? (literal + 1) / 2 : literal;
        for (int i = 0; i < literalBytes; ++i)
            r.push_back(std::uint8_t(i * 5 + y));
        if (literalBytes % 2)
            r.push_back(0);
        r.push_back(0), r.push_back(0);
    }
    r.push_back(0), r.push_back(2), r.push_back(1), r.push_back(0);
    r.push_back(0), r.push_back(1);
    return r;
}

}  // namespace

FuzzSeeds MakeFuzzSeeds() {
    FuzzSeeds seeds;
    const int w = 13, h = 7;

    // JPEG: baseline and progressive colour, grey, CMYK, and a camera file
    // with EXIF, a maker note and a preview.
    seeds.push_back({"baseline.jpg", LibraryFiles::JpegEncode(w, h, 3, Pattern(w * h * 3, 11), 80, false)});
    seeds.push_back({"progressive.jpg", LibraryFiles::JpegEncode(w, h, 3, Pattern(w * h * 3, 11), 80, true)});
    seeds.push_back({"grey.jpg", LibraryFiles::JpegEncode(w, h, 1, Pattern(w * h, 7), 80, false)});
    seeds.push_back({"cmyk.jpg", LibraryFiles::JpegEncode(w, h, 4, Pattern(w * h * 4, 5), 80, false)});
    seeds.push_back({"camera.jpg", Fixture::CameraJpeg()});

    // PNG: palette with transparency, 16-bit colour, interlaced, alpha, grey.
    struct PngCase {
        const char* name;
        int colourType, depth, samples;
        bool interlaced;
    };
    const PngCase pngs[] = {{"palette4.png", 3, 4, 1, false},    {"palette8.png", 3, 8, 1, false},
                            {"rgb16.png", 2, 16, 3, false},      {"rgb8-adam7.png", 2, 8, 3, true},
                            {"rgba8.png", 6, 8, 4, false},       {"grey1.png", 0, 1, 1, false},
                            {"grey16-alpha.png", 4, 16, 2, true}};
    for (const PngCase& c : pngs) {
        LibraryFiles::PngLayout png;
        png.width = w, png.height = h, png.colourType = c.colourType, png.depth = c.depth;
        png.interlaced = c.interlaced;
        png.rows = Pattern((std::size_t(w) * std::size_t(c.samples * c.depth) + 7) / 8 * h, 13);
        if (c.colourType == 3) {
            png.palette = Pattern(std::size_t(3) << c.depth, 3);
            png.transparency = {0, 128, 255};
        }
        seeds.push_back({c.name, LibraryFiles::PngEncode(png)});
    }

    // TIFF: strips, tiles, LZW, deflate, PackBits, 16-bit, palette, grey with alpha.
    struct TiffCase {
        const char* name;
        int samples, bits, photometric, compression;
        bool tiled, planar, alpha;
    };
    const TiffCase tiffs[] = {{"rgb-strips.tif", 3, 8, 2, 1, false, false, false},
                              {"rgb-tiles.tif", 3, 8, 2, 1, true, false, false},
                              {"rgb-lzw.tif", 3, 8, 2, 5, false, false, false},
                              {"rgb16-deflate.tif", 3, 16, 2, 8, false, false, false},
                              {"rgb-planar.tif", 3, 8, 2, 32773, false, true, false},
                              {"palette4.tif", 1, 4, 3, 1, false, false, false},
                              {"grey-alpha-tiles-lzw.tif", 2, 8, 1, 5, true, false, true},
                              {"bilevel.tif", 1, 1, 0, 32773, false, false, false}};
    for (const TiffCase& c : tiffs) {
        LibraryFiles::TiffPage page;
        page.width = w, page.height = h, page.samples = c.samples, page.bits = c.bits;
        page.photometric = c.photometric, page.compression = c.compression;
        page.tiled = c.tiled, page.planar = c.planar, page.alpha = c.alpha;
        page.rows = Pattern((std::size_t(w) * std::size_t(c.samples * c.bits) + 7) / 8 * h, 17);
        if (c.photometric == 3)
            for (int i = 0; i < 3 << c.bits; ++i)
                page.colourMap.push_back(std::uint16_t(i * 4099));
        const std::string path = Fuzz::InputFile(nullptr, 0, c.name);
        if (LibraryFiles::TiffWrite(path, {page}))
            seeds.push_back({c.name, Fuzz::TakeFile(path)});
    }
    seeds.push_back({"camera-le.tif", Fixture::CameraTiff(false, true)});
    seeds.push_back({"camera-be.tif", Fixture::CameraTiff(true, false)});

    // BMP: every depth, run-length rows of 4 and 8 bits, and bit-field masks.
    seeds.push_back({"bits1.bmp", Bmp(w, h, 1, 0, 2, BmpRows(w, h, 1))});
    seeds.push_back({"bits4.bmp", Bmp(w, h, 4, 0, 16, BmpRows(w, h, 4))});
    seeds.push_back({"bits8.bmp", Bmp(w, h, 8, 0, 256, BmpRows(w, h, 8))});
    seeds.push_back({"bits24.bmp", Bmp(w, h, 24, 0, 0, BmpRows(w, h, 24))});
    seeds.push_back({"bits32.bmp", Bmp(w, h, 32, 0, 0, BmpRows(w, h, 32))});
    seeds.push_back({"rle8.bmp", Bmp(w, h, 8, 1, 256, BmpRle(w, h, false))});
    seeds.push_back({"rle4.bmp", Bmp(w, h, 4, 2, 16, BmpRle(w, h, true))});
    Bytes masks(12);
    Put32(masks, 0, 0x00FF0000), Put32(masks, 4, 0x0000FF00), Put32(masks, 8, 0x000000FF);
    seeds.push_back({"bitfields32.bmp", Bmp(w, h, 32, 3, 0, BmpRows(w, h, 32), masks)});
    Put32(masks, 0, 0xF800), Put32(masks, 4, 0x07E0), Put32(masks, 8, 0x001F);
    seeds.push_back({"bitfields16.bmp", Bmp(w, h, 16, 3, 0, BmpRows(w, h, 16), masks)});
    return seeds;
}
