#pragma once
// The preview renderer of the matching dialog: one worker thread that renders
// the pair overlaid by the latest requested transform, off the user-interface
// thread. A newer request cancels the render in progress (its result is
// dropped) and is rendered next; an unchanged transform is not rendered again.
// The worker never touches widgets: it calls the ready notice, and the owner
// takes the result on its own thread.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "PanoramaLib.h"

class MatchPreviewWorker {
public:
    // The render step; PanoramaLib's RenderMatchPreview unless a test gives another.
    using RenderFn = std::function<PanoramaLib::IPanoElement*(
        PanoramaLib::IPanoElement*, PanoramaLib::IPanoElement*, double*, const std::atomic<int>*)>;
    // Called on the worker thread when a result is ready to be taken.
    using ReadyFn = std::function<void()>;

    // Starts the thread at once; it idles until the first request.
    explicit MatchPreviewWorker(RenderFn render = {});
    // Stops the thread (waiting for a render in progress to give up) and
    // releases the last result.
    ~MatchPreviewWorker();
    MatchPreviewWorker(const MatchPreviewWorker&) = delete;
    MatchPreviewWorker& operator=(const MatchPreviewWorker&) = delete;

    // The pair (not owned: the caller keeps both alive until Stop) and the
    // ready notice. Call before the first request.
    void SetElements(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second, ReadyFn ready);
    // Renders this transform next, discarding a render in progress.
    void Request(const double transform[9]);
    // No transform can be rendered: drops the result and a render in progress.
    void Invalidate();
    // The last result with a new reference, or null.
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> TakeResult();
    // Ends the thread; returns once it has left (a render in progress is
    // cancelled first). Nothing is notified afterwards.
    void Stop();
    bool IsRunning() const { return running_.load(); }

private:
    // Set releases one Wait; a Set with no one waiting stays until the next Wait.
    class AutoResetEvent {
    public:
        void Set();
        void Wait();

    private:
        std::mutex mutex_;
        std::condition_variable cv_;
        bool signalled_ = false;
    };

    void Run();

    RenderFn render_;
    ReadyFn ready_;
    PanoramaLib::IPanoElement* first_ = nullptr;
    PanoramaLib::IPanoElement* second_ = nullptr;

    std::mutex requestLock_;
    double pending_[9] = {};
    std::mutex resultLock_;
    double rendered_[9] = {};
    PanoramaLib::IPanoElement* result_ = nullptr;  // one reference

    std::atomic<int> cancel_{0};
    std::atomic<bool> running_{true};
    AutoResetEvent wake_;
    std::thread thread_;
};
