#pragma once
// What the document asks of the crop view: the crop rectangle of the result
// (image pixels, origin at the bottom row) and the crop frame.

#include "OrvexBase.h"

class ICropRect {
public:
    virtual void SetCropRect(const OrvexBase::Rect& rect) = 0;
    virtual void BeginCrop(const OrvexBase::Rect& rect, bool redraw) = 0;
    virtual void EndCrop(const OrvexBase::Rect& rect, bool redraw) = 0;
    virtual void SetKeepAspect(bool keep) = 0;
    virtual void GetPatchRect(OrvexBase::Rect* rect) = 0;
    virtual ~ICropRect() = default;
};
