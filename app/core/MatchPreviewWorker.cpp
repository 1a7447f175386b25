#include "MatchPreviewWorker.h"

#include <algorithm>

void MatchPreviewWorker::AutoResetEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

void MatchPreviewWorker::AutoResetEvent::Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return signalled_; });
    signalled_ = false;
}

MatchPreviewWorker::MatchPreviewWorker(RenderFn render) : render_(std::move(render)) {
    if (!render_)
        render_ = [](PanoramaLib::IPanoElement* a, PanoramaLib::IPanoElement* b, double* h,
                     const std::atomic<int>* cancel) { return RenderMatchPreview(a, b, h, cancel); };
    thread_ = std::thread([this] { Run(); });
}

MatchPreviewWorker::~MatchPreviewWorker() {
    Stop();
    std::lock_guard lock(resultLock_);
    if (result_)
        result_->Release();
    result_ = nullptr;
}

void MatchPreviewWorker::SetElements(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                     ReadyFn ready) {
    std::lock_guard lock(requestLock_);
    first_ = first;
    second_ = second;
    ready_ = std::move(ready);
}

void MatchPreviewWorker::Request(const double transform[9]) {
    {
        std::lock_guard lock(requestLock_);
        std::copy(transform, transform + 9, pending_);
        cancel_.store(1);
    }
    wake_.Set();
}

void MatchPreviewWorker::Invalidate() {
    cancel_.store(1);
    std::lock_guard lock(resultLock_);
    if (result_)
        result_->Release();
    result_ = nullptr;
    std::fill(rendered_, rendered_ + 9, 0.0);
}

OrvexBase::RefPtr<PanoramaLib::IPanoElement> MatchPreviewWorker::TakeResult() {
    std::lock_guard lock(resultLock_);
    if (result_)
        result_->AddRef();
    return OrvexBase::RefPtr<PanoramaLib::IPanoElement>(result_);
}

void MatchPreviewWorker::Stop() {
    if (!running_.exchange(false))
        return;
    cancel_.store(1);
    wake_.Set();
    if (thread_.joinable())
        thread_.join();
}

void MatchPreviewWorker::Run() {
    while (running_.load()) {
        wake_.Wait();
        cancel_.store(0);
        if (!running_.load())
            break;
        double local[9];
        PanoramaLib::IPanoElement *first, *second;
        ReadyFn ready;
        {
            std::lock_guard lock(requestLock_);
            std::copy(pending_, pending_ + 9, local);
            first = first_;
            second = second_;
            ready = ready_;
        }
        bool unchanged;
        {
            std::lock_guard lock(resultLock_);
            unchanged = result_ && std::equal(local, local + 9, rendered_);
        }
        if (unchanged) {
            if (ready)
                ready();
            continue;
        }
        // The render changes its transform in place; the request stays as asked.
        double work[9];
        std::copy(local, local + 9, work);
        // The live flag: a newer request or a stop cuts the render short.
        PanoramaLib::IPanoElement* result =
            first && second ? render_(first, second, work, &cancel_) : nullptr;
        bool cancelled;
        {
            // Checked under the lock that Invalidate takes after cancelling,
            // so a result overtaken by it is never stored.
            std::lock_guard lock(resultLock_);
            cancelled = cancel_.load() != 0;
            if (cancelled) {
                if (result)
                    result->Release();
                result = nullptr;
                std::fill(local, local + 9, 0.0);
            }
            if (result_ && result_ != result)
                result_->Release();
            result_ = result;
            std::copy(local, local + 9, rendered_);
        }
        if (!cancelled && ready)
            ready();
    }
}
