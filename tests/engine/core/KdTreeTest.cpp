#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <vector>

#include "KdTree.h"

namespace {

// Points of 128 doubles in one block, with the pointer array the tree keeps.
struct PointSet {
    std::vector<double> block;
    std::vector<double*> ptrs;
    explicit PointSet(int n) : block(std::size_t(n) * 128), ptrs(n) {
        for (int i = 0; i < n; ++i)
            ptrs[i] = block.data() + std::size_t(i) * 128;
    }
};

PointSet RandomPoints(int n, std::mt19937& rng) {
    PointSet s(n);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (double& v : s.block)
        v = u(rng);
    return s;
}

using TreePtr = std::unique_ptr<KdTree, void (*)(KdTree*)>;
TreePtr Build(const PointSet& s) {
    return TreePtr(BuildKdTree(s.ptrs.data(), int(s.ptrs.size())), DeleteKdTree);
}

std::vector<float> Row(const double* p) {
    return std::vector<float>(p, p + 128);
}

// The distance the searches report: over the points rounded to floats.
double SquaredDistance(const double* a, const double* b) {
    return RowDistance(Row(a).data(), Row(b).data());
}

// Walks the tree from its root, so a leaf no split reaches is not counted.
void ForEachLeaf(const KdTree& tree, std::int32_t ref, const std::function<void(const KdTree::Leaf&)>& f) {
    if (ref == KdTree::kNoNode)
        return;
    if (ref < 0)
        return f(tree.leaves[KdTree::LeafOf(ref)]);
    ForEachLeaf(tree, tree.splits[ref].child[0], f);
    ForEachLeaf(tree, tree.splits[ref].child[1], f);
}

// The limited search one leaf at a time, in plain code: a binary heap of
// (box distance, node) moved exactly as the tree's queue, whole distances
// measured point by point, and the same stopping rules. Any reordering of the
// tree's search must give the very same neighbours, distances and count.
struct Reference {
    std::vector<std::int32_t> indices;
    std::vector<double> distances;
    std::int32_t visited = 0;
};

Reference ReferenceSearch(const KdTree& tree, const std::vector<double>& points, const double* q, int k) {
    std::vector<std::pair<double, std::int32_t>> heap(1);  // 1-based
    auto push = [&](double boxDistance, std::int32_t node) {
        if (int(heap.size()) - 1 >= tree.count)
            return;
        const double key = static_cast<float>(boxDistance);  // the queue keeps floats
        heap.emplace_back();
        std::size_t r = heap.size() - 1;
        while (r > 1 && !(heap[r / 2].first <= key)) {
            heap[r] = heap[r / 2];
            r /= 2;
        }
        heap[r] = {key, node};
    };
    auto pop = [&] {
        const auto top = heap[1];
        const auto last = heap.back();
        heap.pop_back();
        const std::size_t n = heap.size() - 1;
        std::size_t p = 1, c = 2;
        while (c <= n) {
            if (c < n && heap[c].first > heap[c + 1].first)
                ++c;
            if (last.first <= heap[c].first)
                break;
            heap[p] = heap[c];
            p = c;
            c = 2 * p;
        }
        if (n > 0)
            heap[p] = last;
        return top;
    };
    std::vector<std::pair<double, std::int32_t>> best;  // ascending, ties in arrival order
    auto maxKey = [&] { return int(best.size()) == k ? best.back().first : DBL_MAX; };
    Reference out;
    if (tree.root != KdTree::kNoNode) {
        double rootKey = 0.0;
        for (int d = 0; d < 128; ++d) {
            const double t = q[d] < tree.boxLow[d]    ? tree.boxLow[d] - q[d]
                             : q[d] > tree.boxHigh[d] ? q[d] - tree.boxHigh[d]
                                                      : 0.0;
            rootKey += t * t;
        }
        push(rootKey, tree.root);
        while (heap.size() > 1 && (tree.visitLimit == 0 || out.visited <= tree.visitLimit)) {
            const auto [key, start] = pop();
            if (maxKey() <= key)
                break;
            std::int32_t ref = start;
            while (ref >= 0) {
                const KdTree::Split& s = tree.splits[ref];
                const double diff = q[s.cutDim] - s.cutValue;
                const bool up = diff >= 0.0;
                const double b = std::max(0.0, up ? q[s.cutDim] - s.highBound : s.lowBound - q[s.cutDim]);
                if (s.child[up ? 0 : 1] != KdTree::kNoNode)
                    push(key + diff * diff - b * b, s.child[up ? 0 : 1]);
                ref = s.child[up ? 1 : 0];
            }
            if (ref == KdTree::kNoNode)
                continue;
            const KdTree::Leaf& leaf = tree.leaves[KdTree::LeafOf(ref)];
            for (int j = 0; j < leaf.count; ++j) {
                const std::int32_t id = tree.index[leaf.first + j];
                const double dist = SquaredDistance(q, points.data() + std::size_t(id) * 128);
                if (dist > maxKey())
                    continue;
                auto at = best.end();
                while (at != best.begin() && (at - 1)->first > dist)
                    --at;
                best.insert(at, {dist, id});
                if (int(best.size()) > k)
                    best.pop_back();
            }
            out.visited += leaf.count;
        }
    }
    for (int j = 0; j < k; ++j) {
        out.indices.push_back(j < int(best.size()) ? best[j].second : -1);
        out.distances.push_back(j < int(best.size()) ? best[j].first : DBL_MAX);
    }
    return out;
}

}  // namespace

// Up to 200 points a search with the visit limit 200 is exact.
TEST(KdTree, LimitedSearchEqualsBruteForceOnSmallSets) {
    std::mt19937 rng(11);
    for (int n : {1, 2, 3, 4, 5, 9, 31, 64, 150, 200}) {
        PointSet s = RandomPoints(n, rng);
        TreePtr tree = Build(s);
        tree->visitLimit = 200;
        PointSet queries = RandomPoints(9, rng);
        std::copy_n(s.ptrs[n / 2], 128, queries.ptrs[8]);  // a tree point itself
        // The tree keeps its own copy: the caller's points may go once it is built.
        const std::vector<double> kept = s.block;
        std::fill(s.block.begin(), s.block.end(), std::nan(""));
        for (const double* q : queries.ptrs) {
            std::vector<std::pair<double, int>> brute;
            for (int i = 0; i < n; ++i)
                brute.push_back({SquaredDistance(q, kept.data() + std::size_t(i) * 128), i});
            std::sort(brute.begin(), brute.end());
            std::int32_t idx[4];
            double dist[4];
            tree->PrioritySearch(q, 4, idx, dist, 0.0);
            for (int j = 0; j < 4; ++j) {
                if (j < n) {
                    EXPECT_EQ(idx[j], brute[j].second) << n << " #" << j;
                    EXPECT_EQ(dist[j], brute[j].first) << n << " #" << j;
                } else {
                    EXPECT_EQ(idx[j], -1);
                    EXPECT_EQ(dist[j], DBL_MAX);
                }
            }
        }
        // Every point sits in exactly one leaf of at most 4.
        std::vector<int> seen(n, 0);
        ForEachLeaf(*tree, tree->root, [&](const KdTree::Leaf& leaf) {
            EXPECT_GE(leaf.count, 1);
            EXPECT_LE(leaf.count, 4);
            for (int i = 0; i < leaf.count; ++i) {
                const std::int32_t point = tree->index[leaf.first + i];
                ++seen[point];
                // The search's copy of the point, its own row.
                for (int d = 0; d < 128; ++d)
                    ASSERT_EQ(tree->LeafRows(leaf)[i * 128 + d], float(kept[std::size_t(point) * 128 + d]));
            }
        });
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), n);
    }
}

// Coarse coordinates make many equal distances and equal box distances, where
// the order of the queue and of the list decides what a limited search finds.
TEST(KdTree, SearchFollowsTheOneLeafAtATimeOrderExactly) {
    std::mt19937 rng(21);
    struct Case {
        int n, levels, limit, k;
    };
    const Case cases[] = {
        {2500, 1000, 200, 4},  // descriptor-like spread, the matcher's settings
        {900, 3, 200, 4},      // values 0..2: ties everywhere
        {900, 2, 200, 2},      // binary points, the ratio test's smallest k
        {300, 4, 0, 4},        // no limit: the search runs until the list is nearer than the queue
        {40, 3, 200, 7},       // more neighbours asked than a leaf holds
    };
    for (const Case& c : cases) {
        PointSet s(c.n);
        for (double& v : s.block)
            v = double(rng() % unsigned(c.levels)) / c.levels;
        // Some points repeated exactly.
        for (int i = 0; i + 1 < c.n; i += 7)
            std::copy_n(s.ptrs[i], 128, s.ptrs[i + 1]);
        const std::vector<double> points = s.block;
        TreePtr tree = Build(s);
        tree->visitLimit = c.limit;
        PointSet queries(60);
        for (int qi = 0; qi < 60; ++qi) {
            for (int d = 0; d < 128; ++d)
                queries.ptrs[qi][d] = double(rng() % unsigned(c.levels)) / c.levels;
            if (qi % 3 == 0)  // a tree point, or one with a single coordinate moved
                std::copy_n(s.ptrs[rng() % unsigned(c.n)], 128, queries.ptrs[qi]);
            if (qi % 6 == 0)
                queries.ptrs[qi][rng() % 128] += 0.5;
        }
        std::vector<std::int32_t> ratioIndex, ratioScore;
        for (const double* q : queries.ptrs) {
            const Reference want = ReferenceSearch(*tree, points, q, c.k);
            std::vector<std::int32_t> idx(c.k);
            std::vector<double> dist(c.k);
            tree->PrioritySearch(q, c.k, idx.data(), dist.data(), 0.0);
            ASSERT_EQ(idx, want.indices) << "n " << c.n << " levels " << c.levels;
            ASSERT_EQ(dist, want.distances) << "n " << c.n << " levels " << c.levels;
            ASSERT_EQ(tree->visited.load(), want.visited) << "n " << c.n << " levels " << c.levels;
            const Reference four = ReferenceSearch(*tree, points, q, 4);
            const bool accepted = four.indices[0] >= 0 && four.distances[1] * 0.8 * 0.8 > four.distances[0];
            ratioIndex.push_back(accepted ? four.indices[0] : -1);
            ratioScore.push_back(
                accepted ? std::int32_t(std::trunc(four.distances[0] * 1000.0 / four.distances[1])) : 10000);
        }
        // The ratio test runs its searches two at a time; an odd count leaves one alone.
        for (std::size_t n : {queries.ptrs.size(), queries.ptrs.size() - 1}) {
            const std::vector<double*> some(queries.ptrs.begin(), queries.ptrs.begin() + std::ptrdiff_t(n));
            std::vector<std::int32_t> indices, scores;
            ASSERT_TRUE(MatchByRatio(tree.get(), some, indices, scores, 0.8));
            EXPECT_EQ(indices,
                      std::vector<std::int32_t>(ratioIndex.begin(), ratioIndex.begin() + std::ptrdiff_t(n)));
            EXPECT_EQ(scores,
                      std::vector<std::int32_t>(ratioScore.begin(), ratioScore.begin() + std::ptrdiff_t(n)));
        }
    }
}

// The single-precision distance: the same bits with and without vector
// instructions (so a search finds the same on every processor), and close to
// the exact distance for descriptors (unit length, no coordinate above 0.2
// after clipping, many zeros).
TEST(KdTree, RowDistanceIsTheSameEverywhereAndCloseToTheExactOne) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto descriptor = [&] {
        std::vector<double> v(128);
        double length = 0.0;
        for (double& x : v) {
            x = u(rng) < 0.3 ? 0.0 : std::min(0.2, u(rng) * u(rng));
            length += x * x;
        }
        for (double& x : v)
            x /= std::sqrt(length);
        return v;
    };
    for (int i = 0; i < 2000; ++i) {
        const std::vector<double> a = descriptor();
        std::vector<double> b = i % 5 == 0 ? a : descriptor();
        if (i % 5 == 0)
            b[std::size_t(i) % 128] += 1e-3;  // near neighbours too
        double exact = 0.0;
        for (int d = 0; d < 128; ++d)
            exact += (a[d] - b[d]) * (a[d] - b[d]);
        const std::vector<float> fa = Row(a.data()), fb = Row(b.data());
        const float fast = RowDistance(fa.data(), fb.data());
        ASSERT_EQ(fast, RowDistanceWithoutSimd(fa.data(), fb.data())) << i;
        EXPECT_NEAR(fast, exact, 1e-6 * exact + 1e-9) << i;
    }
    // Out of float's range or not a number: the same either way too.
    std::vector<float> big(128, 3e38f), small(128, -3e38f), nan(128, 0.5f);
    nan[7] = std::nanf("");
    EXPECT_EQ(RowDistance(big.data(), small.data()), RowDistanceWithoutSimd(big.data(), small.data()));
    EXPECT_TRUE(std::isinf(RowDistance(big.data(), small.data())));
    EXPECT_TRUE(std::isnan(RowDistance(nan.data(), small.data())));
    EXPECT_TRUE(std::isnan(RowDistanceWithoutSimd(nan.data(), small.data())));
}

TEST(KdTree, VisitLimitBoundsTheExaminedPoints) {
    std::mt19937 rng(12);
    PointSet s = RandomPoints(2000, rng);
    TreePtr tree = Build(s);
    PointSet queries = RandomPoints(20, rng);
    std::int32_t idx[4];
    double dist[4];
    int approximate = 0;
    for (const double* q : queries.ptrs) {
        tree->visitLimit = 0;
        tree->PrioritySearch(q, 4, idx, dist, 0.0);
        const double exact = dist[0];
        EXPECT_GT(tree->visited.load(), 204);  // in 128 dimensions an exact search sees far more
        tree->visitLimit = 200;
        tree->PrioritySearch(q, 4, idx, dist, 0.0);
        EXPECT_GT(tree->visited.load(), 200);
        EXPECT_LE(tree->visited.load(), 204);
        EXPECT_GE(dist[0], exact);
        approximate += dist[0] > exact;
        EXPECT_TRUE(std::is_sorted(dist, dist + 4));
    }
    // Limit 0 found every true nearest; with 200 some are missed in 128-D.
    EXPECT_GT(approximate, 0);
}

TEST(KdTree, DegenerateSets) {
    // All points equal: no spread anywhere, the build still ends in small leaves.
    PointSet same(37);
    std::fill(same.block.begin(), same.block.end(), 0.25);
    TreePtr tree = Build(same);
    int leaves = 0;
    ForEachLeaf(*tree, tree->root, [&](const KdTree::Leaf& leaf) {
        ++leaves;
        EXPECT_LE(leaf.count, 4);
    });
    EXPECT_GE(leaves, 10);
    std::int32_t idx[4];
    double dist[4];
    tree->visitLimit = 200;
    tree->PrioritySearch(same.ptrs[0], 4, idx, dist, 0.0);
    for (double d : dist)
        EXPECT_EQ(d, 0.0);

    // A NaN coordinate must not make the build recurse forever.
    PointSet nan(12);
    std::mt19937 rng(4);
    for (double& v : nan.block)
        v = (rng() % 100) / 100.0;
    nan.block[5 * 128 + 3] = std::nan("");
    TreePtr nanTree = Build(nan);
    EXPECT_NE(nanTree->root, KdTree::kNoNode);
}

TEST(KdTree, EmptyTreeFindsNothing) {
    TreePtr tree(BuildKdTree(nullptr, 0), DeleteKdTree);
    EXPECT_EQ(tree->root, KdTree::kNoNode);
    EXPECT_TRUE(tree->boxLow.empty());
    std::vector<double> q(128, 0.5);
    std::int32_t idx[4];
    double dist[4];
    tree->visitLimit = 200;
    tree->PrioritySearch(q.data(), 4, idx, dist, 0.0);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(idx[j], -1);
        EXPECT_EQ(dist[j], DBL_MAX);
    }
    std::vector<std::int32_t> indices, scores;
    std::vector<double*> queries = {q.data(), q.data()};
    for (double ratio : {0.6, 1.5}) {
        EXPECT_TRUE(MatchByRatio(tree.get(), queries, indices, scores, ratio));
        EXPECT_EQ(indices, (std::vector<std::int32_t>{-1, -1}));
        EXPECT_EQ(scores, (std::vector<std::int32_t>{10000, 10000}));
    }
}

TEST(RatioTest, Cases) {
    // Tree points on the first axis; the query too. Distances are squared.
    struct Case {
        std::vector<double> tree;
        double query, ratio;
        std::int32_t index, score;
    };
    const Case cases[] = {
        {{5.0}, 5.0, 0.6, 0, 0},              // one point: the second distance is DBL_MAX
        {{5.0}, 1.0, 0.6, 0, 0},              // ... so every query is accepted with score 0
        {{2.0, 2.0}, 2.0, 0.8, -1, 10000},    // two identical points at the query: 0 > 0 fails
        {{0.0, 10.0}, 1.0, 0.6, 0, 12},       // 1 vs 81: score trunc(1000 / 81)
        {{0.0, 3.0}, 1.0, 0.6, 0, 250},       // 1 vs 4: 4 * 0.36 > 1
        {{0.0, 2.2}, 1.0, 0.6, -1, 10000},    // 1 vs 1.44: 1.44 * 0.36 < 1
        {{0.0, 2.5}, 1.0, 1.0, 0, 444},       // ratio 1 accepts any strictly nearer nearest
        {{0.0, 2.0}, 1.0, 1.0, -1, 10000},    // equal distances are rejected
        {{0.0, 2.0, 7.0}, 1.2, 0.8, 1, 444},  // the nearest is the second point
    };
    for (const Case& c : cases) {
        PointSet s(int(c.tree.size()));
        for (std::size_t i = 0; i < c.tree.size(); ++i)
            s.ptrs[i][0] = c.tree[i];
        TreePtr tree = Build(s);
        tree->visitLimit = 200;
        std::vector<double> q(128, 0.0);
        q[0] = c.query;
        std::vector<double*> queries = {q.data()};
        std::vector<std::int32_t> indices = {7, 7, 7}, scores;
        EXPECT_TRUE(MatchByRatio(tree.get(), queries, indices, scores, c.ratio));
        ASSERT_EQ(indices.size(), 1u);
        ASSERT_EQ(scores.size(), 1u);
        EXPECT_EQ(indices[0], c.index) << c.query << " ratio " << c.ratio;
        EXPECT_EQ(scores[0], c.score) << c.query << " ratio " << c.ratio;
    }
}
