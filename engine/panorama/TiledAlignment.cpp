#include "TiledAlignment.h"

#include <cminpack.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "LensModel.h"
#include "PanoramaLib.h"

namespace Tiled_Panorama {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kStartFocal = 1000.0;
// Lens coefficients are tiny next to angles and focal lengths; scaling them
// keeps the forward-difference steps of the solver meaningful.
constexpr double kLensScale = 10000.0;

template <class T>
std::unique_ptr<T[]> Allocate(std::size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[std::max<std::size_t>(count, 1)]());
}

TiledImagePose StartPose() {
    TiledImagePose pose;
    pose.focal = kStartFocal;
    return pose;
}

// The inliers an edge really describes: its count, but never past its index
// lists. A match without a score counts with full weight.
std::size_t UsableInliers(const AlignmentEdge& edge) {
    std::size_t count = static_cast<std::size_t>(std::max(0, edge.inlierCount));
    count = std::min({count, edge.inliers1.size(), edge.inliers2.size()});
    return count;
}

int Solve(void* p, int m, int n, const double* x, double* fvec, int) {
    return static_cast<CPoseAlignment*>(p)->AlignmentResiduals(m, n, x, fvec);
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

std::vector<std::vector<AlignmentPoint>> PointsFromKeypointSets(const std::vector<CKeypointSet*>& sets) {
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
    fjac = Allocate<double>(sm * sn);
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

bool CPoseAlignment::AlignImages() {
    const std::size_t photoCount = photoSizes.size();
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

    placementOrder.push_back(referenceImage);
    sharedLens.hasOwnLens = lensMode == 1 ? 1 : 0;
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
        if (!optimizeAtEnd)
            OptimizePoses();
    }
    if (optimizeAtEnd)
        OptimizePoses();
    usedEdges.assign(photoCount, {});
    return true;
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
    pb.roll = pa.roll - t * 180.0 / kPi;
    pb.yaw = pa.yaw + std::atan(xc / pa.focal) * 180.0 / kPi;
    pb.pitch = pa.pitch - std::atan(yc / pa.focal) * 180.0 / kPi;
    return true;
}

int CPoseAlignment::ParameterCount() const {
    return 4 * static_cast<int>(placementOrder.size()) + (sharedLens.hasOwnLens ? 3 : 0);
}

int CPoseAlignment::ResidualCount() const {
    std::size_t m = 0;
    for (const auto& list : usedEdges)
        for (const AlignmentEdge* e : list)
            m += UsableInliers(*e);
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

    // The call's own ftol (1e-4) is used, not the workspace's 2^-52. With
    // fewer residuals than parameters MINPACK returns at once without a step,
    // and the poses keep their start values.
    const double ftol = 1e-4;
    int nfev = 0;
    lastInfo = lmdif(Solve, this, m, n, ws.x.get(), ws.fvec.get(), ftol, ws.xtol, ws.gtol, ws.maxfev,
                     ws.epsfcn, ws.diag.get(), ws.mode, ws.factor, ws.nprint, &nfev, ws.fjac.get(), m,
                     ws.ipvt.get(), ws.qtf.get(), ws.wa1, ws.wa2, ws.wa3, ws.wa4);
    UnpackAlignmentParams(ws.x.get());

    // A diverged fit would hand NaN poses to the surfaces.
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(ws.x[i]))
            throw panorama_error();
}

int CPoseAlignment::AlignmentResiduals(int m, int, const double* x, double* fvec) {
    UnpackAlignmentParams(x);
    const double ratio2 = distanceRatio * distanceRatio;
    const bool lens = lensMode == 1;
    const std::int32_t model = g_nLensModel.load(std::memory_order_relaxed);

    auto keypoint = [&](std::int32_t photo, std::int32_t index, double& x0, double& y0) {
        const auto& list = keypoints[photo];
        if (index < 0 || static_cast<std::size_t>(index) >= list.size())
            return false;
        x0 = list[index].x - photoSizes[photo].cx * 0.5;
        y0 = list[index].y - photoSizes[photo].cy * 0.5;
        if (lens) {
            const double f = LensFactor(model, sharedLens, x0 * x0 + y0 * y0);
            x0 *= f;
            y0 *= f;
        }
        return true;
    };

    // One task per used edge, each with its own stretch of fvec. (Spreading
    // them over threads cost more than it saved: one evaluation is tens of
    // microseconds, and the solver makes hundreds of thousands.)
    struct Task {
        std::int32_t p;
        const AlignmentEdge* edge;
        int offset;
        int count;
    };
    std::vector<Task> tasks;
    int next = 0;
    for (std::int32_t p : placementOrder) {
        for (const AlignmentEdge* e : usedEdges[p]) {
            const int count =
                static_cast<int>(std::min<std::size_t>(UsableInliers(*e), std::max(0, m - next)));
            tasks.push_back({p, e, next, count});
            next += count;
        }
    }
    auto evaluate = [&](const Task& task) {
        const std::int32_t p = task.p;
        const AlignmentEdge* e = task.edge;
        const bool pFirst = e->firstImage == p;
        const std::int32_t q = pFirst ? e->secondImage : e->firstImage;
        const auto& indicesP = pFirst ? e->inliers1 : e->inliers2;
        const auto& indicesQ = pFirst ? e->inliers2 : e->inliers1;
        const TiledImagePose &pp = poses[p], &pq = poses[q];
        double Rp[9], Rq[9], Mpq[9];
        RotationFromAngles(Rp, pp.pitch, pp.yaw, pp.roll);
        RotationFromAngles(Rq, pq.pitch, pq.yaw, pq.roll);
        // Mpq = Rp Rq^T turns q's camera rays into p's; its transpose does
        // the reverse.
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                Mpq[3 * i + j] =
                    Rp[3 * i] * Rq[3 * j] + Rp[3 * i + 1] * Rq[3 * j + 1] + Rp[3 * i + 2] * Rq[3 * j + 2];
        for (int k = 0; k < task.count; ++k) {
            double* out = fvec + task.offset + k;
            double px, py, qx, qy;
            if (!keypoint(p, indicesP[k], px, py) || !keypoint(q, indicesQ[k], qx, qy)) {
                *out = 0.0;
                continue;
            }
            const double score =
                static_cast<std::size_t>(k) < e->inlierScores.size() ? e->inlierScores[k] : 0.0;
            const double w = 1.0 - (score / 1000.0) / ratio2;
            const double X1 = Mpq[0] * qx + Mpq[1] * qy + Mpq[2] * pq.focal;
            const double Y1 = Mpq[3] * qx + Mpq[4] * qy + Mpq[5] * pq.focal;
            const double Z1 = Mpq[6] * qx + Mpq[7] * qy + Mpq[8] * pq.focal;
            const double qpx = pp.focal * X1 / Z1, qpy = pp.focal * Y1 / Z1;
            const double X2 = Mpq[0] * px + Mpq[3] * py + Mpq[6] * pp.focal;
            const double Y2 = Mpq[1] * px + Mpq[4] * py + Mpq[7] * pp.focal;
            const double Z2 = Mpq[2] * px + Mpq[5] * py + Mpq[8] * pp.focal;
            const double ppx = pq.focal * X2 / Z2, ppy = pq.focal * Y2 / Z2;
            *out = w * ((px - qpx) * (px - qpx) + (py - qpy) * (py - qpy)) +
                   w * ((qx - ppx) * (qx - ppx) + (qy - ppy) * (qy - ppy));
        }
    };
    for (const Task& task : tasks)
        evaluate(task);
    while (next < m)
        fvec[next++] = 0.0;
    return 0;
}

}  // namespace Tiled_Panorama
