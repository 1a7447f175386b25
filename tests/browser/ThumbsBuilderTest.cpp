// The two-stage thumbnail builder: work replaced and aborted, the
// pipeline from quick to refined, prioritising, stopping, and the faults a
// stage must survive. Loads are scripted, so every case runs in threads of
// our own only (they also run under the thread sanitizer).

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "BrowserFixture.h"
#include "CThumbsBuilderThreads.h"
#include "TestData.h"

using namespace BrowserFixture;

namespace {

class Client : public IThumbUpdate {
public:
    void OnThumbReady(const std::string& path, int value) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_paths.push_back(path);
        m_values.insert(value);
    }
    std::vector<std::string> Paths() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_paths;
    }
    size_t Count() const { return Paths().size(); }
    std::set<int> Values() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_values;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_paths;
    std::set<int> m_values;
};

class ThumbsBuilder : public ::testing::Test {
protected:
    void SetUp() override { ClearCache(); }
    void TearDown() override {
        builder.Stop();
        ClearCache();
    }
    std::vector<std::string> Files(int n, const std::string& prefix = "IMG_") {
        std::vector<std::string> paths;
        for (int i = 0; i < n; ++i)
            paths.push_back(WriteFile(dir / (prefix + std::to_string(1000 + i) + ".jpg")));
        return paths;
    }

    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
    Client client;
};

// Waits in a load until the stage's progress object says cancel.
void WaitForCancel(CProgress* progress) {
    while (progress && progress->Step(0, 1) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TEST_F(ThumbsBuilder, QuickThumbnailsFirstThenRefinedInStageOne) {
    builder.AddClient(&client);
    const auto paths = Files(5);
    builder.ReplaceWork(paths, false);
    ASSERT_TRUE(builder.WaitIdle(10000));
    EXPECT_EQ(script.quick, 5);
    EXPECT_EQ(script.full, 5);
    // Each file is told twice: quick, then refined; always with 0.
    EXPECT_EQ(client.Count(), 10u);
    EXPECT_EQ(client.Values(), std::set<int>{0});
    for (const auto& path : paths) {
        const ThumbItemPtr item = Cached(path);
        ASSERT_TRUE(item) << path;
        EXPECT_EQ(item->m_final, 1);
        EXPECT_EQ(item->m_fileTime, MTime(path));
    }
    for (int stage = 0; stage < CThumbsBuilderThreads::kStages; ++stage)
        EXPECT_TRUE(builder.QueuedPaths(stage).empty());
    builder.RemoveClient(&client);
}

TEST_F(ThumbsBuilder, EmptyReplacementEmptiesTheQueuesAndStopsTheBatch) {
    builder.AddClient(&client);
    std::atomic<bool> release{false};
    script.during = [&](const std::string&, bool, CProgress* progress) {
        WaitForCancel(progress);
        release = true;
    };
    builder.ReplaceWork(Files(20), false);
    ASSERT_TRUE(WaitUntil([&] { return script.started.load(); }, 5000));
    builder.ReplaceWork({}, false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_TRUE(release);
    for (int stage = 0; stage < CThumbsBuilderThreads::kStages; ++stage)
        EXPECT_TRUE(builder.QueuedPaths(stage).empty()) << stage;
    // The cancelled load reported nothing, nor did anything after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(client.Count(), 0u);
    EXPECT_EQ(script.quick, 1);
    builder.RemoveClient(&client);
}

TEST_F(ThumbsBuilder, CurrentFinalStoredItemsCostNoOpenAndNoNotification) {
    builder.AddClient(&client);
    const auto paths = Files(3);
    for (const auto& path : paths) {
        auto item = std::make_shared<CPaletteItemImg>();
        item->SetBitmap(TinyBitmap());
        item->m_final = 1;
        item->m_stored[0] = 0;  // as an item read back from the disk cache
        item->m_fileTime = MTime(path);
        StoreThumbCache(path, item);
    }
    builder.ReplaceWork(paths, false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_EQ(builder.OpenAttempts(), 0);
    EXPECT_EQ(script.quick + script.full, 0);
    EXPECT_EQ(client.Count(), 0u);
    builder.RemoveClient(&client);
}

TEST_F(ThumbsBuilder, StaleItemsAreRebuiltAndRefreshRebuildsThoseWithoutThumbnail) {
    const auto paths = Files(2);
    // paths[0]: an older file time; paths[1]: current but without a thumbnail.
    auto stale = std::make_shared<CPaletteItemImg>();
    stale->SetBitmap(TinyBitmap());
    stale->m_final = 1;
    stale->m_stored[0] = 0;
    stale->m_fileTime = MTime(paths[0]) - 10;
    StoreThumbCache(paths[0], stale);
    auto empty = std::make_shared<CPaletteItemImg>();
    empty->m_final = 1;
    empty->m_stored[0] = 0;
    empty->m_fileTime = MTime(paths[1]);
    StoreThumbCache(paths[1], empty);
    script.quickIsFinal = true;

    builder.ReplaceWork(paths, false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_EQ(script.quick, 1) << "a read keeps the item without a thumbnail";
    EXPECT_NE(Cached(paths[0]), stale);
    EXPECT_EQ(Cached(paths[1]), empty);

    builder.ReplaceWork(paths, true);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_EQ(script.quick, 2) << "refresh rebuilds it";
    EXPECT_TRUE(Cached(paths[1])->HasThumbnail());
}

TEST_F(ThumbsBuilder, VanishedAndFailingFilesAreDroppedWithoutStallingTheStage) {
    builder.AddClient(&client);
    const auto paths = Files(3);
    std::vector<std::string> work = {dir / "gone.jpg", paths[0], paths[1], paths[2]};
    // paths[0] throws as a damaged preview would.
    script.during = [&](const std::string& path, bool, CProgress*) {
        if (path == paths[0])
            throw std::runtime_error("damaged preview");
    };
    builder.ReplaceWork(work, false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_FALSE(Cached(work[0]));
    EXPECT_FALSE(Cached(paths[0]));
    EXPECT_TRUE(Cached(paths[2]));
    const auto told = client.Paths();
    EXPECT_EQ(std::count(told.begin(), told.end(), paths[0]), 0);
    EXPECT_EQ(std::count(told.begin(), told.end(), paths[2]), 2);
    // The stage still works afterwards.
    script.during = nullptr;
    builder.ReplaceWork({paths[0]}, false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_TRUE(Cached(paths[0]));
    builder.RemoveClient(&client);
}

TEST_F(ThumbsBuilder, PrioritizeMovesPathsToTheHeadWithoutStartingTheStage) {
    // The stage is idle: Prioritize queues but does not wake it.
    const auto paths = Files(3);
    builder.Prioritize({paths[1], paths[0]});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(builder.QueuedPaths(0), (std::vector<std::string>{paths[1], paths[0]}));
    EXPECT_EQ(script.quick, 0);

    // During a batch the visible ones come next, in the order given.
    std::vector<std::string> order;
    std::mutex orderLock;
    std::atomic<bool> go{false};
    script.during = [&](const std::string& path, bool full, CProgress*) {
        if (full)
            return;
        while (!go)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> lock(orderLock);
        order.push_back(path);
    };
    const auto many = Files(6, "DSC_");
    builder.ReplaceWork(many, false);
    ASSERT_TRUE(WaitUntil([&] { return script.started.load(); }, 5000));
    builder.Prioritize({many[5], many[4]});
    EXPECT_EQ(builder.QueuedPaths(0)[0], many[5]);
    go = true;
    ASSERT_TRUE(builder.WaitIdle(5000));
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(order[0], many[0]);
    EXPECT_EQ(order[1], many[5]);
    EXPECT_EQ(order[2], many[4]);
}

TEST_F(ThumbsBuilder, StopEndsAllStagesDuringASlowLoadWithALongQueue) {
    script.during = [](const std::string&, bool, CProgress* progress) { WaitForCancel(progress); };
    std::vector<std::string> work = Files(5);
    for (int i = 0; i < 2000; ++i)
        work.push_back(work[i % 5]);
    builder.ReplaceWork(work, false);
    ASSERT_TRUE(WaitUntil([&] { return script.started.load(); }, 5000));
    // Without the cancel reaching the load, this would never return.
    builder.Stop();
    EXPECT_TRUE(builder.IsStopped());
    EXPECT_EQ(script.quick, 1);
    builder.ReplaceWork(work, false);  // ignored once stopped
    EXPECT_TRUE(builder.QueuedPaths(0).size() >= 1999u);
}

TEST_F(ThumbsBuilder, ClientsComeAndGoWhileNotificationsRun) {
    const auto paths = Files(30);
    std::atomic<bool> done{false};
    std::thread churn([&] {
        while (!done) {
            auto passer = std::make_unique<Client>();
            builder.AddClient(passer.get());
            std::this_thread::yield();
            builder.RemoveClient(passer.get());
        }  // destroyed right after its removal: never called afterwards
    });
    builder.AddClient(&client);
    builder.ReplaceWork(paths, false);
    ASSERT_TRUE(builder.WaitIdle(10000));
    done = true;
    churn.join();
    EXPECT_EQ(client.Count(), 60u);
    builder.RemoveClient(&client);
}

TEST_F(ThumbsBuilder, EachFileIsRefinedOnceByStageOne) {
    builder.ReplaceWork(Files(4), false);
    ASSERT_TRUE(builder.WaitIdle(5000));
    EXPECT_EQ(script.full, 4) << "refined once each, by stage 1 alone";
}
