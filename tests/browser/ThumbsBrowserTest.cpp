// The thumbnail browser model: what a folder read lists, the sort modes,
// the layout, the status texts, cache ageing and holds, and an offscreen
// pane drawing it in both views.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <QWidget>

#include <unistd.h>

#include <filesystem>

#include "BrowserFixture.h"
#include "BrowserSettings.h"
#include "CImgThumbsBrowser.h"
#include "ExifFixture.h"
#include "Screenshot.h"
#include "TestData.h"

using namespace BrowserFixture;
namespace fs = std::filesystem;

namespace {

class ThumbsBrowser : public ::testing::Test {
protected:
    void SetUp() override { ClearCache(); }
    void TearDown() override {
        builder.Stop();
        ClearCache();
    }
    std::string Open(CThumbsBrowser& browser) {
        browser.OpenFolder("0," + dir.path().string());
        return dir.path().string();
    }
    std::vector<std::string> Names(const CThumbsBrowser& browser) const {
        std::vector<std::string> names;
        for (const CItem& item : browser.Items())
            names.push_back(fs::path(item.path).filename().string());
        return names;
    }

    SettingsGuard settings;
    RecordingHost host;
    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
};

}  // namespace

TEST_F(ThumbsBrowser, ReadingListsReadableFilesOfSixteenBytesOrMore) {
    WriteFile(dir / "a.jpg", 16);
    WriteFile(dir / "short.jpg", 15);
    WriteFile(dir / "notes.txt", 100);
    WriteFile(dir / "b.PNG", 100);
    WriteFile(dir / std::string("caf\xe9 \\ n.jpg"), 100);  // Latin-1 bytes and a backslash
    fs::create_directory(dir / "folder.jpg");
    CThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    Open(browser);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"a.jpg", "b.PNG", std::string("caf\xe9 \\ n.jpg")}));
    EXPECT_EQ(browser.TotalSize(), 216.0);
    EXPECT_EQ(browser.Paths().size(), 3u);
    // The builder got the listed paths, the odd name as the same bytes.
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_TRUE(Cached(dir / std::string("caf\xe9 \\ n.jpg")));
}

TEST_F(ThumbsBrowser, ACopyNotYetInPlaceIsNotListed) {
    // A paste into the shown folder writes each file under a temporary name
    // first; the folder is read again meanwhile.
    WriteFile(dir / "a.jpg", 100);
    WriteFile(dir / (".ovh-copy-" + std::to_string(::getpid()) + "-b.jpg"), 100);
    WriteFile(dir / ".ovh-copy-x-c.jpg", 100);
    CThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    Open(browser);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{".ovh-copy-x-c.jpg", "a.jpg"}));
}

TEST_F(ThumbsBrowser, ManyFilesFromFortyOne) {
    for (int n : {40, 41}) {
        TestData::ScratchDir folder;
        for (int i = 0; i < n; ++i)
            WriteFile(folder / ("IMG_" + std::to_string(i) + ".jpg"));
        CThumbsBrowser browser(builder);
        browser.OpenFolder("0," + folder.path().string());
        EXPECT_EQ(browser.ItemCount(), n);
        EXPECT_EQ(browser.ManyFiles(), n > 40) << n;
    }
}

TEST_F(ThumbsBrowser, UnreadableOrMissingFolderListsNothing) {
    WriteFile(dir / "a.jpg");
    CThumbsBrowser browser(builder);
    browser.OpenFolder("0," + (dir / "missing"));
    EXPECT_EQ(browser.ItemCount(), 0);
    fs::permissions(dir.path(), fs::perms::none);
    Open(browser);
    const bool readsAnyFolder = ::access(dir.path().c_str(), R_OK) == 0;
    fs::permissions(dir.path(), fs::perms::owner_all);
    if (readsAnyFolder)
        GTEST_SKIP() << "running with permissions that read any folder";
    EXPECT_EQ(browser.ItemCount(), 0);
}

TEST_F(ThumbsBrowser, ReReadingKeepsTheSelectionOfFilesStillThere) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        WriteFile(dir / name);
    CThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    Open(browser);
    browser.SetSelected(0, true);
    browser.SetSelected(2, true);
    fs::remove(dir / "a.jpg");
    browser.ReadFolder();
    std::vector<std::string> selected;
    browser.GetSelectedFiles(selected);
    EXPECT_EQ(selected, std::vector<std::string>{dir / "c.jpg"});
    int first, last;
    browser.GetSelectionRange(first, last);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 1);
}

TEST_F(ThumbsBrowser, SortModesAndTheirTieBreaks) {
    auto item = [](const std::string& path, double size, time_t written, time_t created = 0) {
        CItem i;
        i.path = path;
        i.size = size;
        i.written = written;
        i.created = created;
        i.infoRead = 1;
        return i;
    };
    struct Case {
        int mode;
        CItem a, b;
        int expected;  // sign of compare(a, b)
    };
    const Case cases[] = {
        {7, item("/x/IMG_0002.JPG", 1, 1), item("/x/DSC_0010.JPG", 1, 1), -1},
        {7, item("/b/IMG_0002.JPG", 1, 1), item("/a/DSC_0002.JPG", 1, 1), 1},  // equal numbers: path
        {0, item("/x/b.jpg", 1, 1), item("/y/A.jpg", 1, 1), 1},
        {0, item("/x/a.jpg", 1, 1), item("/y/A.JPG", 1, 1), 0},
        {2, item("/x/a.jpg", 1, 5), item("/x/b.jpg", 1, 3), 1},
        {2, item("/x/a.jpg", 1, 3), item("/x/b.jpg", 1, 3), -1},
        {1, item("/x/a.jpg", 1, 3, 9), item("/x/b.jpg", 1, 3, 2), 1},
        {4, item("/x/z.bmp", 1, 1), item("/x/a.png", 1, 1), -1},
        {4, item("/x/z.jpg", 1, 1), item("/x/a.JPG", 1, 1), 1},
        {6, item("/x/a.jpg", 10, 1), item("/x/b.jpg", 20, 1), -1},
        {5, item("/x/a.jpg", 1, 1), item("/x/b.jpg", 1, 1), 0},  // no thumbnails: both 0
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (bool descending : {false, true}) {
        for (const Case& c : cases)
            EXPECT_EQ(sign(CThumbsListing::Compare(c.mode, c.a, c.b, descending, {})),
                      descending ? -c.expected : c.expected)
                << "mode " << c.mode << " " << c.a.path << " " << c.b.path << " descending " << descending;
    }
}

TEST_F(ThumbsBrowser, SortModeComesFromTheProfileAndOrdersTheList) {
    WriteFile(dir / "DSC_0010.jpg", 300);
    WriteFile(dir / "IMG_0002.jpg", 100);
    WriteFile(dir / "abc_0005.jpg", 200);
    CThumbsBrowser browser(builder);
    EXPECT_EQ(browser.SortMode(), 7);
    Open(browser);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"IMG_0002.jpg", "abc_0005.jpg", "DSC_0010.jpg"}));
    browser.SetSortMode(6);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"IMG_0002.jpg", "abc_0005.jpg", "DSC_0010.jpg"}));
    browser.SetSortMode(0);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"abc_0005.jpg", "DSC_0010.jpg", "IMG_0002.jpg"}));
    // The picture date is asked for: a folder sorts by name.
    browser.SetSortDescending(true);
    browser.SetSortMode(3);
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"IMG_0002.jpg", "DSC_0010.jpg", "abc_0005.jpg"}));
    EXPECT_EQ(browser.Paths()[0], dir / "IMG_0002.jpg");
}

TEST_F(ThumbsBrowser, GridAndListLayout) {
    for (int i = 0; i < 7; ++i)
        WriteFile(dir / ("IMG_" + std::to_string(i) + ".jpg"));
    CThumbsBrowser browser(builder);
    Open(browser);
    g_nThumbnailSize = 100;  // cells of 232 x 197
    g_bThumbsListMode = 0;
    EXPECT_EQ(browser.GetColumns(700), 3);
    EXPECT_EQ(browser.GetColumns(100), 1);
    // x = W c / C + (W / C - cx) / 2, y = cy r
    EXPECT_EQ(browser.GetItemPosition(0, 700), QPoint(0, 0));
    EXPECT_EQ(browser.GetItemPosition(4, 700), QPoint(700 * 1 / 3, 197));
    EXPECT_EQ(browser.GetItemPosition(99, 700), browser.GetItemPosition(6, 700));
    EXPECT_EQ(browser.GetItemRect(4, 700), QRect(QPoint(233, 197), QSize(232, 197)));
    EXPECT_EQ(browser.GetCaptionRect(0, 700), QRect(0, 177, 232, 20));
    EXPECT_EQ(browser.HitTest({240, 200}, 700, {}), 4);
    EXPECT_EQ(browser.HitTest({240, 100}, 700, {0, 97}), 4);
    EXPECT_EQ(browser.HitTest({600, 600}, 700, {}), -1);
    EXPECT_EQ(browser.GetPathAt({240, 200}, 700, {}), browser.Paths()[4]);
    EXPECT_EQ(browser.EnsureVisible(6, {700, 300}, {}), QPoint(0, 2 * 197 + 197 - 300));
    EXPECT_EQ(browser.EnsureVisible(0, {700, 300}, {0, 400}), QPoint(0, 0));
    EXPECT_EQ(browser.ContentSize(700), QSize(700, 3 * 197));

    g_bThumbsListMode = 1;
    browser.SetListRowWidth(700);
    const QSize row = browser.GetItemCellSize();
    EXPECT_EQ(browser.GetColumns(700), 1);
    EXPECT_EQ(browser.GetItemPosition(2, 700), QPoint(0, 2 * row.height() + kListTopMargin));
    EXPECT_EQ(browser.HitTest({10, kListTopMargin - 1}, 700, {}), -1);
    EXPECT_EQ(browser.HitTest({10, kListTopMargin + row.height() + 1}, 700, {}), 1);
    EXPECT_EQ(browser.GetRowRect(1, 700, {}).top(), kListTopMargin + row.height());
}

TEST_F(ThumbsBrowser, StatusTextsCountAndSizes) {
    struct Case {
        double bytes;
        const char* text;
    };
    for (const Case& c : {Case{512, "0.50KB"}, Case{999.0 * 1024, "999.00KB"}, Case{1000.0 * 1024, "0.98MB"},
                          Case{999.0 * 1024 * 1024, "999.00MB"}, Case{1000.0 * 1024 * 1024, "0.98GB"}})
        EXPECT_EQ(CThumbsBrowser::SizeText(c.bytes), c.text) << c.bytes;

    WriteFile(dir / "a.jpg", 1024);
    WriteFile(dir / "b.jpg", 2048);
    CThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    Open(browser);
    EXPECT_EQ(host.Status(), (std::vector<std::string>{"Total 2 files", "3.00KB", "", "", "", ""}));
    browser.SetSelected(0, true);
    auto texts = browser.StatusTexts();
    EXPECT_EQ(texts[0], "Total 1 files");
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(texts[2], "1.00KB");
    EXPECT_FALSE(texts[3].empty());
    EXPECT_EQ(texts[4], "a.jpg");
    browser.SelectAll();
    texts = browser.StatusTexts();
    EXPECT_EQ(texts[0], "Total 2 files");
    EXPECT_EQ(texts[1], "3.00KB");
}

TEST_F(ThumbsBrowser, AgeingAtTheFirstBrowserDropsOldAndVanishedEntries) {
    const std::time_t now = 1700000000;
    const auto add = [](const std::string& path, int days) {
        auto item = std::make_shared<CPaletteItemImg>();
        item->m_lastUse = now - static_cast<std::time_t>(days) * 86400 - 3600;
        StoreThumbCache(path, item);
    };
    const std::string kept = WriteFile(dir / "kept.jpg"), old = WriteFile(dir / "old.jpg");
    add(kept, 30);
    add(old, 31);
    add(dir / "vanished.jpg", 0);
    CThumbsBrowser::AgeThumbCache(now);
    EXPECT_TRUE(Cached(kept)) << "exactly 30 days stays";
    EXPECT_FALSE(Cached(old));
    EXPECT_FALSE(Cached(dir / "vanished.jpg"));

    // Above 1800 entries the ten-day rule applies too.
    ClearCache();
    for (int i = 0; i < 1801; ++i)
        add(WriteFile(dir / ("f" + std::to_string(i) + ".jpg"), 16), i == 0 ? 11 : 10);
    CThumbsBrowser::AgeThumbCache(now);
    EXPECT_FALSE(Cached(dir / "f0.jpg"));
    EXPECT_TRUE(Cached(dir / "f1.jpg"));
}

TEST_F(ThumbsBrowser, EachBrowserReleasesItsCacheHoldOnce) {
    const int before = ThumbCacheUsers();
    auto first = std::make_unique<CThumbsBrowser>(builder);
    {
        CThumbsBrowser second(builder);
        EXPECT_EQ(ThumbCacheUsers(), before + 2);
        second.ReleaseThumbCache();
        second.ReleaseThumbCache();
        EXPECT_EQ(ThumbCacheUsers(), before + 1) << "a second release takes nobody else's hold";
    }
    EXPECT_EQ(ThumbCacheUsers(), before + 1);
    first.reset();
    EXPECT_EQ(ThumbCacheUsers(), before);
}

TEST_F(ThumbsBrowser, LockItemsNestsAndCancelWorkReturns) {
    CThumbsBrowser browser(builder);
    browser.LockItems();
    browser.LockItems();
    EXPECT_EQ(g_nItemsLockDepth, 2);
    browser.UnlockItems();
    browser.UnlockItems();
    EXPECT_EQ(g_nItemsLockDepth, 0);
    browser.CancelWork();  // nothing runs: passes at once
    browser.CancelWork();
}

TEST_F(ThumbsBrowser, PaneShowsThumbnailsAsTheyArriveInGridAndList) {
    CThumbsBuilderThreads realBuilder;
    for (int i = 0; i < 5; ++i)
        Fixture::WriteFile(dir / ("IMG_000" + std::to_string(i) + ".JPG"), Fixture::CameraJpeg());
    WriteFile(dir / "IMG_0009.JPG", 100);  // not a picture: its placeholder stays
    g_nThumbnailSize = 57;
    g_bThumbsListMode = 0;
    CImgThumbsBrowser browser(realBuilder);
    Pane pane(browser);
    Open(browser);
    ASSERT_TRUE(realBuilder.WaitIdle(20000));
    QCoreApplication::processEvents();
    EXPECT_GE(pane.ready.load(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Cached(dir / ("IMG_000" + std::to_string(i) + ".JPG"))) << i;
    browser.SetSelected(1, true);
    SaveScreenshot(&pane, "thumbs_browser_grid");

    g_bThumbsListMode = 1;
    browser.SetListRowWidth(pane.width());
    SaveScreenshot(&pane, "thumbs_browser_list");
    realBuilder.Stop();
}
