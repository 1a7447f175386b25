#include "OrvexBase.h"

namespace OrvexBase {
namespace {

// Each axis with its low end first, so rectangles given inverted are accepted.
Rect Normalised(const Rect& r) {
    return Rect(std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
                std::max(r.top, r.bottom));
}

}  // namespace

Rect Rect::Intersect(const Rect& other) const {
    if (IsPoint() || other.IsPoint())
        return Rect();
    const Rect a = Normalised(*this);
    const Rect b = Normalised(other);
    if (a.left > b.right || b.left > a.right)
        return Rect();
    if (a.top > b.bottom || b.top > a.bottom)
        return Rect();
    return Rect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom));
}

Rect Rect::Union(const Rect& other) const {
    if (IsPoint())
        return other;
    if (other.IsPoint())
        return *this;
    const Rect a = Normalised(*this);
    const Rect b = Normalised(other);
    return Rect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom));
}

void InvertMatrix3x3(double result[9], const double m[9]) {
    const double det = m[0] * m[4] * m[8] - m[2] * m[4] * m[6] + m[3] * m[2] * m[7] - m[5] * m[0] * m[7] +
                       m[1] * m[5] * m[6] - m[1] * m[3] * m[8];
    const double f = 1.0 / det;
    const double adj[9] = {
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3],
    };
    for (int i = 0; i < 9; ++i)
        result[i] = f * adj[i];
}

}  // namespace OrvexBase
