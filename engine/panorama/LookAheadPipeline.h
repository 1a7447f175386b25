#pragma once
// The compositing look-ahead: a run of items (photos in placement order),
// each prepared first (work that reads nothing the others write) and then
// finished (work on a shared result). With look-ahead, items are prepared in
// order on a helper thread, one ahead or, while they hold little, up to four;
// an item is finished on one of the lanes (at most two threads, each started
// when first needed and kept for the rest of the run) as soon as it is
// prepared and its reach meets no earlier item still open, so items far apart
// are finished side by side. Items are collected strictly in order, and
// progress and cancel stay on the calling thread. Without look-ahead
// everything runs on the calling thread, one item after another.
//
// Item 0 is the caller's own (placed between Start and Run); Run handles
// items 1..count-1.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "OrvexBase.h"

class CLookAheadPipeline {
public:
    struct Config {
        std::size_t count = 0;
        // Prepare on the helper thread and finish on lanes; else all here.
        bool ahead = false;
        // Up to four items prepared ahead while they hold at most 8 MB; else one.
        bool smallItems = false;
        // Lanes finishing side by side: 1 or 2.
        int lanes = 1;
        // Per item: it waits for every earlier item to finish before its
        // preparation (it shares something with one of them).
        std::vector<char> barrier;
    };
    struct Hooks {
        // Whether item k has anything to do; an item without is done at once.
        std::function<bool(std::size_t k)> placeable;
        // Prepares item k; with abort given it runs on the helper thread and
        // abort cancels. False stops the look-ahead.
        std::function<bool(std::size_t k, const std::atomic<bool>* abort)> prepare;
        // After a prepare: whether the item is ready to be finished, and the
        // memory it holds until it is started.
        std::function<bool(std::size_t k)> preparedOk;
        std::function<std::size_t(std::size_t k)> heldBytes;
        // The rectangle item k reads and writes of the shared result (empty:
        // it waits for every earlier item).
        std::function<OrvexBase::Rect(std::size_t k)> reach;
        // Starts item k on the calling thread (its progress, its failure);
        // false ends the run. release() follows once the item is handed on.
        std::function<bool(std::size_t k)> begin;
        std::function<void()> release;
        // Finishes item k on a lane (or here); step(n) counts progress, true
        // cancels. False fails the run.
        std::function<bool(std::size_t k, int lane, const std::function<bool(int)>& step)> finish;
        // Item k is collected: every item before it is too.
        std::function<void(std::size_t k)> collected;
        // Progress on the calling thread; true cancels. Zero steps only asks.
        std::function<bool(int steps)> advance;
    };

    CLookAheadPipeline(Config config, Hooks hooks);
    // Stops the helper thread and the lanes and waits for them.
    ~CLookAheadPipeline();
    CLookAheadPipeline(const CLookAheadPipeline&) = delete;
    CLookAheadPipeline& operator=(const CLookAheadPipeline&) = delete;

    // Starts preparing ahead (nothing without look-ahead).
    void Start();
    // Item 0 is done: runs items 1..count-1; false when one failed or the
    // user cancelled.
    bool Run();

private:
    bool StartItem(std::size_t k);
    bool Barrier(std::size_t k) const;
    // A lane thread: finishes the items handed to it until Stop.
    void LaneLoop(int lane);
    void Stop();

    const Config config_;
    const Hooks hooks_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> abort_{false};
    // Under mutex_.
    std::size_t finishedBefore_ = 0;  // every item before it is finished
    std::size_t turn_ = 1;            // the first item not started
    std::size_t heldBytes_ = 0;       // held by items prepared and not started
    std::size_t readyCount_ = 0;      // items prepared so far
    std::vector<char> ready_;
    std::vector<std::size_t> bytesOf_;
    std::vector<char> finished_;
    std::vector<char> succeeded_;
    // Per lane, the item handed to it and not finished yet, or kNoItem.
    static constexpr std::size_t kNoItem = static_cast<std::size_t>(-1);
    std::vector<std::size_t> laneItem_;
    bool quit_ = false;
    // The calling thread's.
    std::vector<OrvexBase::Rect> reach_;
    std::vector<int> laneOf_;
    std::vector<int> laneSteps_;
    std::vector<char> collected_;  // finished and joined
    std::vector<char> started_;
    int running_ = 0;

    std::thread preparer_;
    std::vector<std::thread> lanes_;
};
