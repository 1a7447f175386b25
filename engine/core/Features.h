#pragma once
// Scale-invariant feature detection: a difference-of-Gaussian scale space of
// the photo's grey image, strict 26-neighbour extrema that pass a contrast and
// an edge test, one keypoint per strong orientation peak, and a 4 x 4 x 8
// gradient-histogram descriptor of unit length per keypoint.

#include <functional>
#include <vector>

#include "KeypointSet.h"
#include "PanoramaLib.h"

// Asked between the stages; true cancels the detection.
using CancelFunction = std::function<bool()>;

// Replaces the keypoints in `keypoints` (deleting the old ones) by the photo's
// keypoints in octave, level, row, column order, and `descriptors` (deleting
// the old ones too, so both stay parallel) by one new 128-value descriptor
// per keypoint. Reads 8- or 24-bit elements; any other element (no pixels,
// another depth) gives empty lists. Both callers pass edge ratio 10 and
// contrast threshold 0.02 (samples scaled to [0, 1]).
//
// The work is spread over the shared thread pool (when called from outside
// it); the output does not depend on the number of threads.
//
// The cancel function, when given, is asked five times as the work goes on:
// after the first octave's extremum search, after its keypoints, after the
// second octave, after the last, and once the lists are filled. A true answer
// throws panorama_abort; at the first four the lists are still untouched, at
// the fifth they are already filled.
void DetectFeatures(PanoramaLib::IPanoElement* element, std::vector<Keypoint*>& keypoints,
                    std::vector<double*>& descriptors, double edgeRatio, double contrastThreshold,
                    const CancelFunction& cancel = {});

// While one of these lives, the detector's sample planes (three of the
// photo's doubled size and one of its own) are kept when a detection is done
// with them and handed to the next detection, so a batch of photos touches
// fresh memory once per detection running at a time; the last scope to end
// frees them.
class DetectionPlaneScope {
public:
    DetectionPlaneScope();
    ~DetectionPlaneScope();
    DetectionPlaneScope(const DetectionPlaneScope&) = delete;
    DetectionPlaneScope& operator=(const DetectionPlaneScope&) = delete;
};
