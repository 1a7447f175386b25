// The gate between a browser's commands and its rescan pass: the pass waits
// while a command has the items, and a pause ends a waiting pass and returns
// only once the pass has ended.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "BrowserFixture.h"
#include "CWorkerGate.h"

using BrowserFixture::WaitUntil;

TEST(WorkerGate, APassWaitsForBusyItemsAndAPauseEndsItBeforeReturning) {
    CWorkerGate gate;
    gate.SetItemsFree(false);
    std::atomic<int> files{0};
    std::atomic<bool> passEnded{false};
    std::atomic<bool> waiting{false};
    std::thread pass([&] {
        gate.BeginPass();
        for (int i = 0; i < 3; ++i) {
            waiting = true;
            if (!gate.WaitForItems())
                break;
            ++files;
        }
        // Some work after the last file, which the pause must wait for.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        passEnded = true;
        gate.EndPass();
    });
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(files, 0) << "busy items hold the pass";
    gate.Pause();
    EXPECT_TRUE(passEnded) << "the pause returned before the pass ended";
    EXPECT_FALSE(gate.PassRunning());
    pass.join();
    EXPECT_EQ(files, 0);

    // Paused, a new pass ends at once; resumed, it runs through.
    gate.BeginPass();
    EXPECT_FALSE(gate.WaitForItems());
    gate.EndPass();
    gate.Resume();
    gate.BeginPass();
    EXPECT_TRUE(gate.WaitForItems());
    gate.EndPass();
}

TEST(WorkerGate, FreeingTheItemsLetsAWaitingPassGoOn) {
    CWorkerGate gate;
    gate.SetItemsFree(false);
    std::atomic<bool> wentOn{false};
    std::thread pass([&] {
        gate.BeginPass();
        wentOn = gate.WaitForItems();
        gate.EndPass();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(wentOn);
    gate.SetItemsFree(true);
    pass.join();
    EXPECT_TRUE(wentOn);
    gate.Pause();  // no pass runs: returns at once
    gate.Resume();
}
