// Automatic match-graph building: every pair of analysed photos is matched
// through a kd-tree and Hough clusters, fitted robustly, and kept as an edge
// when the fit is good and plausible.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "Hough.h"
#include "ImplausibleTransform.h"
#include "KdTree.h"
#include "ManualMatcher.h"
#include "PairMatching.h"
#include "Panorama.h"
#include "RobustFit.h"
#include "ThreadPool.h"

using match_graph::CEdge;
using match_graph::CGraph;

namespace {

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

// Votes a pair's ratio-test matches (matched[k], scores[k] for photo i's
// descriptor k against photo j's tree), fits the best clusters and keeps the
// accepted ones.
void FitPair(const CKeypointSet& setI, const CKeypointSet& setJ, const std::vector<std::int32_t>& matched,
             const std::vector<std::int32_t>& scores, const OrvexBase::Size& sizeI,
             const OrvexBase::Size& sizeJ, int motionModel, PairResult& result) {
    std::vector<std::int32_t> clusterImage;
    std::vector<std::vector<std::int32_t>> clusterQuery, clusterReference, clusterScores;
    std::vector<double> votes;
    if (!VoteMatches(setJ, setI, matched, scores, clusterImage, clusterQuery, clusterReference, clusterScores,
                     votes, 1.5)) {
        result.matcherOk = false;
        return;
    }
    if (votes.empty())
        return;

    const std::vector<std::size_t> chosen =
        ChooseBestClusters(votes, clusterImage, clusterQuery, clusterReference);

    const double tolerance = motionModel == 0 ? 6.0 : 22.0;
    for (std::size_t c : chosen) {
        const auto& q = clusterQuery[c];
        const auto& r = clusterReference[c];
        const std::size_t n = q.size();
        std::vector<double> weights;
        std::vector<FitPoint> from, to;
        ClusterFitInput(setI, setJ, q, r, weights, from, to);
        PairResult::Accepted a;
        bool ok;
        if (motionModel == 0)
            ok = FitAffineRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual, 0.75);
        else if (motionModel == 2)
            ok = FitScaleShiftRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual,
                                     0.75);
        else
            ok = FitSimilarityRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual,
                                     0.75);
        ++result.fits;
        if (!ok || !IsAcceptedFit(a.inliers.size(), n, a.residual, tolerance, sizeI, sizeJ, a.transform) ||
            !IsPlanarNeighbourFit(a.residual, tolerance, sizeI, sizeJ, a.transform))
            continue;
        a.query = q;
        a.reference = r;
        result.edges.push_back(std::move(a));
    }
}

void MatchPair(const CKeypointSet& setI, const CKeypointSet& setJ, const IndexedPhoto& indexJ,
               const OrvexBase::Size& sizeI, const OrvexBase::Size& sizeJ, int motionModel, double ratio,
               PairResult& result) {
    std::vector<std::int32_t> matched, scores;
    try {
        MatchByRatio(indexJ.tree, setI.descriptors, matched, scores, ratio);
    } catch (const std::bad_alloc&) {
        result.matcherOk = false;
        return;
    }
    FitPair(setI, setJ, matched, scores, sizeI, sizeJ, motionModel, result);
}

// Adds one edge first -> second per accepted cluster; false when memory ran
// out. first is the query photo of the match, second the reference.
bool AddAcceptedEdges(CGraph* graph, int first, int second, PairResult& pair, CEdge** firstEdge = nullptr) {
    if (firstEdge)
        *firstEdge = nullptr;
    for (PairResult::Accepted& a : pair.edges) {
        CEdge* edge = graph->AddEdge(first, second);
        if (!edge)
            return false;
        edge->firstImage = first;
        edge->secondImage = second;
        std::copy(a.transform, a.transform + 9, edge->transform);
        edge->residual = a.residual;
        edge->inlierCount = static_cast<std::int32_t>(a.inliers.size());
        edge->outlierCount = static_cast<std::int32_t>(a.outliers.size());
        for (int k : a.inliers) {
            edge->inliers1.push_back(a.query[k]);
            edge->inliers2.push_back(a.reference[k]);
        }
        if (firstEdge && !*firstEdge)
            *firstEdge = edge;
    }
    return true;
}

}  // namespace

bool CPanorama::BuildMatchGraph(CGraph* graph) {
    if (!graph)
        return false;
    graph->Clear();
    const auto& elements = CurrentElements();
    const int n = static_cast<int>(std::min(elements.size(), keypointSets_.size()));
    for (int i = 0; i < n; ++i)
        if (!graph->AddNode(i))
            return false;

    auto hasDescriptors = [&](int j) { return keypointSets_[j] && !keypointSets_[j]->descriptors.empty(); };
    auto sizeOf = [&](int i) { return elements[i] ? elements[i]->GetSize() : OrvexBase::Size(); };
    const double ratio = ratioMode_ == 0 ? 0.6 : 0.8;

    // Every pair (i, j), i < j, matches photo i's descriptors against photo
    // j's tree. The work is handed out in small pieces from a single counter,
    // row after row, to every thread of the pool, so no thread waits on a
    // batch while others still have work; each tree is built by the first
    // pair that needs it. Edges, repaints, progress and the cancel answer
    // follow row by row on the calling thread, as one thread would have them,
    // as soon as a row's pairs are all done.
    struct Pair {
        int i, j;
    };
    std::vector<Pair> pairs;
    std::vector<int> rowStart(std::size_t(std::max(n, 1)), 0);
    for (int i = 0; i + 1 < n; ++i) {
        rowStart[std::size_t(i)] = static_cast<int>(pairs.size());
        for (int j = i + 1; j < n; ++j)
            pairs.push_back({i, j});
    }
    std::vector<PairResult> results(pairs.size());
    std::vector<std::unique_ptr<IndexedPhoto>> indexed(std::size_t(std::max(n, 1)));
    std::unique_ptr<std::once_flag[]> indexOnce(new std::once_flag[std::size_t(std::max(n, 1))]);
    std::unique_ptr<std::atomic<bool>[]> indexOk(new std::atomic<bool>[std::size_t(std::max(n, 1))]);
    std::unique_ptr<std::atomic<int>[]> rowLeft(new std::atomic<int>[std::size_t(std::max(n, 1))]);
    for (int i = 0; i < n; ++i) {
        indexOk[std::size_t(i)] = true;
        rowLeft[std::size_t(i)] = n - 1 - i;
    }
    auto indexOf = [&](int j) -> const IndexedPhoto* {
        std::call_once(indexOnce[std::size_t(j)], [&] {
            auto photo = std::make_unique<IndexedPhoto>();
            indexOk[std::size_t(j)] = IndexDescriptors(*keypointSets_[j], *photo);
            indexed[std::size_t(j)] = std::move(photo);
        });
        return indexOk[std::size_t(j)] ? indexed[std::size_t(j)].get() : nullptr;
    };

    // The calling thread's bookkeeping: the next row to apply, and the
    // build's answer once it is decided before the end.
    int nextRow = 0;
    bool decided = false, answer = false;
    std::atomic<bool> stop{false};
    auto applyRows = [&] {
        while (!decided && nextRow + 1 < n &&
               rowLeft[std::size_t(nextRow)].load(std::memory_order_acquire) == 0) {
            const int i = nextRow++;
            for (int j = i + 1; j < n; ++j) {
                if (!hasDescriptors(j) || !keypointSets_[i])
                    continue;
                PairResult& pair = results[std::size_t(rowStart[std::size_t(i)] + (j - i - 1))];
                if (ui_)
                    ui_->RepaintNow();
                if (!pair.matcherOk) {
                    decided = true;
                    break;
                }
                for (int f = 0; f < pair.fits; ++f)
                    if (ui_)
                        ui_->RepaintNow();
                if (!AddAcceptedEdges(graph, i, j, pair)) {
                    decided = true;
                    break;
                }
                pair = PairResult();
            }
            if (decided)
                break;
            // Photo i + 1's tree has answered every pair it is in.
            indexed[std::size_t(i) + 1].reset();
            position_ += 4;
            if (ReportProgress(total_, position_)) {
                decided = true;
                answer = !cancel_;
                break;
            }
        }
        if (decided)
            stop = true;
    };

    const std::thread::id caller = std::this_thread::get_id();
    // Each pair's ratio test is cut in parts (its queries in halves), so the
    // last pairs share out over the threads; whoever ends a pair's last part
    // votes and fits it.
    constexpr std::size_t kParts = 2;
    std::vector<std::vector<std::int32_t>> matched(pairs.size()), matchScores(pairs.size());
    std::unique_ptr<std::atomic<int>[]> partsLeft(
        new std::atomic<int>[std::max<std::size_t>(pairs.size(), 1)]);
    std::unique_ptr<std::atomic<bool>[]> partFailed(
        new std::atomic<bool>[std::max<std::size_t>(pairs.size(), 1)]);
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        partsLeft[p] = int(kParts);
        partFailed[p] = false;
        const auto [i, j] = pairs[p];
        if (hasDescriptors(j) && keypointSets_[i]) {
            matched[p].resize(keypointSets_[i]->descriptors.size());
            matchScores[p].resize(keypointSets_[i]->descriptors.size());
        }
    }
    std::atomic<std::size_t> next{0};
    const std::size_t slots = Platform::ThreadPool::Shared().ThreadCount();
    Platform::ParallelFor(0, slots, [&](std::size_t, std::size_t) {
        const bool onCaller = std::this_thread::get_id() == caller;
        for (;;) {
            if (stop.load(std::memory_order_relaxed))
                return;
            const std::size_t task = next.fetch_add(1, std::memory_order_relaxed);
            if (task >= pairs.size() * kParts)
                return;
            const std::size_t p = task / kParts, part = task % kParts;
            const auto [i, j] = pairs[p];
            const bool matchable = hasDescriptors(j) && keypointSets_[i];
            if (matchable) {
                if (const IndexedPhoto* index = indexOf(j)) {
                    const auto& queries = keypointSets_[i]->descriptors;
                    const std::size_t b = queries.size() * part / kParts;
                    const std::size_t e = queries.size() * (part + 1) / kParts;
                    try {
                        MatchByRatio(index->tree, queries.data() + b, e - b, matched[p].data() + b,
                                     matchScores[p].data() + b, ratio);
                    } catch (const std::bad_alloc&) {
                        partFailed[p] = true;
                    }
                } else {
                    partFailed[p] = true;
                }
            }
            if (partsLeft[p].fetch_sub(1, std::memory_order_acq_rel) != 1)
                continue;
            if (matchable) {
                if (partFailed[p])
                    results[p].matcherOk = false;
                else
                    FitPair(*keypointSets_[i], *keypointSets_[j], matched[p], matchScores[p], sizeOf(i),
                            sizeOf(j), motionModel_, results[p]);
            }
            std::vector<std::int32_t>().swap(matched[p]);
            std::vector<std::int32_t>().swap(matchScores[p]);
            rowLeft[std::size_t(i)].fetch_sub(1, std::memory_order_release);
            if (onCaller)
                applyRows();
        }
    });
    applyRows();
    if (decided)
        return answer;
    if (cancel_)
        return false;
    return true;
}

// --- Prompted and manual matching of a chain of photos ---

namespace {

// Ends a prompted matching: the user aborted, or a prompt was needed and
// nobody can answer it.
struct abort_matching {};

}  // namespace

void CPanorama::ChooseSeedMarkers(const CEdge& edge, const CKeypointSet& first, const CKeypointSet& second,
                                  int markers[6]) {
    struct Candidate {
        double x, y, d;
    };
    std::vector<Candidate> inliers;
    const std::size_t count = std::min({static_cast<std::size_t>(std::max(edge.inlierCount, 0)),
                                        edge.inliers1.size(), edge.inliers2.size()});
    const double* h = edge.transform;
    for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t a = edge.inliers1[k], b = edge.inliers2[k];
        if (a < 0 || b < 0 || a >= static_cast<std::int32_t>(first.keypoints.size()) ||
            b >= static_cast<std::int32_t>(second.keypoints.size()))
            continue;
        const Keypoint* p = first.keypoints[a];
        const Keypoint* q = second.keypoints[b];
        const double dx = h[0] * p->x + h[1] * p->y + h[2] - q->x;
        const double dy = h[3] * p->x + h[4] * p->y + h[5] - q->y;
        inliers.push_back({p->x, p->y, dx * dx + dy * dy});
    }
    std::fill(markers, markers + 6, 0);
    if (inliers.empty())
        return;

    // Point 1: the best-fitting inlier; the box of all inliers measures spread.
    std::size_t p1 = 0;
    double best = std::numeric_limits<double>::max();
    double dmax = std::numeric_limits<double>::min();
    int minX = std::numeric_limits<int>::max(), maxX = std::numeric_limits<int>::min();
    int minY = minX, maxY = maxX;
    for (std::size_t k = 0; k < inliers.size(); ++k) {
        if (inliers[k].d < best) {
            best = inliers[k].d;
            p1 = k;
        }
        dmax = std::max(dmax, inliers[k].d);
        minX = std::min(minX, static_cast<int>(inliers[k].x));
        maxX = std::max(maxX, static_cast<int>(inliers[k].x));
        minY = std::min(minY, static_cast<int>(inliers[k].y));
        maxY = std::max(maxY, static_cast<int>(inliers[k].y));
    }
    const double x1 = inliers[p1].x, y1 = inliers[p1].y;
    const double rx = std::max(maxX - x1, x1 - minX), ry = std::max(maxY - y1, y1 - minY);
    const double spread = rx * rx + ry * ry;
    for (Candidate& c : inliers)
        c.d = std::clamp((dmax - c.d) / dmax, 0.0, 1.0);
    // Squared distance over the spread; every inlier on one point has no
    // spread, and distance then counts for nothing.
    auto far = [&](std::size_t k, std::size_t from) {
        if (!(spread > 0))
            return 0.0;
        const double dx = inliers[k].x - inliers[from].x, dy = inliers[k].y - inliers[from].y;
        return (dx * dx + dy * dy) / spread;
    };

    // With fewer than three inliers a point repeats an earlier one.
    std::size_t p2 = p1, p3 = p1;
    best = std::numeric_limits<double>::min();
    for (std::size_t k = 0; k < inliers.size(); ++k) {
        if (k == p1)
            continue;
        const double score = 0.8 * inliers[k].d + 0.2 * std::min(1.0, far(k, p1));
        if (score > best) {
            best = score;
            p2 = k;
        }
    }
    p3 = p2;
    best = std::numeric_limits<double>::min();
    for (std::size_t k = 0; k < inliers.size(); ++k) {
        if (k == p1 || k == p2)
            continue;
        const double score = 0.8 * inliers[k].d + 0.1 * (std::min(1.0, far(k, p1)) + far(k, p2));
        if (score > best) {
            best = score;
            p3 = k;
        }
    }
    const std::size_t chosen[3] = {p1, p2, p3};
    for (int m = 0; m < 3; ++m) {
        markers[2 * m] = static_cast<int>(inliers[chosen[m]].x);
        markers[2 * m + 1] = static_cast<int>(inliers[chosen[m]].y);
    }
}

bool CPanorama::MatchChainPair(CGraph* graph, int first, int second, bool& matcherOk, CEdge** accepted) {
    *accepted = nullptr;
    matcherOk = true;
    const auto& elements = CurrentElements();
    const int n = static_cast<int>(std::min(elements.size(), keypointSets_.size()));
    if (first < 0 || second < 0 || first >= n || second >= n)
        return true;
    const CKeypointSet* setFirst = keypointSets_[first];
    const CKeypointSet* setSecond = keypointSets_[second];
    if (!setFirst || !setSecond || setSecond->descriptors.empty())
        return true;
    IndexedPhoto index;
    PairResult pair;
    if (!IndexDescriptors(*setSecond, index)) {
        pair.matcherOk = false;
    } else {
        auto sizeOf = [&](int i) { return elements[i] ? elements[i]->GetSize() : OrvexBase::Size(); };
        MatchPair(*setFirst, *setSecond, index, sizeOf(first), sizeOf(second), motionModel_,
                  ratioMode_ == 0 ? 0.6 : 0.8, pair);
    }
    if (ui_)
        ui_->RepaintNow();
    matcherOk = pair.matcherOk;
    if (!matcherOk)
        return true;
    for (int f = 0; f < pair.fits; ++f)
        if (ui_)
            ui_->RepaintNow();
    return AddAcceptedEdges(graph, first, second, pair, accepted);
}

bool CPanorama::MatchPairByHand(CGraph* graph, int first, int second, CEdge* automatic) {
    if (!ui_)
        throw abort_matching();
    const auto& elements = CurrentElements();
    CPanoElement* a = first < static_cast<int>(elements.size()) ? elements[first] : nullptr;
    CPanoElement* b = second < static_cast<int>(elements.size()) ? elements[second] : nullptr;
    const OrvexBase::Size sizeA = a ? a->GetSize() : OrvexBase::Size();
    const OrvexBase::Size sizeB = b ? b->GetSize() : OrvexBase::Size();

    CManualMatcher matcher(is360_ != 0);
    if (automatic) {
        int markers[6];
        ChooseSeedMarkers(*automatic, *keypointSets_[first], *keypointSets_[second], markers);
        matcher.InitFromTransform(sizeA, sizeB, markers, automatic->transform, motionModel_);
    } else {
        matcher.InitDefaultMarkers(sizeA, sizeB);
    }
    const int answer = ui_->MatchManually(a, b, &matcher);
    ui_->RepaintNow();
    if (answer == 1)
        throw abort_matching();
    // Collinear markers or a wild fit give a transform the matcher itself
    // calls unusable; placing photos by it would make NaN geometry.
    double h[9];
    matcher.GetTransform(h);
    if (matcher.IsTransformInvalid())
        throw abort_matching();
    for (double v : h)
        if (!std::isfinite(v))
            throw abort_matching();

    // One edge per pair: the automatic one is reused, its parallels dropped.
    CEdge* edge = automatic;
    if (edge)
        graph->RemoveEdge(graph->FindNode(first), graph->FindNode(second), edge);
    else
        edge = graph->AddEdge(first, second);
    if (!edge)
        return false;
    edge->firstImage = first;
    edge->secondImage = second;
    std::copy(h, h + 9, edge->transform);
    edge->residual = 0.0;
    edge->inlierCount = 0;
    edge->outlierCount = 0;
    // Nothing of the automatic match stays behind the user's transform.
    edge->inliers1.clear();
    edge->inliers2.clear();
    edge->inlierScores.clear();
    edge->outliers1.clear();
    edge->outliers2.clear();
    edge->outlierScores.clear();
    return true;
}

bool CPanorama::BuildMatchGraphManually(CGraph* graph) {
    if (!graph)
        return false;
    graph->Clear();
    const int n = static_cast<int>(std::min(CurrentElements().size(), keypointSets_.size()));
    for (int i = 0; i < n; ++i)
        if (!graph->AddNode(i))
            return false;
    try {
        // A chain in list order: the last photo is not joined to the first.
        for (int i = 0; i + 1 < n; ++i) {
            bool matcherOk = true;
            CEdge* automatic = nullptr;
            if (!MatchChainPair(graph, i, i + 1, matcherOk, &automatic))
                return false;
            position_ += 4;
            if (ReportProgress(total_, position_))
                break;
            if (!automatic || withTransforms_)
                if (!MatchPairByHand(graph, i, i + 1, automatic))
                    return false;
        }
    } catch (const abort_matching&) {
        return false;
    }
    // A pair the matcher failed on but the user matched by hand is no error.
    return !cancel_;
}

bool CPanorama::AddToMatchGraph(CGraph* graph, int second, int first) {
    if (!graph || !graph->AddNode(first))
        return false;
    const bool canPrompt = transformsMode_ && ui_;
    bool matcherOk = true;
    CEdge* automatic = nullptr;
    if (!MatchChainPair(graph, first, second, matcherOk, &automatic))
        return false;
    if (!matcherOk && !canPrompt)
        return false;
    position_ += 4;
    ReportProgress(total_, position_);
    if (cancel_)
        return false;
    if (transformsMode_ && (!automatic || withTransforms_)) {
        try {
            if (!MatchPairByHand(graph, first, second, automatic))
                return false;
        } catch (const abort_matching&) {
            return false;
        }
    }
    return true;
}
