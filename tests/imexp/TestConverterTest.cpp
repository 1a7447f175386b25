// The test converter is the stand-in for real codecs in every pipeline test,
// so its own band protocol, writer and injected failures are checked here,
// driving its entry points the way the library does.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "ConverterLibrary.h"
#include "FormgateTestSupport.h"
#include "TestConverterShared.h"
#include "TestData.h"

using formgate::ConverterLibrary;
using formgate::GuardedCall;
using Mode = CImExp_FileStream::OpenMode;

namespace {

class TestConverterTest : public ::testing::Test {
protected:
    void SetUp() override {
        FormgateTest::InstallCopy("conv_script", dir_.path() / "conv_t.so");
        ASSERT_TRUE(library_.Open(dir_ / "conv_t.so")) << library_.Error();
        settings_ = dir_ / "CONVERT.INI";
    }
    void Configure(const std::string& keys) {
        FormgateTest::WriteText(settings_, "[conv_t.so]\nLog=" + (dir_ / "log.txt") + "\n" + keys);
    }
    void NewContext(CImExp_FileStream& stream) {
        std::memset(&ctx_, 0, sizeof ctx_);
        ctx_.settingsPath = settings_.c_str();
        ctx_.stream = &stream;
        ctx_.palette = ctx_.paletteData;
        ctx_.imageCount = 1;
    }
    // Reads every band the way the library's loops do; rows by their index from the top.
    std::map<int, std::vector<std::uint8_t>> ReadAll(int accessInForce, int rowsPerBand) {
        auto* setup = FORMGATE_ENTRY(library_, RDSetupReading);
        auto* band = FORMGATE_ENTRY(library_, RDReadBand);
        ctx_.accessModeInForce = static_cast<std::uint16_t>(accessInForce);
        ctx_.rowsPerBand = rowsPerBand;
        EXPECT_EQ(setup(&ctx_), 0);
        const int rowBytes = static_cast<int>(ctx_.planes * ctx_.bytesPerPlaneRow);
        const int height = static_cast<int>(ctx_.height);
        std::vector<std::uint8_t> buffer(static_cast<size_t>(rowBytes * rowsPerBand));
        std::map<int, std::vector<std::uint8_t>> rows;
        int next = ctx_.rowOrder == 2 ? height - 1 : 0;  // from the top
        for (int guard = 0; guard < 100; ++guard) {
            if (accessInForce) {
                if (next < 0 || next >= height)
                    break;
                int left = ctx_.rowOrder == 2 ? next + 1 : height - next;
                ctx_.bandStartRow = next;
                ctx_.rowsInBand = std::min(rowsPerBand, left);
            }
            int result = band(&ctx_, buffer.data());
            if (result == 1)
                break;
            EXPECT_EQ(result, 0);
            if (result != 0)
                break;
            for (int i = 0; i < ctx_.rowsInBand; ++i) {
                int row = ctx_.rowOrder == 2 ? ctx_.bandStartRow - i : ctx_.bandStartRow + i;
                EXPECT_EQ(rows.count(row), 0u) << "row " << row << " delivered twice";
                rows[row].assign(buffer.begin() + i * rowBytes, buffer.begin() + (i + 1) * rowBytes);
            }
            next += ctx_.rowOrder == 2 ? -ctx_.rowsInBand : ctx_.rowsInBand;
        }
        return rows;
    }

    TestData::ScratchDir dir_;
    ConverterLibrary library_;
    std::string settings_;
    ConverterContext ctx_{};
};

}  // namespace

TEST_F(TestConverterTest, DeliversEveryRowOnceInEveryBandMode) {
    Configure("");
    struct Case {
        int access, order, rows;
    };
    const Case cases[] = {{0, 1, 1}, {0, 1, 3}, {0, 2, 1}, {0, 2, 3},
                          {1, 1, 1}, {1, 1, 3}, {1, 2, 1}, {1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "access " << c.access << " order " << c.order << " rows " << c.rows);
        const std::string file = dir_ / "image.tcv";
        FormgateTest::WriteText(
            file, "TCV\nwidth=5\nheight=7\nplanes=3\nbits=24\norder=" + std::to_string(c.order) +
                      "\nrows=" + std::to_string(c.rows) + "\n");
        CImExp_FileStream stream;
        ASSERT_TRUE(stream.Open(file.c_str(), Mode::Read));
        NewContext(stream);
        ASSERT_EQ(FORMGATE_ENTRY(library_, RDReadHeader)(&ctx_, nullptr, 0), 0);
        EXPECT_EQ(ctx_.width, 5u);
        EXPECT_EQ(ctx_.bytesPerPlaneRow, 5u);
        EXPECT_EQ(ctx_.rowsPerBandWanted, c.rows);
        auto rows = ReadAll(c.access, c.rows);
        ASSERT_EQ(rows.size(), 7u);
        for (auto& [row, bytes] : rows)
            for (int p = 0; p < 3; ++p)
                for (int b = 0; b < 5; ++b)
                    ASSERT_EQ(bytes[static_cast<size_t>(p * 5 + b)], TestConvPixelByte(row, p, b)) << row;
        EXPECT_EQ(FORMGATE_ENTRY(library_, RDCleanUp)(&ctx_), 0);
    }
}

TEST_F(TestConverterTest, WritesWhatItReceivesAndReadsItBack) {
    Configure("Write.access=0\nWrite.rows=2\n");
    const std::string target = dir_ / "out.tcv";
    {
        CImExp_FileStream stream;
        ASSERT_TRUE(stream.Open(target.c_str(), Mode::CreateReadWrite));
        NewContext(stream);
        ctx_.width = 3;
        ctx_.height = 5;
        ctx_.colourType = 3;
        ctx_.bitsPerPixel = 24;
        ctx_.planes = 1;
        ctx_.bytesPerPlaneRow = 9;
        ctx_.packed = 1;
        ctx_.accessMode = 1;
        ctx_.rowOrder = 2;
        ctx_.rowsPerBandWanted = 1;
        ASSERT_EQ(FORMGATE_ENTRY(library_, WRSetupWriting)(&ctx_, nullptr, 0), 0);
        EXPECT_EQ(ctx_.accessMode, 0) << "taken from the converter's settings";
        EXPECT_EQ(ctx_.rowsPerBandWanted, 2);
        ctx_.accessModeInForce = ctx_.accessMode;
        ctx_.rowsPerBand = 2;
        ASSERT_EQ(FORMGATE_ENTRY(library_, WRWriteHeader)(&ctx_), 0);
        std::vector<std::uint8_t> band(18);
        int result = 0;
        for (int guard = 0; guard < 10 && result == 0; ++guard) {
            for (int i = 0; i < ctx_.rowsInBand; ++i) {
                int row = ctx_.bandStartRow - i;  // bottom-up
                for (int b = 0; b < 9; ++b)
                    band[static_cast<size_t>(i * 9 + b)] = TestConvPixelByte(row, 0, b);
            }
            result = FORMGATE_ENTRY(library_, WRWriteBand)(&ctx_, band.data());
        }
        ASSERT_EQ(result, 1) << "finished";
        ASSERT_EQ(FORMGATE_ENTRY(library_, WREndWriting)(&ctx_), 0);
        EXPECT_EQ(FORMGATE_ENTRY(library_, WRCleanUp)(&ctx_), 0);
    }
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open(target.c_str(), Mode::Read));
    NewContext(stream);
    ASSERT_EQ(FORMGATE_ENTRY(library_, RDReadHeader)(&ctx_, nullptr, 0), 0);
    EXPECT_EQ(ctx_.height, 5u);
    auto rows = ReadAll(1, 1);
    ASSERT_EQ(rows.size(), 5u);
    for (auto& [row, bytes] : rows)
        for (int b = 0; b < 9; ++b)
            EXPECT_EQ(bytes[static_cast<size_t>(b)], TestConvPixelByte(row, 0, b));

    const auto log = FormgateTest::ReadLines(dir_ / "log.txt");
    EXPECT_NE(std::find(log.begin(), log.end(), "conv_t.so WRWriteBand start=4 rows=2"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "conv_t.so WRWriteBand start=0 rows=1"), log.end());
}

TEST_F(TestConverterTest, InjectedFailuresAndThrows) {
    Configure("Fail.RDReadBand=14@2\nThrow.RDGetImageInfo=stream\nThrow.RDCleanUp=cpp\n");
    const std::string file = dir_ / "image.tcv";
    FormgateTest::WriteText(file, "TCV\nwidth=2\nheight=4\n");
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open(file.c_str(), Mode::Read));
    NewContext(stream);
    ASSERT_EQ(FORMGATE_ENTRY(library_, RDReadHeader)(&ctx_, nullptr, 0), 0);
    ctx_.accessModeInForce = 1;
    ctx_.rowsPerBand = 1;
    ASSERT_EQ(FORMGATE_ENTRY(library_, RDSetupReading)(&ctx_), 0);
    std::vector<std::uint8_t> band(6);
    ctx_.rowsInBand = 1;
    EXPECT_EQ(FORMGATE_ENTRY(library_, RDReadBand)(&ctx_, band.data()), 0);
    EXPECT_EQ(FORMGATE_ENTRY(library_, RDReadBand)(&ctx_, band.data()), 14);
    ctx_.bandStartRow = 9;
    EXPECT_EQ(FORMGATE_ENTRY(library_, RDReadBand)(&ctx_, band.data()), 4) << "a band outside the image";

    CONVIMAGEINFO info{};
    auto* getInfo = FORMGATE_ENTRY(library_, RDGetImageInfo);
    EXPECT_EQ(GuardedCall([&] { return getInfo(&stream, 0, settings_.c_str(), &info); }), 15)
        << "the stream's own exception crossed the converter";
    auto* cleanUp = FORMGATE_ENTRY(library_, RDCleanUp);
    EXPECT_EQ(GuardedCall([&] { return cleanUp(&ctx_); }), 15);

    const auto log = FormgateTest::ReadLines(dir_ / "log.txt");
    const std::vector<std::string> expected = {
        "conv_t.so RDReadHeader options=0",
        "conv_t.so RDSetupReading mode=1 rows=1",
        "conv_t.so RDReadBand start=0 rows=1",
        "conv_t.so RDReadBand start=0 rows=1",
        "conv_t.so RDReadBand start=9 rows=1",
        "conv_t.so RDGetImageInfo image=0",
        "conv_t.so RDCleanUp",
    };
    EXPECT_EQ(log, expected);
}

TEST(TestConverterVariants, LackOrAddTheirEntryPoints) {
    struct Case {
        const char* variant;
        const char* entry;
        bool present;
    };
    const Case cases[] = {
        {"conv_script", "ConvGetVersion", true},      {"conv_noversion", "ConvGetVersion", false},
        {"conv_script", "ConvGetDllInfo", true},      {"conv_noinfo", "ConvGetDllInfo", false},
        {"conv_script", "RDCleanUp", true},           {"conv_nocleanup", "RDCleanUp", false},
        {"conv_script", "ConvGetErrorString", false}, {"conv_errstr", "ConvGetErrorString", true},
        {"conv_script", "WRCleanUp", true},           {"conv_script", "Enter", false},
    };
    for (const Case& c : cases) {
        ConverterLibrary library;
        ASSERT_TRUE(library.Open(FormgateTest::Variant(c.variant))) << library.Error();
        EXPECT_EQ(library.Symbol(c.entry) != nullptr, c.present) << c.variant << " " << c.entry;
    }

    ConverterLibrary library;
    ASSERT_TRUE(library.Open(FormgateTest::Variant("conv_errstr")));
    char text[260];
    std::memset(text, 'z', sizeof text);
    FORMGATE_ENTRY(library, ConvGetErrorString)(25, "photo.tcv", nullptr, text);
    EXPECT_STREQ(text, "Test converter error 25 in photo.tcv");
}
