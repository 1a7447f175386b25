#pragma once
// The crop view's rules as arithmetic: fitting the crop rectangle to a print
// product's ratio, the bands lightened around the crop, and the tiled
// navigation and tilt steps of a drag. Image rectangles have y pointing up.

#include <QPoint>
#include <optional>

#include "CropRect.h"
#include "OrvexBase.h"

namespace CropGeometry {

// The rectangle SetCropRect stores, or nothing for kinds that change nothing.
// A product of size 0 counts as a free rectangle rather than dividing by 0.
struct FittedCrop {
    OrvexBase::Rect rect;
    bool keepsRatio = false;  // the frame loses its edge handles
};
std::optional<FittedCrop> FitCropRect(const OrvexBase::Rect& rect, const CropAspect& aspect);

// The four bands (x, y, width, height) around crop inside an area of
// width x height, crop given in the area's coordinates. A crop that misses
// the area leaves the whole area as the first band.
struct Band {
    int x, y, width, height;
};
void ShadeBands(const OrvexBase::Rect& crop, int areaWidth, int areaHeight, Band out[4]);

// The inner area of a tiled navigation drag: the client deflated by an eighth
// of its size on each side.
bool InNavigationArea(int clientWidth, int clientHeight, QPoint p);

// One navigation step: the angles at the press moved by the drag, 45 degrees
// per image extent, limited to [-45, 45]. Nothing for an image of no extent.
struct Angles {
    int elevation = 0;
    int azimuth = 0;
};
std::optional<Angles> NavigationStep(QPoint press, QPoint point, int imageClientWidth, int imageClientHeight,
                                     Angles atPress);
// One tilt step around the client centre, limited to [-45, 45].
int TiltStep(QPoint centre, QPoint press, QPoint point, int tiltAtPress);

// A rectangle drawn on a preview previewWidth wide, scaled to a full result
// fullRect wide and kept inside it; false (nothing to scale) when the preview
// width is not positive.
bool ScaleCropRect(const OrvexBase::Rect& rect, int previewWidth, const OrvexBase::Rect& fullRect,
                   OrvexBase::Rect* out);

}  // namespace CropGeometry
