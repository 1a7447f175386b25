#include "FreeThreading.h"

#include <new>
#include <system_error>

void PEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

int PEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
    return 0;
}

CFreeThreading::~CFreeThreading() {
    // Threads first: a worker may still be using the locks and events.
    for (std::thread& t : threads_)
        if (t.joinable())
            t.join();
}

PanoramaLib::ICriticalSection* CFreeThreading::CreateCriticalSection() {
    auto* cs = new (std::nothrow) PCriticalSection();
    if (!cs)
        return nullptr;
    try {
        criticalSections_.emplace_back(cs);
    } catch (const std::bad_alloc&) {
        delete cs;
        return nullptr;
    }
    return cs;
}

PanoramaLib::IEvent* CFreeThreading::CreateEvent() {
    auto* ev = new (std::nothrow) PEvent();
    if (!ev)
        return nullptr;
    try {
        events_.emplace_back(ev);
    } catch (const std::bad_alloc&) {
        delete ev;
        return nullptr;
    }
    return ev;
}

bool CFreeThreading::StartThread(PanoramaLib::IThread* thread) {
    if (!thread)
        return false;
    std::lock_guard<std::mutex> lock(threadsMutex_);
    try {
        threads_.reserve(threads_.size() + 1);
        threads_.emplace_back([thread] { thread->Run(); });
    } catch (const std::system_error&) {
        return false;  // the thread could not be started: say so
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
