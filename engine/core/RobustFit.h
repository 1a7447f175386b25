#pragma once
// Robust planar fits between matched point lists: least median of residuals
// over random minimal samples, refined by iteratively reweighted least
// squares, then every pair classified as inlier or outlier.

#include <cstdint>
#include <vector>

struct FitPoint {
    double x = 0.0;
    double y = 0.0;
};

// The three fits share one contract. `source[i]` matches `target[i]` with
// weight `weights[i]`; all three lists have the same length n. `p` is the
// confidence that fixes the number of trials (callers pass 0.75).
// On success `transform` receives the row-major 3x3 map from source to
// target, `inliers`/`outliers` (each may be null) the pair indices of each
// class in input order, and `meanResidual` (may be null) the mean distance of
// the inliers. The result is true when more than two pairs are inliers.
// With n <= 3, mismatched lengths, p outside [0, 1), no usable sample or a
// failure inside, the result is false and no output is touched.

// Six parameters: [p1 p3 p5; p2 p4 p6; 0 0 1].
bool FitAffineRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                     const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                     std::vector<int>* outliers, double* meanResidual, double p);

// Four parameters: [a b c; -b a d; 0 0 1].
bool FitSimilarityRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                         const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                         std::vector<int>* outliers, double* meanResidual, double p);

// Three parameters, one scale and a shift: [s 0 tx; 0 s ty; 0 0 1].
bool FitScaleShiftRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                         const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                         std::vector<int>* outliers, double* meanResidual, double p);

// Exposed for tests: the sample generator the fits draw from, and the number
// of trials a fit runs for a confidence p (0 when p is out of range).
namespace robust_fit_detail {
void SeedRandom(std::uint32_t state);
int NextRandom();
int TrialCount(double p);
}  // namespace robust_fit_detail
