#pragma once
// The analysis stage both models share: the heavy part of every photo's
// analysis (its analysis copy and, unless an earlier build's keypoints are
// reused, its feature detection) runs side by side on the thread pool, with
// the detector's planes kept from one photo to the next, while the calling
// thread takes the photos in list order, reports progress and hears the
// cancel answer. What a model does with a photo is its own: it hands the
// stage a prepare step and a take-in step.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <semaphore>
#include <string>
#include <vector>

#include "KeypointSet.h"
#include "PanoElement.h"
#include "PanoramaLib.h"
#include "StageContext.h"

// The heavy part of one photo's analysis, done ahead on a worker thread: its
// copy (kept by the planar model) and, unless cached, its keypoints.
struct PreparedAnalysis {
    enum { kOk = 0, kFailed = 1, kCancelled = 2 };
    OrvexBase::RefPtr<CPanoElement> copy;
    std::unique_ptr<CKeypointSet> set;
    int failure = kOk;
};

// The keypoint sets of a build, one per photo in photo order (null: a
// photo without analysis).
using KeypointSetList = std::vector<std::unique_ptr<CKeypointSet>>;

class CAnalysisStage {
public:
    // Full-size pictures are the large part of an analysis: only this many
    // are decoded at the same time.
    static constexpr int kFullSizeLoadsAtOnce = 3;

    // Photo i's heavy part, on a worker: detect is false when an earlier
    // build's keypoints are reused. It decodes full-size pictures only while
    // holding one of fullSizeSlots, calls no callback, and stops (throws
    // panorama_abort) once abort is set; any exception marks the photo failed.
    using PrepareFunction =
        std::function<void(std::size_t i, bool detect, const std::atomic<bool>& abort,
                           std::counting_semaphore<>& fullSizeSlots, PreparedAnalysis& out)>;
    // Photo i taken in on the calling thread, in list order: ready is its
    // prepared part, or null when the photos go one by one and the whole
    // analysis is done here; cached is an earlier build's keypoint set, or
    // null. It throws to end the build.
    using TakeInFunction =
        std::function<void(std::size_t i, PreparedAnalysis* ready, std::unique_ptr<CKeypointSet> cached)>;

    // The keypoint set an earlier build made for the photo at this exact path
    // (taken out of oldSets, parallel to oldPhotos), or null. A set that only
    // views another photo's keypoints leads to that photo's own set.
    static std::unique_ptr<CKeypointSet> TakeCachedKeypoints(const std::wstring& name,
                                                             const std::vector<CPanoElement*>& oldPhotos,
                                                             KeypointSetList& oldSets);
    // The first n sets as the matcher reads them.
    static std::vector<const CKeypointSet*> View(const KeypointSetList& sets, std::size_t n);

    // Steps both models take with a photo:
    // The decoded photo's analysis copy made by the engine (a new reference);
    // throws panorama_error for a photo whose file vanished or that is not a
    // 24-bit picture, and when no copy can be made.
    static OrvexBase::RefPtr<CPanoElement> MakeCopy(CPanoElement* photo, PanoramaLib::IPanorama& engine);
    // Throws what ended a photo's prepared part: panorama_abort for a cancel,
    // panorama_error for a failure; nothing when there is none or it ended well.
    static void ThrowIfFailed(const PreparedAnalysis* ready);
    // The photo's keypoint set: the cached one, else the prepared one, else a
    // new empty one to fill; throws panorama_error when memory ran out.
    static std::unique_ptr<CKeypointSet> TakeSet(std::unique_ptr<CKeypointSet> cached,
                                                 PreparedAnalysis* ready);
    // The detector's five progress steps for a photo detected ahead, one by
    // one, or at once for a cached set; throws panorama_abort on a cancel.
    static void ReportDetectionSteps(bool cached, StageContext& context);

    // Analyses every non-null photo: side by side when there are several
    // different ones and more than one thread, else one by one. targetSize
    // is the analysis copies' size, which bounds the detections running at
    // once by the memory free. Throws what take-in throws; the workers are
    // stopped and joined first.
    static void Run(const std::vector<PanoramaLib::IPanoElement*>& photos,
                    std::vector<std::unique_ptr<CKeypointSet>> cached, int targetSize,
                    const PrepareFunction& prepare, const TakeInFunction& takeIn, StageContext& context);
};
