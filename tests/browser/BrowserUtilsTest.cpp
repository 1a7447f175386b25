// The camera folder search on removable media, photo dates and
// descriptions, the inactive WIC reader and the host's readable extensions.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "BrowserHost.h"
#include "BrowserUtils.h"
#include "ExifFixture.h"
#include "PhotoDateAndDescription.h"
#include "RemovableMedia.h"
#include "TestData.h"
#include "WicReader.h"

namespace fs = std::filesystem;
using namespace Fixture;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(RemovableMedia, CameraFolderOnACard) {
    TestData::ScratchDir dir;
    for (const char* folder : {"card/DCIM/100ABCDE", "card/DCIM/101ABCDE", "card/DCIM/099ABCDE",
                               "card/DCIM/102ABC", "other/DCIM/998XYZAB"})
        fs::create_directories(dir / folder);
    std::string path;
    EXPECT_TRUE(ScanMountsForDcim({dir / "card"}, path));
    EXPECT_EQ(path, dir / "card/DCIM/101ABCDE");
    // Every medium is looked at; the last hit wins.
    EXPECT_TRUE(ScanMountsForDcim({dir / "card", dir / "other"}, path));
    EXPECT_EQ(path, dir / "other/DCIM/998XYZAB");

    // Without a camera folder, a medium whose top folder holds a photo.
    fs::create_directories(dir / "stick/docs");
    WriteText(dir / "stick/notes.txt", "");
    path.clear();
    EXPECT_FALSE(ScanMountsForDcim({dir / "stick"}, path));
    WriteText(dir / "stick/IMG_1.JPG", "");
    EXPECT_TRUE(ScanMountsForDcim({dir / "stick"}, path));
    EXPECT_EQ(path, dir / "stick");
}

TEST(RemovableMedia, MountsUnderMediaFoldersOrOfRemovableDevices) {
    const std::string mountinfo =
        "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/ann/CARD rw - vfat /dev/sdb1 rw\n"
        "41 22 8:33 / /run/media/bob/My\\040Stick rw - exfat /dev/sdc1 rw\n"
        "42 22 8:49 / /mnt/usb rw - vfat /dev/sdd1 rw\n"
        "43 22 0:45 / /proc rw - proc proc rw\n"
        "bad line\n";
    const auto mounts = ParseRemovableMounts(mountinfo, [](const std::string& dev) { return dev == "8:49"; });
    EXPECT_EQ(mounts, (std::vector<std::string>{"/media/ann/CARD", "/mnt/usb", "/run/media/bob/My Stick"}));
}

TEST(PhotoFacts, DateTakenAndDescription) {
    TestData::ScratchDir dir;
    WriteFile(dir / "a.JPG", CameraJpeg());
    std::time_t when = 0;
    ASSERT_TRUE(GetExifDateTime(dir / "a.JPG", when));
    std::tm expected{};
    expected.tm_year = 108;
    expected.tm_mon = 6;
    expected.tm_mday = 15;
    expected.tm_hour = 13;
    expected.tm_min = 45;
    expected.tm_isdst = -1;
    EXPECT_EQ(when, std::mktime(&expected));
    EXPECT_EQ(GetImageDescription(dir / "a.JPG"), "Harbour at dawn");

    // A TIFF gives its first directory's date and description without an EXIF directory.
    WriteFile(dir / "b.tif", CameraTiff(true, false, false));
    EXPECT_TRUE(GetExifDateTime(dir / "b.tif", when));
    EXPECT_EQ(GetImageDescription(dir / "b.tif"), "Tiff description");
    // Only these extensions are read.
    fs::copy_file(dir / "a.JPG", dir / "a.png");
    fs::copy_file(dir / "b.tif", dir / "b.tiff");
    EXPECT_FALSE(GetExifDateTime(dir / "a.png", when));
    EXPECT_TRUE(GetExifDateTime(dir / "b.tiff", when));
    EXPECT_EQ(GetImageDescription(dir / "b.tiff"), "");
    EXPECT_EQ(GetImageDescription(dir / "a.png"), "");

    // Dates out of range give no date; the first tag present decides.
    for (const char* stored : {"2008:07:15 24:00:00", "2008:07:15 13:60:00", "2008:07:15 13:45:60",
                               "1969:12:31 23:59:59", "0000:00:00 00:00:00"}) {
        const Bytes file = CameraJpeg();
        Bytes damaged = file;
        const std::string good = "2008:07:15 13:45:00";
        size_t at = Find(damaged, Bytes(good.begin(), good.end()));
        const size_t second = Find(damaged, Bytes(good.begin(), good.end()), at + 1);
        ASSERT_NE(second, std::string::npos);
        std::copy(stored, stored + good.size(), damaged.begin() + std::ptrdiff_t(second));  // 36867
        WriteFile(dir / "d.jpg", damaged);
        EXPECT_FALSE(GetExifDateTime(dir / "d.jpg", when)) << stored;
    }
}

TEST(PhotoFacts, ExtensionsOfJpegOrTiff) {
    EXPECT_TRUE(IsJpegOrTiff("/a/b.JPG"));
    EXPECT_TRUE(IsJpegOrTiff("b.tif"));
    EXPECT_FALSE(IsJpegOrTiff("b.tiff"));
    EXPECT_FALSE(IsJpegOrTiff("b.jpeg"));
    EXPECT_FALSE(IsJpegOrTiff("/a.jpg/b"));
}

TEST(WicReader, IsInactive) {
    EXPECT_FALSE(IsWicAvailable());
    uint32_t w = 7, h = 7;
    int depth = 7, full = 7;
    WicPhotoFacts facts;
    EXPECT_EQ(ReadWicThumbnail("/any.jpg", 160, 120, w, h, depth, full, facts), nullptr);
    EXPECT_EQ(ReadWicImage("/any.jpg", 160, 120, w, h, depth), nullptr);
    EXPECT_EQ(w, 7u);
}

TEST(BrowserHost, ReadableExtensions) {
    IBrowserHost host;
    EXPECT_TRUE(host.IsReadableImageFile("/p/IMG.JPG"));
    EXPECT_TRUE(host.IsReadableImageFile("x.png"));
    EXPECT_FALSE(host.IsReadableImageFile("x.jp"));
    EXPECT_FALSE(host.IsReadableImageFile("jpg"));
    EXPECT_FALSE(host.IsReadableImageFile("x.gif"));
}
