// The EXIF fields as texts: the walk, the collector, the tag rules and the formatter.

#include <gtest/gtest.h>

#include <climits>

#include "ExifFields.h"
#include "ExifFixture.h"
#include "StringTable.h"
#include "TestData.h"

using namespace Fixture;

namespace {

// Counts the entries it is asked to format.
class CountingReader : public CExifTagReader {
public:
    std::string FormatTag(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                          CExifTagFormat& format) override {
        ++calls;
        return CExifTagReader::FormatTag(file, entry, bounds, format);
    }
    int calls = 0;
};

std::string TextOf(const std::vector<uint32_t>& request, const std::vector<std::string>& texts, uint32_t id) {
    for (size_t i = 0; i < request.size(); ++i)
        if (request[i] == id)
            return texts[i];
    return "<absent>";
}

}  // namespace

TEST(ExifFields, EmptyRequestListsTheWholeTable) {
    TestData::ScratchDir dir;
    for (bool bigEndian : {false, true}) {
        const std::string path = dir / "camera.jpg";
        CameraOptions o;
        o.bigEndian = bigEndian;
        WriteFile(path, CameraJpeg(o));
        std::vector<uint32_t> request;
        std::vector<std::string> texts;
        const int found = ReadExifFields(path, request, texts);
        ASSERT_EQ(request.size(), 27u);
        ASSERT_EQ(texts.size(), 27u);
        EXPECT_EQ(request.front(), 147u);
        EXPECT_EQ(found, 17);
        EXPECT_EQ(TextOf(request, texts, 147), "Harbour at dawn");
        EXPECT_EQ(TextOf(request, texts, 148), "OvCam");
        EXPECT_EQ(TextOf(request, texts, 150), "90 left");
        EXPECT_EQ(TextOf(request, texts, 154), "1/250");
        EXPECT_EQ(TextOf(request, texts, 155), "2.8");
        EXPECT_EQ(TextOf(request, texts, 157), "200");
        EXPECT_EQ(TextOf(request, texts, 159), "-0.333333");
        EXPECT_EQ(TextOf(request, texts, 164), "50");
        EXPECT_EQ(TextOf(request, texts, 166), "64");
        EXPECT_EQ(TextOf(request, texts, 170), "Off");
        EXPECT_EQ(TextOf(request, texts, 172), "Unknown");
        EXPECT_EQ(TextOf(request, texts, 153), "");  // no text in the plain formatter
        const std::string date = TextOf(request, texts, 152);
        EXPECT_NE(date, "2008:07:15 13:45:00");
        EXPECT_NE(date.find("2008"), std::string::npos);
    }
}

TEST(ExifFields, OneRequestedFieldEndsTheWalkAtItsMatch) {
    TestData::ScratchDir dir;
    const std::string path = dir / "camera.jpg";
    WriteFile(path, CameraJpeg());
    struct Case {
        uint32_t id;
        std::string text;
    } cases[] = {{155, "2.8"}, {171, ""}};
    for (const Case& c : cases) {
        std::vector<uint32_t> request = {c.id};
        std::vector<std::string> texts;
        CountingReader reader;
        EXPECT_EQ(ReadExifFields(path, request, texts, nullptr, &reader), 1);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], c.text);
        EXPECT_EQ(reader.calls, 1);
    }
    // Numbers the table does not know are skipped.
    std::vector<uint32_t> request = {9999};
    std::vector<std::string> texts;
    EXPECT_EQ(ReadExifFields(path, request, texts), 0);
    EXPECT_TRUE(texts.empty());
}

TEST(ExifFields, FilesThatListNothing) {
    TestData::ScratchDir dir;
    // A TIFF without an EXIF directory, though its first directory names a model.
    WriteFile(dir / "plain.tif", CameraTiff(false, false, false));
    // A JPEG whose APP1 is not EXIF.
    WriteFile(dir / "xmp.jpg", JpegWithApp1({'h', 't', 't', 'p', 0}, EncodeJpeg(8, 8)));
    WriteFile(dir / "text.txt", {'h', 'e', 'l', 'l', 'o'});
    for (const char* name : {"plain.tif", "xmp.jpg", "text.txt"}) {
        std::vector<uint32_t> request;
        std::vector<std::string> texts;
        EXPECT_EQ(ReadExifFields(dir / name, request, texts), 0) << name;
    }
    std::vector<uint32_t> request;
    std::vector<std::string> texts;
    EXPECT_THROW(ReadExifFields(dir / "missing.jpg", request, texts), CFileException);

    WriteFile(dir / "exif.tif", CameraTiff(true, false));
    EXPECT_EQ(ReadExifFields(dir / "exif.tif", request, texts), 5);
    EXPECT_EQ(TextOf(request, texts, 149), "OV-1 Raw");
    EXPECT_EQ(TextOf(request, texts, 155), "5.6");
}

TEST(ExifFields, ValuesOutsideTheBlockReadAsEmpty) {
    TestData::ScratchDir dir;
    Bytes file = CameraJpeg();
    // The model's count becomes 0xFFFFFFFF, the make's offset points far past the end.
    const size_t model = Find(file, {0x10, 0x01, 0x02, 0x00});
    const size_t make = Find(file, {0x0F, 0x01, 0x02, 0x00});
    ASSERT_NE(model, std::string::npos);
    ASSERT_NE(make, std::string::npos);
    file[model + 4] = file[model + 5] = file[model + 6] = file[model + 7] = 0xFF;
    file[make + 11] = 0x7F;
    WriteFile(dir / "bad.jpg", file);
    std::vector<uint32_t> request;
    std::vector<std::string> texts;
    ReadExifFields(dir / "bad.jpg", request, texts);
    EXPECT_EQ(TextOf(request, texts, 148), "");
    EXPECT_EQ(TextOf(request, texts, 149), "");
    EXPECT_EQ(TextOf(request, texts, 147), "Harbour at dawn");
}

TEST(CExifTagFormat, TextsOfTheValueKinds) {
    CExifTagFormat f;
    EXPECT_EQ(f.ExposureTimeText(1, 250), "1/250");
    EXPECT_EQ(f.ExposureTimeText(10, 600), "1/60");
    EXPECT_EQ(f.ExposureTimeText(2, 1), "  2");
    EXPECT_EQ(f.ExposureTimeText(0, 1), "");
    EXPECT_EQ(f.DigitalZoomText(0, 1), "Off");
    EXPECT_EQ(f.DigitalZoomText(3, 2), "1.5");
    EXPECT_EQ(f.OrientationText(1), "Normal");
    EXPECT_EQ(f.OrientationText(5), "Horzizontal flip + 90 left");
    EXPECT_EQ(f.OrientationText(6), "90 left");
    EXPECT_EQ(f.OrientationText(9), "");
    EXPECT_EQ(f.FocalLength35Text(0), "Unknown");
    EXPECT_EQ(f.FocalLength35Text(35), "35");
    EXPECT_EQ(f.CountText({}), "");
    EXPECT_EQ(f.CountText({100, 200}), "100");
    EXPECT_EQ(f.RationalText("%g", 1, 0), "");
    EXPECT_EQ(f.RationalText("%u", 7, 2), "3");
    EXPECT_EQ(f.RationalText("%x", 7, 2), "Unknown type!");
    EXPECT_EQ(f.RationalText("%s", 7, 2), "Unknown type!");
    EXPECT_EQ(f.IntegerText("%g", 0xFFFFFFFF), "4.29497e+09");
    EXPECT_EQ(f.IntegerText("%d", 0xFFFFFFFF), "-1");
    // INT_MIN / -1 traps in 32 bits.
    EXPECT_EQ(f.SignedRationalText("%d", INT_MIN, -1), "2147483648");
    EXPECT_EQ(f.SignedRationalText("%g", -1, 3), "-0.333333");
    EXPECT_EQ(f.RationalText("%d", 0x80000000u, 0xFFFFFFFFu), "2147483648");
}

TEST(CExifTagFormat, DatesAreShownInTheUserFormatOrAsStored) {
    CExifTagFormat f;
    const std::string shown = f.DateText("2008:07:15 13:45:00");
    EXPECT_NE(shown, "2008:07:15 13:45:00");
    EXPECT_TRUE(shown.find("13:45:00") != std::string::npos || shown.find("1:45:00") != std::string::npos)
        << shown;
    for (const char* stored :
         {"0000:00:00 00:00:00", "2008:13:01 00:00:00", "2008:07:15", "", "    :  :     :  :  "})
        EXPECT_EQ(f.DateText(stored), stored);
    // Hour 24 and minute 60 are dates here; they roll over.
    EXPECT_NE(f.DateText("2008:07:15 24:00:00"), "2008:07:15 24:00:00");
}
