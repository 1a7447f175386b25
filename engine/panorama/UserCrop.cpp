// The user's crop rectangle on the planar preview: inside it the overlap
// belongs to the photo drawn first, the next photo reaching in gives it up,
// and the preview is composited again; Render carries the rectangle over to
// full size.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Panorama.h"

using match_graph::CEdge;
using OrvexBase::Rect;

namespace {

using Matrix = CPanorama::Matrix;

// Smallest integer rectangle holding the four corners of r mapped through
// the first two rows of m; empty when a corner is not finite.
Rect MapRect(const double m[9], double left, double top, double right, double bottom) {
    const double pts[4][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
    double minX = std::numeric_limits<double>::max(), maxX = -minX, minY = minX, maxY = -minX;
    for (const auto& p : pts) {
        const double x = m[0] * p[0] + m[1] * p[1] + m[2];
        const double y = m[3] * p[0] + m[4] * p[1] + m[5];
        if (!std::isfinite(x) || !std::isfinite(y))
            return Rect();
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const double lo = std::numeric_limits<std::int32_t>::min() / 2,
                 hi = std::numeric_limits<std::int32_t>::max() / 2;
    if (minX < lo || minY < lo || maxX > hi || maxY > hi)
        return Rect();
    return Rect(static_cast<std::int32_t>(std::floor(minX)), static_cast<std::int32_t>(std::floor(minY)),
                static_cast<std::int32_t>(std::ceil(maxX)), static_cast<std::int32_t>(std::ceil(maxY)));
}

std::int32_t SeamSides(const SeamSet& seams) {
    std::int32_t sides = 0;
    for (std::int32_t side : {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM})
        if (!seams[side].points.empty())
            sides |= side;
    return sides;
}

}  // namespace

void CPanorama::ClearUserCrop() {
    userCropRect_ = Rect();
    userCropElement_ = -1;
}

void CPanorama::SetCropRect(Rect& r) {
    if (r.IsEmpty()) {
        userCropRect_ = r;
        userCropElement_ = -1;
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
    userCropRect_ = area;
    userCropElement_ = -1;
    ApplyUserCrop(area);
}

void CPanorama::ApplyUserCrop(Rect r) {
    std::vector<CPanoElement*>& warped = pass_->warped;
    struct Hit {
        int index;
        Rect area;
    };
    std::vector<Hit> kept;
    for (int i = 0; i < static_cast<int>(warped.size()); ++i) {
        if (!warped[i] || !warped[i]->IsValid())
            continue;
        const Rect area = warped[i]->GetRect().Intersect(r);
        if (!area.IsEmpty())
            kept.push_back({i, area});
    }
    if (kept.size() < 2)
        return;

    // The photo drawn first inside the rectangle covers it.
    int covering = -1;
    Rect coveringArea;
    for (std::int32_t i : composited_) {
        const auto it = std::find_if(kept.begin(), kept.end(), [i](const Hit& h) { return h.index == i; });
        if (it == kept.end())
            continue;
        covering = i;
        coveringArea = it->area;
        kept.erase(it);
        break;
    }
    // With no photo to cover the rectangle nothing may give it up.
    if (covering < 0 || kept.empty())
        return;
    const int chosen = kept.front().index;
    userCropElement_ = chosen;

    // The chosen photo's seam side says which edge of the covered area
    // reaches out to the chosen photo's own edge.
    const Rect chosenRect = warped[chosen]->GetRect();
    const std::int32_t sides = chosen < static_cast<int>(seams_.size()) ? SeamSides(seams_[chosen]) : 0;
    Rect cut = coveringArea;
    if (sides & SEAM_LEFT)
        cut.left = std::min(cut.left, chosenRect.left);
    else if (sides & SEAM_RIGHT)
        cut.right = std::max(cut.right, chosenRect.right);
    else if (sides & SEAM_TOP)
        cut.top = std::min(cut.top, chosenRect.top);
    else if (sides & SEAM_BOTTOM)
        cut.bottom = std::max(cut.bottom, chosenRect.bottom);
    // The covering photo must hold all of it; otherwise the chosen photo
    // would give up pixels that nobody draws, and nothing changes.
    if (!(warped[covering]->GetRect().Intersect(cut) == cut)) {
        ClearUserCrop();
        return;
    }

    if (!RewarpGroup()) {
        ClearUserCrop();
        return;
    }
    userCropRect_ = cut;
    OrvexBase::RefPtr<CPanoElement> extracted(warped[covering] ? warped[covering]->ExtractRegion(true, cut)
                                                               : nullptr);
    if (!extracted || !warped[chosen]) {
        ClearUserCrop();
        return;
    }
    if (extracted->GetMask() && warped[chosen]->GetMask()) {
        const Rect overlap = extracted->GetRect().Intersect(warped[chosen]->GetRect());
        if (!overlap.IsEmpty())
            warped[chosen]->ClearMaskRect(&overlap);
    }
    Recomposite();
}

bool CPanorama::RewarpGroup() {
    std::vector<CPanoElement*>& warped = pass_->warped;
    pass_->ReleaseWarped();
    if (pass_->group.Nodes().empty())
        return false;
    warped.assign(CurrentElements().size(), nullptr);
    CCompositor compositor = MakeCompositor(*pass_);
    const int reference = pass_->group.Nodes().front()->imageIndex;
    if (!compositor.WarpElement(reference))
        return false;
    for (const CEdge* e : pass_->group.Edges())
        if (!compositor.WarpElement(e->secondImage))
            return false;
    return true;
}

void CPanorama::Recomposite() {
    CPanoElement* result = previewResult_;
    if (pass_->fullSize || !result || !result->IsValid())
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
    seams_.assign(CurrentElements().size(), SeamSet());

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

void CPanorama::CarryUserCropToFullSize() {
    const int i = userCropElement_;
    if (userCropRect_.IsEmpty() || i < 0)
        return;
    if (i >= static_cast<int>(preview_.transforms.size()) || i >= static_cast<int>(full_.transforms.size()) ||
        i >= static_cast<int>(copies_.size()) || i >= static_cast<int>(workPhotos_.size()) || !copies_[i] ||
        !workPhotos_[i] || copies_[i]->GetWidth() <= 0 || copies_[i]->GetHeight() <= 0) {
        ClearUserCrop();
        return;
    }
    const Rect r = userCropRect_;
    // Into the analysis copy's pixels, up to the working photo's, and back
    // into full-size panorama pixels.
    const Rect inCopy = MapRect(preview_.transforms[i].data(), r.left, r.top, r.right, r.bottom);
    const double sx = static_cast<double>(workPhotos_[i]->GetWidth()) / copies_[i]->GetWidth();
    const double sy = static_cast<double>(workPhotos_[i]->GetHeight()) / copies_[i]->GetHeight();
    Matrix inverse;
    InvertMatrix3x3(inverse.data(), full_.transforms[i].data());
    const Rect full = inCopy.IsEmpty() ? Rect()
                                       : MapRect(inverse.data(), inCopy.left * sx, inCopy.top * sy,
                                                 inCopy.right * sx, inCopy.bottom * sy);
    if (full.IsEmpty())
        ClearUserCrop();
    else
        userCropRect_ = full;
}
