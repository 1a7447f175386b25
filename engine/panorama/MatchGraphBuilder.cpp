#include "MatchGraphBuilder.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "Hough.h"
#include "KdTree.h"
#include "PanoramaLib.h"
#include "PairMatching.h"
#include "RobustFit.h"
#include "ThreadPool.h"

using match_graph::CEdge;
using match_graph::CGraph;

// What one pair produced, applied to the graph in pair order afterwards.
struct CMatchGraphBuilder::PairResult {
    bool matcherOk = true;
    int fits = 0;  // fits tried, for the repaint calls
    struct Accepted {
        double transform[9];
        double residual;
        std::vector<int> inliers, outliers;
        std::vector<std::int32_t> query, reference, scores;  // the cluster's matches in i and j
    };
    std::vector<Accepted> edges;
};

CMatchGraphBuilder::CMatchGraphBuilder(MatchSettings settings, std::vector<const CKeypointSet*> sets,
                                       std::vector<OrvexBase::Size> sizes)
    : settings_(std::move(settings)), sets_(std::move(sets)), sizes_(std::move(sizes)) {
    // One size and one tolerance per photo: a shorter list would match the
    // missing photos against a 0 x 0 frame or a guessed tolerance.
    if (sizes_.size() != sets_.size() || settings_.tolerance.size() != sets_.size())
        throw panorama_error();
}

bool CMatchGraphBuilder::CanAsk(int i) const {
    const CKeypointSet* set = sets_[std::size_t(i)];
    if (!settings_.requireKeypoints)
        return set != nullptr;
    // A photo without keypoints has nothing to match: its pairs are skipped
    // rather than searching an empty tree.
    return set && !set->keypoints.empty() && set->descriptors.size() == set->keypoints.size();
}

bool CMatchGraphBuilder::CanAnswer(int j) const {
    if (settings_.requireKeypoints)
        return CanAsk(j);
    const CKeypointSet* set = sets_[std::size_t(j)];
    return set && !set->descriptors.empty();
}

void CMatchGraphBuilder::FitPair(int i, int j, const std::vector<std::int32_t>& matched,
                                 const std::vector<std::int32_t>& scores, PairResult& result) const {
    const CKeypointSet& setI = *sets_[std::size_t(i)];
    const CKeypointSet& setJ = *sets_[std::size_t(j)];
    const OrvexBase::Size& sizeI = sizes_[std::size_t(i)];
    const OrvexBase::Size& sizeJ = sizes_[std::size_t(j)];
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

    const double tolerance = settings_.tolerance[std::size_t(i)];
    for (std::size_t c : chosen) {
        const auto& q = clusterQuery[c];
        const auto& r = clusterReference[c];
        const std::size_t n = q.size();
        std::vector<double> weights;
        std::vector<FitPoint> from, to;
        ClusterFitInput(setI, setJ, q, r, weights, from, to);
        PairResult::Accepted a;
        bool ok;
        switch (settings_.fit) {
            case MatchSettings::FitModel::Affine:
                ok = FitAffineRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual,
                                     0.75);
                break;
            case MatchSettings::FitModel::ScaleShift:
                ok = FitScaleShiftRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual,
                                         0.75);
                break;
            default:
                ok = FitSimilarityRobust(from, to, weights, a.transform, &a.inliers, &a.outliers, &a.residual,
                                         0.75);
                break;
        }
        ++result.fits;
        if (!ok || !IsAcceptedFit(a.inliers.size(), n, a.residual, tolerance, sizeI, sizeJ, a.transform))
            continue;
        if (settings_.planarNeighbourTest &&
            !IsPlanarNeighbourFit(a.residual, tolerance, sizeI, sizeJ, a.transform))
            continue;
        a.query = q;
        a.reference = r;
        if (settings_.keepScoresAndOutliers)
            a.scores = clusterScores[c];
        result.edges.push_back(std::move(a));
    }
}

bool CMatchGraphBuilder::ApplyPair(CGraph* graph, int i, int j, PairResult& pair, StageContext& context,
                                   CEdge** firstEdge) const {
    if (firstEdge)
        *firstEdge = nullptr;
    context.RepaintNow();
    if (!pair.matcherOk)
        return false;
    for (int f = 0; f < pair.fits; ++f)
        context.RepaintNow();
    for (PairResult::Accepted& a : pair.edges) {
        CEdge* edge = graph->AddEdge(i, j);
        if (!edge)
            return false;
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
        if (settings_.keepScoresAndOutliers) {
            auto score = [&](int k) { return std::size_t(k) < a.scores.size() ? a.scores[k] : 0; };
            for (int k : a.inliers)
                edge->inlierScores.push_back(score(k));
            for (int k : a.outliers) {
                edge->outliers1.push_back(a.query[k]);
                edge->outliers2.push_back(a.reference[k]);
                edge->outlierScores.push_back(score(k));
            }
        }
        if (firstEdge && !*firstEdge)
            *firstEdge = edge;
    }
    return true;
}

bool CMatchGraphBuilder::MatchPair(CGraph* graph, int first, int second, StageContext& context,
                                   bool& matcherOk, CEdge** accepted) const {
    *accepted = nullptr;
    matcherOk = true;
    const int n = static_cast<int>(sets_.size());
    if (first < 0 || second < 0 || first >= n || second >= n || !Matchable(first, second))
        return true;
    IndexedPhoto index;
    PairResult pair;
    if (!IndexDescriptors(*sets_[std::size_t(second)], index)) {
        pair.matcherOk = false;
    } else {
        std::vector<std::int32_t> matched, scores;
        bool ratioOk = true;
        try {
            MatchByRatio(index.tree, sets_[std::size_t(first)]->descriptors, matched, scores,
                         settings_.ratio);
        } catch (const std::bad_alloc&) {
            ratioOk = false;
        }
        if (ratioOk)
            FitPair(first, second, matched, scores, pair);
        else
            pair.matcherOk = false;
    }
    if (ApplyPair(graph, first, second, pair, context, accepted))
        return true;
    matcherOk = pair.matcherOk;
    // A failed matcher is the caller's to weigh; a failed edge is memory.
    return !matcherOk;
}

bool CMatchGraphBuilder::BuildAll(CGraph* graph, StageContext& context) const {
    if (!graph)
        return false;
    graph->Clear();
    const int n = static_cast<int>(sets_.size());
    for (int i = 0; i < n; ++i)
        if (!graph->AddNode(i))
            return false;

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
    const std::size_t rows = std::size_t(std::max(n, 1));
    std::vector<int> rowStart(rows, 0);
    for (int i = 0; i + 1 < n; ++i) {
        rowStart[std::size_t(i)] = static_cast<int>(pairs.size());
        for (int j = i + 1; j < n; ++j)
            pairs.push_back({i, j});
    }
    std::vector<PairResult> results(pairs.size());
    std::vector<std::unique_ptr<IndexedPhoto>> indexed(rows);
    std::unique_ptr<std::once_flag[]> indexOnce(new std::once_flag[rows]);
    std::unique_ptr<std::atomic<bool>[]> indexOk(new std::atomic<bool>[rows]);
    std::unique_ptr<std::atomic<int>[]> rowLeft(new std::atomic<int>[rows]);
    for (int i = 0; i < n; ++i) {
        indexOk[std::size_t(i)] = true;
        rowLeft[std::size_t(i)] = n - 1 - i;
    }
    auto indexOf = [&](int j) -> const IndexedPhoto* {
        std::call_once(indexOnce[std::size_t(j)], [&] {
            auto photo = std::make_unique<IndexedPhoto>();
            indexOk[std::size_t(j)] = IndexDescriptors(*sets_[std::size_t(j)], *photo);
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
                if (!Matchable(i, j))
                    continue;
                PairResult& pair = results[std::size_t(rowStart[std::size_t(i)] + (j - i - 1))];
                if (!ApplyPair(graph, i, j, pair, context, nullptr)) {
                    decided = true;
                    break;
                }
                pair = PairResult();
            }
            if (decided)
                break;
            // Photo i + 1's tree has answered every pair it is in.
            indexed[std::size_t(i) + 1].reset();
            if (context.Advance(4)) {
                decided = true;
                answer = !context.IsCancelled();
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
        if (Matchable(i, j)) {
            matched[p].resize(sets_[std::size_t(i)]->descriptors.size());
            matchScores[p].resize(sets_[std::size_t(i)]->descriptors.size());
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
            const bool matchable = Matchable(i, j);
            if (matchable) {
                if (const IndexedPhoto* index = indexOf(j)) {
                    const auto& queries = sets_[std::size_t(i)]->descriptors;
                    const std::size_t b = queries.size() * part / kParts;
                    const std::size_t e = queries.size() * (part + 1) / kParts;
                    try {
                        MatchByRatio(index->tree, queries.data() + b, e - b, matched[p].data() + b,
                                     matchScores[p].data() + b, settings_.ratio);
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
                    FitPair(i, j, matched[p], matchScores[p], results[p]);
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
    return !context.IsCancelled();
}
