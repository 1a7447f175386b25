#pragma once
// One numbered marker of a photo pane: a bitmap with alpha, the bitmap pixel
// that sits on the marked spot (the hot point), and that spot in image and
// client coordinates. The bitmap comes from the shared cache.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "MarkerBitmap.h"

class QPainter;

class CMarker {
public:
    CMarker(int index, const std::string& fileName, QPoint hotPoint);

    void Load(const std::string& fileName, QPoint hotPoint);
    // The bitmap's place in client coordinates.
    QRect GetRect() const;
    QPoint GetGrabOffset(QPoint point) const { return point - clientPosition; }
    // Alpha-blended over what is there; nothing while hidden.
    void Draw(QPainter& painter, QPoint origin) const;
    bool HitTest(QPoint point) const;

    int Width() const { return m_bitmap ? m_bitmap->width : 0; }
    int Height() const { return m_bitmap ? m_bitmap->height : 0; }
    const Markers::MarkerBitmap* Bitmap() const { return m_bitmap.get(); }

    int index;
    QPoint hotPoint;
    QPoint imagePosition;
    QPoint clientPosition;
    bool visible = true;

private:
    std::shared_ptr<const Markers::MarkerBitmap> m_bitmap;
    QImage m_image;  // a view of the cached pixels
};

// The markers of one pane; index 0 is drawn on top and hit first.
class CMarkerArray {
public:
    void Add(std::unique_ptr<CMarker> marker);
    CMarker* First() const;
    CMarker* FindByIndex(int index) const;
    void BringToFront(CMarker* marker);
    CMarker* HitTest(QPoint point) const;
    void DrawAll(QPainter& painter, QPoint origin) const;
    int Count() const { return int(m_markers.size()); }
    CMarker* At(int i) const { return m_markers[std::size_t(i)].get(); }

private:
    std::vector<std::unique_ptr<CMarker>> m_markers;
};
