// Match-graph building of the tiled engine: every pair of photos is matched
// through a kd-tree and Hough clusters and fitted with an affine transform in
// full-size photo pixels; an accepted pair keeps its inliers, outliers and the
// matcher's ratio scores, which the global alignment weighs its residuals by.

#include <memory>

#include "Hough.h"
#include "ImplausibleTransform.h"
#include "KdTree.h"
#include "PairMatching.h"
#include "RobustFit.h"
#include "ThreadPool.h"
#include "TiledPanorama.h"

using match_graph::CEdge;
using match_graph::CGraph;

namespace Tiled_Panorama {

namespace {

// Thrown when the matcher fails; never leaves BuildMatchGraph.
struct abort_matching {};

struct Accepted {
    double transform[9];
    double residual = 0.0;
    std::vector<int> inliers, outliers;
    std::vector<std::int32_t> query, reference, scores;  // the cluster's matches
};

// What one pair produced; applied to the graph in pair order afterwards.
struct PairResult {
    bool matched = false;  // the matcher ran
    bool matcherOk = true;
    int fits = 0;
    std::vector<Accepted> edges;
};

void MatchPair(const CKeypointSet& setI, const CKeypointSet& setJ, const IndexedPhoto& indexJ,
               const OrvexBase::Size& sizeI, const OrvexBase::Size& sizeJ, double scaleI, double ratio,
               PairResult& result) {
    std::vector<std::int32_t> clusterImage;
    std::vector<std::vector<std::int32_t>> clusterQuery, clusterReference, clusterScores;
    std::vector<double> votes;
    result.matched = true;
    if (!MatchKeypointSets(indexJ.tree, setJ, setI, setI.descriptors, clusterImage, clusterQuery,
                           clusterReference, clusterScores, votes, 1.5, ratio)) {
        result.matcherOk = false;
        return;
    }
    if (votes.empty())
        return;

    const std::vector<std::size_t> chosen =
        ChooseBestClusters(votes, clusterImage, clusterQuery, clusterReference);

    // Six analysis pixels, in the full-size pixels the points are in.
    const double tolerance = 6.0 * scaleI;
    for (std::size_t c : chosen) {
        const auto& q = clusterQuery[c];
        const auto& r = clusterReference[c];
        const std::size_t n = q.size();
        std::vector<double> weights;
        std::vector<FitPoint> from, to;
        ClusterFitInput(setI, setJ, q, r, weights, from, to);
        Accepted a;
        const bool ok =
            FitAffineRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual, 0.75);
        ++result.fits;
        if (!ok || !IsAcceptedFit(a.inliers.size(), n, a.residual, tolerance, sizeI, sizeJ, a.transform))
            continue;
        a.query = q;
        a.reference = r;
        a.scores = clusterScores[c];
        result.edges.push_back(std::move(a));
    }
}

void FillEdge(CEdge& edge, int i, int j, const Accepted& a) {
    edge.firstImage = i;
    edge.secondImage = j;
    std::copy(a.transform, a.transform + 9, edge.transform);
    edge.residual = a.residual;
    edge.inlierCount = static_cast<std::int32_t>(a.inliers.size());
    edge.outlierCount = static_cast<std::int32_t>(a.outliers.size());
    auto score = [&](int k) { return static_cast<std::size_t>(k) < a.scores.size() ? a.scores[k] : 0; };
    for (int k : a.inliers) {
        edge.inliers1.push_back(a.query[k]);
        edge.inliers2.push_back(a.reference[k]);
        edge.inlierScores.push_back(score(k));
    }
    for (int k : a.outliers) {
        edge.outliers1.push_back(a.query[k]);
        edge.outliers2.push_back(a.reference[k]);
        edge.outlierScores.push_back(score(k));
    }
}

}  // namespace

bool CPanorama::BuildMatchGraph(CGraph* graph) {
    if (!graph)
        return false;
    graph->Clear();
    const int n = static_cast<int>(std::min(photos_.size(), keypointSets_.size()));
    for (int i = 0; i < n; ++i)
        if (!graph->AddNode(i))
            return false;

    // A photo without keypoints has nothing to match: its pairs are skipped
    // rather than searching an empty tree.
    auto usable = [&](int k) {
        return keypointSets_[k] && !keypointSets_[k]->keypoints.empty() &&
               keypointSets_[k]->descriptors.size() == keypointSets_[k]->keypoints.size();
    };
    auto sizeOf = [&](int k) { return photos_[k] ? photos_[k]->GetSize() : OrvexBase::Size(); };
    auto scaleOf = [&](int k) { return static_cast<std::size_t>(k) < scales_.size() ? scales_[k] : 1.0; };

    try {
        // Every photo but the first is a second image at some point: index
        // them all at once, each tree on its own.
        std::vector<std::unique_ptr<IndexedPhoto>> indexed(n);
        std::vector<char> indexOk(n, 1);
        Platform::ParallelFor(1, n > 1 ? n : 1, [&](std::size_t b, std::size_t e) {
            for (std::size_t j = b; j < e; ++j) {
                if (!usable(static_cast<int>(j)))
                    continue;
                indexed[j] = std::make_unique<IndexedPhoto>();
                indexOk[j] = IndexDescriptors(*keypointSets_[j], *indexed[j]);
            }
        });
        for (int j = 1; j < n; ++j)
            if (!indexOk[j])
                throw abort_matching();

        for (int i = 0; i + 1 < n; ++i) {
            // The pairs of one row run side by side: each has its own tree,
            // and every fit seeds its own generator.
            std::vector<PairResult> row(n);
            Platform::ParallelFor(i + 1, n, [&](std::size_t b, std::size_t e) {
                for (std::size_t j = b; j < e; ++j) {
                    const int jj = static_cast<int>(j);
                    if (!usable(i) || !usable(jj))
                        continue;
                    MatchPair(*keypointSets_[i], *keypointSets_[jj], *indexed[jj], sizeOf(i), sizeOf(jj),
                              scaleOf(i), distanceRatio_, row[j]);
                }
            });
            // Edges, repaints and failures in pair order, as one thread would
            // have them.
            for (int j = i + 1; j < n; ++j) {
                if (!row[j].matched)
                    continue;
                if (ui_)
                    ui_->RepaintNow();
                if (!row[j].matcherOk)
                    throw abort_matching();
                for (int f = 0; f < row[j].fits; ++f)
                    if (ui_)
                        ui_->RepaintNow();
                for (const Accepted& a : row[j].edges) {
                    CEdge* edge = graph->AddEdge(i, j);
                    if (!edge)
                        throw abort_matching();
                    FillEdge(*edge, i, j, a);
                }
            }
            if (ReportProgress(4))
                break;
        }
    } catch (const abort_matching&) {
        return false;
    }
    return !cancel_;
}

}  // namespace Tiled_Panorama
