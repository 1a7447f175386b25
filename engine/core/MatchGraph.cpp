#include "MatchGraph.h"

#include <algorithm>
#include <new>

namespace match_graph {
namespace {

template <class T>
void Unlink(std::vector<T*>& list, T* item) {
    const auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end())
        list.erase(it);
}

}  // namespace

void CEdge::CopyFieldsFrom(const CEdge& other) {
    firstImage = other.firstImage;
    secondImage = other.secondImage;
    std::copy(other.transform, other.transform + 9, transform);
    residual = other.residual;
    inlierCount = other.inlierCount;
    outlierCount = other.outlierCount;
    inliers1 = other.inliers1;
    inliers2 = other.inliers2;
    outliers1 = other.outliers1;
    outliers2 = other.outliers2;
    inlierScores = other.inlierScores;
    outlierScores = other.outlierScores;
}

CGraph::~CGraph() {
    Clear();
}

CNode* CGraph::FindNode(std::int32_t imageIndex) const {
    for (CNode* node : nodes)
        if (node->imageIndex == imageIndex)
            return node;
    return nullptr;
}

bool CGraph::AddNode(std::int32_t imageIndex) {
    if (FindNode(imageIndex))
        return true;
    try {
        auto node = std::make_unique<CNode>();
        node->imageIndex = imageIndex;
        nodes.push_back(node.get());
        node.release();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::unique_ptr<CNode> CGraph::RemoveNode(std::int32_t imageIndex) {
    CNode* node = FindNode(imageIndex);
    if (!node)
        return nullptr;
    // Its edges would otherwise point at a node the caller frees.
    while (!node->edges.empty())
        DestroyEdge(node->edges.front());
    Unlink(nodes, node);
    return std::unique_ptr<CNode>(node);
}

CEdge* CGraph::AddEdge(std::int32_t a, std::int32_t b) {
    if (a == b || nodes.empty())
        return nullptr;
    CNode* nodeA = FindNode(a);
    CNode* nodeB = FindNode(b);
    if (!nodeA || !nodeB)
        return nullptr;
    try {
        // Room first, so a failure leaves all three lists as they were.
        edges.reserve(edges.size() + 1);
        nodeA->edges.reserve(nodeA->edges.size() + 1);
        nodeB->edges.reserve(nodeB->edges.size() + 1);
        CEdge* edge = new CEdge;
        edge->firstNode = nodeA;
        edge->secondNode = nodeB;
        edges.push_back(edge);
        nodeA->edges.push_back(edge);
        nodeB->edges.push_back(edge);
        return edge;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CGraph::RemoveEdge(CNode* nodeA, CNode* nodeB, CEdge* keep) {
    if (!nodeA || !nodeB || nodeA->edges.size() < 2)
        return;
    const auto joinsAandB = [&](const CEdge* edge) {
        return edge != keep &&
               ((edge->firstImage == nodeA->imageIndex && edge->secondImage == nodeB->imageIndex) ||
                (edge->firstImage == nodeB->imageIndex && edge->secondImage == nodeA->imageIndex));
    };
    for (;;) {
        const auto it = std::find_if(nodeA->edges.begin(), nodeA->edges.end(), joinsAandB);
        if (it == nodeA->edges.end())
            break;
        CEdge* edge = *it;
        Unlink(nodeA->edges, edge);
        Unlink(nodeB->edges, edge);
        DestroyEdge(edge);
    }
}

void CGraph::DestroyEdge(CEdge* edge) {
    if (edge->firstNode)
        Unlink(edge->firstNode->edges, edge);
    if (edge->secondNode)
        Unlink(edge->secondNode->edges, edge);
    Unlink(edges, edge);
    delete edge;
}

void CGraph::Clear() {
    for (CEdge* edge : edges)
        delete edge;
    for (CNode* node : nodes)
        delete node;
    edges.clear();
    nodes.clear();
}

bool CGraph::Assign(const CGraph& other) {
    if (&other == this)
        return true;
    Clear();
    for (const CNode* node : other.nodes) {
        try {
            auto copy = std::make_unique<CNode>();
            copy->imageIndex = node->imageIndex;
            nodes.push_back(copy.get());
            copy.release();
        } catch (const std::bad_alloc&) {
            Clear();
            return false;
        }
    }
    for (const CEdge* edge : other.edges) {
        CEdge* copy = AddEdge(edge->firstNode->imageIndex, edge->secondNode->imageIndex);
        if (!copy) {
            Clear();
            return false;
        }
        try {
            copy->CopyFieldsFrom(*edge);
        } catch (const std::bad_alloc&) {
            Clear();
            return false;
        }
    }
    return true;
}

}  // namespace match_graph
