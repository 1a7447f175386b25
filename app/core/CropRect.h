#pragma once
// The crop rectangle between the document and the picture view: the crop
// choice whose ratio the rectangle keeps, and the view's operations that the
// document calls. Image rectangles have y pointing up.

#include "OrvexBase.h"

// How the document crops the result: kind 0 no crop, 1 a free rectangle,
// 2 a print product whose width : height ratio the rectangle keeps.
struct CropAspect {
    int width = 0;
    int height = 0;
    int kind = 1;
};

// What the document does with the crop view's rectangle; the crop view
// implements it and the document calls it.
class ICropRect {
public:
    // Shows the frame on rect (nothing when it is shown already).
    virtual void BeginCrop(const OrvexBase::Rect* rect, bool redraw) = 0;
    // Hides the frame; out always receives the stored rectangle.
    virtual void EndCrop(OrvexBase::Rect* out, bool redraw) = 0;
    // Takes a new rectangle, fitted to the current product; shows nothing.
    virtual void SetCropRect(const OrvexBase::Rect* rect) = 0;
    virtual void GetCropRect(OrvexBase::Rect* out) = 0;
    virtual void SetKeepAspect(bool on) = 0;
    virtual void GetPatchRect(OrvexBase::Rect* out) = 0;

protected:
    ~ICropRect() = default;
};
