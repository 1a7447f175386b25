// Reading files through the scriptable test converter: every band mode and
// row order, the pixel-type choice and conversion, header and band checks,
// converter failures, cancel, the sink's refusals, and thumbnails.

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "ReadPipeline.h"
#include "ReadTestSupport.h"
#include "TestConverterShared.h"
#include "Utf16.h"

using namespace FormgateTest;

namespace {

class ReadPipelineTest : public ModuleTest {
protected:
    void SetUp() override { Start({"conv_t"}); }

    int Read(const std::string& path, int accepted, CProgress* progress = nullptr, bool withOwner = true) {
        return ImExp_ReadFile(&sink_, withOwner ? Owner() : nullptr, path.c_str(), accepted, progress,
                              nullptr, 0);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : host_.messages)
            texts.push_back(m.text);
        return texts;
    }
    // The library freed everything it took, whatever happened.
    void ExpectReleased(const std::string& what) {
        EXPECT_EQ(LogCount("conv_t.so RDCleanUp"), 1) << what;
        EXPECT_FALSE(AnyConverterMapped()) << what;
        EXPECT_EQ(host_.cursorDepth, 0) << what;
    }

    RecordingSink sink_;
};

// The 24-bit row of image row r (from the top) as the sink gets it: blue first.
Bytes GeneratedBgr(int r, int width) {
    Bytes row(static_cast<size_t>(3 * width));
    for (int i = 0; i < width; ++i)
        for (int k = 0; k < 3; ++k)
            row[static_cast<size_t>(3 * i + k)] = TestConvPixelByte(r, 0, 3 * i + 2 - k);
    return row;
}

struct BandCase {
    int access, order, rows, fixed, bandRows;
    bool libraryDriven;
};

}  // namespace

TEST_F(ReadPipelineTest, EveryBandModeDeliversEveryRowOnceWithProgress) {
    const BandCase cases[] = {
        {0, 1, 1, 0, 0, false}, {0, 2, 1, 0, 0, false}, {0, 1, 3, 0, 0, false}, {0, 2, 3, 0, 0, false},
        {0, 1, 3, 1, 0, false}, {0, 2, 3, 1, 0, false}, {1, 1, 1, 0, 0, true},  {1, 2, 1, 0, 0, true},
        {1, 1, 3, 0, 0, true},  {2, 2, 3, 0, 0, true},  {1, 1, 3, 1, 0, true},  {1, 2, 3, 1, 0, true},
        {1, 1, 3, 1, 2, true},  {1, 2, 4, 1, 3, true},  {3, 2, 3, 0, 0, true},  {3, 0, 3, 0, 0, false},
        {1, 1, 9, 0, 0, true},  {0, 2, 9, 0, 0, false},
    };
    const int width = 5, height = 7;
    for (const BandCase& c : cases) {
        std::ostringstream name;
        name << "access " << c.access << " order " << c.order << " rows " << c.rows << " fixed " << c.fixed
             << " bandrows " << c.bandRows;
        std::ostringstream keys;
        keys << "width=" << width << "\nheight=" << height << "\naccess=" << c.access << "\norder=" << c.order
             << "\nrows=" << c.rows << "\nfixed=" << c.fixed << "\n";
        if (c.bandRows)
            keys << "bandrows=" << c.bandRows << "\n";
        const std::string path = File("photo.tcv", Tcv(keys.str()));
        ClearLog();
        sink_ = RecordingSink();
        RecordingProgress progress;

        ASSERT_EQ(Read(path, ImExp::PixelRgb24, &progress), 1) << name.str();
        EXPECT_EQ(sink_.pixelType, ImExp::PixelRgb24) << name.str();
        EXPECT_EQ(sink_.rows.size(), 7u) << name.str();
        EXPECT_EQ(sink_.duplicates, 0) << name.str();
        for (int index = 0; index < height; ++index)
            EXPECT_EQ(sink_.rows[index], GeneratedBgr(height - index - 1, width))
                << name.str() << " row " << index;
        // Rows arrive in the converter's order: from the bottom up with row order 2.
        EXPECT_EQ(sink_.order.front(), c.order == 2 ? 0 : height - 1) << name.str();
        std::vector<std::pair<int, int>> steps;
        for (int i = 0; i < height; ++i)
            steps.emplace_back(i, height);
        EXPECT_EQ(progress.steps, steps) << name.str();
        EXPECT_EQ(progress.begins, 1) << name.str();
        EXPECT_EQ(progress.ends, 1) << name.str();
        const int rowsPerBand = std::min(c.rows, 9);
        EXPECT_EQ(
            LogCount("conv_t.so RDSetupReading mode=" + std::to_string(c.access == 3 ? c.order : c.access) +
                     " rows=" + std::to_string(rowsPerBand)),
            1)
            << name.str();
        ExpectReleased(name.str());
        EXPECT_TRUE(host_.messages.empty()) << name.str();
        EXPECT_GE(host_.cursorCalls, 1) << name.str();
    }
}

namespace {

struct PixelCase {
    const char* name;
    std::string keys;
    Bytes data;
    int accepted;
    int type;
    Bytes row;  // sink row 0 (the only row)
    Bytes alpha;
};

}  // namespace

TEST_F(ReadPipelineTest, PixelTypeChoiceAndRowConversion) {
    const PixelCase cases[] = {
        {"16-bit grey to 24-bit",
         "width=2\nheight=1\ncolour=0\nbits=16",
         {0xAB, 0x12, 0x00, 0xFF},
         16,
         16,
         {0x12, 0x12, 0x12, 0xFF, 0xFF, 0xFF},
         {}},
        {"16-bit grey kept",
         "width=2\nheight=1\ncolour=0\nbits=16",
         {0xAB, 0x12, 0x00, 0xFF},
         16 | 32,
         32,
         {0xAB, 0x12, 0x00, 0xFF},
         {}},
        {"16-bit grey to 48-bit",
         "width=1\nheight=1\ncolour=0\nbits=16",
         {0xAB, 0x12},
         64,
         64,
         {0xAB, 0x12, 0xAB, 0x12, 0xAB, 0x12},
         {}},
        {"inverted 16-bit grey",
         "width=1\nheight=1\ncolour=0\nbits=16\ninverted=1",
         {0xAB, 0x12},
         32,
         32,
         {0x54, 0xED},
         {}},
        {"48-bit red first to 24",
         "width=1\nheight=1\nbits=48",
         {0x22, 0x11, 0x44, 0x33, 0x66, 0x55},
         16,
         16,
         {0x55, 0x33, 0x11},
         {}},
        {"48-bit blue first to 24",
         "width=1\nheight=1\nbits=48\nbluefirst=1",
         {0x22, 0x11, 0x44, 0x33, 0x66, 0x55},
         16,
         16,
         {0x11, 0x33, 0x55},
         {}},
        {"48-bit red first to 48",
         "width=1\nheight=1\nbits=48",
         {0x22, 0x11, 0x44, 0x33, 0x66, 0x55},
         64,
         64,
         {0x66, 0x55, 0x44, 0x33, 0x22, 0x11},
         {}},
        {"24-bit blue first to 48",
         "width=1\nheight=1\nbluefirst=1",
         {1, 2, 3},
         64,
         64,
         {0, 1, 0, 2, 0, 3},
         {}},
        {"24-bit red first to 48", "width=1\nheight=1", {1, 2, 3}, 64, 64, {0, 3, 0, 2, 0, 1}, {}},
        {"white-on-black bilevel complemented",
         "width=9\nheight=1\ncolour=1\nbits=1\npalette=invgrey\nbpr=2",
         {0xB0, 0x80},
         1,
         1,
         {0x4F, 0x7F},
         {}},
        {"bilevel unpacked", "width=3\nheight=1\ncolour=0\nbits=1\npacked=0", {0, 5, 1}, 1, 1, {0x60}, {}},
        {"bilevel to 16 colours", "width=3\nheight=1\ncolour=0\nbits=1", {0xA0}, 2, 2, {0x10, 0x10}, {}},
        {"bilevel to grey", "width=3\nheight=1\ncolour=0\nbits=1", {0xA0}, 8, 8, {255, 0, 255}, {}},
        {"2-bit unpacked to 16 colours",
         "width=3\nheight=1\ncolour=0\nbits=2\npacked=0",
         {1, 2, 3},
         2,
         2,
         {0x12, 0x30},
         {}},
        {"4-bit packed odd width to 256 colours",
         "width=3\nheight=1\ncolour=0\nbits=4",
         {0x12, 0x34},
         4,
         4,
         {1, 2, 3},
         {}},
        {"4-bit packed kept", "width=3\nheight=1\ncolour=0\nbits=4", {0x12, 0x34}, 2, 2, {0x12, 0x34}, {}},
        {"4-bit planes packed",
         "width=3\nheight=1\ncolour=0\nbits=4\nplanes=4\nbpr=1",
         {0xA0, 0x60, 0x00, 0x80},
         2,
         2,
         {0x92, 0x30},
         {}},
        {"4-bit planes to grey",
         "width=3\nheight=1\ncolour=0\nbits=4\nplanes=4\nbpr=1",
         {0xA0, 0x60, 0x00, 0x80},
         8,
         8,
         {153, 34, 51},
         {}},
        {"grey ramp palette is grey",
         "width=3\nheight=1\ncolour=1\nbits=8\npalette=grey",
         {0, 128, 255},
         8 | 4,
         8,
         {0, 128, 255},
         {}},
        {"inverted ramp palette is inverted grey",
         "width=3\nheight=1\ncolour=1\nbits=8\npalette=invgrey",
         {0, 1, 255},
         8,
         8,
         {255, 254, 0},
         {}},
        {"inverted 8-bit grey",
         "width=2\nheight=1\ncolour=0\nbits=8\ninverted=1",
         {0, 100},
         8,
         8,
         {255, 155},
         {}},
        {"inverted 8-bit grey to 24",
         "width=2\nheight=1\ncolour=0\nbits=8\ninverted=1",
         {0, 100},
         16,
         16,
         {255, 255, 255, 155, 155, 155},
         {}},
        {"colour palette to 24",
         "width=1\nheight=1\ncolour=2\nbits=8\npalette=colour",
         {2},
         16 | 8,
         16,
         {14, 253, 2},
         {}},
        {"colour palette to 48",
         "width=1\nheight=1\ncolour=2\nbits=8\npalette=colour",
         {2},
         64,
         64,
         {0, 14, 0, 253, 0, 2},
         {}},
        {"colour palette kept",
         "width=1\nheight=1\ncolour=2\nbits=8\npalette=colour",
         {2},
         4 | 8,
         4,
         {2},
         {}},
        {"planar 24 to 24",
         "width=2\nheight=1\nplanes=3\nbpr=2",
         {10, 11, 20, 21, 30, 31},
         16,
         16,
         {30, 20, 10, 31, 21, 11},
         {}},
        {"planar 24 to 48",
         "width=2\nheight=1\nplanes=3\nbpr=2",
         {10, 11, 20, 21, 30, 31},
         64,
         64,
         {0, 30, 0, 20, 0, 10, 0, 31, 0, 21, 0, 11},
         {}},
        {"planar 48 to 24",
         "width=1\nheight=1\nbits=48\nplanes=3\nbpr=2",
         {0, 0x11, 0, 0x22, 0, 0x33},
         16,
         16,
         {0x33, 0x22, 0x11},
         {}},
        {"planar 48 to 48",
         "width=1\nheight=1\nbits=48\nplanes=3\nbpr=2",
         {0, 0x11, 0, 0x22, 0, 0x33},
         64,
         64,
         {0, 0x33, 0, 0x22, 0, 0x11},
         {}},
        {"RGBA to 24",
         "width=2\nheight=1\ncolour=5\nbpr=8",
         {1, 2, 3, 200, 4, 5, 6, 100},
         16,
         16,
         {3, 2, 1, 6, 5, 4},
         {200, 100}},
        {"BGRA to 24",
         "width=2\nheight=1\ncolour=5\nbpr=8\nbluefirst=1",
         {1, 2, 3, 200, 4, 5, 6, 100},
         16,
         16,
         {1, 2, 3, 4, 5, 6},
         {200, 100}},
        {"RGBA to 48",
         "width=1\nheight=1\ncolour=5\nbpr=4",
         {1, 2, 3, 200},
         64,
         64,
         {0, 3, 0, 2, 0, 1},
         {0, 200}},
        {"planar RGBA to 24",
         "width=2\nheight=1\ncolour=5\nplanes=3\nbpr=2",
         {1, 4, 2, 5, 3, 6, 200, 100},
         16,
         16,
         {3, 2, 1, 6, 5, 4},
         {200, 100}},
        {"planar RGBA 48 to 24",
         "width=1\nheight=1\ncolour=5\nbits=48\nplanes=3\nbpr=2",
         {0, 1, 0, 2, 0, 3, 0, 200},
         16,
         16,
         {3, 2, 1},
         {200}},
        {"RGBA 48 to 48",
         "width=1\nheight=1\ncolour=5\nbits=48\nbpr=8",
         {1, 0, 2, 0, 3, 0, 4, 0},
         64,
         64,
         {3, 0, 2, 0, 1, 0},
         {4, 0}},
        {"grey and alpha to grey",
         "width=2\nheight=1\ncolour=4\nbits=8\nbpr=4",
         {10, 255, 20, 128},
         8,
         8,
         {10, 20},
         {255, 128}},
        {"grey and alpha to 24",
         "width=2\nheight=1\ncolour=4\nbits=8\nbpr=4",
         {10, 255, 20, 128},
         16,
         16,
         {10, 10, 10, 20, 20, 20},
         {255, 128}},
        {"grey and alpha to 48",
         "width=1\nheight=1\ncolour=4\nbits=8\nbpr=2",
         {10, 255},
         64,
         64,
         {0, 10, 0, 10, 0, 10},
         {0, 255}},
        {"16-bit grey and alpha",
         "width=1\nheight=1\ncolour=4\nbits=16\nbpr=4",
         {0x34, 0x12, 0x78, 0x56},
         32,
         32,
         {0x34, 0x12},
         {0x78, 0x56}},
        {"16-bit grey and alpha to 24",
         "width=1\nheight=1\ncolour=4\nbits=16\nbpr=4",
         {0x34, 0x12, 0x78, 0x56},
         16,
         16,
         {0x12, 0x12, 0x12},
         {0x56}},
    };
    for (const PixelCase& c : cases) {
        const std::string path = File("photo.tcv", Tcv(c.keys, c.data));
        sink_ = RecordingSink();
        ASSERT_EQ(Read(path, c.accepted), 1) << c.name << ": " << (Texts().empty() ? "" : Texts().back());
        EXPECT_EQ(sink_.pixelType, c.type) << c.name;
        EXPECT_EQ(sink_.rows[0], c.row) << c.name;
        EXPECT_EQ(sink_.hasAlpha, c.alpha.empty() ? 0 : 1) << c.name;
        if (!c.alpha.empty()) {
            EXPECT_EQ(sink_.alphaRows[0], c.alpha) << c.name;
        }
    }
}

TEST_F(ReadPipelineTest, PalettesTheSinkGets) {
    // A generated ramp for grey data; the converter's own for a colour palette.
    const std::string grey = File("grey.tcv", Tcv("width=1\nheight=1\ncolour=0\nbits=2\npacked=0", {0}));
    ASSERT_EQ(Read(grey, 4), 1);
    EXPECT_EQ(sink_.palette, (Bytes{0, 0, 0, 0, 85, 85, 85, 0, 170, 170, 170, 0, 255, 255, 255, 0}));

    sink_ = RecordingSink();
    const std::string bilevel =
        File("white.tcv", Tcv("width=8\nheight=1\ncolour=1\nbits=1\npalette=invgrey", {0}));
    ASSERT_EQ(Read(bilevel, 1), 1);
    EXPECT_EQ(sink_.palette, (Bytes{255, 255, 255, 0, 0, 0, 0, 0}));

    sink_ = RecordingSink();
    const std::string colour =
        File("colour.tcv", Tcv("width=1\nheight=1\ncolour=2\nbits=4\npalette=colour", {0}));
    ASSERT_EQ(Read(colour, 2), 1);
    ASSERT_EQ(sink_.palette.size(), 64u);
    EXPECT_EQ((Bytes(sink_.palette.begin() + 12, sink_.palette.begin() + 16)), (Bytes{3, 252, 21, 0}));

    // 16-bit data has no palette.
    sink_ = RecordingSink();
    const std::string deep = File("deep.tcv", Tcv("width=1\nheight=1\ncolour=0\nbits=16", {0, 0}));
    ASSERT_EQ(Read(deep, 32), 1);
    EXPECT_TRUE(sink_.palette.empty());
}

namespace {

struct RejectCase {
    const char* keys;
    int accepted;
    int code;
    const char* text;
};

}  // namespace

TEST_F(ReadPipelineTest, HeadersAndSizesTheLibraryRejects) {
    const RejectCase cases[] = {
        {"width=133169153", 16, 4, "Invalid Image File photo.tcv"},
        {"height=0", 16, 4, "Invalid Image File photo.tcv"},
        {"width=0", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=6", 16, 4, "Invalid Image File photo.tcv"},
        {"planes=2\nbpr=12", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=0", 16, 4, "Invalid Image File photo.tcv"},
        {"bits=8", 16, 4, "Invalid Image File photo.tcv"},
        {"width=4\nbpr=11", 16, 4, "Invalid Image File photo.tcv"},
        {"bpr=0", 16, 4, "Invalid Image File photo.tcv"},
        {"bits=0", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=1\nbits=16", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=4\nbits=8\nbpr=4", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=5\nbpr=12", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=0\nbits=4\npacked=0\nbpr=2", 16, 4, "Invalid Image File photo.tcv"},
        {"fixed=1\nrows=0", 16, 4, "Invalid Image File photo.tcv"},
        {"colour=0\nbits=7", 16, 11, "Illegal conversion requested"},
        {"colour=0\nbits=12", 16, 11, "Illegal conversion requested"},
        {"colour=0\nbits=2", 16, 11, "Illegal conversion requested"},
        {"colour=0\nbits=4\nplanes=4\npacked=0\nbpr=4", 16, 11, "Illegal conversion requested"},
        {"colour=5\nbits=8\nbpr=8", 16, 11, "Illegal conversion requested"},
        {"colour=4\nbits=4\nbpr=8", 16, 11, "Illegal conversion requested"},
        {"", 0, 11, "Illegal conversion requested"},
        {"", 8 | 32 | 1 | 2, 11, "Illegal conversion requested"},
        {"colour=0\nbits=16", 4 | 8, 11, "Illegal conversion requested"},
        {"width=50000000\nplanes=3\nbpr=50000000", 16, 9, "File too big photo.tcv"},
        {"width=20000000\ncolour=5\nbpr=80000000", 16, 9, "File too big photo.tcv"},
        {"width=1000000\nfixed=1\nrows=3000", 16, 9, "File too big photo.tcv"},
    };
    for (const RejectCase& c : cases) {
        const std::string path = File("photo.tcv", Tcv(c.keys));
        ClearLog();
        host_.messages.clear();
        sink_ = RecordingSink();
        EXPECT_EQ(Read(path, c.accepted), 0) << c.keys;
        EXPECT_EQ(formgate::LastReportedError(), c.code) << c.keys;
        EXPECT_EQ(Texts(), std::vector<std::string>{c.text}) << c.keys;
        EXPECT_EQ(host_.messages.empty() ? "" : host_.messages[0].caption, "Converter Error");
        EXPECT_TRUE(sink_.rows.empty()) << c.keys;
        ExpectReleased(c.keys);
    }
}

namespace {

struct FailureCase {
    const char* variant;
    std::string settings;  // keys of the converter's section
    std::string keys;      // of the file
    int code;
    std::string text;
    int rowsDelivered;
};

}  // namespace

TEST_F(ReadPipelineTest, ConverterFailuresAtEveryEntryPoint) {
    const FailureCase cases[] = {
        {"conv_script", "Fail.RDReadHeader=5", "", 5, "Unsupporter Subformat photo.tcv", 0},
        {"conv_script", "Fail.RDReadHeader=25", "", 25, "General Conversion Error", 0},
        {"conv_errstr", "Fail.RDReadHeader=25", "", 25, "Test converter error 25 in photo.tcv", 0},
        {"conv_errstr", "Fail.RDReadHeader=14", "", 14, "Decompressor Error photo.tcv", 0},
        {"conv_errstr", "Fail.RDReadHeader=30\nErrorText=", "", 30, "General Conversion Error", 0},
        {"conv_script", "Throw.RDReadHeader=cpp", "", 15, "General Conversion Error", 0},
        {"conv_script", "Fail.RDSetupReading=13", "", 13, "Disk full writing photo.tcv", 0},
        {"conv_script", "Fail.RDReadBand=14@3", "", 14, "Decompressor Error photo.tcv", 2},
        {"conv_script", "Fail.RDReadBand=14@3", "access=0", 14, "Decompressor Error photo.tcv", 2},
        {"conv_errstr", "Fail.RDReadBand=40@2", "rows=2\naccess=0", 40,
         "Test converter error 40 in photo.tcv", 2},
        {"conv_script", "Throw.RDReadBand=stream@2", "", 15, "General Conversion Error", 1},
        {"conv_script", "Throw.RDReadBand=cpp@1", "access=0", 15, "General Conversion Error", 0},
        {"conv_script", "", "short=3", 1, "Unexpected end of file photo.tcv", 3},
        {"conv_script", "", "short=4\naccess=0\nrows=2", 1, "Unexpected end of file photo.tcv", 4},
        {"conv_script", "", "short=0\naccess=0", 1, "Unexpected end of file photo.tcv", 0},
    };
    for (const FailureCase& c : cases) {
        TearDown();
        Start({std::string("conv_t:") + c.variant}, "[conv_t.so]\n" + c.settings);
        const std::string path = File("photo.tcv", Tcv("width=3\nheight=5\n" + c.keys));
        ClearLog();
        sink_ = RecordingSink();
        RecordingProgress progress;
        const std::string name = std::string(c.variant) + " " + c.settings + " " + c.keys;
        EXPECT_EQ(Read(path, 16, &progress), 0) << name;
        EXPECT_EQ(formgate::LastReportedError(), c.code) << name;
        EXPECT_EQ(Texts(), std::vector<std::string>{c.text}) << name;
        EXPECT_EQ(static_cast<int>(sink_.rows.size()), c.rowsDelivered) << name;
        EXPECT_EQ(host_.messages.empty() ? -1 : host_.messages[0].cursorDepth, 0) << name;
        EXPECT_EQ(progress.begins, progress.ends) << name;
        ExpectReleased(name);
    }
}

TEST_F(ReadPipelineTest, MissingEntryPointsFileAndReader) {
    // Without RDCleanUp nothing is called at all.
    TearDown();
    Start({"conv_t:conv_nocleanup"});
    const std::string path = File("photo.tcv", Tcv("width=3\nheight=5"));
    EXPECT_EQ(Read(path, 16), 0);
    EXPECT_EQ(formgate::LastReportedError(), 18);
    EXPECT_EQ(Texts(), std::vector<std::string>{"General Conversion Error"});
    EXPECT_EQ(LogCountPrefix("conv_t.so RDReadHeader"), 0);
    EXPECT_EQ(sink_.sizeCalls, 0);
    EXPECT_FALSE(AnyConverterMapped());

    TearDown();
    Start({"conv_t"}, "[conv_t.so]\nCheck=0");
    host_.messages.clear();
    EXPECT_EQ(Read(dir_ / "nothere.tcv", 16), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Cannot open file nothere.tcv"});
    EXPECT_EQ(Read(path, 16), 0);
    EXPECT_EQ(formgate::LastReportedError(), 3);
    EXPECT_EQ(Texts().back(), "Unknown image file format photo.tcv");
    EXPECT_EQ(LogCountPrefix("conv_t.so RDReadHeader"), 0);

    // A content check that throws rejects the file.
    TearDown();
    Start({"conv_t"}, "[conv_t.so]\nThrow.RDCheckFile=stream");
    EXPECT_EQ(Read(path, 16), 0);
    EXPECT_EQ(formgate::LastReportedError(), 3);
    EXPECT_FALSE(AnyConverterMapped());

    // No sink: nothing to read into.
    EXPECT_EQ(ImExp_ReadFile(nullptr, Owner(), path.c_str(), 16, nullptr, nullptr, 0), 0);
    EXPECT_EQ(formgate::LastReportedError(), 19);
}

TEST_F(ReadPipelineTest, BandPositionsFromTheConverterAreChecked) {
    const char* cases[] = {
        "access=0\nliestart=7",
        "access=0\nliestart=-1",
        "access=0\nrows=3\nlierows=0",
        "access=0\nrows=3\nlierows=4",
        "access=1\nrows=3\nfixed=1\nlierows=5",
        "access=1\nrows=3\nfixed=1\nlierows=0",
        // The same band start for ever: after the image's rows the library stops.
        "access=0\nliestart=2",
        "access=1\nrows=3\nfixed=1\nlierows=3\norder=2",
    };
    for (const char* keys : cases) {
        const std::string path = File("photo.tcv", Tcv(std::string("width=3\nheight=7\n") + keys));
        ClearLog();
        host_.messages.clear();
        sink_ = RecordingSink();
        EXPECT_EQ(Read(path, 16), 0) << keys;
        EXPECT_EQ(formgate::LastReportedError(), 4) << keys;
        EXPECT_EQ(Texts(), std::vector<std::string>{"Invalid Image File photo.tcv"}) << keys;
        for (const auto& [index, row] : sink_.rows)
            EXPECT_TRUE(index >= 0 && index < 7) << keys;
        ExpectReleased(keys);
    }
}

TEST_F(ReadPipelineTest, CancelAtAnyRowStopsSilently) {
    for (const char* keys : {"access=1\nrows=3", "access=0\nrows=3", "access=1", "access=0\norder=2"}) {
        for (int at = 0; at < 7; ++at) {
            const std::string path = File("photo.tcv", Tcv(std::string("width=3\nheight=7\n") + keys));
            ClearLog();
            sink_ = RecordingSink();
            RecordingProgress progress;
            progress.cancelAt = at;
            EXPECT_EQ(Read(path, 16, &progress), 0) << keys << " at " << at;
            EXPECT_EQ(formgate::LastReportedError(), 12);
            EXPECT_TRUE(host_.messages.empty()) << keys << " at " << at;
            EXPECT_EQ(progress.steps.size(), static_cast<size_t>(at + 1));
            EXPECT_EQ(progress.begins, 1);
            EXPECT_EQ(progress.ends, 1);
            ExpectReleased(keys);
        }
    }
}

TEST_F(ReadPipelineTest, CleanUpFailuresDoNotUndoARead) {
    for (const char* settings : {"Fail.RDCleanUp=15", "Throw.RDCleanUp=cpp"}) {
        TearDown();
        Start({"conv_t"}, std::string("[conv_t.so]\n") + settings);
        const std::string path = File("photo.tcv", Tcv("width=3\nheight=5"));
        ClearLog();
        sink_ = RecordingSink();
        EXPECT_EQ(Read(path, 16), 1) << settings;
        EXPECT_EQ(sink_.rows.size(), 5u) << settings;
        EXPECT_TRUE(host_.messages.empty()) << settings;
        ExpectReleased(settings);
    }
}

TEST_F(ReadPipelineTest, SinkRefusalsAreFailures) {
    const std::string path = File("photo.tcv", Tcv("width=3\nheight=5"));
    sink_.refuseSize = 1;
    EXPECT_EQ(Read(path, 16), 0);
    EXPECT_EQ(formgate::LastReportedError(), 19);
    EXPECT_EQ(Texts(), std::vector<std::string>{"General Conversion Error"});
    EXPECT_TRUE(sink_.rows.empty());

    ClearLog();
    sink_ = RecordingSink();
    sink_.refuseRowAt = 2;
    EXPECT_EQ(Read(path, 16), 0);
    EXPECT_EQ(formgate::LastReportedError(), 19);
    EXPECT_EQ(sink_.rows.size(), 3u);
    ExpectReleased("PutRow refused");
}

TEST_F(ReadPipelineTest, NoOwnerNoMessage) {
    const std::string path = File("photo.tcv", Tcv("width=3\nheight=5\nheight=0"));
    EXPECT_EQ(Read(path, 16, nullptr, false), 0);
    EXPECT_EQ(formgate::LastReportedError(), 4);
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(ReadPipelineTest, ResolutionTheSinkGets) {
    struct Case {
        int unit, x, y, xDpi, yDpi;
    };
    const Case cases[] = {
        {2, 300, 300, 300, 300}, {2, 300, 0, 300, 300}, {2, 0, 200, 72, 72}, {3, 118, 118, 300, 300},
        {3, 118, 0, 300, 300},   {1, 1, 2, 72, 144},    {1, 2, 0, 72, 72},   {1, 0, 5, 72, 72},
        {0, 300, 300, 72, 72},   {4, 640, 480, 72, 72}, {9, 1, 1, 72, 72},
    };
    for (const Case& c : cases) {
        int x = -1, y = -1;
        formgate::SinkResolution(c.unit, c.x, c.y, x, y);
        EXPECT_EQ(x, c.xDpi) << c.unit << " " << c.x << " " << c.y;
        EXPECT_EQ(y, c.yDpi) << c.unit << " " << c.x << " " << c.y;
    }
    EXPECT_EQ(formgate::MulDiv(118, 254, 100), 300);
    EXPECT_EQ(formgate::MulDiv(-118, 254, 100), -300);
    EXPECT_EQ(formgate::MulDiv(1, 1, 0), -1);
    EXPECT_EQ(formgate::MulDiv(0x7FFFFFFF, 2, 2), 0x7FFFFFFF);

    const std::string path = File("photo.tcv", Tcv("width=3\nheight=2\nunit=3\nxres=118\nyres=40"));
    ASSERT_EQ(Read(path, 16), 1);
    EXPECT_EQ(sink_.resolutionCalls, 1);
    EXPECT_EQ(sink_.xDpi, 300);
    EXPECT_EQ(sink_.yDpi, 102);
}

TEST_F(ReadPipelineTest, ThumbnailsKeepTheAspectInsideTheBox) {
    struct Case {
        int width, height, left, top, right, bottom, thumbWidth, thumbHeight;
    };
    const Case cases[] = {
        {1600, 1200, 0, 0, 120, 90, 120, 90}, {1200, 1600, 0, 0, 120, 90, 67, 90},
        {1000, 1, 10, 10, 130, 100, 120, 1},  {1, 1000, 0, 0, 120, 90, 1, 90},
        {40, 30, 0, 0, 120, 90, 40, 30},      {2, 1, 0, 0, 5, 4, 2, 1},
    };
    for (const Case& c : cases) {
        std::ostringstream keys;
        keys << "width=" << c.width << "\nheight=" << c.height << "\naccess=0\nrows=16\norder=2";
        const std::string path = File("photo.tcv", Tcv(keys.str()));
        sink_ = RecordingSink();
        ImExpRect box{c.left, c.top, c.right, c.bottom};
        ASSERT_EQ(ImExp_ReadThumb(&sink_, Owner(), path.c_str(), &box), 1) << c.width << "x" << c.height;
        EXPECT_EQ(sink_.width, c.thumbWidth);
        EXPECT_EQ(sink_.height, c.thumbHeight);
        EXPECT_EQ(sink_.pixelType, ImExp::PixelRgb24);
        EXPECT_EQ(sink_.resolutionCalls, 0);
        EXPECT_EQ(sink_.rows.size(), static_cast<size_t>(c.thumbHeight));
        EXPECT_EQ(sink_.duplicates, 0);
        // Rows come bottom-up here, so thumbnail row t shows the lowest image row landing on it.
        for (int t : {0, c.thumbHeight - 1}) {
            int index = 0;
            while (static_cast<long long>(index) * c.thumbHeight / c.height < t)
                ++index;
            const Bytes image = GeneratedBgr(c.height - index - 1, c.width);
            for (int j : {0, c.thumbWidth / 2, c.thumbWidth - 1}) {
                const size_t column = static_cast<size_t>(static_cast<long long>(j) * c.width / c.thumbWidth);
                EXPECT_EQ((Bytes(sink_.rows[t].begin() + 3 * j, sink_.rows[t].begin() + 3 * j + 3)),
                          (Bytes(image.begin() + 3 * column, image.begin() + 3 * column + 3)))
                    << c.width << "x" << c.height << " row " << t << " column " << j;
            }
        }
    }

    // Alpha is sampled alike; top-down, the top image row stands for the one thumbnail row.
    const std::string rgba = File("rgba.tcv", Tcv("width=4\nheight=2\ncolour=5\nbpr=16",
                                                  {1, 2, 3, 10, 4, 5, 6, 20, 7, 8, 9, 30, 1, 1, 1, 40,
                                                   0, 0, 0, 50, 0, 0, 0, 60, 0, 0, 0, 70, 0, 0, 0, 80}));
    sink_ = RecordingSink();
    ImExpRect half{0, 0, 2, 2};
    ASSERT_EQ(ImExp_ReadThumb(&sink_, Owner(), rgba.c_str(), &half), 1);
    EXPECT_EQ(sink_.height, 1);
    EXPECT_EQ(sink_.rows.size(), 1u);
    EXPECT_EQ(sink_.rows[0], (Bytes{3, 2, 1, 9, 8, 7}));
    EXPECT_EQ(sink_.alphaRows[0], (Bytes{10, 30}));

    // A box without area reads nothing.
    for (ImExpRect box : {ImExpRect{0, 0, 0, 90}, ImExpRect{0, 0, 120, -5}, ImExpRect{50, 0, 10, 90}}) {
        sink_ = RecordingSink();
        EXPECT_EQ(ImExp_ReadThumb(&sink_, Owner(), rgba.c_str(), &box), 0);
        EXPECT_EQ(formgate::LastReportedError(), 15);
        EXPECT_TRUE(sink_.rows.empty());
    }
    EXPECT_EQ(ImExp_ReadThumbW(&sink_, Owner(), u"/any.tcv", &half), 0);
}

TEST_F(ReadPipelineTest, SixteenBitNamesReadTheSameFile) {
    const std::string path = File("фото.tcv", Tcv("width=4\nheight=3"));
    const std::u16string wide = u"" + formgate::Utf16FromUtf8(path);
    ASSERT_EQ(ImExp_ReadFileW(&sink_, Owner(), wide.c_str(), 16, nullptr, nullptr, 0), 1);
    EXPECT_EQ(sink_.rows.size(), 3u);
    EXPECT_EQ(sink_.rows[2], GeneratedBgr(0, 4));

    const std::u16string missing = formgate::Utf16FromUtf8(dir_ / "нет.tcv");
    EXPECT_EQ(ImExp_ReadFileW(&sink_, Owner(), missing.c_str(), 16, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Cannot open file нет.tcv"});
}

TEST_F(ReadPipelineTest, OptionsReachTheConverterUnchanged) {
    const std::string path = File("photo.tcv", Tcv("width=2\nheight=2"));
    char first[] = "quality=9";
    char second[] = "page=2";
    char* options[] = {first, second};
    ASSERT_EQ(ImExp_ReadFile(&sink_, Owner(), path.c_str(), 16, nullptr, options, 2), 1);
    EXPECT_EQ(LogCount("conv_t.so RDReadHeader options=2 quality=9 page=2"), 1);
}

// Arbitrary headers never make the library step outside a row or a band:
// it reads the image or fails with a code (run under the asan preset too).
TEST_F(ReadPipelineTest, ArbitraryHeadersFailCleanly) {
    std::mt19937 random(1234);
    auto pick = [&](std::initializer_list<int> values) {
        return *(values.begin() + static_cast<long>(random() % values.size()));
    };
    int read = 0;
    for (int i = 0; i < 300; ++i) {
        std::ostringstream keys;
        const int width = pick({1, 2, 3, 7, 9, 17});
        keys << "width=" << width << "\nheight=" << pick({1, 2, 5}) << "\ncolour=" << pick({0, 1, 2, 3, 4, 5})
             << "\nbits=" << pick({1, 2, 3, 4, 5, 8, 12, 16, 24, 32, 48}) << "\nplanes=" << pick({1, 1, 3, 4})
             << "\npacked=" << pick({0, 1}) << "\ninverted=" << pick({0, 1}) << "\nbluefirst=" << pick({0, 1})
             << "\nbpr=" << pick({1, 2, 3, 5, 8, 17, 40, 140}) << "\naccess=" << pick({0, 1, 2, 3})
             << "\norder=" << pick({0, 1, 2}) << "\nrows=" << pick({0, 1, 2, 4, -3})
             << "\nfixed=" << pick({0, 1}) << "\npalette=" << (random() % 2 ? "grey" : "colour") << "\n";
        if (random() % 4 == 0)
            keys << "bandrows=" << pick({1, 2, 3}) << "\n";
        const std::string path = File("photo.tcv", Tcv(keys.str()));
        sink_ = RecordingSink();
        RecordingProgress progress;
        const int accepted = pick({1, 2, 4, 8, 16, 32, 64, 127, 16 | 64, 8 | 32});
        ImExpRect box{0, 0, 5, 4};
        const bool thumbnail = i % 3 == 0;
        const int result = thumbnail ? ImExp_ReadThumb(&sink_, nullptr, path.c_str(), &box)
                                     : Read(path, accepted, &progress, false);
        if (result == 1) {
            ++read;
            EXPECT_EQ(sink_.rows.size(), static_cast<size_t>(sink_.height)) << keys.str();
            EXPECT_EQ(sink_.duplicates, 0) << keys.str();
            EXPECT_NE((thumbnail ? 16 : accepted) & sink_.pixelType, 0) << keys.str();
        } else {
            EXPECT_NE(formgate::LastReportedError(), 0) << keys.str();
        }
        EXPECT_EQ(progress.begins, progress.ends);
    }
    EXPECT_GT(read, 10);
    EXPECT_FALSE(AnyConverterMapped());
}
