// Prompted and manual match-graph building of the planar model: a chain of
// the photos in list order, each pair matched automatically and handed to the
// user when it did not match or every pair is to be confirmed.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "ManualMatcher.h"
#include "MatchGraphBuilder.h"
#include "Panorama.h"

using match_graph::CEdge;
using match_graph::CGraph;

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
    return MakeMatchGraphBuilder().MatchPair(graph, first, second, *this, matcherOk, accepted);
}

bool CPanorama::MatchPairByHand(CGraph* graph, int first, int second, CEdge* automatic) {
    if (!ui_)
        throw abort_matching();
    const auto& elements = copies_;
    CPanoElement* a = first < static_cast<int>(elements.size()) ? elements[first].Get() : nullptr;
    CPanoElement* b = second < static_cast<int>(elements.size()) ? elements[second].Get() : nullptr;
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
    const int n = static_cast<int>(std::min(copies_.size(), keypointSets_.size()));
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
