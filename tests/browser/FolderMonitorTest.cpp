// The folder monitor on inotify: a change in the shown folder makes the
// program re-read it (command 32779), and what the browser then shows.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>

#include "BrowserFixture.h"
#include "CFolderMonitor.h"
#include "CImgThumbsBrowser.h"
#include "CommandIds.h"
#include "ExifFixture.h"
#include "TestData.h"

using namespace BrowserFixture;
namespace fs = std::filesystem;

namespace {

constexpr int kRead = CmdId::BeginReadFolder;

class FolderMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCache();
        monitor.Start();
    }
    void TearDown() override {
        builder.Stop();
        ClearCache();
    }
    // Watches folder and waits for the first re-read it asks for.
    void Watch(const std::string& folder) {
        const int before = host.Count(kRead);
        monitor.WatchFolder(folder, &browser, 0);
        ASSERT_TRUE(host.WaitFor(kRead, before, 3000));
    }
    bool Listed(const std::string& path) const {
        for (const CItem& item : browser.Items())
            if (item.path == path)
                return true;
        return false;
    }

    RecordingHost host;
    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
    CThumbsBrowser browser{builder};
    CFolderMonitor monitor;
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST_F(FolderMonitor, CopiedPhotoAppearsAndDeletedOneGoes) {
    WriteFile(dir / "a.jpg");
    Watch(dir.path().string() + "/");
    EXPECT_TRUE(monitor.IsWatching());
    EXPECT_EQ(monitor.WatchedPath(), dir.path().string()) << "a trailing '/' names the same folder";
    EXPECT_EQ(browser.CurrentFolder(), dir.path().string());
    browser.ReadFolder();
    ASSERT_EQ(browser.ItemCount(), 1);

    // Copied in: the monitor asks for a re-read, which lists it and builds
    // its thumbnail, all well inside two seconds.
    const auto copied = std::chrono::steady_clock::now();
    int before = host.Count(kRead);
    fs::copy_file(dir / "a.jpg", dir / "b.jpg");
    ASSERT_TRUE(host.WaitFor(kRead, before, 2000));
    browser.ReadFolder();
    EXPECT_TRUE(Listed(dir / "b.jpg"));
    EXPECT_TRUE(WaitUntil([&] { return Cached(dir / "b.jpg") != nullptr; }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - copied, std::chrono::seconds(2));

    before = host.Count(kRead);
    fs::remove(dir / "a.jpg");
    ASSERT_TRUE(host.WaitFor(kRead, before, 2000));
    browser.ReadFolder();
    EXPECT_FALSE(Listed(dir / "a.jpg"));
    EXPECT_EQ(browser.ItemCount(), 1);
}

TEST_F(FolderMonitor, ChangesWhileSuspendedAreDropped) {
    Watch(dir.path().string());
    monitor.m_bSuspended = 1;
    const int before = host.Count(kRead);
    WriteFile(dir / "own-copy.jpg");
    fs::rename(dir / "own-copy.jpg", dir / "renamed.jpg");
    EXPECT_FALSE(host.WaitFor(kRead, before, 500));
    // Re-armed: the next change after resuming is reported.
    monitor.m_bSuspended = 0;
    WriteFile(dir / "later.jpg");
    EXPECT_TRUE(host.WaitFor(kRead, before, 2000));
}

TEST_F(FolderMonitor, EmptyOrUnwatchablePathEndsTheWatchAndStillAsksForARead) {
    Watch(dir.path().string());
    ASSERT_TRUE(monitor.IsWatching());
    Watch("");
    EXPECT_FALSE(monitor.IsWatching());
    EXPECT_EQ(browser.CurrentFolder(), "");

    Watch(dir / "missing");
    EXPECT_FALSE(monitor.IsWatching());
    EXPECT_EQ(browser.CurrentFolder(), "") << "a folder that cannot be watched reads as empty";
    browser.ReadFolder();
    EXPECT_EQ(browser.ItemCount(), 0);

    Watch("/");
    EXPECT_TRUE(monitor.IsWatching()) << "the root keeps its '/'";
    EXPECT_EQ(monitor.WatchedPath(), "/");
}

TEST_F(FolderMonitor, RemovedWatchedFolderDropsTheWatchWithoutBusyLoop) {
    const fs::path folder = dir.path() / "shown";
    fs::create_directory(folder);
    Watch(folder.string());
    const int before = host.Count(kRead);
    fs::remove_all(folder);
    ASSERT_TRUE(WaitUntil([&] { return !monitor.IsWatching(); }, 2000));
    const double cpu = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(CpuSeconds() - cpu, 0.2);
    EXPECT_EQ(host.Count(kRead), before) << "a vanished folder is not re-read";
}

TEST_F(FolderMonitor, RereadRescansOnTheMonitorThread) {
    // A camera JPEG: its stored preview makes the thumbnail.
    Fixture::WriteFile(dir / "IMG_0001.JPG", Fixture::CameraJpeg());
    CImgThumbsBrowser photos(builder);
    const int before = host.Count(kRead);
    monitor.WatchFolder(dir.path().string(), &photos, 0);
    ASSERT_TRUE(host.WaitFor(kRead, before, 3000));
    photos.ReadFolder();
    ASSERT_TRUE(builder.WaitIdle(5000));
    ClearCache();
    monitor.RequestRescan();
    EXPECT_TRUE(WaitUntil([&] { return Cached(dir / "IMG_0001.JPG") != nullptr; }, 3000));
    // Handed back to the fixture's browser before this one goes; the post
    // that follows shows the monitor is done with it.
    Watch(dir.path().string());
}

TEST_F(FolderMonitor, OrdersGivenInQuickSuccessionAreCarriedOutInTheirOrder) {
    // A drop right after a new folder ends the watch; a new folder right
    // after a drop keeps it. Given at once, both reach the thread together.
    int before = host.Count(kRead);
    monitor.WatchFolder(dir.path().string(), &browser, 0);
    monitor.DropWatch();
    ASSERT_TRUE(host.WaitFor(kRead, before, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(monitor.IsWatching()) << "the drop came last";

    before = host.Count(kRead);
    monitor.DropWatch();
    monitor.WatchFolder(dir.path().string(), &browser, 0);
    ASSERT_TRUE(host.WaitFor(kRead, before, 3000));
    EXPECT_TRUE(WaitUntil([&] { return monitor.IsWatching(); }, 1000)) << "the new folder came last";
}
