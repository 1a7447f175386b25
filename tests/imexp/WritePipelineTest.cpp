// The write pipeline on the scriptable converter: which output a writer is
// asked for, the resolution it gets, every band layout, and that no failure or
// cancel at any point touches an existing target or leaves a "~qx" file.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "ReadTestSupport.h"
#include "Utf16.h"

using FormgateTest::Bytes;
using FormgateTest::ModuleTest;
using FormgateTest::RecordingProgress;
namespace fs = std::filesystem;

namespace {

// A source of any pixel type; rows by index from the bottom, generated.
class TestSource : public CAbstractWriteWA {
public:
    TestSource(int type, int w, int h) : pixelType(type), width(w), height(h) {
        for (int i = 0; i < 256; ++i) {
            palette[4 * i] = static_cast<unsigned char>(i);
            palette[4 * i + 1] = static_cast<unsigned char>(255 - i);
            palette[4 * i + 2] = static_cast<unsigned char>(i * 3);
        }
    }
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int GetSize(int, int, int* w, int* h) override {
        *w = width, *h = height;
        return 0;
    }
    int GetFormat(int, int, int* type) override {
        if (formatFails)
            return 1;
        *type = pixelType;
        return 0;
    }
    int GetPalette(int, int, unsigned char* entries) override {
        std::memcpy(entries, palette, sizeof palette);
        return 0;
    }
    int GetResolution(int, int, int* x, int* y) override {
        *x = xDpi, *y = yDpi;
        return 0;
    }
    int GetRow(int, int, int row, void* buffer) override {
        if (row < 0 || row >= height)
            ++outOfRange;
        ++rowCalls;
        if (rowFailsAt >= 0 && rowCalls > rowFailsAt)
            return 1;
        const Bytes r = Row(row);
        std::memcpy(buffer, r.data(), r.size());
        return 0;
    }
    int GetAlphaRow(int, int, int row, void* buffer) override {
        const std::size_t bytes =
            static_cast<std::size_t>(width) * (pixelType == 32 || pixelType == 64 ? 2 : 1);
        for (std::size_t i = 0; i < bytes; ++i)
            static_cast<unsigned char*>(buffer)[i] = static_cast<unsigned char>(200 + row + i);
        return 0;
    }
    int HasAlpha(int, int) override { return alpha; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    std::size_t RowBytes() const {
        const int bits = pixelType == 1    ? 1
                         : pixelType == 2  ? 4
                         : pixelType == 16 ? 24
                         : pixelType == 32 ? 16
                         : pixelType == 64 ? 48
                                           : 8;
        return (static_cast<std::size_t>(width) * bits + 7) / 8;
    }
    // Row `row` from the bottom: bytes derived from the row and column.
    Bytes Row(int row) const {
        Bytes r(RowBytes());
        for (std::size_t i = 0; i < r.size(); ++i)
            r[i] = static_cast<std::uint8_t>(row * 13 + i * 7 + 1);
        return r;
    }

    int pixelType, width, height;
    unsigned char palette[1024] = {};
    int xDpi = 0, yDpi = 0;
    int alpha = 0;
    bool formatFails = false;
    int rowFailsAt = -1;
    int rowCalls = 0;
    int outOfRange = 0;
};

// The keys and rows of a ".tcv" file written by the test converter.
struct Written {
    std::map<std::string, std::string> keys;
    Bytes data;
};

Written ReadTcv(const std::string& path) {
    const std::string text = FormgateTest::ReadText(path);
    Written w;
    std::size_t pos = text.find('\n') + 1;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line == "data") {
            w.data.assign(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end());
            break;
        }
        const std::size_t eq = line.find('=');
        w.keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return w;
}

class WritePipeline : public ModuleTest {
protected:
    std::string Target() const { return dir_ / "t.tcv"; }
    int Write(TestSource& source, CProgress* progress = nullptr, const std::string& target = {}) {
        int result = 5;
        const int ok = ImExp_WriteFile(&source, Owner(), (target.empty() ? Target() : target).c_str(),
                                       &result, progress, nullptr, 0);
        EXPECT_EQ(result, 0) << "set to 0 on entry";
        return ok;
    }
    bool AnyTemporaryFile() const {
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            if (entry.path().filename().string().rfind("~qx", 0) == 0)
                return true;
        return false;
    }
    std::string SetupLine() const {
        for (const auto& line : LogLines())
            if (line.rfind("conv_a.so WRSetupWriting ", 0) == 0)
                return line.substr(std::string("conv_a.so WRSetupWriting ").size());
        return {};
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& m : host_.messages)
            texts.push_back(m.caption + ": " + m.text);
        return texts;
    }
};

}  // namespace

TEST_F(WritePipeline, AsksTheWriterForTheFirstOutputItTakes) {
    struct Case {
        int pixelType;
        const char* mask;
        int alpha;
        const char* setup;  // colour and bits the writer is asked for
    };
    const Case cases[] = {
        {16, "0x200", 0, "colour=3 bits=24"},   {16, "0xA00", 1, "colour=5 bits=24"},
        {16, "0xA00", 0, "colour=3 bits=24"},   {16, "0x200", 1, "colour=3 bits=24"},
        {8, "0x220", 0, "colour=2 bits=8"},     {4, "0x60", 0, "colour=2 bits=8"},
        {1, "0x20", 0, "colour=2 bits=8"},      {1, "0x1", 0, "colour=0 bits=1"},
        {2, "0x10", 0, "colour=2 bits=4"},      {2, "0x200", 0, "colour=3 bits=24"},
        {32, "0x8000", 0, "colour=0 bits=16"},  {32, "0x10000", 0, "colour=3 bits=48"},
        {32, "0x28000", 1, "colour=4 bits=16"}, {64, "0x10000", 0, "colour=3 bits=48"},
        {8, "0x4", 0, "colour=0 bits=8"},       {8, "0x400", 1, "colour=2 bits=8"},
    };
    for (const Case& c : cases) {
        Start({"conv_a"}, std::string("[conv_a.so]\nFlags=3\nMask=") + c.mask + "\n");
        TestSource source(c.pixelType, 5, 3);
        source.alpha = c.alpha;
        const int ok = Write(source);
        if (std::string(c.mask) == "0x400") {
            // Alpha alone is no output format of an 8-bit grey source.
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorNoWriter);
            continue;
        }
        EXPECT_EQ(ok, 1) << c.pixelType << " " << c.mask;
        EXPECT_EQ(SetupLine().rfind(c.setup, 0), 0u) << c.pixelType << " " << c.mask << ": " << SetupLine();
        ClearLog();
        TheFormgateApp().ExitInstance();
    }
}

TEST_F(WritePipeline, ConvertsRowsForTheOutput) {
    {
        // One bit to 8-bit values 0 and 255.
        Start({"conv_a"}, "[conv_a.so]\nFlags=3\nMask=0x20\n");
        TestSource source(1, 9, 1);
        ASSERT_EQ(Write(source), 1);
        const Bytes row = source.Row(0);
        Bytes expected;
        for (int x = 0; x < 9; ++x)
            expected.push_back((row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
        EXPECT_EQ(ReadTcv(Target()).data, expected);
        TheFormgateApp().ExitInstance();
    }
    {
        // 24-bit colour with alpha: red first, then the alpha byte from GetAlphaRow.
        Start({"conv_a"}, "[conv_a.so]\nFlags=3\nMask=0xA00\n");
        TestSource source(16, 2, 1);
        source.alpha = 1;
        ASSERT_EQ(Write(source), 1);
        const Bytes bgr = source.Row(0);
        const Written w = ReadTcv(Target());
        EXPECT_EQ(w.keys.at("bpr"), "8");
        EXPECT_EQ(w.data, (Bytes{bgr[2], bgr[1], bgr[0], 200, bgr[5], bgr[4], bgr[3], 201}));
        TheFormgateApp().ExitInstance();
    }
    {
        // 16-bit grey to a 48-bit-only writer: each sample three times.
        Start({"conv_a"}, "[conv_a.so]\nFlags=3\nMask=0x10000\n");
        TestSource source(32, 2, 1);
        ASSERT_EQ(Write(source), 1);
        const Bytes g = source.Row(0);
        EXPECT_EQ(ReadTcv(Target()).data,
                  (Bytes{g[0], g[1], g[0], g[1], g[0], g[1], g[2], g[3], g[2], g[3], g[2], g[3]}));
        TheFormgateApp().ExitInstance();
    }
    {
        // A grey palette that is no ramp, written with 8 bits: indices become their grey levels.
        Start({"conv_a"}, "[conv_a.so]\nFlags=3\nMask=0x20\n");
        TestSource source(4, 4, 1);
        for (int i = 0; i < 256; ++i)
            source.palette[4 * i] = source.palette[4 * i + 1] = source.palette[4 * i + 2] =
                static_cast<unsigned char>(255 - i / 2);
        ASSERT_EQ(Write(source), 1);
        Bytes expected;
        for (std::uint8_t index : source.Row(0))
            expected.push_back(static_cast<std::uint8_t>(255 - index / 2));
        EXPECT_EQ(ReadTcv(Target()).data, expected);
    }
}

TEST_F(WritePipeline, RefusesSourcesAndTypesWithoutAWriter) {
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\nMask=0x200\n");
    TestSource deep(64, 3, 3);
    EXPECT_EQ(Write(deep), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Converter Error: General Conversion Error"});

    host_.messages.clear();
    formgate::ClearLastReportedError();
    TestSource unknown(7, 3, 3);
    EXPECT_EQ(Write(unknown), 0);
    TestSource silent(16, 3, 3);
    silent.formatFails = true;
    EXPECT_EQ(Write(silent), 0);
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(formgate::LastReportedError(), 0);

    TestSource failing(16, 3, 3);
    failing.rowFailsAt = 1;
    EXPECT_EQ(Write(failing), 0);
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorSinkOrSource);
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_FALSE(AnyTemporaryFile());
}

TEST_F(WritePipeline, PassesTheResolutionTheWriterAsksFor) {
    struct Case {
        const char* options;
        int dpi;
        const char* expected;
    };
    for (const Case& c :
         {Case{"8", 0, "unit=3 xres=28 yres=28"}, Case{"4", 300, "unit=2 xres=300 yres=300"},
          Case{"0x10", 300, "unit=4 xres=640 yres=480"}, Case{"1", 300, "unit=0 xres=0 yres=0"},
          Case{"0", 0, "unit=2 xres=72 yres=72"}, Case{"0xC", 254, "unit=2 xres=254 yres=254"}}) {
        Start({"conv_a"}, std::string("[conv_a.so]\nFlags=3\nWriteOptions=") + c.options + "\n");
        TestSource source(16, 2, 2);
        source.xDpi = source.yDpi = c.dpi;
        ASSERT_EQ(Write(source), 1);
        EXPECT_NE(SetupLine().find(c.expected), std::string::npos) << c.options << ": " << SetupLine();
        ClearLog();
        TheFormgateApp().ExitInstance();
    }
}

// Every band layout writes every row once, in its place; Step counts each row.
TEST_F(WritePipeline, WritesEveryRowInEachBandLayout) {
    for (const char* keys : {"Write.access=1\nWrite.rows=1\n", "Write.access=2\nWrite.rows=4\n",
                             "Write.access=0\nWrite.rows=3\n", "Write.access=3\nWrite.rows=2\n",
                             "Write.access=1\nWrite.rows=4\nWrite.fixed=1\n"})
        for (const char* order : {"1", "2"}) {
            Start({"conv_a"},
                  std::string("[conv_a.so]\nFlags=3\nWrite.bluefirst=1\nWrite.order=") + order + "\n" + keys);
            TestSource source(16, 3, 10);
            RecordingProgress progress;
            ASSERT_EQ(Write(source, &progress), 1) << keys << "order " << order;
            Bytes expected;
            for (int row = 9; row >= 0; --row) {
                const Bytes r = source.Row(row);
                expected.insert(expected.end(), r.begin(), r.end());
            }
            EXPECT_EQ(ReadTcv(Target()).data, expected) << keys << "order " << order;
            EXPECT_EQ(progress.steps.size(), 10u);
            EXPECT_EQ(progress.steps.front(), std::make_pair(0, 10));
            EXPECT_EQ(progress.begins, 1);
            EXPECT_EQ(progress.ends, 1);
            EXPECT_EQ(source.outOfRange, 0);
            EXPECT_EQ(source.rowCalls, 10);
            TheFormgateApp().ExitInstance();
        }
}

// The heart of it: whatever stops a write, the old file stays as it was and
// no temporary file is left; the converter is cleaned up once and unloaded.
TEST_F(WritePipeline, FailureOrCancelAnywhereLeavesTheTargetAlone) {
    const std::string old = "the old file\n";
    std::vector<std::string> failures;
    for (int band = 1; band <= 4; ++band)
        failures.push_back("Fail.WRWriteBand=13@" + std::to_string(band));
    for (const char* entry :
         {"Fail.WRSetupWriting=14", "Fail.WRWriteHeader=14", "Fail.WREndWriting=14",
          "Throw.WRWriteBand=stream@2", "Throw.WRWriteBand=cpp@3", "Throw.WREndWriting=cpp", "Write.bpr=0",
          "Cancel@0", "Cancel@5", "Cancel@11", "Source@7"})
        failures.push_back(entry);
    for (const std::string& failure : failures) {
        Start({"conv_a"}, "[conv_a.so]\nFlags=3\nWrite.rows=3\n" + failure + "\n");
        FormgateTest::WriteText(Target(), old);
        ::chmod(Target().c_str(), 0640);
        TestSource source(16, 4, 12);
        RecordingProgress progress;
        if (failure.rfind("Cancel@", 0) == 0)
            progress.cancelAt = std::stoi(failure.substr(7));
        if (failure.rfind("Source@", 0) == 0)
            source.rowFailsAt = std::stoi(failure.substr(7));
        EXPECT_EQ(Write(source, &progress), 0) << failure;
        EXPECT_EQ(FormgateTest::ReadText(Target()), old) << failure;
        EXPECT_FALSE(AnyTemporaryFile()) << failure;
        EXPECT_FALSE(AnyConverterMapped()) << failure;
        EXPECT_EQ(progress.begins, progress.ends) << failure;
        EXPECT_EQ(LogCount("conv_a.so WRCleanUp"), 1) << failure;
        const bool cancelled = failure.rfind("Cancel@", 0) == 0;
        EXPECT_EQ(host_.messages.size(), cancelled ? 0u : 1u) << failure;
        ClearLog();
        TheFormgateApp().ExitInstance();
    }
}

TEST_F(WritePipeline, ReplacesTheTargetOnlyWhenComplete) {
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\n");
    FormgateTest::WriteText(Target(), "old");
    ::chmod(Target().c_str(), 0640);
    TestSource source(16, 2, 2);
    ASSERT_EQ(Write(source), 1);
    EXPECT_EQ(ReadTcv(Target()).keys.at("width"), "2");
    struct stat info;
    ASSERT_EQ(::stat(Target().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "the old file's permissions";
    EXPECT_FALSE(AnyTemporaryFile());

    // A target folder that does not exist: the temporary file cannot be made.
    EXPECT_EQ(Write(source, nullptr, dir_ / "missing/t.tcv"), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Converter Error: Cannot open file t.tcv"});

    // A target that is a folder: refused before the converter is set up, the folder stays.
    host_.messages.clear();
    ClearLog();
    fs::create_directories(dir_.path() / "folder.tcv/inside");
    EXPECT_EQ(Write(source, nullptr, dir_ / "folder.tcv"), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Converter Error: Cannot open file folder.tcv"});
    EXPECT_EQ(SetupLine(), "");
    EXPECT_TRUE(fs::is_directory(dir_.path() / "folder.tcv/inside"));
    EXPECT_FALSE(AnyTemporaryFile());
}

TEST_F(WritePipeline, TemporariesOfKilledWritesGoBeforeTheNextWriteThere) {
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\n");
    char dead[32], alive[32];
    std::snprintf(dead, sizeof dead, "~qx%08lX0000ABCD.tmp", TestData::ExitedProcessId());
    std::snprintf(alive, sizeof alive, "~qx%08X0000ABCD.tmp", 1u);  // init: always running
    const struct {
        std::string name;
        bool removed;
    } cases[] = {{dead, true}, {alive, false}, {"~qxABCD.tmp", false}, {"photo.tmp", false}};
    for (const auto& c : cases)
        FormgateTest::WriteText(dir_ / c.name, "part of a panorama");
    TestSource source(16, 2, 2);
    ASSERT_EQ(Write(source), 1);
    for (const auto& c : cases)
        EXPECT_NE(fs::exists(dir_.path() / c.name), c.removed) << c.name;
}

TEST_F(WritePipeline, RefusesBandsBeyondTheLimits) {
    // 3,000 rows of 3,000 bytes are more than one band may hold.
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\nWrite.fixed=1\nWrite.rows=3000\n");
    TestSource wide(16, 1000, 4);
    EXPECT_EQ(Write(wide), 0);
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorFileTooBig);
    TheFormgateApp().ExitInstance();
    // A row length the converter cut below what the row holds.
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\nWrite.bpr=5\n");
    TestSource source(16, 4, 4);
    EXPECT_EQ(Write(source), 0);
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorFileTooBig);
    EXPECT_FALSE(AnyTemporaryFile());
}

// A converter-driven writer that announces a band outside the image gets an
// error, and the source is never asked for a row that does not exist.
TEST_F(WritePipeline, RefusesBandsTheConverterPlacesOutsideTheImage) {
    for (const char* lie : {"Write.liestart=40", "Write.liestart=-1", "Write.lierows=0", "Write.lierows=9"}) {
        Start({"conv_a"}, std::string("[conv_a.so]\nFlags=3\nWrite.access=0\nWrite.rows=3\n") + lie + "\n");
        TestSource source(16, 4, 10);
        EXPECT_EQ(Write(source), 0) << lie;
        EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorGeneral) << lie;
        EXPECT_EQ(source.outOfRange, 0) << lie;
        EXPECT_EQ(source.rowCalls, 3) << lie << ": the first band only";
        EXPECT_FALSE(AnyTemporaryFile());
        TheFormgateApp().ExitInstance();
    }
}

TEST_F(WritePipeline, WritesUnderAUtf16Name) {
    Start({"conv_a"}, "[conv_a.so]\nFlags=3\n");
    TestSource source(16, 2, 2);
    const std::u16string name = formgate::Utf16FromUtf8(dir_ / "bild-\xC3\xA4.tcv");
    int result = 5;
    EXPECT_EQ(ImExp_WriteFileW(&source, Owner(), name.c_str(), &result, nullptr, nullptr, 0), 1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadTcv(dir_ / "bild-\xC3\xA4.tcv").keys.at("height"), "2");
}
