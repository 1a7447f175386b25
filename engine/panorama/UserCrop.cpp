// The user's crop stage of the planar model (see UserCrop.h).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "UserCrop.h"

using match_graph::CEdge;
using OrvexBase::Rect;

namespace {

using Matrix = RenderPass::Matrix;

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

void CUserCrop::Clear() {
    area_ = Rect();
    element_ = -1;
}

bool CUserCrop::Apply(RenderPass& preview, const std::vector<std::int32_t>& composited,
                      const std::vector<SeamSet>& seams, CCompositor& compositor) {
    const Rect r = area_;
    ElementList& warped = preview.warped;
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
        return false;

    // The photo drawn first inside the rectangle covers it.
    int covering = -1;
    Rect coveringArea;
    for (std::int32_t i : composited) {
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
        return false;
    const int chosen = kept.front().index;
    element_ = chosen;

    // The chosen photo's seam side says which edge of the covered area
    // reaches out to the chosen photo's own edge.
    const Rect chosenRect = warped[chosen]->GetRect();
    const std::int32_t sides = chosen < static_cast<int>(seams.size()) ? SeamSides(seams[chosen]) : 0;
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
        Clear();
        return false;
    }

    if (!RewarpGroup(preview, compositor)) {
        Clear();
        return false;
    }
    area_ = cut;
    OrvexBase::RefPtr<CPanoElement> extracted(warped[covering] ? warped[covering]->ExtractRegion(true, cut)
                                                               : nullptr);
    if (!extracted || !warped[chosen]) {
        Clear();
        return false;
    }
    if (extracted->GetMask() && warped[chosen]->GetMask()) {
        const Rect overlap = extracted->GetRect().Intersect(warped[chosen]->GetRect());
        if (!overlap.IsEmpty())
            warped[chosen]->ClearMaskRect(&overlap);
    }
    return true;
}

bool CUserCrop::RewarpGroup(RenderPass& pass, CCompositor& compositor) {
    pass.ReleaseWarped();
    if (pass.group.Nodes().empty())
        return false;
    pass.warped.resize(pass.photos->size());
    const int reference = pass.group.Nodes().front()->imageIndex;
    if (!compositor.WarpElement(reference))
        return false;
    for (const CEdge* e : pass.group.Edges())
        if (!compositor.WarpElement(e->secondImage))
            return false;
    return true;
}

void CUserCrop::CarryToFullSize(const RenderPass& preview, const RenderPass& full, const ElementList& copies,
                                const ElementList& workPhotos) {
    const int i = element_;
    if (area_.IsEmpty() || i < 0)
        return;
    if (i >= static_cast<int>(preview.transforms.size()) || i >= static_cast<int>(full.transforms.size()) ||
        i >= static_cast<int>(copies.size()) || i >= static_cast<int>(workPhotos.size()) || !copies[i] ||
        !workPhotos[i] || copies[i]->GetWidth() <= 0 || copies[i]->GetHeight() <= 0) {
        Clear();
        return;
    }
    const Rect r = area_;
    // Into the analysis copy's pixels, up to the working photo's, and back
    // into full-size panorama pixels.
    const Rect inCopy = MapRect(preview.transforms[i].data(), r.left, r.top, r.right, r.bottom);
    const double sx = static_cast<double>(workPhotos[i]->GetWidth()) / copies[i]->GetWidth();
    const double sy = static_cast<double>(workPhotos[i]->GetHeight()) / copies[i]->GetHeight();
    Matrix inverse;
    InvertMatrix3x3(inverse.data(), full.transforms[i].data());
    const Rect inFull = inCopy.IsEmpty() ? Rect()
                                         : MapRect(inverse.data(), inCopy.left * sx, inCopy.top * sy,
                                                   inCopy.right * sx, inCopy.bottom * sy);
    if (inFull.IsEmpty())
        Clear();
    else
        area_ = inFull;
}
