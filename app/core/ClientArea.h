#pragma once
// The coordinate interface of the picture views: client pixels (origin at the
// window's top-left, y down) against image pixels (origin at the image's
// bottom pixel row, y up, as the engine's bottom-up buffers are stored).
// Conversions work in place and do nothing while no image is shown.

#include <QPoint>

#include "OrvexBase.h"

class IClientArea {
public:
    // The forms with a mode forward to the plain ones; the mode is not used.
    virtual void ClientToImage(OrvexBase::Rect* r, int /*mode*/) { ClientToImage(r); }
    virtual void ClientToImage(OrvexBase::Rect* r) = 0;
    virtual void ClientToImage(QPoint* p, int /*mode*/) { ClientToImage(p); }
    virtual void ClientToImage(QPoint* p) = 0;
    virtual void ImageToClient(OrvexBase::Rect* r, int /*mode*/) { ImageToClient(r); }
    virtual void ImageToClient(OrvexBase::Rect* r) = 0;
    virtual void ImageToClient(QPoint* p, int /*mode*/) { ImageToClient(p); }
    virtual void ImageToClient(QPoint* p) = 0;

protected:
    ~IClientArea() = default;
};
