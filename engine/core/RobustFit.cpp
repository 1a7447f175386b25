#include "RobustFit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <new>
#include <numbers>

#include "KeypointSet.h"
#include "SvdSolver.h"

namespace {

// One state per thread, so fits on different threads neither race nor
// disturb each other; every fit starts it from 1 and is reproducible.
thread_local std::uint32_t g_randomState = 1;

constexpr int kRefineIterations = 20;
// A median at or below this counts as an exact fit.
constexpr double kExactMedian = 1e-4;
constexpr double kMadToSigma = 1.4826;
// Pairs further out than this many sigmas get no weight in refinement.
constexpr double kWeightCutoff = 5.0;
constexpr double kBandSigmas = 2.5;

struct Solution {
    double m[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
};

// What distinguishes the three fits: the unknowns, the two rows a pair
// contributes, how the unknowns make the matrix, and how a minimal sample is
// drawn.
struct Model {
    int unknowns;
    int sampleSize;
    void (*fillRows)(alglib::real_2d_array& a, int row, const FitPoint& s, const FitPoint& t, double w);
    void (*toMatrix)(alglib::real_1d_array& x, Solution& out);
    void (*drawSample)(int n, int sample[3]);
};

// Index in 0..n-1 from the generator, scaled; n - 1 only comes from 32767.
int DrawScaled(int n) {
    return static_cast<int>(static_cast<std::int64_t>(robust_fit_detail::NextRandom()) * (n - 1) / 32767);
}

int DrawModulo(int n) {
    return robust_fit_detail::NextRandom() % n;
}

// Writes the unknowns' coefficients then the right-hand side. A zero weight
// writes zeros, so a non-finite point with no weight cannot poison the solve.
void SetRow(alglib::real_2d_array& a, int row, double w, std::initializer_list<double> coefficients) {
    int col = 1;
    for (double c : coefficients)
        At(a, row, col++) = w == 0.0 ? 0.0 : w * c;
}

const Model kAffine = {
    6,
    3,
    [](alglib::real_2d_array& a, int row, const FitPoint& s, const FitPoint& t, double w) {
        SetRow(a, row, w, {s.x, 0.0, s.y, 0.0, 1.0, 0.0, t.x});
        SetRow(a, row + 1, w, {0.0, s.x, 0.0, s.y, 0.0, 1.0, t.y});
    },
    [](alglib::real_1d_array& x, Solution& out) {
        const double m[9] = {At(x, 1), At(x, 3), At(x, 5), At(x, 2), At(x, 4), At(x, 6), 0.0, 0.0, 1.0};
        std::copy(m, m + 9, out.m);
    },
    [](int n, int sample[3]) {
        sample[0] = DrawScaled(n);
        sample[1] = DrawScaled(n);
        sample[2] = DrawScaled(n);
        while (sample[1] == sample[0])
            sample[1] = DrawScaled(n);
        while (sample[2] == sample[0] || sample[2] == sample[1])
            sample[2] = DrawScaled(n);
    },
};

const Model kSimilarity = {
    4,
    2,
    [](alglib::real_2d_array& a, int row, const FitPoint& s, const FitPoint& t, double w) {
        SetRow(a, row, w, {s.x, s.y, 1.0, 0.0, t.x});
        SetRow(a, row + 1, w, {s.y, -s.x, 0.0, 1.0, t.y});
    },
    [](alglib::real_1d_array& x, Solution& out) {
        const double a = At(x, 1), b = At(x, 2);
        const double m[9] = {a, b, At(x, 3), -b, a, At(x, 4), 0.0, 0.0, 1.0};
        std::copy(m, m + 9, out.m);
    },
    [](int n, int sample[3]) {
        sample[0] = DrawScaled(n);
        sample[1] = DrawScaled(n);
        while (sample[1] == sample[0])
            sample[1] = DrawScaled(n);
    },
};

const Model kScaleShift = {
    3,
    2,
    [](alglib::real_2d_array& a, int row, const FitPoint& s, const FitPoint& t, double w) {
        SetRow(a, row, w, {s.x, 1.0, 0.0, t.x});
        SetRow(a, row + 1, w, {s.y, 0.0, 1.0, t.y});
    },
    [](alglib::real_1d_array& x, Solution& out) {
        const double s = At(x, 1);
        const double m[9] = {s, 0.0, At(x, 2), 0.0, s, At(x, 3), 0.0, 0.0, 1.0};
        std::copy(m, m + 9, out.m);
    },
    [](int n, int sample[3]) {
        sample[0] = DrawModulo(n);
        sample[1] = DrawModulo(n);
        while (sample[1] == sample[0])
            sample[1] = DrawModulo(n);
    },
};

bool IsFinite(const Solution& s) {
    return std::all_of(s.m, s.m + 9, [](double v) { return std::isfinite(v); });
}

// Squared distance between the mapped source point and the target point.
double SquaredResidual(const Solution& s, const FitPoint& from, const FitPoint& to) {
    const double dx = s.m[0] * from.x + s.m[1] * from.y + s.m[2] - to.x;
    const double dy = s.m[3] * from.x + s.m[4] * from.y + s.m[5] - to.y;
    return dx * dx + dy * dy;
}

// Median of the values (mean of the two middle ones for an even count). A
// NaN residual sorts as infinitely large: the pair is simply a bad one.
double Median(const std::vector<double>& values, std::vector<double>& scratch) {
    scratch.assign(values.begin(), values.end());
    for (double& v : scratch)
        if (std::isnan(v))
            v = std::numeric_limits<double>::infinity();
    std::sort(scratch.begin(), scratch.end());
    const size_t n = scratch.size();
    if (n % 2 == 1)
        return scratch[n / 2];
    return (scratch[n / 2 - 1] + scratch[n / 2]) / 2.0;
}

void ComputeResiduals(const Solution& s, const std::vector<FitPoint>& source,
                      const std::vector<FitPoint>& target, std::vector<double>& residuals) {
    for (size_t i = 0; i < source.size(); ++i)
        residuals[i] = std::sqrt(SquaredResidual(s, source[i], target[i]));
}

bool Fit(const Model& model, const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
         const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
         std::vector<int>* outliers, double* meanResidual, double p) {
    if (source.size() != target.size() || source.size() != weights.size())
        return false;
    if (source.size() <= 3 || source.size() > static_cast<size_t>(INT_MAX / 2))
        return false;
    const int n = static_cast<int>(source.size());
    const int trials = robust_fit_detail::TrialCount(p);
    if (trials <= 0)
        return false;

    robust_fit_detail::SeedRandom(1);
    try {
        std::vector<double> residuals(n);
        std::vector<double> sorted(n);

        // Least median of residuals over random minimal samples.
        alglib::real_2d_array a;
        alglib::real_1d_array x;
        const int sampleRows = 2 * model.sampleSize;
        a.setlength(sampleRows, model.unknowns + 1);
        Solution best;
        double bestMedian = std::numeric_limits<double>::max();
        bool haveBest = false;
        for (int trial = 0; trial < trials; ++trial) {
            int sample[3] = {0, 0, 0};
            model.drawSample(n, sample);
            for (int k = 0; k < model.sampleSize; ++k) {
                const int i = sample[k];
                model.fillRows(a, 2 * k + 1, source[i], target[i], weights[i]);
            }
            // A singular sample still yields its truncated solution.
            SolveLeastSquaresSVD(a, sampleRows, model.unknowns, x);
            Solution candidate;
            model.toMatrix(x, candidate);
            ComputeResiduals(candidate, source, target, residuals);
            const double median = Median(residuals, sorted);
            if (median < bestMedian) {
                bestMedian = median;
                best = candidate;
                haveBest = true;
            }
        }
        // Every trial had a non-finite median: there is no solution to report.
        if (!haveBest)
            return false;

        // Iteratively reweighted refinement on all pairs.
        double sigma = 0.0;
        if (bestMedian > kExactMedian) {
            const int rows = 2 * n;
            a.setlength(rows, model.unknowns + 1);
            for (int iteration = 0; iteration < kRefineIterations; ++iteration) {
                ComputeResiduals(best, source, target, residuals);
                const double median = Median(residuals, sorted);
                sigma = kMadToSigma * median;
                // Exact by now: a zero median would leave every weight 0/0.
                if (median <= kExactMedian)
                    break;
                for (int i = 0; i < n; ++i) {
                    const double u = residuals[i] / sigma;
                    double w = 0.0;
                    if (u <= kWeightCutoff)
                        w = std::exp(-u * u / 2.0) / (std::sqrt(2.0 * std::numbers::pi) * sigma) * weights[i];
                    model.fillRows(a, 2 * i + 1, source[i], target[i], w);
                }
                SolveLeastSquaresSVD(a, rows, model.unknowns, x);
                Solution refined;
                model.toMatrix(x, refined);
                if (!IsFinite(refined))
                    break;
                best = refined;
            }
        }
        if (!IsFinite(best))
            return false;

        // Classification. The band has a floor, so rounding noise of an exact
        // fit does not turn perfect pairs into outliers.
        const double bandSigma = std::max(sigma, kMadToSigma * kExactMedian);
        const double band = (kBandSigmas * bandSigma) * (kBandSigmas * bandSigma);
        std::vector<int> inlierList;
        std::vector<int> outlierList;
        double residualSum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double e = SquaredResidual(best, source[i], target[i]);
            if (e <= band) {
                inlierList.push_back(i);
                residualSum += std::sqrt(e);
            } else {
                outlierList.push_back(i);
            }
        }

        std::copy(best.m, best.m + 9, transform);
        const int count = static_cast<int>(inlierList.size());
        if (inliers)
            *inliers = std::move(inlierList);
        if (outliers)
            *outliers = std::move(outlierList);
        if (meanResidual)
            *meanResidual = count > 0 ? residualSum / count : 0.0;
        return count > 2;
    } catch (const alglib::ap_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

namespace robust_fit_detail {

void SeedRandom(std::uint32_t state) {
    g_randomState = state;
}

int NextRandom() {
    g_randomState = g_randomState * 214013u + 2531011u;
    return static_cast<int>((g_randomState >> 16) & 0x7FFF);
}

int TrialCount(double p) {
    if (!(p >= 0.0 && p < 1.0))
        return 0;
    const double trials = std::ceil(1.0 / IntPower(1.0 - p, 3));
    if (!(trials <= INT_MAX))
        return 0;
    return static_cast<int>(trials);
}

}  // namespace robust_fit_detail

bool FitAffineRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                     const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                     std::vector<int>* outliers, double* meanResidual, double p) {
    return Fit(kAffine, source, target, weights, transform, inliers, outliers, meanResidual, p);
}

bool FitSimilarityRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                         const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                         std::vector<int>* outliers, double* meanResidual, double p) {
    return Fit(kSimilarity, source, target, weights, transform, inliers, outliers, meanResidual, p);
}

bool FitScaleShiftRobust(const std::vector<FitPoint>& source, const std::vector<FitPoint>& target,
                         const std::vector<double>& weights, double transform[9], std::vector<int>* inliers,
                         std::vector<int>* outliers, double* meanResidual, double p) {
    return Fit(kScaleShift, source, target, weights, transform, inliers, outliers, meanResidual, p);
}
