// Automatic match-graph building: every pair of analysed photos is matched
// through a kd-tree and Hough clusters, fitted robustly, and kept as an edge
// when the fit is good and plausible.

#include <cmath>
#include <memory>

#include "Hough.h"
#include "ImplausibleTransform.h"
#include "KdTree.h"
#include "Panorama.h"
#include "RobustFit.h"
#include "ThreadPool.h"

using match_graph::CEdge;
using match_graph::CGraph;

namespace {

// One photo's descriptors in one block, and the tree over them.
struct IndexedPhoto {
    std::vector<double> block;
    std::vector<const double*> rows;
    KdTree* tree = nullptr;
    ~IndexedPhoto() { DeleteKdTree(tree); }
};

// What one pair produced, applied to the graph in pair order afterwards.
struct PairResult {
    bool matcherOk = true;
    int fits = 0;  // fits tried, for the repaint calls
    struct Accepted {
        double transform[9];
        double residual;
        std::vector<int> inliers, outliers;
        std::vector<std::int32_t> query, reference;  // the cluster's keypoints in i and j
    };
    std::vector<Accepted> edges;
};

bool Index(const CKeypointSet* set, IndexedPhoto& out) {
    const std::size_t n = set->descriptors.size();
    out.block.resize(n * kDescriptorLength);
    out.rows.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::copy(set->descriptors[k], set->descriptors[k] + kDescriptorLength, &out.block[k * kDescriptorLength]);
        out.rows[k] = &out.block[k * kDescriptorLength];
    }
    out.tree = BuildKdTree(out.rows.data(), static_cast<std::int32_t>(n));
    if (!out.tree) return false;
    out.tree->visitLimit = 200;
    return true;
}

void MatchPair(const CKeypointSet& setI, const CKeypointSet& setJ, const IndexedPhoto& indexJ,
               const OrvexBase::Size& sizeI, const OrvexBase::Size& sizeJ, int motionModel, double ratio,
               PairResult& result) {
    std::vector<std::int32_t> clusterImage;
    std::vector<std::vector<std::int32_t>> clusterQuery, clusterReference, clusterScores;
    std::vector<double> votes;
    if (!MatchKeypointSets(indexJ.tree, setJ, setI, setI.descriptors, clusterImage, clusterQuery, clusterReference,
                           clusterScores, votes, 1.5, ratio)) {
        result.matcherOk = false;
        return;
    }
    if (votes.empty()) return;

    // The clusters with the highest vote, without repeats.
    double best = 0.0;
    for (double v : votes)
        if (v > best) best = v;
    std::vector<std::size_t> chosen;
    for (std::size_t c = 0; c < votes.size(); ++c)
        if (votes[c] == best) chosen.push_back(c);
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

    const double tolerance = motionModel == 0 ? 6.0 : 22.0;
    for (std::size_t c : chosen) {
        const auto& q = clusterQuery[c];
        const auto& r = clusterReference[c];
        const std::size_t n = q.size();
        std::vector<double> weights(n);
        std::vector<FitPoint> from(n), to(n);
        for (std::size_t k = 0; k < n; ++k) {
            const Keypoint* ki = setI.keypoints[q[k]];
            const Keypoint* kj = setJ.keypoints[r[k]];
            weights[k] = 1.0 / (ki->scale * ki->scale);
            from[k] = {ki->x, ki->y};
            to[k] = {kj->x, kj->y};
        }
        PairResult::Accepted a;
        bool ok;
        if (motionModel == 0)
            ok = FitAffineRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual, 0.75);
        else if (motionModel == 2)
            ok = FitScaleShiftRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual, 0.75);
        else
            ok = FitSimilarityRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual, 0.75);
        ++result.fits;
        if (!ok || !(static_cast<double>(a.inliers.size()) > 5.9 + 0.22 * static_cast<double>(n))) continue;
        if (!(a.residual < tolerance)) continue;
        double inverse[9];
        InvertMatrix3x3(inverse, a.transform);
        if (IsImplausibleTransform(sizeI, sizeJ, a.transform) || IsImplausibleTransform(sizeJ, sizeI, inverse))
            continue;
        a.query = q;
        a.reference = r;
        result.edges.push_back(std::move(a));
    }
}

}  // namespace

bool CPanorama::BuildMatchGraph(CGraph* graph) {
    if (!graph) return false;
    graph->Clear();
    const auto& elements = CurrentElements();
    const int n = static_cast<int>(std::min(elements.size(), keypointSets_.size()));
    for (int i = 0; i < n; ++i)
        if (!graph->AddNode(i)) return false;

    auto hasDescriptors = [&](int j) { return keypointSets_[j] && !keypointSets_[j]->descriptors.empty(); };
    auto sizeOf = [&](int i) { return elements[i] ? elements[i]->GetSize() : OrvexBase::Size(); };
    const double ratio = ratioMode_ == 0 ? 0.6 : 0.8;

    // Every photo but the first is a second image at some point; index them
    // all at once, each tree on its own.
    std::vector<std::unique_ptr<IndexedPhoto>> indexed(n);
    std::vector<char> indexOk(n, 1);
    Platform::ParallelFor(1, n > 1 ? n : 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t j = b; j < e; ++j) {
            if (!hasDescriptors(static_cast<int>(j))) continue;
            indexed[j] = std::make_unique<IndexedPhoto>();
            indexOk[j] = Index(keypointSets_[j], *indexed[j]);
        }
    });
    for (int j = 1; j < n; ++j)
        if (!indexOk[j]) return false;

    bool matcherOk = true;
    for (int i = 0; i + 1 < n; ++i) {
        // The pairs of one row run side by side: each uses its own tree, and
        // the fits draw from a generator private to their thread.
        std::vector<PairResult> row(n);
        Platform::ParallelFor(i + 1, n, [&](std::size_t b, std::size_t e) {
            for (std::size_t j = b; j < e; ++j) {
                if (!hasDescriptors(static_cast<int>(j)) || !keypointSets_[i]) continue;
                MatchPair(*keypointSets_[i], *keypointSets_[j], *indexed[j], sizeOf(i), sizeOf(static_cast<int>(j)),
                          motionModel_, ratio, row[j]);
            }
        });
        // Edges, repaints and failures in pair order, as one thread would have them.
        for (int j = i + 1; j < n; ++j) {
            if (!hasDescriptors(j) || !keypointSets_[i]) continue;
            if (ui_) ui_->RepaintNow();
            if (!row[j].matcherOk) return false;
            for (int f = 0; f < row[j].fits; ++f)
                if (ui_) ui_->RepaintNow();
            for (PairResult::Accepted& a : row[j].edges) {
                CEdge* edge = graph->AddEdge(i, j);
                if (!edge) return false;
                edge->firstImage = i;
                edge->secondImage = j;
                std::copy(a.transform, a.transform + 9, edge->transform);
                edge->residual = a.residual;
                edge->inlierCount = static_cast<std::int32_t>(a.inliers.size());
                edge->outlierCount = static_cast<std::int32_t>(a.outliers.size());
                for (int k : a.inliers) {
                    edge->inliers1.push_back(a.query[k]);
                    edge->inliers2.push_back(a.reference[k]);
                }
            }
        }
        position_ += 4;
        if (ReportProgress(total_, position_)) break;
    }
    if (cancel_) return false;
    return matcherOk;
}
