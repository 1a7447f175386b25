#include "TiledAlignment.h"

#include <cminpack.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "LensModel.h"
#include "PanoramaLib.h"
#include "ScopeExit.h"
#include "ThreadPool.h"

namespace Tiled_Panorama {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kStartFocal = 1000.0;
// Lens coefficients are tiny next to angles and focal lengths; scaling them
// keeps the forward-difference steps of the solver meaningful.
constexpr double kLensScale = 10000.0;
// Fewer weighted inliers than this make too shaky a homography for a focal.
constexpr std::size_t kMinFocalInliers = 8;
constexpr double kStartBelowEstimate = 0.8;
// Focal lengths a camera can have, in mean photo widths (a fish-eye to a
// long telephoto); outside them a homography or a fit reads noise.
constexpr double kLowestFocalOfWidth = 0.2;
constexpr double kHighestFocalOfWidth = 10.0;
// A fit whose matches end further apart than this part of the mean photo
// width (root mean square) is taken for a wrong minimum: right fits of the
// dev sets stay within a half of it, wrong ones are off by whole photos.
constexpr double kGoodFitOfWidth = 0.01;
// An edge whose matches end this many times further apart than the fit's
// mean is not a view the others agree with; a few such edges are dropped.
constexpr double kFalseEdgeOfFit = 3.0;
constexpr int kMostFalseEdges = 3;
// A fit still this many times past a good one is reported as no panorama.
constexpr double kImplausibleFitOfGood = 2.0;

template <class T>
std::unique_ptr<T[]> Allocate(std::size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[std::max<std::size_t>(count, 1)]());
}

// The inliers an edge really describes: its count, but never past its index
// lists. A match without a score counts with full weight.
std::size_t UsableInliers(const AlignmentEdge& edge) {
    std::size_t count = static_cast<std::size_t>(std::max(0, edge.inlierCount));
    count = std::min({count, edge.inliers1.size(), edge.inliers2.size()});
    return count;
}

// The weight of a match from its ratio score; a poor match (score past the
// ratio test) weighs nothing rather than pulling the wrong way.
double MatchWeight(const AlignmentEdge& edge, std::size_t k, double ratio2) {
    const double score = k < edge.inlierScores.size() ? edge.inlierScores[k] : 0.0;
    return std::max(0.0, 1.0 - (score / 1000.0) / ratio2);
}

// A centred keypoint as the lens terms move it.
void ApplyLens(std::int32_t model, const TiledImagePose& lens, double& x0, double& y0) {
    const double f = LensFactor(model, lens, x0 * x0 + y0 * y0);
    x0 *= f;
    y0 *= f;
}

// Mpq = Rp Rq^T turns q's camera rays into p's; its transpose does the
// reverse.
void RelativeRotation(const TiledImagePose& pp, const TiledImagePose& pq, double Mpq[9]) {
    double Rp[9], Rq[9];
    RotationFromAngles(Rp, pp.pitch, pp.yaw, pp.roll);
    RotationFromAngles(Rq, pq.pitch, pq.yaw, pq.roll);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            Mpq[3 * i + j] =
                Rp[3 * i] * Rq[3 * j] + Rp[3 * i + 1] * Rq[3 * j + 1] + Rp[3 * i + 2] * Rq[3 * j + 2];
}

// The four residuals of one match: each point against its partner mapped
// into its photo, times the root of the match's weight.
inline void MatchResiduals(const double Mpq[9], double px, double py, double qx, double qy, double fp,
                           double fq, double root, double* out) {
    const double X1 = Mpq[0] * qx + Mpq[1] * qy + Mpq[2] * fq;
    const double Y1 = Mpq[3] * qx + Mpq[4] * qy + Mpq[5] * fq;
    const double Z1 = Mpq[6] * qx + Mpq[7] * qy + Mpq[8] * fq;
    const double X2 = Mpq[0] * px + Mpq[3] * py + Mpq[6] * fp;
    const double Y2 = Mpq[1] * px + Mpq[4] * py + Mpq[7] * fp;
    const double Z2 = Mpq[2] * px + Mpq[5] * py + Mpq[8] * fp;
    out[0] = root * (px - fp * X1 / Z1);
    out[1] = root * (py - fp * Y1 / Z1);
    out[2] = root * (qx - fq * X2 / Z2);
    out[3] = root * (qy - fq * Y2 / Z2);
}

// The gradient J^T f and the upper triangle of J^T J of one task's rows
// (J row-major, N columns). Every sum runs over the rows in order; the rows
// are walked once, all sums taking their next term together, and a fixed N
// lets the compiler lay the sums out.
template <std::size_t N>
void NormalSums(const double* J, const double* f, std::size_t rows, double* g, double* A) {
    double gSums[N + 1] = {}, aSums[N * N + 1] = {};
    for (std::size_t r = 0; r < rows; ++r) {
        const double* jr = J + r * N;
        const double fr = f[r];
        for (std::size_t a = 0; a < N; ++a) {
            gSums[a] += jr[a] * fr;
            for (std::size_t b = a; b < N; ++b)
                aSums[a * N + b] += jr[a] * jr[b];
        }
    }
    std::copy(gSums, gSums + N, g);
    std::copy(aSums, aSums + N * N, A);
}

using NormalSumsFn = void (*)(const double*, const double*, std::size_t, double*, double*);
// By column count: three lens terms and four terms of each of two photos.
constexpr NormalSumsFn kNormalSums[12] = {NormalSums<0>, NormalSums<1>, NormalSums<2>,  NormalSums<3>,
                                          NormalSums<4>, NormalSums<5>, NormalSums<6>,  NormalSums<7>,
                                          NormalSums<8>, NormalSums<9>, NormalSums<10>, NormalSums<11>};

int Solve(void* p, int m, int n, const double* x, double* fvec, int) {
    return static_cast<CPoseAlignment*>(p)->AlignmentResiduals(m, n, x, fvec);
}

// Solves the n x n system A x = b in place by Gaussian elimination with
// partial pivoting; false when it is singular.
bool SolveLinear(double* A, double* b, int n) {
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(A[r * n + c]) > std::fabs(A[pivot * n + c]))
                pivot = r;
        if (!(std::fabs(A[pivot * n + c]) > 1e-12))
            return false;
        if (pivot != c) {
            for (int k = 0; k < n; ++k)
                std::swap(A[c * n + k], A[pivot * n + k]);
            std::swap(b[c], b[pivot]);
        }
        for (int r = c + 1; r < n; ++r) {
            const double f = A[r * n + c] / A[c * n + c];
            for (int k = c; k < n; ++k)
                A[r * n + k] -= f * A[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (int c = n - 1; c >= 0; --c) {
        double v = b[c];
        for (int k = c + 1; k < n; ++k)
            v -= A[c * n + k] * b[k];
        b[c] = v / A[c * n + c];
    }
    return true;
}

// Eigenvalues (ascending) and unit eigenvectors (as rows) of a symmetric 3x3
// matrix, by Jacobi rotations.
void SymmetricEigen3(const double M[9], double values[3], double vectors[9]) {
    double a[3][3], v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a[i][j] = M[3 * i + j];
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (off < 1e-30)
            break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0)
                    continue;
                const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
                const double t =
                    (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int i, int j) { return a[i][i] < a[j][j]; });
    for (int r = 0; r < 3; ++r) {
        values[r] = a[order[r]][order[r]];
        for (int k = 0; k < 3; ++k)
            vectors[3 * r + k] = v[k][order[r]];
    }
}

void Cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

double Normalise(double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0)
        for (int k = 0; k < 3; ++k)
            v[k] /= length;
    return length;
}

// The angles whose RotationFromAngles is R (R = Rz(roll) Rx(pitch) Ry(yaw)).
void AnglesFromRotation(const double R[9], double& pitch, double& yaw, double& roll) {
    const double sx = std::clamp(-R[7], -1.0, 1.0);
    pitch = std::asin(sx);
    if (std::sqrt(R[6] * R[6] + R[8] * R[8]) > 1e-9) {
        yaw = std::atan2(R[6], R[8]);
        roll = std::atan2(R[1], R[4]);
    } else {
        // Looking straight up or down: only yaw + roll is defined.
        roll = 0.0;
        yaw = std::atan2(-R[2], R[0]);
    }
    pitch *= 180.0 / kPi;
    yaw *= 180.0 / kPi;
    roll *= 180.0 / kPi;
}

}  // namespace

std::vector<AlignmentEdge> EdgesFromGraph(const match_graph::CGraph& graph) {
    std::vector<AlignmentEdge> out;
    out.reserve(graph.Edges().size());
    for (const match_graph::CEdge* e : graph.Edges()) {
        AlignmentEdge edge;
        edge.firstImage = e->firstImage;
        edge.secondImage = e->secondImage;
        std::copy(e->transform, e->transform + 9, edge.transform);
        edge.inlierCount = e->inlierCount;
        edge.inliers1 = e->inliers1;
        edge.inliers2 = e->inliers2;
        edge.inlierScores = e->inlierScores;
        out.push_back(std::move(edge));
    }
    return out;
}

std::vector<std::vector<AlignmentPoint>> PointsFromKeypointSets(const KeypointSetList& sets) {
    std::vector<std::vector<AlignmentPoint>> out(sets.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (!sets[i])
            continue;
        for (const Keypoint* k : sets[i]->keypoints)
            out[i].push_back({k->x, k->y});
    }
    return out;
}

LmdifWorkspace::LmdifWorkspace(int mIn, int nIn) : m(mIn), n(nIn) {
    if (m < 0 || n <= 0)
        return;
    const std::size_t sm = static_cast<std::size_t>(m), sn = static_cast<std::size_t>(n);
    // The Jacobian grows as m x n; refuse sizes whose byte count overflows.
    if (sm > std::numeric_limits<std::size_t>::max() / sizeof(double) / sn)
        return;
    maxfev = 10000 * (n + 1);
    x = Allocate<double>(sn);
    fvec = Allocate<double>(sm);
    diag = Allocate<double>(sn);
    // lmdif writes every Jacobian entry before it reads one; clearing
    // hundreds of megabytes first costs as much as a good part of its QR.
    fjac = std::unique_ptr<double[]>(new (std::nothrow) double[std::max<std::size_t>(sm * sn, 1)]);
    ipvt = Allocate<std::int32_t>(sn);
    qtf = Allocate<double>(sn);
    work = Allocate<double>(3 * sn + sm);
    valid = x && fvec && diag && fjac && ipvt && qtf && work;
    if (!valid)
        return;
    wa1 = work.get();
    wa2 = wa1 + sn;
    wa3 = wa2 + sn;
    wa4 = wa3 + sn;
}

void FocalsFromHomography(const double H[9], double& firstFocal, double& secondFocal, bool& firstOk,
                          bool& secondOk) {
    // H ~ K2 R K1^-1 with K = diag(f, f, 1). The first two columns of R are
    // orthogonal (and of equal length), which fixes the second photo's focal
    // through the perspective terms; the same holds for the rows, which fixes
    // the first photo's focal through the translation terms.
    auto pick = [](double d1, double d2, double v1, double v2, double& focal) {
        if (v1 < v2) {
            std::swap(v1, v2);
            std::swap(d1, d2);
        }
        if (v1 > 0 && v2 > 0 && std::isfinite(v1) && std::isfinite(v2)) {
            focal = std::sqrt(std::fabs(d1) > std::fabs(d2) ? v1 : v2);
            return true;
        }
        if (v1 > 0 && std::isfinite(v1)) {
            focal = std::sqrt(v1);
            return true;
        }
        return false;
    };
    {
        const double d1 = H[6] * H[7];
        const double d2 = (H[7] - H[6]) * (H[7] + H[6]);
        const double v1 = -(H[0] * H[1] + H[3] * H[4]) / d1;
        const double v2 = (H[0] * H[0] + H[3] * H[3] - H[1] * H[1] - H[4] * H[4]) / d2;
        secondOk = pick(d1, d2, v1, v2, secondFocal);
    }
    {
        const double d1 = H[0] * H[3] + H[1] * H[4];
        const double d2 = H[0] * H[0] + H[1] * H[1] - H[3] * H[3] - H[4] * H[4];
        const double v1 = -H[2] * H[5] / d1;
        const double v2 = (H[5] * H[5] - H[2] * H[2]) / d2;
        firstOk = pick(d1, d2, v1, v2, firstFocal);
    }
}

bool FitHomography(const std::vector<AlignmentPoint>& from, const std::vector<AlignmentPoint>& to,
                   const std::vector<double>& weights, double H[9]) {
    const std::size_t count = std::min({from.size(), to.size(), weights.size()});
    // Normalised coordinates keep the normal equations well conditioned.
    double s1 = 0, s2 = 0;
    std::size_t used = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (!(weights[k] > 0))
            continue;
        s1 += std::hypot(from[k].x, from[k].y);
        s2 += std::hypot(to[k].x, to[k].y);
        ++used;
    }
    if (used < 4 || !(s1 > 0) || !(s2 > 0))
        return false;
    s1 = used / s1;
    s2 = used / s2;
    double N[64] = {}, r[8] = {};
    for (std::size_t k = 0; k < count; ++k) {
        const double w = weights[k];
        if (!(w > 0))
            continue;
        const double x = from[k].x * s1, y = from[k].y * s1, u = to[k].x * s2, v = to[k].y * s2;
        const double ax[8] = {x, y, 1, 0, 0, 0, -x * u, -y * u};
        const double ay[8] = {0, 0, 0, x, y, 1, -x * v, -y * v};
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < 8; ++j)
                N[8 * i + j] += w * (ax[i] * ax[j] + ay[i] * ay[j]);
            r[i] += w * (ax[i] * u + ay[i] * v);
        }
    }
    if (!SolveLinear(N, r, 8))
        return false;
    // Back to pixels: H = diag(1/s2, 1/s2, 1) Hn diag(s1, s1, 1).
    const double Hn[9] = {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], 1.0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            H[3 * i + j] = Hn[3 * i + j] * (j < 2 ? s1 : 1.0) / (i < 2 ? s2 : 1.0);
    for (int i = 0; i < 9; ++i)
        if (!std::isfinite(H[i]))
            return false;
    return true;
}

void LevelPoses(std::vector<TiledImagePose>& poses, const std::vector<std::int32_t>& order,
                std::int32_t reference) {
    std::vector<std::int32_t> placed;
    for (std::int32_t i : order)
        if (i >= 0 && static_cast<std::size_t>(i) < poses.size())
            placed.push_back(i);
    if (placed.empty())
        return;
    // Rows of a pose's rotation are its camera axes in the panorama frame:
    // x to the right, y down the photo, z along the view.
    double M[9] = {}, down[3] = {}, ahead[3] = {}, refAhead[3] = {};
    for (std::int32_t i : placed) {
        double R[9];
        RotationFromAngles(R, poses[i].pitch, poses[i].yaw, poses[i].roll);
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b)
                M[3 * a + b] += R[a] * R[b];
            down[a] += R[3 + a];
            ahead[a] += R[6 + a];
            if (i == reference)
                refAhead[a] = R[6 + a];
        }
    }
    if (Normalise(down) == 0.0)
        down[1] = 1.0;
    // Photos that go round (their view axes average out) sweep their view
    // axes about the vertical as well: those axes, taken from their mean,
    // are then as good a witness of the vertical as the horizontal axes, and
    // the two together halve the error either leaves on a handheld ring.
    // Along a part of a turn, a row or a column, only the horizontal axes
    // count (a column sweeps its view axes up and down).
    const double count = static_cast<double>(placed.size());
    for (double& v : ahead)
        v /= count;
    if (std::sqrt(ahead[0] * ahead[0] + ahead[1] * ahead[1] + ahead[2] * ahead[2]) < 0.5) {
        for (std::int32_t i : placed) {
            double R[9];
            RotationFromAngles(R, poses[i].pitch, poses[i].yaw, poses[i].roll);
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b)
                    M[3 * a + b] += (R[6 + a] - ahead[a]) * (R[6 + b] - ahead[b]);
        }
    }
    // The vertical is the direction least seen by the horizontal axes. When
    // those are nearly parallel (a column, or two photos side by side) that
    // direction is free within a plane: the mean down direction, taken into
    // that plane, picks it there.
    double values[3], vectors[9];
    SymmetricEigen3(M, values, vectors);
    double axisY[3] = {vectors[0], vectors[1], vectors[2]};
    if (values[1] < 0.05 * values[2]) {
        const double d0 = down[0] * vectors[0] + down[1] * vectors[1] + down[2] * vectors[2];
        const double d1 = down[0] * vectors[3] + down[1] * vectors[4] + down[2] * vectors[5];
        double inPlane[3];
        for (int a = 0; a < 3; ++a)
            inPlane[a] = d0 * vectors[a] + d1 * vectors[3 + a];
        if (Normalise(inPlane) > 1e-6)
            std::copy(inPlane, inPlane + 3, axisY);
    }
    if (axisY[0] * down[0] + axisY[1] * down[1] + axisY[2] * down[2] < 0)
        for (double& v : axisY)
            v = -v;

    // Keep the reference photo's heading (or the mean view's).
    auto horizontal = [&](const double in[3], double out[3]) {
        const double d = in[0] * axisY[0] + in[1] * axisY[1] + in[2] * axisY[2];
        for (int a = 0; a < 3; ++a)
            out[a] = in[a] - d * axisY[a];
        return Normalise(out) > 1e-6;
    };
    double axisZ[3];
    if (!horizontal(refAhead, axisZ) && !horizontal(ahead, axisZ)) {
        // Every view points along the vertical: any heading will do.
        const double helper[3] = {std::fabs(axisY[0]) < 0.9 ? 1.0 : 0.0,
                                  std::fabs(axisY[0]) < 0.9 ? 0.0 : 1.0, 0.0};
        if (!horizontal(helper, axisZ))
            return;
    }
    double axisX[3];
    Cross(axisY, axisZ, axisX);
    const double W[9] = {axisX[0], axisX[1], axisX[2], axisY[0], axisY[1],
                         axisY[2], axisZ[0], axisZ[1], axisZ[2]};
    for (std::int32_t i : placed) {
        TiledImagePose& pose = poses[i];
        double R[9], L[9];
        RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
        // A direction d of the levelled frame is W^T d in the old one.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                L[3 * a + b] =
                    R[3 * a] * W[3 * b] + R[3 * a + 1] * W[3 * b + 1] + R[3 * a + 2] * W[3 * b + 2];
        AnglesFromRotation(L, pose.pitch, pose.yaw, pose.roll);
    }
}

TiledImagePose CPoseAlignment::StartPose() const {
    TiledImagePose pose;
    pose.focal = startFocal;
    return pose;
}

double CPoseAlignment::EstimateStartFocal() const {
    double widthSum = 0;
    int widthCount = 0;
    for (const OrvexBase::Size& size : photoSizes)
        if (size.cx > 0) {
            widthSum += size.cx;
            ++widthCount;
        }
    if (widthCount == 0)
        return kStartFocal;
    const double meanWidth = widthSum / widthCount;
    const double ratio2 = distanceRatio * distanceRatio;

    std::vector<double> estimates;
    std::vector<AlignmentPoint> from, to;
    std::vector<double> weights;
    for (const AlignmentEdge* e : edges) {
        if (!e)
            continue;
        const std::int32_t a = e->firstImage, b = e->secondImage;
        if (a < 0 || b < 0 || static_cast<std::size_t>(a) >= photoSizes.size() ||
            static_cast<std::size_t>(b) >= photoSizes.size() ||
            static_cast<std::size_t>(a) >= keypoints.size() ||
            static_cast<std::size_t>(b) >= keypoints.size())
            continue;
        from.clear();
        to.clear();
        weights.clear();
        const std::size_t count = UsableInliers(*e);
        std::size_t weighted = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::int32_t i1 = e->inliers1[k], i2 = e->inliers2[k];
            if (i1 < 0 || i2 < 0 || static_cast<std::size_t>(i1) >= keypoints[a].size() ||
                static_cast<std::size_t>(i2) >= keypoints[b].size())
                continue;
            const double w = MatchWeight(*e, k, ratio2);
            from.push_back(
                {keypoints[a][i1].x - photoSizes[a].cx * 0.5, keypoints[a][i1].y - photoSizes[a].cy * 0.5});
            to.push_back(
                {keypoints[b][i2].x - photoSizes[b].cx * 0.5, keypoints[b][i2].y - photoSizes[b].cy * 0.5});
            weights.push_back(w);
            if (w > 0)
                ++weighted;
        }
        double H[9], Hi[9];
        if (weighted < kMinFocalInliers || !FitHomography(from, to, weights, H))
            continue;
        InvertMatrix3x3(Hi, H);
        if (!std::isfinite(Hi[8]) || Hi[8] == 0.0)
            continue;
        for (double& v : Hi)
            v /= Hi[8];
        // Each photo's focal from both relations, of H and of its inverse.
        double fa = 0, fb = 0, ga = 0, gb = 0;
        bool oka = false, okb = false, okga = false, okgb = false;
        FocalsFromHomography(H, fa, fb, oka, okb);
        FocalsFromHomography(Hi, gb, ga, okgb, okga);
        auto plausible = [&](double f) {
            return f >= kLowestFocalOfWidth * meanWidth && f <= kHighestFocalOfWidth * meanWidth;
        };
        auto combine = [&](bool ok1, double f1, bool ok2, double f2, double& out) {
            ok1 = ok1 && plausible(f1);
            ok2 = ok2 && plausible(f2);
            if (ok1 && ok2)
                out = std::sqrt(f1 * f2);
            else if (ok1 || ok2)
                out = ok1 ? f1 : f2;
            return ok1 || ok2;
        };
        double focalA = 0, focalB = 0;
        const bool hasA = combine(oka, fa, okga, ga, focalA);
        const bool hasB = combine(okb, fb, okgb, gb, focalB);
        if (hasA && hasB)
            estimates.push_back(std::sqrt(focalA * focalB));
    }
    if (estimates.empty())
        return kStartFocal;
    std::sort(estimates.begin(), estimates.end());
    const std::size_t half = estimates.size() / 2;
    const double median =
        estimates.size() % 2 ? estimates[half] : 0.5 * (estimates[half - 1] + estimates[half]);
    return kStartBelowEstimate * median;
}

bool CPoseAlignment::AlignImages() {
    const std::size_t photoCount = photoSizes.size();
    fitImplausible = false;
    placementOrder.clear();
    usedEdges.assign(photoCount, {});
    poses.resize(photoCount);

    openEdges.clear();
    for (const AlignmentEdge* edge : edges)
        if (edge)
            openEdges.push_back(edge);
    if (openEdges.empty())
        return false;
    if (referenceImage < 0 || static_cast<std::size_t>(referenceImage) >= photoCount)
        return false;

    // Placement and solve from one start focal; false when the solve
    // failed (non-finite parameters).
    const std::vector<TiledImagePose> unplaced = poses;
    auto placeAndSolve = [&](double focal, bool solve) {
        startFocal = focal;
        poses = unplaced;
        placementOrder.assign(1, referenceImage);
        usedEdges.assign(photoCount, {});
        openEdges.clear();
        for (const AlignmentEdge* edge : edges)
            if (edge)
                openEdges.push_back(edge);
        sharedLens = TiledImagePose();
        if (lensMode == 1) {
            sharedLens = StartPose();
            sharedLens.hasOwnLens = 1;
        }
        poses[referenceImage] = StartPose();

        while (placementOrder.size() < photoCount) {
            std::int32_t newPhoto = -1, anchor = -1;
            const AlignmentEdge* edge = nullptr;
            if (!PickNextImage(newPhoto, anchor, edge))
                break;
            poses[newPhoto] = StartPose();
            InitPoseFromEdge(anchor, newPhoto, edge);
            placementOrder.push_back(newPhoto);
            usedEdges[anchor].push_back(edge);
            ClaimEdges(openEdges);
            if (solve && !optimizeAtEnd)
                OptimizePoses();
        }
        if (solve && optimizeAtEnd)
            OptimizePoses();
    };

    // The estimate reads the focal high under barrel distortion, and a ring
    // closes only from a start at or somewhat below its focal: 0.8 of the
    // estimate, unless the estimate itself or a start above it lets the
    // start poses agree with the matches better (an undistorted long ring
    // needs a start close to its focal).
    auto rankStarts = [&](double estimated) {
        std::vector<double> starts = {estimated};
        if (estimated != kStartFocal && optimizeAtEnd) {
            const double median = estimated / kStartBelowEstimate;
            std::vector<std::pair<double, double>> ranked;
            for (double focal : {estimated, median, 1.25 * median}) {
                placeAndSolve(focal, false);
                ranked.push_back({StartRmsDistance(), focal});
            }
            std::stable_sort(ranked.begin(), ranked.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            starts.clear();
            for (const auto& r : ranked)
                starts.push_back(r.second);
        }
        return starts;
    };
    // A fit whose matches end far apart is a wrong minimum: the next start
    // is tried then, and the closest fit is kept.
    struct Fit {
        double rms;
        double focal;
        std::vector<TiledImagePose> poses;
        TiledImagePose lens;
        std::vector<std::int32_t> order;
    };
    double widthSum = 0;
    for (const OrvexBase::Size& size : photoSizes)
        widthSum += std::max(0, size.cx);
    const double goodFit = kGoodFitOfWidth * widthSum / static_cast<double>(photoCount);
    // A false edge (a few matches between repeated windows of photos that do
    // not overlap) pulls every start into the same wrong minimum, where it
    // alone ends whole photo widths apart: the fit is tried again without
    // it, as long as the photos stay joined.
    const std::vector<const AlignmentEdge*> given = edges;
    Fit best{std::numeric_limits<double>::infinity(), kStartFocal, {}, {}, {}};
    for (int dropped = 0;; ++dropped) {
        const std::vector<double> starts = rankStarts(EstimateStartFocal());
        Fit round{std::numeric_limits<double>::infinity(), kStartFocal, {}, {}, {}};
        for (double focal : starts) {
            placeAndSolve(focal, true);
            if (round.poses.empty() || lastRmsDistance < round.rms)
                round = {lastRmsDistance, startFocal, poses, sharedLens, placementOrder};
            if (lastRmsDistance <= goodFit)
                break;
        }
        if (best.poses.empty() || round.rms < best.rms)
            best = round;
        if (round.rms <= goodFit || dropped == kMostFalseEdges)
            break;
        // The edges used are those of the last placement, which the start
        // does not change.
        poses = round.poses;
        sharedLens = round.lens;
        double edgeRms = 0.0;
        const AlignmentEdge* worst = WorstFittingEdge(edgeRms);
        if (!worst || edgeRms < kFalseEdgeOfFit * round.rms || !JoinedWithout(worst))
            break;
        edges.erase(std::remove(edges.begin(), edges.end(), worst), edges.end());
    }
    edges = given;
    // Photos showing nearly the same view (a near-duplicate pair) tell
    // nothing of the focal length or the lens: their whole-panorama scale
    // and the lens terms then run off to fit the matches' noise, until the
    // lens folds the photos or the focal is none a camera has. Such a fit is
    // solved again with the reference photo's focal and the lens held at
    // their start (the other focals still follow the photos' scale to it);
    // when that does not fit the matches either, there is no panorama.
    if (!best.poses.empty() && !IntrinsicsPlausible(best.poses, best.lens)) {
        holdIntrinsics_ = true;
        ScopeExit release([this] { holdIntrinsics_ = false; });
        placeAndSolve(best.focal, true);
        if (IntrinsicsPlausible(poses, sharedLens) && lastRmsDistance <= kImplausibleFitOfGood * goodFit)
            best = {lastRmsDistance, startFocal, poses, sharedLens, placementOrder};
        else
            best.rms = std::numeric_limits<double>::infinity();
    }
    startFocal = best.focal;
    poses = best.poses;
    sharedLens = best.lens;
    placementOrder = best.order;
    lastRmsDistance = best.rms;
    // Matches still this far apart are no view a camera gives.
    fitImplausible = best.rms > kImplausibleFitOfGood * goodFit;
    LevelPoses(poses, placementOrder, referenceImage);
    usedEdges.assign(photoCount, {});
    tasks_.clear();
    return true;
}

bool CPoseAlignment::IntrinsicsPlausible(const std::vector<TiledImagePose>& fitted,
                                         const TiledImagePose& lens) const {
    double widthSum = 0, corner = 0;
    int widthCount = 0;
    for (std::int32_t photo : placementOrder) {
        const OrvexBase::Size size = photoSizes[static_cast<std::size_t>(photo)];
        widthSum += size.cx;
        ++widthCount;
        corner = std::max(corner, 0.5 * std::hypot(size.cx, size.cy));
    }
    if (widthCount == 0 || !(widthSum > 0))
        return true;
    const double meanWidth = widthSum / widthCount;
    for (std::int32_t photo : placementOrder) {
        const double f = fitted[static_cast<std::size_t>(photo)].focal;
        if (!(f >= kLowestFocalOfWidth * meanWidth && f <= kHighestFocalOfWidth * meanWidth))
            return false;
    }
    // A lens that folds a photo (its mapping turns back before the corner)
    // is no lens.
    return lensMode != 1 || std::isfinite(LensModelReach(lensModel, lens, corner));
}

const AlignmentEdge* CPoseAlignment::WorstFittingEdge(double& edgeRms) {
    BuildResidualTasks(ResidualCount());
    const double ratio2 = distanceRatio * distanceRatio;
    const AlignmentEdge* worst = nullptr;
    edgeRms = 0.0;
    // Each task writes only its own range of the residuals.
    std::vector<double> fvec(static_cast<std::size_t>(ResidualCount()));
    for (const ResidualTask& task : tasks_) {
        EvaluateTask(task, fvec.data());
        double cost = 0.0, weights = 0.0;
        for (int k = 0; k < task.count; ++k) {
            for (int r = 0; r < 4; ++r)
                cost += fvec[task.offset + 4 * k + r] * fvec[task.offset + 4 * k + r];
            weights += 2.0 * MatchWeight(*task.edge, static_cast<std::size_t>(k), ratio2);
        }
        const double rms = weights > 0 ? std::sqrt(cost / weights) : 0.0;
        if (rms > edgeRms) {
            edgeRms = rms;
            worst = task.edge;
        }
    }
    tasks_.clear();
    return worst;
}

bool CPoseAlignment::JoinedWithout(const AlignmentEdge* skipped) const {
    auto reached = [&](const AlignmentEdge* skip) {
        std::vector<char> seen(photoSizes.size(), 0);
        std::vector<std::int32_t> todo = {referenceImage};
        seen[static_cast<std::size_t>(referenceImage)] = 1;
        std::size_t count = 1;
        while (!todo.empty()) {
            const std::int32_t photo = todo.back();
            todo.pop_back();
            for (const AlignmentEdge* e : edges) {
                if (!e || e == skip || (e->firstImage != photo && e->secondImage != photo))
                    continue;
                const std::int32_t other = e->firstImage == photo ? e->secondImage : e->firstImage;
                if (other < 0 || static_cast<std::size_t>(other) >= seen.size() || seen[other])
                    continue;
                seen[other] = 1;
                ++count;
                todo.push_back(other);
            }
        }
        return count;
    };
    return reached(skipped) == reached(nullptr);
}

bool CPoseAlignment::PickNextImage(std::int32_t& newPhoto, std::int32_t& anchor, const AlignmentEdge*& edge) {
    std::int32_t best = std::numeric_limits<std::int32_t>::min();
    std::size_t bestIndex = 0;
    std::int32_t bestPlaced = -1;
    for (std::int32_t placed : placementOrder) {
        for (std::size_t i = 0; i < openEdges.size(); ++i) {
            const AlignmentEdge* e = openEdges[i];
            if ((e->firstImage == placed || e->secondImage == placed) && e->inlierCount > best) {
                best = e->inlierCount;
                bestIndex = i;
                bestPlaced = placed;
            }
        }
    }
    if (bestPlaced < 0) {
        newPhoto = anchor = -1;
        edge = nullptr;
        return false;
    }
    edge = openEdges[bestIndex];
    anchor = bestPlaced;
    newPhoto = edge->firstImage == bestPlaced ? edge->secondImage : edge->firstImage;
    openEdges.erase(openEdges.begin() + static_cast<std::ptrdiff_t>(bestIndex));
    // A malformed edge (index outside the photo list, or a loop) places nothing.
    if (newPhoto < 0 || static_cast<std::size_t>(newPhoto) >= photoSizes.size() || newPhoto == anchor ||
        std::find(placementOrder.begin(), placementOrder.end(), newPhoto) != placementOrder.end())
        return PickNextImage(newPhoto, anchor, edge);
    return true;
}

void CPoseAlignment::ClaimEdges(std::vector<const AlignmentEdge*>& open) {
    for (std::size_t i = 0; i < placementOrder.size(); ++i) {
        for (std::size_t j = i + 1; j < placementOrder.size(); ++j) {
            const std::int32_t a = placementOrder[i], b = placementOrder[j];
            for (auto it = open.begin(); it != open.end();) {
                const AlignmentEdge* e = *it;
                if ((e->firstImage == a && e->secondImage == b) ||
                    (e->firstImage == b && e->secondImage == a)) {
                    usedEdges[a].push_back(e);
                    it = open.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
}

bool CPoseAlignment::InitPoseFromEdge(std::int32_t anchor, std::int32_t newPhoto, const AlignmentEdge* edge) {
    if (!edge)
        return false;
    double H[9];
    if (edge->firstImage == newPhoto)
        std::copy(edge->transform, edge->transform + 9, H);
    else
        InvertMatrix3x3(H, edge->transform);
    for (double v : H)
        if (!std::isfinite(v))
            return false;  // singular transform: keep the start pose

    const OrvexBase::Size sa = photoSizes[anchor], sb = photoSizes[newPhoto];
    const double wa = sa.cx, ha = sa.cy, wb = sb.cx, hb = sb.cy;
    const double xc = H[0] * (wb / 2) + H[1] * (hb / 2) + H[2] - wa / 2;
    const double yc = H[3] * (wb / 2) + H[4] * (hb / 2) + H[5] - ha / 2;

    double t = std::atan(-H[3] / H[0]);
    const double c = std::cos(t);
    const double s1 = std::fabs(H[0] / c), s2 = std::fabs(H[4] / c);
    double s = std::fabs(s1 - 1.0) > std::fabs(s2 - 1.0) ? s2 : s1;
    // A quarter turn (H00 = 0) makes both quotients useless and the focal
    // infinite; the length of the first column is the scale then.
    if (s == 0.0 || !std::isfinite(s)) {
        s = std::sqrt(H[0] * H[0] + H[3] * H[3]);
        if (s == 0.0 || !std::isfinite(s))
            s = 1.0;
    }
    if (!std::isfinite(t))
        t = 0.0;
    if (H[0] < 0)
        t = -t;

    const TiledImagePose& pa = poses[anchor];
    TiledImagePose& pb = poses[newPhoto];
    pb.focal = pa.focal / s;
    // The turn from the anchor's camera to the new one, in the anchor's
    // camera frame. It is composed with the anchor's rotation rather than
    // added to its angles: adding is the same for an anchor at zero angles,
    // but along a row that looks up or down it tilts each next photo a
    // little more, until the start poses of a multi-row sphere are garbled.
    double Rrel[9], Ra[9], Rb[9];
    RotationFromAngles(Rrel, -std::atan(yc / pa.focal) * 180.0 / kPi, std::atan(xc / pa.focal) * 180.0 / kPi,
                       -t * 180.0 / kPi);
    RotationFromAngles(Ra, pa.pitch, pa.yaw, pa.roll);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            Rb[3 * i + j] = Rrel[3 * i] * Ra[j] + Rrel[3 * i + 1] * Ra[3 + j] + Rrel[3 * i + 2] * Ra[6 + j];
    AnglesFromRotation(Rb, pb.pitch, pb.yaw, pb.roll);
    return true;
}

bool CPoseAlignment::IsHeldIntrinsic(std::size_t j) const {
    if (!holdIntrinsics_)
        return false;
    const std::size_t lensCount = sharedLens.hasOwnLens ? 3 : 0;
    if (j < lensCount)
        return true;
    const std::size_t slot = (j - lensCount) / 4;
    return (j - lensCount) % 4 == 0 && slot < placementOrder.size() && placementOrder[slot] == referenceImage;
}

int CPoseAlignment::SolveHeld(void* p, int m, int, const double* x, double* fvec, int) {
    HeldSolve& held = *static_cast<HeldSolve*>(p);
    for (std::size_t j = 0; j < held.free.size(); ++j)
        held.full[static_cast<std::size_t>(held.free[j])] = x[j];
    return held.align->AlignmentResiduals(m, static_cast<int>(held.full.size()), held.full.data(), fvec);
}

int CPoseAlignment::ParameterCount() const {
    return 4 * static_cast<int>(placementOrder.size()) + (sharedLens.hasOwnLens ? 3 : 0);
}

int CPoseAlignment::ResidualCount() const {
    std::size_t m = 0;
    for (const auto& list : usedEdges)
        for (const AlignmentEdge* e : list)
            m += 4 * UsableInliers(*e);
    return static_cast<int>(std::min<std::size_t>(m, std::numeric_limits<int>::max()));
}

void CPoseAlignment::PackAlignmentParams(double* x) const {
    std::size_t k = 0;
    if (sharedLens.hasOwnLens) {
        x[k++] = kLensScale * sharedLens.a;
        x[k++] = kLensScale * sharedLens.b;
        x[k++] = kLensScale * sharedLens.c;
    }
    for (std::int32_t photo : placementOrder) {
        const TiledImagePose& pose = poses[photo];
        x[k++] = pose.focal;
        x[k++] = pose.pitch;
        x[k++] = pose.yaw;
        x[k++] = pose.roll;
    }
}

void CPoseAlignment::UnpackAlignmentParams(const double* x) {
    std::size_t k = 0;
    if (sharedLens.hasOwnLens) {
        sharedLens.a = x[k++] / kLensScale;
        sharedLens.b = x[k++] / kLensScale;
        sharedLens.c = x[k++] / kLensScale;
    }
    for (std::int32_t photo : placementOrder) {
        TiledImagePose& pose = poses[photo];
        pose.focal = x[k++];
        pose.pitch = WrapAngleClosed(x[k++]);
        pose.yaw = WrapAngleClosed(x[k++]);
        pose.roll = WrapAngleClosed(x[k++]);
    }
}

void CPoseAlignment::OptimizePoses() {
    const int m = ResidualCount();
    const int n = ParameterCount();
    LmdifWorkspace ws(m, n);
    // An m x n Jacobian for thousands of matches is large: a failed
    // allocation fails the build instead of writing through null.
    if (!ws.IsValid())
        throw panorama_error();
    PackAlignmentParams(ws.x.get());

    BuildResidualTasks(m);
    baseX_.clear();
    baseF_.clear();
    lastSteps = 0;
    lastRefineSteps = 0;
    if (refineStart && m >= n)
        RefineStart(ws.x.get(), m, n);
    // The call's own ftol (1e-4) is used, not the workspace's 2^-52. With
    // fewer residuals than parameters MINPACK returns at once without a step,
    // and the poses keep their start values.
    const double ftol = 1e-4;
    int nfev = 0;
    if (!holdIntrinsics_) {
        lastInfo = lmdif(Solve, this, m, n, ws.x.get(), ws.fvec.get(), ftol, ws.xtol, ws.gtol, ws.maxfev,
                         ws.epsfcn, ws.diag.get(), ws.mode, ws.factor, ws.nprint, &nfev, ws.fjac.get(), m,
                         ws.ipvt.get(), ws.qtf.get(), ws.wa1, ws.wa2, ws.wa3, ws.wa4);
    } else {
        // The held parameters stay out of the solver's vector; each
        // evaluation sees them at their start beside the free ones.
        HeldSolve held{this, std::vector<double>(ws.x.get(), ws.x.get() + n), {}};
        for (int j = 0; j < n; ++j)
            if (!IsHeldIntrinsic(static_cast<std::size_t>(j)))
                held.free.push_back(j);
        const int k = static_cast<int>(held.free.size());
        LmdifWorkspace reduced(m, k);
        if (!reduced.IsValid())
            throw panorama_error();
        for (int j = 0; j < k; ++j)
            reduced.x[j] = ws.x[held.free[j]];
        lastInfo = lmdif(SolveHeld, &held, m, k, reduced.x.get(), ws.fvec.get(), ftol, reduced.xtol,
                         reduced.gtol, reduced.maxfev, reduced.epsfcn, reduced.diag.get(), reduced.mode,
                         reduced.factor, reduced.nprint, &nfev, reduced.fjac.get(), m, reduced.ipvt.get(),
                         reduced.qtf.get(), reduced.wa1, reduced.wa2, reduced.wa3, reduced.wa4);
        for (int j = 0; j < k; ++j)
            ws.x[held.free[j]] = reduced.x[j];
    }
    lastEvaluations = nfev;
    // lmdif leaves the residuals of its final parameters in fvec.
    lastResiduals = m;
    lastRmsDistance = RmsDistance(ws.fvec.get(), m);
    tasks_.clear();
    baseX_.clear();
    baseF_.clear();
    UnpackAlignmentParams(ws.x.get());

    // A diverged fit would hand NaN poses to the surfaces.
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(ws.x[i]))
            throw panorama_error();
}

double CPoseAlignment::RmsDistance(const double* fvec, int m) const {
    double cost = 0.0, weights = 0.0;
    for (int i = 0; i < m; ++i)
        cost += fvec[i] * fvec[i];
    const double ratio2 = distanceRatio * distanceRatio;
    for (const ResidualTask& task : tasks_)
        for (int k = 0; k < task.count; ++k)
            weights += 2.0 * MatchWeight(*task.edge, static_cast<std::size_t>(k), ratio2);
    return weights > 0 ? std::sqrt(cost / weights) : 0.0;
}

double CPoseAlignment::StartRmsDistance() {
    const int m = ResidualCount(), n = ParameterCount();
    std::vector<double> x(static_cast<std::size_t>(n)), fvec(static_cast<std::size_t>(m));
    PackAlignmentParams(x.data());
    BuildResidualTasks(m);
    for (const ResidualTask& task : tasks_)
        EvaluateTask(task, fvec.data());
    const double rms = RmsDistance(fvec.data(), m);
    tasks_.clear();
    return rms;
}

void CPoseAlignment::BuildResidualTasks(int m) {
    tasks_.clear();
    int next = 0;
    for (std::int32_t p : placementOrder) {
        if (p < 0 || static_cast<std::size_t>(p) >= usedEdges.size())
            continue;
        for (const AlignmentEdge* e : usedEdges[p]) {
            const int count = static_cast<int>(std::min<std::size_t>(
                UsableInliers(*e), static_cast<std::size_t>(std::max(0, m - next) / 4)));
            const std::int32_t q = e->firstImage == p ? e->secondImage : e->firstImage;
            tasks_.push_back({p, q, e, next, count});
            next += 4 * count;
        }
    }
}

void CPoseAlignment::EvaluateTask(const ResidualTask& task, double* fvec) const {
    const bool lens = lensMode == 1;
    const std::int32_t model = lensModel;
    const double ratio2 = distanceRatio * distanceRatio;
    auto keypoint = [&](std::int32_t photo, std::int32_t index, double& x0, double& y0) {
        if (!CentredKeypoint(photo, index, x0, y0))
            return false;
        if (lens)
            ApplyLens(model, sharedLens, x0, y0);
        return true;
    };
    const std::int32_t p = task.p, q = task.q;
    const AlignmentEdge* e = task.edge;
    const bool pFirst = e->firstImage == p;
    const auto& indicesP = pFirst ? e->inliers1 : e->inliers2;
    const auto& indicesQ = pFirst ? e->inliers2 : e->inliers1;
    const TiledImagePose &pp = poses[p], &pq = poses[q];
    double Mpq[9];
    RelativeRotation(pp, pq, Mpq);
    for (int k = 0; k < task.count; ++k) {
        double* out = fvec + task.offset + 4 * k;
        double px, py, qx, qy;
        if (!keypoint(p, indicesP[k], px, py) || !keypoint(q, indicesQ[k], qx, qy)) {
            out[0] = out[1] = out[2] = out[3] = 0.0;
            continue;
        }
        const double root = std::sqrt(MatchWeight(*e, static_cast<std::size_t>(k), ratio2));
        MatchResiduals(Mpq, px, py, qx, qy, pp.focal, pq.focal, root, out);
    }
}

bool CPoseAlignment::CentredKeypoint(std::int32_t photo, std::int32_t index, double& x0, double& y0) const {
    if (photo < 0 || static_cast<std::size_t>(photo) >= keypoints.size())
        return false;
    const auto& list = keypoints[photo];
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        return false;
    x0 = list[index].x - photoSizes[photo].cx * 0.5;
    y0 = list[index].y - photoSizes[photo].cy * 0.5;
    return true;
}

void CPoseAlignment::TaskMatches::Take(const CPoseAlignment& align, const ResidualTask& task) {
    const double ratio2 = align.distanceRatio * align.distanceRatio;
    const AlignmentEdge* e = task.edge;
    const bool pFirst = e->firstImage == task.p;
    const auto& indicesP = pFirst ? e->inliers1 : e->inliers2;
    const auto& indicesQ = pFirst ? e->inliers2 : e->inliers1;
    const std::size_t count = static_cast<std::size_t>(task.count);
    centred.assign(4 * count, 0.0);
    root.assign(count, 0.0);
    valid.assign(count, 0);
    for (std::size_t k = 0; k < count; ++k) {
        double* c = &centred[4 * k];
        if (!align.CentredKeypoint(task.p, indicesP[k], c[0], c[1]) ||
            !align.CentredKeypoint(task.q, indicesQ[k], c[2], c[3]))
            continue;
        valid[k] = 1;
        root[k] = std::sqrt(MatchWeight(*e, k, ratio2));
    }
}

void CPoseAlignment::TaskMatches::Lensed(bool lens, std::int32_t model, const TiledImagePose& lensPose,
                                         double* out) const {
    const std::size_t count = root.size();
    for (std::size_t k = 0; k < count; ++k) {
        if (!valid[k])
            continue;
        for (std::size_t i = 0; i < 4; i += 2) {
            double x0 = centred[4 * k + i], y0 = centred[4 * k + i + 1];
            if (lens)
                ApplyLens(model, lensPose, x0, y0);
            out[4 * k + i] = x0;
            out[4 * k + i + 1] = y0;
        }
    }
}

void CPoseAlignment::TaskMatches::Evaluate(const double* points, const TiledImagePose& pp,
                                           const TiledImagePose& pq, double* out) const {
    double Mpq[9];
    RelativeRotation(pp, pq, Mpq);
    const std::size_t count = root.size();
    for (std::size_t k = 0; k < count; ++k) {
        double* o = out + 4 * k;
        if (!valid[k]) {
            o[0] = o[1] = o[2] = o[3] = 0.0;
            continue;
        }
        const double* c = points + 4 * k;
        MatchResiduals(Mpq, c[0], c[1], c[2], c[3], pp.focal, pq.focal, root[k], o);
    }
}

void CPoseAlignment::RefineStart(double* x, int m, int n) {
    const std::size_t sn = static_cast<std::size_t>(n), sm = static_cast<std::size_t>(m);
    const std::size_t lensCount = sharedLens.hasOwnLens ? 3 : 0;
    std::vector<std::size_t> slotOf(poses.size(), 0);
    for (std::size_t i = 0; i < placementOrder.size(); ++i)
        slotOf[static_cast<std::size_t>(placementOrder[i])] = lensCount + 4 * i;
    // The residuals see only relative turns: the reference photo's angles
    // are held, which fixes the common rotation the normal equations
    // cannot.
    std::vector<char> held(sn, 0);
    for (std::size_t i = 0; i < placementOrder.size(); ++i)
        if (placementOrder[i] == referenceImage)
            held[slotOf[static_cast<std::size_t>(referenceImage)] + 1] =
                held[slotOf[static_cast<std::size_t>(referenceImage)] + 2] =
                    held[slotOf[static_cast<std::size_t>(referenceImage)] + 3] = 1;
    for (std::size_t j = 0; j < sn; ++j)
        if (IsHeldIntrinsic(j))
            held[j] = 1;

    std::vector<double> f(sm), fPlus(sm), A(sn * sn), g(sn), M(sn * sn), step(sn), trial(sn);
    // Each task's columns and sums are its own: the tasks run side by side,
    // and their sums are added to the normal equations in task order, so
    // every sum is the one the tasks give one after another.
    struct TaskWork {
        TaskMatches matches;
        std::size_t params[11];
        std::size_t count = 0;
        std::vector<double> lensed, moved, plus, minus, jacobian;  // jacobian: rows x count
        double g[11];
        double A[11 * 11];
    };
    std::vector<TaskWork> work(tasks_.size());
    Platform::ThreadPool& pool = Platform::ThreadPool::Shared();
    auto forTasks = [&](auto body) {
        pool.ParallelFor(0, tasks_.size(), [&](std::size_t b, std::size_t e) {
            for (std::size_t t = b; t < e; ++t)
                body(tasks_[t], work[t]);
        });
    };
    forTasks([&](const ResidualTask& task, TaskWork& w) {
        w.matches.Take(*this, task);
        for (std::size_t i = 0; i < lensCount; ++i)
            w.params[w.count++] = i;
        for (std::int32_t photo : {task.p, task.q})
            for (std::size_t i = 0; i < 4; ++i)
                if (!held[slotOf[static_cast<std::size_t>(photo)] + i])
                    w.params[w.count++] = slotOf[static_cast<std::size_t>(photo)] + i;
        const std::size_t rows = 4 * static_cast<std::size_t>(task.count);
        w.lensed.assign(rows, 0.0);
        w.moved.assign(rows, 0.0);
        w.plus.assign(rows, 0.0);
        w.minus.assign(rows, 0.0);
        w.jacobian.assign(rows * w.count, 0.0);
    });
    const bool lens = lensMode == 1;
    const std::int32_t model = lensModel;
    auto cost = [&](const double* at, std::vector<double>& out) {
        UnpackAlignmentParams(at);
        // One evaluation is too little work to share out.
        for (std::size_t t = 0; t < tasks_.size(); ++t) {
            TaskWork& w = work[t];
            w.matches.Lensed(lens, model, sharedLens, w.lensed.data());
            w.matches.Evaluate(w.lensed.data(), poses[tasks_[t].p], poses[tasks_[t].q],
                               out.data() + tasks_[t].offset);
        }
        double sum = 0;
        for (double v : out)
            sum += v * v;
        return sum;
    };
    // The residuals of one task with parameter j at value v and the others
    // at x, as UnpackAlignmentParams would set them; w.lensed holds the
    // points at x's lens.
    auto evaluateMoved = [&](const ResidualTask& task, TaskWork& w, std::size_t j, double v, double* out) {
        if (j < lensCount) {
            TiledImagePose movedLens = sharedLens;
            (j == 0 ? movedLens.a : j == 1 ? movedLens.b : movedLens.c) = v / kLensScale;
            w.matches.Lensed(lens, model, movedLens, w.moved.data());
            w.matches.Evaluate(w.moved.data(), poses[task.p], poses[task.q], out);
            return;
        }
        const std::int32_t photo = placementOrder[(j - lensCount) / 4];
        const std::size_t field = (j - lensCount) % 4;
        TiledImagePose pp = poses[task.p], pq = poses[task.q];
        for (TiledImagePose* pose : {&pp, &pq}) {
            if ((pose == &pp ? task.p : task.q) != photo)
                continue;
            if (field == 0)
                pose->focal = v;
            else
                (field == 1 ? pose->pitch : field == 2 ? pose->yaw : pose->roll) = WrapAngleClosed(v);
        }
        w.matches.Evaluate(w.lensed.data(), pp, pq, out);
    };
    double current = cost(x, f);
    double lambda = 1e-3;
    constexpr int kMaxSteps = 100;
    for (int iteration = 0; iteration < kMaxSteps && std::isfinite(current); ++iteration) {
        std::fill(A.begin(), A.end(), 0.0);
        std::fill(g.begin(), g.end(), 0.0);
        UnpackAlignmentParams(x);
        forTasks([&](const ResidualTask& task, TaskWork& w) {
            const std::size_t rows = 4 * static_cast<std::size_t>(task.count), first = task.offset;
            const std::size_t count = w.count;
            w.matches.Lensed(lens, model, sharedLens, w.lensed.data());
            // Central differences: the refinement has to land where lmdif,
            // with its forward differences, finds nothing left to gain.
            for (std::size_t c = 0; c < count; ++c) {
                const std::size_t j = w.params[c];
                const double keep = x[j], h = 1e-5 * std::max(1.0, std::fabs(keep));
                evaluateMoved(task, w, j, keep + h, w.plus.data());
                evaluateMoved(task, w, j, keep - h, w.minus.data());
                for (std::size_t r = 0; r < rows; ++r)
                    w.jacobian[r * count + c] = (w.plus[r] - w.minus[r]) / (2 * h);
            }
            kNormalSums[count](w.jacobian.data(), f.data() + first, rows, w.g, w.A);
        });
        for (const TaskWork& w : work) {
            const std::size_t* params = w.params;
            for (std::size_t a = 0; a < w.count; ++a) {
                g[params[a]] += w.g[a];
                for (std::size_t b = a; b < w.count; ++b) {
                    const double sum = w.A[a * w.count + b];
                    A[params[a] * sn + params[b]] += sum;
                    if (b != a)
                        A[params[b] * sn + params[a]] += sum;
                }
            }
        }
        UnpackAlignmentParams(x);
        bool accepted = false;
        double next = current;
        while (!accepted && lambda < 1e16) {
            // (A + lambda diag A) step = -g, by Cholesky; held parameters
            // keep a unit row.
            for (std::size_t i = 0; i < sn; ++i)
                for (std::size_t j = 0; j < sn; ++j)
                    M[i * sn + j] = held[i] || held[j] ? (i == j ? 1.0 : 0.0) : A[i * sn + j];
            for (std::size_t i = 0; i < sn; ++i)
                if (!held[i])
                    M[i * sn + i] += lambda * std::max(A[i * sn + i], 1e-12);
            bool factored = true;
            for (std::size_t j = 0; j < sn && factored; ++j) {
                double d = M[j * sn + j];
                for (std::size_t k = 0; k < j; ++k)
                    d -= M[j * sn + k] * M[j * sn + k];
                if (!(d > 0)) {
                    factored = false;
                    break;
                }
                d = std::sqrt(d);
                M[j * sn + j] = d;
                for (std::size_t i = j + 1; i < sn; ++i) {
                    double v = M[i * sn + j];
                    const double* ri = &M[i * sn];
                    const double* rj = &M[j * sn];
                    for (std::size_t k = 0; k < j; ++k)
                        v -= ri[k] * rj[k];
                    M[i * sn + j] = v / d;
                }
            }
            if (!factored) {
                lambda *= 10;
                continue;
            }
            for (std::size_t i = 0; i < sn; ++i) {
                double v = held[i] ? 0.0 : -g[i];
                for (std::size_t k = 0; k < i; ++k)
                    v -= M[i * sn + k] * step[k];
                step[i] = v / M[i * sn + i];
            }
            for (std::size_t i = sn; i-- > 0;) {
                double v = step[i];
                for (std::size_t k = i + 1; k < sn; ++k)
                    v -= M[k * sn + i] * step[k];
                step[i] = v / M[i * sn + i];
            }
            for (std::size_t i = 0; i < sn; ++i)
                trial[i] = x[i] + step[i];
            next = cost(trial.data(), fPlus);
            if (std::isfinite(next) && next < current) {
                accepted = true;
                lambda = std::max(lambda / 10, 1e-10);
            } else {
                lambda *= 10;
            }
        }
        if (!accepted)
            break;
        std::copy(trial.begin(), trial.end(), x);
        f.swap(fPlus);
        const double gain = current - next;
        current = next;
        ++lastRefineSteps;
        // Far below lmdif's own stopping test (a relative gain of 1e-4): on
        // a row with little perspective the focal lengths lie in a flat
        // valley, and stopping early there leaves lmdif a worse minimum.
        // With lens terms the steps along that valley gain little each;
        // lmdif's QR finishes what is left.
        if (gain <= 1e-9 * current)
            break;
    }
    UnpackAlignmentParams(x);
}

int CPoseAlignment::AlignmentResiduals(int m, int n, const double* x, double* fvec) {
    UnpackAlignmentParams(x);
    const bool solving = !tasks_.empty();
    if (!solving)
        BuildResidualTasks(m);
    const std::size_t lensCount = sharedLens.hasOwnLens ? 3 : 0;
    const std::size_t sn = static_cast<std::size_t>(std::max(0, n)),
                      sm = static_cast<std::size_t>(std::max(0, m));

    // What moved since the last full evaluation: nothing, one parameter (a
    // Jacobian column) or more (a trial step, which becomes the new base).
    // A lens column moves every residual but leaves the base alone, so the
    // pose columns after it still evaluate only their photo's edges.
    std::size_t changed = 0, movedIndex = 0;
    const bool haveBase = solving && baseX_.size() == sn && baseF_.size() == sm;
    if (haveBase)
        for (std::size_t i = 0; i < sn && changed < 2; ++i)
            if (x[i] != baseX_[i]) {
                ++changed;
                movedIndex = i;
            }
    if (haveBase && changed > 1)
        ++lastSteps;
    int next = 0;
    if (!haveBase || changed > 1 || (changed == 1 && movedIndex < lensCount)) {
        for (const ResidualTask& task : tasks_) {
            EvaluateTask(task, fvec);
            next = std::max(next, task.offset + 4 * task.count);
        }
        while (next < m)
            fvec[next++] = 0.0;
        if (solving && (!haveBase || changed > 1)) {
            baseX_.assign(x, x + sn);
            baseF_.assign(fvec, fvec + sm);
        }
        if (!solving)
            tasks_.clear();
        return 0;
    }
    std::copy(baseF_.begin(), baseF_.end(), fvec);
    if (changed == 1) {
        const std::int32_t photo = placementOrder[(movedIndex - lensCount) / 4];
        for (const ResidualTask& task : tasks_)
            if (task.p == photo || task.q == photo)
                EvaluateTask(task, fvec);
    }
    return 0;
}

}  // namespace Tiled_Panorama
