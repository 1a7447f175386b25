#include "AnalysisStage.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "Features.h"
#include "ScopeExit.h"
#include "ThreadPool.h"

namespace {

// Detections that may run side by side. Each one spreads its work over the
// pool, so two keep the pool busy while one of them loads its photo or works
// through a stage too small to share; more would only hold more planes. A
// few photos get a third: their results are small, so its planes do not
// raise the build's peak, and the photos finish in fewer rounds. Fewer when
// half the memory now free does not hold the detections' planes at their
// largest (3.25 planes of doubles at twice the analysis size, square photos).
std::ptrdiff_t AnalysesAtOnce(int targetSize, std::size_t photos) {
    const std::ptrdiff_t threads = Platform::ThreadPool::Shared().ThreadCount();
    const std::ptrdiff_t wanted = std::min<std::ptrdiff_t>(photos <= 4 && threads >= 6 ? 3 : 2, threads);
    const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return wanted;
    const double perAnalysis = 3.25 * 8.0 * (2.0 * targetSize) * (2.0 * targetSize);
    const double fit = 0.5 * double(pages) * double(pageSize) / perAnalysis;
    return std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(fit), 1, wanted);
}

}  // namespace

std::unique_ptr<CKeypointSet> CAnalysisStage::TakeCachedKeypoints(const std::wstring& name,
                                                                  const std::vector<CPanoElement*>& oldPhotos,
                                                                  KeypointSetList& oldSets) {
    if (oldPhotos.size() != oldSets.size() || oldPhotos.empty())
        return nullptr;
    // Paths are compared exactly: on this system two names that differ only
    // in case are two files.
    std::size_t k = 0;
    while (k < oldPhotos.size() && !(oldPhotos[k] && oldPhotos[k]->GetFileName() == name))
        ++k;
    if (k == oldPhotos.size())
        return nullptr;
    std::unique_ptr<CKeypointSet> set = std::move(oldSets[k]);
    if (!set)
        return nullptr;
    if (set->view) {
        // A view shares another photo's keypoints; look for the photo's own set.
        set.reset();
        for (std::size_t j = k + 1; j < oldPhotos.size(); ++j)
            if (oldPhotos[j] && oldPhotos[j]->GetFileName() == name) {
                set = std::move(oldSets[j]);
                break;
            }
        if (!set)
            return nullptr;
    }
    if (set->keypoints.empty())
        return nullptr;
    return set;
}

std::vector<const CKeypointSet*> CAnalysisStage::View(const KeypointSetList& sets, std::size_t n) {
    std::vector<const CKeypointSet*> view;
    for (std::size_t k = 0; k < n && k < sets.size(); ++k)
        view.push_back(sets[k].get());
    return view;
}

OrvexBase::RefPtr<CPanoElement> CAnalysisStage::MakeCopy(CPanoElement* photo,
                                                         PanoramaLib::IPanorama& engine) {
    if (!photo->IsValid() || photo->GetBpp() != 24)
        throw panorama_error();
    OrvexBase::RefPtr<CPanoElement> copy(dynamic_cast<CPanoElement*>(engine.PrepareElement(photo)));
    if (!copy)
        throw panorama_error();
    return copy;
}

void CAnalysisStage::ThrowIfFailed(const PreparedAnalysis* ready) {
    if (!ready || !ready->failure)
        return;
    if (ready->failure == PreparedAnalysis::kCancelled)
        throw panorama_abort();
    throw panorama_error();
}

std::unique_ptr<CKeypointSet> CAnalysisStage::TakeSet(std::unique_ptr<CKeypointSet> cached,
                                                      PreparedAnalysis* ready) {
    if (cached)
        return cached;
    std::unique_ptr<CKeypointSet> set(ready && ready->set ? ready->set.release()
                                                          : new (std::nothrow) CKeypointSet());
    if (!set)
        throw panorama_error();
    return set;
}

void CAnalysisStage::ReportDetectionSteps(bool cached, StageContext& context) {
    if (cached) {
        if (context.Advance(5))
            throw panorama_abort();
        return;
    }
    for (int step = 0; step < 5; ++step)
        if (context.Advance(1))
            throw panorama_abort();
}

void CAnalysisStage::Run(const std::vector<PanoramaLib::IPanoElement*>& photos,
                         std::vector<std::unique_ptr<CKeypointSet>> cached, int targetSize,
                         const PrepareFunction& prepare, const TakeInFunction& takeIn,
                         StageContext& context) {
    const std::size_t n = photos.size();
    cached.resize(n);
    // The detector's planes are the same size for every photo of a build:
    // each is touched once and then handed on.
    DetectionPlaneScope planes;

    // The heavy part of every photo's analysis runs on the pool while this
    // thread keeps the progress and the cancel answer; a photo listed twice
    // would be loaded by two threads at once, so such a list goes one by one.
    std::vector<PanoramaLib::IPanoElement*> seen(photos.begin(), photos.end());
    std::sort(seen.begin(), seen.end());
    const bool sideBySide = n > 1 && std::adjacent_find(seen.begin(), seen.end()) == seen.end() &&
                            Platform::ThreadPool::Shared().ThreadCount() > 1;
    if (!sideBySide) {
        for (std::size_t i = 0; i < n; ++i)
            if (photos[i])
                takeIn(i, nullptr, std::move(cached[i]));
        return;
    }

    std::vector<PreparedAnalysis> ready(n);
    std::vector<char> done(n, 0);
    std::mutex mutex;
    std::condition_variable doneChanged;
    std::atomic<bool> abort{false};
    std::counting_semaphore<> fullSizeSlots(kFullSizeLoadsAtOnce);
    // Photos are taken in list order by a few lanes, each detecting one
    // photo at a time.
    std::atomic<std::size_t> next{0};
    auto lane = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= n)
                return;
            if (photos[i] && !abort.load()) {
                try {
                    prepare(i, !cached[i], abort, fullSizeSlots, ready[i]);
                } catch (const panorama_abort&) {
                    ready[i].failure = PreparedAnalysis::kCancelled;
                } catch (...) {
                    ready[i].failure = PreparedAnalysis::kFailed;
                }
            }
            if (abort.load())
                ready[i].failure = PreparedAnalysis::kCancelled;
            std::lock_guard<std::mutex> lock(mutex);
            done[i] = 1;
            doneChanged.notify_all();
        }
    };
    // The lanes run as chunks of one pool loop, started from a thread of
    // their own: each detection's loops then take the workers the other
    // leaves idle instead of queueing for the whole pool one loop at a time.
    std::thread runner;
    const std::size_t wanted = std::size_t(AnalysesAtOnce(targetSize, n));
    try {
        runner = std::thread([&lane, wanted] {
            Platform::ParallelFor(
                0, wanted,
                [&lane](std::size_t b, std::size_t e) {
                    for (std::size_t k = b; k < e; ++k)
                        lane();
                },
                1, Platform::ThreadPool::Nested::ShareIdleWorkers);
        });
    } catch (const std::system_error&) {
    }
    ScopeExit stop([&] {
        abort.store(true);
        if (runner.joinable())
            runner.join();
    });
    // Without a thread of its own the work runs here, progress afterwards.
    if (!runner.joinable())
        lane();
    for (std::size_t i = 0; i < n; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (!done[i]) {
                if (doneChanged.wait_for(lock, std::chrono::milliseconds(50), [&] { return done[i] != 0; }))
                    break;
                // Keeps the window painted and the Cancel button heard meanwhile.
                lock.unlock();
                if (context.Advance(0))
                    throw panorama_abort();
                lock.lock();
            }
        }
        if (photos[i])
            takeIn(i, &ready[i], std::move(cached[i]));
    }
}
