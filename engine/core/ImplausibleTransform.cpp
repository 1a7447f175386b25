#include "ImplausibleTransform.h"

#include <algorithm>
#include <cmath>

namespace {

bool AllFinite(const double m[9]) {
    return std::all_of(m, m + 9, [](double v) { return std::isfinite(v); });
}

}  // namespace

bool IsImplausibleTransform(const OrvexBase::Size& sizeA, const OrvexBase::Size& sizeB,
                            const double transform[9]) {
    // NaN passes every range comparison below, so it is caught first.
    if (!AllFinite(transform))
        return true;
    double inverse[9];
    InvertMatrix3x3(inverse, transform);
    if (!AllFinite(inverse))
        return true;

    const double wB = sizeB.cx;
    const double hB = sizeB.cy;
    const double corners[4][2] = {{0.0, 0.0}, {wB, 0.0}, {0.0, hB}, {wB, hB}};
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
    for (int c = 0; c < 4; ++c) {
        // Affine part only: the third row is not divided by.
        const double x = inverse[0] * corners[c][0] + inverse[1] * corners[c][1] + inverse[2];
        const double y = inverse[3] * corners[c][0] + inverse[4] * corners[c][1] + inverse[5];
        if (c == 0) {
            minX = maxX = x;
            minY = maxY = y;
        } else {
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    for (double bound : {minX, maxX, minY, maxY}) {
        if (!(bound > -32768.0 && bound < 32767.0))
            return true;
    }

    const int width = static_cast<int>(maxX - minX);
    const int height = static_cast<int>(maxY - minY);
    if (width < 1 || height < 1)
        return true;

    const double wA = sizeA.cx;
    const double hA = sizeA.cy;
    if (width / wA > 5.0 || wA / width > 5.0)
        return true;
    if (height / hA > 5.0 || hA / height > 5.0)
        return true;
    return false;
}
