#pragma once
// The user's crop rectangle, a stage of the planar model: inside the
// rectangle (panorama pixels of the preview) the overlap belongs to the
// photo drawn first, and the next photo reaching in gives it up; Render
// carries the rectangle over to full size.

#include <cstdint>
#include <vector>

#include "Compositing.h"
#include "OrvexBase.h"
#include "PanoElement.h"
#include "RenderPass.h"
#include "Seams.h"

class CUserCrop {
public:
    CUserCrop() = default;
    CUserCrop(const OrvexBase::Rect& area, int element) : area_(area), element_(element) {}

    // The rectangle in panorama pixels of the pass it was last set for, and
    // the photo that gives up its overlap there (-1: none).
    const OrvexBase::Rect& Area() const { return area_; }
    int Element() const { return element_; }

    void Clear();
    // A new rectangle; no photo gives anything up yet.
    void Set(const OrvexBase::Rect& area) {
        area_ = area;
        element_ = -1;
    }
    // Chooses the photo that gives up its overlap in the rectangle: the
    // preview's photos are warped again (through the compositor) and the
    // chosen one's mask cleared where the covering photo lies. True when the
    // preview must be composited again; a rectangle that cannot be kept is
    // cleared.
    bool Apply(RenderPass& preview, const std::vector<std::int32_t>& composited,
               const std::vector<SeamSet>& seams, CCompositor& compositor);
    // The rectangle in full-size panorama pixels, through the chosen photo's
    // analysis copy and working photo; cleared when it cannot be carried.
    void CarryToFullSize(const RenderPass& preview, const RenderPass& full, const ElementList& copies,
                         const ElementList& workPhotos);

private:
    static bool RewarpGroup(RenderPass& pass, CCompositor& compositor);

    OrvexBase::Rect area_;
    int element_ = -1;
};
