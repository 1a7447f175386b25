#pragma once
// Arrangement of the matched photos, a stage of the planar model: the
// reference photo, the star of its group, the panorama's bounds and each
// photo's panorama-to-photo transform, worked out for the render pass it is
// handed (the preview's, or the full-size render's).

#include <cstdint>
#include <vector>

#include "MatchGraph.h"
#include "OrvexBase.h"
#include "RenderPass.h"

class CArrangement {
public:
    using Matrix = RenderPass::Matrix;
    // A 360-degree ring's repeated photo and the far end it repeats; -1 when
    // the build has no ring.
    struct RingEnds {
        int duplicate = -1;
        int farEnd = -1;
    };

    // photoCount: the photos of the build, a ring's repeated photo included.
    // fallback: the reference when no photo has an inlier match (photo 0 when
    // the caller gave the transforms, else -1). cutRing: a 360 build, whose
    // bounds are cut to one turn between the ring's ends.
    CArrangement(int photoCount, int fallback, RingEnds ring, bool cutRing)
        : photoCount_(photoCount), fallback_(fallback), ring_(ring), cutRing_(cutRing) {}

    // The photo with the most inlier matches over its edges (the first on a
    // tie); -1 for a graph without edges.
    int FindReference(const match_graph::CGraph& matches) const;
    // The star of the reference's group: one edge reference -> photo per
    // photo reached, its transform composed along the best-matched path.
    // Reference -1 takes FindReference's. False when there is no reference
    // or memory ran out.
    bool BuildStar(match_graph::CGraph& group, const match_graph::CGraph& matches, int reference) const;
    // Bounds of the pass's group in panorama pixels, and each placed photo's
    // transform from panorama pixels (counted from the bounds' corner) into
    // pass.transforms. Empty when the bounds are not finite or out of range.
    OrvexBase::Rect ComputeBounds(RenderPass& pass);
    // The photo of the pass's group (a ring's two copies of one photo aside)
    // whose placed centre lies nearest the centre of area, or -1. Reads the
    // transforms ComputeBounds gave.
    int FindCentralPhoto(const RenderPass& pass, const OrvexBase::Rect& area) const;
    // After ComputeBounds of a ring: whether the ring's ends did not lie so
    // that the bounds could be cut to one turn.
    bool RingNotCut() const { return ringNotCut_; }
    // The caller's photos that no edge of group places (the ring's repeated
    // photo is none of them); their count.
    int ListUnmatched(const match_graph::CGraph& group, std::vector<std::int32_t>& out) const;
    // The pair transforms of graph from analysis to full-size pixels, given
    // each photo's full size over analysis size (1 for a photo not listed).
    static void RescalePairTransforms(match_graph::CGraph& graph, const std::vector<double>& scales);

private:
    void ClipBoundsToRing(const RenderPass& pass, OrvexBase::Rect& bounds);

    int photoCount_;
    int fallback_;
    RingEnds ring_;
    bool cutRing_;
    bool ringNotCut_ = false;
};
