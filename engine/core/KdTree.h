#pragma once
// A kd-tree over one photo's descriptors (sliding-midpoint splits, buckets of
// at most 4 points) with a best-bin-first search that stops after a set number
// of examined points, and the distance-ratio test that pairs descriptors.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// Built once, then searched; searches may run on several threads at once.
// The nodes live in two flat arrays and the points in one leaf-ordered block,
// so a search walks compact memory and the tree keeps no pointer to the
// caller's points.
// Coordinates of a point (a descriptor).
constexpr int kRowLength = 128;

class KdTree {
public:
    // A node reference: >= 0 is a split, LeafRef(i) the leaf i, kNoNode an
    // empty subtree.
    static constexpr std::int32_t kNoNode = std::numeric_limits<std::int32_t>::min();
    static constexpr std::int32_t LeafRef(std::int32_t leaf) { return -1 - leaf; }
    static constexpr std::int32_t LeafOf(std::int32_t ref) { return -1 - ref; }

    struct Split {
        double cutValue = 0.0;
        double lowBound = 0.0;  // the node's box along cutDim, before the split
        double highBound = 0.0;
        std::int32_t cutDim = 0;
        std::int32_t child[2] = {kNoNode, kNoNode};  // coordinate <= cut, then > cut
    };
    // The points index[first .. first + count).
    struct Leaf {
        std::int32_t first = 0;
        std::int32_t count = 0;
    };

    KdTree() = default;
    KdTree(const KdTree&) = delete;
    KdTree& operator=(const KdTree&) = delete;

    // The k nearest points to query, nearest first: their indices and squared
    // distances (RowDistance of the query and the points rounded to floats).
    // Slots beyond the points found get -1 and the largest double.
    // eps relaxes the pruning ((1 + eps)^2); every caller passes 0.
    void PrioritySearch(const double* query, std::int32_t k, std::int32_t* indices, double* distances,
                        double eps) const;

    // The point index[i] as the search reads it: coordinate d of it is
    // LeafRows(leaf)[(i - leaf.first) * kRowLength + d].
    const float* LeafRows(const Leaf& leaf) const {
        return rows.data() + std::size_t(leaf.first) * kRowLength;
    }

    std::int32_t count = 0;
    std::vector<Split> splits;  // the root first, each split before its children
    std::vector<Leaf> leaves;   // in index order
    std::int32_t root = kNoNode;
    std::vector<std::int32_t> index;  // permuted so each leaf's points are contiguous
    // The points again, rounded to floats, one row each in index order (so
    // each leaf's rows are contiguous): the only copy of the points a search
    // reads. Squared distances between descriptors (unit length) come out
    // within about 1e-6 of the exact ones, for half the memory traffic.
    std::vector<float> rows;
    std::vector<double> boxLow, boxHigh;
    // Points examined after which a search stops; 0 = no limit. Callers set
    // 200 right after building.
    std::int32_t visitLimit = 0;
    // Points examined by the last search to end (counted per search, so
    // searches on other threads do not disturb each other). Written once a
    // search, on a line of its own: searches on several threads would
    // otherwise keep taking the line holding the fields every search reads.
    // (The tree is aligned to 64 bytes, so the line ends with the object.)
    alignas(64) mutable std::atomic<std::int32_t> visited{0};

private:
    friend class KdSearch;
    std::int32_t Descend(std::int32_t ref, double key, const double* query, class NodeQueue& queue) const;
};

// The squared distance of two rows of 128 floats the searches use: summed in
// single precision in a fixed order, the same bits on every processor.
float RowDistance(const float* a, const float* b);
// The same without vector instructions (for comparing the two).
float RowDistanceWithoutSimd(const float* a, const float* b);

// Builds a tree over n points of 128 doubles. The points are copied: they may
// be freed once this returns.
KdTree* BuildKdTree(const double* const* points, std::int32_t n);

// Frees the tree.
void DeleteKdTree(KdTree* tree);

// For each query descriptor, its nearest tree point when the second nearest
// is farther by more than the ratio (squared distances: d1 * ratio^2 > d0):
// index = the nearest point, score = trunc(1000 d0 / d1); otherwise index -1,
// score 10000. Both outputs are resized to the number of queries.
bool MatchByRatio(const KdTree* tree, const std::vector<double*>& queries, std::vector<std::int32_t>& indices,
                  std::vector<std::int32_t>& scores, double ratio);

// The same for the n queries from queries, into indices[0 .. n) and
// scores[0 .. n): parts of one query list may be matched on several threads.
void MatchByRatio(const KdTree* tree, const double* const* queries, std::size_t n, std::int32_t* indices,
                  std::int32_t* scores, double ratio);
