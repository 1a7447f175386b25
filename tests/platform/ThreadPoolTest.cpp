#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ThreadPool.h"

TEST(ThreadPool, EveryIndexRunsExactlyOnceForAnyThreadCount) {
    for (unsigned threads : {1u, 2u, 8u}) {
        Platform::ThreadPool pool(threads);
        for (std::size_t n : {0u, 1u, 7u, 1000u}) {
            std::vector<std::atomic<int>> hits(n);
            pool.ParallelFor(0, n, [&](std::size_t b, std::size_t e) {
                for (std::size_t i = b; i < e; ++i)
                    hits[i].fetch_add(1);
            });
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(hits[i].load(), 1) << threads << " threads, n=" << n;
        }
    }
}

TEST(ThreadPool, ExceptionsReachTheCallerAndThePoolStaysUsable) {
    Platform::ThreadPool pool(4);
    EXPECT_THROW(pool.ParallelFor(0, 100,
                                  [](std::size_t b, std::size_t) {
                                      if (b == 0)
                                          throw std::runtime_error("chunk failed");
                                  }),
                 std::runtime_error);
    std::atomic<int> sum{0};
    pool.ParallelFor(10, 20, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            sum += static_cast<int>(i);
    });
    EXPECT_EQ(sum.load(), 145);
}

TEST(ThreadPool, NestedLoopsRunInline) {
    Platform::ThreadPool pool(4);
    std::vector<std::atomic<int>> hits(64 * 64);
    pool.ParallelFor(0, 64, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            pool.ParallelFor(0, 64, [&](std::size_t b2, std::size_t e2) {
                for (std::size_t j = b2; j < e2; ++j)
                    hits[i * 64 + j].fetch_add(1);
            });
    });
    for (auto& h : hits)
        ASSERT_EQ(h.load(), 1);
}

TEST(ThreadPool, NestedLoopsOfASharingLoopUseIdleWorkers) {
    using Nested = Platform::ThreadPool::Nested;
    Platform::ThreadPool pool(8);
    // Two outer chunks leave six workers idle; the nested loops may use them.
    std::vector<std::atomic<int>> hits(2 * 64);
    std::mutex mutex;
    std::set<std::thread::id> nestedThreads;
    pool.ParallelFor(
        0, 2,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                pool.ParallelFor(0, 64, [&](std::size_t b2, std::size_t e2) {
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        nestedThreads.insert(std::this_thread::get_id());
                    }
                    for (std::size_t j = b2; j < e2; ++j) {
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                        hits[i * 64 + j].fetch_add(1);
                    }
                });
        },
        1, Nested::ShareIdleWorkers);
    for (auto& h : hits)
        ASSERT_EQ(h.load(), 1);
    EXPECT_GT(nestedThreads.size(), 2u);

    // A failure in a nested chunk run by a helper reaches the outermost
    // caller, after every chunk has finished, and the pool stays usable.
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.ParallelFor(
                     0, 2,
                     [&](std::size_t, std::size_t) {
                         pool.ParallelFor(0, 64, [&](std::size_t b2, std::size_t e2) {
                             std::this_thread::sleep_for(std::chrono::microseconds(100));
                             finished.fetch_add(1);
                             if (b2 <= 40 && 40 < e2)
                                 throw std::runtime_error("nested chunk failed");
                         });
                     },
                     1, Nested::ShareIdleWorkers),
                 std::runtime_error);
    EXPECT_GT(finished.load(), 2);
    std::atomic<int> sum{0};
    pool.ParallelFor(0, 100, [&](std::size_t b, std::size_t e) { sum += static_cast<int>(e - b); });
    EXPECT_EQ(sum.load(), 100);
}

TEST(ThreadPool, ManyShortLoopsFromSeveralThreadsAllComplete) {
    // Back-to-back loops of a few indices, as a detector's filter passes are,
    // started from two outside threads at once and nested with sharing: a
    // lost wake-up would hang here, a double run would miscount.
    using Nested = Platform::ThreadPool::Nested;
    Platform::ThreadPool pool(8);
    std::atomic<long> total{0};
    auto work = [&](int loops) {
        for (int k = 0; k < loops; ++k) {
            const std::size_t n = 1 + static_cast<std::size_t>(k % 23);
            pool.ParallelFor(
                0, n,
                [&](std::size_t b, std::size_t e) {
                    for (std::size_t i = b; i < e; ++i)
                        pool.ParallelFor(0, 3, [&](std::size_t b2, std::size_t e2) {
                            total += static_cast<long>(e2 - b2);
                        });
                },
                1, k % 2 ? Nested::ShareIdleWorkers : Nested::Inline);
        }
    };
    long expected = 0;
    for (int k = 0; k < 3000; ++k)
        expected += 3 * (1 + k % 23);
    std::thread other(work, 3000);
    work(3000);
    other.join();
    EXPECT_EQ(total.load(), 2 * expected);
}

TEST(ThreadPool, WorkersFreedFromOneLoopJoinALoopStartedMeanwhile) {
    // One outside thread holds every worker; a second thread starts its own
    // loop meanwhile, which must neither wait for the first to end nor be
    // left to its caller alone once workers come free.
    Platform::ThreadPool pool(4);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
    std::atomic<int> firstEntered{0};
    std::atomic<bool> secondStarted{false};
    std::thread first([&] {
        pool.ParallelFor(0, 4, [&](std::size_t, std::size_t) {
            ++firstEntered;
            while (!secondStarted.load() && !late())
                std::this_thread::yield();
        });
    });
    while (firstEntered.load() < 4 && !late())
        std::this_thread::yield();
    std::mutex idsMutex;
    std::set<std::thread::id> ids;
    std::atomic<int> indices{0};
    pool.ParallelFor(0, 64, [&](std::size_t b, std::size_t e) {
        secondStarted.store(true);
        {
            std::lock_guard<std::mutex> lock(idsMutex);
            ids.insert(std::this_thread::get_id());
        }
        // Each chunk waits until another thread has joined this loop.
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(idsMutex);
                if (ids.size() >= 2)
                    break;
            }
            if (late())
                break;
            std::this_thread::yield();
        }
        indices += static_cast<int>(e - b);
    });
    first.join();
    EXPECT_FALSE(late());
    EXPECT_GE(ids.size(), 2u);
    EXPECT_EQ(indices.load(), 64);
}

TEST(ThreadPool, RunnableThreadsAreReadFromTheLoadAverageText) {
    struct Case {
        const char* text;
        long runnable;
    };
    const Case cases[] = {
        {"0.52 0.58 0.59 3/457 12345\n", 3},
        {"17.10 20.31 16.80 12/1024 999\n", 12},
        {"0.00 0.00 0.00 0/1 1", 0},
        {"0.52 0.58 0.59 3457 12345", -1},  // no "/" after the count
        {"0.52 0.58 0.59 /457 12345", -1},
        {"0.52 0.58", -1},
        {"", -1},
        {"0.52 0.58 0.59 99999999999999999999/4 1", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Platform::ThreadPool::RunnableThreadsIn(c.text), c.runnable) << c.text;
    // This machine's own count: at least this thread runs.
    EXPECT_GE(Platform::ThreadPool::RunnableThreads(), 1);
}
