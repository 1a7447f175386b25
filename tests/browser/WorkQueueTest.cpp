// The queue between the browser's producers and a worker thread: order kept
// across threads, work of a replaced generation dropped, and a close that
// ends a busy worker so that it can be joined.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BrowserFixture.h"
#include "WorkQueue.h"

using BrowserFixture::WaitUntil;

namespace {

// A worker that takes every item of each batch in order until closed.
struct Worker {
    explicit Worker(CWorkQueue<int>& queue)
        : thread([this, &queue] {
              while (const auto generation = queue.WaitBatch()) {
                  while (const auto item = queue.PopFor(*generation)) {
                      std::lock_guard<std::mutex> lock(m_lock);
                      m_taken.push_back(*item);
                  }
                  queue.EndBatch();
              }
          }) {}
    std::vector<int> Taken() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_taken;
    }
    mutable std::mutex m_lock;
    std::vector<int> m_taken;
    std::thread thread;
};

}  // namespace

TEST(WorkQueue, AWorkerTakesEveryItemOnceInTheOrderPushed) {
    CWorkQueue<int> queue;
    Worker worker(queue);
    // Pushed while the worker runs its batches.
    for (int i = 0; i < 2000; ++i)
        queue.Push(i);
    ASSERT_TRUE(queue.WaitIdleUntil(CWorkQueue<int>::Clock::now() + std::chrono::seconds(10)));
    queue.Close();
    worker.thread.join();
    const std::vector<int> taken = worker.Taken();
    ASSERT_EQ(taken.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(taken[i], i);
}

TEST(WorkQueue, ProducerEditsKeepTheOrderTheySay) {
    struct Case {
        const char* name;
        void (*edit)(CWorkQueue<int>&);
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"front, given order; queued ones move, others are added",
         [](CWorkQueue<int>& q) { q.MoveToFront({4, 9, 2}); }, {4, 9, 2, 1, 3}},
        {"to the end", [](CWorkQueue<int>& q) { EXPECT_TRUE(q.MoveToEnd(1)); }, {2, 3, 4, 1}},
        {"unique push refuses a queued item",
         [](CWorkQueue<int>& q) {
             EXPECT_FALSE(q.PushUnique(3));
             EXPECT_TRUE(q.PushUnique(5));
         },
         {1, 2, 3, 4, 5}},
        {"remove takes the first occurrence",
         [](CWorkQueue<int>& q) {
             q.PushQuiet(2);
             EXPECT_TRUE(q.Remove(2));
             EXPECT_FALSE(q.Remove(7));
         },
         {1, 3, 4, 2}},
    };
    for (const Case& c : cases) {
        CWorkQueue<int> queue;
        for (int i = 1; i <= 4; ++i)
            queue.PushQuiet(i);
        c.edit(queue);
        EXPECT_EQ(queue.Items(), c.expected) << c.name;
    }
}

TEST(WorkQueue, AReplacedGenerationCanNeitherTakeNorAddNorRemoveWork) {
    CWorkQueue<std::string> queue;
    queue.Replace({"a", "b"});
    const auto old = queue.WaitBatch();
    ASSERT_TRUE(old);
    EXPECT_EQ(queue.FrontFor(*old), "a");
    EXPECT_TRUE(queue.IsCurrent(*old));

    const uint64_t fresh = queue.Replace({"b", "c"});
    EXPECT_FALSE(queue.IsCurrent(*old));
    EXPECT_FALSE(queue.FrontFor(*old));
    EXPECT_FALSE(queue.PopFor(*old));
    EXPECT_FALSE(queue.PushFor(*old, "a")) << "a stale hand-off is dropped";
    EXPECT_FALSE(queue.RemoveFor(*old, "b")) << "the new work's b stays";
    EXPECT_EQ(queue.Items(), (std::vector<std::string>{"b", "c"}));
    queue.EndBatch();

    // The replacement woke the worker for the new generation.
    const auto next = queue.WaitBatch();
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, fresh);
    EXPECT_TRUE(queue.PushFor(fresh, "d"));
    EXPECT_TRUE(queue.RemoveFor(fresh, "b"));
    EXPECT_EQ(queue.Items(), (std::vector<std::string>{"c", "d"}));
    queue.EndBatch();
}

TEST(WorkQueue, QuietWorkWaitsForAWakeAndIsNotIdle) {
    CWorkQueue<int> queue;
    std::atomic<int> batches{0};
    std::thread worker([&] {
        while (const auto generation = queue.WaitBatch()) {
            ++batches;
            while (queue.PopFor(*generation)) {
            }
            queue.EndBatch();
        }
    });
    queue.PushQuiet(1);
    queue.MoveToFront({0});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(batches, 0);
    EXPECT_FALSE(queue.Idle()) << "queued work is not idle";
    queue.Wake();
    EXPECT_TRUE(queue.WaitIdleUntil(CWorkQueue<int>::Clock::now() + std::chrono::seconds(5)));
    EXPECT_EQ(batches, 1);
    queue.Close();
    worker.join();
}

TEST(WorkQueue, CloseEndsABusyWorkerAndLaterWorkIsIgnored) {
    CWorkQueue<int> queue;
    std::atomic<bool> inJob{false};
    std::atomic<bool> jobSawTheEnd{false};
    std::atomic<int> batches{0};
    std::thread worker([&] {
        while (const auto generation = queue.WaitBatch()) {
            ++batches;
            inJob = true;
            // A long job that polls its generation, as a load polls its progress.
            while (queue.IsCurrent(*generation))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            jobSawTheEnd = true;
            queue.EndBatch();
        }
    });
    for (int i = 0; i < 100; ++i)
        queue.Push(i);
    ASSERT_TRUE(WaitUntil([&] { return inJob.load(); }, 5000));
    queue.Push(100);  // wakes the worker again; the close must still win
    queue.Close();
    worker.join();
    EXPECT_TRUE(jobSawTheEnd);
    EXPECT_EQ(batches, 1);
    EXPECT_TRUE(queue.Closed());
    queue.Push(7);
    queue.Replace({8});
    EXPECT_FALSE(queue.PushUnique(9));
    EXPECT_FALSE(queue.WaitBatch()) << "a closed queue never starts a batch";
    EXPECT_EQ(queue.Items().size(), 101u) << "closing drops nothing queued before it";

    // Reopened, it takes work again.
    queue.Reopen();
    queue.Replace({1});
    EXPECT_TRUE(queue.WaitBatch());
}
