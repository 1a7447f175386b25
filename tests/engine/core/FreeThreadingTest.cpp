#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "FreeThreading.h"
#include "RecordingCallbacks.h"

using namespace std::chrono_literals;

namespace {

// Starts a Wait on another thread and tells whether it returned within a while.
bool WaitReturnsSoon(PanoramaLib::IEvent* ev, std::future<void>* pending = nullptr) {
    auto f = std::async(std::launch::async, [ev] { ev->Wait(); });
    const bool done = f.wait_for(300ms) == std::future_status::ready;
    if (!done && pending)
        *pending = std::move(f);
    return done;
}

class CountingThread : public PanoramaLib::IThread {
public:
    void Run() override {
        runs.fetch_add(1);
        threadId = std::this_thread::get_id();
    }
    std::atomic<int> runs{0};
    std::thread::id threadId;
};

}  // namespace

TEST(PEvent, OneSetReleasesExactlyOneWait) {
    CFreeThreading threading;
    PanoramaLib::IEvent* ev = threading.CreateEvent();
    ASSERT_NE(ev, nullptr);

    ev->Set();  // kept until the next Wait
    EXPECT_EQ(ev->Wait(), 0);

    ev->Set();
    ev->Set();  // two Sets still release only one Wait
    EXPECT_TRUE(WaitReturnsSoon(ev));
    std::future<void> blocked;
    EXPECT_FALSE(WaitReturnsSoon(ev, &blocked));
    ev->Set();  // frees the blocked waiter
    EXPECT_EQ(blocked.wait_for(2s), std::future_status::ready);
}

TEST(PEvent, SetWakesAWaiterOnAnotherThread) {
    CFreeThreading threading;
    PanoramaLib::IEvent* ev = threading.CreateEvent();
    std::future<void> blocked;
    ASSERT_FALSE(WaitReturnsSoon(ev, &blocked));
    ev->Set();
    EXPECT_EQ(blocked.wait_for(2s), std::future_status::ready);
}

TEST(PCriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CFreeThreading threading;
    PanoramaLib::ICriticalSection* cs = threading.CreateCriticalSection();
    ASSERT_NE(cs, nullptr);
    cs->Enter();
    cs->Enter();  // the owner may enter again
    std::atomic<bool> entered{false};
    std::thread other([&] {
        cs->Enter();
        entered = true;
        cs->Leave();
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(entered.load());
    cs->Leave();
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());  // still held once
    cs->Leave();
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST(CFreeThreading, StartThreadRunsTheJobOnceOnAnotherThreadAndJoinsIt) {
    CountingThread job;
    {
        CFreeThreading threading;
        EXPECT_FALSE(threading.StartThread(nullptr));
        EXPECT_TRUE(threading.StartThread(&job));
    }  // the destructor joins before returning
    EXPECT_EQ(job.runs.load(), 1);
    EXPECT_NE(job.threadId, std::this_thread::get_id());
}

TEST(CFreeThreading, OwnsEveryObjectItMade) {
    // Leaks would show under the address sanitizer.
    CFreeThreading threading;
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(threading.CreateCriticalSection(), nullptr);
    for (int i = 0; i < 2; ++i)
        EXPECT_NE(threading.CreateEvent(), nullptr);
}

TEST(CFreeThreading, WorkerUsesLocksAndEventsUntilJoined) {
    // A worker that waits for a go signal, then signals back: the common
    // hand-over pattern of the engine's render thread.
    struct PingPong : PanoramaLib::IThread {
        PanoramaLib::IEvent* go = nullptr;
        PanoramaLib::IEvent* done = nullptr;
        PanoramaLib::ICriticalSection* lock = nullptr;
        int value = 0;
        void Run() override {
            go->Wait();
            lock->Enter();
            value = 42;
            lock->Leave();
            done->Set();
        }
    } job;
    CFreeThreading threading;
    job.go = threading.CreateEvent();
    job.done = threading.CreateEvent();
    job.lock = threading.CreateCriticalSection();
    ASSERT_TRUE(threading.StartThread(&job));
    job.go->Set();
    job.done->Wait();
    job.lock->Enter();
    EXPECT_EQ(job.value, 42);
    job.lock->Leave();
}

TEST(RecordingCallbacks, ScriptedCancelAndMatchAnswers) {
    TestDoubles::RecordingProgress progress;
    progress.cancelAfter = 2;
    EXPECT_FALSE(progress.SetProgress(10, 1));
    EXPECT_FALSE(progress.SetProgress(10, 2));
    EXPECT_TRUE(progress.SetProgress(10, 3));
    progress.SetStage(12, L"a.jpg");
    EXPECT_EQ(progress.log.Lines().back(), "SetStage 12 a.jpg");

    TestDoubles::RecordingUserInterface ui;
    EXPECT_EQ(ui.MatchManually(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ui.log.Count("MatchManually"), 1);
}
