#include "PairMatching.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "ImplausibleTransform.h"

bool IndexDescriptors(const CKeypointSet& set, IndexedPhoto& out) {
    DeleteKdTree(out.tree);
    out.tree = nullptr;
    try {
        out.tree = BuildKdTree(set.descriptors.data(), static_cast<std::int32_t>(set.descriptors.size()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!out.tree)
        return false;
    out.tree->visitLimit = 200;
    return true;
}

std::vector<std::size_t> ChooseBestClusters(const std::vector<double>& votes,
                                            const std::vector<std::int32_t>& clusterImage,
                                            const std::vector<std::vector<std::int32_t>>& clusterQuery,
                                            const std::vector<std::vector<std::int32_t>>& clusterReference) {
    double best = 0.0;
    for (double v : votes)
        if (v > best)
            best = v;
    std::vector<std::size_t> chosen;
    for (std::size_t c = 0; c < votes.size(); ++c)
        if (votes[c] == best)
            chosen.push_back(c);
    auto same = [&](std::size_t a, std::size_t b) {
        return clusterImage[a] == clusterImage[b] && clusterQuery[a] == clusterQuery[b] &&
               clusterReference[a] == clusterReference[b];
    };
    for (bool removed = true; removed && chosen.size() > 1;) {
        removed = false;
        for (std::size_t a = 0; a < chosen.size() && !removed; ++a)
            for (std::size_t b = a + 1; b < chosen.size(); ++b)
                if (same(chosen[a], chosen[b])) {
                    chosen.erase(chosen.begin() + static_cast<std::ptrdiff_t>(b));
                    removed = true;
                    break;
                }
    }
    return chosen;
}

void ClusterFitInput(const CKeypointSet& query, const CKeypointSet& reference,
                     const std::vector<std::int32_t>& queryIndices,
                     const std::vector<std::int32_t>& referenceIndices, std::vector<double>& weights,
                     std::vector<FitPoint>& from, std::vector<FitPoint>& to) {
    const std::size_t n = queryIndices.size();
    weights.resize(n);
    from.resize(n);
    to.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Keypoint* ki = query.keypoints[queryIndices[k]];
        const Keypoint* kj = reference.keypoints[referenceIndices[k]];
        weights[k] = 1.0 / (ki->scale * ki->scale);
        from[k] = {ki->x, ki->y};
        to[k] = {kj->x, kj->y};
    }
}

bool IsAcceptedFit(std::size_t inliers, std::size_t n, double residual, double tolerance,
                   const OrvexBase::Size& sizeI, const OrvexBase::Size& sizeJ, const double transform[9]) {
    if (!(static_cast<double>(inliers) > 5.9 + 0.22 * static_cast<double>(n)))
        return false;
    if (!(residual < tolerance))
        return false;
    double inverse[9];
    InvertMatrix3x3(inverse, transform);
    return !IsImplausibleTransform(sizeI, sizeJ, transform) && !IsImplausibleTransform(sizeJ, sizeI, inverse);
}

namespace {

// True when photo `from` (of size `fromSize`), mapped by the affine part of
// m into photo `to`'s frame, lies wholly inside `to` and covers at most half
// of it.
bool LandsAsPatchInside(const OrvexBase::Size& fromSize, const OrvexBase::Size& toSize, const double m[9]) {
    const double w = fromSize.cx, h = fromSize.cy;
    const double corners[4][2] = {{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}};
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
    for (int c = 0; c < 4; ++c) {
        const double x = m[0] * corners[c][0] + m[1] * corners[c][1] + m[2];
        const double y = m[3] * corners[c][0] + m[4] * corners[c][1] + m[5];
        minX = c ? std::min(minX, x) : x;
        maxX = c ? std::max(maxX, x) : x;
        minY = c ? std::min(minY, y) : y;
        maxY = c ? std::max(maxY, y) : y;
    }
    const bool inside = minX >= 0.0 && minY >= 0.0 && maxX <= toSize.cx && maxY <= toSize.cy;
    return inside && (maxX - minX) * (maxY - minY) <= 0.5 * toSize.cx * toSize.cy;
}

}  // namespace

bool IsPlanarNeighbourFit(double residual, double tolerance, const OrvexBase::Size& sizeI,
                          const OrvexBase::Size& sizeJ, const double transform[9]) {
    // The linear part's scale: photo j's pixels per pixel of photo i.
    const double scale = std::sqrt(std::abs(transform[0] * transform[4] - transform[1] * transform[3]));
    if (!(residual / scale < tolerance))
        return false;
    double inverse[9];
    InvertMatrix3x3(inverse, transform);
    return !LandsAsPatchInside(sizeI, sizeJ, transform) && !LandsAsPatchInside(sizeJ, sizeI, inverse);
}
