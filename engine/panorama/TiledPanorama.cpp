// The tiled engine: options, the build (analysis of every photo, match graph,
// global alignment, first preview render), and the small operations.

#include "TiledPanorama.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <semaphore>
#include <utility>

#include "AnalysisCopy.h"
#include "AnalysisStage.h"
#include "DibManager.h"
#include "Features.h"
#include "LensModel.h"
#include "MatchGraphBuilder.h"
#include "ScopeExit.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

PanoramaLib::ITiledPanorama* CreateTiledPanorama(PanoramaLib::IDibManager* manager) {
    return CreatePanoramaModel<Tiled_Panorama::CPanorama>(manager);
}

namespace Tiled_Panorama {

namespace {

CPanoElement* AsElement(IPanoElement* e) {
    return dynamic_cast<CPanoElement*>(e);
}

}  // namespace

CPanorama::CPanorama() {
    thread_.previewScale = 20.0;
}

CPanorama::~CPanorama() {
    // The render thread reads the photos and publishes results: stop it first.
    thread_.Stop();
    align_.poses.clear();
    Reset(true, true);
    photos_.clear();
}

void CPanorama::Init(PanoramaLib::IFreeThreading* threads, PanoramaLib::IWaitCursor* cursor,
                     PanoramaLib::IUserInterface* ui) {
    CPanoramaModel::Init(threads, cursor, ui);
    thread_.Start(threads, ui);
}

void CPanorama::Reset(bool dropKeypoints, bool dropGraph) {
    thread_.CancelResult();
    built_ = false;
    if (dropGraph)
        matchGraph_.Clear();
    if (dropKeypoints) {
        keypointSets_.clear();
    }
}

void CPanorama::FreeResults() {
    thread_.CancelResult();
    CPanoramaModel::FreeResults();
}

void CPanorama::TakeOptions(const HVPanoramaOptions& options) {
    cropToRect_ = options.autoCrop;
    lensCompensation_ = options.lensCompensation;
    optimiseAtEnd_ = options.optimiseAtEnd;
    g_nLensModel.store(options.lensModel);
    surfaceKind_ = options.surfaceKind;
}

void CPanorama::GiveOptions(HVPanoramaOptions& options) const {
    options.autoCrop = cropToRect_;
    options.lensCompensation = lensCompensation_;
    options.optimiseAtEnd = optimiseAtEnd_;
    options.lensModel = g_nLensModel.load();
    options.surfaceKind = surfaceKind_;
}

Rect* CPanorama::GetCropRect(Rect* out, int recompute) {
    if (recompute && previewResult_ && previewResult_->IsValid())
        previewResult_->ComputeCropRect(&cropRect_);
    if (out)
        *out = cropRect_;
    return out;
}

IPanoElement* CPanorama::PrepareElement(IPanoElement* photo) {
    return MakeAnalysisCopy(photo, targetSize_, sizeMode_ == 1);
}

void CPanorama::SetCropRect(const Rect& r) {
    cropRect_ = r;
    cropToRect_ = 1;
}

bool CPanorama::PhotoListChanged(const std::vector<IPanoElement*>& photos) const {
    if (photos.size() != photos_.size())
        return true;
    for (std::size_t i = 0; i < photos.size(); ++i)
        if (!photos[i] || !photos_[i] || photos[i]->GetFileName() != photos_[i]->GetFileName())
            return true;
    return false;
}

bool CPanorama::Build(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* proxies,
                      int elevation, int azimuth, int tilt) {
    return RunBuildSkeleton(ProgressIsOwn(), [&] {
        // The render thread reads the photos that this build reloads and
        // unloads: let it put its job away first.
        thread_.CancelAndWaitIdle();
        DestroyResults();
        if (ui_)
            ui_->ToggleView(false);

        const bool changed = PhotoListChanged(photos);
        // The lens model is taken once, here: the alignment fits with it and
        // the renders of its poses use it, whatever SetOptions says meanwhile.
        const std::int32_t lensModel = g_nLensModel.load();
        // A failed build leaves stale poses or none: align again then too.
        const bool realign = changed || report_.status != 1 || lensCompensation_ != lastLensCompensation_ ||
                             optimiseAtEnd_ != lastOptimiseAtEnd_ || lensModel != lastLensModel_;
        lastLensCompensation_ = lensCompensation_;
        lastOptimiseAtEnd_ = optimiseAtEnd_;
        lastLensModel_ = lensModel;

        const int n = static_cast<int>(photos.size());
        report_.photoCount = n;
        report_.unmatched.clear();
        cancel_ = false;
        position_ = 0;
        total_ = 12 * n - 2;

        KeypointSetList oldSets;
        ElementList oldPhotos;
        oldSets.swap(keypointSets_);
        oldPhotos.swap(photos_);
        scales_.clear();
        proxies_.clear();
        ownCopies_.clear();
        auto dropOld = [&] {
            oldSets.clear();
            oldPhotos.clear();
        };
        ScopeExit dropOnExit(dropOld);
        Reset(true, changed);
        if (proxies)
            proxies_ = *proxies;

        AnalyzePhotos(photos, oldPhotos, oldSets);
        dropOld();
        // Without the caller's smaller copies the previews read the analysis
        // copies, as they read the caller's: a photo larger than the
        // analysis size is then decoded once per build, not again for the
        // build's preview and each later one.
        if (!proxies)
            for (const auto& copy : ownCopies_)
                proxies_.push_back(copy.Get());

        if (!MatchAndStitch(realign, lensModel, elevation, azimuth, tilt))
            throw panorama_error();
        report_.status = 1;
        ListUnplaced();
    });
}

void CPanorama::ListUnplaced() {
    // The alignment places the photos joined to the reference by matches; the
    // rest are left out of the result, and the document asks the user about them.
    const std::vector<std::int32_t>& placed = align_.placementOrder;
    report_.unmatched.clear();
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(photos_.size()); ++i)
        if (std::find(placed.begin(), placed.end(), i) == placed.end())
            report_.unmatched.push_back(i);
}

void CPanorama::AnalyzePhotos(const std::vector<IPanoElement*>& photos, const ElementList& oldPhotos,
                              KeypointSetList& oldSets) {
    std::vector<CPanoElement*> oldView;
    for (const auto& p : oldPhotos)
        oldView.push_back(p.Get());
    KeypointSetList cached(photos.size());
    for (std::size_t i = 0; i < photos.size(); ++i)
        if (photos[i])
            cached[i] = CAnalysisStage::TakeCachedKeypoints(photos[i]->GetFileName(), oldView, oldSets);
    // A photo stays decoded after its analysis only for the renders of this
    // build: when the analysis does not finish, every photo goes (the
    // workers have stopped once Run has returned or thrown).
    bool analysed = false;
    ScopeExit unloadOnFailure([&] {
        if (analysed)
            return;
        for (IPanoElement* photo : photos)
            if (photo)
                photo->Unload();
    });
    CAnalysisStage::Run(
        photos, std::move(cached), targetSize_,
        [&](std::size_t i, bool detect, const std::atomic<bool>& abort, std::counting_semaphore<>& slots,
            PreparedAnalysis& out) { PrepareAnalysis(photos[i], detect, abort, slots, out); },
        [&](std::size_t i, PreparedAnalysis* ready, std::unique_ptr<CKeypointSet> set) {
            AnalyzePhoto(photos[i], std::move(set), ready);
        },
        *this);
    analysed = true;
}

void CPanorama::PrepareAnalysis(IPanoElement* photoIn, bool detect, const std::atomic<bool>& abort,
                                std::counting_semaphore<>& fullSizeSlots, PreparedAnalysis& out) {
    CPanoElement* photo = AsElement(photoIn);
    if (!photo)
        throw panorama_error();
    OrvexBase::RefPtr<CPanoElement> copy;
    {
        // Full-size pictures are the large part: only a few in memory at once.
        fullSizeSlots.acquire();
        ScopeExit release([&] { fullSizeSlots.release(); });
        if (abort.load())
            throw panorama_abort();
        copy = DecodeAndCopy(photo);
    }
    if (detect) {
        auto set = std::make_unique<CKeypointSet>();
        DetectFeatures(copy.Get(), set->keypoints, set->descriptors, 10.0, 0.02,
                       [&abort] { return abort.load(std::memory_order_relaxed); });
        set->BuildIndex(copy->GetSize());
        ToFullSizePixels(*set, photo->scale);
        out.set = std::move(set);
    }
    out.copy = std::move(copy);
}

OrvexBase::RefPtr<CPanoElement> CPanorama::DecodeAndCopy(CPanoElement* photo) {
    photo->Reload();
    OrvexBase::RefPtr<CPanoElement> copy = CAnalysisStage::MakeCopy(photo, *this);
    // A photo that fits the analysis size is its own copy: it stays decoded,
    // and the previews and the full-size render read these very pixels
    // instead of decoding the file again. A larger one goes: the previews
    // read its smaller copy and the full-size render decodes it again.
    if (copy.Get() != photo)
        photo->Unload();
    return copy;
}

void CPanorama::ToFullSizePixels(CKeypointSet& set, double scale) {
    for (Keypoint* k : set.keypoints) {
        k->x *= scale;
        k->y *= scale;
    }
}

void CPanorama::AnalyzePhoto(IPanoElement* photoIn, std::unique_ptr<CKeypointSet> cached,
                             PreparedAnalysis* ready) {
    const bool wasCached = cached != nullptr;
    std::unique_ptr<CKeypointSet> set(std::move(cached));
    CPanoElement* photo = AsElement(photoIn);
    if (!photo)
        throw panorama_error();
    built_ = false;
    CAnalysisStage::ThrowIfFailed(ready);
    set = CAnalysisStage::TakeSet(std::move(set), ready);
    OrvexBase::RefPtr<CPanoElement> copy = ready ? std::move(ready->copy) : DecodeAndCopy(photo);

    const std::wstring name = photo->GetFileName();
    if (ui_)
        ui_->AddFile(name, true);
    ScopeExit unmark([&] {
        if (ui_)
            ui_->AddFile(name, false);
    });
    if (progress_)
        progress_->SetStage(PanoramaLib::StageAnalyzingImage, photo->GetFileTitle());
    if (ReportProgress(1))
        throw panorama_abort();

    // The photo and its keypoint set join their lists together, so that the
    // two stay parallel whatever happens next.
    photo->AddRef();
    photos_.emplace_back(photo);
    scales_.push_back(photo->scale);
    CKeypointSet* raw = set.get();
    keypointSets_.push_back(std::move(set));
    // A copy apart from the photo stays for the previews.
    CPanoElement* analysed = copy.Get();
    ownCopies_.push_back(analysed != photo ? std::move(copy) : OrvexBase::RefPtr<CPanoElement>());
    photo->x = photo->y = 0;
    if (ReportProgress(1))
        throw panorama_abort();

    if (wasCached || ready) {
        CAnalysisStage::ReportDetectionSteps(wasCached, *this);
    } else {
        DetectFeatures(analysed, raw->keypoints, raw->descriptors, 10.0, 0.02, [this] { return Advance(1); });
        raw->BuildIndex(analysed->GetSize());
        if (cancel_)
            raw->Clear();
        else
            ToFullSizePixels(*raw, photo->scale);
    }
    copy.Reset();
    if (ui_)
        ui_->RepaintNow();
}

bool CPanorama::BuildMatchGraph(match_graph::CGraph* graph) {
    if (!graph)
        return false;
    // Affine fits in full-size photo pixels, within six analysis pixels;
    // the alignment weighs its residuals by the scores the edges keep.
    const std::size_t n = std::min(photos_.size(), keypointSets_.size());
    MatchSettings settings;
    settings.ratio = distanceRatio_;
    settings.fit = MatchSettings::FitModel::Affine;
    settings.keepScoresAndOutliers = true;
    settings.requireKeypoints = true;
    std::vector<const CKeypointSet*> sets = CAnalysisStage::View(keypointSets_, n);
    std::vector<OrvexBase::Size> sizes;
    for (std::size_t k = 0; k < n; ++k) {
        sizes.push_back(photos_[k] ? photos_[k]->GetSize() : OrvexBase::Size());
        settings.tolerance.push_back(6.0 * (k < scales_.size() ? scales_[k] : 1.0));
    }
    return CMatchGraphBuilder(std::move(settings), std::move(sets), std::move(sizes)).BuildAll(graph, *this);
}

std::int32_t CPanorama::FindReferenceImage() const {
    if (matchGraph_.Edges().empty())
        return -1;
    std::int64_t best = 0;
    std::int32_t reference = -1;
    for (const match_graph::CNode* node : matchGraph_.Nodes()) {
        std::int64_t sum = 0;
        for (const match_graph::CEdge* e : node->edges)
            sum += e->inlierCount;
        if (sum > best) {
            best = sum;
            reference = node->imageIndex;
        }
    }
    return reference;
}

bool CPanorama::AlignImages(std::int32_t lensModel) {
    align_.photoSizes.clear();
    for (const auto& p : photos_)
        align_.photoSizes.push_back(p ? p->GetSize() : OrvexBase::Size());
    align_.keypoints = PointsFromKeypointSets(keypointSets_);
    alignEdges_ = EdgesFromGraph(matchGraph_);
    align_.edges.clear();
    for (const AlignmentEdge& e : alignEdges_)
        align_.edges.push_back(&e);
    align_.referenceImage = reference_;
    align_.lensModel = lensModel;
    align_.optimizeAtEnd = optimiseAtEnd_ != 0;
    align_.distanceRatio = distanceRatio_;
    return align_.AlignImages();
}

bool CPanorama::MatchAndStitch(bool realign, std::int32_t lensModel, std::int32_t elevation,
                               std::int32_t azimuth, std::int32_t tilt) {
    DestroyResults();
    if (progress_)
        progress_->SetStage(PanoramaLib::StageMatching);
    if (matchGraph_.Edges().empty() && !BuildMatchGraph(&matchGraph_))
        return false;
    if (matchGraph_.Edges().empty())
        throw panorama_cannot_build();
    if (progress_)
        progress_->SetStage(PanoramaLib::StageStitching);

    align_.lensMode = lensCompensation_ ? 1 : 0;
    align_.sharedLens.hasOwnLens = align_.lensMode == 1 ? 1 : 0;
    reference_ = FindReferenceImage();
    // Poses whose matches end far apart are no panorama: not a success.
    if (realign && AlignImages(lensModel) && align_.fitImplausible)
        throw panorama_cannot_build();

    CCylindricalSurface& surface = OwnSurface(surfaceKind_);
    SetUpSurface(surface, elevation, azimuth, tilt, 0);
    const int n = static_cast<int>(photos_.size());
    surface.Render(20.0, progress_, waitCursor_, total_ - n, total_);
    // A cancelled render still hands out what it composed so far; the build
    // is cancelled all the same.
    if (surface.IsCancelled()) {
        surface.ReleaseResult();
        cancel_ = true;
        throw panorama_abort();
    }
    if (!TakeSurfaceResult(surface, previewResult_))
        return false;
    resultRect_ = previewResult_->GetRect();
    built_ = true;
    previewResult_->ComputeCropRect(&cropRect_);
    previewResult_->ApplyMask();
    return true;
}

CCylindricalSurface& CPanorama::OwnSurface(SurfaceKind kind) {
    if (kind == 0)
        return cylinder_;
    return sphere_;
}

std::vector<IPanoElement*> CPanorama::PhotoPointers() const {
    std::vector<IPanoElement*> pointers;
    for (const auto& p : photos_)
        pointers.push_back(p.Get());
    return pointers;
}

void CPanorama::SetUpSurface(CCylindricalSurface& surface, std::int32_t elevation, std::int32_t azimuth,
                             std::int32_t tilt, std::int32_t interpolation) {
    surface.ClearImages();
    surface.SetImages(align_.placementOrder, align_.sharedLens, align_.poses, PhotoPointers(), proxies_);
    surface.SetLensModel(align_.lensModel);
    surface.SelectReference(0);
    surface.AddAngleOffsets(elevation, azimuth, tilt);
    surface.SetInterpolation(interpolation);
}

bool CPanorama::TakeSurfaceResult(CCylindricalSurface& surface, CPanoElement* into) {
    IPanoElement* rendered = surface.GetResult();
    surface.ReleaseResult();
    if (!rendered)
        return false;
    // The document keeps pointers to the result elements without a
    // reference: the element stays, its picture is replaced.
    into->Destroy();
    const bool ok = into->InitFrom(rendered);
    rendered->Release();
    if (!ok)
        into->Destroy();
    return ok;
}

}  // namespace Tiled_Panorama
