#include "KeypointSet.h"

CKeypointSet::CKeypointSet(const CKeypointSet* source) {
    if (!source)
        return;
    keypoints = source->keypoints;
    descriptors = source->descriptors;
    imageIndex = source->imageIndex;
    imageSizes = source->imageSizes;
    view = true;
}

CKeypointSet::~CKeypointSet() {
    Clear();
}

void CKeypointSet::Clear() {
    if (!view) {
        for (Keypoint* k : keypoints)
            delete k;
        for (double* d : descriptors)
            delete[] d;
    }
    keypoints.clear();
    descriptors.clear();
}

bool CKeypointSet::BuildIndex(const OrvexBase::Size& imageSize) {
    imageSizes.push_back(imageSize);
    imageIndex.assign(keypoints.size(), static_cast<std::int32_t>(imageSizes.size() - 1));
    return true;
}

double IntPower(double x, std::int32_t k) {
    // Work on the magnitude in 64 bits so that INT32_MIN has a negation.
    std::int64_t n = k;
    const bool reciprocal = n < 0;
    if (reciprocal)
        n = -n;
    double result = 1.0;
    double base = x;
    while (n > 0) {
        if (n & 1)
            result *= base;
        base *= base;
        n >>= 1;
    }
    return reciprocal ? 1.0 / result : result;
}
