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
