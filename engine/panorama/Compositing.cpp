// The compositing stage of the planar model (see Compositing.h).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Blender.h"
#include "Compositing.h"
#include "Exposure.h"
#include "LensPresets.h"
#include "LookAheadPipeline.h"
#include "PlaneMemory.h"
#include "ThreadPool.h"
#include "Warp.h"

using match_graph::CNode;
using OrvexBase::Rect;

namespace {

using Matrix = RenderPass::Matrix;

bool IsIdentity(const Matrix& m) {
    static const Matrix kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return m == kIdentity;
}

}  // namespace

CPanoElement* CCompositor::Photo(int index) const {
    const auto& photos = *pass_.photos;
    return index >= 0 && index < static_cast<int>(photos.size()) ? photos[index].Get() : nullptr;
}

bool CCompositor::WarpElement(int index) {
    ElementList& warped = pass_.warped;
    if (index < 0 || index >= static_cast<int>(warped.size()))
        return false;
    if (warped[index])
        return true;
    CPanoElement* photo = Photo(index);
    const auto& transforms = pass_.transforms;
    if (!photo || index >= static_cast<int>(transforms.size()))
        return false;
    warped[index].Reset(WarpPhotoElement(photo, transforms[index].data()));
    return static_cast<bool>(warped[index]);
}

bool CCompositor::ComputeSeamMask(int index) {
    ElementList& warped = pass_.warped;
    if (index < 0 || index >= static_cast<int>(warped.size()) ||
        index >= static_cast<int>(build_.seams->size()))
        return false;
    return ::ComputeSeamMask(warped[index].Get(), pass_.result, settings_.motionModel,
                             &(*build_.seams)[index]);
}

bool CCompositor::RescaleSeams(int index, std::vector<std::uint8_t>& coverage) {
    CPanoElement* full = pass_.warped[index].Get();
    coverage = CopyMask(full);
    CSeamRescaler rescaler(build_.preview->warped[index].Get(), full, (*build_.seams)[index]);
    return rescaler.Rescale();
}

void CCompositor::BalanceExposure(int index) {
    ElementList& warped = pass_.warped;
    CPanoElement* photo = Photo(index);
    const auto& transforms = pass_.transforms;
    if (!photo || index >= static_cast<int>(warped.size()) || index >= static_cast<int>(transforms.size()))
        return;
    ::BalanceExposure(pass_.result, warped[index].Get(), photo->GetRect(), transforms[index].data(),
                      settings_.rawExposureDifference);
}

bool CCompositor::CompositeOver(int index, Rect* written) {
    ElementList& warped = pass_.warped;
    if (written)
        *written = Rect();
    if (index < 0 || index >= static_cast<int>(warped.size()))
        return false;
    return ::CompositeOver(pass_.result, warped[index].Get(), Rect(), written);
}

void CCompositor::PasteIntoResult(CPanoElement* element, Rect* written) {
    if (written)
        *written = Rect();
    CPanoElement* result = pass_.result;
    if (!element || !result || !element->IsValid() || !result->IsValid() || element->GetBpp() != 24)
        return;
    const Rect hit = element->GetRect().Intersect(result->GetRect());
    if (hit.Width() <= 0 || hit.Height() <= 0)
        return;
    const std::uint8_t* emask = element->GetMask();
    std::uint8_t* rmask = result->GetMask();
    for (int y = hit.top; y < hit.bottom; ++y) {
        const std::uint8_t* src =
            element->GetBits() + static_cast<std::size_t>(y - element->y) * element->GetStride();
        std::uint8_t* dst = result->GetBits() + static_cast<std::size_t>(y - result->y) * result->GetStride();
        std::memcpy(dst + 3 * (hit.left - result->x), src + 3 * (hit.left - element->x), 3 * hit.Width());
        if (!rmask)
            continue;
        std::uint8_t* mrow = rmask + static_cast<std::size_t>(y - result->y) * result->GetMaskStride();
        if (emask)
            std::memcpy(mrow + (hit.left - result->x),
                        emask + static_cast<std::size_t>(y - element->y) * element->GetMaskStride() +
                            (hit.left - element->x),
                        hit.Width());
        else
            std::memset(mrow + (hit.left - result->x), 255, hit.Width());
    }
    if (written)
        *written = result->GetRect();
}

bool CCompositor::PlaceFirstElement(int index, CPanoElement* photo, Rect* written) {
    if (!photo || !photo->IsValid())
        return false;
    if (!IsIdentity(pass_.ringTransform))
        return WarpElement(index) && CompositeOver(index, nullptr);
    const auto& transforms = pass_.transforms;
    if (index < 0 || index >= static_cast<int>(transforms.size()))
        return false;
    Matrix inv;
    InvertMatrix3x3(inv.data(), transforms[index].data());
    const Rect r = photo->GetRect();
    const double pts[4][2] = {
        {0, 0}, {double(r.right), 0}, {0, double(r.bottom)}, {double(r.right), double(r.bottom)}};
    double minX = std::numeric_limits<double>::max(), minY = std::numeric_limits<double>::max();
    for (const auto& p : pts) {
        minX = std::min(minX, inv[0] * p[0] + inv[1] * p[1] + inv[2]);
        minY = std::min(minY, inv[3] * p[0] + inv[4] * p[1] + inv[5]);
    }
    if (!std::isfinite(minX) || !std::isfinite(minY))
        return false;
    ElementList& warped = pass_.warped;
    photo->AddRef();
    warped[index].Reset(photo);
    photo->CreateMask(true);
    photo->x = static_cast<std::int32_t>(std::floor(minX));
    photo->y = static_cast<std::int32_t>(std::floor(minY));
    PasteIntoResult(photo, written);
    return true;
}

bool CCompositor::LensDue(int index) const {
    return settings_.lensCompensation && index < static_cast<int>(build_.lensDue->size()) &&
           (*build_.lensDue)[index];
}

bool CCompositor::LensWarp(int index, const std::function<bool()>& progress) {
    const auto& sources = *build_.sources;
    CPanoElement* source = index < static_cast<int>(sources.size()) ? sources[index].Get() : nullptr;
    CPanoElement* target = Photo(index);
    if (!source || !target)
        return false;
    source->Reload();
    const bool ok = WarpElementToSphere(target, source, settings_.focalFactor, nullptr, progress);
    source->Unload();
    if (!ok) {
        target->Unload();
        return false;
    }
    (*build_.lensDue)[index] = 0;
    return true;
}

bool CCompositor::LensStep(int index) {
    if (!LensDue(index)) {
        context_.Advance(2);
        return true;
    }
    return LensWarp(index, [this] { return context_.Advance(1); });
}

bool CCompositor::PreparePhoto(int i, bool fullSize, const std::atomic<bool>* abort, PreparedPhoto& out) {
    CPanoElement* p = Photo(i);
    if (fullSize) {
        if (!abort) {
            if (!LensStep(i))
                return false;
        } else if (LensDue(i)) {
            if (!LensWarp(i, [&] {
                    ++out.steps;
                    return abort->load();
                }))
                return false;
        } else {
            out.steps += 2;
        }
        if (p)
            p->Reload();
    }
    const bool warpedOk = WarpElement(i);
    if (fullSize && p)
        p->Unload();
    // A photo that cannot be warped (no memory at full size) must not
    // silently go missing from the panorama.
    if (!warpedOk)
        return false;
    ElementList& warped = pass_.warped;
    if (i == settings_.userCropElement && warped[i])
        warped[i]->ClearMaskRect(&settings_.userCropRect);
    if (warped[i])
        warped[i]->GetSavedMask();
    if (fullSize && build_.preview && i < static_cast<int>(build_.preview->warped.size()) &&
        i < static_cast<int>(pass_.warped.size()) && i < static_cast<int>(build_.seams->size())) {
        RescaleSeams(i, out.coverage);
        out.rescaled = true;
    }
    out.ok = true;
    return true;
}

std::vector<char> CCompositor::PlacesSharingAnElement() const {
    // The photo and its working copy at one index are one photo's; the same
    // element at two indices (a ring's repeated photo) is not.
    const auto& nodes = pass_.group.Nodes();
    std::vector<std::pair<const void*, int>> seen;  // element, photo index
    std::vector<char> shares(nodes.size(), 0);
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const int i = pass_.PlacedPhoto(k);
        for (const auto* list : {pass_.photos, build_.sources}) {
            if (i < 0 || i >= static_cast<int>(list->size()) || !(*list)[i])
                continue;
            for (const auto& [element, index] : seen)
                if (element == (*list)[i].Get() && index != i)
                    shares[k] = 1;
            seen.emplace_back((*list)[i].Get(), i);
        }
    }
    return shares;
}

namespace {

// Photos up to this size are prepared ahead and composited side by side.
constexpr std::size_t kSmallPhotoPixels = 600'000;
// Pyramid planes kept from one blend for the next.
constexpr std::size_t kKeptPlaneBytes = std::size_t{8} << 20;

}  // namespace

bool CCompositor::Compose() {
    // Photos, their lens and panorama warps and the exposure planes come and
    // go photo by photo at similar sizes.
    PlaneMemory::KeepFreedBlocks keepBlocks;
    const bool fullSize = pass_.fullSize;
    build_.composited->clear();
    const int levels = settings_.levels;
    const auto& nodes = pass_.group.Nodes();
    if (nodes.empty())
        return false;
    const int photoCount = static_cast<int>(pass_.photos->size());
    ElementList& warped = pass_.warped;
    warped.resize(photoCount);
    std::wstring marked;
    auto unmark = [&] {
        if (!marked.empty() && ui_)
            ui_->AddFile(marked, false);
        marked.clear();
    };
    auto mark = [&](CPanoElement* photo) {
        if (fullSize || !ui_ || !photo)
            return;
        marked = photo->GetFileName();
        ui_->AddFile(marked, true);
    };

    // While photos are composited, the next one is warped (and at full size
    // lens-warped and cut along its seams) on another thread: that work does
    // not read the result, and it fills the pool while the compositing runs
    // serial steps. Small photos are prepared further ahead and composited
    // side by side where their reach does not meet; large photos one ahead
    // and one at a time: more held photos would add to the peak.
    constexpr int kLanes = 2;
    std::size_t largestPhoto = 0;
    for (const auto& e : *pass_.photos)
        if (e)
            largestPhoto = std::max(largestPhoto, static_cast<std::size_t>(std::max(0, e->GetWidth())) *
                                                      static_cast<std::size_t>(std::max(0, e->GetHeight())));
    CLookAheadPipeline::Config config;
    config.count = nodes.size();
    config.ahead = Platform::ThreadPool::Shared().ThreadCount() > 1 && nodes.size() > 2;
    config.smallItems = largestPhoto <= kSmallPhotoPixels;
    // A photo whose element an earlier one also uses is prepared and
    // composited only once every earlier one is finished.
    config.barrier = PlacesSharingAnElement();
    // Each photo reads and writes the result only within its warped
    // rectangle widened by the exposure margin and the blend's padding, so
    // the order between photos whose reach does not meet changes no pixel.
    // Without a mask on the result the first paste makes one: one at a time.
    config.lanes = config.smallItems && pass_.result && pass_.result->GetMask() ? kLanes : 1;
    std::vector<PreparedPhoto> prepared(nodes.size());
    LaplacianPyramid::LevelFactory lanePlanes[kLanes];
    // The part of a photo's compositing that needs the result: seam cut,
    // exposure, blend and paste. step(n) counts progress; true cancels.
    auto composite = [&](int i, PreparedPhoto& prep, LaplacianPyramid::LevelFactory& planes,
                         const std::function<bool(int)>& step) {
        CPanoElement* result = pass_.result;
        if (fullSize) {
            if (prep.rescaled)
                KeepCutWithinCoverage(warped[i].Get(), prep.coverage, result);
            prep.coverage = std::vector<std::uint8_t>();
        } else {
            ComputeSeamMask(i);
        }
        FadeTowardsCoveredEdges(warped[i].Get(), result, 2 << levels);
        bool compose = true;
        if (settings_.ring360 && i < static_cast<int>(build_.seams->size())) {
            std::int32_t sides = 0;
            for (std::int32_t side : {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM})
                if (!(*build_.seams)[i][side].points.empty())
                    sides |= side;
            sides &= settings_.wideStrip ? (SEAM_TOP | SEAM_BOTTOM) : (SEAM_LEFT | SEAM_RIGHT);
            if (sides)
                compose = false;
        }
        if (compose)
            BalanceExposure(i);
        if (step(1))
            return false;
        // The pyramid planes come from the heap and the blender's own pool.
        keepBlocks.GiveBackKept();
        LaplacianBlender blender(&planes);
        if (compose) {
            Rect blended;
            if (settings_.laplacianBlending) {
                if (blender.Blend(levels, warped[i].Get(), result))
                    blended = blender.GetOverlapRect();
            }
            ::CompositeOver(result, warped[i].Get(), blended, nullptr);
        }
        if (fullSize) {
            warped[i].Reset();
        }
        if (compose && settings_.laplacianBlending)
            blender.WriteResult(result);
        planes.Trim(kKeptPlaneBytes);
        return !(step(levels - 1) || step(1));
    };
    auto reachOf = [&](int i) {
        CPanoElement* e = warped[i].Get();
        if (!e)
            return Rect();
        const Rect r = e->GetRect();
        const std::int64_t pad = (std::int64_t{1} << std::min(levels, 30)) + 2;
        const std::int64_t margin = std::max<std::int64_t>(std::max(r.Width(), r.Height()) / 4 + 2, pad);
        const auto widen = [&](std::int64_t v, std::int64_t by) {
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(
                v + by, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        };
        return Rect(widen(r.left, -margin), widen(r.top, -margin), widen(r.right, margin),
                    widen(r.bottom, margin));
    };
    const auto photoAt = [&](std::size_t k) { return pass_.PlacedPhoto(k); };
    const auto placeable = [&](std::size_t k) {
        const int i = photoAt(k);
        return i >= 0 && i < photoCount;
    };

    CLookAheadPipeline::Hooks hooks;
    hooks.placeable = placeable;
    hooks.prepare = [&](std::size_t k, const std::atomic<bool>* abort) {
        return PreparePhoto(photoAt(k), fullSize, abort, prepared[k]);
    };
    hooks.preparedOk = [&](std::size_t k) { return prepared[k].ok; };
    hooks.heldBytes = [&](std::size_t k) {
        const CPanoElement* e = warped[photoAt(k)].Get();
        return e ? 5 * static_cast<std::size_t>(e->GetWidth()) * static_cast<std::size_t>(e->GetHeight())
                 : std::size_t{0};
    };
    hooks.reach = [&](std::size_t k) { return reachOf(photoAt(k)); };
    hooks.begin = [&](std::size_t k) {
        mark(Photo(photoAt(k)));
        const PreparedPhoto& prep = prepared[k];
        if (prep.steps != 0 && context_.Advance(prep.steps))
            return false;
        if (!prep.ok || context_.Advance(1)) {
            unmark();
            return false;
        }
        return true;
    };
    hooks.release = unmark;
    hooks.finish = [&](std::size_t k, int lane, const std::function<bool(int)>& step) {
        return composite(photoAt(k), prepared[k], lanePlanes[lane], step);
    };
    hooks.collected = [&](std::size_t k) { build_.composited->push_back(photoAt(k)); };
    hooks.advance = [&](int steps) { return context_.Advance(steps); };
    CLookAheadPipeline pipeline(std::move(config), std::move(hooks));
    pipeline.Start();

    // The reference is placed while the next photo is prepared.
    const int r = nodes.front()->imageIndex;
    CPanoElement* photo = Photo(r);
    if (fullSize) {
        if (!LensStep(r))
            return false;
        if (photo)
            photo->Reload();
        // A reference photo that cannot be read back must fail the render,
        // not leave a hole in it.
        if (!photo || !photo->IsValid())
            return false;
    }
    mark(photo);
    Rect written;
    const bool placed = PlaceFirstElement(r, photo, &written);
    if (fullSize) {
        if (photo)
            photo->Unload();
        warped[r].Reset();
    }
    unmark();
    if (!placed)
        return false;
    const int increment = ((photoCount - static_cast<int>(nodes.size())) + 1) * (levels + 2);
    if (increment != 0) {
        if (context_.Advance(increment))
            return false;
    }
    build_.composited->push_back(r);
    return pipeline.Run();
}
