// The planar engine's build and render drivers: analysis of every photo,
// match graph, arrangement and preview compositing; the full-size render on
// the same arrangement; progress, cancel and the mapping of failures to the
// build report.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <new>
#include <semaphore>
#include <system_error>
#include <thread>

#include "Features.h"
#include "LensPresets.h"
#include "Panorama.h"
#include "PlaneMemory.h"
#include "ScopeExit.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

namespace {

// Runs on every way out of a scope.
CPanoElement* AsElement(IPanoElement* e) {
    return dynamic_cast<CPanoElement*>(e);
}

}  // namespace

int CPanorama::LevelCount(double scale) {
    int levels = 4;
    for (long long k = static_cast<long long>(scale) / 2; k > 0; k /= 2)
        ++levels;
    return levels;
}

CKeypointSet* CPanorama::FindCachedKeypoints(const std::wstring& name,
                                             const std::vector<CPanoElement*>& oldCopies,
                                             std::vector<CKeypointSet*>& oldSets) {
    if (oldCopies.size() != oldSets.size() || oldCopies.empty())
        return nullptr;
    // Paths are compared exactly: on this system two names that differ only
    // in case are two files.
    std::size_t k = 0;
    while (k < oldCopies.size() && !(oldCopies[k] && oldCopies[k]->GetFileName() == name))
        ++k;
    if (k == oldCopies.size())
        return nullptr;
    CKeypointSet* set = std::exchange(oldSets[k], nullptr);
    if (!set)
        return nullptr;
    if (set->view) {
        // A view shares another photo's keypoints; look for the photo's own set.
        delete set;
        set = nullptr;
        for (std::size_t j = k + 1; j < oldCopies.size(); ++j)
            if (oldCopies[j] && oldCopies[j]->GetFileName() == name) {
                set = std::exchange(oldSets[j], nullptr);
                break;
            }
        if (!set)
            return nullptr;
    }
    if (set->keypoints.empty()) {
        delete set;
        return nullptr;
    }
    return set;
}

OrvexBase::RefPtr<CPanoElement> CPanorama::MakeCopyOf(CPanoElement* photo, IPanoElement* given) {
    OrvexBase::RefPtr<CPanoElement> copy;
    if (!given) {
        photo->Reload();
        // A photo that vanished or is not a 24-bit picture cannot be analysed.
        if (!photo->IsValid() || photo->GetBpp() != 24)
            throw panorama_error();
        copy.Reset(AsElement(PrepareElement(photo)));
        if (!copy)
            throw panorama_error();
        if (copy.Get() != photo)
            photo->Unload();
    } else {
        CPanoElement* g = AsElement(given);
        if (!g)
            throw panorama_error();
        g->AddRef();
        copy.Reset(g);
    }
    return copy;
}

void CPanorama::WarpCopyForLens(OrvexBase::RefPtr<CPanoElement>& copy) {
    copy->Reload();
    if (!copy->IsValid() || copy->GetBpp() != 24)
        throw panorama_error();
    if (!lensCompensation_)
        return;
    double unusedScale = 0;
    OrvexBase::RefPtr<CPanoElement> warped(
        MakeSphereWarpedCopy(copy.Get(), &unusedScale, LensPresetTable::FocalFactor(lensPresetId_)));
    if (!warped)
        throw panorama_error();
    warped->SetFileName(copy->GetFileName());
    copy = std::move(warped);
}

void CPanorama::AnalyzeElement(IPanoElement* photoIn, IPanoElement* given, CKeypointSet* cached,
                               PreparedAnalysis* ready) {
    analysesValid_ = true;
    CPanoElement* photo = AsElement(photoIn);
    std::unique_ptr<CKeypointSet> set(cached);
    if (!photo)
        throw panorama_error();
    built_ = false;
    if (ready && ready->failure) {
        if (ready->failure == PreparedAnalysis::kCancelled)
            throw panorama_abort();
        throw panorama_error();
    }
    if (!set)
        set.reset(ready && ready->set ? ready->set.release() : new (std::nothrow) CKeypointSet());
    if (!set)
        throw panorama_error();

    OrvexBase::RefPtr<CPanoElement> copy = ready ? std::move(ready->copy) : MakeCopyOf(photo, given);
    if (!copy)
        throw panorama_error();
    CKeypointSet* setRaw = set.get();
    keypointSets_.push_back(set.release());

    const std::wstring name = photo->GetFileName();
    if (ui_)
        ui_->AddFile(name, true);
    ScopeExit unmark([&] {
        if (ui_)
            ui_->RepaintNow();
        if (ui_)
            ui_->AddFile(name, false);
    });
    if (progress_)
        progress_->SetStage(PanoramaLib::StageAnalyzingImage, photo->GetFileTitle());
    if (ReportProgress(total_, ++position_))
        throw panorama_abort();

    if (!ready)
        WarpCopyForLens(copy);

    scales_.push_back(photo->scale);
    photo->AddRef();
    photos_.push_back(photo);
    photo->AddRef();
    workPhotos_.push_back(photo);
    photo->x = photo->y = 0;
    copy->x = copy->y = 0;
    copies_.push_back(copy.Detach());

    if (ReportProgress(total_, ++position_))
        throw panorama_abort();
    CPanoElement* analysed = copies_.back();
    if (cached) {
        position_ += 5;
        if (ReportProgress(total_, position_))
            throw panorama_abort();
    } else if (ready) {
        // Detected already: the detector's five progress steps, one by one.
        for (int step = 0; step < 5; ++step)
            if (ReportProgress(total_, ++position_))
                throw panorama_abort();
    } else {
        DetectFeatures(analysed, setRaw->keypoints, setRaw->descriptors, 10.0, 0.02,
                       &CPanorama::ProgressHook);
        setRaw->BuildIndex(analysed->GetSize());
        if (cancel_)
            setRaw->Clear();
    }
}

void CPanorama::PrepareAnalysis(CPanoElement* photo, IPanoElement* given, bool detect,
                                const std::atomic<bool>& abort, std::counting_semaphore<>& fullSizeSlots,
                                PreparedAnalysis& out) {
    try {
        {
            // Full-size pictures are the large part: only a few in memory at once.
            fullSizeSlots.acquire();
            ScopeExit release([&] { fullSizeSlots.release(); });
            if (abort.load())
                throw panorama_abort();
            out.copy = MakeCopyOf(photo, given);
        }
        WarpCopyForLens(out.copy);
        if (detect) {
            auto set = std::make_unique<CKeypointSet>();
            DetectFeatures(out.copy.Get(), set->keypoints, set->descriptors, 10.0, 0.02,
                           [&abort] { return abort.load(std::memory_order_relaxed); });
            set->BuildIndex(out.copy->GetSize());
            out.set = std::move(set);
        }
    } catch (const panorama_abort&) {
        out.failure = PreparedAnalysis::kCancelled;
    } catch (...) {
        out.failure = PreparedAnalysis::kFailed;
    }
}

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

void CPanorama::AnalyzeAll(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* copies,
                           std::vector<CPanoElement*>& oldCopies, std::vector<CKeypointSet*>& oldSets) {
    const std::size_t n = photos.size();
    // The detector's planes are the same size for every photo of a build:
    // each is touched once and then handed on.
    DetectionPlaneScope planes;
    std::vector<std::unique_ptr<CKeypointSet>> cached(n);
    for (std::size_t i = 0; i < n; ++i)
        if (photos[i])
            cached[i].reset(FindCachedKeypoints(photos[i]->GetFileName(), oldCopies, oldSets));
    auto givenCopy = [&](std::size_t i) { return copies ? (*copies)[i] : nullptr; };

    // The heavy part of every photo's analysis runs on the pool while this
    // thread keeps the progress and the cancel answer; a photo listed twice
    // would be loaded by two threads at once, so such a list goes one by one.
    std::vector<IPanoElement*> seen(photos.begin(), photos.end());
    std::sort(seen.begin(), seen.end());
    const bool sideBySide = n > 1 && std::adjacent_find(seen.begin(), seen.end()) == seen.end() &&
                            Platform::ThreadPool::Shared().ThreadCount() > 1;
    if (!sideBySide) {
        for (std::size_t i = 0; i < n; ++i)
            if (photos[i])
                AnalyzeElement(photos[i], givenCopy(i), cached[i].release());
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
            CPanoElement* photo = AsElement(photos[i]);
            if (photo && !abort.load())
                PrepareAnalysis(photo, givenCopy(i), !cached[i], abort, fullSizeSlots, ready[i]);
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
    const std::size_t wanted = std::size_t(AnalysesAtOnce(targetSize_, n));
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
                if (ReportProgress(total_, position_))
                    throw panorama_abort();
                lock.lock();
            }
        }
        if (photos[i])
            AnalyzeElement(photos[i], givenCopy(i), cached[i].release(), &ready[i]);
    }
}

bool CPanorama::Build(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* copies, int,
                      int, int) {
    transformsMode_ = false;
    return RunBuild(photos, copies, true);
}

bool CPanorama::BuildWithTransforms(const std::vector<IPanoElement*>& photos,
                                    const std::vector<IPanoElement*>* copies, bool withTransforms) {
    withTransforms_ = withTransforms;
    transformsMode_ = true;
    return RunBuild(photos, copies, false);
}

bool CPanorama::RunBuild(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* copies,
                         bool automatic) {
    ClearUserCrop();
    bool result = true;
    if (progress_) {
        progress_->Begin();
        progress_->SetStage(PanoramaLib::StageAnalyzing);
    }
    const bool manual = !automatic;
    if (!manual) {
        if (previewResult_)
            previewResult_->Destroy();
        if (fullResult_)
            fullResult_->Destroy();
        if (ui_)
            ui_->ToggleView(false);
    }

    // The ring's repeated photo counts as one more, in both kinds of build.
    const int n = static_cast<int>(photos.size()) + (is360_ ? 1 : 0);
    const int levels = LevelCount(1.0);
    const int total = (levels + 2) * n + 11 * n - 2;

    // A change of the lens warp, or of the analysis size (keypoints are
    // measured on the copies), makes every cached analysis useless.
    if (lensCompensation_ != report_.lensCompensation ||
        (lensCompensation_ && lensPresetId_ != report_.lensPresetId) || targetSize_ != analysedTarget_ ||
        analysisSize_ != analysedMode_)
        Reset(true, true);
    analysedTarget_ = targetSize_;
    analysedMode_ = analysisSize_;

    report_.photoCount = static_cast<std::int32_t>(photos.size());
    report_.motionModel = motionModel_;
    report_.lensCompensation = lensCompensation_;
    report_.lensPresetId = lensPresetId_;
    report_.withTransforms = manual ? 1 : 0;
    report_.unmatched.clear();
    cancel_ = false;
    position_ = 0;
    total_ = total;
    if (manual) {
        if (previewResult_)
            previewResult_->Destroy();
        if (fullResult_)
            fullResult_->Destroy();
    }

    try {
        std::vector<CPanoElement*> oldCopies;
        std::vector<CKeypointSet*> oldSets;
        oldCopies.swap(copies_);
        oldSets.swap(keypointSets_);
        ScopeExit dropOld([&] {
            for (CPanoElement* c : oldCopies)
                if (c)
                    c->Release();
            for (CKeypointSet* s : oldSets)
                delete s;
        });
        Reset(true, true);

        if (copies && copies->size() != photos.size())
            copies = nullptr;
        AnalyzeAll(photos, copies, oldCopies, oldSets);
        // The old analyses are released here, before the matching needs memory.
        for (CPanoElement*& c : oldCopies) {
            if (c)
                c->Release();
            c = nullptr;
        }
        for (CKeypointSet*& s : oldSets) {
            delete s;
            s = nullptr;
        }

        if (!MatchAndStitch(automatic))
            throw panorama_error();

        report_.status = 1;
        ListUnmatchedPhotos(report_.unmatched);
        if (is360_ && !manual) {
            const match_graph::CNode* dup =
                ringDuplicate_ >= 0 ? matchGraph_.FindNode(ringDuplicate_) : nullptr;
            if (!dup || dup->edges.empty())
                report_.status = 4;
            else if (ringNotCut_)
                report_.status = 5;
        }
    } catch (const panorama_cannot_build&) {
        report_.status = 3;
        ListUnmatchedPhotos(report_.unmatched);
        result = false;
        if (waitCursor_)
            waitCursor_->BeginWaitCursor();
        if (previewResult_)
            previewResult_->Destroy();
        if (waitCursor_)
            waitCursor_->EndWaitCursor();
    } catch (...) {
        // panorama_error, a cancel, and memory that ran out end the same way:
        // nothing escapes to the caller.
        report_.status = 2;
        ListUnmatchedPhotos(report_.unmatched);
        result = false;
        if (waitCursor_)
            waitCursor_->BeginWaitCursor();
        Reset(false, true);
        if (previewResult_)
            previewResult_->Destroy();
        if (waitCursor_)
            waitCursor_->EndWaitCursor();
    }
    if (progress_)
        progress_->End();
    return result;
}

bool CPanorama::MatchAndStitch(bool automatic) {
    ringTransform_ = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ringDuplicate_ = ringFarEnd_ = -1;
    reference_ = -1;
    if (previewResult_)
        previewResult_->Destroy();
    if (fullResult_)
        fullResult_->Destroy();
    ReleaseWarped(previewWarped_);
    seams_.clear();

    if (progress_)
        progress_->SetStage(PanoramaLib::StageMatching);
    if (!(automatic ? BuildMatchGraph(&matchGraph_) : BuildMatchGraphManually(&matchGraph_)))
        return false;
    // The matching's indexes are gone. Freed on many threads, their pages sit
    // in per-thread heaps where the compositing would grow past them; on one
    // thread the compositing reuses them, and returning them would only cost
    // page faults.
    if (Platform::ThreadPool::Shared().ThreadCount() > 1)
        PlaneMemory::GiveBackFreeHeap();
    if (matchGraph_.Edges().empty())
        throw panorama_cannot_build();

    if (progress_)
        progress_->SetStage(PanoramaLib::StageStitching);
    if (ReportProgress(total_, ++position_))
        return false;

    if (!BuildStarGraph(groupGraph_, matchGraph_, -1))
        return false;
    Rect bounds = ComputeBounds(groupGraph_);
    if (bounds.IsEmpty())
        throw panorama_cannot_build();

    if (is360_ && !CloseRing(bounds))
        return false;

    reference_ = FindCentralElement(bounds);
    if (reference_ >= 0 && reference_ != FindReferenceElement(matchGraph_)) {
        if (!BuildStarGraph(groupGraph_, matchGraph_, reference_))
            return false;
        if (is360_)
            EqualizeRingScale();
        bounds = ComputeBounds(groupGraph_);
        if (bounds.IsEmpty())
            throw panorama_cannot_build();
    }
    if (is360_ && ringDuplicate_ >= 0 && ringFarEnd_ >= 0) {
        Matrix rotation;
        if (ComputeRingRotation(ringDuplicate_, ringFarEnd_, rotation))
            ApplyRingRotation(rotation);
        bounds = ComputeBounds(groupGraph_);
        if (bounds.IsEmpty())
            throw panorama_cannot_build();
    }
    if (reference_ < 0)
        reference_ = groupGraph_.Nodes().front()->imageIndex;
    bounds_ = bounds;

    if (!previewResult_ || !previewResult_->CreateImage(true, bounds.Width(), bounds.Height(), true))
        throw panorama_cannot_build();
    previewResult_->x = previewResult_->y = 0;
    previewResult_->CreateMask(false);
    if (!previewResult_->GetMask())
        throw panorama_cannot_build();
    previewResult_->FillImageWhite();
    cropRect_ = previewResult_->GetRect();
    previewRect_ = cropRect_;
    seams_.assign(copies_.size(), SeamSet());
    if (!ComposeResult(false))
        return false;

    previewResult_->ComputeCropRect(&cropRect_);
    if (autoCrop_)
        CropResult(&cropRect_);
    else
        previewResult_->ApplyMask();
    if (ReportProgress(total_, ++position_))
        return false;

    lensBits_.assign(copies_.size(), 0);
    built_ = true;
    return true;
}

bool CPanorama::Render() {
    fullSizeMode_ = true;
    if (progress_) {
        progress_->Begin();
        progress_->SetStage(PanoramaLib::StageRendering);
    }
    const int n = static_cast<int>(photos_.size());
    const int levels = LevelCount(scales_.empty() ? 1.0 : scales_.front());
    cancel_ = false;
    position_ = 0;
    total_ = (levels + 2) * n + 2 * n + 4;

    match_graph::CGraph savedMatches, savedGroup;
    bool result = true;
    const bool haveCopies = savedMatches.Assign(matchGraph_) && savedGroup.Assign(groupGraph_);
    const Matrix savedRing = ringTransform_;
    auto restoreGraphs = [&] {
        // The pair transforms were rescaled in place; the preview keeps using them.
        if (haveCopies) {
            matchGraph_.Assign(savedMatches);
            groupGraph_.Assign(savedGroup);
        }
        ringTransform_ = savedRing;
    };

    try {
        if (!haveCopies)
            throw panorama_error();
        if (fullResult_ && fullResult_->IsValid()) {
            // Already rendered.
        } else {
            if (!built_ || copies_.empty())
                throw panorama_error();
            if (lensCompensation_) {
                // Canvases first, committed only when every one could be
                // made: a failure keeps the working photos as they were.
                const double f = LensPresetTable::FocalFactor(lensPresetId_);
                std::vector<OrvexBase::RefPtr<CPanoElement>> canvases(n);
                for (int i = 0; i < n; ++i) {
                    canvases[i].Reset(CreateSphereCanvas(photos_[i], f));
                    if (!canvases[i])
                        throw panorama_error();
                    canvases[i]->SetFileName(photos_[i]->GetFileName());
                    canvases[i]->scale = photos_[i]->scale;
                }
                lensBits_.assign(n, 1);
                analysesValid_ = false;
                for (int i = 0; i < n; ++i) {
                    workPhotos_[i]->Unload();
                    workPhotos_[i]->Release();
                    workPhotos_[i] = canvases[i].Detach();
                }
            }
            RescalePairTransforms();
            if (!BuildStarGraph(groupGraph_, matchGraph_, reference_))
                throw panorama_error();
            if (is360_) {
                EqualizeRingScale();
                Matrix rotation;
                if (ComputeRingRotation(ringDuplicate_, ringFarEnd_, rotation))
                    ApplyRingRotation(rotation);
            }
            if (ReportProgress(total_, ++position_))
                throw panorama_abort();

            const Rect bounds = ComputeBounds(groupGraph_);
            if (bounds.IsEmpty())
                throw panorama_error();
            CarryUserCropToFullSize();
            if (!fullResult_ || !fullResult_->CreateImage(true, bounds.Width(), bounds.Height(), true))
                throw panorama_error();
            fullResult_->x = fullResult_->y = 0;
            fullResult_->CreateMask(false);
            if (!fullResult_->GetMask())
                throw panorama_error();
            fullResult_->FillImageWhite();
            cropRect_ = previewRect_;
            if (ReportProgress(total_, ++position_))
                throw panorama_abort();
            if (!ComposeResult(true))
                throw panorama_error();
            if (ReportProgress(total_, ++position_))
                throw panorama_abort();

            fullResult_->ComputeCropRect(&cropRect_);
            if (autoCrop_)
                CropResult(&cropRect_);
            else
                fullResult_->ApplyMask();
            ReportProgress(total_, ++position_);
            // The preview's warped photos stay: a later render after
            // FreeResults needs their seams again.
            if (previewResult_)
                previewResult_->Destroy();
        }
    } catch (...) {
        // panorama_error, a cancel, and memory that ran out: no result.
        result = false;
        if (fullResult_)
            fullResult_->Destroy();
    }
    restoreGraphs();
    ReleaseWarped(fullWarped_);
    fullSizeMode_ = false;
    ClearUserCrop();
    if (progress_)
        progress_->End();
    return result;
}
