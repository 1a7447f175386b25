// The module with the converters it ships (the "CONVERT.INI" beside the built
// library): images written and read back through ImExp_WriteFile and
// ImExp_ReadFile, files exchanged with the codec libraries, a write stopped
// at every band, and a corpus of damaged files.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>

#include "../converters/DamagedFiles.h"
#include "../converters/LibraryFiles.h"
#include "ReadTestSupport.h"
#include "SyncProbe.h"

using FormgateTest::Bytes;
using FormgateTest::RecordingHost;
using FormgateTest::RecordingProgress;
using FormgateTest::RecordingSink;
namespace fs = std::filesystem;

namespace {

// A source of rows held in memory, by index from the bottom.
class PictureSource : public CAbstractWriteWA {
public:
    PictureSource(int type, int w, int h) : pixelType(type), width(w), height(h) {}
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int GetSize(int, int, int* w, int* h) override {
        *w = width, *h = height;
        return 0;
    }
    int GetFormat(int, int, int* type) override { return *type = pixelType, 0; }
    int GetPalette(int, int, unsigned char* entries) override {
        std::memcpy(entries, palette, sizeof palette);
        return 0;
    }
    int GetResolution(int, int, int* x, int* y) override { return *x = *y = 0, 0; }
    int GetRow(int, int, int row, void* buffer) override {
        if (++rowCalls > rowFailsAt && rowFailsAt >= 0)
            return 1;
        std::memcpy(buffer, rows[static_cast<std::size_t>(row)].data(),
                    rows[static_cast<std::size_t>(row)].size());
        return 0;
    }
    int GetAlphaRow(int, int, int row, void* buffer) override {
        std::memcpy(buffer, alphaRows[static_cast<std::size_t>(row)].data(),
                    alphaRows[static_cast<std::size_t>(row)].size());
        return 0;
    }
    int HasAlpha(int, int) override { return alphaRows.empty() ? 0 : 1; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    int pixelType, width, height;
    std::vector<Bytes> rows;
    std::vector<Bytes> alphaRows;
    unsigned char palette[1024] = {};
    int rowFailsAt = -1;
    int rowCalls = 0;
};

int Bits(int pixelType) {
    switch (pixelType) {
        case 1:
            return 1;
        case 2:
            return 4;
        case 16:
            return 24;
        case 32:
            return 16;
        case 64:
            return 48;
        default:
            return 8;
    }
}

// Random rows (bits past the last pixel left 0), a colour palette, alpha when asked.
PictureSource RandomSource(int type, int w, int h, bool alpha, unsigned seed) {
    PictureSource s(type, w, h);
    std::uint32_t x = seed * 2654435761u + 1;
    auto next = [&] { return static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24); };
    const std::size_t bits = static_cast<std::size_t>(w) * Bits(type);
    for (int r = 0; r < h; ++r) {
        Bytes row((bits + 7) / 8);
        for (auto& b : row)
            b = next();
        if (bits % 8)
            row.back() &= static_cast<std::uint8_t>(0xFF << (8 - bits % 8));
        s.rows.push_back(row);
        if (alpha) {
            Bytes a(static_cast<std::size_t>(w) * (type == 32 || type == 64 ? 2 : 1));
            for (auto& b : a)
                b = next();
            s.alphaRows.push_back(a);
        }
    }
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            s.palette[4 * i + c] = next();
    return s;
}

// Smooth rows for JPEG: blue, green, red or grey.
PictureSource SmoothSource(int type, int w, int h) {
    PictureSource s(type, w, h);
    const int samples = type == 16 ? 3 : 1;
    for (int r = 0; r < h; ++r) {
        Bytes row(static_cast<std::size_t>(w * samples));
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c)
                row[static_cast<std::size_t>(x * samples + c)] =
                    static_cast<std::uint8_t>(30 + x * 150 / w + r * 50 / h + c * 20);
        s.rows.push_back(row);
    }
    return s;
}

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

double Psnr(const Bytes& a, const Bytes& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

class ShippedConverters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TheFormgateApp().InitInstanceIn(fs::path(FORMGATE_LIBRARY).parent_path().string()));
        ASSERT_EQ(TheFormgateApp().Registry()->Count(), 4);
        TheFormgateApp().SetHost(&host_);
    }
    void TearDown() override {
        TheFormgateApp().ExitInstance();
        TheFormgateApp().SetHost(nullptr);
    }
    void* Owner() { return &owner_; }
    int Write(PictureSource& source, const std::string& path, CProgress* progress = nullptr) {
        int result = 0;
        return ImExp_WriteFile(&source, Owner(), path.c_str(), &result, progress, nullptr, 0);
    }
    int Read(RecordingSink& sink, const std::string& path, int accepted) {
        return ImExp_ReadFile(&sink, Owner(), path.c_str(), accepted, nullptr, nullptr, 0);
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& m : host_.messages)
            texts.push_back(m.caption + ": " + m.text);
        return texts;
    }
    bool AnyTemporaryFile() const {
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            if (entry.path().filename().string().rfind("~qx", 0) == 0)
                return true;
        return false;
    }

    TestData::ScratchDir dir_;
    RecordingHost host_;
    int owner_ = 0;
};

}  // namespace

// The program asks for the readable list and turns it into "|"-separated
// lower-case text; its default extensions must all be there.
TEST_F(ShippedConverters, ReadFormatListCoversTheProgramsDefaultExtensions) {
    const int size = ImExp_FillReadFormatsInfo(nullptr, 0);
    ASSERT_GT(size, 0);
    std::vector<char> buffer(static_cast<std::size_t>(size) + 2, 0);
    ImExp_FillReadFormatsInfo(buffer.data(), static_cast<unsigned>(size));
    std::string text(buffer.data(), static_cast<std::size_t>(size));
    for (char& c : text)
        c = c == '\0' ? '|' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t previous = 0;
    for (const char* extension : {".bmp", ".jpg", ".tif", ".png"}) {
        const std::size_t at = text.find(extension);
        ASSERT_NE(at, std::string::npos) << extension << " in " << text;
        EXPECT_GT(at, previous) << "registry order";
        previous = at;
    }
}

namespace {

struct Trip {
    const char* extension;
    int pixelType;
    bool alpha;
};

std::ostream& operator<<(std::ostream& os, const Trip& t) {
    return os << t.extension << " type " << t.pixelType << (t.alpha ? " with alpha" : "");
}

class ModuleRoundTrip : public ShippedConverters, public ::testing::WithParamInterface<Trip> {};

}  // namespace

TEST_P(ModuleRoundTrip, GivesBackTheImage) {
    const Trip t = GetParam();
    for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{130, 3}}) {
        PictureSource source =
            RandomSource(t.pixelType, w, h, t.alpha, static_cast<unsigned>(w + t.pixelType));
        const std::string path = dir_ / (std::string("image") + t.extension);
        ASSERT_EQ(Write(source, path), 1) << w << "x" << h << ": " << ::testing::PrintToString(Messages());
        RecordingSink sink;
        ASSERT_EQ(Read(sink, path, t.pixelType), 1)
            << w << "x" << h << ": " << ::testing::PrintToString(Messages());
        EXPECT_EQ(sink.pixelType, t.pixelType);
        EXPECT_EQ(sink.width, w);
        ASSERT_EQ(sink.height, h);
        for (int r = 0; r < h; ++r) {
            ASSERT_EQ(sink.rows[r], source.rows[static_cast<std::size_t>(r)])
                << w << "x" << h << " row " << r;
            if (t.alpha) {
                ASSERT_EQ(sink.alphaRows[r], source.alphaRows[static_cast<std::size_t>(r)])
                    << "alpha row " << r;
            }
        }
        if (t.pixelType == 4 || t.pixelType == 2) {
            const int entries = t.pixelType == 4 ? 256 : 16;
            ASSERT_EQ(sink.palette.size(), static_cast<std::size_t>(4 * entries));
            for (int i = 0; i < entries; ++i)
                ASSERT_EQ(0, std::memcmp(&sink.palette[4 * i], &source.palette[4 * i], 3)) << "entry " << i;
        }
    }
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(AnyTemporaryFile());
}

INSTANTIATE_TEST_SUITE_P(
    ShippedConverters, ModuleRoundTrip,
    ::testing::Values(Trip{".bmp", 16, false}, Trip{".bmp", 8, false}, Trip{".bmp", 4, false},
                      Trip{".bmp", 2, false}, Trip{".bmp", 1, false}, Trip{".png", 16, false},
                      Trip{".png", 8, false}, Trip{".png", 4, false}, Trip{".png", 1, false},
                      Trip{".png", 32, false}, Trip{".png", 64, false}, Trip{".png", 16, true},
                      Trip{".png", 8, true}, Trip{".png", 64, true}, Trip{".tif", 16, false},
                      Trip{".tif", 8, false}, Trip{".tif", 4, false}, Trip{".tif", 2, false},
                      Trip{".tif", 1, false}, Trip{".tif", 32, false}, Trip{".tif", 64, false},
                      Trip{".tif", 16, true}, Trip{".tif", 32, true}));

TEST_F(ShippedConverters, JpegRoundTripIsClose) {
    for (int type : {16, 8}) {
        PictureSource source = SmoothSource(type, 77, 41);
        const std::string path = dir_ / "image.jpg";
        ASSERT_EQ(Write(source, path), 1) << ::testing::PrintToString(Messages());
        // Grey sources are written through the 24-bit output the writer mask leaves them.
        RecordingSink sink;
        ASSERT_EQ(Read(sink, path, 16), 1) << ::testing::PrintToString(Messages());
        ASSERT_EQ(sink.height, 41);
        Bytes written, read;
        for (int r = 0; r < 41; ++r) {
            for (std::uint8_t v : source.rows[static_cast<std::size_t>(r)])
                written.insert(written.end(), type == 8 ? 3 : 1, v);
            read.insert(read.end(), sink.rows[r].begin(), sink.rows[r].end());
        }
        EXPECT_GT(Psnr(written, read), 35.0) << "pixel type " << type;
    }
}

// Files the module writes open in the codec libraries' own readers, and the
// libraries' files open through the module.
TEST_F(ShippedConverters, ExchangesFilesWithTheCodecLibraries) {
    PictureSource source = RandomSource(16, 33, 21, false, 4);
    // Top row first, red first: how the libraries hand rows out.
    Bytes rgb;
    for (int r = 20; r >= 0; --r)
        for (int x = 0; x < 33; ++x)
            for (int c = 2; c >= 0; --c)
                rgb.push_back(source.rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(3 * x + c)]);
    int w = 0, h = 0;
    Bytes rgba;
    ASSERT_EQ(Write(source, dir_ / "a.png"), 1);
    ASSERT_TRUE(LibraryFiles::PngDecodeRgba(Load(dir_ / "a.png"), w, h, rgba));
    ASSERT_EQ(w * h, 33 * 21);
    for (int i = 0; i < w * h; ++i)
        ASSERT_EQ(
            0, std::memcmp(&rgba[4 * static_cast<std::size_t>(i)], &rgb[3 * static_cast<std::size_t>(i)], 3));
    ASSERT_EQ(Write(source, dir_ / "a.tif"), 1);
    ASSERT_TRUE(LibraryFiles::TiffDecodeRgba(dir_ / "a.tif", w, h, rgba));
    for (int i = 0; i < w * h; ++i)
        ASSERT_EQ(
            0, std::memcmp(&rgba[4 * static_cast<std::size_t>(i)], &rgb[3 * static_cast<std::size_t>(i)], 3));
    PictureSource smooth = SmoothSource(16, 64, 32);
    ASSERT_EQ(Write(smooth, dir_ / "a.jpg"), 1);
    int components = 0;
    Bytes decoded;
    ASSERT_TRUE(LibraryFiles::JpegDecode(Load(dir_ / "a.jpg"), w, h, components, decoded));
    EXPECT_EQ(components, 3);

    // And back: every library file through the module, as 24-bit rows bottom first.
    auto moduleRgb = [&](const std::string& path) {
        RecordingSink sink;
        EXPECT_EQ(Read(sink, path, 16), 1) << path;
        Bytes out;
        for (int r = sink.height - 1; r >= 0; --r)
            for (int x = 0; x < sink.width; ++x)
                for (int c = 2; c >= 0; --c)
                    out.push_back(sink.rows[r][static_cast<std::size_t>(3 * x + c)]);
        return out;
    };
    Save(dir_ / "b.png", LibraryFiles::PngEncode({33, 21, 2 /* RGB */, 8, true, rgb, {}, {}}));
    EXPECT_EQ(moduleRgb(dir_ / "b.png"), rgb);
    LibraryFiles::TiffPage page{33, 21, 3, 8, 2 /* RGB */, true, false, false, 5 /* LZW */, {}, rgb};
    ASSERT_TRUE(LibraryFiles::TiffWrite(dir_ / "b.tif", {page}));
    EXPECT_EQ(moduleRgb(dir_ / "b.tif"), rgb);
    const Bytes jpeg = LibraryFiles::JpegEncode(33, 21, 3, rgb, 80, true);
    Save(dir_ / "b.jpg", jpeg);
    ASSERT_TRUE(LibraryFiles::JpegDecode(jpeg, w, h, components, decoded));
    EXPECT_EQ(moduleRgb(dir_ / "b.jpg"), decoded);
}

// Cancel, or a source that fails, at rows spread over every band of the
// write: the old file stays byte for byte and no "~qx" file is left.
TEST_F(ShippedConverters, WriteStoppedAnywhereLeavesTheOldFile) {
    for (const char* extension : {".bmp", ".png", ".tif", ".jpg"}) {
        const std::string path = dir_ / (std::string("old") + extension);
        const Bytes old{'o', 'l', 'd'};
        Save(path, old);
        for (int row = 0; row < 200; row += 9) {
            for (bool cancel : {true, false}) {
                PictureSource source = SmoothSource(16, 50, 200);
                RecordingProgress progress;
                if (cancel)
                    progress.cancelAt = row;
                else
                    source.rowFailsAt = row;
                EXPECT_EQ(Write(source, path, &progress), 0) << extension << " row " << row;
                EXPECT_EQ(Load(path), old) << extension << " row " << row;
                EXPECT_FALSE(AnyTemporaryFile()) << extension << " row " << row;
                EXPECT_EQ(progress.begins, progress.ends);
            }
        }
        // Cancels are silent; each failing source is reported once.
        EXPECT_EQ(host_.messages.size(), 23u) << extension;
        host_.messages.clear();
    }
}

constexpr const char* kExtensions[] = {".bmp", ".png", ".tif", ".jpg"};

// A folder (or a link to one) as the target is refused before the converter sees a
// row, with "Cannot open file", and nothing is created.
TEST_F(ShippedConverters, FolderTargetIsRefusedBeforeEncoding) {
    for (const char* extension : kExtensions) {
        const std::string folder = dir_ / (std::string("taken") + extension);
        const std::string link = dir_ / (std::string("link") + extension);
        fs::create_directory(folder);
        fs::create_directory_symlink(folder, link);
        for (const std::string& target : {folder, link}) {
            PictureSource source = SmoothSource(16, 20, 10);
            RecordingProgress progress;
            EXPECT_EQ(Write(source, target, &progress), 0) << target;
            EXPECT_EQ(source.rowCalls, 0) << target;
            EXPECT_EQ(progress.begins, 0) << target;
        }
        EXPECT_TRUE(fs::is_empty(folder));
        EXPECT_EQ(Messages(),
                  (std::vector<std::string>{
                      "Converter Error: Cannot open file " + fs::path(folder).filename().string(),
                      "Converter Error: Cannot open file " + fs::path(link).filename().string()}));
        host_.messages.clear();
    }
    EXPECT_FALSE(AnyTemporaryFile());
}

// Writing through a symbolic link replaces the file it points to and keeps the
// link; the file is flushed before the rename and its folder after.
TEST_F(ShippedConverters, SymbolicLinkTargetIsReplacedAtItsFileAndFlushed) {
    fs::create_directory(dir_ / "real");
    for (const char* extension : kExtensions) {
        const std::string file = dir_ / (std::string("real/photo") + extension);
        const std::string link = dir_ / (std::string("link") + extension);
        Save(file, Bytes{'o', 'l', 'd'});
        fs::create_symlink(std::string("real/photo") + extension, link);
        PictureSource source = SmoothSource(16, 40, 30);
        SyncProbe::Recorder probe;
        ASSERT_EQ(Write(source, link), 1) << extension << ": " << ::testing::PrintToString(Messages());
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), std::string("real/photo") + extension);
        RecordingSink sink;
        ASSERT_EQ(Read(sink, file, 16), 1) << extension;
        EXPECT_EQ(sink.width, 40);
        EXPECT_EQ(sink.height, 30);

        std::vector<SyncProbe::Event> events;
        for (const auto& e : probe.Events())
            if (e.kind != SyncProbe::Event::SyncFile || e.inode == SyncProbe::InodeOf(file))
                events.push_back(e);
        ASSERT_EQ(events.size(), 3u) << extension;
        EXPECT_EQ(events[0].kind, SyncProbe::Event::SyncFile);
        EXPECT_EQ(events[1].kind, SyncProbe::Event::Rename);
        EXPECT_EQ(events[1].to, file);
        EXPECT_EQ(events[1].from.rfind(dir_ / "real/~qx", 0), 0u) << events[1].from;
        EXPECT_EQ(events[2].kind, SyncProbe::Event::SyncFolder);
        EXPECT_EQ(events[2].inode, SyncProbe::InodeOf(dir_ / "real"));
    }
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_FALSE(AnyTemporaryFile());
    for (const auto& entry : fs::directory_iterator(dir_ / "real"))
        EXPECT_EQ(entry.path().filename().string().rfind("~qx", 0), std::string::npos) << entry.path();
}

// A rename that fails keeps the old file byte for byte, leaves no "~qx" file, and
// is reported with its own code: a full disk only when space ran out.
TEST_F(ShippedConverters, FailedRenameKeepsTheTargetWithTheMatchingError) {
    const Bytes old{'o', 'l', 'd'};
    const struct {
        int error;
        const char* message;
    } cases[] = {{ENOSPC, "Disk full writing "}, {EDQUOT, "Disk full writing "},
                 {EACCES, "Cannot open file "},  {EROFS, "Cannot open file "},
                 {EXDEV, "Cannot open file "},   {EBUSY, "Cannot open file "}};
    for (const auto& c : cases)
        for (const char* extension : kExtensions) {
            const std::string path = dir_ / (std::string("keep") + extension);
            Save(path, old);
            PictureSource source = SmoothSource(16, 40, 30);
            {
                SyncProbe::Recorder probe(c.error);
                EXPECT_EQ(Write(source, path), 0) << extension;
            }
            EXPECT_EQ(Load(path), old) << extension;
            EXPECT_FALSE(AnyTemporaryFile()) << extension;
            EXPECT_EQ(Messages(), std::vector<std::string>{std::string("Converter Error: ") + c.message +
                                                           "keep" + extension})
                << std::strerror(c.error);
            host_.messages.clear();
        }
}

// A FIFO, a device or a folder named like a photo is refused at once when read.
TEST_F(ShippedConverters, ReadsOnlyRegularFilesWithoutWaiting) {
    const std::string fifo = dir_ / "pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir_ / "zero.bmp");
    fs::create_directory(dir_ / "folder.png");
    for (const char* name : {"pipe.jpg", "zero.bmp", "folder.png"}) {
        RecordingSink sink;
        const std::string path = dir_ / name;
        auto read = std::async(std::launch::async, [&] { return Read(sink, path, 16); });
        if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let the blocked open go, so the test fails instead of hanging.
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
            read.wait();
            ADD_FAILURE() << name << " was waited on";
            continue;
        }
        EXPECT_EQ(read.get(), 0) << name;
        EXPECT_EQ(sink.sizeCalls, 0) << name;
    }
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Converter Error: Cannot open file pipe.jpg",
                                                    "Converter Error: Cannot open file zero.bmp",
                                                    "Converter Error: Cannot open file folder.png"}));
}

namespace {

struct Corrupt {
    const char* name;  // the damaged file's name
    Bytes (*damage)(Bytes good);
    const char* message;
};

std::ostream& operator<<(std::ostream& os, const Corrupt& c) {
    return os << c.name;
}

class DamagedThroughTheModule : public ShippedConverters, public ::testing::WithParamInterface<Corrupt> {};

Bytes Noise(Bytes good) {
    for (std::size_t i = 0; i < good.size(); ++i)
        good[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return good;
}

}  // namespace

// A corpus of truncated and corrupt files made here from good ones: each read
// fails with its own code and message, never a crash.
TEST_P(DamagedThroughTheModule, ReportsItsError) {
    const Corrupt c = GetParam();
    const std::string extension = fs::path(c.name).extension().string();
    PictureSource source =
        extension == ".jpg" ? SmoothSource(16, 120, 90) : RandomSource(16, 120, 90, false, 8);
    const std::string good = dir_ / ("good" + extension);
    ASSERT_EQ(Write(source, good), 1);
    Save(dir_ / c.name, c.damage(Load(good)));
    RecordingSink sink;
    EXPECT_EQ(Read(sink, dir_ / c.name, 16), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{std::string("Converter Error: ") + c.message});
}

INSTANTIATE_TEST_SUITE_P(
    ShippedConverters, DamagedThroughTheModule,
    ::testing::Values(
        Corrupt{"cut.bmp", DamagedFiles::CutInHalf, "Unexpected end of file cut.bmp"},
        Corrupt{"cut.jpg", DamagedFiles::CutInHalf, "Unexpected end of file cut.jpg"},
        Corrupt{"cut.png", DamagedFiles::CutInHalf, "Unexpected end of file cut.png"},
        Corrupt{"cut.tif", DamagedFiles::CutInHalf, "Unexpected end of file cut.tif"},
        Corrupt{"head.png", DamagedFiles::CutInHeader, "Unexpected end of file head.png"},
        Corrupt{"palette.bmp", DamagedFiles::BmpHugePalette, "Invalid Image File palette.bmp"},
        Corrupt{"marker.jpg", DamagedFiles::JpegMarkerInScan, "Decompressor Error marker.jpg"},
        Corrupt{"garbage.png", DamagedFiles::PngGarbageInData, "Decompressor Error garbage.png"},
        Corrupt{"wide.png", DamagedFiles::PngHugeWidth, "Invalid Image File wide.png"},
        Corrupt{"garbage.tif", DamagedFiles::TiffGarbageInStrip, "Decompressor Error garbage.tif"},
        Corrupt{"empty.tif", DamagedFiles::TiffEmptyDirectory, "Invalid Image File empty.tif"},
        Corrupt{"noise.png", Noise, "Unknown image file format noise.png"},
        Corrupt{"noise.jpg", Noise, "Unknown image file format noise.jpg"}));

// Grey stored white-is-zero comes out the right way round, never as a negative.
TEST_F(ShippedConverters, WhiteIsZeroTiffIsNoNegative) {
    // 1 bit: pixels white, black, white, black, white, white, white, white (bits 0 1 0 1 0 0 0 0).
    LibraryFiles::TiffPage bilevel{8, 1, 1, 1, 0 /* MinIsWhite */, false, false, false, 1, {}, {0x50}};
    ASSERT_TRUE(LibraryFiles::TiffWrite(dir_ / "bilevel.tif", {bilevel}));
    RecordingSink colour;
    ASSERT_EQ(Read(colour, dir_ / "bilevel.tif", 16), 1);
    EXPECT_EQ(colour.rows[0], (Bytes{255, 255, 255, 0,   0,   0,   255, 255, 255, 0,   0,   0,
                                     255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}));
    // 8 bits: 0 is white.
    LibraryFiles::TiffPage grey{3, 1, 1, 8, 0 /* MinIsWhite */, false, false, false, 1, {}, {0, 55, 255}};
    ASSERT_TRUE(LibraryFiles::TiffWrite(dir_ / "grey.tif", {grey}));
    RecordingSink sink;
    ASSERT_EQ(Read(sink, dir_ / "grey.tif", 8), 1);
    EXPECT_EQ(sink.rows[0], (Bytes{255, 200, 0}));
}
