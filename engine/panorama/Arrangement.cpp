// Arrangement of the matched photos: a reference photo, the star of its group,
// the panorama's bounds and each photo's panorama-to-photo transform.

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>

#include "Arrangement.h"

using match_graph::CEdge;
using match_graph::CGraph;
using match_graph::CNode;
using OrvexBase::Rect;

namespace {

using Matrix = CArrangement::Matrix;

Matrix Inverse(const double m[9]) {
    Matrix r;
    InvertMatrix3x3(r.data(), m);
    return r;
}

// a x b: b applied first.
Matrix Multiply(const double a[9], const double b[9]) {
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
    return r;
}

struct Extent {
    double minX = std::numeric_limits<double>::max(), maxX = -std::numeric_limits<double>::max();
    double minY = std::numeric_limits<double>::max(), maxY = -std::numeric_limits<double>::max();
    bool finite = true;

    // Maps the four corners of a w x h photo through m (first two rows only).
    void AddCorners(const double m[9], int w, int h) {
        const double corners[4][2] = {{0, 0}, {double(w), 0}, {0, double(h)}, {double(w), double(h)}};
        for (const auto& c : corners) {
            const double x = m[0] * c[0] + m[1] * c[1] + m[2];
            const double y = m[3] * c[0] + m[4] * c[1] + m[5];
            if (!std::isfinite(x) || !std::isfinite(y))
                finite = false;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
};

// The group edge that places a photo: the star edge whose second photo it is.
const CEdge* StarEdgeOf(const CNode* node) {
    for (const CEdge* e : node->edges)
        if (e->secondImage == node->imageIndex)
            return e;
    return nullptr;
}

// Work copy of one match-graph edge for the star building.
struct WorkEdge {
    CEdge data;
    bool alive = true;
};

}  // namespace

void CArrangement::RescalePairTransforms(CGraph& graph, const std::vector<double>& scales) {
    for (CEdge* e : graph.Edges()) {
        const auto scaleOf = [&](int i) {
            return i >= 0 && i < static_cast<int>(scales.size()) ? scales[i] : 1.0;
        };
        const double s1 = scaleOf(e->firstImage), s2 = scaleOf(e->secondImage);
        const double linear = s2 / s1;
        e->transform[0] *= linear;
        e->transform[1] *= linear;
        e->transform[3] *= linear;
        e->transform[4] *= linear;
        e->transform[2] *= s2;
        e->transform[5] *= s2;
    }
}

int CArrangement::FindReference(const CGraph& graph) const {
    if (graph.Edges().empty())
        return -1;
    const int fallback = fallback_;
    if (photoCount_ <= 0)
        return fallback;
    int best = -1;
    long long bestSum = 0;
    for (int i = 0; i < photoCount_; ++i) {
        const CNode* node = graph.FindNode(i);
        if (!node)
            continue;
        long long sum = 0;
        for (const CEdge* e : node->edges)
            sum += e->inlierCount;
        if (sum > bestSum) {
            bestSum = sum;
            best = i;
        }
    }
    return best >= 0 ? best : fallback;
}

bool CArrangement::BuildStar(CGraph& group, const CGraph& matches, int reference) const {
    if (reference == -1)
        reference = FindReference(matches);
    if (reference == -1)
        return false;
    group.Clear();
    if (!matches.FindNode(reference))
        return false;

    // A private copy of the edges with adjacency lists in the graph's order.
    std::vector<WorkEdge> edges(matches.Edges().size());
    std::vector<std::list<WorkEdge*>> adjacency;
    auto listOf = [&](int photo) -> std::list<WorkEdge*>& {
        if (photo >= static_cast<int>(adjacency.size()))
            adjacency.resize(photo + 1);
        return adjacency[photo];
    };
    for (std::size_t k = 0; k < matches.Edges().size(); ++k)
        edges[k].data.CopyFieldsFrom(*matches.Edges()[k]);
    for (const CNode* node : matches.Nodes()) {
        auto& list = listOf(node->imageIndex);
        for (const CEdge* e : node->edges) {
            const auto it = std::find(matches.Edges().begin(), matches.Edges().end(), e);
            if (it != matches.Edges().end())
                list.push_back(&edges[it - matches.Edges().begin()]);
        }
    }

    if (!group.AddNode(reference))
        return false;
    auto& refList = listOf(reference);
    while (!refList.empty()) {
        // The reference's edge with the most inlier matches; the first wins ties.
        auto bestIt = refList.begin();
        for (auto it = refList.begin(); it != refList.end(); ++it)
            if ((*it)->data.inliers1.size() > (*bestIt)->data.inliers1.size())
                bestIt = it;
        WorkEdge* e = *bestIt;
        refList.erase(bestIt);
        const bool forward = e->data.firstImage == reference;
        const int o = forward ? e->data.secondImage : e->data.firstImage;
        e->alive = false;
        if (o == reference)
            continue;  // a self-edge says nothing about placement

        const Matrix T = forward ? Matrix() : Inverse(e->data.transform);
        if (!group.AddNode(o))
            return false;
        CEdge* star = group.AddEdge(reference, o);
        if (!star)
            return false;
        star->CopyFieldsFrom(e->data);
        star->firstImage = reference;
        star->secondImage = o;
        if (forward) {
            std::copy(e->data.transform, e->data.transform + 9, star->transform);
        } else {
            std::copy(T.begin(), T.end(), star->transform);
            std::swap(star->inliers1, star->inliers2);
            std::swap(star->outliers1, star->outliers2);
        }

        // Every other edge of o becomes an edge from the reference, composed through o.
        auto& oList = listOf(o);
        std::vector<WorkEdge*> others(oList.begin(), oList.end());
        oList.clear();
        for (WorkEdge* e2 : others) {
            if (!e2->alive || e2 == e)
                continue;
            const int f = e2->data.firstImage == o ? e2->data.secondImage : e2->data.firstImage;
            if (f == reference || f == o) {
                // A cycle or a parallel edge back to the reference: retargeting
                // it would make a self-edge. It carries nothing new.
                e2->alive = false;
                refList.remove(e2);
                continue;
            }
            if (e2->data.secondImage == o) {
                const Matrix inv = Inverse(e2->data.transform);
                std::copy(inv.begin(), inv.end(), e2->data.transform);
                std::swap(e2->data.inliers1, e2->data.inliers2);
                std::swap(e2->data.outliers1, e2->data.outliers2);
            }
            const Matrix composed = Multiply(e2->data.transform, star->transform);
            std::copy(composed.begin(), composed.end(), e2->data.transform);
            e2->data.firstImage = reference;
            e2->data.secondImage = f;
            refList.push_back(e2);
        }
    }
    return true;
}

Rect CArrangement::ComputeBounds(RenderPass& pass) {
    const CGraph& group = pass.group;
    if (group.Nodes().empty())
        return Rect();
    const auto& elements = *pass.photos;
    auto elementOf = [&](int i) { return pass.Photo(i); };
    const int reference = group.Nodes().front()->imageIndex;
    CPanoElement* refElement = elementOf(reference);
    if (!refElement)
        return Rect();

    Extent extent;
    const Matrix ringInverse = Inverse(pass.ringTransform.data());
    extent.AddCorners(ringInverse.data(), refElement->GetWidth(), refElement->GetHeight());
    for (const CNode* node : group.Nodes()) {
        if (node->imageIndex == reference)
            continue;
        const CEdge* edge = StarEdgeOf(node);
        CPanoElement* element = elementOf(node->imageIndex);
        if (!edge || !element)
            continue;
        const Matrix inv = Inverse(edge->transform);
        extent.AddCorners(inv.data(), element->GetWidth(), element->GetHeight());
    }
    // Non-finite or out-of-range bounds make no panorama.
    const double lo = std::numeric_limits<std::int32_t>::min() / 2,
                 hi = std::numeric_limits<std::int32_t>::max() / 2;
    if (!extent.finite || extent.minX < lo || extent.minY < lo || extent.maxX > hi || extent.maxY > hi)
        return Rect();
    Rect bounds(static_cast<std::int32_t>(std::floor(extent.minX)),
                static_cast<std::int32_t>(std::floor(extent.minY)),
                static_cast<std::int32_t>(std::ceil(extent.maxX)),
                static_cast<std::int32_t>(std::ceil(extent.maxY)));
    if (cutRing_)
        ClipBoundsToRing(pass, bounds);

    std::vector<Matrix>& transforms = pass.transforms;
    transforms.assign(elements.size(), Matrix{1, 0, 0, 0, 1, 0, 0, 0, 1});
    for (const CNode* node : group.Nodes()) {
        const int i = node->imageIndex;
        if (i < 0 || i >= static_cast<int>(transforms.size()))
            continue;
        Matrix m;
        if (i == reference) {
            m = pass.ringTransform;
        } else {
            const CEdge* edge = StarEdgeOf(node);
            if (!edge)
                continue;
            std::copy(edge->transform, edge->transform + 9, m.begin());
        }
        const Matrix inv = Inverse(m.data());
        const double dx = inv[2] - bounds.left, dy = inv[5] - bounds.top;
        m[2] = -(m[0] * dx + m[1] * dy);
        m[5] = -(m[3] * dx + m[4] * dy);
        transforms[i] = m;
    }
    return bounds;
}

int CArrangement::ListUnmatched(const CGraph& group, std::vector<std::int32_t>& out) const {
    out.clear();
    for (int i = 0; i < photoCount_; ++i) {
        // The ring's repeated photo is no photo of the caller's list.
        if (i == ring_.duplicate)
            continue;
        bool placed = false;
        for (const CEdge* e : group.Edges())
            if (e->firstImage == i || e->secondImage == i) {
                placed = true;
                break;
            }
        if (!placed)
            out.push_back(i);
    }
    return static_cast<int>(out.size());
}

void CArrangement::ClipBoundsToRing(const RenderPass& pass, Rect& bounds) {
    ringNotCut_ = true;
    const CNode* dup = pass.group.FindNode(ring_.duplicate);
    const CNode* end = pass.group.FindNode(ring_.farEnd);
    auto elementOf = [&](int i) { return pass.Photo(i); };
    if (!dup || !end || dup->edges.size() != 1 || end->edges.size() != 1)
        return;
    CPanoElement* dupElement = elementOf(ring_.duplicate);
    CPanoElement* endElement = elementOf(ring_.farEnd);
    if (!dupElement || !endElement)
        return;
    auto centre = [](const CEdge* e, const CPanoElement* el, double* cx, double* cy) {
        const Matrix inv = Inverse(e->transform);
        const double x = el->GetWidth() / 2.0, y = el->GetHeight() / 2.0;
        *cx = inv[0] * x + inv[1] * y + inv[2];
        *cy = inv[3] * x + inv[4] * y + inv[5];
    };
    double dupX, dupY, endX, endY;
    centre(dup->edges[0], dupElement, &dupX, &dupY);
    centre(end->edges[0], endElement, &endX, &endY);
    const double dx = endX - dupX, dy = endY - dupY;
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    if (std::abs(dx) > std::abs(dy) && dx >= 0) {
        ringNotCut_ = false;
        bounds.left = static_cast<std::int32_t>(std::floor(dupX));
        bounds.right = static_cast<std::int32_t>(std::ceil(endX));
    } else if (std::abs(dx) <= std::abs(dy) && dy >= 0) {
        ringNotCut_ = false;
        bounds.top = static_cast<std::int32_t>(std::floor(dupY));
        bounds.bottom = static_cast<std::int32_t>(std::ceil(endY));
    }
}

int CArrangement::FindCentralPhoto(const RenderPass& pass, const Rect& area) const {
    if (area.IsEmpty() || pass.group.Nodes().empty())
        return -1;
    // The photo whose placed centre is nearest the centre of the bounds.
    const double cx = (area.left + area.right) / 2.0, cy = (area.top + area.bottom) / 2.0;
    const auto& transforms = pass.transforms;
    int best = -1;
    double bestDistance = std::numeric_limits<double>::max();
    for (std::size_t k = 0; k < pass.group.Nodes().size(); ++k) {
        const int i = pass.PlacedPhoto(k);
        if (cutRing_ && (i == ring_.duplicate || i == ring_.farEnd))
            continue;
        CPanoElement* photo = pass.Photo(i);
        if (!photo || i >= static_cast<int>(transforms.size()))
            continue;
        Matrix inv;
        InvertMatrix3x3(inv.data(), transforms[i].data());
        const double px = photo->GetWidth() / 2.0, py = photo->GetHeight() / 2.0;
        // Photo transforms count panorama pixels from the bounds' corner.
        const double x = inv[0] * px + inv[1] * py + inv[2] + area.left;
        const double y = inv[3] * px + inv[4] * py + inv[5] + area.top;
        const double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (std::isfinite(d) && d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}
