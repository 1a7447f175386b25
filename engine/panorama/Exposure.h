#pragma once
// The two pixel steps that change the result around a newly warped photo:
// exposure balance (both move halfway towards each other over the overlap,
// fading out beyond it) and the alpha "over" operator for the part of the
// photo the pyramid blend did not write.

#include "OrvexBase.h"
#include "PanoElement.h"

// The work of CPanorama::BalanceExposure. photoRect and transform (panorama ->
// photo, row-major 3x3) are those of the current mode's photo; raw is the
// rawExposureDifference option. Does nothing when an element is missing or
// not 24-bit, the overlap is empty, or a work image cannot be made.
void BalanceExposure(CPanoElement* result, CPanoElement* warped, const OrvexBase::Rect& photoRect,
                     const double transform[9], bool raw);

// The work of CPanorama::CompositeOver: lays warped over result with its mask
// as alpha, leaving out blended (empty: nothing left out). written, when
// given, is zeroed and then set to the rectangles' intersection. False when
// an element is missing or not 24-bit, or the rectangles do not meet.
bool CompositeOver(CPanoElement* result, CPanoElement* warped, const OrvexBase::Rect& blended,
                   OrvexBase::Rect* written = nullptr);
