#pragma once
// The steps both engines' match-graph builders share: one photo's descriptors
// indexed in a kd-tree, and the choice of a pair's best Hough clusters.

#include <cstdint>
#include <vector>

#include "KdTree.h"
#include "KeypointSet.h"
#include "OrvexBase.h"
#include "RobustFit.h"

// The tree over one photo's descriptors (visit limit 200); it holds the only
// other copy of them.
struct IndexedPhoto {
    IndexedPhoto() = default;
    IndexedPhoto(const IndexedPhoto&) = delete;
    IndexedPhoto& operator=(const IndexedPhoto&) = delete;
    ~IndexedPhoto() { DeleteKdTree(tree); }

    KdTree* tree = nullptr;
};

// Builds the tree over the set's descriptors into out; false when it cannot
// be built.
bool IndexDescriptors(const CKeypointSet& set, IndexedPhoto& out);

// The clusters with the highest vote, in cluster order, without repeats (same
// reference image and the same index lists; the first of a kind stays).
std::vector<std::size_t> ChooseBestClusters(const std::vector<double>& votes,
                                            const std::vector<std::int32_t>& clusterImage,
                                            const std::vector<std::vector<std::int32_t>>& clusterQuery,
                                            const std::vector<std::vector<std::int32_t>>& clusterReference);

// The fit input of one cluster: for each match, the weight 1 / s^2 of the
// query keypoint's scale and the two keypoints' positions.
void ClusterFitInput(const CKeypointSet& query, const CKeypointSet& reference,
                     const std::vector<std::int32_t>& queryIndices,
                     const std::vector<std::int32_t>& referenceIndices, std::vector<double>& weights,
                     std::vector<FitPoint>& from, std::vector<FitPoint>& to);

// The acceptance rule of a fitted cluster of n matches: more inliers than
// 5.9 + 0.22 n, a residual below the tolerance, and a transform plausible
// both ways between the two photos' sizes.
bool IsAcceptedFit(std::size_t inliers, std::size_t n, double residual, double tolerance,
                   const OrvexBase::Size& sizeI, const OrvexBase::Size& sizeJ, const double transform[9]);

// The planar engine's further test of a fit that passed the rule above. Its
// photos come from one camera turning on the spot, so a chance agreement of
// unrelated photos shows in two ways that the rule above lets through: a
// transform that shrinks photo i also shrinks its errors, so the residual
// (measured in photo j's pixels) must stay below the tolerance in photo i's
// pixels too; and one photo landing as a small patch inside the other (wholly
// within it, covering at most half of it) adds nothing to a panorama. True
// when the fit passes both.
bool IsPlanarNeighbourFit(double residual, double tolerance, const OrvexBase::Size& sizeI,
                          const OrvexBase::Size& sizeJ, const double transform[9]);
