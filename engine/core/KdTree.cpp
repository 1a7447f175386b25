#include "KdTree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <numeric>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define OVH_KD_AVX2 1
#endif

kd_split::~kd_split() {
    delete lower;
    delete upper;
}

namespace {

constexpr double kNoDistance = DBL_MAX;

struct Builder {
    const std::vector<const double*>& points;
    int dim;
    int bucket;
    double* low;  // the current box, narrowed while descending
    double* high;

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
        for (int d = 0; d < dim; ++d)
            longest = std::max(longest, high[d] - low[d]);
        double maxSpread = -1.0;
        cutDim = 0;
        for (int d = 0; d < dim; ++d) {
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

    kd_node* Build(std::int32_t* idx, int m) {
        if (m == 0)
            return nullptr;
        if (m <= bucket) {
            auto* leaf = new kd_leaf;
            leaf->count = m;
            leaf->indices = idx;
            return leaf;
        }
        int cd, nlo;
        double cv;
        Split(idx, m, cd, cv, nlo);
        auto node = std::make_unique<kd_split>();
        node->cutDim = cd;
        node->cutValue = cv;
        node->lowBound = low[cd];
        node->highBound = high[cd];
        const double saveHigh = high[cd];
        high[cd] = cv;
        node->lower = Build(idx, nlo);
        high[cd] = saveHigh;
        const double saveLow = low[cd];
        low[cd] = cv;
        node->upper = Build(idx + nlo, m - nlo);
        low[cd] = saveLow;
        return node.release();
    }
};

}  // namespace

// The k smallest (distance, index) pairs seen, ascending; equal distances keep
// their arrival order.
class KSmallestList {
public:
    // Searches run by the million: the lists reuse this thread's storage.
    explicit KSmallestList(int k) : k_(k) {
        thread_local std::vector<double> keyStore;
        thread_local std::vector<std::int32_t> valueStore;
        if (keyStore.size() < std::size_t(k) + 1) {
            keyStore.resize(std::size_t(k) + 1);
            valueStore.resize(std::size_t(k) + 1);
        }
        keys_ = keyStore.data();
        values_ = valueStore.data();
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

// Binary min-heap of (box distance, node), 1-based, fixed capacity; inserts
// beyond it are dropped.
class NodeQueue {
    struct Entry {
        double first;
        const kd_node* second;
    };

public:
    // One queue per search at a time on a thread: its storage is this thread's, kept.
    explicit NodeQueue(int capacity) : cap_(capacity) {
        thread_local std::vector<Entry> store;
        if (store.size() < std::size_t(capacity) + 1)
            store.resize(std::size_t(capacity) + 1);
        heap_ = store.data();
    }
    bool Empty() const { return n_ == 0; }
    void Insert(double key, const kd_node* node) {
        if (n_ >= cap_)
            return;
        int r = ++n_;
        while (r > 1) {
            const int p = r / 2;
            if (heap_[p].first <= key)
                break;
            heap_[r] = heap_[p];
            r = p;
        }
        heap_[r] = {key, node};
    }
    std::pair<double, const kd_node*> ExtractMin() {
        const Entry top = heap_[1];
        const Entry last = heap_[n_--];
        int p = 1, c = 2;
        while (c <= n_) {
            if (c < n_ && heap_[c].first > heap_[c + 1].first)
                ++c;
            if (last.first <= heap_[c].first)
                break;
            heap_[p] = heap_[c];
            p = c;
            c = 2 * p;
        }
        heap_[p] = last;
        return {top.first, top.second};
    }

private:
    int cap_;
    int n_ = 0;
    Entry* heap_;  // slots are written before they are read
};

namespace {

void CollectLeaves(kd_node* node, std::vector<kd_leaf*>& leaves) {
    if (!node)
        return;
    if (node->IsLeaf())
        return leaves.push_back(static_cast<kd_leaf*>(node));
    auto* s = static_cast<kd_split*>(node);
    CollectLeaves(s->lower, leaves);
    CollectLeaves(s->upper, leaves);
}

void FillLeafStore(KdTree& tree) {
    constexpr int kGroup = 4;
    std::vector<kd_leaf*> leaves;
    CollectLeaves(tree.root, leaves);
    std::size_t total = 0;
    for (const kd_leaf* leaf : leaves)
        total += std::size_t((leaf->count + kGroup - 1) / kGroup) * kGroup;
    tree.leafStore.resize(total * tree.dimension);
    double* out = tree.leafStore.data();
    for (kd_leaf* leaf : leaves) {
        leaf->interleaved = out;
        for (int first = 0; first < leaf->count; first += kGroup) {
            for (int d = 0; d < tree.dimension; ++d)
                for (int j = 0; j < kGroup; ++j)
                    *out++ = tree.points[leaf->indices[std::min(first + j, leaf->count - 1)]][d];
        }
    }
}

}  // namespace

KdTree* BuildKdTree(const double* const* points, std::int32_t n) {
    auto tree = std::make_unique<KdTree>();
    tree->count = std::max<std::int32_t>(n, 0);
    tree->points.assign(points, points + tree->count);
    tree->index = new std::int32_t[tree->count];
    std::iota(tree->index, tree->index + tree->count, 0);
    if (tree->count == 0)
        return tree.release();
    try {
        const int dim = tree->dimension;
        tree->boxLow = new double[dim];
        tree->boxHigh = new double[dim];
        for (int d = 0; d < dim; ++d) {
            tree->boxLow[d] = tree->boxHigh[d] = points[0][d];
            for (std::int32_t i = 1; i < tree->count; ++i) {
                tree->boxLow[d] = std::min(tree->boxLow[d], points[i][d]);
                tree->boxHigh[d] = std::max(tree->boxHigh[d], points[i][d]);
            }
        }
        std::vector<double> low(tree->boxLow, tree->boxLow + dim), high(tree->boxHigh, tree->boxHigh + dim);
        Builder b{tree->points, dim, tree->bucketSize, low.data(), high.data()};
        tree->root = b.Build(tree->index, tree->count);
        FillLeafStore(*tree);
    } catch (...) {
        DeleteKdTree(tree.release());
        throw;
    }
    return tree.release();
}

void DeleteKdTree(KdTree* tree) {
    if (!tree)
        return;
    delete tree->root;
    delete[] tree->index;
    delete[] tree->boxLow;
    delete[] tree->boxHigh;
    delete tree;
}

#if defined(OVH_KD_AVX2)
namespace {

// Chosen once: the wide sums are used where the processor has them.
const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

// The same subtract, multiply and add per point as the portable sums, a
// whole group of four points a register (no fused multiply-add, so the same
// bits). Sums run over [d0, d1) on top of what sums holds.
__attribute__((target("avx2"))) void SumGroupAvx2(const double* block, const double* query, int d0, int d1,
                                                  double* sums) {
    __m256d s = _mm256_loadu_pd(sums);
    for (int d = d0; d < d1; ++d) {
        const __m256d t =
            _mm256_sub_pd(_mm256_set1_pd(query[d]), _mm256_loadu_pd(block + std::size_t(d) * 4));
        s = _mm256_add_pd(s, _mm256_mul_pd(t, t));
    }
    _mm256_storeu_pd(sums, s);
}

__attribute__((target("avx2"))) void SumTwoGroupsAvx2(const double* blockA, const double* blockB,
                                                      const double* query, int d0, int d1, double* sums) {
    __m256d sa = _mm256_loadu_pd(sums), sb = _mm256_loadu_pd(sums + 4);
    for (int d = d0; d < d1; ++d) {
        const __m256d q = _mm256_set1_pd(query[d]);
        const __m256d ta = _mm256_sub_pd(q, _mm256_loadu_pd(blockA + std::size_t(d) * 4));
        const __m256d tb = _mm256_sub_pd(q, _mm256_loadu_pd(blockB + std::size_t(d) * 4));
        sa = _mm256_add_pd(sa, _mm256_mul_pd(ta, ta));
        sb = _mm256_add_pd(sb, _mm256_mul_pd(tb, tb));
    }
    _mm256_storeu_pd(sums, sa);
    _mm256_storeu_pd(sums + 4, sb);
}

}  // namespace
#endif

// Squared distances from the query to a leaf's points, summed dimension by
// dimension; a point enters the k-smallest list unless its distance exceeds
// the list's largest key. A search could stop summing a point as soon as its
// running sum passed that key, since the sum only grows; here up to four
// points are summed side by side (each in its own dimension order, so every
// sum is the same) and given up together once all of them have passed it.
void KdTree::ScanLeaf(const kd_leaf& leaf, const double* query, KSmallestList& best) const {
    constexpr int kGroup = 4;
    constexpr int kChunk = 16;
    for (std::int32_t first = 0; first < leaf.count; first += kGroup) {
        const int n = std::min<int>(kGroup, leaf.count - first);
        const double* block = leaf.interleaved + std::size_t(first) * dimension;
        const double limit = best.MaxKey();
        double sum[kGroup] = {0.0, 0.0, 0.0, 0.0};
        bool passed = false;
        for (int d0 = 0; d0 < dimension && !passed; d0 += kChunk) {
            const int d1 = std::min(dimension, d0 + kChunk);
#if defined(OVH_KD_AVX2)
            if (kHaveAvx2) {
                SumGroupAvx2(block, query, d0, d1, sum);
                passed = true;
                for (int j = 0; j < n; ++j)
                    passed = passed && sum[j] > limit;
                continue;
            }
#endif
#if defined(__SSE2__)
            // The same subtract, multiply and add per point as below, two points a register.
            __m128d s01 = _mm_loadu_pd(sum), s23 = _mm_loadu_pd(sum + 2);
            for (int d = d0; d < d1; ++d) {
                const __m128d q = _mm_set1_pd(query[d]);
                const double* c = block + std::size_t(d) * kGroup;
                const __m128d t01 = _mm_sub_pd(q, _mm_loadu_pd(c));
                const __m128d t23 = _mm_sub_pd(q, _mm_loadu_pd(c + 2));
                s01 = _mm_add_pd(s01, _mm_mul_pd(t01, t01));
                s23 = _mm_add_pd(s23, _mm_mul_pd(t23, t23));
            }
            _mm_storeu_pd(sum, s01);
            _mm_storeu_pd(sum + 2, s23);
#else
            for (int d = d0; d < d1; ++d) {
                const double q = query[d];
                const double* c = block + std::size_t(d) * kGroup;
                for (int j = 0; j < kGroup; ++j) {
                    const double t = q - c[j];
                    sum[j] += t * t;
                }
            }
#endif
            passed = true;
            for (int j = 0; j < n; ++j)
                passed = passed && sum[j] > limit;
        }
        if (passed)
            continue;
        for (int j = 0; j < n; ++j)
            if (!(sum[j] > best.MaxKey()))
                best.Insert(sum[j], leaf.indices[first + j]);
    }
}

bool KdTree::SumTwoLeaves(const kd_leaf& a, const kd_leaf& b, const double* query, double limit,
                          double sums[8]) const {
    constexpr int kChunk = 16;
    const double* blockA = a.interleaved;
    const double* blockB = b.interleaved;
    for (int j = 0; j < 8; ++j)
        sums[j] = 0.0;
    for (int d0 = 0; d0 < dimension; d0 += kChunk) {
        const int d1 = std::min(dimension, d0 + kChunk);
#if defined(OVH_KD_AVX2)
        if (kHaveAvx2) {
            SumTwoGroupsAvx2(blockA, blockB, query, d0, d1, sums);
            bool passed = true;
            for (int j = 0; j < a.count; ++j)
                passed = passed && sums[j] > limit;
            for (int j = 0; j < b.count; ++j)
                passed = passed && sums[4 + j] > limit;
            if (passed)
                return false;
            continue;
        }
#endif
#if defined(__SSE2__)
        __m128d s0 = _mm_loadu_pd(sums), s1 = _mm_loadu_pd(sums + 2);
        __m128d s2 = _mm_loadu_pd(sums + 4), s3 = _mm_loadu_pd(sums + 6);
        for (int d = d0; d < d1; ++d) {
            const __m128d q = _mm_set1_pd(query[d]);
            const double* ca = blockA + std::size_t(d) * 4;
            const double* cb = blockB + std::size_t(d) * 4;
            const __m128d t0 = _mm_sub_pd(q, _mm_loadu_pd(ca));
            const __m128d t1 = _mm_sub_pd(q, _mm_loadu_pd(ca + 2));
            const __m128d t2 = _mm_sub_pd(q, _mm_loadu_pd(cb));
            const __m128d t3 = _mm_sub_pd(q, _mm_loadu_pd(cb + 2));
            s0 = _mm_add_pd(s0, _mm_mul_pd(t0, t0));
            s1 = _mm_add_pd(s1, _mm_mul_pd(t1, t1));
            s2 = _mm_add_pd(s2, _mm_mul_pd(t2, t2));
            s3 = _mm_add_pd(s3, _mm_mul_pd(t3, t3));
        }
        _mm_storeu_pd(sums, s0);
        _mm_storeu_pd(sums + 2, s1);
        _mm_storeu_pd(sums + 4, s2);
        _mm_storeu_pd(sums + 6, s3);
#else
        for (int d = d0; d < d1; ++d) {
            const double q = query[d];
            for (int j = 0; j < 4; ++j) {
                const double ta = q - blockA[std::size_t(d) * 4 + j];
                const double tb = q - blockB[std::size_t(d) * 4 + j];
                sums[j] += ta * ta;
                sums[4 + j] += tb * tb;
            }
        }
#endif
        bool passed = true;
        for (int j = 0; j < a.count; ++j)
            passed = passed && sums[j] > limit;
        for (int j = 0; j < b.count; ++j)
            passed = passed && sums[4 + j] > limit;
        if (passed)
            return false;
    }
    return true;
}

// From a node down to its leaf along the query's side, queueing the other
// children with their box distances; null when the path ends in an empty subtree.
const kd_leaf* KdTree::Descend(const kd_node* node, double key, const double* query, NodeQueue& queue) const {
    while (node && !node->leaf) {
        const auto* s = static_cast<const kd_split*>(node);
        const double q = query[s->cutDim];
        const double diff = q - s->cutValue;
        if (diff >= 0.0) {
            const double b = std::max(0.0, q - s->highBound);
            if (s->lower)
                queue.Insert(key + diff * diff - b * b, s->lower);
            node = s->upper;
        } else {
            const double b = std::max(0.0, s->lowBound - q);
            if (s->upper)
                queue.Insert(key + diff * diff - b * b, s->upper);
            node = s->lower;
        }
    }
    return static_cast<const kd_leaf*>(node);
}

void KdTree::PrioritySearch(const double* query, std::int32_t k, std::int32_t* indices, double* distances,
                            double eps) const {
    visited.store(0, std::memory_order_relaxed);
    if (k <= 0)
        return;
    std::int32_t examined = 0;
    KSmallestList best(k);
    if (!root) {
        // An empty tree has no box to search: nothing is found.
        best.CopyOut(indices, distances);
        return;
    }
    double rootKey = 0.0;
    for (int d = 0; d < dimension; ++d) {
        double t = 0.0;
        if (query[d] < boxLow[d])
            t = boxLow[d] - query[d];
        else if (query[d] > boxHigh[d])
            t = query[d] - boxHigh[d];
        rootKey += t * t;
    }
    const double epsFactor = (1.0 + eps) * (1.0 + eps);
    NodeQueue queue(count);
    queue.Insert(rootKey, root);
    auto mayGoOn = [&](std::int32_t seen) {
        return !queue.Empty() && (visitLimit == 0 || seen <= visitLimit);
    };
    while (mayGoOn(examined)) {
        auto [key, node] = queue.ExtractMin();
        if (best.MaxKey() <= key * epsFactor)
            break;
        const kd_leaf* leaf = Descend(node, key, query, queue);
        if (!leaf)
            continue;
        // The next leaf's path depends on the queue only, so it can be found
        // before this leaf's points are in the list; the two leaves are then
        // summed side by side. Whether the search would have reached the
        // second leaf is decided afterwards, exactly as one leaf at a time.
        if (leaf->count <= 4 && mayGoOn(examined + leaf->count)) {
            auto [nextKey, nextNode] = queue.ExtractMin();
            const kd_leaf* next = Descend(nextNode, nextKey, query, queue);
            if (next && next->count <= 4) {
                double sums[8];
                const bool full = SumTwoLeaves(*leaf, *next, query, best.MaxKey(), sums);
                if (full)
                    for (int j = 0; j < leaf->count; ++j)
                        if (!(sums[j] > best.MaxKey()))
                            best.Insert(sums[j], leaf->indices[j]);
                examined += leaf->count;
                if (best.MaxKey() <= nextKey * epsFactor)
                    break;
                if (full)
                    for (int j = 0; j < next->count; ++j)
                        if (!(sums[4 + j] > best.MaxKey()))
                            best.Insert(sums[4 + j], next->indices[j]);
                examined += next->count;
                continue;
            }
            ScanLeaf(*leaf, query, best);
            examined += leaf->count;
            if (best.MaxKey() <= nextKey * epsFactor)
                break;
            if (next) {
                ScanLeaf(*next, query, best);
                examined += next->count;
            }
            continue;
        }
        ScanLeaf(*leaf, query, best);
        examined += leaf->count;
    }
    visited.store(examined, std::memory_order_relaxed);
    best.CopyOut(indices, distances);
}

bool MatchByRatio(const KdTree* tree, const std::vector<double*>& queries, std::vector<std::int32_t>& indices,
                  std::vector<std::int32_t>& scores, double ratio) {
    indices.assign(queries.size(), -1);
    scores.assign(queries.size(), 10000);
    if (!tree)
        return true;
    const int k = std::max<std::int32_t>(tree->bucketSize, 2);
    std::vector<std::int32_t> found(k);
    std::vector<double> dist(k);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        tree->PrioritySearch(queries[i], k, found.data(), dist.data(), 0.0);
        const double d0 = dist[0], d1 = dist[1];
        if (found[0] >= 0 && d1 * ratio * ratio > d0) {
            indices[i] = found[0];
            const double score = std::trunc(d0 * 1000.0 / d1);
            scores[i] = score < 2147483647.0 ? static_cast<std::int32_t>(score) : 2147483647;
        }
    }
    return true;
}
