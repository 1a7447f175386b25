#pragma once
// One compositing pass of the planar model: the preview every build makes at
// analysis size, or the full-size render. Each pass keeps what it works on
// (the photos it places, their arrangement and transforms, their warped
// copies and the result it composites into), so the two never share a member
// that a mode would have to switch or a render would have to restore.

#include <array>
#include <vector>

#include "MatchGraph.h"
#include "PanoElement.h"

struct RenderPass {
    using Matrix = std::array<double, 9>;

    RenderPass(bool full, CPanoElement* into, const ElementList* placed)
        : fullSize(full), result(into), photos(placed) {}
    RenderPass(const RenderPass&) = delete;
    RenderPass& operator=(const RenderPass&) = delete;

    // Drops every warped photo.
    void ReleaseWarped() { warped.clear(); }

    // Photo i of this pass; null for an index out of range.
    CPanoElement* Photo(int i) const {
        return i >= 0 && i < static_cast<int>(photos->size()) ? (*photos)[i].Get() : nullptr;
    }

    // The photo the group's k-th node places: the reference for the first
    // node, else the far end of the node's first edge.
    int PlacedPhoto(std::size_t k) const {
        const match_graph::CNode* node = group.Nodes()[k];
        if (k == 0 || node->edges.empty())
            return node->imageIndex;
        return node->edges.front()->secondImage;
    }

    const bool fullSize;
    // The engine's result element it composites into; not owned.
    CPanoElement* const result;
    // The photos it places, per photo index: the analysis copies for the
    // preview, the working photos at full size; not owned.
    const ElementList* const photos;
    // Star of the panorama's group: reference -> every other photo, with the
    // pair transforms in this pass's pixels.
    match_graph::CGraph group;
    // The turn that levels a 360-degree ring.
    Matrix ringTransform = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    // Panorama pixels (from the bounds' corner) to photo pixels, per photo.
    std::vector<Matrix> transforms;
    // Warped photos per photo index; one reference per entry.
    ElementList warped;
};
