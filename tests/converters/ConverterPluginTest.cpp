// The BMP, JPEG, PNG and TIFF converter modules on their own, driven through
// their entry points the way the library drives them: what they declare, what
// they write and read back, what the codec libraries make of their files and
// they of the libraries' files, and how they fail on damaged input.

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "DamagedFiles.h"
#include "LibraryFiles.h"
#include "PluginHarness.h"
#include "TestData.h"

using PluginTest::MemoryStream;
using PluginTest::Picture;
using PluginTest::Plugin;
using PluginTest::ReadThrough;
using PluginTest::WriteThrough;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A picture of random content; paletted pictures get a random palette, grey
// ones the ramp the library hands to writers; bits past the row's last pixel stay 0.
Picture MakePicture(int colourType, int bits, int width, int height, unsigned seed) {
    Picture p;
    p.width = width;
    p.height = height;
    p.colourType = colourType;
    p.bits = bits;
    std::mt19937 random(seed);
    p.rows.resize(p.BytesPerRow() * static_cast<std::size_t>(height));
    for (auto& b : p.rows)
        b = static_cast<std::uint8_t>(random());
    const std::size_t usedBits = static_cast<std::size_t>(width) * p.SampleBits() * p.SamplesPerPixel();
    if (usedBits % 8)
        for (int y = 0; y < height; ++y)
            p.Row(y)[p.BytesPerRow() - 1] &= static_cast<std::uint8_t>(0xFF << (8 - usedBits % 8));
    if (bits <= 8) {
        const int entries = 1 << bits;
        for (int i = 0; i < entries; ++i) {
            const auto grey = static_cast<std::uint8_t>(i * 255 / (entries - 1));
            for (int plane = 0; plane < 3; ++plane)
                p.palette[plane * 256 + i] =
                    colourType == ImExp::ColourColorPaletted ? static_cast<std::uint8_t>(random()) : grey;
        }
    }
    return p;
}

Bytes Encode(const std::string& converter, const Picture& p, int* code = nullptr) {
    Plugin plugin(converter);
    MemoryStream stream;
    const int result = WriteThrough(plugin, stream, p);
    if (code)
        *code = result;
    return result == 0 ? stream.Bytes() : Bytes();
}

PluginTest::ReadResult Decode(const std::string& converter, const Bytes& file, int imageIndex = 0) {
    Plugin plugin(converter);
    MemoryStream stream(file);
    return ReadThrough(plugin, stream, imageIndex);
}

double Psnr(const Bytes& a, const Bytes& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A smooth picture (JPEG's kind of content), red first.
Picture Gradient(int colourType, int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    p.colourType = colourType;
    p.bits = colourType == ImExp::ColourRgb ? 24 : 8;
    p.rows.resize(p.BytesPerRow() * static_cast<std::size_t>(height));
    const int samples = p.SamplesPerPixel();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < samples; ++s)
                p.Row(y)[x * samples + s] =
                    static_cast<std::uint8_t>(20 + x * 150 / width + y * 60 / height + s * 20);
    for (int i = 0; i < 256; ++i)
        p.palette[i] = p.palette[256 + i] = p.palette[512 + i] = static_cast<std::uint8_t>(i);
    return p;
}

const char* const kConverters[] = {"conv_bmp", "conv_jpeg", "conv_tiff", "conv_png"};

}  // namespace

TEST(ConverterPlugins, DeclareThemselvesAndAreListedBesideTheLibrary) {
    std::string patterns;
    for (const char* name : kConverters) {
        Plugin plugin(name);
        ASSERT_TRUE(plugin.Loaded()) << name << ": " << dlerror();
        const int version = PLUGIN_ENTRY(plugin, ConvGetVersion)();
        EXPECT_GE(version & 0xFFFF, 0x300) << name;
        EXPECT_EQ(version & 0x30000, 0x30000) << name << " imports and exports";
        ConverterRecord record{};
        PLUGIN_ENTRY(plugin, ConvGetDllInfo)(&record, "CONVERT.INI");
        EXPECT_EQ(record.flags & 0x13, 0x13u) << name << ": read, write, content check";
        EXPECT_NE(record.subformatMask & 0x200, 0u) << name << " writes 24-bit colour";
        EXPECT_GT(std::strlen(record.name), 0u);
        EXPECT_GT(std::strlen(record.filterDescription), 0u);
        EXPECT_TRUE(PLUGIN_ENTRY(plugin, RDCheckFile) && PLUGIN_ENTRY(plugin, ConvGetErrorString)) << name;
        patterns += std::string(record.patterns) + ";";
    }
    for (const char* ext : {".bmp;", ".jpg;", ".tif;", ".png;"})
        EXPECT_NE(patterns.find(ext), std::string::npos) << ext;
    // The library frees its converter after every operation: that must unmap it.
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        for (const char* name : kConverters)
            EXPECT_EQ(line.find(PluginTest::ConverterPath(name)), std::string::npos) << line;

    std::ifstream ini(std::string(CONVERTER_DIR) + "/../CONVERT.INI");
    std::stringstream text;
    text << ini.rdbuf();
    EXPECT_EQ(text.str(),
              "[Converters]\n0=converters/conv_bmp.so\n1=converters/conv_jpeg.so\n2=converters/conv_tiff.so\n"
              "3=converters/conv_png.so\n");
}

namespace {

struct RoundTrip {
    const char* converter;
    int colourType;
    int bits;
    int colourTypeBack;  // grey may come back as a ramp palette, a ramp palette as grey
};

std::ostream& operator<<(std::ostream& os, const RoundTrip& c) {
    return os << c.converter << " colour type " << c.colourType << ", " << c.bits << " bits";
}

class ConverterRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

}  // namespace

// Odd sizes, more rows than one band, every pixel back as written.
TEST_P(ConverterRoundTrip, GivesBackEveryPixel) {
    const RoundTrip c = GetParam();
    for (auto [width, height] : {std::pair{37, 71}, std::pair{1, 1}, std::pair{203, 2}}) {
        Picture p =
            MakePicture(c.colourType, c.bits, width, height, static_cast<unsigned>(width * 7 + c.bits));
        p.unit = ImExp::UnitDotsPerInch;
        p.xResolution = p.yResolution = 300;
        if (std::string(c.converter) == "conv_bmp" || std::string(c.converter) == "conv_png") {
            p.unit = ImExp::UnitDotsPerCentimetre;  // what their write option asks for
            p.xResolution = p.yResolution = 118;
        }
        int code = 0;
        const Bytes file = Encode(c.converter, p, &code);
        ASSERT_EQ(code, 0) << width << "x" << height;
        const auto back = Decode(c.converter, file);
        ASSERT_EQ(back.code, 0) << width << "x" << height;
        const Picture& q = back.picture;
        EXPECT_EQ(q.width, width);
        EXPECT_EQ(q.height, height);
        EXPECT_EQ(q.colourType, c.colourTypeBack);
        EXPECT_EQ(q.bits, c.bits);
        EXPECT_EQ(q.rows, p.rows) << width << "x" << height;
        EXPECT_EQ(q.unit, p.unit);
        EXPECT_EQ(q.xResolution, p.xResolution);
        EXPECT_EQ(q.yResolution, p.yResolution);
        if (c.colourTypeBack == ImExp::ColourColorPaletted) {
            for (int plane = 0; plane < 3; ++plane)
                EXPECT_EQ(0, std::memcmp(q.palette + 256 * plane, p.palette + 256 * plane, 1u << c.bits));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lossless, ConverterRoundTrip,
                         ::testing::Values(RoundTrip{"conv_bmp", 2, 1, 2}, RoundTrip{"conv_bmp", 2, 4, 2},
                                           RoundTrip{"conv_bmp", 2, 8, 2}, RoundTrip{"conv_bmp", 0, 8, 2},
                                           RoundTrip{"conv_bmp", 0, 1, 2}, RoundTrip{"conv_bmp", 3, 24, 3},
                                           RoundTrip{"conv_png", 0, 1, 0}, RoundTrip{"conv_png", 0, 4, 0},
                                           RoundTrip{"conv_png", 0, 8, 0}, RoundTrip{"conv_png", 0, 16, 0},
                                           RoundTrip{"conv_png", 2, 4, 2}, RoundTrip{"conv_png", 2, 8, 2},
                                           RoundTrip{"conv_png", 3, 24, 3}, RoundTrip{"conv_png", 3, 48, 3},
                                           RoundTrip{"conv_png", 4, 8, 4}, RoundTrip{"conv_png", 4, 16, 4},
                                           RoundTrip{"conv_png", 5, 24, 5}, RoundTrip{"conv_png", 5, 48, 5},
                                           RoundTrip{"conv_tiff", 0, 1, 0}, RoundTrip{"conv_tiff", 0, 4, 0},
                                           RoundTrip{"conv_tiff", 0, 8, 0}, RoundTrip{"conv_tiff", 0, 16, 0},
                                           RoundTrip{"conv_tiff", 2, 1, 2}, RoundTrip{"conv_tiff", 2, 4, 2},
                                           RoundTrip{"conv_tiff", 2, 8, 2}, RoundTrip{"conv_tiff", 3, 24, 3},
                                           RoundTrip{"conv_tiff", 3, 48, 3}, RoundTrip{"conv_tiff", 4, 8, 4},
                                           RoundTrip{"conv_tiff", 4, 16, 4}, RoundTrip{"conv_tiff", 5, 24, 5},
                                           RoundTrip{"conv_tiff", 5, 48, 5}));

TEST(ConverterPlugins, JpegRoundTripIsClose) {
    for (int colourType : {ImExp::ColourGrayScale, ImExp::ColourRgb}) {
        Picture p = Gradient(colourType, 97, 45);
        p.unit = ImExp::UnitDotsPerInch;
        p.xResolution = p.yResolution = 240;
        int code = 0;
        const Bytes file = Encode("conv_jpeg", p, &code);
        ASSERT_EQ(code, 0);
        const auto back = Decode("conv_jpeg", file);
        ASSERT_EQ(back.code, 0);
        EXPECT_EQ(back.picture.colourType, colourType);
        EXPECT_EQ(back.picture.width, 97);
        EXPECT_EQ(back.picture.height, 45);
        EXPECT_EQ(back.picture.unit, ImExp::UnitDotsPerInch);
        EXPECT_EQ(back.picture.xResolution, 240);
        ASSERT_EQ(back.picture.rows.size(), p.rows.size());
        EXPECT_GT(Psnr(back.picture.rows, p.rows), 35.0) << "colour type " << colourType;
    }
}

TEST(ConverterPlugins, RefuseOutputTheyCannotWrite) {
    const std::pair<const char*, Picture> cases[] = {
        {"conv_bmp", MakePicture(ImExp::ColourRgb, 48, 4, 4, 1)},
        {"conv_bmp", MakePicture(ImExp::ColourRgbAlpha, 24, 4, 4, 1)},
        {"conv_jpeg", MakePicture(ImExp::ColourColorPaletted, 8, 4, 4, 1)},
        {"conv_jpeg", MakePicture(ImExp::ColourRgb, 48, 4, 4, 1)},
        {"conv_png", MakePicture(ImExp::ColourCmyk, 32, 4, 4, 1)},
        {"conv_tiff", MakePicture(ImExp::ColourLab, 24, 4, 4, 1)},
    };
    for (const auto& [converter, picture] : cases) {
        int code = 0;
        Encode(converter, picture, &code);
        EXPECT_EQ(code, ImExp::ErrorUnsupportedSubformat)
            << converter << " colour type " << picture.colourType;
    }
}

// The libraries' own readers take what the converters write.
TEST(ConverterPlugins, WrittenFilesOpenInTheLibrariesReaders) {
    const Picture rgb = MakePicture(ImExp::ColourRgb, 24, 29, 17, 5);
    {
        const Bytes file = Encode("conv_png", rgb);
        int w = 0, h = 0;
        Bytes rgba;
        ASSERT_TRUE(LibraryFiles::PngDecodeRgba(file, w, h, rgba));
        ASSERT_EQ(w * h, 29 * 17);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(0, std::memcmp(&rgba[4 * i], &rgb.rows[3 * i], 3)) << "pixel " << i;
    }
    {
        TestData::ScratchDir dir;
        const Bytes file = Encode("conv_tiff", rgb);
        std::ofstream(dir / "x.tif", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        int w = 0, h = 0;
        Bytes rgba;
        ASSERT_TRUE(LibraryFiles::TiffDecodeRgba(dir / "x.tif", w, h, rgba));
        ASSERT_EQ(w * h, 29 * 17);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(0, std::memcmp(&rgba[4 * i], &rgb.rows[3 * i], 3)) << "pixel " << i;
    }
    {
        const Picture smooth = Gradient(ImExp::ColourRgb, 64, 48);
        const Bytes file = Encode("conv_jpeg", smooth);
        int w = 0, h = 0, components = 0;
        Bytes rows;
        ASSERT_TRUE(LibraryFiles::JpegDecode(file, w, h, components, rows));
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 48);
        EXPECT_EQ(components, 3);
        EXPECT_GT(Psnr(rows, smooth.rows), 35.0);
    }
    {
        // BMP: no library here; the layout is checked field by field.
        const Picture grey = MakePicture(ImExp::ColourColorPaletted, 8, 5, 3, 2);
        const Bytes file = Encode("conv_bmp", grey);
        const std::size_t stride = 8;  // 5 bytes padded to 4
        ASSERT_EQ(file.size(), 14 + 40 + 256 * 4 + stride * 3);
        auto u32 = [&](std::size_t at) {
            return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24;
        };
        EXPECT_EQ(u32(2), static_cast<int>(file.size()));
        EXPECT_EQ(u32(10), 14 + 40 + 1024);
        EXPECT_EQ(u32(18), 5);
        EXPECT_EQ(u32(22), 3);
        // Bottom row first, padding zero.
        EXPECT_EQ(0, std::memcmp(&file[u32(10)], grey.Row(2), 5));
        EXPECT_EQ(file[u32(10) + 5], 0);
        EXPECT_EQ(0, std::memcmp(&file[u32(10) + 2 * stride], grey.Row(0), 5));
        EXPECT_EQ(file[54 + 4 * 7 + 2], grey.palette[7]) << "entries blue, green, red, 0";
    }
}

// And the converters take the libraries' files, in the forms only a library makes.
TEST(ConverterPlugins, ReadPngFilesOfEveryKind) {
    using LibraryFiles::PngLayout;
    {
        // Two-bit grey comes one pixel to a byte, values 0 to 3.
        PngLayout layout{5, 2, PNG_COLOR_TYPE_GRAY, 2, false, {0x1B, 0xC0, 0xE4, 0x40}, {}, {}};
        const auto r = Decode("conv_png", LibraryFiles::PngEncode(layout));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.bits, 2);
        EXPECT_EQ(r.picture.rows, (Bytes{0x1B, 0xC0, 0xE4, 0x40}));
    }
    {
        // A palette with transparency becomes colour with alpha.
        PngLayout layout{
            3,       1, PNG_COLOR_TYPE_PALETTE, 8, false, {0, 1, 2}, {10, 20, 30, 40, 50, 60, 70, 80, 90},
            {0, 128}};
        const auto r = Decode("conv_png", LibraryFiles::PngEncode(layout));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.colourType, ImExp::ColourRgbAlpha);
        EXPECT_EQ(r.picture.rows, (Bytes{10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}));
    }
    {
        // Sixteen-bit samples arrive in host order.
        PngLayout layout{2, 1, PNG_COLOR_TYPE_GRAY, 16, false, {0x12, 0xAB, 0xFF, 0x01}, {}, {}};
        const auto r = Decode("conv_png", LibraryFiles::PngEncode(layout));
        ASSERT_EQ(r.code, 0);
        std::uint16_t values[2];
        std::memcpy(values, r.picture.rows.data(), 4);
        EXPECT_EQ(values[0], 0x12AB);
        EXPECT_EQ(values[1], 0xFF01);
    }
    {
        // Interlaced files come whole.
        const Picture p = MakePicture(ImExp::ColourRgb, 24, 19, 13, 9);
        PngLayout layout{19, 13, PNG_COLOR_TYPE_RGB, 8, true, p.rows, {}, {}};
        const auto r = Decode("conv_png", LibraryFiles::PngEncode(layout));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.rows, p.rows);
    }
}

TEST(ConverterPlugins, ReadJpegFilesOfTheLibrary) {
    for (bool progressive : {false, true})
        for (int components : {1, 3}) {
            const Picture p = Gradient(components == 3 ? ImExp::ColourRgb : ImExp::ColourGrayScale, 50, 39);
            const Bytes file = LibraryFiles::JpegEncode(50, 39, components, p.rows, 85, progressive);
            int w = 0, h = 0, c = 0;
            Bytes expected;
            ASSERT_TRUE(LibraryFiles::JpegDecode(file, w, h, c, expected));
            const auto r = Decode("conv_jpeg", file);
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.picture.rows, expected) << "the library's own decode, progressive " << progressive;
        }
    const Bytes cmyk = LibraryFiles::JpegEncode(8, 8, 4, Bytes(8 * 8 * 4, 100), 85, false);
    EXPECT_EQ(Decode("conv_jpeg", cmyk).code, ImExp::ErrorUnsupportedSubformat);
}

TEST(ConverterPlugins, ReadTiffFilesOfEveryKind) {
    using LibraryFiles::TiffPage;
    TestData::ScratchDir dir;
    const std::string path = dir / "x.tif";
    auto read = [&](const std::vector<TiffPage>& pages, int index = 0) {
        EXPECT_TRUE(LibraryFiles::TiffWrite(path, pages));
        std::ifstream in(path, std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return Decode("conv_tiff", file, index);
    };
    const Picture rgb = MakePicture(ImExp::ColourRgb, 24, 21, 18, 3);
    for (bool planar : {false, true})
        for (bool tiled : {false, true}) {
            TiffPage page{21, 18, 3, 8, PHOTOMETRIC_RGB, planar, tiled, false, COMPRESSION_LZW, {}, rgb.rows};
            const auto r = read({page});
            ASSERT_EQ(r.code, 0) << "planar " << planar << " tiled " << tiled;
            EXPECT_EQ(r.picture.rows, rgb.rows) << "planar " << planar << " tiled " << tiled;
        }
    {
        // One-bit white-is-zero: the flag goes to the library, which turns it round.
        TiffPage page{
            9, 1, 1, 1, PHOTOMETRIC_MINISWHITE, false, false, false, COMPRESSION_PACKBITS, {}, {0xA5, 0x80}};
        const auto r = read({page});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.inverted, 1);
        EXPECT_EQ(r.picture.rows, (Bytes{0xA5, 0x80}));
    }
    {
        // Eight-bit white-is-zero comes turned round already.
        TiffPage page{
            3, 1, 1, 8, PHOTOMETRIC_MINISWHITE, false, false, false, COMPRESSION_NONE, {}, {0, 100, 255}};
        const auto r = read({page});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.inverted, 0);
        EXPECT_EQ(r.picture.rows, (Bytes{255, 155, 0}));
    }
    {
        TiffPage page{4,  1,           1, 4, PHOTOMETRIC_PALETTE, false, false, false, COMPRESSION_NONE,
                      {}, {0x01, 0xF2}};
        page.colourMap.assign(48, 0);
        for (int i = 0; i < 16; ++i)
            page.colourMap[i] = static_cast<std::uint16_t>(i * 4096), page.colourMap[32 + i] = 0xFFFF;
        const auto r = read({page});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.colourType, ImExp::ColourColorPaletted);
        EXPECT_EQ(r.picture.palette[15], 0xF0);
        EXPECT_EQ(r.picture.palette[512 + 3], 0xFF);
        EXPECT_EQ(r.picture.rows, (Bytes{0x01, 0xF2}));
    }
    {
        const Picture rgba = MakePicture(ImExp::ColourRgbAlpha, 24, 7, 6, 4);
        const Picture grey16 = MakePicture(ImExp::ColourGrayScale, 16, 5, 4, 8);
        TiffPage first{7,  6,        4, 8, PHOTOMETRIC_RGB, false, false, true, COMPRESSION_ADOBE_DEFLATE,
                       {}, rgba.rows};
        TiffPage second{5,  4,          1, 16, PHOTOMETRIC_MINISBLACK, false, false, false, COMPRESSION_LZW,
                        {}, grey16.rows};
        auto r = read({first, second}, 0);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.colourType, ImExp::ColourRgbAlpha);
        EXPECT_EQ(r.picture.rows, rgba.rows);
        r = read({first, second}, 1);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.bits, 16);
        EXPECT_EQ(r.picture.rows, grey16.rows);

        Plugin plugin("conv_tiff");
        std::ifstream in(path, std::ios::binary);
        MemoryStream stream(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        int count = 0, chooses = 1;
        EXPECT_EQ(PLUGIN_ENTRY(plugin, RDGetImageCount)(&stream, "CONVERT.INI", &count, &chooses), 0);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(chooses, 0);
        CONVIMAGEINFO info{};
        EXPECT_EQ(PLUGIN_ENTRY(plugin, RDGetImageInfo)(&stream, 1, "CONVERT.INI", &info), 0);
        EXPECT_STREQ(info.formatName, "TIFF");
        EXPECT_STREQ(info.compression, "LZW");
        EXPECT_EQ(info.imageCount, 2);
        EXPECT_EQ(info.width, 5u);
        EXPECT_EQ(info.bitsPerPixel, 16);
    }
}

TEST(ConverterPlugins, ReadBmpFilesOfEveryLayout) {
    // Hand-made files: header, optional masks and palette, rows padded to 4 bytes.
    auto bmp = [](int width, int height, int bits, std::uint32_t compression, const Bytes& extra,
                  const Bytes& pixels, std::uint32_t used = 0) {
        Bytes f(54, 0);
        auto put = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        f[0] = 'B', f[1] = 'M';
        put(10, static_cast<std::uint32_t>(54 + extra.size()));
        put(14, 40);
        put(18, static_cast<std::uint32_t>(width));
        put(22, static_cast<std::uint32_t>(height));
        f[26] = 1, f[28] = static_cast<std::uint8_t>(bits);
        put(30, compression);
        put(46, used);
        f.insert(f.end(), extra.begin(), extra.end());
        f.insert(f.end(), pixels.begin(), pixels.end());
        put(2, static_cast<std::uint32_t>(f.size()));
        return f;
    };
    {
        // Top-down 24-bit: rows in file order.
        const auto r = Decode("conv_bmp", bmp(1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.rows, (Bytes{3, 2, 1, 6, 5, 4}));
    }
    {
        // 32 bits, the fourth byte dropped; bottom-up.
        const auto r = Decode("conv_bmp", bmp(2, 1, 32, 0, {}, {1, 2, 3, 9, 4, 5, 6, 9}));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.colourType, ImExp::ColourRgb);
        EXPECT_EQ(r.picture.rows, (Bytes{3, 2, 1, 6, 5, 4}));
    }
    {
        // 16 bits 5-6-5 through bit fields: white and pure red.
        const Bytes masks{0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
        const auto r = Decode("conv_bmp", bmp(2, 1, 16, 3, masks, {0xFF, 0xFF, 0x00, 0xF8}));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.rows, (Bytes{255, 255, 255, 255, 0, 0}));
    }
    {
        // 32 bits whose red mask covers the whole pixel: its top byte is red.
        const Bytes masks{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
        const auto r = Decode("conv_bmp", bmp(1, 1, 32, 3, masks, {0x11, 0x22, 0x33, 0x44}));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.rows, (Bytes{0x44, 0, 0}));
    }
    {
        // Eight bits with three palette entries.
        const Bytes palette{0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
        const auto r = Decode("conv_bmp", bmp(3, 1, 8, 0, palette, {2, 1, 0, 0}, 3));
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.picture.rows, (Bytes{2, 1, 0}));
        EXPECT_EQ(r.picture.palette[0], 255);
        EXPECT_EQ(r.picture.palette[512 + 2], 255);
    }
    // A palette larger than the depth allows, a pixel offset past the end, run-length data.
    EXPECT_EQ(Decode("conv_bmp", bmp(1, 1, 8, 0, Bytes(1024, 0), {0, 0, 0, 0}, 300)).code,
              ImExp::ErrorInvalidFile);
    Bytes pastEnd = bmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    pastEnd[10] = 200;
    EXPECT_EQ(Decode("conv_bmp", pastEnd).code, ImExp::ErrorInvalidFile);
    EXPECT_EQ(Decode("conv_bmp", bmp(2, 1, 8, 1, Bytes(1024, 0), {0, 0})).code,
              ImExp::ErrorUnsupportedSubformat);
}

namespace {

// A good file of each format, made by the converter itself, for the damage corpus.
Bytes GoodFile(const std::string& converter) {
    const Picture p = converter == "conv_jpeg" ? Gradient(ImExp::ColourRgb, 120, 90)
                                               : MakePicture(ImExp::ColourRgb, 24, 120, 90, 11);
    return Encode(converter, p);
}

struct Damage {
    const char* name;
    const char* converter;
    Bytes (*make)(Bytes good);
    int code;
};

std::ostream& operator<<(std::ostream& os, const Damage& d) {
    return os << d.converter << ": " << d.name;
}

class DamagedFile : public ::testing::TestWithParam<Damage> {};

}  // namespace

// Every damaged file fails with its code, never a crash or a success of grey.
TEST_P(DamagedFile, FailsWithItsCode) {
    const Damage d = GetParam();
    const Bytes good = GoodFile(d.converter);
    ASSERT_FALSE(good.empty());
    ASSERT_EQ(Decode(d.converter, good).code, 0);
    const auto r = Decode(d.converter, d.make(good));
    EXPECT_EQ(r.code, d.code);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, DamagedFile,
    ::testing::Values(
        Damage{"cut in half", "conv_bmp", DamagedFiles::CutInHalf, ImExp::ErrorUnexpectedEnd},
        Damage{"cut in header", "conv_bmp", DamagedFiles::CutInHeader, ImExp::ErrorUnexpectedEnd},
        Damage{"palette over 256", "conv_bmp", DamagedFiles::BmpHugePalette, ImExp::ErrorInvalidFile},
        Damage{"huge width", "conv_bmp", DamagedFiles::BmpHugeWidth, ImExp::ErrorInvalidFile},
        Damage{"cut in half", "conv_jpeg", DamagedFiles::CutInHalf, ImExp::ErrorUnexpectedEnd},
        Damage{"cut in header", "conv_jpeg", DamagedFiles::CutInHeader, ImExp::ErrorUnexpectedEnd},
        Damage{"marker in scan", "conv_jpeg", DamagedFiles::JpegMarkerInScan, ImExp::ErrorDecompressor},
        Damage{"cut in half", "conv_png", DamagedFiles::CutInHalf, ImExp::ErrorUnexpectedEnd},
        Damage{"cut in header", "conv_png", DamagedFiles::CutInHeader, ImExp::ErrorUnexpectedEnd},
        Damage{"garbage in data", "conv_png", DamagedFiles::PngGarbageInData, ImExp::ErrorDecompressor},
        Damage{"huge width", "conv_png", DamagedFiles::PngHugeWidth, ImExp::ErrorInvalidFile},
        Damage{"cut in half", "conv_tiff", DamagedFiles::CutInHalf, ImExp::ErrorUnexpectedEnd},
        Damage{"garbage in strip", "conv_tiff", DamagedFiles::TiffGarbageInStrip, ImExp::ErrorDecompressor},
        Damage{"empty directory", "conv_tiff", DamagedFiles::TiffEmptyDirectory, ImExp::ErrorInvalidFile}));

TEST(ConverterPlugins, ContentCheckTakesOnlyItsOwnFormat) {
    std::map<std::string, Bytes> files;
    for (const char* name : kConverters)
        files[name] = GoodFile(name);
    std::mt19937 random(3);
    Bytes noise(500);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    files["noise"] = noise;
    files["empty"] = {};
    for (const char* name : kConverters) {
        Plugin plugin(name);
        for (const auto& [kind, bytes] : files) {
            MemoryStream stream(bytes);
            stream.Seek(3, 0, nullptr);  // wherever the previous check left it
            EXPECT_EQ(PLUGIN_ENTRY(plugin, RDCheckFile)(&stream, "CONVERT.INI") != 0, kind == name)
                << name << " on " << kind;
        }
    }
}

// A full disk at any point of a write is code 13 from the entry point, and
// whatever the codec library was doing ends there.
TEST(ConverterPlugins, FullDiskAtAnyPointIsReported) {
    for (const char* name : kConverters) {
        const Picture p = MakePicture(ImExp::ColourRgb, 24, 300, 200, 6);
        const std::size_t size = Encode(name, p).size();
        ASSERT_GT(size, 0u);
        for (std::size_t capacity : {std::size_t{0}, std::size_t{10}, size / 3, size - 1}) {
            Plugin plugin(name);
            MemoryStream stream;
            stream.capacity = capacity;
            EXPECT_EQ(WriteThrough(plugin, stream, p), ImExp::ErrorDiskFull) << name << " at " << capacity;
        }
    }
}

// Stopped at any band, every writer lets go of its state in WRCleanUp (the
// sanitizer build finds what would leak).
TEST(ConverterPlugins, WritersCleanUpAfterAStopAtAnyBand) {
    for (const char* name : kConverters) {
        const Picture p = MakePicture(ImExp::ColourRgb, 24, 40, 300, 6);
        for (int band = 0; band < 4; ++band) {
            Plugin plugin(name);
            MemoryStream stream;
            EXPECT_EQ(WriteThrough(plugin, stream, p, {band}), -1) << name;
        }
    }
}

// A height the file cannot hold is refused with the header, before anyone
// makes room for the rows; the file as written reads.
TEST(ConverterPlugins, BmpRowsBeyondTheFileAreRefusedWithTheHeader) {
    const Bytes good = GoodFile("conv_bmp");
    ASSERT_GT(good.size(), 26u);
    struct Case {
        const char* name;
        std::int32_t height;  // 0: as written
        int code;
    } cases[] = {{"as written", 0, 0},
                 {"bottom-up, a million rows", 1 << 20, ImExp::ErrorUnexpectedEnd},
                 {"top-down, a million rows", -(1 << 20), ImExp::ErrorUnexpectedEnd}};
    for (const Case& c : cases) {
        Bytes file = good;
        if (c.height)
            for (int i = 0; i < 4; ++i)
                file[22 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(c.height) >> (8 * i));
        Plugin plugin("conv_bmp");
        MemoryStream stream(file);
        ConverterContext ctx{};
        ctx.stream = &stream;
        ctx.settingsPath = "CONVERT.INI";
        ctx.palette = ctx.paletteData;
        ctx.imageCount = 1;
        EXPECT_EQ(PLUGIN_ENTRY(plugin, RDReadHeader)(&ctx, nullptr, 0), c.code) << c.name;
        EXPECT_EQ(PLUGIN_ENTRY(plugin, RDCleanUp)(&ctx), 0);
    }
}

TEST(ConverterPlugins, BandsOutOfOrderAreRefused) {
    for (const char* name : kConverters) {
        Plugin plugin(name);
        MemoryStream stream(GoodFile(name));
        ConverterContext ctx{};
        ctx.stream = &stream;
        ctx.settingsPath = "CONVERT.INI";
        ctx.palette = ctx.paletteData;
        ctx.imageCount = 1;
        ASSERT_EQ(PLUGIN_ENTRY(plugin, RDReadHeader)(&ctx, nullptr, 0), 0);
        ctx.accessModeInForce = 1;
        ctx.rowsPerBand = 1;
        ASSERT_EQ(PLUGIN_ENTRY(plugin, RDSetupReading)(&ctx), 0);
        std::vector<std::uint8_t> band(ctx.bytesPerPlaneRow * 4);
        ctx.rowsInBand = 1;
        ctx.bandStartRow = static_cast<std::int32_t>(ctx.height) + 5;
        EXPECT_NE(PLUGIN_ENTRY(plugin, RDReadBand)(&ctx, band.data()), 0) << name << " below the image";
        ctx.bandStartRow = ctx.rowOrder == 2 ? 3 : 0;
        ctx.rowsInBand = 0;
        EXPECT_NE(PLUGIN_ENTRY(plugin, RDReadBand)(&ctx, band.data()), 0) << name << " empty band";
        EXPECT_EQ(PLUGIN_ENTRY(plugin, RDCleanUp)(&ctx), 0);
    }
}

TEST(ConverterPlugins, LibraryMessagesReachTheErrorString) {
    Plugin plugin("conv_png");
    const auto r = Decode("conv_png", DamagedFiles::PngGarbageInData(GoodFile("conv_png")));
    ASSERT_EQ(r.code, ImExp::ErrorDecompressor);
    // The code of the library's own words; the message of the failure above.
    char text[260] = {};
    PLUGIN_ENTRY(plugin, ConvGetErrorString)(16, "x.png", "CONVERT.INI", text);
    EXPECT_EQ(std::string(text).rfind("PNG error in x.png: ", 0), 0u) << text;
    EXPECT_GT(std::strlen(text), std::strlen("PNG error in x.png: ")) << text;
}
