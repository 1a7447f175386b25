#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "LookAheadPipeline.h"

using OrvexBase::Rect;

namespace {

// A run of items with given reaches that records what the pipeline did:
// how often each item was prepared and finished, the order of collection,
// the progress asked for, and any two items that met while both were being
// finished.
struct Recorder {
    std::vector<Rect> reaches;
    std::vector<char> placeable;
    int failPrepareAt = -1;
    int failFinishAt = -1;
    int cancelAfterSteps = -1;

    std::mutex mutex;
    std::vector<int> prepares, finishes;
    std::vector<std::size_t> collected;
    std::set<std::size_t> inFlight;
    std::vector<std::pair<std::size_t, std::size_t>> clashes;
    std::vector<std::size_t> finishedOrder;
    // Per lane, the threads that finished its items.
    std::map<int, std::set<std::thread::id>> laneThreads;
    int progress = 0;
    bool barrierBroken = false;
    std::vector<char> barrier;

    static bool Meet(const Rect& a, const Rect& b) {
        return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
    }

    bool Run(bool ahead, int lanes, bool smallItems = true) {
        const std::size_t n = reaches.size();
        prepares.assign(n, 0);
        finishes.assign(n, 0);
        if (placeable.empty())
            placeable.assign(n, 1);
        if (barrier.empty())
            barrier.assign(n, 0);
        CLookAheadPipeline::Config config;
        config.count = n;
        config.ahead = ahead;
        config.smallItems = smallItems;
        config.lanes = lanes;
        config.barrier = barrier;
        std::vector<char> ok(n, 0);
        CLookAheadPipeline::Hooks hooks;
        hooks.placeable = [&](std::size_t k) { return placeable[k] != 0; };
        hooks.prepare = [&](std::size_t k, const std::atomic<bool>*) {
            std::lock_guard<std::mutex> lock(mutex);
            ++prepares[k];
            if (barrier[k] && finishedOrder.size() < k - 1)
                barrierBroken = true;
            ok[k] = static_cast<int>(k) != failPrepareAt;
            return ok[k] != 0;
        };
        hooks.preparedOk = [&](std::size_t k) { return ok[k] != 0; };
        hooks.heldBytes = [](std::size_t) { return std::size_t{1000}; };
        hooks.reach = [&](std::size_t k) { return reaches[k]; };
        hooks.begin = [&](std::size_t k) { return ok[k] != 0; };
        hooks.release = [] {};
        hooks.finish = [&](std::size_t k, int lane, const std::function<bool(int)>& step) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++finishes[k];
                laneThreads[lane].insert(std::this_thread::get_id());
                for (std::size_t other : inFlight)
                    if (Meet(reaches[other], reaches[k]))
                        clashes.emplace_back(other, k);
                inFlight.insert(k);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const bool cancelled = step(3);
            std::lock_guard<std::mutex> lock(mutex);
            inFlight.erase(k);
            finishedOrder.push_back(k);
            return !cancelled && static_cast<int>(k) != failFinishAt;
        };
        hooks.collected = [&](std::size_t k) { collected.push_back(k); };
        hooks.advance = [&](int steps) {
            progress += steps;
            return cancelAfterSteps >= 0 && progress > cancelAfterSteps;
        };
        CLookAheadPipeline pipeline(std::move(config), std::move(hooks));
        pipeline.Start();
        return pipeline.Run();
    }
};

// Ten items along a strip: neighbours overlap, items three apart do not.
std::vector<Rect> Strip(std::size_t n) {
    std::vector<Rect> r;
    for (std::size_t k = 0; k < n; ++k)
        r.emplace_back(static_cast<int>(k) * 100, 0, static_cast<int>(k) * 100 + 150, 100);
    return r;
}

struct Mode {
    const char* name;
    bool ahead;
    int lanes;
    bool smallItems;
};

void PrintTo(const Mode& mode, std::ostream* os) {
    *os << mode.name;
}

class LookAheadPipelineTest : public ::testing::TestWithParam<Mode> {};

}  // namespace

TEST_P(LookAheadPipelineTest, EveryItemOnceCollectedInOrderAndMeetingItemsNeverTogether) {
    Recorder rec;
    rec.reaches = Strip(10);
    rec.placeable.assign(10, 1);
    rec.placeable[4] = 0;  // nothing to place there
    ASSERT_TRUE(rec.Run(GetParam().ahead, GetParam().lanes, GetParam().smallItems));
    EXPECT_EQ(rec.collected, (std::vector<std::size_t>{1, 2, 3, 5, 6, 7, 8, 9}));
    for (std::size_t k = 1; k < 10; ++k) {
        EXPECT_EQ(rec.prepares[k], k == 4 ? 0 : 1) << k;
        EXPECT_EQ(rec.finishes[k], k == 4 ? 0 : 1) << k;
    }
    EXPECT_EQ(rec.prepares[0], 0);  // the caller's own
    EXPECT_TRUE(rec.clashes.empty());
    // 3 steps per finished item, each reported once on the calling thread.
    EXPECT_EQ(rec.progress, 3 * 8);
    // A lane is one thread for the whole run (without look-ahead the calling
    // thread), not a thread per item.
    for (const auto& [lane, threads] : rec.laneThreads) {
        EXPECT_LT(lane, GetParam().lanes);
        ASSERT_EQ(threads.size(), 1u) << lane;
        EXPECT_EQ(*threads.begin() == std::this_thread::get_id(), !GetParam().ahead) << lane;
    }
}

TEST_P(LookAheadPipelineTest, BarrierItemIsPreparedOnlyAfterEveryEarlierOneFinished) {
    Recorder rec;
    // Far apart: without the barrier items could run side by side.
    for (int k = 0; k < 8; ++k)
        rec.reaches.emplace_back(k * 1000, 0, k * 1000 + 10, 10);
    rec.barrier.assign(8, 0);
    rec.barrier[5] = 1;
    ASSERT_TRUE(rec.Run(GetParam().ahead, GetParam().lanes, GetParam().smallItems));
    EXPECT_FALSE(rec.barrierBroken);
    EXPECT_EQ(rec.collected.size(), 7u);
}

TEST_P(LookAheadPipelineTest, FailuresAndCancelEndTheRunWithoutLaterItems) {
    struct Case {
        int failPrepareAt, failFinishAt, cancelAfterSteps;
    };
    for (const Case c : {Case{4, -1, -1}, Case{-1, 4, -1}, Case{-1, -1, 7}}) {
        Recorder rec;
        rec.reaches = Strip(10);
        rec.failPrepareAt = c.failPrepareAt;
        rec.failFinishAt = c.failFinishAt;
        rec.cancelAfterSteps = c.cancelAfterSteps;
        EXPECT_FALSE(rec.Run(GetParam().ahead, GetParam().lanes, GetParam().smallItems));
        // Nothing at or after the failing item is collected.
        for (std::size_t k : rec.collected)
            EXPECT_LT(k, 4u) << c.failPrepareAt << " " << c.failFinishAt << " " << c.cancelAfterSteps;
        if (c.failPrepareAt == 4) {
            EXPECT_EQ(rec.finishes[4], 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LookAheadPipelineTest,
                         ::testing::Values(Mode{"Here", false, 1, true}, Mode{"AheadOneLane", true, 1, true},
                                           Mode{"AheadTwoLanes", true, 2, true},
                                           Mode{"AheadLargeItems", true, 1, false}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });
