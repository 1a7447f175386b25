#pragma once
// A kd-tree over one photo's descriptors (sliding-midpoint splits, buckets of
// at most 4 points) with a best-bin-first search that stops after a set number
// of examined points, and the distance-ratio test that pairs descriptors.

#include <atomic>
#include <cstdint>
#include <vector>

// Tree nodes. An empty subtree is a null node.
class kd_node {
public:
    virtual ~kd_node() = default;
    virtual bool IsLeaf() const { return false; }
    // IsLeaf without the virtual call, for the search's inner loop.
    bool leaf = false;
};

class kd_split : public kd_node {
public:
    ~kd_split() override;
    std::int32_t cutDim = 0;
    double cutValue = 0.0;
    double lowBound = 0.0;  // the node's box along cutDim, before the split
    double highBound = 0.0;
    kd_node* lower = nullptr;  // coordinate <= cut
    kd_node* upper = nullptr;
};

class kd_leaf : public kd_node {
public:
    kd_leaf() { leaf = true; }
    bool IsLeaf() const override { return true; }
    std::int32_t count = 0;
    std::int32_t* indices = nullptr;  // into the tree's index array; owns nothing
    // The leaf's points side by side for the search, dimension by dimension
    // in groups of four (a short group repeats its last point); in the tree's
    // leaf store, owned by the tree.
    const double* interleaved = nullptr;
};

class KSmallestList;

// Built once, then searched; searches may run on several threads at once.
class KdTree {
public:
    KdTree() = default;
    KdTree(const KdTree&) = delete;
    KdTree& operator=(const KdTree&) = delete;

    // The k nearest points to query, nearest first: their indices and squared
    // distances. Slots beyond the points found get -1 and the largest double.
    // eps relaxes the pruning ((1 + eps)^2); every caller passes 0.
    void PrioritySearch(const double* query, std::int32_t k, std::int32_t* indices, double* distances,
                        double eps) const;

    std::int32_t dimension = 128;
    std::int32_t count = 0;
    std::int32_t bucketSize = 4;
    std::vector<const double*> points;  // the caller's points; not owned
    std::vector<double> leafStore;      // the points again, laid out per leaf for the search
    std::int32_t* index = nullptr;      // permuted so each leaf's points are contiguous
    kd_node* root = nullptr;
    double* boxLow = nullptr;
    double* boxHigh = nullptr;
    // Points examined after which a search stops; 0 = no limit. Callers set
    // 200 right after building.
    std::int32_t visitLimit = 0;
    // Points examined by the last search to end (counted per search, so
    // searches on other threads do not disturb each other).
    mutable std::atomic<std::int32_t> visited{0};

private:
    void ScanLeaf(const kd_leaf& leaf, const double* query, KSmallestList& best) const;
    // Distances to the points of two leaves of at most four points, summed
    // side by side; false when all of them exceed limit (then some sums are
    // partial).
    bool SumTwoLeaves(const kd_leaf& a, const kd_leaf& b, const double* query, double limit,
                      double sums[8]) const;
    const kd_leaf* Descend(const kd_node* node, double key, const double* query,
                           class NodeQueue& queue) const;
};

// Builds a tree over n points of 128 doubles. The points must outlive the tree.
KdTree* BuildKdTree(const double* const* points, std::int32_t n);

// Frees the nodes, the index array, the box and the tree; not the points.
void DeleteKdTree(KdTree* tree);

// For each query descriptor, its nearest tree point when the second nearest
// is farther by more than the ratio (squared distances: d1 * ratio^2 > d0):
// index = the nearest point, score = trunc(1000 d0 / d1); otherwise index -1,
// score 10000. Both outputs are resized to the number of queries.
bool MatchByRatio(const KdTree* tree, const std::vector<double*>& queries, std::vector<std::int32_t>& indices,
                  std::vector<std::int32_t>& scores, double ratio);
