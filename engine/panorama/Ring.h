#pragma once
// Ring closure, a stage of the planar model for 360-degree panoramas: the
// far-end photo is repeated before the start of the strip and matched to it
// (the engine does that part, as it owns the photo lists and the matching);
// this stage finds the strip's ends, draws both copies at one scale and
// finds the turn that lays them level, on the render pass it is handed.

#include "RenderPass.h"

class CRingClosure {
public:
    using Matrix = RenderPass::Matrix;

    // The repeated photo and the far end it repeats; -1 when the build has
    // no ring.
    int duplicate = -1;
    int farEnd = -1;
    // Whether the last arrangement of a ring could not cut its bounds to one
    // turn (the repeated photo did not land before the start).
    bool notCut = false;

    void ClearEnds() { duplicate = farEnd = -1; }
    bool HasEnds() const { return duplicate >= 0 && farEnd >= 0; }

    // The photos of the pass's star furthest out along x (wide) or y; the
    // reference when nothing reaches further; -1 without a group.
    static void FindEnds(const RenderPass& pass, bool wide, int& start, int& end);
    // Centres of both copies in panorama coordinates; false unless both have
    // one group edge and a photo in the pass.
    bool Centres(const RenderPass& pass, double& dupX, double& dupY, double& endX, double& endY) const;
    // The end photo's copy lies after the duplicate along the strip.
    bool IsForward(const RenderPass& pass) const;
    // Both copies at their mean scale, each centred where it was.
    void EqualizeScale(RenderPass& pass) const;
    // The turn that brings both copies level; identity when there is none.
    // False when a forward ring has no centres.
    bool ComputeRotation(const RenderPass& pass, Matrix& rotation) const;
    // Turns every star edge and the reference (pass.ringTransform).
    static void ApplyRotation(RenderPass& pass, const Matrix& rotation);
};
