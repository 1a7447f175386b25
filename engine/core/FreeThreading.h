#pragma once
// Locks, automatic-reset events and threads for the engine, on the standard
// library. The factory owns everything it makes and joins its threads before
// it goes.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "PanoramaLib.h"

// A recursive lock.
class PCriticalSection : public PanoramaLib::ICriticalSection {
public:
    void Enter() override { mutex_.lock(); }
    void Leave() override { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Automatic reset, not signalled at start: one Set releases exactly one Wait.
class PEvent : public PanoramaLib::IEvent {
public:
    void Set() override;
    int Wait() override;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

class CFreeThreading : public PanoramaLib::IFreeThreading {
public:
    CFreeThreading() = default;
    CFreeThreading(const CFreeThreading&) = delete;
    CFreeThreading& operator=(const CFreeThreading&) = delete;
    // Joins every started thread (each must be able to leave Run), then frees
    // the locks and events.
    ~CFreeThreading() override;

    PanoramaLib::ICriticalSection* CreateCriticalSection() override;
    PanoramaLib::IEvent* CreateEvent() override;
    bool StartThread(PanoramaLib::IThread* thread) override;

private:
    std::vector<std::unique_ptr<PCriticalSection>> criticalSections_;
    std::vector<std::unique_ptr<PEvent>> events_;
    std::mutex threadsMutex_;
    std::vector<std::thread> threads_;
};
