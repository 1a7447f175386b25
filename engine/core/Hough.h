#pragma once
// Clustering of candidate feature matches by Hough voting: every ratio-test
// match predicts a similarity transform from the two keypoints' position,
// orientation and scale, and votes softly into a 4-D grid (x shift, y shift,
// rotation, scale) per reference image; cells above a threshold come back as
// clusters of matches. Choosing among them is the caller's business.

#include <cstdint>
#include <memory>
#include <vector>

#include "KdTree.h"
#include "KeypointSet.h"

// The grid's extents: x and y shift, rotation, scale.
constexpr int kHoughX = 21;
constexpr int kHoughY = 21;
constexpr int kHoughRotation = 12;
constexpr int kHoughScale = 17;
constexpr int kHoughCells = kHoughX * kHoughY * kHoughRotation * kHoughScale;  // 89,964

// One list of 32-bit values per grid cell, created on first use.
class VoteBucketGrid {
public:
    VoteBucketGrid() = default;
    ~VoteBucketGrid() { ClearBuckets(); }
    VoteBucketGrid(const VoteBucketGrid&) = delete;
    VoteBucketGrid& operator=(const VoteBucketGrid&) = delete;

    // Allocates the slot array; false when the memory cannot be had.
    bool Create();
    // Appends value to the cell's list; false without slots or memory.
    bool AddToBucket(std::int32_t value, int x, int y, int rotation, int scale);
    // Deletes every cell's list, from the last cell to the first.
    void ClearBuckets();
    // Hands the cell's list over to the caller and empties the slot.
    std::vector<std::int32_t> TakeBucket(int cell);

    static int CellIndex(int x, int y, int rotation, int scale) {
        return ((scale * kHoughRotation + rotation) * kHoughY + y) * kHoughX + x;
    }

private:
    std::unique_ptr<std::unique_ptr<std::vector<std::int32_t>>[]> slots_;
    std::vector<int> used_;  // cells holding a list, in order of creation
};

// Inverts a row-major 4x4 matrix by cofactors and the adjugate (no test for a
// zero determinant) into inverse, and sets result = inverse x rhs.
void Solve4x4(double result[4], double inverse[16], const double matrix[16], const double rhs[4]);

// Ratio-tests the query descriptors against the reference tree and votes the
// accepted matches, per reference image. Each grid cell whose vote exceeds
// the threshold is appended as one cluster: its reference image index, its
// query and reference keypoint indices and ratio-test scores, and its vote.
// The outputs are appended to (never cleared) and stay parallel. False only
// when memory for the grids cannot be had; the outputs are then untouched.
bool MatchKeypointSets(const KdTree* referenceTree, const CKeypointSet& reference, const CKeypointSet& query,
                       const std::vector<double*>& queryDescriptors, std::vector<std::int32_t>& clusterImage,
                       std::vector<std::vector<std::int32_t>>& clusterQuery,
                       std::vector<std::vector<std::int32_t>>& clusterReference,
                       std::vector<std::vector<std::int32_t>>& clusterScores,
                       std::vector<double>& clusterVotes, double voteThreshold, double ratio);

// The voting half of MatchKeypointSets: matched and scores are the ratio
// test's answer per query descriptor (index -1: no match).
bool VoteMatches(const CKeypointSet& reference, const CKeypointSet& query,
                 const std::vector<std::int32_t>& matched, const std::vector<std::int32_t>& scores,
                 std::vector<std::int32_t>& clusterImage,
                 std::vector<std::vector<std::int32_t>>& clusterQuery,
                 std::vector<std::vector<std::int32_t>>& clusterReference,
                 std::vector<std::vector<std::int32_t>>& clusterScores, std::vector<double>& clusterVotes,
                 double voteThreshold);
