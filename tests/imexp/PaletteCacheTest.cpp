// The browse palette's thumbnails and cache file: sizes, hit test, the file
// layout, and damaged files that must give an empty cache and nothing worse.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "FormgateTestSupport.h"
#include "HostileFiles.h"
#include "PaletteCache.h"
#include "ReadTestSupport.h"
#include "TestData.h"

using formgate::CPaletteItem;
using formgate::PaletteCache;

namespace {

CPaletteItem Item(int width, int height, std::uint32_t time) {
    CPaletteItem item;
    item.timeLow = time;
    item.timeHigh = time + 1;
    if (width && height) {
        item.width = width;
        item.height = height;
        item.dib.assign(CPaletteItem::DibSize(width, height), 0);
        std::int32_t w = width, h = height;
        std::memcpy(item.dib.data() + 4, &w, 4);
        std::memcpy(item.dib.data() + 8, &h, 4);
        for (std::size_t i = 40; i < item.dib.size(); ++i)
            item.dib[i] = static_cast<std::uint8_t>(i * 7 + time);
    }
    return item;
}

PaletteCache ThreeItems() {
    PaletteCache cache;
    cache["/photos/a.png"] = Item(120, 90, 1);
    cache["/photos/broken.png"] = Item(0, 0, 2);
    cache["/photos/" + std::string(300, 'l') + ".jpg"] = Item(67, 90, 3);
    return cache;
}

}  // namespace

TEST(PaletteCache, ThumbnailSizesAndHitTest) {
    struct Size {
        int w, h, tw, th;
    };
    for (const Size& s : {Size{1600, 1200, 120, 90}, Size{1200, 1600, 67, 90}, Size{120, 90, 120, 90},
                          Size{10000, 1, 120, 1}, Size{1, 10000, 1, 90}}) {
        int tw = 0, th = 0;
        formgate::ThumbnailSize(s.w, s.h, tw, th);
        EXPECT_EQ(tw, s.tw) << s.w << "x" << s.h;
        EXPECT_EQ(th, s.th) << s.w << "x" << s.h;
    }
    EXPECT_EQ(formgate::PaletteHitTest(150, 130, 300, 0), 3);
    EXPECT_EQ(formgate::PaletteHitTest(10, 10, 300, 2), 4);
    EXPECT_EQ(formgate::PaletteHitTest(290, 10, 300, 0), -1) << "right of the last column";
    EXPECT_EQ(formgate::PaletteHitTest(10, 10, 100, 0), 0) << "one column at least";
}

TEST(PaletteCache, SavesAndLoadsItsItems) {
    const PaletteCache cache = ThreeItems();
    const std::vector<std::uint8_t> data = formgate::SaveCache(cache);
    // Count, then the first key, then the class record.
    ASSERT_GT(data.size(), 20u);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[1], 0);
    EXPECT_EQ(std::string(data.begin() + 3, data.begin() + 16), "/photos/a.png");
    EXPECT_EQ(std::string(data.begin() + 22, data.begin() + 34), "CPaletteItem");
    PaletteCache loaded;
    ASSERT_TRUE(formgate::LoadCache(data.data(), data.size(), loaded));
    EXPECT_EQ(loaded, cache);

    TestData::ScratchDir dir;
    const std::string file = dir / "cache/QXBRWS.TMP";
    ASSERT_TRUE(formgate::SaveCacheFile(file, cache));
    ASSERT_TRUE(formgate::LoadCacheFile(file, loaded));
    EXPECT_EQ(loaded, cache);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cache"), {}), 1)
        << "no temporary left";

    // A link planted at the cache's name is replaced, not followed.
    const std::string victim = dir / "victim";
    FormgateTest::WriteText(victim, "precious");
    std::filesystem::remove(file);
    std::filesystem::create_symlink(victim, file);
    ASSERT_TRUE(formgate::SaveCacheFile(file, cache));
    EXPECT_EQ(FormgateTest::ReadText(victim), "precious");
}

TEST(PaletteCache, DamagedFilesGiveAnEmptyCache) {
    const std::vector<std::uint8_t> data = formgate::SaveCache(ThreeItems());
    PaletteCache loaded;
    for (std::size_t size = 0; size < data.size(); ++size) {
        loaded["x"] = CPaletteItem();
        EXPECT_FALSE(formgate::LoadCache(data.data(), size, loaded)) << size;
        EXPECT_TRUE(loaded.empty()) << size;
    }
    // Every single-bit flip: any result but a crash or an over-read (the sanitizers watch).
    for (std::size_t byte = 0; byte < data.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::vector<std::uint8_t> flipped = data;
            flipped[byte] ^= static_cast<std::uint8_t>(1 << bit);
            if (!formgate::LoadCache(flipped.data(), flipped.size(), loaded)) {
                EXPECT_TRUE(loaded.empty());
            }
        }
    }
    // A thumbnail claiming 100,000 columns is refused before any allocation.
    PaletteCache one;
    one["/a"] = Item(120, 90, 1);
    std::vector<std::uint8_t> big = formgate::SaveCache(one);
    const std::uint32_t huge = 100000;
    // count, key "/a", class record (tag, schema, length, name), the two time words
    const std::size_t widthAt = 2 + 1 + 2 + 2 + 2 + 2 + 12 + 8;
    std::memcpy(big.data() + widthAt, &huge, 4);
    EXPECT_FALSE(formgate::LoadCache(big.data(), big.size(), loaded));
    EXPECT_FALSE(formgate::LoadCacheFile("/nonexistent/QXBRWS.TMP", loaded));
    EXPECT_TRUE(loaded.empty());
}

// A FIFO or a device where the cache file should be is refused at once; a
// link planted in the cache folder is not followed.
TEST(PaletteCache, CacheFileMustBeARegularFileOfOurOwn) {
    TestData::ScratchDir dir;
    PaletteCache one;
    one["/a"] = Item(120, 90, 1);
    ASSERT_TRUE(formgate::SaveCacheFile(dir / "real.TMP", one));
    ASSERT_EQ(::symlink((dir / "real.TMP").c_str(), (dir / "QXBRWS.TMP").c_str()), 0);
    const std::string fifo = TestData::MakeFifo(dir / "fifo.TMP");
    for (const std::string& path : {fifo, TestData::kEndlessDevice, dir / "QXBRWS.TMP"}) {
        SCOPED_TRACE(path);
        bool loaded = true;
        PaletteCache cache;
        ASSERT_TRUE(
            TestData::ReturnsWithoutWaiting(fifo, [&] { loaded = formgate::LoadCacheFile(path, cache); }));
        EXPECT_FALSE(loaded);
    }
    PaletteCache cache;
    EXPECT_TRUE(formgate::LoadCacheFile(dir / "real.TMP", cache));
}

namespace {

class PaletteItemTest : public FormgateTest::ModuleTest {};

}  // namespace

TEST_F(PaletteItemTest, ThumbnailsSampleTheImageAndUnreadableFilesHaveNone) {
    Start({"conv_t"});
    const std::string file = File("wide.tcv", FormgateTest::Tcv("width=300\nheight=100\n"));
    const CPaletteItem item = formgate::MakePaletteItem(file);
    ASSERT_TRUE(item.HasDib());
    EXPECT_EQ(item.width, 120);
    EXPECT_EQ(item.height, 40);
    EXPECT_EQ(item.dib.size(), CPaletteItem::DibSize(120, 40));
    // Thumbnail pixel (i, j) is image pixel (i x 100 / 40, j x 300 / 120), rows from the bottom.
    FormgateTest::RecordingSink sink;
    ASSERT_EQ(ImExp_ReadFile(&sink, nullptr, file.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0), 1);
    for (int i : {0, 17, 39}) {
        for (int j : {0, 55, 119}) {
            const auto& row = sink.rows.at(i * 100 / 40);
            const std::uint8_t* thumb = item.dib.data() + 40 + i * CPaletteItem::Stride(120) + 3 * j;
            EXPECT_EQ(std::vector<std::uint8_t>(thumb, thumb + 3),
                      std::vector<std::uint8_t>(row.begin() + 3 * (j * 300 / 120),
                                                row.begin() + 3 * (j * 300 / 120) + 3))
                << i << "," << j;
        }
    }
    EXPECT_FALSE(formgate::MakePaletteItem(File("text.tcv", "not an image")).HasDib());
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorUnknownFormat) << "reported to nobody";
    EXPECT_TRUE(host_.messages.empty());
}
