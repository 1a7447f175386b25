#pragma once
// Lens presets and the warp of photos onto the sphere of a preset, used by the
// planar engine when lens compensation is on.

#include <functional>
#include <vector>

class CPanoElement;

struct LensPreset {
    int id;
    const char* name;    // also string resource 208 + id
    double focalFactor;  // focal length in units of half the photo's longer side
};

// The ten presets in table order; the id is the index.
struct LensPresetTable {
    static constexpr int kCount = 10;
    static const LensPreset kPresets[kCount];
    static const int kIds[kCount];

    static bool IsValidId(int id) { return id >= 0 && id < kCount; }
    // Focal factor of a preset; the caller checks the id first.
    static double FocalFactor(int id) { return kPresets[id].focalFactor; }
};

// Appends the preset ids in table order; null does nothing.
void GetLensPresetIds(std::vector<int>* ids);

// Photo pixel (x, y) of a w x h photo to sphere pixel (X, Y), and back.
void SphereForwardMap(int w, int h, double* X, double* Y, double x, double y, double f, double k);
void SphereInverseMap(int w, int h, double* x, double* y, double X, double Y, double f, double k);

// Progress step of the engine; true means the user cancelled.
using WarpProgress = std::function<bool()>;

// A new element (one reference) with the warped size and the photo's depth but
// no pixels and no mask yet; null when it cannot be made.
CPanoElement* CreateSphereCanvas(CPanoElement* photo, double f);

// Creates target's pixels at the warped size, with a mask, and fills both from
// source. progress is asked after a third and two thirds of the rows; a cancel
// returns false at once.
bool WarpElementToSphere(CPanoElement* target, CPanoElement* source, double f, double* scale,
                         const WarpProgress& progress);

// A new warped element (one reference), or null.
CPanoElement* MakeSphereWarpedCopy(CPanoElement* photo, double* scale, double f);
