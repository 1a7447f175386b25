#include "MatchGraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using match_graph::CEdge;
using match_graph::CGraph;
using match_graph::CNode;

bool Lists(const CNode* node, const CEdge* edge) {
    return std::count(node->edges.begin(), node->edges.end(), edge) == 1;
}

// Every edge stands once in each endpoint's list, and nodes list only edges
// of the graph that touch them.
void ExpectConsistent(const CGraph& g) {
    for (const CEdge* e : g.Edges()) {
        ASSERT_NE(e->firstNode, nullptr);
        ASSERT_NE(e->secondNode, nullptr);
        EXPECT_TRUE(std::count(g.Nodes().begin(), g.Nodes().end(), e->firstNode));
        EXPECT_TRUE(std::count(g.Nodes().begin(), g.Nodes().end(), e->secondNode));
        EXPECT_TRUE(Lists(e->firstNode, e));
        EXPECT_TRUE(Lists(e->secondNode, e));
    }
    for (const CNode* n : g.Nodes()) {
        for (const CEdge* e : n->edges) {
            EXPECT_TRUE(std::count(g.Edges().begin(), g.Edges().end(), e));
            EXPECT_TRUE(e->firstNode == n || e->secondNode == n);
        }
    }
}

CEdge* Connect(CGraph& g, int a, int b) {
    CEdge* e = g.AddEdge(a, b);
    if (e) {
        e->firstImage = a;
        e->secondImage = b;
    }
    return e;
}

void Fill(CEdge* e, int seed) {
    for (int i = 0; i < 9; ++i)
        e->transform[i] = seed + i * 0.5;
    e->residual = seed * 0.25;
    e->inlierCount = seed;
    e->outlierCount = seed + 1;
    e->inliers1 = {seed, seed + 1};
    e->inliers2 = {seed + 2, seed + 3};
    e->outliers1 = {seed + 4};
    e->outliers2 = {seed + 5};
    e->inlierScores = {seed + 6, seed + 7};
    e->outlierScores = {seed + 8};
}

TEST(MatchGraph, NodesAndNewEdges) {
    CGraph g;
    EXPECT_EQ(g.AddEdge(0, 1), nullptr);  // no nodes at all
    EXPECT_TRUE(g.AddNode(0));
    EXPECT_TRUE(g.AddNode(1));
    EXPECT_TRUE(g.AddNode(1));  // present already
    EXPECT_EQ(g.Nodes().size(), 2u);
    EXPECT_EQ(g.FindNode(1)->imageIndex, 1);
    EXPECT_EQ(g.FindNode(5), nullptr);

    EXPECT_EQ(g.AddEdge(0, 0), nullptr);
    EXPECT_EQ(g.AddEdge(0, 5), nullptr);
    EXPECT_TRUE(g.Edges().empty());
    EXPECT_TRUE(g.FindNode(0)->edges.empty());

    CEdge* e = g.AddEdge(0, 1);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->firstImage, -1);
    EXPECT_EQ(e->secondImage, -1);
    EXPECT_EQ(e->residual, 0.0);
    EXPECT_EQ(e->inlierCount, 0);
    EXPECT_EQ(e->firstNode, g.FindNode(0));
    EXPECT_EQ(e->secondNode, g.FindNode(1));
    EXPECT_EQ(g.Edges(), std::vector<CEdge*>{e});
    ExpectConsistent(g);
}

TEST(MatchGraph, RemoveEdgeKeepsTheGivenOne) {
    CGraph g;
    for (int i = 0; i < 3; ++i)
        g.AddNode(i);
    CEdge* only = Connect(g, 0, 1);
    // Node 0 has one edge: nothing happens, even to an edge not kept.
    g.RemoveEdge(g.FindNode(0), g.FindNode(1), nullptr);
    EXPECT_EQ(g.Edges().size(), 1u);

    CEdge* reversed = Connect(g, 1, 0);
    CEdge* kept = Connect(g, 0, 1);
    CEdge* other = Connect(g, 0, 2);
    g.RemoveEdge(g.FindNode(0), g.FindNode(1), kept);
    EXPECT_EQ(g.Edges(), (std::vector<CEdge*>{kept, other}));
    EXPECT_EQ(g.FindNode(1)->edges, std::vector<CEdge*>{kept});
    (void)only;
    (void)reversed;
    ExpectConsistent(g);
}

TEST(MatchGraph, RemoveNodeTakesItsEdges) {
    CGraph g;
    for (int i = 0; i < 4; ++i)
        g.AddNode(i);
    Connect(g, 0, 1);
    Connect(g, 1, 2);
    CEdge* survivor = Connect(g, 2, 3);
    Connect(g, 3, 1);
    std::unique_ptr<CNode> removed = g.RemoveNode(1);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->imageIndex, 1);
    EXPECT_TRUE(removed->edges.empty());
    EXPECT_EQ(g.FindNode(1), nullptr);
    EXPECT_EQ(g.Nodes().size(), 3u);
    EXPECT_EQ(g.Edges(), std::vector<CEdge*>{survivor});
    ExpectConsistent(g);
    EXPECT_EQ(g.RemoveNode(1), nullptr);

    // A copy made afterwards walks only live edges (the sanitizer build
    // catches any left-over pointer to the removed node).
    CGraph copy;
    EXPECT_TRUE(copy.Assign(g));
    EXPECT_EQ(copy.Edges().size(), 1u);
}

TEST(MatchGraph, AssignMakesADeepCopyInOrder) {
    CGraph g;
    for (int i : {4, 2, 7})
        g.AddNode(i);
    Fill(g.AddEdge(4, 2), 10);
    Fill(g.AddEdge(7, 4), 20);
    Fill(g.AddEdge(2, 7), 30);

    CGraph copy;
    copy.AddNode(99);
    ASSERT_TRUE(copy.Assign(g));
    ASSERT_EQ(copy.Nodes().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(copy.Nodes()[i], g.Nodes()[i]);
        EXPECT_EQ(copy.Nodes()[i]->imageIndex, g.Nodes()[i]->imageIndex);
    }
    ASSERT_EQ(copy.Edges().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const CEdge* a = g.Edges()[i];
        const CEdge* b = copy.Edges()[i];
        EXPECT_NE(a, b);
        EXPECT_EQ(b->firstImage, a->firstImage);
        EXPECT_EQ(b->secondImage, a->secondImage);
        EXPECT_EQ(0, std::memcmp(a->transform, b->transform, sizeof a->transform));
        EXPECT_EQ(b->residual, a->residual);
        EXPECT_EQ(b->inlierCount, a->inlierCount);
        EXPECT_EQ(b->outlierCount, a->outlierCount);
        EXPECT_EQ(b->inliers1, a->inliers1);
        EXPECT_EQ(b->inliers2, a->inliers2);
        EXPECT_EQ(b->outliers1, a->outliers1);
        EXPECT_EQ(b->outliers2, a->outliers2);
        EXPECT_EQ(b->inlierScores, a->inlierScores);
        EXPECT_EQ(b->outlierScores, a->outlierScores);
        EXPECT_EQ(b->firstNode->imageIndex, a->firstNode->imageIndex);
        EXPECT_EQ(b->secondNode->imageIndex, a->secondNode->imageIndex);
        EXPECT_TRUE(std::count(copy.Nodes().begin(), copy.Nodes().end(), b->firstNode));
    }
    ExpectConsistent(copy);

    // The copy stands alone once the original is gone.
    g.Clear();
    EXPECT_TRUE(g.Nodes().empty());
    EXPECT_TRUE(g.Edges().empty());
    EXPECT_EQ(copy.Edges()[1]->inliers2, (std::vector<int>{22, 23}));
    EXPECT_TRUE(copy.Assign(copy));
    EXPECT_EQ(copy.Edges().size(), 3u);
}

}  // namespace
