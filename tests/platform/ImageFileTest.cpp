#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include "ImageFile.h"
#include "SyncProbe.h"
#include "TestData.h"

using Platform::DecodeRgb24;
using Platform::EncodeImage;
using Platform::FormatFromExtension;
using Platform::ImageFileFormat;
using Platform::ImageFileStatus;
using Platform::ImageView;
using Bytes = std::vector<std::uint8_t>;

// The codec takes its pixel memory with new[]; these replacements note the largest
// request so a test can tell that a refused header asked for nothing.
static std::size_t g_largestArray = 0;
void* operator new[](std::size_t size) {
    g_largestArray = std::max(g_largestArray, size);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    g_largestArray = std::max(g_largestArray, size);
    return std::malloc(size ? size : 1);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> Entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Records what the decoder hands over; rows top-down, B, G, R.
class Sink : public Platform::IRgbSink {
public:
    bool Allocate(int width, int height) override {
        ++allocations;
        if (failAllocate)
            return false;
        this->width = width;
        this->height = height;
        pixels.assign(static_cast<std::size_t>(width) * height * 3, 0);
        return true;
    }
    std::uint8_t* RowBgr(int y) override { return pixels.data() + static_cast<std::size_t>(y) * width * 3; }
    const std::uint8_t* Pixel(int x, int y) const {
        return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }

    bool failAllocate = false;
    int allocations = 0;
    int width = 0;
    int height = 0;
    Bytes pixels;
};

// An engine-style picture: rows bottom-up, padded to 4 bytes; the padding holds junk so
// a writer that copies it shows up.
struct Image {
    Image(int w, int h, int depth)
        : width(w),
          height(h),
          bpp(depth),
          stride(static_cast<std::size_t>((depth * w + 31) / 32 * 4)),
          bits(stride * h, 0xA5) {}
    std::uint8_t* Row(int y) { return bits.data() + static_cast<std::size_t>(height - 1 - y) * stride; }
    const std::uint8_t* Row(int y) const {
        return bits.data() + static_cast<std::size_t>(height - 1 - y) * stride;
    }
    ImageView View() const { return ImageView{bits.data(), width, height, bpp, stride}; }
    int Channels() const { return bpp / 8; }

    int width, height, bpp;
    std::size_t stride;
    Bytes bits;
};

std::uint8_t PatternByte(int x, int y, int c) {
    return static_cast<std::uint8_t>(x * 37 + y * 101 + c * 59 + x * y);
}

// Sharp, asymmetric content: any flip, shift or channel swap changes it.
Image Pattern(int w, int h, int bpp) {
    Image image(w, h, bpp);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < image.Channels(); ++c)
                image.Row(y)[x * image.Channels() + c] = PatternByte(x, y, c);
    return image;
}

// Photo-like gradients for the lossy format.
Image Smooth(int w, int h, int bpp) {
    Image image(w, h, bpp);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v[3] = {x * 255 / (w - 1), y * 255 / (h - 1), (x + y) * 255 / (w + h - 2)};
            for (int c = 0; c < image.Channels(); ++c)
                image.Row(y)[x * image.Channels() + c] =
                    static_cast<std::uint8_t>(bpp == 8 ? (v[0] + v[1]) / 2 : v[c]);
        }
    return image;
}

// Mean absolute difference between decoded B, G, R rows and a 24-bit image.
double MeanError(const Sink& sink, const Image& image) {
    double sum = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width * 3; ++x)
            sum += std::abs(sink.pixels[y * image.width * 3 + x] - image.Row(y)[x]);
    return sum / (image.width * image.height * 3.0);
}

void ExpectSamePicture(const Sink& sink, const Image& image) {
    ASSERT_EQ(sink.width, image.width);
    ASSERT_EQ(sink.height, image.height);
    for (int y = 0; y < image.height; ++y)
        ASSERT_EQ(0, std::memcmp(sink.pixels.data() + y * image.width * 3, image.Row(y), image.width * 3))
            << "row " << y;
}

// ---- Fixture writers and readers on the libraries themselves, independent of our code.

// Rows of raw samples as the file stores them, top row first.
using RowFill = std::function<void(int y, std::uint8_t* row)>;

void FillPattern(int y, std::uint8_t* row, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        row[i] = PatternByte(static_cast<int>(i), y, 0);
}

struct PngOptions {
    int colorType = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool transparentColour = false;
    bool interlaced = false;
};

void WritePng(const std::string& path, int w, int h, const PngOptions& o, const RowFill& fill = {}) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, w, h, o.depth, o.colorType,
                 o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = png_color{static_cast<png_byte>(i), 0, static_cast<png_byte>(255 - i)};
    if (o.colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette, 256);
    png_color_16 transparent{};
    transparent.red = 7;
    if (o.transparentColour)
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    png_write_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    Bytes rows(rowBytes * h);
    for (int y = 0; y < h; ++y)
        fill ? fill(y, &rows[y * rowBytes]) : FillPattern(y, &rows[y * rowBytes], rowBytes);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < h; ++y)
            png_write_row(png, &rows[y * rowBytes]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

struct JpegOptions {
    J_COLOR_SPACE input = JCS_RGB;
    int components = 3;
    J_COLOR_SPACE coded = JCS_YCbCr;
    bool progressive = false;
};

void WriteJpeg(const std::string& path, int w, int h, const JpegOptions& o, const RowFill& fill = {}) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = w;
    info.image_height = h;
    info.input_components = o.components;
    info.in_color_space = o.input;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, o.coded);
    jpeg_set_quality(&info, 95, TRUE);
    if (o.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    Bytes row(static_cast<std::size_t>(w) * o.components);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        fill ? fill(y, row.data()) : FillPattern(y, row.data(), row.size());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

struct JpegFile {
    int components = 0;
    bool jfif = false;
    int lumaSampling[2] = {0, 0};
    int firstLumaQuant = 0;
    int width = 0, height = 0;
    Bytes samples;  // top-down, as coded (R, G, B or grey)
};

JpegFile ReadJpeg(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    JpegFile result;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    result.components = info.num_components;
    result.jfif = info.saw_JFIF_marker;
    result.lumaSampling[0] = info.comp_info[0].h_samp_factor;
    result.lumaSampling[1] = info.comp_info[0].v_samp_factor;
    result.firstLumaQuant = info.quant_tbl_ptrs[0] ? info.quant_tbl_ptrs[0]->quantval[0] : 0;
    jpeg_start_decompress(&info);
    result.width = info.output_width;
    result.height = info.output_height;
    const std::size_t rowBytes = static_cast<std::size_t>(info.output_width) * info.output_components;
    result.samples.resize(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.samples.data() + info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return result;
}

struct TiffOptions {
    int samples = 3;
    int bits = 8;
    int photometric = PHOTOMETRIC_RGB;
    int compression = COMPRESSION_NONE;
    int planar = PLANARCONFIG_CONTIG;
    bool extraAlpha = false;
};

void WriteTiff(const std::string& path, int w, int h, const TiffOptions& o, const RowFill& fill = {}) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, o.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, o.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, o.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, o.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, o.planar);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    if (o.extraAlpha) {
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (o.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const bool separate = o.planar == PLANARCONFIG_SEPARATE;
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (separate ? 1 : o.samples) * o.bits / 8;
    Bytes row(rowBytes);
    for (int s = 0; s < (separate ? o.samples : 1); ++s)
        for (int y = 0; y < h; ++y) {
            if (fill) {
                fill(y, row.data());
            } else {
                FillPattern(y + 31 * s, row.data(), row.size());
            }
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, static_cast<std::uint16_t>(s)), 1);
        }
    TIFFClose(tif);
}

struct TiffFile {
    int samples = 0, bits = 0, photometric = 0, compression = 0, planar = 0;
    Bytes samplesTopDown;
};

TiffFile ReadTiff(const std::string& path) {
    TiffFile result;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return result;
    std::uint32_t w = 0, h = 0;
    std::uint16_t spp = 0, bps = 0, photometric = 0, compression = 0, planar = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    result = TiffFile{spp, bps, photometric, compression, planar, {}};
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    result.samplesTopDown.resize(static_cast<std::size_t>(rowBytes) * h);
    for (std::uint32_t y = 0; y < h; ++y)
        TIFFReadScanline(tif, &result.samplesTopDown[y * rowBytes], y, 0);
    TIFFClose(tif);
    return result;
}

struct BmpOptions {
    int bitCount = 24;
    std::uint32_t compression = 0;
    bool topDown = false;
    std::uint32_t infoSize = 40;
};

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A BMP made by hand; `fill` gives file-order pixel bytes (B, G, R[, X]) for picture row y.
Bytes MakeBmp(int w, int h, const BmpOptions& o, const RowFill& fill = {}) {
    const std::size_t rowBytes = (static_cast<std::size_t>(o.bitCount) * w + 31) / 32 * 4;
    const std::size_t offset = 14 + o.infoSize;
    Bytes b(offset + rowBytes * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset));
    Put32(b, 14, o.infoSize);
    Put32(b, 18, static_cast<std::uint32_t>(w));
    Put32(b, 22, static_cast<std::uint32_t>(o.topDown ? -h : h));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<std::uint16_t>(o.bitCount));
    Put32(b, 30, o.compression);
    Put32(b, 34, static_cast<std::uint32_t>(rowBytes * h));
    for (int y = 0; y < h; ++y) {
        const int fileRow = o.topDown ? y : h - 1 - y;
        std::uint8_t* row = &b[offset + fileRow * rowBytes];
        fill ? fill(y, row) : FillPattern(y, row, static_cast<std::size_t>(w) * o.bitCount / 8);
    }
    return b;
}

// A file of our writers read back by the libraries (or, for BMP, by hand): its depth
// and its pixels, top row first, B, G, R for colour.
struct LosslessFile {
    int bpp = 0;
    Bytes pixels;
};

LosslessFile ReadLossless(const std::string& path, ImageFileFormat format, int w, int h) {
    LosslessFile result;
    if (format == ImageFileFormat::Png) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str()))
            return result;
        if (image.format != PNG_FORMAT_GRAY && image.format != PNG_FORMAT_RGB) {
            png_image_free(&image);
            return result;
        }
        result.bpp = image.format == PNG_FORMAT_GRAY ? 8 : 24;
        image.format = image.format == PNG_FORMAT_GRAY ? PNG_FORMAT_GRAY : PNG_FORMAT_BGR;
        result.pixels.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr))
            result.bpp = 0;
    } else if (format == ImageFileFormat::Tiff) {
        TiffFile tiff = ReadTiff(path);
        EXPECT_EQ(tiff.bits, 8);
        EXPECT_EQ(tiff.compression, COMPRESSION_LZW);
        EXPECT_EQ(tiff.planar, PLANARCONFIG_CONTIG);
        if (tiff.samples == 3 && tiff.photometric == PHOTOMETRIC_RGB) {
            result.bpp = 24;
            for (std::size_t i = 0; i + 2 < tiff.samplesTopDown.size(); i += 3)
                std::swap(tiff.samplesTopDown[i], tiff.samplesTopDown[i + 2]);
        } else if (tiff.samples == 1 && tiff.photometric == PHOTOMETRIC_MINISBLACK) {
            result.bpp = 8;
        }
        result.pixels = tiff.samplesTopDown;
    } else if (format == ImageFileFormat::Bmp) {
        const Bytes b = ReadBytes(path);
        if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
            return result;
        const int bpp = b[28];
        EXPECT_EQ(Get32(b, 2), b.size());
        EXPECT_EQ(Get32(b, 14), 40u);                  // info header size
        EXPECT_EQ(static_cast<int>(Get32(b, 22)), h);  // positive: bottom-up
        EXPECT_EQ(Get32(b, 30), 0u);                   // BI_RGB
        EXPECT_EQ(Get32(b, 38) | Get32(b, 42), 0u);    // resolution 0
        const std::size_t paletteEntries = bpp == 8 ? 256 : 0;
        EXPECT_EQ(Get32(b, 46), paletteEntries);
        for (std::size_t i = 0; i < paletteEntries; ++i)
            EXPECT_EQ(Get32(b, 54 + 4 * i), static_cast<std::uint32_t>(i * 0x010101))
                << "palette entry " << i;
        const std::size_t offset = Get32(b, 10);
        EXPECT_EQ(offset, 54 + 4 * paletteEntries);
        const std::size_t rowBytes = (static_cast<std::size_t>(bpp) * w + 31) / 32 * 4;
        const std::size_t packed = static_cast<std::size_t>(w) * bpp / 8;
        if (b.size() != offset + rowBytes * h)
            return result;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = &b[offset + (h - 1 - y) * rowBytes];
            result.pixels.insert(result.pixels.end(), row, row + packed);
            for (std::size_t p = packed; p < rowBytes; ++p)
                EXPECT_EQ(row[p], 0) << "padding of row " << y;
        }
        result.bpp = bpp;
    }
    return result;
}

const char* Name(ImageFileFormat format) {
    switch (format) {
        case ImageFileFormat::Bmp:
            return "bmp";
        case ImageFileFormat::Jpeg:
            return "jpg";
        case ImageFileFormat::Png:
            return "png";
        case ImageFileFormat::Tiff:
            return "tif";
    }
    return "?";
}

constexpr ImageFileFormat kLossless[] = {ImageFileFormat::Bmp, ImageFileFormat::Png, ImageFileFormat::Tiff};
constexpr ImageFileFormat kAllFormats[] = {ImageFileFormat::Bmp, ImageFileFormat::Jpeg, ImageFileFormat::Png,
                                           ImageFileFormat::Tiff};

// A valid 24-bit file of each format, written by our encoder.
Bytes EncodedFile(const TestData::ScratchDir& dir, ImageFileFormat format, const Image& image) {
    const std::string path = dir / (std::string("encoded.") + Name(format));
    EXPECT_EQ(EncodeImage(path, format, image.View()), ImageFileStatus::Ok);
    Bytes bytes = ReadBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------------------

TEST(ImageFileFormat, ExtensionOfTheLastComponentPicksTheEncoder) {
    const struct {
        const char* path;
        std::optional<ImageFileFormat> format;
    } cases[] = {
        {"a.bmp", ImageFileFormat::Bmp},
        {"A.BMP", ImageFileFormat::Bmp},
        {"x/photo.JPG", ImageFileFormat::Jpeg},
        {"photo.final.jpeg", ImageFileFormat::Jpeg},
        {"p.Png", ImageFileFormat::Png},
        {"scan.TIFF", ImageFileFormat::Tiff},
        {"scan.tif", ImageFileFormat::Tiff},
        {"anim.gif", std::nullopt},
        {"noextension", std::nullopt},
        {"folder.jpg/noextension", std::nullopt},
        {"photo.jpg.txt", std::nullopt},
        {"trailing.", std::nullopt},
        {"", std::nullopt},
        {"a.jpgx", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFromExtension(c.path), c.format) << c.path;
}

TEST(ImageFileSave, UpperCaseExtensionsWriteTheirOwnFormat) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    const struct {
        const char* name;
        Bytes magic;
    } cases[] = {
        {"a.JPG", {0xFF, 0xD8, 0xFF}}, {"b.JPEG", {0xFF, 0xD8, 0xFF}},   {"c.TIFF", {'I', 'I', 42, 0}},
        {"d.TIF", {'I', 'I', 42, 0}},  {"e.PNG", {0x89, 'P', 'N', 'G'}}, {"f.BMP", {'B', 'M'}},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        const auto format = FormatFromExtension(path);
        ASSERT_TRUE(format.has_value()) << c.name;
        ASSERT_EQ(EncodeImage(path, *format, image.View()), ImageFileStatus::Ok) << c.name;
        const Bytes bytes = ReadBytes(path);
        ASSERT_GE(bytes.size(), c.magic.size());
        EXPECT_TRUE(std::equal(c.magic.begin(), c.magic.end(), bytes.begin())) << c.name;
    }
}

TEST(ImageFileRoundTrip, LosslessFormatsKeepEveryByteOf24BitPictures) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);  // odd width: rows need padding
    for (const ImageFileFormat format : kLossless) {
        SCOPED_TRACE(Name(format));
        const std::string path = dir / (std::string("rgb.") + Name(format));
        ASSERT_EQ(EncodeImage(path, format, image.View()), ImageFileStatus::Ok);

        const LosslessFile file = ReadLossless(path, format, image.width, image.height);
        ASSERT_EQ(file.bpp, 24);
        for (int y = 0; y < image.height; ++y)
            ASSERT_EQ(0, std::memcmp(&file.pixels[y * image.width * 3], image.Row(y), image.width * 3))
                << "row " << y;

        Sink sink;
        ASSERT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Ok);
        EXPECT_EQ(sink.allocations, 1);
        ExpectSamePicture(sink, image);
    }
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"rgb.bmp", "rgb.png", "rgb.tif"}));
}

TEST(ImageFileRoundTrip, LosslessFormatsKeepEveryByteOf8BitPictures) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 8);
    for (const ImageFileFormat format : kLossless) {
        SCOPED_TRACE(Name(format));
        const std::string path = dir / (std::string("grey.") + Name(format));
        ASSERT_EQ(EncodeImage(path, format, image.View()), ImageFileStatus::Ok);
        const LosslessFile file = ReadLossless(path, format, image.width, image.height);
        ASSERT_EQ(file.bpp, 8);
        for (int y = 0; y < image.height; ++y)
            ASSERT_EQ(0, std::memcmp(&file.pixels[y * image.width], image.Row(y), image.width))
                << "row " << y;
        // Grey files are not 24-bit colour, so the reader turns them down.
        Sink sink;
        EXPECT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Unsupported);
        EXPECT_EQ(sink.allocations, 0);
    }
}

TEST(ImageFileRoundTrip, JpegIsJfifAtQuality75AndStaysClose) {
    TestData::ScratchDir dir;
    const Image colour = Smooth(256, 192, 24);
    const std::string colourPath = dir / "colour.jpg";
    ASSERT_EQ(EncodeImage(colourPath, ImageFileFormat::Jpeg, colour.View()), ImageFileStatus::Ok);
    const JpegFile colourFile = ReadJpeg(colourPath);
    EXPECT_EQ(colourFile.components, 3);
    EXPECT_TRUE(colourFile.jfif);
    EXPECT_EQ(colourFile.lumaSampling[0], 2);  // 4:2:0
    EXPECT_EQ(colourFile.lumaSampling[1], 2);
    EXPECT_EQ(colourFile.firstLumaQuant, 8);  // 16 scaled to quality 75
    Sink sink;
    ASSERT_EQ(DecodeRgb24(colourPath, sink), ImageFileStatus::Ok);
    ASSERT_EQ(sink.width, 256);
    ASSERT_EQ(sink.height, 192);
    EXPECT_LE(MeanError(sink, colour), 4.0);

    const Image grey = Smooth(256, 192, 8);
    const std::string greyPath = dir / "grey.jpg";
    ASSERT_EQ(EncodeImage(greyPath, ImageFileFormat::Jpeg, grey.View()), ImageFileStatus::Ok);
    const JpegFile greyFile = ReadJpeg(greyPath);
    EXPECT_EQ(greyFile.components, 1);
    EXPECT_TRUE(greyFile.jfif);
    ASSERT_EQ(greyFile.samples.size(), 256u * 192u);
    double sum = 0;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            sum += std::abs(greyFile.samples[y * 256 + x] - grey.Row(y)[x]);
    EXPECT_LE(sum / (256 * 192), 4.0);
}

// Files made by the libraries with red on top and blue below must arrive with row 0 red.
TEST(ImageFileDecode, TopRowOfTheFileIsRowZero) {
    TestData::ScratchDir dir;
    const int w = 16, h = 16;
    const auto redOverBlueRgb = [](int y, std::uint8_t* row) {
        for (int x = 0; x < w; ++x) {
            row[3 * x + 0] = y < h / 2 ? 255 : 0;
            row[3 * x + 1] = 0;
            row[3 * x + 2] = y < h / 2 ? 0 : 255;
        }
    };
    const auto redOverBlueBgr = [&](int y, std::uint8_t* row) {
        redOverBlueRgb(y, row);
        for (int x = 0; x < w; ++x)
            std::swap(row[3 * x], row[3 * x + 2]);
    };
    const struct {
        const char* name;
        std::function<void(const std::string&)> write;
    } cases[] = {
        {"top.png", [&](const std::string& p) { WritePng(p, w, h, {}, redOverBlueRgb); }},
        {"top.jpg", [&](const std::string& p) { WriteJpeg(p, w, h, {}, redOverBlueRgb); }},
        {"top.tif", [&](const std::string& p) { WriteTiff(p, w, h, {}, redOverBlueRgb); }},
        {"bottomup.bmp", [&](const std::string& p) { WriteBytes(p, MakeBmp(w, h, {}, redOverBlueBgr)); }},
        {"topdown.bmp",
         [&](const std::string& p) { WriteBytes(p, MakeBmp(w, h, {.topDown = true}, redOverBlueBgr)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        c.write(path);
        Sink sink;
        ASSERT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Ok);
        ASSERT_EQ(sink.height, h);
        for (const int y : {0, h - 1}) {
            const std::uint8_t* p = sink.Pixel(w / 2, y);
            const bool red = y == 0;
            EXPECT_NEAR(p[2], red ? 255 : 0, 8) << "R of row " << y;
            EXPECT_NEAR(p[1], 0, 8) << "G of row " << y;
            EXPECT_NEAR(p[0], red ? 0 : 255, 8) << "B of row " << y;
        }
    }
}

TEST(ImageFileDecode, AcceptsOtherCodingsOf24BitColour) {
    TestData::ScratchDir dir;
    const int w = 37, h = 23;
    const Image sharp = Pattern(w, h, 24);
    const Image smooth = Smooth(w, h, 24);  // lossy codings with subsampled colour need it
    // File-order R, G, B rows of a picture.
    const auto rgbOf = [](const Image& image) {
        return [&image](int y, std::uint8_t* row) {
            for (int i = 0; i < image.width * 3; ++i)
                row[i] = image.Row(y)[i / 3 * 3 + 2 - i % 3];
        };
    };
    const bool tiffJpeg = TIFFIsCODECConfigured(COMPRESSION_JPEG);
    const struct {
        const char* name;
        std::function<void(const std::string&)> write;
        const Image& expected;
        bool exact;
    } cases[] = {
        {"interlaced.png",
         [&](const std::string& p) { WritePng(p, w, h, {.interlaced = true}, rgbOf(sharp)); }, sharp, true},
        {"v5header.bmp",
         [&](const std::string& p) {
             WriteBytes(p, MakeBmp(w, h, {.infoSize = 124},
                                   [&](int y, std::uint8_t* row) { std::memcpy(row, sharp.Row(y), w * 3); }));
         },
         sharp, true},
        {"lzw.tif",
         [&](const std::string& p) { WriteTiff(p, w, h, {.compression = COMPRESSION_LZW}, rgbOf(sharp)); },
         sharp, true},
        {"progressive.jpg",
         [&](const std::string& p) { WriteJpeg(p, w, h, {.progressive = true}, rgbOf(smooth)); }, smooth,
         false},
        {"rgbcoded.jpg", [&](const std::string& p) { WriteJpeg(p, w, h, {.coded = JCS_RGB}, rgbOf(smooth)); },
         smooth, false},
        {"ycbcr-jpeg.tif",
         [&](const std::string& p) {
             if (tiffJpeg)
                 WriteTiff(p, w, h, {.photometric = PHOTOMETRIC_YCBCR, .compression = COMPRESSION_JPEG},
                           rgbOf(smooth));
         },
         smooth, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        c.write(path);
        if (!std::filesystem::exists(path))
            continue;  // codec not built into libtiff
        Sink sink;
        ASSERT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Ok);
        if (c.exact) {
            ExpectSamePicture(sink, c.expected);
        } else {
            ASSERT_EQ(sink.width, w);
            ASSERT_EQ(sink.height, h);
            EXPECT_LE(MeanError(sink, c.expected), 4.0);
        }
    }
}

TEST(ImageFileDecode, RefusesEverythingButThreeByEightBitColourAndLeavesTheSinkAlone) {
    TestData::ScratchDir dir;
    const Image grey = Pattern(37, 23, 8);
    const Image colour = Pattern(37, 23, 24);
    const auto ours = [&](ImageFileFormat format) {
        return [&, format](const std::string& p) {
            ASSERT_EQ(EncodeImage(p, format, grey.View()), ImageFileStatus::Ok);
        };
    };
    const auto cut = [&](ImageFileFormat format) {
        return [&, format](const std::string& p) {
            Bytes bytes = EncodedFile(dir, format, colour);
            bytes.resize(bytes.size() * 2 / 3);
            WriteBytes(p, bytes);
        };
    };
    const struct {
        const char* name;
        std::function<void(const std::string&)> write;
    } cases[] = {
        {"rgba.png", [](const std::string& p) { WritePng(p, 9, 7, {.colorType = PNG_COLOR_TYPE_RGBA}); }},
        {"grey.png", [](const std::string& p) { WritePng(p, 9, 7, {.colorType = PNG_COLOR_TYPE_GRAY}); }},
        {"greyalpha.png",
         [](const std::string& p) { WritePng(p, 9, 7, {.colorType = PNG_COLOR_TYPE_GRAY_ALPHA}); }},
        {"palette.png",
         [](const std::string& p) { WritePng(p, 9, 7, {.colorType = PNG_COLOR_TYPE_PALETTE}); }},
        {"rgb16.png", [](const std::string& p) { WritePng(p, 9, 7, {.depth = 16}); }},
        {"transparent.png", [](const std::string& p) { WritePng(p, 9, 7, {.transparentColour = true}); }},
        {"grey.jpg",
         [](const std::string& p) {
             WriteJpeg(p, 9, 7, {.input = JCS_GRAYSCALE, .components = 1, .coded = JCS_GRAYSCALE});
         }},
        {"cmyk.jpg",
         [](const std::string& p) {
             WriteJpeg(p, 9, 7, {.input = JCS_CMYK, .components = 4, .coded = JCS_CMYK});
         }},
        {"ycck.jpg",
         [](const std::string& p) {
             WriteJpeg(p, 9, 7, {.input = JCS_CMYK, .components = 4, .coded = JCS_YCCK});
         }},
        {"grey.tif",
         [](const std::string& p) {
             WriteTiff(p, 9, 7, {.samples = 1, .photometric = PHOTOMETRIC_MINISBLACK});
         }},
        {"rgba.tif", [](const std::string& p) { WriteTiff(p, 9, 7, {.samples = 4, .extraAlpha = true}); }},
        {"rgb16.tif", [](const std::string& p) { WriteTiff(p, 9, 7, {.bits = 16}); }},
        {"cmyk.tif",
         [](const std::string& p) {
             WriteTiff(p, 9, 7, {.samples = 4, .photometric = PHOTOMETRIC_SEPARATED});
         }},
        {"32bit.bmp", [](const std::string& p) { WriteBytes(p, MakeBmp(9, 7, {.bitCount = 32})); }},
        {"bitfields.bmp", [](const std::string& p) { WriteBytes(p, MakeBmp(9, 7, {.compression = 3})); }},
        {"coreheader.bmp", [](const std::string& p) { WriteBytes(p, MakeBmp(9, 7, {.infoSize = 12})); }},
        {"ours8.bmp", ours(ImageFileFormat::Bmp)},
        {"ours8.png", ours(ImageFileFormat::Png)},
        {"ours8.tif", ours(ImageFileFormat::Tiff)},
        {"ours8.jpg", ours(ImageFileFormat::Jpeg)},
        {"header.gif",
         [](const std::string& p) {
             WriteBytes(p, Bytes{'G', 'I', 'F', '8', '9', 'a', 9, 0, 7, 0, 0, 0, 0, ';'});
         }},
        {"text.jpg",
         [](const std::string& p) {
             WriteBytes(p, Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'});
         }},
        {"empty.png", [](const std::string& p) { WriteBytes(p, Bytes{}); }},
        {"cut.jpg", cut(ImageFileFormat::Jpeg)},
        {"cut.png", cut(ImageFileFormat::Png)},
        {"cut.bmp", cut(ImageFileFormat::Bmp)},
        {"cut.tif", cut(ImageFileFormat::Tiff)},
        {"missing.jpg", [](const std::string&) {}},
        {"folder.png", [](const std::string& p) { std::filesystem::create_directory(p); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        c.write(path);
        Sink sink;
        EXPECT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Unsupported);
        EXPECT_EQ(sink.allocations, 0);
    }
}

// Every way of cutting a file short is refused, and none reaches the sink.
TEST(ImageFileDecode, RefusesFilesCutAnywhere) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    for (const ImageFileFormat format : kAllFormats) {
        SCOPED_TRACE(Name(format));
        const Bytes whole = EncodedFile(dir, format, image);
        const std::string path = dir / "cut";
        const std::size_t step = std::max<std::size_t>(1, whole.size() / 200);
        for (std::size_t length = 0; length < whole.size(); length += step) {
            WriteBytes(path, Bytes(whole.begin(), whole.begin() + length));
            Sink sink;
            EXPECT_EQ(DecodeRgb24(path, sink), ImageFileStatus::Unsupported)
                << "cut at " << length << " of " << whole.size();
            EXPECT_EQ(sink.allocations, 0);
        }
    }
}

// Damaged bytes anywhere in a file give either a picture of the declared size or a
// refusal; never a crash (the sanitizer build checks the reads).
TEST(ImageFileDecode, SurvivesDamagedBytes) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (const ImageFileFormat format : kAllFormats) {
        SCOPED_TRACE(Name(format));
        const Bytes whole = EncodedFile(dir, format, image);
        const std::string path = dir / "damaged";
        for (int trial = 0; trial < 300; ++trial) {
            Bytes bytes = whole;
            const int hits = 1 + static_cast<int>(next() % 4);
            // Most damage goes to the first bytes, where the headers are.
            for (int i = 0; i < hits; ++i) {
                const std::size_t span = next() % 2 ? std::min<std::size_t>(bytes.size(), 256) : bytes.size();
                bytes[next() % span] = static_cast<std::uint8_t>(next());
            }
            WriteBytes(path, bytes);
            Sink sink;
            const ImageFileStatus status = DecodeRgb24(path, sink);
            if (status == ImageFileStatus::Ok) {
                EXPECT_EQ(sink.allocations, 1);
                EXPECT_EQ(sink.pixels.size(), static_cast<std::size_t>(sink.width) * sink.height * 3);
            } else {
                EXPECT_EQ(status, ImageFileStatus::Unsupported) << "trial " << trial;
                EXPECT_EQ(sink.allocations, 0);
            }
        }
    }
}

// Headers that claim enormous pictures are refused before any memory is asked for (the
// sanitizer build would fail on the attempt).
TEST(ImageFileDecode, RefusesAbsurdSizesWithoutAllocating) {
    TestData::ScratchDir dir;
    Bytes bmp = MakeBmp(4, 4, {});
    Put32(bmp, 18, 100000);
    Put32(bmp, 22, 100000);
    WriteBytes(dir / "huge.bmp", bmp);

    Bytes topDown = MakeBmp(4, 4, {});
    Put32(topDown, 22, 0x80000000u);  // the most negative height
    WriteBytes(dir / "mostnegative.bmp", topDown);

    Bytes jpeg = EncodedFile(dir, ImageFileFormat::Jpeg, Pattern(16, 16, 24));
    bool patched = false;
    for (std::size_t i = 0; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // start of frame: height, width at +5
            jpeg[i + 5] = jpeg[i + 7] = 0xEA;
            jpeg[i + 6] = jpeg[i + 8] = 0x60;
            patched = true;
            break;
        }
    ASSERT_TRUE(patched);
    WriteBytes(dir / "huge.jpg", jpeg);

    WritePng(dir / "huge.png", 1, 1, {});
    Bytes png = ReadBytes(dir / "huge.png");
    // IHDR width and height at 16 and 20, then the chunk's CRC (big-endian) over type and data.
    const auto putBig = [&png](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    putBig(16, 65536);
    putBig(20, 65536);
    putBig(29, static_cast<std::uint32_t>(crc32(0, &png[12], 17)));
    WriteBytes(dir / "huge.png", png);

    for (const char* name : {"huge.bmp", "mostnegative.bmp", "huge.jpg", "huge.png"}) {
        Sink sink;
        g_largestArray = 0;
        EXPECT_EQ(DecodeRgb24(dir / name, sink), ImageFileStatus::Unsupported) << name;
        EXPECT_LT(g_largestArray, 1u << 20) << name;
        EXPECT_EQ(sink.allocations, 0) << name;
    }
}

// A FIFO or a device named like a photo is refused at once: opening a FIFO with no
// writer would otherwise wait for ever.
TEST(ImageFileDecode, RefusesFifosAndDevicesWithoutWaiting) {
    TestData::ScratchDir dir;
    const std::string fifo = dir / "pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.jpg");
    std::filesystem::create_symlink("/dev/null", dir / "null.png");
    for (const char* name : {"pipe.jpg", "zero.jpg", "null.png"}) {
        Sink sink;
        const std::string path = dir / name;
        auto decode = std::async(std::launch::async, [&] { return DecodeRgb24(path, sink); });
        if (decode.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let the blocked open go, so the test fails instead of hanging.
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
            decode.wait();
            ADD_FAILURE() << name << " was waited on";
            continue;
        }
        EXPECT_EQ(decode.get(), ImageFileStatus::Unsupported) << name;
        EXPECT_EQ(sink.allocations, 0) << name;
    }
}

TEST(ImageFileDecode, SinkThatCannotAllocateGivesOutOfMemory) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    for (const ImageFileFormat format : kAllFormats) {
        const std::string path = dir / (std::string("ok.") + Name(format));
        ASSERT_EQ(EncodeImage(path, format, image.View()), ImageFileStatus::Ok);
        Sink sink;
        sink.failAllocate = true;
        EXPECT_EQ(DecodeRgb24(path, sink), ImageFileStatus::OutOfMemory) << Name(format);
        EXPECT_EQ(sink.allocations, 1);
    }
}

TEST(ImageFileDecode, RealPhotosColourDecodesGreyIsRefused) {
    OVH_REQUIRE_PHOTOS();
    Sink sink;
    ASSERT_EQ(DecodeRgb24(TestData::Photo("apartment-ring/small-01.jpg").string(), sink),
              ImageFileStatus::Ok);
    EXPECT_EQ(sink.width, 600);
    EXPECT_EQ(sink.height, 398);
    const auto [low, high] = std::minmax_element(sink.pixels.begin(), sink.pixels.end());
    EXPECT_GT(*high - *low, 100);  // a photo, not a blank

    // The map scans are grey JPEGs: not 24-bit colour.
    Sink grey;
    EXPECT_EQ(DecodeRgb24(TestData::Photo("map-scans/budapest1.jpg").string(), grey),
              ImageFileStatus::Unsupported);
    EXPECT_EQ(grey.allocations, 0);
}

// ---------------------------------------------------------------------------------------

TEST(ImageFileSave, UnknownFormatWritesNothing) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    EXPECT_FALSE(FormatFromExtension(dir / "a.gif").has_value());
    EXPECT_EQ(EncodeImage(dir / "a.gif", static_cast<ImageFileFormat>(99), image.View()),
              ImageFileStatus::UnknownImageFormat);
    EXPECT_TRUE(Entries(dir.path()).empty());
}

TEST(ImageFileSave, BadPicturesLeaveAnExistingTargetUntouched) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    const std::string target = dir / "keep.png";
    const Bytes before{'o', 'l', 'd'};
    WriteBytes(target, before);
    const auto with = [&](auto change) {
        ImageView view = image.View();
        change(view);
        return view;
    };
    const struct {
        const char* what;
        ImageView view;
    } cases[] = {
        {"no bits", with([](ImageView& v) { v.bits = nullptr; })},
        {"16 bpp", with([](ImageView& v) { v.bpp = 16; })},
        {"32 bpp", with([](ImageView& v) { v.bpp = 32; })},
        {"zero width", with([](ImageView& v) { v.width = 0; })},
        {"negative height", with([](ImageView& v) { v.height = -23; })},
        {"short stride", with([](ImageView& v) { v.stride = 37 * 3 - 1; })},
    };
    for (const auto& c : cases)
        for (const ImageFileFormat format : kAllFormats) {
            EXPECT_EQ(EncodeImage(target, format, c.view), ImageFileStatus::Other)
                << c.what << ", " << Name(format);
            EXPECT_EQ(ReadBytes(target), before) << c.what;
        }
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"keep.png"});
}

TEST(ImageFileSave, MissingFolderIsFileNotFound) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    WriteBytes(dir / "plainfile", Bytes{1});
    for (const char* target : {"nosuchfolder/a.png", "plainfile/a.png"})
        EXPECT_EQ(EncodeImage(dir / target, ImageFileFormat::Png, image.View()),
                  ImageFileStatus::FileNotFound)
            << target;
}

TEST(ImageFileSave, ReadOnlyFolderIsAccessDenied) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    const std::string folder = dir / "locked";
    std::filesystem::create_directory(folder);
    WriteBytes(folder + "/a.bmp", Bytes{'o', 'l', 'd'});
    ::chmod(folder.c_str(), 0555);
    EXPECT_EQ(EncodeImage(folder + "/a.bmp", ImageFileFormat::Bmp, image.View()),
              ImageFileStatus::AccessDenied);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadBytes(folder + "/a.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"a.bmp"});
}

// A write that fails half-way (here: the file-size limit) must leave the old file whole
// and no temporary file behind.
TEST(ImageFileSave, FailureWhileWritingKeepsTheOldFile) {
    TestData::ScratchDir dir;
    const Image image = Pattern(200, 100, 24);
    const Bytes before(100, 'x');
    struct rlimit original;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const ImageFileFormat format : kAllFormats) {
        const std::string target = dir / (std::string("old.") + Name(format));
        WriteBytes(target, before);
        struct rlimit limited = original;
        limited.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const ImageFileStatus status = EncodeImage(target, format, image.View());
        ::setrlimit(RLIMIT_FSIZE, &original);
        EXPECT_EQ(status, ImageFileStatus::Other) << Name(format);
        EXPECT_EQ(ReadBytes(target), before) << Name(format);
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"old.bmp", "old.jpg", "old.png", "old.tif"}));
}

// A folder, or a link to one, is refused before anything is written: no file is
// flushed or renamed, and the folder stays as it was.
TEST(ImageFileSave, TargetThatIsAFolderIsRefusedBeforeEncoding) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    std::filesystem::create_directory(dir / "taken.png");
    std::filesystem::create_directory_symlink("taken.png", dir / "link.png");
    for (const char* target : {"taken.png", "link.png", "taken.png/"}) {
        SyncProbe::Recorder probe;
        EXPECT_EQ(EncodeImage(dir / target, ImageFileFormat::Png, image.View()),
                  ImageFileStatus::AccessDenied)
            << target;
        EXPECT_TRUE(probe.Events().empty()) << target;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "taken.png"));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"link.png", "taken.png"}));
}

// The new file is flushed before it replaces the old one, and the folder after.
TEST(ImageFileSave, FlushesTheFileBeforeTheRenameAndTheFolderAfter) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    for (const ImageFileFormat format : kAllFormats) {
        const std::string target = dir / (std::string("out.") + Name(format));
        WriteBytes(target, Bytes{'o', 'l', 'd'});
        SyncProbe::Recorder probe;
        ASSERT_EQ(EncodeImage(target, format, image.View()), ImageFileStatus::Ok);
        const auto events = probe.Events();
        ASSERT_EQ(events.size(), 3u) << Name(format);
        const ino_t written = SyncProbe::InodeOf(target);
        EXPECT_EQ(events[0].kind, SyncProbe::Event::SyncFile);
        EXPECT_EQ(events[0].inode, written);
        EXPECT_EQ(events[1].kind, SyncProbe::Event::Rename);
        EXPECT_EQ(events[1].inode, written);
        EXPECT_EQ(events[1].to, target);
        EXPECT_EQ(events[2].kind, SyncProbe::Event::SyncFolder);
        EXPECT_EQ(events[2].inode, SyncProbe::InodeOf(dir.path()));
    }
}

// A save through a symbolic link replaces the file it points to (following a chain,
// relative or absolute, or creating the file a dangling link names) and keeps the link.
TEST(ImageFileSave, SymbolicLinkTargetReplacesTheFileAndKeepsTheLink) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    namespace fs = std::filesystem;
    fs::create_directory(dir / "real");
    WriteBytes(dir / "real/photo.png", Bytes{'o', 'l', 'd'});
    fs::create_symlink("real/photo.png", dir / "relative.png");
    fs::create_symlink(dir / "real/photo.png", dir / "absolute.png");
    fs::create_symlink("relative.png", dir / "chain.png");
    fs::create_symlink("real/new.png", dir / "dangling.png");
    const struct {
        const char* link;
        const char* file;
    } cases[] = {{"relative.png", "real/photo.png"},
                 {"absolute.png", "real/photo.png"},
                 {"chain.png", "real/photo.png"},
                 {"dangling.png", "real/new.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const fs::path before = fs::read_symlink(dir / c.link);
        const Image picture = Pattern(20 + static_cast<int>(std::strlen(c.link)), 11, 24);
        ASSERT_EQ(EncodeImage(dir / c.link, ImageFileFormat::Png, picture.View()), ImageFileStatus::Ok);
        EXPECT_TRUE(fs::is_symlink(dir / c.link));
        EXPECT_EQ(fs::read_symlink(dir / c.link), before);
        Sink sink;
        ASSERT_EQ(DecodeRgb24(dir / c.file, sink), ImageFileStatus::Ok);
        ExpectSamePicture(sink, picture);
    }
    EXPECT_EQ(Entries(dir / "real"), (std::vector<std::string>{"new.png", "photo.png"}));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"absolute.png", "chain.png", "dangling.png",
                                                             "real", "relative.png"}));

    // Links that never end are refused and create nothing.
    fs::create_symlink("loop-b.png", dir / "loop-a.png");
    fs::create_symlink("loop-a.png", dir / "loop-b.png");
    EXPECT_EQ(EncodeImage(dir / "loop-a.png", ImageFileFormat::Png, image.View()), ImageFileStatus::Other);
    EXPECT_EQ(Entries(dir.path()).size(), 7u);
}

// A rename that fails leaves the old file byte for byte and no temporary file, and says why.
TEST(ImageFileSave, FailedRenameKeepsTheTargetAndGivesTheMatchingStatus) {
    TestData::ScratchDir dir;
    const Image image = Pattern(37, 23, 24);
    const Bytes before{'o', 'l', 'd'};
    const struct {
        int error;
        ImageFileStatus status;
    } cases[] = {{EACCES, ImageFileStatus::AccessDenied},
                 {EROFS, ImageFileStatus::AccessDenied},
                 {ENOENT, ImageFileStatus::FileNotFound},
                 {ENOSPC, ImageFileStatus::Other},
                 {EXDEV, ImageFileStatus::Other}};
    for (const auto& c : cases)
        for (const ImageFileFormat format : kAllFormats) {
            const std::string target = dir / (std::string("keep.") + Name(format));
            WriteBytes(target, before);
            SyncProbe::Recorder probe(c.error);
            EXPECT_EQ(EncodeImage(target, format, image.View()), c.status) << std::strerror(c.error);
            EXPECT_EQ(ReadBytes(target), before);
        }
    EXPECT_EQ(Entries(dir.path()),
              (std::vector<std::string>{"keep.bmp", "keep.jpg", "keep.png", "keep.tif"}));
}

TEST(ImageFileSave, ReplacingKeepsPermissionsAndNewFilesFollowTheUmask) {
    TestData::ScratchDir dir;
    const Image first = Pattern(37, 23, 24);
    const Image second = Smooth(37, 23, 24);
    const std::string existing = dir / "existing.bmp";
    ASSERT_EQ(EncodeImage(existing, ImageFileFormat::Bmp, first.View()), ImageFileStatus::Ok);
    ::chmod(existing.c_str(), 0640);
    ASSERT_EQ(EncodeImage(existing, ImageFileFormat::Bmp, second.View()), ImageFileStatus::Ok);
    Sink sink;
    ASSERT_EQ(DecodeRgb24(existing, sink), ImageFileStatus::Ok);
    ExpectSamePicture(sink, second);
    struct stat info;
    ASSERT_EQ(::stat(existing.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const mode_t oldMask = ::umask(022);
    ASSERT_EQ(EncodeImage(dir / "fresh.png", ImageFileFormat::Png, first.View()), ImageFileStatus::Ok);
    ::umask(oldMask);
    ASSERT_EQ(::stat((dir / "fresh.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"existing.bmp", "fresh.png"}));
}

TEST(FileReplacement, TemporariesOfKilledWritersGoBeforeTheNextWriteThere) {
    TestData::ScratchDir dir;
    const std::string dead = std::to_string(TestData::ExitedProcessId());
    const std::string alive = "1";  // init: always running
    const std::string self = std::to_string(::getpid());
    struct Case {
        std::string name;
        bool removed;
    };
    const Case cases[] = {
        {".result.png.tmp-" + dead + "-a1B2c3", true},
        {".other.ini.tmp-" + dead + "-zzzzzz", true},  // another file's, in the same folder
        {".result.png.tmp-" + alive + "-a1B2c3", false},
        {".result.png.tmp-" + self + "-a1B2c3", false},  // a write of this process
        {".result.png.tmp-a1B2c3", false},               // no writer named: not ours to judge
        {".result.png.tmp-" + dead + "-a1B2", false},
        {"result.png.tmp-" + dead + "-a1B2c3", false},
        {"notes.txt", false},
    };
    for (const Case& c : cases)
        std::ofstream(dir / c.name) << "x";
    Platform::FileReplacement file;
    ASSERT_EQ(file.Begin(dir / "result.png"), 0);
    EXPECT_EQ(file.TemporaryPath().rfind(dir / (".result.png.tmp-" + self + "-"), 0), 0u)
        << file.TemporaryPath();
    for (const Case& c : cases)
        EXPECT_NE(std::filesystem::exists(dir / c.name), c.removed) << c.name;
    file.Abandon();
}
