#include "Panorama.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "AnalysisCopy.h"
#include "DibManager.h"
#include "LensPresets.h"
#include "MatchGraphBuilder.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

PanoramaLib::IHVPanorama* CreateHVPanorama(PanoramaLib::IDibManager* manager) {
    return CreatePanoramaModel<CPanorama>(manager);
}

CPanorama::CPanorama() = default;

CPanorama::~CPanorama() {
    Reset(true, true);
}

void CPanorama::Reset(bool dropAnalyses, bool) {
    built_ = false;
    matchGraph_.Clear();
    preview_.group.Clear();
    full_.group.Clear();
    scales_.clear();
    preview_.ReleaseWarped();
    full_.ReleaseWarped();
    workPhotos_.clear();
    photos_.clear();
    if (dropAnalyses) {
        copies_.clear();
        keypointSets_.clear();
    }
}

void CPanorama::TakeOptions(const HVPanoramaOptions& options) {
    autoCrop_ = options.autoCrop;
    ratioMode_ = options.ratioMode;
    if (options.analysisSize != analysisSize_) {
        analysisSize_ = options.analysisSize;
        targetSize_ = analysisSize_ == 1 ? 660 : 400;
    }
    motionModel_ = options.motionModel;
    rawExposureDifference_ = options.rawExposureDifference;
    lensCompensation_ = options.lensCompensation;
    // An id outside the table would index past it: keep the previous one.
    if (LensPresetTable::IsValidId(options.lensPresetId))
        lensPresetId_ = options.lensPresetId;
    is360_ = options.is360;
}

void CPanorama::GiveOptions(HVPanoramaOptions& options) const {
    options.autoCrop = autoCrop_;
    options.ratioMode = ratioMode_;
    options.analysisSize = analysisSize_;
    options.motionModel = motionModel_;
    options.rawExposureDifference = rawExposureDifference_;
    options.lensCompensation = lensCompensation_;
    options.lensPresetId = lensPresetId_;
    options.is360 = is360_;
}

Rect* CPanorama::GetCropRect(Rect* out, int) {
    if (out)
        *out = cropRect_;
    return out;
}

IPanoElement* CPanorama::PrepareElement(IPanoElement* photo) {
    return MakeAnalysisCopy(photo, targetSize_, analysisSize_ == 1);
}

CPanoElement* CPanorama::CurrentResult() {
    if (fullResult_ && fullResult_->IsValid())
        return fullResult_;
    if (previewResult_ && previewResult_->IsValid())
        return previewResult_;
    return nullptr;
}

bool CPanorama::CropResult(const Rect* r) {
    CPanoElement* result = CurrentResult();
    if (!result || !r)
        return false;
    if (result->GetRect() == *r) {
        result->ApplyMask();
    } else {
        // Extract first: a rectangle outside the result fails and loses nothing.
        OrvexBase::RefPtr<CPanoElement> cut(result->ExtractRegion(false, *r));
        if (!cut)
            return false;
        // The document holds the result element itself: keep it and move the
        // cut picture into it.
        result->Destroy();
        if (!result->InitFrom(cut.Get()))
            return false;
    }
    result->x = 0;
    result->y = 0;
    return true;
}

void CPanorama::OnBuildFailed() {
    MakeArrangement().ListUnmatched(preview_.group, report_.unmatched);
}

CArrangement CPanorama::MakeArrangement() const {
    return CArrangement(static_cast<int>(photos_.size()), transformsMode_ ? 0 : -1,
                        {ring_.duplicate, ring_.farEnd}, is360_ != 0);
}

CCompositor CPanorama::MakeCompositor(RenderPass& pass) {
    CCompositor::Settings settings;
    settings.motionModel = motionModel_;
    settings.rawExposureDifference = rawExposureDifference_ != 0;
    settings.laplacianBlending = laplacianBlending_;
    settings.levels = LevelCount(pass.fullSize && !scales_.empty() ? scales_.front() : 1.0);
    settings.ring360 = is360_ != 0;
    settings.wideStrip = cropRect_.Width() > cropRect_.Height();
    settings.lensCompensation = lensCompensation_ != 0;
    if (settings.lensCompensation)
        settings.focalFactor = LensPresetTable::FocalFactor(lensPresetId_);
    settings.userCropElement = userCrop_.Element();
    settings.userCropRect = userCrop_.Area();
    return CCompositor(pass, settings, {&seams_, &composited_, &lensBits_, &photos_, &preview_}, *this, ui_);
}

Rect CPanorama::ArrangePass(RenderPass& pass) {
    CArrangement arrangement = MakeArrangement();
    const Rect bounds = arrangement.ComputeBounds(pass);
    if (is360_)
        ring_.notCut = arrangement.RingNotCut();
    return bounds;
}

CMatchGraphBuilder CPanorama::MakeMatchGraphBuilder() const {
    const auto& elements = copies_;
    const std::size_t n = std::min(elements.size(), keypointSets_.size());
    MatchSettings settings;
    settings.ratio = ratioMode_ == 0 ? 0.6 : 0.8;
    settings.fit = motionModel_ == 0   ? MatchSettings::FitModel::Affine
                   : motionModel_ == 2 ? MatchSettings::FitModel::ScaleShift
                                       : MatchSettings::FitModel::Similarity;
    settings.tolerance.assign(n, motionModel_ == 0 ? 6.0 : 22.0);
    settings.planarNeighbourTest = true;
    std::vector<const CKeypointSet*> sets = CAnalysisStage::View(keypointSets_, n);
    std::vector<OrvexBase::Size> sizes;
    for (std::size_t i = 0; i < n; ++i)
        sizes.push_back(elements[i] ? elements[i]->GetSize() : OrvexBase::Size());
    return CMatchGraphBuilder(std::move(settings), std::move(sets), std::move(sizes));
}

bool CPanorama::BuildMatchGraph(match_graph::CGraph* graph) {
    if (!graph)
        return false;
    return MakeMatchGraphBuilder().BuildAll(graph, *this);
}

void CPanorama::SetCropRect(Rect& r) {
    // A progress callback may reach here while Render composites the photos
    // whose masks a crop would cut.
    if (rendering_)
        return;
    if (r.IsEmpty()) {
        userCrop_.Set(r);
        return;
    }
    // Only a rectangle on the preview can be applied; one reaching outside
    // it, or any rectangle when there is no preview, changes nothing.
    if (!built_ || !previewResult_ || !previewResult_->IsValid() ||
        !(previewResult_->GetRect().Intersect(r) == r))
        return;
    // The preview counts its pixels from its own corner; an auto-cropped
    // preview starts at the crop's corner in panorama pixels.
    Rect area = r;
    if (previewResult_->GetWidth() != previewRect_.Width() ||
        previewResult_->GetHeight() != previewRect_.Height()) {
        area.left += cropRect_.left;
        area.right += cropRect_.left;
        area.top += cropRect_.top;
        area.bottom += cropRect_.top;
    }
    userCrop_.Set(area);
    CCompositor compositor = MakeCompositor(preview_);
    if (userCrop_.Apply(preview_, composited_, seams_, compositor))
        Recomposite();
}

void CPanorama::Recomposite() {
    CPanoElement* result = previewResult_;
    if (rendering_ || !result || !result->IsValid())
        return;
    // The picture changes under the full-size result: it has to be made again.
    if (fullResult_)
        fullResult_->Destroy();

    // An auto-cropped preview is composited where it lies in the panorama
    // and moved back to its own corner afterwards.
    const bool cropped =
        result->GetWidth() != previewRect_.Width() || result->GetHeight() != previewRect_.Height();
    result->x = cropped ? cropRect_.left : 0;
    result->y = cropped ? cropRect_.top : 0;
    result->CreateMask(false);
    if (!result->GetMask()) {
        result->x = result->y = 0;
        return;
    }
    std::memset(result->GetMask(), 0,
                static_cast<std::size_t>(result->GetMaskStride()) * result->GetHeight());
    result->FillImageWhite();
    seams_.assign(copies_.size(), SeamSet());

    // The 360 rule reads the bounds' shape; the stored crop comes back after.
    // No progress: this is no build, and nothing may cancel half of it.
    const Rect savedCrop = cropRect_;
    PanoramaLib::IProgressIndicator* savedProgress = progress_;
    cropRect_ = previewRect_;
    progress_ = nullptr;
    MakeCompositor(preview_).Compose();
    progress_ = savedProgress;
    cropRect_ = savedCrop;
    result->ApplyMask();
    result->x = result->y = 0;
}
