// Every reader of the browser on a FIFO (which an ordinary open waits on for
// ever) and on an endless device: each refuses at once.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "CFile.h"
#include "CPaletteItem.h"
#include "HostileFiles.h"
#include "TestData.h"
#include "ThumbRequests.h"
#include "ThumbnailImageReader.h"

TEST(HostileFiles, BrowserReadersRefuseFifosAndDevicesAtOnce) {
    TestData::ScratchDir dir;
    const std::string fifo = TestData::MakeFifo(dir / "photo.jpg");
    const struct {
        const char* reader;
        std::function<bool(const std::string&)> reads;  // true when it took the path as a file
    } readers[] = {
        {"CFile",
         [](const std::string& path) {
             try {
                 CFile file(path);
                 return true;
             } catch (const CFileException&) {
                 return false;
             }
         }},
        {"thumbnail picture",
         [](const std::string& path) {
             ThumbnailPicture picture;
             return ReadThumbnailPicture(path, QSize(220, 165), nullptr, picture);
         }},
        {"palette item",
         [](const std::string& path) {
             CPaletteItemImg item;
             return item.Load(path, true, nullptr) != 0;
         }},
    };
    for (const auto& r : readers) {
        for (const std::string& path : {fifo, TestData::kEndlessDevice}) {
            SCOPED_TRACE(std::string(r.reader) + " on " + path);
            bool took = true;
            ASSERT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [&] { took = r.reads(path); }));
            EXPECT_FALSE(took);
        }
    }
}

// The cache's index and archives are in the program's own folder; a FIFO
// planted as the index must not stop the start-up.
TEST(HostileFiles, FifoAsTheThumbnailIndexDoesNotStallStartUp) {
    TestData::ScratchDir dir;
    CMapStringToObPlus::SetCacheRoot(dir / "cache");
    std::filesystem::create_directories(CMapStringToObPlus::CacheFolder());
    const std::string fifo = TestData::MakeFifo(CMapStringToObPlus::CacheFolder() + "OVIMGBRWS.IND");
    EXPECT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [] {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.RemoveAll();
        g_ThumbCache.SerializeCache(false);
    }));
    EXPECT_TRUE(g_ThumbCache.Index().empty());
    CMapStringToObPlus::SetCacheRoot({});
}

// Damaged pictures that once upset a browser reader: each is refused, and
// nothing is read outside the file or taken from a value the codec never set.
TEST(HostileFiles, BrowserReadersRefuseDamagedPictures) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } files[] = {
        // The JPEG codec reports a pixel format it never set for a bare start marker.
        {"start marker only.jpg", {0xFF, 0xD8}},
    };
    TestData::ScratchDir dir;
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = dir / f.name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(f.bytes.data(), 1, f.bytes.size(), out);
        std::fclose(out);
        ThumbnailPicture picture;
        EXPECT_FALSE(ReadThumbnailPicture(path, QSize(220, 165), nullptr, picture));
        for (bool full : {false, true}) {
            CPaletteItemImg item;
            EXPECT_EQ(item.MakeThumbnail(path, full, nullptr), 0);
        }
    }
}
