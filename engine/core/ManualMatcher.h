#pragma once
// Marker matching of one photo pair: keeps the user's marker pairs, turns
// them into a planar transform by the chosen motion model after every change,
// and tells whether that transform is usable. RenderMatchPreview draws the two
// photos overlaid by such a transform for the matching dialog.

#include <atomic>
#include <cstdint>

#include "OrvexBase.h"
#include "PanoramaLib.h"

class CPanoElement;

class CManualMatcher : public PanoramaLib::IManualMatcher {
public:
    // optionFlag is only stored for the dialog (the engine passes its
    // 360-degree option).
    explicit CManualMatcher(bool optionFlag);

    // PanoramaLib::IManualMatcher
    void GetMarkers(bool second, int out[6]) const override;
    void SetMarker(bool second, const int point[2], int index) override;
    void Reset() override;
    void GetTransform(double out[9]) const override;
    // Under the affine model also true when the linear part is not
    // diagonally dominant (a rotation beyond 45 degrees, a mirror, a NaN).
    bool IsTransformInvalid() const override;
    int GetMotionModel() const override { return motionModel; }
    void SetMotionModel(int model) override;
    bool GetOptionFlag() const override { return optionFlag; }

    // Seeds scale-and-shift matching from markers near the facing edges:
    // the right edge of the first photo, the left edge of the second.
    void InitDefaultMarkers(const OrvexBase::Size& first, const OrvexBase::Size& second);
    // Seeds from a known transform H (first to second) and the first photo's
    // markers; an implausible H falls back to the default markers.
    void InitFromTransform(const OrvexBase::Size& first, const OrvexBase::Size& second, const int markers[6],
                           const double H[9], int model);
    // Computes the transform from the markers by `model` and sets the
    // invalid flag; a model outside 0..2 only marks the transform invalid.
    void Solve(int model);

    // The user moved a marker since the last reset.
    bool IsModified() const { return modified; }

private:
    void PlaceDefaultMarkers();
    // markers2 = markers1 mapped by transform, rounded.
    void MapMarkersByTransform();
    void SolveAffine();
    void SolveSimilarity();
    void SolveScaleShift();
    // Markers 0 and 1 coincide on both photos: a pure shift is all they say.
    bool SolveDegeneratePair();
    void UpdateInvalid();

    OrvexBase::Size size1;
    OrvexBase::Size size2;
    double initialTransform[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
    int initialMarkers[6] = {};
    int initialModel = 0;
    double transform[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
    bool fromTransform = false;
    int motionModel = 0;
    bool invalid = false;
    int markers1[6] = {};
    int markers2[6] = {};
    bool modified = false;
    bool optionFlag = false;
};

// RenderMatchPreview, the dialog's preview of a pair, is declared in PanoramaLib.h.
