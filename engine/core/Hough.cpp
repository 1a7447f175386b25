#include "Hough.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

// Determinant of the 3x3 minor of a row-major 4x4 matrix without row r and column c.
double Minor(const double m[16], int r, int c) {
    int rows[3], cols[3];
    for (int i = 0, n = 0; i < 4; ++i)
        if (i != r)
            rows[n++] = i;
    for (int j = 0, n = 0; j < 4; ++j)
        if (j != c)
            cols[n++] = j;
    auto at = [&](int i, int j) { return m[rows[i] * 4 + cols[j]]; };
    return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
           at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
           at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
}

struct Candidate {
    std::int32_t query, reference, image, score;
};

struct Cluster {
    std::int32_t image;
    double vote;
    std::vector<std::int32_t> query, reference, scores;
};

// Picks `count` distinct entries of dist with the smallest values, lowest
// index first on ties.
template <int N>
void NearestDistinct(const double (&dist)[N], int count, int* chosen) {
    bool taken[N] = {};
    for (int s = 0; s < count; ++s) {
        int best = -1;
        for (int i = 0; i < N; ++i)
            if (!taken[i] && (best < 0 || dist[i] < dist[best]))
                best = i;
        taken[best] = true;
        chosen[s] = best;
    }
}

// The four shift cells whose centres are nearest (tx, ty), lowest cell index
// first on ties. Inside the grid the four nearest centres of a square
// lattice are among the 3 x 3 around the nearest one (every farther centre
// is at least 1.5 w away, the cell's own corners at most 1.41 w), so only a
// 5 x 5 window around the rounded position is searched, in index order;
// near the border every cell is.
void NearestPositions(double tx, double ty, double w, const double* centreX, const double* centreY,
                      int positions[4]) {
    const double gx = tx / w + 10.0, gy = ty / w + 10.0;
    if (gx >= 2.0 && gx <= kHoughX - 3.0 && gy >= 2.0 && gy <= kHoughY - 3.0) {
        const int x0 = static_cast<int>(std::lround(gx)) - 2, y0 = static_cast<int>(std::lround(gy)) - 2;
        double dist[25];
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i) {
                const double dx = tx - centreX[x0 + i], dy = ty - centreY[y0 + j];
                dist[j * 5 + i] = dx * dx + dy * dy;
            }
        int chosen[4];
        NearestDistinct(dist, 4, chosen);
        for (int s = 0; s < 4; ++s)
            positions[s] = (y0 + chosen[s] / 5) * kHoughX + x0 + chosen[s] % 5;
        return;
    }
    double dist[kHoughX * kHoughY];
    for (int yi = 0; yi < kHoughY; ++yi)
        for (int xi = 0; xi < kHoughX; ++xi) {
            const double dx = tx - centreX[xi], dy = ty - centreY[yi];
            dist[yi * kHoughX + xi] = dx * dx + dy * dy;
        }
    NearestDistinct(dist, 4, positions);
}

}  // namespace

bool VoteBucketGrid::Create() {
    ClearBuckets();
    slots_.reset(new (std::nothrow) std::unique_ptr<std::vector<std::int32_t>>[kHoughCells]);
    return slots_ != nullptr;
}

bool VoteBucketGrid::AddToBucket(std::int32_t value, int x, int y, int rotation, int scale) {
    if (!slots_)
        return false;
    const int cell = CellIndex(x, y, rotation, scale);
    try {
        auto& slot = slots_[cell];
        if (!slot) {
            used_.reserve(used_.size() + 1);
            slot = std::make_unique<std::vector<std::int32_t>>();
            used_.push_back(cell);
        }
        slot->push_back(value);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void VoteBucketGrid::ClearBuckets() {
    if (!slots_)
        return;
    // Only cells that received a list can hold one; delete the latest cell first.
    std::sort(used_.begin(), used_.end());
    for (auto it = used_.rbegin(); it != used_.rend(); ++it)
        slots_[*it].reset();
    used_.clear();
}

std::vector<std::int32_t> VoteBucketGrid::TakeBucket(int cell) {
    if (!slots_ || !slots_[cell])
        return {};
    std::vector<std::int32_t> list = std::move(*slots_[cell]);
    slots_[cell].reset();
    return list;
}

void Solve4x4(double result[4], double inverse[16], const double matrix[16], const double rhs[4]) {
    double cof[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            cof[i * 4 + j] = ((i + j) % 2 ? -1.0 : 1.0) * Minor(matrix, i, j);
    double det = 0.0;
    for (int j = 0; j < 4; ++j)
        det += matrix[j] * cof[j];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            inverse[i * 4 + j] = cof[j * 4 + i] / det;
    for (int i = 0; i < 4; ++i)
        result[i] = inverse[i * 4] * rhs[0] + inverse[i * 4 + 1] * rhs[1] + inverse[i * 4 + 2] * rhs[2] +
                    inverse[i * 4 + 3] * rhs[3];
}

bool MatchKeypointSets(const KdTree* referenceTree, const CKeypointSet& reference, const CKeypointSet& query,
                       const std::vector<double*>& queryDescriptors, std::vector<std::int32_t>& clusterImage,
                       std::vector<std::vector<std::int32_t>>& clusterQuery,
                       std::vector<std::vector<std::int32_t>>& clusterReference,
                       std::vector<std::vector<std::int32_t>>& clusterScores,
                       std::vector<double>& clusterVotes, double voteThreshold, double ratio) {
    std::vector<std::int32_t> matched, scores;
    try {
        MatchByRatio(referenceTree, queryDescriptors, matched, scores, ratio);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return VoteMatches(reference, query, matched, scores, clusterImage, clusterQuery, clusterReference,
                       clusterScores, clusterVotes, voteThreshold);
}

bool VoteMatches(const CKeypointSet& reference, const CKeypointSet& query,
                 const std::vector<std::int32_t>& matched, const std::vector<std::int32_t>& scores,
                 std::vector<std::int32_t>& clusterImage,
                 std::vector<std::vector<std::int32_t>>& clusterQuery,
                 std::vector<std::vector<std::int32_t>>& clusterReference,
                 std::vector<std::vector<std::int32_t>>& clusterScores, std::vector<double>& clusterVotes,
                 double voteThreshold) {
    try {
        // Matches whose reference keypoint has no known image cannot be placed.
        std::vector<Candidate> candidates;
        const std::size_t nImages = reference.imageSizes.size();
        for (std::size_t i = 0; i < matched.size() && i < query.keypoints.size(); ++i) {
            const std::int32_t ref = matched[i];
            if (ref < 0 || std::size_t(ref) >= reference.imageIndex.size() ||
                std::size_t(ref) >= reference.keypoints.size())
                continue;
            const std::int32_t image = reference.imageIndex[ref];
            if (image < 0 || std::size_t(image) >= nImages)
                continue;
            candidates.push_back({std::int32_t(i), ref, image, scores[i]});
        }

        std::unique_ptr<double[]> accumulator(new (std::nothrow) double[kHoughCells]);
        // One list per cell holding each vote's query keypoint, reference
        // keypoint and score in turn: one slot array instead of three.
        VoteBucketGrid grid;
        if (!accumulator || !grid.Create())
            return false;

        double rotationCentre[kHoughRotation], scaleCentre[kHoughScale];
        for (int i = 0; i < kHoughRotation; ++i)
            rotationCentre[i] = i * 2.0 * kPi / kHoughRotation - kPi;
        for (int i = 0; i < kHoughScale; ++i)
            scaleCentre[i] = std::ldexp(1.0, i - 8);

        std::vector<Cluster> found;
        for (std::size_t k = 0; k < nImages; ++k) {
            std::vector<const Candidate*> mine;
            for (const Candidate& c : candidates)
                if (std::size_t(c.image) == k)
                    mine.push_back(&c);
            if (!(double(mine.size()) > voteThreshold))
                continue;

            const OrvexBase::Size size = reference.imageSizes[k];
            const double w = 0.25 * std::max(size.cx, size.cy);
            if (!(w > 0.0))
                continue;  // an image without extent gives cells of no width
            double centreX[kHoughX], centreY[kHoughY];
            for (int i = 0; i < kHoughX; ++i)
                centreX[i] = (i - 10) * w;
            for (int i = 0; i < kHoughY; ++i)
                centreY[i] = (i - 10) * w;
            std::fill_n(accumulator.get(), kHoughCells, 0.0);
            grid.ClearBuckets();

            for (const Candidate* c : mine) {
                const Keypoint& p = *query.keypoints[c->query];
                const Keypoint& q = *reference.keypoints[c->reference];
                const double p2x = p.x + 10.0 * p.scale * std::cos(p.orientation);
                const double p2y = p.y + 10.0 * p.scale * std::sin(p.orientation);
                const double q2x = q.x + 10.0 * q.scale * std::cos(q.orientation);
                const double q2y = q.y + 10.0 * q.scale * std::sin(q.orientation);
                const double m[16] = {p.x, -p.y, 1, 0, p.y, p.x, 0, 1, p2x, -p2y, 1, 0, p2y, p2x, 0, 1};
                const double rhs[4] = {q.x, q.y, q2x, q2y};
                double sol[4], inv[16];
                Solve4x4(sol, inv, m, rhs);
                const double a = sol[0], b = sol[1], tx = sol[2], ty = sol[3];
                const double r = std::atan2(b, a);
                // At a quarter turn a is exactly 0 and a / cos r would give 0.
                const double s = a == 0.0 ? std::fabs(b) : a / std::cos(r);
                // A degenerate keypoint (zero scale) gives a singular system.
                if (!std::isfinite(tx) || !std::isfinite(ty) || !std::isfinite(r) || !std::isfinite(s))
                    continue;

                int positions[4];
                NearestPositions(tx, ty, w, centreX, centreY, positions);

                double rotDist[kHoughRotation];
                for (int i = 0; i < kHoughRotation; ++i) {
                    double t = r - rotationCentre[i] + kPi;
                    while (t < 0.0)
                        t += 2.0 * kPi;
                    while (t >= 2.0 * kPi)
                        t -= 2.0 * kPi;
                    rotDist[i] = std::fabs(t - kPi);
                }
                int rotations[2];
                NearestDistinct(rotDist, 2, rotations);

                double scaleDist[kHoughScale];
                for (int i = 0; i < kHoughScale; ++i)
                    scaleDist[i] = std::fabs(s - scaleCentre[i]);
                int scalesChosen[2];
                NearestDistinct(scaleDist, 2, scalesChosen);

                for (int pos : positions) {
                    const int xi = pos % kHoughX, yi = pos / kHoughX;
                    const double wxy = std::max(0.0, 1.0 - std::fabs(tx - centreX[xi]) / w) *
                                       std::max(0.0, 1.0 - std::fabs(ty - centreY[yi]) / w);
                    for (int ri : rotations) {
                        const double v = std::max(0.0, 1.0 - rotDist[ri] / (kPi / 4.0)) * wxy;
                        if (!(v > 0.0))
                            continue;
                        for (int si : scalesChosen) {
                            accumulator[VoteBucketGrid::CellIndex(xi, yi, ri, si)] += v;
                            if (!grid.AddToBucket(c->query, xi, yi, ri, si) ||
                                !grid.AddToBucket(c->reference, xi, yi, ri, si) ||
                                !grid.AddToBucket(c->score, xi, yi, ri, si))
                                return false;
                        }
                    }
                }
            }

            for (int cell = 0; cell < kHoughCells; ++cell) {
                if (!(accumulator[cell] > voteThreshold))
                    continue;
                const std::vector<std::int32_t> votes = grid.TakeBucket(cell);
                Cluster cluster{std::int32_t(k), accumulator[cell], {}, {}, {}};
                cluster.query.reserve(votes.size() / 3);
                cluster.reference.reserve(votes.size() / 3);
                cluster.scores.reserve(votes.size() / 3);
                for (std::size_t v = 0; v + 2 < votes.size(); v += 3) {
                    cluster.query.push_back(votes[v]);
                    cluster.reference.push_back(votes[v + 1]);
                    cluster.scores.push_back(votes[v + 2]);
                }
                found.push_back(std::move(cluster));
            }
        }

        // Room first, so that appending cannot fail half-way.
        clusterImage.reserve(clusterImage.size() + found.size());
        clusterQuery.reserve(clusterQuery.size() + found.size());
        clusterReference.reserve(clusterReference.size() + found.size());
        clusterScores.reserve(clusterScores.size() + found.size());
        clusterVotes.reserve(clusterVotes.size() + found.size());
        for (Cluster& c : found) {
            clusterImage.push_back(c.image);
            clusterQuery.push_back(std::move(c.query));
            clusterReference.push_back(std::move(c.reference));
            clusterScores.push_back(std::move(c.scores));
            clusterVotes.push_back(c.vote);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
