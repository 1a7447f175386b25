#include "KdTree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <numeric>
#include <utility>

#include "CpuFeatures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define OVH_KD_AVX2 1
#endif

namespace {

constexpr double kNoDistance = DBL_MAX;
constexpr int kBucket = 4;

struct Builder {
    const double* const* points;
    std::int32_t* base;  // the tree's index array
    double* low;         // the current box, narrowed while descending
    double* high;
    std::vector<KdTree::Split>& splits;
    std::vector<KdTree::Leaf>& leaves;

    double Coord(std::int32_t i, int d) const { return points[i][d]; }

    // Partitions idx[0..m) into coord < cv, coord == cv, coord > cv, sweeping
    // from both ends inward; br1 = count below, br2 = count at or below.
    void PlaneSplit(std::int32_t* idx, int m, int d, double cv, int& br1, int& br2) const {
        int l = 0, r = m - 1;
        for (;;) {
            while (l < m && Coord(idx[l], d) < cv)
                ++l;
            while (r >= 0 && Coord(idx[r], d) >= cv)
                --r;
            if (l > r)
                break;
            std::swap(idx[l], idx[r]);
            ++l;
            --r;
        }
        br1 = l;
        r = m - 1;
        for (;;) {
            while (l < m && Coord(idx[l], d) <= cv)
                ++l;
            while (r >= br1 && Coord(idx[r], d) > cv)
                --r;
            if (l > r)
                break;
            std::swap(idx[l], idx[r]);
            ++l;
            --r;
        }
        br2 = l;
    }

    void MinMax(const std::int32_t* idx, int m, int d, double& mn, double& mx) const {
        mn = mx = Coord(idx[0], d);
        for (int i = 1; i < m; ++i) {
            const double c = Coord(idx[i], d);
            if (c < mn)
                mn = c;
            if (c > mx)
                mx = c;
        }
    }

    // Sliding midpoint: halve the longest side with the widest spread, but
    // slide the cut onto the points when the midpoint misses them all.
    void Split(std::int32_t* idx, int m, int& cutDim, double& cutValue, int& lowCount) const {
        double longest = 0.0;
        for (int d = 0; d < kRowLength; ++d)
            longest = std::max(longest, high[d] - low[d]);
        double maxSpread = -1.0;
        cutDim = 0;
        for (int d = 0; d < kRowLength; ++d) {
            if (high[d] - low[d] >= 0.999 * longest) {
                double mn, mx;
                MinMax(idx, m, d, mn, mx);
                if (mx - mn > maxSpread) {
                    maxSpread = mx - mn;
                    cutDim = d;
                }
            }
        }
        const double ideal = (low[cutDim] + high[cutDim]) / 2.0;
        double mn, mx;
        MinMax(idx, m, cutDim, mn, mx);
        if (ideal < mn)
            cutValue = mn;
        else if (ideal > mx)
            cutValue = mx;
        else
            cutValue = ideal;
        int br1, br2;
        PlaneSplit(idx, m, cutDim, cutValue, br1, br2);
        if (ideal < mn)
            lowCount = 1;
        else if (ideal > mx)
            lowCount = m - 1;
        else if (br1 > m / 2)
            lowCount = br1;
        else
            lowCount = std::min(br2, m / 2);
        // Both sides keep a point, so the recursion always ends (it could not
        // with NaN coordinates, which compare false everywhere).
        lowCount = std::clamp(lowCount, 1, m - 1);
    }

    // Splits before their children, leaves in index order.
    std::int32_t Build(std::int32_t* idx, int m) {
        if (m == 0)
            return KdTree::kNoNode;
        if (m <= kBucket) {
            leaves.push_back({static_cast<std::int32_t>(idx - base), m});
            return KdTree::LeafRef(static_cast<std::int32_t>(leaves.size() - 1));
        }
        int cd, nlo;
        double cv;
        Split(idx, m, cd, cv, nlo);
        const auto self = static_cast<std::int32_t>(splits.size());
        splits.push_back({cv, low[cd], high[cd], cd, {KdTree::kNoNode, KdTree::kNoNode}});
        const double saveHigh = high[cd];
        high[cd] = cv;
        const std::int32_t lower = Build(idx, nlo);
        splits[self].child[0] = lower;
        high[cd] = saveHigh;
        const double saveLow = low[cd];
        low[cd] = cv;
        const std::int32_t upper = Build(idx + nlo, m - nlo);
        splits[self].child[1] = upper;
        low[cd] = saveLow;
        return self;
    }
};

// The k smallest (distance, index) pairs seen, ascending; equal distances keep
// their arrival order.
class KSmallestList {
public:
    // Searches run by the million: the lists reuse this thread's storage,
    // one of two, for two searches taking turns.
    explicit KSmallestList(int k, int storage = 0) : k_(k) {
        thread_local std::vector<double> keyStore[2];
        thread_local std::vector<std::int32_t> valueStore[2];
        if (keyStore[storage].size() < std::size_t(k) + 1) {
            keyStore[storage].resize(std::size_t(k) + 1);
            valueStore[storage].resize(std::size_t(k) + 1);
        }
        keys_ = keyStore[storage].data();
        values_ = valueStore[storage].data();
    }
    double MaxKey() const { return n_ == k_ ? keys_[k_ - 1] : kNoDistance; }
    void Insert(double key, std::int32_t value) {
        int pos = n_;
        while (pos > 0 && keys_[pos - 1] > key) {
            keys_[pos] = keys_[pos - 1];
            values_[pos] = values_[pos - 1];
            --pos;
        }
        keys_[pos] = key;
        values_[pos] = value;
        if (n_ < k_)
            ++n_;
    }
    void CopyOut(std::int32_t* indices, double* distances) const {
        for (int i = 0; i < k_; ++i) {
            indices[i] = i < n_ ? values_[i] : -1;
            distances[i] = i < n_ ? keys_[i] : kNoDistance;
        }
    }

private:
    int k_;
    int n_ = 0;
    double* keys_;
    std::int32_t* values_;
};

}  // namespace

// Binary min-heap of (box distance, node), 1-based, fixed capacity; inserts
// beyond it are dropped. Which of two equal keys comes out first depends on
// the exact sequence of moves, and that decides which points a limited search
// sees: the moves must stay as they are. The box distances are kept rounded
// to floats, as precise as the point distances they are weighed against, so
// an entry takes 8 bytes and a move one load and one store.
class NodeQueue {
    struct Entry {
        float key;
        std::int32_t node;
    };

public:
    // Its storage is this thread's, kept: one of two, for two searches taking turns.
    explicit NodeQueue(int capacity, int storage = 0) : cap_(capacity) {
        thread_local std::vector<Entry> store[2];
        if (store[storage].size() < std::size_t(capacity) + 2)
            store[storage].resize(std::size_t(capacity) + 2);
        heap_ = store[storage].data();
    }
    bool Empty() const { return n_ == 0; }
    // The classic sift-up (move each parent greater than key down, stop at
    // the first that is not), its stopping point found without a jump: every
    // ancestor is compared at once, and the moves are the run of greater ones
    // nearest the new slot. Where the climb stops is a coin toss the
    // processor would otherwise guess wrong about on most inserts.
    void Insert(double boxDistance, std::int32_t node) {
        if (n_ >= cap_)
            return;
        const float key = static_cast<float>(boxDistance);
        const int r = ++n_;
        const int depth = 31 - __builtin_clz(static_cast<unsigned>(r));
        unsigned greater = 0;
        for (int i = 1; i <= depth; ++i)
            greater |= static_cast<unsigned>(!(heap_[r >> i].key <= key)) << (i - 1);
        const int moves = __builtin_ctz(~greater);
        // Slots above the run are copied onto themselves.
        for (int i = 1; i <= depth; ++i) {
            const int to = r >> (i - 1);
            const int from = i <= moves ? r >> i : to;
            heap_[to] = heap_[from];
        }
        heap_[r >> moves] = {key, node};
    }
    std::pair<double, std::int32_t> ExtractMin() {
        const Entry top = heap_[1];
        const Entry last = heap_[n_--];
        int p = 1, c = 2;
        while (c <= n_) {
            // The right child when it exists and is strictly smaller; chosen
            // without a jump, the comparison being a coin toss.
            c += static_cast<int>(c < n_) & static_cast<int>(heap_[c].key > heap_[c + 1].key);
            if (last.key <= heap_[c].key)
                break;
            heap_[p] = heap_[c];
            p = c;
            c = 2 * p;
        }
        heap_[p] = last;
        return {top.key, top.node};
    }

private:
    int cap_;
    int n_ = 0;
    Entry* heap_;  // slots are written before they are read
};

KdTree* BuildKdTree(const double* const* points, std::int32_t n) {
    auto tree = std::make_unique<KdTree>();
    tree->count = std::max<std::int32_t>(n, 0);
    tree->index.resize(std::size_t(tree->count));
    std::iota(tree->index.begin(), tree->index.end(), 0);
    if (tree->count == 0)
        return tree.release();
    tree->boxLow.resize(kRowLength);
    tree->boxHigh.resize(kRowLength);
    // Point by point, each dimension still meeting the points in order.
    std::copy_n(points[0], kRowLength, tree->boxLow.data());
    std::copy_n(points[0], kRowLength, tree->boxHigh.data());
    for (std::int32_t i = 1; i < tree->count; ++i)
        for (int d = 0; d < kRowLength; ++d) {
            tree->boxLow[d] = std::min(tree->boxLow[d], points[i][d]);
            tree->boxHigh[d] = std::max(tree->boxHigh[d], points[i][d]);
        }
    std::vector<double> low(tree->boxLow), high(tree->boxHigh);
    // A tree of n points in buckets of 1 to 4 has fewer than n splits and at most n leaves.
    tree->splits.reserve(std::size_t(tree->count));
    tree->leaves.reserve(std::size_t(tree->count));
    Builder b{points, tree->index.data(), low.data(), high.data(), tree->splits, tree->leaves};
    tree->root = b.Build(tree->index.data(), tree->count);
    tree->splits.shrink_to_fit();
    tree->leaves.shrink_to_fit();

    tree->rows.resize(std::size_t(tree->count) * kRowLength);
    float* out = tree->rows.data();
    for (const std::int32_t id : tree->index)
        out = std::transform(points[id], points[id] + kRowLength, out,
                             [](double x) { return static_cast<float>(x); });
    return tree.release();
}

void DeleteKdTree(KdTree* tree) {
    delete tree;
}

namespace {

// Up to four leaves whose points are measured together; key is the queue key
// the leaf was taken out with.
struct LeafGroup {
    static constexpr int kSlots = 4;
    int size = 0;
    double key[kSlots];
    std::int32_t leaf[kSlots];  // -1: the path ended in an empty subtree
    const float* rows[kSlots];  // the leaf's points, one row each
    int count[kSlots];
};

// The order of the single-precision sum below: eight lanes, lane l of
// accumulator k taking the dimensions 32 i + 8 k + l in turn; then the four
// accumulators pairwise, the upper four lanes onto the lower, lanes 2 and 3
// onto 0 and 1, and lane 1 onto lane 0. Both versions add in exactly this
// order, so a search finds the same with or without AVX2.
float RowDistancePortable(const float* a, const float* b) {
    float acc[4][8] = {};
    for (int d = 0; d < kRowLength; d += 32)
        for (int k = 0; k < 4; ++k)
            for (int l = 0; l < 8; ++l) {
                const float t = a[d + 8 * k + l] - b[d + 8 * k + l];
                acc[k][l] = acc[k][l] + t * t;
            }
    float lanes[8];
    for (int l = 0; l < 8; ++l)
        lanes[l] = (acc[0][l] + acc[1][l]) + (acc[2][l] + acc[3][l]);
    float four[4];
    for (int l = 0; l < 4; ++l)
        four[l] = lanes[l] + lanes[l + 4];
    return (four[0] + four[2]) + (four[1] + four[3]);
}

#if defined(OVH_KD_AVX2)

const bool kHaveAvx2 = CpuUsesAvx2();

__attribute__((target("avx2"))) inline float RowDistanceAvx2(const float* a, const float* b) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (int d = 0; d < kRowLength; d += 32) {
        const __m256 t0 = _mm256_sub_ps(_mm256_loadu_ps(a + d), _mm256_loadu_ps(b + d));
        const __m256 t1 = _mm256_sub_ps(_mm256_loadu_ps(a + d + 8), _mm256_loadu_ps(b + d + 8));
        const __m256 t2 = _mm256_sub_ps(_mm256_loadu_ps(a + d + 16), _mm256_loadu_ps(b + d + 16));
        const __m256 t3 = _mm256_sub_ps(_mm256_loadu_ps(a + d + 24), _mm256_loadu_ps(b + d + 24));
        a0 = _mm256_add_ps(a0, _mm256_mul_ps(t0, t0));
        a1 = _mm256_add_ps(a1, _mm256_mul_ps(t1, t1));
        a2 = _mm256_add_ps(a2, _mm256_mul_ps(t2, t2));
        a3 = _mm256_add_ps(a3, _mm256_mul_ps(t3, t3));
    }
    const __m256 lanes = _mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3));
    const __m128 four = _mm_add_ps(_mm256_castps256_ps128(lanes), _mm256_extractf128_ps(lanes, 1));
    const __m128 two = _mm_add_ps(four, _mm_movehl_ps(four, four));
    return _mm_cvtss_f32(_mm_add_ss(two, _mm_movehdup_ps(two)));
}

// The group's distances, lane 4 s + j for the point j of slot s (slots of
// empty subtrees skipped).
__attribute__((target("avx2"))) void GroupDistancesAvx2(const float* query, const LeafGroup& g,
                                                        double sums[16]) {
    for (int s = 0; s < g.size; ++s)
        for (int j = 0; j < g.count[s]; ++j)
            sums[4 * s + j] = RowDistanceAvx2(query, g.rows[s] + std::size_t(j) * kRowLength);
}

#endif

void GroupDistances(const float* query, const LeafGroup& g, double sums[16]) {
#if defined(OVH_KD_AVX2)
    if (kHaveAvx2)
        return GroupDistancesAvx2(query, g, sums);
#endif
    for (int s = 0; s < g.size; ++s)
        for (int j = 0; j < g.count[s]; ++j)
            sums[4 * s + j] = RowDistancePortable(query, g.rows[s] + std::size_t(j) * kRowLength);
}

}  // namespace

float RowDistance(const float* a, const float* b) {
#if defined(OVH_KD_AVX2)
    if (kHaveAvx2)
        return RowDistanceAvx2(a, b);
#endif
    return RowDistancePortable(a, b);
}

float RowDistanceWithoutSimd(const float* a, const float* b) {
    return RowDistancePortable(a, b);
}

namespace {

// std::max(0.0, x), NaN giving 0, as one instruction rather than a jump.
inline double PositivePart(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(x), _mm_setzero_pd()));
#else
    return std::max(0.0, x);
#endif
}

}  // namespace

// From a node down to its leaf along the query's side, queueing the other
// children with their box distances; kNoNode when the path ends in an empty subtree.
std::int32_t KdTree::Descend(std::int32_t ref, double key, const double* query, NodeQueue& queue) const {
    while (ref >= 0) {
        const Split& s = splits[std::size_t(ref)];
        const double q = query[s.cutDim];
        const double diff = q - s.cutValue;
        // Both sides worked out, one picked by index rather than by a jump:
        // the side is a coin toss.
        const int up = diff >= 0.0;
        const double excess[2] = {s.lowBound - q, q - s.highBound};
        const double b = PositivePart(excess[up]);
        const std::int32_t other = s.child[1 - up];
        ref = s.child[up];
        if (other != kNoNode)
            queue.Insert(key + diff * diff - b * b, other);
    }
    return ref;
}

// One search between groups of leaves. Leaves come out of the queue in an
// order that depends on the queue alone, so a few of them are taken out and
// summed together before their points go into the list. Whether the search
// would have reached each of them (the visit limit, an empty queue, the list
// already nearer than the leaf's box) is decided exactly as one leaf at a
// time; a leaf it would not have reached is never counted or listed. Two
// searches may take turns on one thread (storage 0 and 1): their chains of
// dependent loads and comparisons then overlap instead of waiting in line.
class KdSearch {
public:
    KdSearch(const KdTree& tree, const double* query, int k, double eps, int storage)
        : tree_(tree),
          query_(query),
          best_(k, storage),
          queue_(tree.count, storage),
          epsFactor_((1.0 + eps) * (1.0 + eps)) {
        double rootKey = 0.0;
        for (int d = 0; d < kRowLength; ++d) {
            double t = 0.0;
            if (query[d] < tree.boxLow[d])
                t = tree.boxLow[d] - query[d];
            else if (query[d] > tree.boxHigh[d])
                t = query[d] - tree.boxHigh[d];
            rootKey += t * t;
        }
        queue_.Insert(rootKey, tree.root);
        for (int d = 0; d < kRowLength; ++d)
            floatQuery_[d] = static_cast<float>(query[d]);
    }

    bool Done() const { return done_; }
    std::int32_t Examined() const { return examined_; }
    void CopyOut(std::int32_t* indices, double* distances) const { best_.CopyOut(indices, distances); }

    // Takes the next leaf into the group where one leaf at a time would go
    // on; false once the group is full or no more leaf can be taken now.
    bool Take(LeafGroup& group) {
        if (group.size == LeafGroup::kSlots || queue_.Empty() ||
            !(tree_.visitLimit == 0 || examined_ + pending_ <= tree_.visitLimit))
            return false;
        const auto [key, node] = queue_.ExtractMin();
        const std::int32_t ref = tree_.Descend(node, key, query_, queue_);
        const int s = group.size++;
        group.key[s] = key;
        if (ref == KdTree::kNoNode) {
            group.leaf[s] = -1;
            group.count[s] = 0;
            group.rows[s] = nullptr;
        } else {
            const KdTree::Leaf& leaf = tree_.leaves[std::size_t(KdTree::LeafOf(ref))];
            group.leaf[s] = KdTree::LeafOf(ref);
            group.count[s] = leaf.count;
            group.rows[s] = tree_.LeafRows(leaf);
            for (int j = 0; j < leaf.count; ++j) {
                __builtin_prefetch(group.rows[s] + j * kRowLength);
                __builtin_prefetch(group.rows[s] + j * kRowLength + 16);
            }
            pending_ += leaf.count;
        }
        return group.size < LeafGroup::kSlots;
    }

    // Sums the group's distances and lists its points leaf by leaf; the
    // search ends with an empty group or where one leaf at a time would end.
    void Finish(const LeafGroup& group) {
        pending_ = 0;
        if (group.size == 0) {
            done_ = true;
            return;
        }
        // Empty-subtree slots have a count of 0.
        double sums[16];
        GroupDistances(floatQuery_, group, sums);
        for (int s = 0; s < group.size; ++s) {
            if (best_.MaxKey() <= group.key[s] * epsFactor_) {
                done_ = true;
                return;
            }
            if (group.leaf[s] < 0)
                continue;
            const KdTree::Leaf& leaf = tree_.leaves[std::size_t(group.leaf[s])];
            for (int j = 0; j < leaf.count; ++j)
                if (!(sums[4 * s + j] > best_.MaxKey()))
                    best_.Insert(sums[4 * s + j], tree_.index[std::size_t(leaf.first + j)]);
            examined_ += leaf.count;
        }
    }

private:
    const KdTree& tree_;
    const double* query_;
    KSmallestList best_;
    NodeQueue queue_;
    double epsFactor_;
    std::int32_t examined_ = 0;
    std::int32_t pending_ = 0;  // points of the group's leaves, counted as examined
    bool done_ = false;
    float floatQuery_[kRowLength];  // the query as the rows hold the points
};

void KdTree::PrioritySearch(const double* query, std::int32_t k, std::int32_t* indices, double* distances,
                            double eps) const {
    if (k <= 0 || root == kNoNode) {
        visited.store(0, std::memory_order_relaxed);
        // An empty tree has no box to search: nothing is found.
        if (k > 0)
            KSmallestList(k).CopyOut(indices, distances);
        return;
    }
    KdSearch search(*this, query, k, eps, 0);
    while (!search.Done()) {
        LeafGroup group;
        while (search.Take(group)) {
        }
        search.Finish(group);
    }
    visited.store(search.Examined(), std::memory_order_relaxed);
    search.CopyOut(indices, distances);
}

bool MatchByRatio(const KdTree* tree, const std::vector<double*>& queries, std::vector<std::int32_t>& indices,
                  std::vector<std::int32_t>& scores, double ratio) {
    indices.resize(queries.size());
    scores.resize(queries.size());
    MatchByRatio(tree, queries.data(), queries.size(), indices.data(), scores.data(), ratio);
    return true;
}

void MatchByRatio(const KdTree* tree, const double* const* queries, std::size_t n, std::int32_t* indices,
                  std::int32_t* scores, double ratio) {
    std::fill_n(indices, n, -1);
    std::fill_n(scores, n, 10000);
    if (!tree)
        return;
    // Only the two nearest decide. A search for the bucket size's four
    // would end later (its fourth distance prunes less) but cannot change
    // the first two: whatever it examines past the point where the second
    // nearest is within the next box's distance lies at least that far away.
    const int k = 2;
    std::vector<std::int32_t> found(2 * std::size_t(k));
    std::vector<double> dist(2 * std::size_t(k));
    auto decide = [&](std::size_t i, const std::int32_t* f, const double* d) {
        const double d0 = d[0], d1 = d[1];
        if (f[0] >= 0 && d1 * ratio * ratio > d0) {
            indices[i] = f[0];
            const double score = std::trunc(d0 * 1000.0 / d1);
            scores[i] = score < 2147483647.0 ? static_cast<std::int32_t>(score) : 2147483647;
        }
    };
    std::size_t i = 0;
    if (tree->root != KdTree::kNoNode) {
        // Two queries at a time, their searches taking turns leaf by leaf.
        for (; i + 1 < n; i += 2) {
            KdSearch a(*tree, queries[i], k, 0.0, 0), b(*tree, queries[i + 1], k, 0.0, 1);
            while (!a.Done() || !b.Done()) {
                LeafGroup ga, gb;
                bool moreA = !a.Done(), moreB = !b.Done();
                while (moreA || moreB) {
                    if (moreA)
                        moreA = a.Take(ga);
                    if (moreB)
                        moreB = b.Take(gb);
                }
                if (!a.Done())
                    a.Finish(ga);
                if (!b.Done())
                    b.Finish(gb);
            }
            a.CopyOut(found.data(), dist.data());
            b.CopyOut(found.data() + k, dist.data() + k);
            tree->visited.store(b.Examined(), std::memory_order_relaxed);
            decide(i, found.data(), dist.data());
            decide(i + 1, found.data() + k, dist.data() + k);
        }
    }
    for (; i < n; ++i) {
        tree->PrioritySearch(queries[i], k, found.data(), dist.data(), 0.0);
        decide(i, found.data(), dist.data());
    }
}
