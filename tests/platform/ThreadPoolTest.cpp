#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
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
