#pragma once
// The keypoints and 128-value descriptors found in one photo, with the image
// each keypoint belongs to and that image's size; the matcher reads it.

#include <cstdint>
#include <vector>

#include "OrvexBase.h"

// One scale-invariant keypoint. Positions are in the photo's pixels (the
// octave's sample position times the octave's spacing).
struct Keypoint {
    double x = 0.0;
    double y = 0.0;
    double orientation = 0.0;  // radians in [-pi, pi)
    std::int32_t octave = 0;
    std::int32_t level = 0;
    double scale = 0.0;  // the detector's scale of (octave, level), in photo pixels
};

constexpr int kDescriptorLength = 128;

class CKeypointSet {
public:
    CKeypointSet() = default;
    // A view sharing the source's keypoints and descriptors (not freed by the
    // view); a null source gives an empty owning set.
    explicit CKeypointSet(const CKeypointSet* source);
    ~CKeypointSet();
    // Implicit copies would free the keypoints twice.
    CKeypointSet(const CKeypointSet&) = delete;
    CKeypointSet& operator=(const CKeypointSet&) = delete;

    // Empties the keypoint and descriptor lists (deleting them unless this is
    // a view); the image lists stay.
    void Clear();
    // Tags every keypoint with a newly appended image of the given size.
    bool BuildIndex(const OrvexBase::Size& imageSize);

    // Owned keypoints and their descriptors (128 doubles, new[]), in parallel.
    std::vector<Keypoint*> keypoints;
    std::vector<double*> descriptors;
    std::vector<std::int32_t> imageIndex;  // per keypoint, into imageSizes
    std::vector<OrvexBase::Size> imageSizes;
    bool view = false;
};

// x to the integer power k by repeated squaring; 1 for k = 0, the reciprocal
// for negative k.
double IntPower(double x, std::int32_t k);
