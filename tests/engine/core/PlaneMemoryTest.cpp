#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "PlaneMemory.h"

namespace {

long ResidentKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

}  // namespace

TEST(PlaneMemory, BuffersAreZeroFilledWritableAndMoveTheirOwnership) {
    // Below, at and above the size from which blocks are mapped, and empty;
    // plain and populated.
    using Buffer = PlaneMemory::Buffer<std::uint16_t>;
    for (std::size_t bytes : {std::size_t(0), std::size_t(1), std::size_t(4097), PlaneMemory::kMappedFrom - 1,
                              PlaneMemory::kMappedFrom, PlaneMemory::kMappedFrom + 12346})
        for (bool populated : {false, true}) {
            SCOPED_TRACE(populated ? "populated" : "plain");
            auto b = populated ? Buffer::Populated(bytes / 2) : Buffer::Zeroed(bytes / 2);
            ASSERT_TRUE(b) << bytes;
            EXPECT_EQ(b.size(), bytes / 2);
            EXPECT_TRUE(std::all_of(b.get(), b.get() + b.size(), [](std::uint16_t v) { return v == 0; }))
                << bytes;
            std::fill(b.get(), b.get() + b.size(), std::uint16_t(0xBEEF));
            PlaneMemory::Buffer<std::uint16_t> moved(std::move(b));
            EXPECT_FALSE(b);
            EXPECT_EQ(moved.size(), bytes / 2);
            if (moved.size()) {
                EXPECT_EQ(moved.get()[moved.size() - 1], 0xBEEF);
            }
            PlaneMemory::Buffer<std::uint16_t> assigned;
            assigned = std::move(moved);
            EXPECT_FALSE(moved);
            assigned.reset();
            EXPECT_FALSE(assigned);
            EXPECT_EQ(assigned.size(), 0u);
        }
    EXPECT_FALSE(PlaneMemory::Buffer<double>::Zeroed(static_cast<std::size_t>(-1) / 4));
    EXPECT_FALSE(PlaneMemory::Buffer<double>::Populated(static_cast<std::size_t>(-1) / 4));
}

TEST(PlaneMemory, PopulatedBlocksAreResidentBeforeTheirFirstTouch) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory and quarantine change the resident size";
#endif
    constexpr long kMbKb = 1024;
    // Below and above the size from which plain blocks are mapped.
    for (std::size_t mb : {3, 12}) {
        const long before = ResidentKb();
        if (before < 0)
            GTEST_SKIP() << "no /proc/self/status";
        auto b = PlaneMemory::Buffer<std::uint8_t>::Populated(mb << 20);
        ASSERT_TRUE(b);
        EXPECT_GE(ResidentKb() - before, long(mb) * kMbKb - 64) << mb << " MB";
        b.reset();
        EXPECT_LT(ResidentKb() - before, kMbKb) << mb << " MB";
    }
}

TEST(PlaneMemory, PlanesFreedOnOtherThreadsLeaveTheResidentSet) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory and quarantine change the resident size";
#endif
    const long before = ResidentKb();
    if (before < 0)
        GTEST_SKIP() << "no /proc/self/status";
    // Planes written and freed on several threads, as a stage's workers do:
    // none of their pages may stay behind.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int round = 0; round < 3; ++round) {
                auto plane = PlaneMemory::Buffer<double>::Zeroed(std::size_t(2) << 20);
                std::fill_n(plane.get(), plane.size(), 1.0);
                auto bytes = PlaneMemory::Buffer<std::uint8_t>::Zeroed(std::size_t(8) << 20);
                std::memset(bytes.get(), 7, bytes.size());
            }
        });
    for (auto& t : threads)
        t.join();
    // 4 threads x 24 MB were written; a few MB of slack for the threads' stacks.
    EXPECT_LT(ResidentKb() - before, 8 * 1024);
}

TEST(PlaneMemory, KeptBlocksComeBackZeroFilledAndLeaveWithTheirKeeper) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory and quarantine change the resident size";
#endif
    const long before = ResidentKb();
    if (before < 0)
        GTEST_SKIP() << "no /proc/self/status";
    constexpr std::size_t kMb = std::size_t(1) << 20;
    {
        PlaneMemory::KeepFreedBlocks keep;
        // The same size again, then a smaller one cut from a kept larger
        // block: each handed back written, each taken zero-filled.
        const std::size_t sizes[] = {12 * kMb, 12 * kMb, 7 * kMb, 16 * kMb};
        const void* last = nullptr;
        for (std::size_t bytes : sizes) {
            auto b = PlaneMemory::Buffer<std::uint8_t>::Zeroed(bytes);
            ASSERT_TRUE(b) << bytes;
            if (bytes == 12 * kMb && last) {
                EXPECT_EQ(b.get(), last) << "a kept block of the same size is used again";
            }
            EXPECT_TRUE(std::all_of(b.get(), b.get() + b.size(), [](std::uint8_t v) { return v == 0; }))
                << bytes;
            std::memset(b.get(), 0xAB, b.size());
            last = b.get();
        }
        keep.GiveBackKept();
        auto again = PlaneMemory::Buffer<std::uint8_t>::Zeroed(16 * kMb);
        std::memset(again.get(), 1, again.size());
    }
    // Nothing is kept once the keeper is gone.
    EXPECT_LT(ResidentKb() - before, 8 * 1024);
}
