#pragma once
// Automatic match-graph building, shared by both models: every pair of
// analysed photos is matched through a kd-tree and Hough clusters, fitted
// robustly, and kept as an edge when the fit is good and plausible. What the
// models do differently is a MatchSettings value.

#include <cstdint>
#include <vector>

#include "KeypointSet.h"
#include "MatchGraph.h"
#include "OrvexBase.h"
#include "StageContext.h"

// What differs between the two models' matching.
struct MatchSettings {
    enum class FitModel { Affine, Similarity, ScaleShift };
    // Distance ratio of the nearest-neighbour test.
    double ratio = 0.8;
    FitModel fit = FitModel::Affine;
    // The residual a fit may have, per query photo (in the pixels its
    // keypoints are measured in).
    std::vector<double> tolerance;
    // The planar model's further test of photos from one turning camera
    // (IsPlanarNeighbourFit).
    bool planarNeighbourTest = false;
    // Edges keep their outliers and the matcher's ratio scores (the tiled
    // alignment weighs residuals by them).
    bool keepScoresAndOutliers = false;
    // A photo takes part only with keypoints, each with its descriptor; else
    // any photo with a keypoint set asks, and one with descriptors answers.
    bool requireKeypoints = false;
};

// Matches the photos of one build: their keypoint sets and the sizes of the
// pictures the keypoints were found in (not owned; parallel; a null set is a
// photo without analysis).
class CMatchGraphBuilder {
public:
    CMatchGraphBuilder(MatchSettings settings, std::vector<const CKeypointSet*> sets,
                       std::vector<OrvexBase::Size> sizes);

    // Clears graph, adds a node per photo and an edge per accepted cluster of
    // every pair (i, j), i < j, in pair order. The pairs are matched on the
    // whole thread pool; edges, repaints, progress (4 steps a row of pairs)
    // and the cancel answer follow row by row on the calling thread. False
    // when the matcher failed, memory ran out or the user cancelled.
    bool BuildAll(match_graph::CGraph* graph, StageContext& context) const;

    // Matches first against second and adds the accepted edges first ->
    // second; *accepted is the first of them. matcherOk false: the matcher
    // failed. False only when memory ran out.
    bool MatchPair(match_graph::CGraph* graph, int first, int second, StageContext& context, bool& matcherOk,
                   match_graph::CEdge** accepted) const;

private:
    struct PairResult;
    bool CanAsk(int i) const;
    bool CanAnswer(int j) const;
    bool Matchable(int i, int j) const { return CanAsk(i) && CanAnswer(j); }
    // Votes a pair's ratio-test matches (matched[k], scores[k] for photo i's
    // descriptor k against photo j's tree), fits the best clusters and keeps
    // the accepted ones.
    void FitPair(int i, int j, const std::vector<std::int32_t>& matched,
                 const std::vector<std::int32_t>& scores, PairResult& result) const;
    // Repaints as one thread matching the pair would, then adds its edges;
    // false when the matcher failed or memory ran out (matcherOk tells).
    bool ApplyPair(match_graph::CGraph* graph, int i, int j, PairResult& pair, StageContext& context,
                   match_graph::CEdge** firstEdge) const;

    MatchSettings settings_;
    std::vector<const CKeypointSet*> sets_;
    std::vector<OrvexBase::Size> sizes_;
};
