#include "PictViewer.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include "CommandIds.h"
#include "DibImage.h"
#include "ZoomGeometry.h"

using OrvexBase::Rect;

bool ViewCmd::IsZoomCommand(int id) {
    using namespace CmdId;
    return id == ZoomIn || id == ZoomOut || id == ZoomActual || id == ZoomFitWindow || id == ZoomFitHeight ||
           id == ZoomFitWidth;
}

CPictViewer::CPictViewer(QWidget* parent) : COrvexScrollView(parent) {
    viewport()->setAutoFillBackground(false);
    SetScrollSizes({1, 1}, true);
    ScrollToDevicePosition(0, 0, true);
}

CPictViewer::~CPictViewer() = default;

bool CPictViewer::HasValidImage() const {
    return m_image && m_image->IsValid() && m_image->GetWidth() > 0 && m_image->GetHeight() > 0;
}

void CPictViewer::RecomputeScrollable() {
    const QSize client = ClientSize();
    const OrvexBase::Size total = GetTotalSize();
    m_scrollable = client.width() < total.cx || client.height() < total.cy;
}

void CPictViewer::SetImage(PanoramaLib::IPanoElement* image, bool redraw) {
    if (image == m_image.Get()) {
        viewport()->update();
        return;
    }
    if (image)
        image->AddRef();
    m_image.Reset(image);
    // An element without pixels is laid out like no image at all.
    const bool sized = image && image->GetWidth() > 0 && image->GetHeight() > 0;
    if (sized && m_fit) {
        const QSize client = ClientSize();
        FitToSize(client.width(), client.height(), redraw);
    } else {
        const OrvexBase::Size content =
            sized ? ZoomGeometry::ContentSize(image->GetWidth(), image->GetHeight(), m_zoom)
                  : OrvexBase::Size{1, 1};
        SetScrollSizes(content, true);
        ScrollToDevicePosition(0, 0, true);
        if (redraw)
            viewport()->update();
    }
    RecomputeScrollable();
    emit ZoomDisplayChanged();
}

void CPictViewer::HoldCopyOfImage() {
    if (!HasValidImage())
        return;
    if (PanoramaLib::IPanoElement* copy = m_image->Clone())
        m_image.Reset(copy);
    else
        SetImage(nullptr, true);  // no room for a copy: nothing is safe to paint
}

void CPictViewer::SetZoom(double zoom, int clientWidth, int clientHeight, bool redraw) {
    m_fit = false;
    if (!m_image) {
        m_zoom = zoom;
        m_scrollable = false;
        emit ZoomDisplayChanged();
        return;
    }
    Rect view{0, 0, clientWidth, clientHeight};
    ClientToImage(&view);
    QPoint centre((view.left + view.right) / 2, (view.top + view.bottom) / 2);
    m_zoom = zoom;
    const int width = m_image->GetWidth(), height = m_image->GetHeight();
    if (width > 0 && height > 0) {
        const OrvexBase::Size content = ZoomGeometry::ContentSize(width, height, m_zoom);
        SetScrollSizes(content, false);
        ScrollToDevicePosition(0, 0, false);
        ImageToClient(&centre);
        const QPoint target = centre - QPoint(clientWidth / 2, clientHeight / 2);
        ScrollToDevicePosition(ZoomGeometry::CentreOrClamp(target.x(), content.cx, clientWidth),
                               ZoomGeometry::CentreOrClamp(target.y(), content.cy, clientHeight), false);
    }
    if (redraw)
        viewport()->update();
    RecomputeScrollable();
    emit ZoomDisplayChanged();
}

// The whole area inside the frame: a fitted picture needs no scroll bars,
// so bars shown for the old zoom do not shrink the fit.
void CPictViewer::FitToWindow(bool redraw) {
    FitToSize(contentsRect().width(), contentsRect().height(), redraw);
}

void CPictViewer::FitToSize(int width, int height, bool redraw) {
    if (m_image)
        SetZoom(ZoomGeometry::FitZoom(width, height, m_image->GetWidth(), m_image->GetHeight(), FitMargin()),
                width, height, redraw);
    m_fit = true;
}

void CPictViewer::GetZoomText(QString& text) const {
    if (HasValidImage())
        text = QString::number(int(m_zoom)) + " %";
}

int CPictViewer::GetZoomIndex() const {
    return ZoomGeometry::NearestZoomIndex(m_zoom);
}

void CPictViewer::SetZoomIndex(int index) {
    index = std::clamp(index, 0, GetZoomLevelCount() - 1);
    const QSize client = ClientSize();
    SetZoom(ZoomGeometry::kViewLevels[index], client.width(), client.height(), true);
}

bool CPictViewer::OnCommand(int id) {
    switch (id) {
        case CmdId::ZoomIn:
            OnZoomIn();
            return true;
        case CmdId::ZoomOut:
            OnZoomOut();
            return true;
        case CmdId::ZoomActual:
            OnActualSize();
            return true;
        case CmdId::ZoomFitWindow:
            OnFitWindow();
            return true;
        case CmdId::ZoomFitHeight:
            OnFitHeight();
            return true;
        case CmdId::ZoomFitWidth:
            OnFitWidth();
            return true;
        default:
            return false;
    }
}

bool CPictViewer::OnUpdateCommand(int id, bool* enabled) const {
    if (!ViewCmd::IsZoomCommand(id))
        return false;
    *enabled = HasValidImage() && isVisible();
    return true;
}

void CPictViewer::OnZoomIn() {
    if (!isVisible())
        return;
    const QSize client = ClientSize();
    SetZoom(ZoomGeometry::NextZoomLevel(ZoomGeometry::kViewLevels, m_zoom, true), client.width(),
            client.height(), true);
}

void CPictViewer::OnZoomOut() {
    if (!isVisible())
        return;
    const QSize client = ClientSize();
    SetZoom(ZoomGeometry::NextZoomLevel(ZoomGeometry::kViewLevels, m_zoom, false), client.width(),
            client.height(), true);
}

void CPictViewer::OnActualSize() {
    if (!isVisible())
        return;
    const QSize client = ClientSize();
    SetZoom(100.0, client.width(), client.height(), true);
}

void CPictViewer::OnFitWindow() {
    if (isVisible())
        FitToWindow(true);
}

// Twice: the first zoom may add or remove a scroll bar and so change the
// extent the second one fits.
void CPictViewer::FitExtent(bool height) {
    if (!isVisible() || !m_image)
        return;
    for (bool redraw : {false, true}) {
        const QSize client = ClientSize();
        const double zoom = height ? ZoomGeometry::FitExtentZoom(client.height(), m_image->GetHeight())
                                   : ZoomGeometry::FitExtentZoom(client.width(), m_image->GetWidth());
        SetZoom(zoom, client.width(), client.height(), redraw);
    }
}

void CPictViewer::OnFitHeight() {
    FitExtent(true);
}

void CPictViewer::OnFitWidth() {
    FitExtent(false);
}

namespace {

ZoomGeometry::Mapping MappingOf(const CPictViewer& view, const PanoramaLib::IPanoElement* image,
                                double zoom) {
    ZoomGeometry::Mapping m;
    m.scroll = view.GetScrollPosition();
    m.zoom = zoom;
    m.imageHeight = image->GetHeight();
    return m;
}

}  // namespace

void CPictViewer::ClientToImage(Rect* r) {
    if (m_image)
        *r = ZoomGeometry::RectClientToImage(MappingOf(*this, m_image.Get(), m_zoom), *r);
}

void CPictViewer::ClientToImage(QPoint* p) {
    if (m_image)
        *p = ZoomGeometry::ViewClientToImage(MappingOf(*this, m_image.Get(), m_zoom), *p);
}

void CPictViewer::ImageToClient(Rect* r) {
    if (m_image)
        *r = ZoomGeometry::RectImageToClient(MappingOf(*this, m_image.Get(), m_zoom), *r);
}

void CPictViewer::ImageToClient(QPoint* p) {
    if (m_image)
        *p = ZoomGeometry::ViewImageToClient(MappingOf(*this, m_image.Get(), m_zoom), *p);
}

void CPictViewer::DrawOverlay(QPainter&, const QRect&, const QRect&) {}

void CPictViewer::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect paintRect = event->rect();
    const QImage image = HasValidImage() ? DibImage::Wrap(m_image.Get()) : QImage();
    QRegion background(paintRect);
    QRect imageClient;
    if (!image.isNull()) {
        Rect r{0, 0, image.width(), image.height()};
        ImageToClient(&r);
        imageClient = QRect(r.left, r.top, r.Width(), r.Height());
        background -= imageClient;
    }
    for (const QRect& r : background)
        painter.fillRect(r, m_background);
    if (image.isNull())
        return;

    QRect area = paintRect & imageClient;
    if (area.isEmpty()) {
        DrawOverlay(painter, QRect(), paintRect);
        return;
    }
    Rect source{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
    ClientToImage(&source);
    const int grow = m_zoom > 100.0 ? 1 : 0;
    source =
        Rect{std::max(source.left - grow, 0), std::max(source.top - grow, 0),
             std::min(source.right + grow, image.width()), std::min(source.bottom + grow, image.height())};
    if (source.IsEmpty()) {
        DrawOverlay(painter, QRect(), paintRect);
        return;
    }
    if (grow) {
        // Whole source pixels: the area grows to the pixels it shows.
        Rect mapped = source;
        ImageToClient(&mapped);
        area = QRect(mapped.left, mapped.top, mapped.Width(), mapped.Height());
    }
    DibImage::DrawFlipped(painter, area, image,
                          QRect(source.left, source.top, source.Width(), source.Height()));
    DrawOverlay(painter, area, paintRect);
}

void CPictViewer::resizeEvent(QResizeEvent* event) {
    COrvexScrollView::resizeEvent(event);
    if (m_fit)
        FitToSize(contentsRect().width(), contentsRect().height(), false);
}
