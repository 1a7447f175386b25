// The picture loader of the photo browser: only the newest request is
// loaded and announced, a loaded picture is not decoded again, closing
// cancels a slow read, and renaming keeps the thumbnail.

#include <gtest/gtest.h>

#include <filesystem>

#include "BrowserFixture.h"
#include "CImgThumbsBrowser.h"
#include "TestData.h"

using namespace BrowserFixture;
namespace fs = std::filesystem;

namespace {

constexpr int kReady = CImgThumbsBrowser::ID_FILEREADED;

// A reader that makes a picture of a path's length, slow for paths marked
// "slow" (until the read is cancelled) and throwing for "bad".
class Reader {
public:
    Reader() {
        SetPictureReader([this](const std::string& path) -> std::shared_ptr<QImage> {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_read.push_back(path);
            }
            if (path.find("bad") != std::string::npos)
                throw std::runtime_error("damaged");
            if (path.find("slow") != std::string::npos) {
                m_inSlowRead = true;
                while (!g_bCancelImageRead)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return nullptr;  // a cancelled read gives nothing
            }
            return std::make_shared<QImage>(static_cast<int>(path.size()), 2, QImage::Format_RGB32);
        });
    }
    ~Reader() { SetPictureReader({}); }
    std::vector<std::string> Read() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_read;
    }
    std::atomic<bool> m_inSlowRead{false};

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_read;
};

class PictureLoader : public ::testing::Test {
protected:
    void SetUp() override { ClearCache(); }
    void TearDown() override {
        builder.Stop();
        ClearCache();
    }
    RecordingHost host;
    Reader reader;
    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
};

}  // namespace

TEST_F(PictureLoader, OnlyTheNewestOfQuickRequestsIsLoadedAndAnnounced) {
    const std::string slow = WriteFile(dir / "slow.jpg"), newest = WriteFile(dir / "newest.jpg");
    CImgThumbsBrowser browser(builder);
    browser.RequestPicture(slow);
    ASSERT_TRUE(WaitUntil([&] { return reader.m_inSlowRead.load(); }, 3000));
    browser.RequestPicture(newest);
    ASSERT_TRUE(host.WaitFor(kReady, 0, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(host.Count(kReady), 1);
    EXPECT_EQ(browser.LoadedPicturePath(), newest);
    ASSERT_TRUE(browser.LoadedPicture());
    EXPECT_EQ(browser.LoadedPicture()->width(), static_cast<int>(newest.size()));
    EXPECT_EQ(reader.Read(), (std::vector<std::string>{slow, newest}));

    // The same, unchanged: no second decode, no announcement.
    browser.RequestPicture(newest);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(browser.Decodes(), 2);
    EXPECT_EQ(host.Count(kReady), 1);
    EXPECT_TRUE(browser.LoadedPicture());
}

TEST_F(PictureLoader, BackToAnEarlierPictureLoadsItAgain) {
    const std::string a = WriteFile(dir / "a.jpg"), slow = WriteFile(dir / "slow.jpg");
    CImgThumbsBrowser browser(builder);
    browser.RequestPicture(a);
    ASSERT_TRUE(host.WaitFor(kReady, 0, 3000));
    browser.RequestPicture(slow);
    ASSERT_TRUE(WaitUntil([&] { return reader.m_inSlowRead.load(); }, 3000));
    browser.RequestPicture(a);
    ASSERT_TRUE(host.WaitFor(kReady, 1, 3000));
    EXPECT_TRUE(browser.LoadedPicture()) << "the picture asked for last is there";
    EXPECT_EQ(browser.LoadedPicturePath(), a);
}

TEST_F(PictureLoader, AReaderThatThrowsLeavesTheLoaderAlive) {
    const std::string bad = WriteFile(dir / "bad.jpg"), good = WriteFile(dir / "good.jpg");
    CImgThumbsBrowser browser(builder);
    browser.RequestPicture(bad);
    ASSERT_TRUE(WaitUntil([&] { return browser.Decodes() == 1; }, 3000));
    browser.RequestPicture(good);
    ASSERT_TRUE(host.WaitFor(kReady, 0, 3000));
    EXPECT_EQ(browser.LoadedPicturePath(), good);
}

TEST_F(PictureLoader, ClosingDuringASlowReadCancelsIt) {
    const std::string slow = WriteFile(dir / "slow.jpg");
    {
        CImgThumbsBrowser browser(builder);
        browser.RequestPicture(slow);
        ASSERT_TRUE(WaitUntil([&] { return reader.m_inSlowRead.load(); }, 3000));
    }  // would never return without the cancel
    EXPECT_EQ(host.Count(kReady), 0);
    g_bCancelImageRead = 0;
}

TEST_F(PictureLoader, RotateFlipCodes) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::black);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    struct Case {
        int code;
        QSize size;
        QPoint red;
    };
    for (const Case& c : {Case{0, {3, 2}, {0, 0}}, Case{1, {2, 3}, {1, 0}}, Case{2, {3, 2}, {2, 1}},
                          Case{3, {2, 3}, {0, 2}}, Case{4, {3, 2}, {2, 0}}}) {
        const QImage turned = RotateFlip(image, c.code);
        EXPECT_EQ(turned.size(), c.size) << c.code;
        EXPECT_EQ(turned.pixel(c.red), qRgb(255, 0, 0)) << c.code;
    }
}

TEST_F(PictureLoader, RenamingKeepsTheThumbnailUnderTheNewName) {
    const std::string old = WriteFile(dir / "old.jpg");
    CImgThumbsBrowser browser(builder);  // first, so its cache ageing is done
    auto item = std::make_shared<CPaletteItemImg>();
    item->SetJpeg(CByteBlock::Make(8));
    item->m_sourceWidth = 4000;
    StoreThumbCache(old, item);

    // A copy under a new name: both entries stay while the old file exists.
    const std::string copy = dir / "copy.jpg";
    fs::copy_file(old, copy);
    browser.OnFileRenamed(old, copy);
    ASSERT_TRUE(Cached(copy));
    EXPECT_EQ(Cached(copy)->m_sourceWidth, 4000);
    EXPECT_TRUE(Cached(copy)->HasThumbnail());
    EXPECT_EQ(Cached(copy)->m_fileTime, MTime(copy));
    EXPECT_TRUE(Cached(old));

    const std::string renamed = dir / "new.jpg";
    fs::rename(old, renamed);
    browser.OnFileRenamed(old, renamed);
    EXPECT_TRUE(Cached(renamed));
    EXPECT_FALSE(Cached(old)) << "the old name goes once its file is gone";
    // Nothing cached or nothing on disk: nothing happens.
    browser.OnFileRenamed(dir / "never.jpg", renamed);
    browser.OnFileRenamed(renamed, dir / "missing.jpg");
    EXPECT_FALSE(Cached(dir / "missing.jpg"));
    EXPECT_EQ(script.quick + script.full, 0) << "no thumbnail was rebuilt";
}
