#pragma once
// The engine services the application embeds and hands to the engines: the
// image factory and the locks, events and threads on the standard library.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "PanoramaLib.h"

// The engine's image factory; stateless.
class CDibManager : public PanoramaLib::IDibManager {
public:
    PanoramaLib::IDib* CreateDib(int reserved) override;
    PanoramaLib::IDib* CloneDib(PanoramaLib::IDib* source, int reserved) override;
};

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

// Sets the process's heap up for the engine's threads (fewer arenas, fixed
// mapping and trim thresholds, so a build's pages are not given back and
// faulted in again). A program that runs the engine calls it once at its
// start, before its threads; false where the settings do not apply.
bool TuneHeapForEngine() noexcept;
