#pragma once
// The picture view of the main window: the stitched result with the crop
// frame (moved and resized with the mouse, the picture lightened outside it),
// tiled navigation by dragging on the stitch task, panning, and the
// "Picture View" context menu.

#include <QPoint>
#include <QRegion>

#include "CropGeometry.h"
#include "PictViewer.h"
#include "PictureViewDocument.h"
#include "TransformFrame.h"

class QMenu;

class CPictureView : public CPictViewer, public ICropRect {
    Q_OBJECT
public:
    explicit CPictureView(IPictureViewDocument* document, QWidget* parent = nullptr);
    ~CPictureView() override;

    void BeginCrop(const OrvexBase::Rect* rect, bool redraw) override;
    void EndCrop(OrvexBase::Rect* out, bool redraw) override;
    void SetCropRect(const OrvexBase::Rect* rect) override;
    void GetCropRect(OrvexBase::Rect* out) override;
    void SetKeepAspect(bool on) override;
    void GetPatchRect(OrvexBase::Rect* out) override;

    bool IsCropShown() const { return m_cropShown; }
    const TransformFrame::CFrame& CropFrame() const { return m_cropFrame; }
    bool IsNavigating() const { return m_navigating; }
    bool IsTilting() const { return m_tilting; }
    bool IsPanning() const { return m_panning; }
    bool IsTracking() const { return m_tracking; }

    // The "Picture View" menu; its actions run the zoom commands on this view.
    QMenu* CreateContextMenu(QWidget* parent);

protected:
    void DrawOverlay(QPainter& painter, const QRect& imageArea, const QRect& paintRect) override;
    // While the crop frame shows, a fitted picture leaves room for the
    // handles on its edges and their grab area.
    int FitMargin() const override { return m_cropShown ? 8 : 0; }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QRegion BuildCropRegion();
    bool TiledNavigationActive();
    void NavigationStep(QPoint point);
    void TiltStep(QPoint point);
    void UpdateCursor(QPoint point);
    QRect ImageClientRect();

    IPictureViewDocument* m_document;
    int m_surface = 0, m_elevation = 0, m_azimuth = 0, m_tilt = 0;
    bool m_navigating = false;
    bool m_tilting = false;
    bool m_cropShown = false;
    OrvexBase::Rect m_cropRect;
    bool m_tracking = false;
    OrvexBase::Rect m_patchRect;
    bool m_panning = false;
    QPoint m_pressPoint;
    TransformFrame::CFrame m_cropFrame;
    TransformFrame::CTracker m_cropTracker{&m_cropFrame};
};

// Turns a frame area into a widget region.
QRegion ToRegion(const TransformFrame::FrameRegion& region);
