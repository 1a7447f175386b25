#pragma once
// Global alignment of the tiled model: photos are placed one at a time along
// the strongest match-graph edges, each with a start pose from its edge's
// planar transform, and all poses (and shared lens terms when asked) are
// refined together by MINPACK's Levenberg-Marquardt (lmdif).

#include <cstdint>
#include <memory>
#include <vector>

#include "KeypointSet.h"
#include "MatchGraph.h"
#include "OrvexBase.h"
#include "TiledImagePose.h"

namespace Tiled_Panorama {

// The part of a match-graph edge the alignment reads: the two photo indices,
// the row-major transform mapping the first photo's pixels to the second's,
// and per inlier the keypoint index in each photo and the matcher's ratio
// score (distance ratio x 1000).
struct AlignmentEdge {
    std::int32_t firstImage = -1;
    std::int32_t secondImage = -1;
    double transform[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::int32_t inlierCount = 0;
    std::vector<std::int32_t> inliers1;
    std::vector<std::int32_t> inliers2;
    std::vector<std::int32_t> inlierScores;
};

struct AlignmentPoint {
    double x = 0.0;
    double y = 0.0;
};

// The alignment's view of a match graph, in graph order, and of keypoint sets
// (keypoints already in full-size photo pixels); a null set gives no points.
std::vector<AlignmentEdge> EdgesFromGraph(const match_graph::CGraph& graph);
std::vector<std::vector<AlignmentPoint>> PointsFromKeypointSets(const std::vector<CKeypointSet*>& sets);

// The solver's arrays for m residuals and n parameters. Construction never
// throws; IsValid tells whether every array could be allocated.
struct LmdifWorkspace {
    LmdifWorkspace(int m, int n);
    bool IsValid() const { return valid; }

    std::int32_t m = 0;
    std::int32_t n = 0;
    std::unique_ptr<double[]> x;
    std::unique_ptr<double[]> fvec;
    std::unique_ptr<double[]> diag;
    std::unique_ptr<double[]> fjac;
    std::unique_ptr<std::int32_t[]> ipvt;
    std::unique_ptr<double[]> qtf;
    // The workspace record's own tolerance is 2^-52; the call passes 1e-4,
    // and the call's value is the one used (see OptimizePoses).
    double ftol = 2.220446049250313e-16;
    double xtol = 2.220446049250313e-16;
    double gtol = 2.220446049250313e-16;
    std::int32_t maxfev = 0;
    double epsfcn = 2.220446049250313e-15;
    double factor = 100.0;
    std::int32_t mode = 1;
    std::int32_t nprint = -1;
    // wa1..wa3 (n each) and wa4 (m) are cut from one block.
    std::unique_ptr<double[]> work;
    double* wa1 = nullptr;
    double* wa2 = nullptr;
    double* wa3 = nullptr;
    double* wa4 = nullptr;

private:
    bool valid = false;
};

// The alignment state of the tiled model: its inputs (photo sizes, keypoints
// in full-size photo pixels, graph edges in graph order, reference photo, lens
// mode, optimise-at-end flag, distance ratio) and its outputs (pose list,
// shared lens pose, placement order).
class CPoseAlignment {
public:
    // The whole alignment; false only when there is no edge. Throws
    // panorama_error when the solver's workspace cannot be allocated or the
    // fit ends with non-finite parameters.
    bool AlignImages();
    bool PickNextImage(std::int32_t& newPhoto, std::int32_t& anchor, const AlignmentEdge*& edge);
    bool InitPoseFromEdge(std::int32_t anchor, std::int32_t newPhoto, const AlignmentEdge* edge);
    void ClaimEdges(std::vector<const AlignmentEdge*>& openEdges);
    void OptimizePoses();
    void UnpackAlignmentParams(const double* x);
    // Fills the parameter vector from the poses, in the order Unpack reads it.
    void PackAlignmentParams(double* x) const;
    // One residual per inlier of every used edge; returns 0 (never stops the
    // solver).
    int AlignmentResiduals(int m, int n, const double* x, double* fvec);

    // Parameter and residual counts of the problem as it stands.
    int ParameterCount() const;
    int ResidualCount() const;

    // Inputs.
    std::vector<OrvexBase::Size> photoSizes;
    std::vector<std::vector<AlignmentPoint>> keypoints;
    std::vector<const AlignmentEdge*> edges;
    std::int32_t referenceImage = 0;
    std::int32_t lensMode = 0;
    bool optimizeAtEnd = false;
    double distanceRatio = 0.8;

    // Outputs.
    std::vector<TiledImagePose> poses;
    TiledImagePose sharedLens;
    std::vector<std::int32_t> placementOrder;
    // Per photo, the edges used for it; lives during AlignImages (tests may
    // fill it to drive the residuals directly).
    std::vector<std::vector<const AlignmentEdge*>> usedEdges;
    // The solver's last outcome, for diagnostics only.
    int lastInfo = 0;

private:
    std::vector<const AlignmentEdge*> openEdges;
};

}  // namespace Tiled_Panorama
