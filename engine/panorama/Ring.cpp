// Ring closure of the planar model: the strip's ends, both copies of the
// repeated photo at one scale, and the turn that lays them level.

#include <algorithm>
#include <cmath>
#include <limits>

#include "Ring.h"

using match_graph::CEdge;
using match_graph::CGraph;
using match_graph::CNode;

namespace {

using Matrix = CRingClosure::Matrix;

const Matrix kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};

Matrix Inverse(const double m[9]) {
    Matrix r;
    InvertMatrix3x3(r.data(), m);
    return r;
}

// The one group edge of a photo that is not the reference, or null.
CEdge* OnlyEdgeOf(const CGraph& group, int photo) {
    const CNode* node = photo >= 0 ? group.FindNode(photo) : nullptr;
    return node && node->edges.size() == 1 ? node->edges.front() : nullptr;
}

// Bounds of a photo of this size mapped through the inverse of m.
void MapRectBounds(const Matrix& m, const OrvexBase::Size& size, double& minX, double& maxX, double& minY,
                   double& maxY) {
    const Matrix inv = Inverse(m.data());
    const double corners[4][2] = {
        {0, 0}, {double(size.cx), 0}, {0, double(size.cy)}, {double(size.cx), double(size.cy)}};
    minX = minY = std::numeric_limits<double>::max();
    maxX = maxY = -std::numeric_limits<double>::max();
    for (const auto& c : corners) {
        const double x = inv[0] * c[0] + inv[1] * c[1] + inv[2];
        const double y = inv[3] * c[0] + inv[4] * c[1] + inv[5];
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
}

}  // namespace

void CRingClosure::FindEnds(const RenderPass& pass, bool wide, int& start, int& end) {
    const CGraph& group = pass.group;
    start = end = -1;
    if (group.Nodes().size() < 2 || group.Edges().empty())
        return;
    const int reference = group.Nodes().front()->imageIndex;
    CPanoElement* refElement = pass.Photo(reference);
    if (!refElement)
        return;
    start = end = reference;
    double low = 0, high = wide ? refElement->GetWidth() : refElement->GetHeight();
    for (const CNode* node : group.Nodes()) {
        if (node->imageIndex == reference)
            continue;
        const CEdge* edge = OnlyEdgeOf(group, node->imageIndex);
        CPanoElement* element = pass.Photo(node->imageIndex);
        if (!edge || !element)
            continue;
        Matrix m;
        std::copy(edge->transform, edge->transform + 9, m.begin());
        double minX, maxX, minY, maxY;
        MapRectBounds(m, element->GetSize(), minX, maxX, minY, maxY);
        const double lo = wide ? minX : minY, hi = wide ? maxX : maxY;
        if (lo < low) {
            low = lo;
            start = node->imageIndex;
        }
        if (hi > high) {
            high = hi;
            end = node->imageIndex;
        }
    }
}

bool CRingClosure::Centres(const RenderPass& pass, double& dupX, double& dupY, double& endX,
                           double& endY) const {
    const CEdge* dupEdge = OnlyEdgeOf(pass.group, duplicate);
    const CEdge* endEdge = OnlyEdgeOf(pass.group, farEnd);
    const CPanoElement* dupElement = pass.Photo(duplicate);
    const CPanoElement* endElement = pass.Photo(farEnd);
    if (!dupEdge || !endEdge || !dupElement || !endElement)
        return false;
    auto centre = [](const CEdge* e, const CPanoElement* el, double& cx, double& cy) {
        const Matrix inv = Inverse(e->transform);
        const double x = el->GetWidth() / 2.0, y = el->GetHeight() / 2.0;
        cx = inv[0] * x + inv[1] * y + inv[2];
        cy = inv[3] * x + inv[4] * y + inv[5];
    };
    centre(dupEdge, dupElement, dupX, dupY);
    centre(endEdge, endElement, endX, endY);
    return true;
}

bool CRingClosure::IsForward(const RenderPass& pass) const {
    double dupX, dupY, endX, endY;
    if (!Centres(pass, dupX, dupY, endX, endY))
        return false;
    const double dx = endX - dupX, dy = endY - dupY;
    return std::abs(dx) > std::abs(dy) ? dx >= 0 : dy >= 0;
}

void CRingClosure::EqualizeScale(RenderPass& pass) const {
    if (!IsForward(pass))
        return;
    const int n = static_cast<int>(pass.photos->size());
    if (duplicate < 0 || farEnd < 0 || duplicate == farEnd || duplicate >= n || farEnd >= n)
        return;
    CEdge* edges[2] = {OnlyEdgeOf(pass.group, duplicate), OnlyEdgeOf(pass.group, farEnd)};
    CPanoElement* elements[2] = {(*pass.photos)[duplicate].Get(), (*pass.photos)[farEnd].Get()};
    if (!edges[0] || !edges[1] || !elements[0] || !elements[1])
        return;
    const double s =
        (edges[0]->transform[0] + edges[0]->transform[4] + edges[1]->transform[0] + edges[1]->transform[4]) /
        4.0;
    for (int k = 0; k < 2; ++k) {
        double* t = edges[k]->transform;
        Matrix before;
        std::copy(t, t + 9, before.begin());
        double minX0, maxX0, minY0, maxY0;
        MapRectBounds(before, elements[k]->GetSize(), minX0, maxX0, minY0, maxY0);
        const Matrix inv = Inverse(t);
        double originX = inv[2], originY = inv[5];
        t[0] = t[4] = s;
        Matrix after;
        std::copy(t, t + 9, after.begin());
        double minX1, maxX1, minY1, maxY1;
        MapRectBounds(after, elements[k]->GetSize(), minX1, maxX1, minY1, maxY1);
        // Each copy stays centred where it was.
        originX += 0.5 * ((maxX0 - minX0) - (maxX1 - minX1));
        originY += 0.5 * ((maxY0 - minY0) - (maxY1 - minY1));
        t[2] = -(t[0] * originX + t[1] * originY);
        t[5] = -(t[3] * originX + t[4] * originY);
    }
}

bool CRingClosure::ComputeRotation(const RenderPass& pass, Matrix& rotation) const {
    rotation = kIdentity;
    if (!IsForward(pass))
        return true;
    double dupX, dupY, endX, endY;
    if (!Centres(pass, dupX, dupY, endX, endY))
        return false;
    const double dx = dupX - endX, dy = dupY - endY;
    // Two copies drawn at one place give no direction to level: no turn.
    if (!std::isfinite(dx) || !std::isfinite(dy) || (std::abs(dx) < 1e-9 && std::abs(dy) < 1e-9))
        return true;
    const double a = std::abs(dx) <= std::abs(dy) ? -std::atan(dx / dy) : std::atan(dy / dx);
    rotation = {std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1};
    return true;
}

void CRingClosure::ApplyRotation(RenderPass& pass, const Matrix& rotation) {
    // The reference is drawn through the same turn as every other photo.
    pass.ringTransform = rotation;
    if (rotation == kIdentity)
        return;
    const double* r = rotation.data();
    for (CEdge* e : pass.group.Edges()) {
        double* t = e->transform;
        const double t0 = t[0], t1 = t[1], t3 = t[3], t4 = t[4];
        t[0] = t0 * r[0] + t1 * r[3];
        t[1] = t0 * r[1] + t1 * r[4];
        t[3] = t3 * r[0] + t4 * r[3];
        t[4] = t3 * r[1] + t4 * r[4];
        t[6] = 0;
        t[7] = 0;
        t[8] = 1;
    }
}
