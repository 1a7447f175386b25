#pragma once
// A pane that shows one photo element at a chosen zoom, scrolled and centred,
// with draggable numbered markers on top; the matching dialog shows two photo
// panes with markers and one result pane without. Below 100 % it keeps a
// scaled copy of the photo so that painting does not scale it every time.

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>
#include <string>

#include "ClientArea.h"
#include "Marker.h"
#include "PanoramaLib.h"
#include "ZoomGeometry.h"

class CPictPreview : public QWidget, public IClientArea {
    Q_OBJECT
public:
    explicit CPictPreview(QWidget* parent = nullptr);
    ~CPictPreview() override;

    void SetImage(PanoramaLib::IPanoElement* image, bool redraw);
    PanoramaLib::IPanoElement* GetImage() const { return m_image.Get(); }
    void SetZoom(double zoom, int clientWidth, int clientHeight, bool redraw);
    void SetZoomLevel(double zoom, bool redraw);
    void FitToWindow(bool redraw);
    void FitToSize(int width, int height, bool redraw);
    void ActualSize();
    static double NextZoomLevel(double zoom, bool up);
    bool CanZoom(bool up) const;
    void ZoomIn();
    void ZoomOut();
    // Zooms; a step this pane took itself is announced to the owner.
    void ZoomStep(CPictPreview* sender, bool up);
    void ScrollTo(int x, int y, bool scrollWindow);

    void InitMarkers(const std::string& file1, const std::string& file2, const std::string& file3,
                     QPoint hot1, QPoint hot2, QPoint hot3);
    void LoadMarkers(PanoramaLib::IManualMatcher* matcher, int imageIndex);
    void ShowMarker(int index, bool visible);
    double ZoomToMarkers();
    void SetCacheEnabled(bool enabled);
    // The upper bound of the zoom steps (400 % unless set).
    void SetMaxZoom(double zoom) { m_maxZoom = ZoomGeometry::ClampZoom(zoom); }
    double GetMaxZoom() const { return m_maxZoom; }
    void SetCaption(const QString& caption);
    const QString& GetCaption() const { return m_caption; }

    bool OnCommand(int id);
    bool OnUpdateCommand(int id, bool* enabled) const;

    double GetZoom() const { return m_zoom; }
    double GetMinZoom() const { return m_minZoom; }
    int GetMargin() const { return m_margin; }
    bool IsFitMode() const { return m_fit; }
    bool IsScrollable() const { return m_scrollable; }
    QPoint GetScrollPosition() const { return m_scroll; }
    QSize GetContentSize() const { return m_content; }
    const CMarkerArray& Markers() const { return m_markers; }
    // The scaled copy painted below 100 %; null at other zooms.
    const QImage& ScaledCopy() const { return m_scaled; }

    using IClientArea::ClientToImage;
    using IClientArea::ImageToClient;
    void ClientToImage(OrvexBase::Rect* r) override;
    void ClientToImage(QPoint* p) override;
    void ImageToClient(OrvexBase::Rect* r) override;
    void ImageToClient(QPoint* p) override;

signals:
    void FocusChanged(bool gained, CPictPreview* pane);
    void ZoomStepped(bool up, CPictPreview* pane);
    // A marker drag moved a marker; the matcher has its new position.
    void MarkerMoved();

protected:
    virtual void DrawMarkers(QPainter& painter, QPoint origin);
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool HasValidImage() const;
    void SetContentSize(QSize size);
    void RebuildScaledCache();
    void UpdateMarkerPositions();
    void UpdateCursor(QPoint point);
    QRect ImageClientRect();

    QColor m_background{0xF0, 0xF0, 0xF0};
    bool m_fit = true;
    double m_zoom = 100.0;
    double m_minZoom = 1.0;
    double m_maxZoom = 400.0;
    bool m_cacheEnabled = true;
    int m_margin = 0;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_image;
    QImage m_scaled;
    QString m_caption;
    QSize m_content{1, 1};
    QPoint m_scroll;
    bool m_scrollable = false;
    int m_dragMode = 0;  // 0 none, 1 panning, 2 a marker
    QPoint m_panAnchor;
    QPoint m_grabOffset;
    bool m_markerMoved = false;
    CMarkerArray m_markers;
    PanoramaLib::IManualMatcher* m_matcher = nullptr;
    int m_imageIndex = 0;
};
