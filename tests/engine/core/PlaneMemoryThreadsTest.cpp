// Kept blocks shared by threads that allocate, free, and start and end their
// own keepers at once: runs under the sanitizers too, where a block handed to
// two threads shows as a race or a changed mark.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "PlaneMemory.h"

TEST(PlaneMemory, KeptBlocksGoToOneThreadAtATimeAndComeBackZeroFilled) {
    constexpr std::size_t kMb = std::size_t(1) << 20;
    constexpr std::size_t kPage = 4096;
    const std::size_t sizes[] = {PlaneMemory::kMappedFrom, 5 * kMb, 6 * kMb, 9 * kMb};
    constexpr int kThreads = 4, kRounds = 24;
    std::vector<int> faults(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                // Keepers come and go, so the kept list is also emptied
                // while others take from it and add to it.
                std::optional<PlaneMemory::KeepFreedBlocks> keep;
                if ((round + t) % 3 != 0)
                    keep.emplace();
                const std::size_t bytes = sizes[(round + t) % 4];
                auto b = PlaneMemory::Buffer<std::uint8_t>::Zeroed(bytes);
                if (!b) {
                    ++faults[t];
                    continue;
                }
                const auto mark = static_cast<std::uint8_t>(1 + t);
                // One byte a page, and the last: enough to see a block that
                // was not cleared or that another thread holds too.
                for (std::size_t i = 0; i < bytes; i += kPage)
                    faults[t] += b.get()[i] != 0;
                faults[t] += b.get()[bytes - 1] != 0;
                for (std::size_t i = 0; i < bytes; i += kPage)
                    b.get()[i] = mark;
                b.get()[bytes - 1] = mark;
                std::this_thread::yield();
                for (std::size_t i = 0; i < bytes; i += kPage)
                    faults[t] += b.get()[i] != mark;
                faults[t] += b.get()[bytes - 1] != mark;
            }
        });
    for (std::thread& t : threads)
        t.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(faults[t], 0) << "thread " << t;
}
