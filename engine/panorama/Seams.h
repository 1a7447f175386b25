#pragma once
// Seams between a new photo and the photos already placed: the least-cost
// path search through a difference image (CSeamFinder), the mask cut along
// it, the carrying of seams to full resolution (CSeamRescaler), and the
// seam-mask step that prepares difference images, side flags and core
// rectangles from a warped photo and the result (ComputeSeamMask).

#include <cstdint>
#include <vector>

#include "OrvexBase.h"
#include "PanoElement.h"

enum SeamSide : std::int32_t {
    SEAM_LEFT = 1,    // a neighbour lies to the left: vertical seam
    SEAM_RIGHT = 2,   // to the right: vertical seam
    SEAM_TOP = 4,     // above (smaller row index): horizontal seam
    SEAM_BOTTOM = 8,  // below: horizontal seam
};

struct SeamPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const SeamPoint&) const = default;
};

// One side's seam, in the new photo's own pixel coordinates.
struct SeamLine {
    std::vector<SeamPoint> points;
    // Strip position relative to the photo (strip left/top minus photo left/top).
    std::int32_t offsetX = 0;
    std::int32_t offsetY = 0;
    OrvexBase::Rect strip;  // panorama coordinates
};

// The four seams of a photo, left, right, top, bottom.
class SeamSet {
public:
    SeamSet() = default;
    SeamSet(const SeamSet&) = default;
    SeamSet& operator=(const SeamSet&) = default;
    // A null pointer leaves that side; a pointer to the side itself is skipped.
    void Assign(const SeamLine* left, const SeamLine* right, const SeamLine* top, const SeamLine* bottom);
    // 1, 2, 4 or 8 give that side; any other value one shared empty line.
    SeamLine& operator[](std::int32_t side);
    const SeamLine& operator[](std::int32_t side) const;

private:
    SeamLine lines[4];
};

// 5-ary min-heap of (key, x, y) with a fixed capacity; unused entries hold
// the largest key, which also means "empty".
class CMinHeap5 {
public:
    static constexpr std::int32_t kEmpty = 0x7fffffff;
    explicit CMinHeap5(std::int32_t capacity);
    // False, and nothing stored, when full.
    bool Push(std::int32_t key, std::int32_t x, std::int32_t y);
    // The smallest key; kEmpty with x and y untouched when empty.
    std::int32_t Pop(std::int32_t* x, std::int32_t* y);
    std::int32_t Count() const { return count; }

private:
    struct Entry {
        std::int32_t key, x, y;
    };
    std::int32_t arity = 5;
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    std::vector<Entry> entries;
};

// Least-cost paths through an 8-bit cost plane: top row to bottom row
// (vertical) or left column to right column (horizontal). The margin columns
// (rows) on both edges are never entered. Mirrored paths are read back for a
// plane that was flipped along the path. Points are moved by the offset.
void FindVerticalSeam(const std::uint8_t* plane, std::int32_t width, std::int32_t height, std::int32_t stride,
                      std::vector<SeamPoint>* points, bool mirrored, std::int32_t margin,
                      std::int32_t offsetX, std::int32_t offsetY);
void FindHorizontalSeam(const std::uint8_t* plane, std::int32_t width, std::int32_t height,
                        std::int32_t stride, std::vector<SeamPoint>* points, bool mirrored,
                        std::int32_t margin, std::int32_t offsetX, std::int32_t offsetY);

// Mean of an 8-bit image over a rectangle in its own coordinates, clipped to
// it; 0 when nothing is left.
int MeanOfRegion(const PanoramaLib::IPanoElement* image, const OrvexBase::Rect& area);

// Margin kept free on both edges of a strip n pixels across the seam.
int SeamMargin(int n);

// Finds the seams of one photo against a difference image and cuts its mask.
class CSeamFinder {
public:
    CSeamFinder(PanoramaLib::IPanoElement* difference, const OrvexBase::Rect& core);
    ~CSeamFinder();
    CSeamFinder(const CSeamFinder&) = delete;
    CSeamFinder& operator=(const CSeamFinder&) = delete;

    // Each flagged side, left, right, top, bottom: strip, seam, mask cut.
    void FindSeams(PanoramaLib::IPanoElement* photo, std::int32_t sides);
    // A new reference to the strip of one side, or null.
    PanoramaLib::IPanoElement* GetOverlapStrip(std::int32_t side);
    const SeamLine& Line(std::int32_t side) const { return seams[side]; }
    const SeamSet& Seams() const { return seams; }

private:
    PanoramaLib::IPanoElement* difference = nullptr;
    OrvexBase::Rect photoRect;
    OrvexBase::Rect coreRect;
    std::int32_t sides = 0;
    SeamSet seams;
};

// Cuts a photo's mask along one side's seam: 0 on the neighbour's side, 255
// on the seam. The line's end points are extended to the strip's edges.
void CutMaskAlongSeam(PanoramaLib::IPanoElement* photo, std::int32_t side, SeamLine* line);

// Carries the seams of an analysis copy over to the full-resolution element.
class CSeamRescaler {
public:
    CSeamRescaler(PanoramaLib::IPanoElement* analysis, PanoramaLib::IPanoElement* full, const SeamSet& seams);
    ~CSeamRescaler();
    CSeamRescaler(const CSeamRescaler&) = delete;
    CSeamRescaler& operator=(const CSeamRescaler&) = delete;
    // False when an element is missing, or at the first side that fails.
    bool Rescale();

private:
    bool RescaleSide(std::int32_t side);
    PanoramaLib::IPanoElement* analysis = nullptr;
    PanoramaLib::IPanoElement* full = nullptr;
    SeamSet seams;
};

// --- The seam-mask step of one warped photo against the result ---

// Sets map bytes to 255 where the element covers, 0 where it does not.
void MarkElementCoverage(CPanoElement* map, CPanoElement* element);
// Sets map bytes to 128 where the element covers; others stay.
void MarkResultCoverage(CPanoElement* map, CPanoElement* element);
// Centre (panorama coordinates) of the map's photo-only (255) area.
SeamPoint FindElementOnlyCentre(CPanoElement* map);
// Sides (SeamSide bits) on which a 128 byte lies from point (panorama coordinates).
std::int32_t DetectSeamSides(CPanoElement* map, SeamPoint point);
// Rectangle grown from point until its sides meet result coverage; right
// and bottom are inclusive indices, offset by the map's position.
OrvexBase::Rect GrowSeamCoreRect(CPanoElement* map, SeamPoint point);
// The 8-bit |grey difference| of result and photo over overlap, 255 where
// either is not covered; not yet smoothed. Null when it cannot be made.
CPanoElement* MakeDifferenceImage(CPanoElement* result, CPanoElement* photo, const OrvexBase::Rect& overlap);

// Where the photo ends over pixels the result covers (an edge of the photo
// that no seam cut back, as where the seams' sides missed a neighbour), its
// cut mask falls off linearly over `reach` pixels towards that edge, so the
// blend meets the result there softly instead of in a one-column step. Only
// the photo's coverage before the cut (its saved mask) counts as its edge.
void FadeTowardsCoveredEdges(CPanoElement* warped, CPanoElement* result, int reach);

// Holds a photo's cut mask to what the cut may mean: a seam never uncovers a
// pixel the photo does not cover (coverage: its mask before the cut, same
// layout), and the photo is never cut away where the result has nothing to
// show instead.
void KeepCutWithinCoverage(CPanoElement* warped, const std::vector<std::uint8_t>& coverage,
                           CPanoElement* result);
// A copy of an element's mask plane (empty without one).
std::vector<std::uint8_t> CopyMask(CPanoElement* element);

// The work of CPanorama::ComputeSeamMask (and its scale-and-shift path when
// motionModel is 2): cuts warped's mask against result and stores the seams
// in seams. False when an element is missing or is not 24-bit, or a work
// image cannot be made; the mask is then left as warped.
bool ComputeSeamMask(CPanoElement* warped, CPanoElement* result, int motionModel, SeamSet* seams,
                     double seamBlur = 2.0);
