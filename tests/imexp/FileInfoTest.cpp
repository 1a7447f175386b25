// File information without the pixels: the converter's description, the
// file's title, several images, and failures that return 0 silently.

#include <gtest/gtest.h>

#include <cstring>

#include "ReadTestSupport.h"
#include "Utf16.h"

using namespace FormgateTest;

namespace {

class FileInfoTest : public ModuleTest {
protected:
    int Info(const std::string& path) {
        std::memset(&info_, 0x5A, sizeof info_);
        return ImExp_GetFileInfo(&info_, path.c_str(), 0);
    }
    CONVIMAGEINFO info_{};
};

}  // namespace

TEST_F(FileInfoTest, DescribesTheFileWithoutShowingAnything) {
    Start({"conv_t"});
    const std::string path =
        File("photo.tcv", Tcv("width=1600\nheight=1200\ncolour=3\nbits=24\nformat=TCV image\n"
                              "compression=LZW\nunit=2\nxres=300\nyres=240\ndetails=1"));
    ASSERT_EQ(Info(path), 1);
    EXPECT_STREQ(info_.fileName, "photo.tcv");
    EXPECT_STREQ(info_.formatName, "TCV image");
    EXPECT_STREQ(info_.compression, "LZW");
    EXPECT_EQ(info_.imageCount, 1);
    EXPECT_EQ(info_.imageIndex, 0);
    EXPECT_EQ(info_.width, 1600u);
    EXPECT_EQ(info_.height, 1200u);
    EXPECT_EQ(info_.colourType, 3);
    EXPECT_EQ(info_.bitsPerPixel, 24);
    EXPECT_EQ(info_.resolutionUnit, 2);
    EXPECT_EQ(info_.xResolution, 300u);
    EXPECT_EQ(info_.yResolution, 240u);
    EXPECT_NE(info_.detailsAvailable, 0);
    EXPECT_EQ(LogCount("conv_t.so RDGetImageInfo image=0"), 1);
    EXPECT_EQ(LogCountPrefix("conv_t.so RDGetImageCount"), 0);
    EXPECT_FALSE(AnyConverterMapped());

    // Failures are silent, whatever the owner would be.
    EXPECT_EQ(Info(dir_ / "missing.tcv"), 0);
    EXPECT_EQ(Info(File("photo.xyz", "no image here")), 0);
    EXPECT_EQ(ImExp_GetFileInfo(nullptr, path.c_str(), 0), 0);
    EXPECT_EQ(ImExp_GetFileInfo(&info_, nullptr, 0), 0);
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(host_.cursorCalls, 0);
}

TEST_F(FileInfoTest, SeveralImagesAndConverterFailures) {
    struct Case {
        std::string settings, keys;
        int result, count;
    };
    const Case cases[] = {
        {"Flags=0x33", "images=3", 1, 3},
        {"Flags=0x33", "images=0", 0, 0},
        {"Flags=0x33", "images=-2", 0, 0},
        {"Flags=0x33\nFail.RDGetImageCount=7", "images=3", 0, 0},
        {"Flags=0x33\nThrow.RDGetImageCount=stream", "images=3", 0, 0},
        {"Flags=0x13", "images=3", 1, 1},
        {"Fail.RDGetImageInfo=4", "", 0, 0},
        {"Throw.RDGetImageInfo=cpp", "", 0, 0},
    };
    for (const Case& c : cases) {
        TearDown();
        Start({"conv_t"}, "[conv_t.so]\n" + c.settings);
        const std::string path = File("multi.tcv", Tcv(c.keys));
        std::memset(&info_, 0x5A, sizeof info_);
        EXPECT_EQ(ImExp_GetFileInfo(&info_, path.c_str(), 0), c.result) << c.settings;
        if (c.result) {
            EXPECT_EQ(info_.imageCount, c.count) << c.settings;
            EXPECT_EQ(info_.imageIndex, 0) << c.settings;
        } else {
            // A failure leaves the caller's record alone.
            EXPECT_EQ(info_.width, 0x5A5A5A5Au) << c.settings;
        }
        EXPECT_FALSE(AnyConverterMapped());
    }
}

TEST_F(FileInfoTest, TitlesAreCutToTheirField) {
    Start({"conv_t"});
    const std::string longName = std::string(196, 'n') + ".tcv";
    ASSERT_EQ(Info(File(longName, Tcv(""))), 1);
    EXPECT_EQ(std::string(info_.fileName), longName.substr(0, 127));

    const std::string path = File("фото.tcv", Tcv(""));
    const std::u16string wide = formgate::Utf16FromUtf8(path);
    std::memset(&info_, 0x5A, sizeof info_);
    ASSERT_EQ(ImExp_GetFileInfoW(&info_, wide.c_str(), 0), 1);
    char16_t title[64];
    std::memcpy(title, info_.fileName, sizeof title);
    EXPECT_EQ(std::u16string(title), u"фото.tcv");
    EXPECT_EQ(info_.width, 4u);

    const std::u16string longWide = formgate::Utf16FromUtf8(File(longName, Tcv("")));
    ASSERT_EQ(ImExp_GetFileInfoW(&info_, longWide.c_str(), 0), 1);
    std::memcpy(title, info_.fileName, sizeof title);
    EXPECT_EQ(title[63], u'\0');
    EXPECT_EQ(std::u16string(title), std::u16string(63, u'n'));
}
