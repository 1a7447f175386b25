#pragma once
// Global alignment of the tiled model: photos are placed one at a time along
// the strongest match-graph edges, each with a start pose from its edge's
// planar transform, and all poses (and shared lens terms when asked) are
// refined together by MINPACK's Levenberg-Marquardt (lmdif). The start focal
// comes from the perspective the matches show, and the result is turned so
// that its horizon is level.

#include <cstdint>
#include <memory>
#include <vector>

#include "AnalysisStage.h"
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
std::vector<std::vector<AlignmentPoint>> PointsFromKeypointSets(const KeypointSetList& sets);

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

// The focal lengths (centred pixels) of the two photos of a pure camera
// rotation seen through the homography H, which maps the first photo's centred
// pixels to the second's: each from one orthogonality relation of the
// rotation. A flag is false when its relation gives no positive square.
void FocalsFromHomography(const double H[9], double& firstFocal, double& secondFocal, bool& firstOk,
                          bool& secondOk);

// Weighted least-squares homography (bottom-right entry 1) from the first
// points to the second, in normalised coordinates; false when the system is
// singular or there are fewer than four points of positive weight.
bool FitHomography(const std::vector<AlignmentPoint>& from, const std::vector<AlignmentPoint>& to,
                   const std::vector<double>& weights, double H[9]);

// Turns `poses` (those in `order`) together so that their mean up direction
// is vertical: the direction most nearly at right angles to every photo's
// horizontal axis (and, when the photos go round, to their view axes taken
// from their mean), kept near the photos' mean up when the horizontal axes
// are nearly parallel (a column). The reference photo then looks along
// heading 0. Focal lengths are left alone.
void LevelPoses(std::vector<TiledImagePose>& poses, const std::vector<std::int32_t>& order,
                std::int32_t reference);

// The alignment state of the tiled model: its inputs (photo sizes, keypoints
// in full-size photo pixels, graph edges in graph order, reference photo, lens
// mode and model, optimise-at-end flag, distance ratio) and its outputs (pose
// list, shared lens pose, placement order).
class CPoseAlignment {
public:
    // The whole alignment; false only when there is no edge. Throws
    // panorama_error when the solver's workspace cannot be allocated or the
    // fit ends with non-finite parameters. A fit left far apart by one edge
    // alone is tried again without that edge (the caller's edge list is kept
    // as given); a fit that stays far apart sets fitImplausible. A fit with
    // focal lengths no camera has, or a lens that folds the photos (what
    // near-duplicate views leave free), is solved again with the reference
    // photo's focal and the lens held at their start, and sets
    // fitImplausible when that fit is no better.
    bool AlignImages();
    bool PickNextImage(std::int32_t& newPhoto, std::int32_t& anchor, const AlignmentEdge*& edge);
    bool InitPoseFromEdge(std::int32_t anchor, std::int32_t newPhoto, const AlignmentEdge* edge);
    void ClaimEdges(std::vector<const AlignmentEdge*>& openEdges);
    void OptimizePoses();
    void UnpackAlignmentParams(const double* x);
    // Fills the parameter vector from the poses, in the order Unpack reads it.
    void PackAlignmentParams(double* x) const;
    // Four residuals per inlier of every used edge: the signed x and y
    // distances of each point from its partner mapped into its photo, times
    // the root of the match's weight, so that the solver minimises the
    // weighted sum of squared reprojection distances. Returns 0 (never stops
    // the solver).
    int AlignmentResiduals(int m, int n, const double* x, double* fvec);
    // The focal every pose starts from: 0.8 of the median of the focal
    // lengths the open edges' homographies show (edges of at least 8
    // weighted inliers; values outside a fifth to ten times the mean photo
    // width are dropped), or 1000 when no edge gives one. Starting below the
    // estimate matters: barrel distortion flattens the perspective the
    // homographies read, so they come out high, and a ring closes only from a
    // start at or somewhat below its focal. (AlignImages also weighs the
    // median itself and 1.25 times it, by how well their start poses agree
    // with the matches, and tries the next when a fit ends plainly wrong.)
    double EstimateStartFocal() const;

    // Parameter and residual counts of the problem as it stands.
    int ParameterCount() const;
    int ResidualCount() const;

    // Inputs.
    std::vector<OrvexBase::Size> photoSizes;
    std::vector<std::vector<AlignmentPoint>> keypoints;
    std::vector<const AlignmentEdge*> edges;
    std::int32_t referenceImage = 0;
    std::int32_t lensMode = 0;
    // The lens polynomial the shared lens terms belong to (LensFactor): 1
    // quartic, else cubic. It stays with the poses it fitted, and the
    // surfaces render them with it.
    std::int32_t lensModel = 1;
    // Solving after each placement lets the focal drift along the open chain
    // before a ring's closing links can hold it: one solve at the end is the
    // default.
    bool optimizeAtEnd = true;
    double distanceRatio = 0.8;

    // Outputs.
    std::vector<TiledImagePose> poses;
    TiledImagePose sharedLens;
    std::vector<std::int32_t> placementOrder;
    // Per photo, the edges used for it; lives during AlignImages (tests may
    // fill it to drive the residuals directly).
    std::vector<std::vector<const AlignmentEdge*>> usedEdges;
    // The solver's last outcome and evaluation count, for diagnostics only.
    int lastInfo = 0;
    int lastEvaluations = 0;
    // Trial steps of the last solve: evaluations that moved more than one
    // parameter at once (a Jacobian column moves one).
    int lastSteps = 0;
    int lastResiduals = 0;
    // Root mean square distance (pixels) between the matched points of the
    // last solve, each mapped into the other's photo, by match weight.
    double lastRmsDistance = 0.0;
    // The last alignment's best fit still leaves its matches far apart (a
    // wrong minimum no camera gives): the poses are no panorama.
    bool fitImplausible = false;
    // The focal the last alignment started from.
    double startFocal = 1000.0;
    // Before lmdif, bring its start to the same least-squares optimum by
    // damped Gauss-Newton steps on the normal equations, which are built
    // edge by edge (each edge moves only its two photos and the lens terms)
    // and stay n x n: lmdif's dense QR of the m x n Jacobian is what costs,
    // and from the optimum it ends after one step. Off, lmdif walks from the
    // placement poses.
    bool refineStart = true;
    // Steps the last refinement took.
    int lastRefineSteps = 0;

private:
    struct ResidualTask {
        std::int32_t p;
        std::int32_t q;
        const AlignmentEdge* edge;
        int offset;  // first residual
        int count;   // inliers
    };
    void BuildResidualTasks(int m);
    // The root mean square match distance of residuals fvec (m of them) of
    // the current tasks, and of the current poses over the used edges.
    double RmsDistance(const double* fvec, int m) const;
    double StartRmsDistance();
    void EvaluateTask(const ResidualTask& task, double* fvec) const;
    // A keypoint's offset from its photo's centre; false when there is none.
    bool CentredKeypoint(std::int32_t photo, std::int32_t index, double& x0, double& y0) const;
    // One task's matches as the refinement evaluates them many times over:
    // the centred points and weights are read once, the lens is applied once
    // per lens state, and each evaluation computes every residual the very
    // way EvaluateTask does.
    struct TaskMatches {
        void Take(const CPoseAlignment& align, const ResidualTask& task);
        // The points (px, py, qx, qy per match) moved by the lens when on.
        void Lensed(bool lens, std::int32_t model, const TiledImagePose& lensPose, double* out) const;
        // The task's residuals from lensed points and the two photos' poses.
        void Evaluate(const double* points, const TiledImagePose& pp, const TiledImagePose& pq,
                      double* out) const;
        std::vector<double> centred;  // px, py, qx, qy per match
        std::vector<double> root;     // root of each match's weight
        std::vector<char> valid;      // both keypoints exist
    };
    // Moves x (n parameters, m residuals) towards the least-squares optimum
    // of the current tasks; see refineStart.
    void RefineStart(double* x, int m, int n);
    TiledImagePose StartPose() const;
    // The used edge whose matches end furthest apart at the current poses,
    // and that distance (root mean square, pixels).
    const AlignmentEdge* WorstFittingEdge(double& edgeRms);
    // Whether the photos joined to the reference stay joined without an edge.
    bool JoinedWithout(const AlignmentEdge* skipped) const;

    // Whether the fit's focal lengths are ones a camera has and its lens
    // keeps every photo unfolded.
    bool IntrinsicsPlausible(const std::vector<TiledImagePose>& fitted, const TiledImagePose& lens) const;
    // While set, the solves keep the lens terms and the reference photo's
    // focal at their start (see AlignImages); IsHeldIntrinsic tells those
    // parameters by their index.
    bool holdIntrinsics_ = false;
    bool IsHeldIntrinsic(std::size_t j) const;
    struct HeldSolve {
        CPoseAlignment* align;
        std::vector<double> full;  // every parameter, the held ones at their start
        std::vector<int> free;     // indices of the solver's parameters in full
    };
    static int SolveHeld(void* p, int m, int n, const double* x, double* fvec, int iflag);

    std::vector<const AlignmentEdge*> openEdges;
    // The residual function is called once per parameter for each Jacobian,
    // with one parameter moved: only the edges of the photo it belongs to
    // are evaluated again, the rest is copied from the last full evaluation.
    std::vector<ResidualTask> tasks_;
    std::vector<double> baseX_, baseF_;
};

}  // namespace Tiled_Panorama
