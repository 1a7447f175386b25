#pragma once
// The zoomable, scrollable view of one photo element: 18 zoom levels, the fit
// commands, and the conversions between client and image pixels. The
// element's pixels are drawn straight from its buffer.

#include <QColor>

#include "ClientArea.h"
#include "OrvexBase.h"
#include "OrvexScrollView.h"
#include "PanoramaLib.h"

// Whether a command id is one of the view's zoom commands.
namespace ViewCmd {
bool IsZoomCommand(int id);
}  // namespace ViewCmd

class CPictViewer : public COrvexScrollView, public IClientArea {
    Q_OBJECT
public:
    explicit CPictViewer(QWidget* parent = nullptr);
    ~CPictViewer() override;

    void SetImage(PanoramaLib::IPanoElement* image, bool redraw);
    PanoramaLib::IPanoElement* GetImage() const { return m_image.Get(); }
    // From now on paints a copy of its picture, laid out as before: the
    // picture's owner is about to rewrite it on another thread. The next
    // SetImage ends it.
    void HoldCopyOfImage();
    void SetZoom(double zoom, int clientWidth, int clientHeight, bool redraw);
    void FitToWindow(bool redraw);
    void FitToSize(int width, int height, bool redraw);
    double GetZoom() const { return m_zoom; }
    bool IsFitMode() const { return m_fit; }
    bool IsScrollable() const { return m_scrollable; }
    // "150 %" while a valid image is shown; text is left alone otherwise.
    void GetZoomText(QString& text) const;
    int GetZoomIndex() const;
    static int GetZoomLevelCount() { return 18; }
    void SetZoomIndex(int index);

    // The six zoom commands and their enabling.
    bool OnCommand(int id);
    bool OnUpdateCommand(int id, bool* enabled) const;
    void OnZoomIn();
    void OnZoomOut();
    void OnActualSize();
    void OnFitWindow();
    void OnFitHeight();
    void OnFitWidth();

    using IClientArea::ClientToImage;
    using IClientArea::ImageToClient;
    void ClientToImage(OrvexBase::Rect* r) override;
    void ClientToImage(QPoint* p) override;
    void ImageToClient(OrvexBase::Rect* r) override;
    void ImageToClient(QPoint* p) override;

signals:
    // The zoom or the image changed: the main window refreshes its zoom display.
    void ZoomDisplayChanged();

protected:
    bool HasValidImage() const;
    // Drawn over the painted area after the picture, in client coordinates.
    virtual void DrawOverlay(QPainter& painter, const QRect& imageArea, const QRect& paintRect);
    // Room kept free around a fitted picture, for what the overlay draws
    // over its edges.
    virtual int FitMargin() const { return 0; }
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    QColor m_background{0xF0, 0xF0, 0xF0};

private:
    void FitExtent(bool height);
    void RecomputeScrollable();

    bool m_fit = true;
    double m_zoom = 100.0;
    bool m_scrollable = false;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_image;
};
