#pragma once
// The plausibility test of a pair transform, shared by the graph builders and
// the marker matcher.

#include "OrvexBase.h"

// True when `transform` (row-major 3x3, mapping image A to image B) is to be
// rejected: image B mapped back into A's frame leaves the 16-bit coordinate
// range, collapses below one pixel, or is more than five times larger or
// smaller than A in either direction. A matrix with a non-finite entry, or
// one that cannot be inverted, is rejected too.
bool IsImplausibleTransform(const OrvexBase::Size& sizeA, const OrvexBase::Size& sizeB,
                            const double transform[9]);
