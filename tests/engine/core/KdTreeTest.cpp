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

double SquaredDistance(const double* a, const double* b) {
    double sum = 0.0;
    for (int d = 0; d < 128; ++d)
        sum += (a[d] - b[d]) * (a[d] - b[d]);
    return sum;
}

// Walks the tree from its root, so a leaf no split reaches is not counted.
void ForEachLeaf(const KdTree& tree, std::int32_t ref, const std::function<void(const KdTree::Leaf&)>& f) {
    if (ref == KdTree::kNoNode)
        return;
    if (ref < 0)
        return f(tree.leaves[KdTree::LeafOf(ref)]);
    ForEachLeaf(tree, tree.splits[ref].lower, f);
    ForEachLeaf(tree, tree.splits[ref].upper, f);
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
                // The search's copy of the point, dimension by dimension.
                for (int d = 0; d < 128; ++d)
                    ASSERT_EQ(tree->LeafBlock(leaf)[d * leaf.count + i], kept[std::size_t(point) * 128 + d]);
            }
        });
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), n);
    }
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
