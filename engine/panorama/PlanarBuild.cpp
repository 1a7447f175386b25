// The planar engine's build and render drivers: analysis of every photo,
// match graph, arrangement and preview compositing; the full-size render on
// the same arrangement; progress, cancel and the mapping of failures to the
// build report.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <semaphore>

#include "AnalysisStage.h"
#include "Features.h"
#include "LensPresets.h"
#include "Panorama.h"
#include "PlaneMemory.h"
#include "ScopeExit.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

namespace {

// The engine's own element behind an interface pointer, or null.
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

OrvexBase::RefPtr<CPanoElement> CPanorama::MakeCopyOf(CPanoElement* photo, IPanoElement* given) {
    OrvexBase::RefPtr<CPanoElement> copy;
    if (!given) {
        photo->Reload();
        copy = CAnalysisStage::MakeCopy(photo, *this);
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

// The warped copy is resampled, which changes its finest detail: on typical
// photos it gives a fifth to a third more keypoints than the plain copy,
// most of them at the finest octave, and that (not the warp itself) is why
// an analysis with lens compensation costs more than one without.
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

void CPanorama::AnalyzeElement(IPanoElement* photoIn, IPanoElement* given,
                               std::unique_ptr<CKeypointSet> cached, PreparedAnalysis* ready) {
    analysesValid_ = true;
    CPanoElement* photo = AsElement(photoIn);
    const bool wasCached = cached != nullptr;
    std::unique_ptr<CKeypointSet> set(std::move(cached));
    if (!photo)
        throw panorama_error();
    built_ = false;
    CAnalysisStage::ThrowIfFailed(ready);
    set = CAnalysisStage::TakeSet(std::move(set), ready);

    OrvexBase::RefPtr<CPanoElement> copy = ready ? std::move(ready->copy) : MakeCopyOf(photo, given);
    if (!copy)
        throw panorama_error();
    CKeypointSet* setRaw = set.get();
    keypointSets_.push_back(std::move(set));

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
    photos_.emplace_back(photo);
    photo->AddRef();
    workPhotos_.emplace_back(photo);
    photo->x = photo->y = 0;
    copy->x = copy->y = 0;
    copies_.push_back(std::move(copy));

    if (ReportProgress(total_, ++position_))
        throw panorama_abort();
    CPanoElement* analysed = copies_.back().Get();
    if (wasCached || ready) {
        CAnalysisStage::ReportDetectionSteps(wasCached, *this);
    } else {
        DetectFeatures(analysed, setRaw->keypoints, setRaw->descriptors, 10.0, 0.02,
                       [this] { return Advance(1); });
        setRaw->BuildIndex(analysed->GetSize());
        if (cancel_)
            setRaw->Clear();
    }
}

void CPanorama::PrepareAnalysis(CPanoElement* photo, IPanoElement* given, bool detect,
                                const std::atomic<bool>& abort, std::counting_semaphore<>& fullSizeSlots,
                                PreparedAnalysis& out) {
    if (!photo)
        throw panorama_error();
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
}

void CPanorama::AnalyzeAll(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* copies,
                           ElementList& oldCopies, KeypointSetList& oldSets) {
    std::vector<CPanoElement*> oldPhotos;
    for (const auto& c : oldCopies)
        oldPhotos.push_back(c.Get());
    std::vector<std::unique_ptr<CKeypointSet>> cached(photos.size());
    for (std::size_t i = 0; i < photos.size(); ++i)
        if (photos[i])
            cached[i] = CAnalysisStage::TakeCachedKeypoints(photos[i]->GetFileName(), oldPhotos, oldSets);
    auto givenCopy = [&](std::size_t i) { return copies ? (*copies)[i] : nullptr; };
    CAnalysisStage::Run(
        photos, std::move(cached), targetSize_,
        [&](std::size_t i, bool detect, const std::atomic<bool>& abort, std::counting_semaphore<>& slots,
            PreparedAnalysis& out) {
            PrepareAnalysis(AsElement(photos[i]), givenCopy(i), detect, abort, slots, out);
        },
        [&](std::size_t i, PreparedAnalysis* ready, std::unique_ptr<CKeypointSet> set) {
            AnalyzeElement(photos[i], givenCopy(i), std::move(set), ready);
        },
        *this);
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
    userCrop_.Clear();
    return RunBuildSkeleton(progress_ != nullptr, [&] {
        const bool manual = !automatic;
        if (!manual) {
            DestroyResults();
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
            DestroyResults();
        }

        ElementList oldCopies;
        KeypointSetList oldSets;
        oldCopies.swap(copies_);
        oldSets.swap(keypointSets_);
        Reset(true, true);

        if (copies && copies->size() != photos.size())
            copies = nullptr;
        AnalyzeAll(photos, copies, oldCopies, oldSets);
        // The old analyses are released here, before the matching needs memory.
        oldCopies.clear();
        oldSets.clear();

        if (!MatchAndStitch(automatic))
            throw panorama_error();

        report_.status = 1;
        MakeArrangement().ListUnmatched(preview_.group, report_.unmatched);
        if (is360_ && !manual) {
            const match_graph::CNode* dup =
                ring_.duplicate >= 0 ? matchGraph_.FindNode(ring_.duplicate) : nullptr;
            if (!dup || dup->edges.empty())
                report_.status = 4;
            else if (ring_.notCut)
                report_.status = 5;
        }
    });
}

bool CPanorama::MatchAndStitch(bool automatic) {
    preview_.ringTransform = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ring_.ClearEnds();
    reference_ = -1;
    DestroyResults();
    preview_.ReleaseWarped();
    seams_.clear();

    if (progress_)
        progress_->SetStage(PanoramaLib::StageMatching);
    if (!(automatic ? BuildMatchGraph(&matchGraph_) : BuildMatchGraphManually(&matchGraph_)))
        return false;
    // The matching's indexes are gone. Freed on many threads, their pages may
    // sit in heaps the compositing grows past, so a large free amount goes
    // back (a small one is kept: see GiveBackFreeHeap); on one thread the
    // compositing reuses them, and returning them would only cost page faults.
    if (Platform::ThreadPool::Shared().ThreadCount() > 1)
        PlaneMemory::GiveBackFreeHeap();
    if (matchGraph_.Edges().empty())
        throw panorama_cannot_build();

    if (progress_)
        progress_->SetStage(PanoramaLib::StageStitching);
    if (ReportProgress(total_, ++position_))
        return false;

    if (!MakeArrangement().BuildStar(preview_.group, matchGraph_, -1))
        return false;
    Rect bounds = ArrangePass(preview_);
    if (bounds.IsEmpty())
        throw panorama_cannot_build();

    if (is360_ && !CloseRing(bounds))
        return false;

    reference_ = MakeArrangement().FindCentralPhoto(preview_, bounds);
    if (reference_ >= 0 && reference_ != MakeArrangement().FindReference(matchGraph_)) {
        if (!MakeArrangement().BuildStar(preview_.group, matchGraph_, reference_))
            return false;
        if (is360_)
            ring_.EqualizeScale(preview_);
        bounds = ArrangePass(preview_);
        if (bounds.IsEmpty())
            throw panorama_cannot_build();
    }
    if (is360_ && ring_.HasEnds()) {
        Matrix rotation;
        if (ring_.ComputeRotation(preview_, rotation))
            CRingClosure::ApplyRotation(preview_, rotation);
        bounds = ArrangePass(preview_);
        if (bounds.IsEmpty())
            throw panorama_cannot_build();
    }
    if (reference_ < 0)
        reference_ = preview_.group.Nodes().front()->imageIndex;
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
    if (!MakeCompositor(preview_).Compose())
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
    rendering_ = true;
    if (progress_) {
        progress_->Begin();
        progress_->SetStage(PanoramaLib::StageRendering);
    }
    const int n = static_cast<int>(photos_.size());
    const int levels = LevelCount(scales_.empty() ? 1.0 : scales_.front());
    cancel_ = false;
    position_ = 0;
    total_ = (levels + 2) * n + 2 * n + 4;

    bool result = true;
    // The full-size pass measures its crop anew; without a result the
    // preview stays, and so does its crop rectangle.
    const Rect previewCrop = cropRect_;
    try {
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
                    canvases[i].Reset(CreateSphereCanvas(photos_[i].Get(), f));
                    if (!canvases[i])
                        throw panorama_error();
                    canvases[i]->SetFileName(photos_[i]->GetFileName());
                    canvases[i]->scale = photos_[i]->scale;
                }
                lensBits_.assign(n, 1);
                analysesValid_ = false;
                for (int i = 0; i < n; ++i) {
                    workPhotos_[i]->Unload();
                    workPhotos_[i] = std::move(canvases[i]);
                }
            }
            // The full-size pass arranges the photos anew from the pair
            // transforms at full size; the preview's stay as they are.
            match_graph::CGraph fullMatches;
            if (!fullMatches.Assign(matchGraph_))
                throw panorama_error();
            CArrangement::RescalePairTransforms(fullMatches, scales_);
            full_.ringTransform = preview_.ringTransform;
            if (!MakeArrangement().BuildStar(full_.group, fullMatches, reference_))
                throw panorama_error();
            if (is360_) {
                ring_.EqualizeScale(full_);
                Matrix rotation;
                if (ring_.ComputeRotation(full_, rotation))
                    CRingClosure::ApplyRotation(full_, rotation);
            }
            if (ReportProgress(total_, ++position_))
                throw panorama_abort();

            const Rect bounds = ArrangePass(full_);
            if (bounds.IsEmpty())
                throw panorama_error();
            userCrop_.CarryToFullSize(preview_, full_, copies_, workPhotos_);
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
            if (!MakeCompositor(full_).Compose())
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
        cropRect_ = previewCrop;
    }
    full_.ReleaseWarped();
    rendering_ = false;
    userCrop_.Clear();
    if (progress_)
        progress_->End();
    return result;
}

int CPanorama::DuplicateRingElement(int index) {
    const int n = static_cast<int>(copies_.size());
    if (index < 0 || index >= n || photos_.size() != copies_.size() || workPhotos_.size() != copies_.size() ||
        keypointSets_.size() != copies_.size() || scales_.size() != copies_.size())
        return -1;
    // The repeated photo shares everything; its keypoints are a view.
    std::unique_ptr<CKeypointSet> view(new (std::nothrow) CKeypointSet(keypointSets_[index].get()));
    if (!view)
        return -1;
    keypointSets_.push_back(std::move(view));
    scales_.push_back(scales_[index]);
    for (auto* list : {&photos_, &workPhotos_, &copies_}) {
        CPanoElement* e = (*list)[index].Get();
        if (e)
            e->AddRef();
        list->emplace_back(e);
    }
    return n;
}

bool CPanorama::CloseRing(Rect& bounds) {
    int start = -1, end = -1;
    CRingClosure::FindEnds(preview_, bounds.Width() > bounds.Height(), start, end);
    // A far end that happens to be photo 1 (a ring shot panning the other way
    // ends there) is closed like any other. Two photos make no ring: the far
    // end would be matched again with the start, its only neighbour.
    if (start == -1 || end == -1 || start == end || preview_.group.Nodes().size() < 3) {
        ring_.ClearEnds();
        return true;
    }
    const int duplicate = DuplicateRingElement(end);
    if (duplicate < 0)
        return false;
    ring_.duplicate = duplicate;
    ring_.farEnd = end;
    if (!AddToMatchGraph(&matchGraph_, start, duplicate))
        return false;
    preview_.group.Clear();
    if (!MakeArrangement().BuildStar(preview_.group, matchGraph_, -1))
        return false;
    ring_.EqualizeScale(preview_);
    bounds = ArrangePass(preview_);
    if (bounds.IsEmpty())
        throw panorama_cannot_build();
    return true;
}
