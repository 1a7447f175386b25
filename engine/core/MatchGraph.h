#pragma once
// The match graph: one node per photo, one edge per accepted photo pair with
// its transform and match lists. The engines build it and walk it for
// grouping and alignment.

#include <cstdint>
#include <memory>
#include <vector>

namespace match_graph {

class CEdge;

class CNode {
public:
    std::int32_t imageIndex = -1;
    // Not owned: the graph owns every edge.
    std::vector<CEdge*> edges;
};

class CEdge {
public:
    std::int32_t firstImage = -1;
    std::int32_t secondImage = -1;
    // Row-major 3x3, mapping first-image points to second-image points.
    double transform[9] = {};
    // The fit's mean inlier residual.
    double residual = 0.0;
    std::int32_t inlierCount = 0;
    std::int32_t outlierCount = 0;
    // Entry i of inliers1, inliers2 and inlierScores describe one match
    // (keypoint indices in each image and its ratio-test score); the same
    // for the outlier lists.
    std::vector<std::int32_t> inliers1;
    std::vector<std::int32_t> inliers2;
    std::vector<std::int32_t> outliers1;
    std::vector<std::int32_t> outliers2;
    std::vector<std::int32_t> inlierScores;
    std::vector<std::int32_t> outlierScores;
    // Not owned.
    CNode* firstNode = nullptr;
    CNode* secondNode = nullptr;

    // Copies the pair description (everything but the node pointers).
    void CopyFieldsFrom(const CEdge& other);
};

class CGraph {
public:
    CGraph() = default;
    // Copies would share the nodes and edges they own; Assign copies deeply.
    CGraph(const CGraph&) = delete;
    CGraph& operator=(const CGraph&) = delete;
    ~CGraph();

    // The first node with that image index, or null.
    CNode* FindNode(std::int32_t imageIndex) const;
    // True when the node exists or was appended; false only when memory runs out.
    bool AddNode(std::int32_t imageIndex);
    // Unlinks the first node with that image index and hands it to the
    // caller, or null. Its edges go with it: they are removed from the
    // graph and from the neighbours' lists and destroyed.
    std::unique_ptr<CNode> RemoveNode(std::int32_t imageIndex);
    // A new edge between the nodes of a and b, appended to the graph and to
    // both nodes' lists, its image indices left at -1 for the caller to fill;
    // null when a == b, a node is missing or memory runs out.
    CEdge* AddEdge(std::int32_t a, std::int32_t b);
    // When nodeA has at least two edges, destroys every edge other than
    // `keep` whose image indices are those of nodeA and nodeB in either order.
    void RemoveEdge(CNode* nodeA, CNode* nodeB, CEdge* keep);
    void Clear();
    // Makes this graph a deep copy of `other`: nodes and edges in the same
    // order, edges with the same fields. False (this graph left empty) when
    // memory runs out.
    bool Assign(const CGraph& other);

    const std::vector<CNode*>& Nodes() const { return nodes; }
    const std::vector<CEdge*>& Edges() const { return edges; }

private:
    // Unlinks the edge from both its nodes and from the graph, then deletes it.
    void DestroyEdge(CEdge* edge);

    std::vector<CNode*> nodes;
    std::vector<CEdge*> edges;
};

}  // namespace match_graph
