#include "PictPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>

#include "CommandIds.h"
#include "DibImage.h"
#include "PictViewer.h"
#include "ZoomGeometry.h"

using OrvexBase::Rect;

namespace {

QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

CPictPreview::CPictPreview(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    QFont font = this->font();
    font.setPointSize(10);
    setFont(font);
    ScrollTo(0, 0, true);
}

CPictPreview::~CPictPreview() = default;

bool CPictPreview::HasValidImage() const {
    return m_image && m_image->IsValid() && m_image->GetWidth() > 0 && m_image->GetHeight() > 0;
}

void CPictPreview::SetContentSize(QSize size) {
    m_content = size;
    m_scrollable = m_image && (size.width() > width() || size.height() > height());
}

void CPictPreview::SetImage(PanoramaLib::IPanoElement* image, bool redraw) {
    if (image)
        image->AddRef();
    m_image.Reset(image);
    // The copy shows the old image's pixels, even at the same size.
    m_scaled = QImage();
    if (image && image->GetWidth() > 0 && image->GetHeight() > 0) {
        m_minZoom = ZoomGeometry::FitZoom(width(), height(), image->GetWidth(), image->GetHeight(), m_margin);
        if (m_fit) {
            FitToSize(width(), height(), redraw);
            RebuildScaledCache();
        } else {
            RebuildScaledCache();
            const auto c = ZoomGeometry::ContentSize(image->GetWidth(), image->GetHeight(), m_zoom, m_margin);
            SetContentSize({c.cx, c.cy});
            ScrollTo(0, 0, false);
        }
    } else {
        m_minZoom = 1.0;
        m_scaled = QImage();
        SetContentSize({1, 1});
        ScrollTo(0, 0, true);
    }
    if (redraw)
        update();
}

void CPictPreview::SetZoom(double zoom, int clientWidth, int clientHeight, bool redraw) {
    m_fit = false;
    // Every conversion divides by the zoom: keep it within the levels.
    zoom = ZoomGeometry::ClampZoom(zoom);
    if (!m_image) {
        m_zoom = zoom;
        return;
    }
    Rect view{0, 0, clientWidth, clientHeight};
    ClientToImage(&view);
    QPoint centre((view.left + view.right) / 2, (view.top + view.bottom) / 2);
    m_zoom = zoom;
    RebuildScaledCache();
    if (m_image->GetWidth() > 0 && m_image->GetHeight() > 0) {
        const auto c = ZoomGeometry::ContentSize(m_image->GetWidth(), m_image->GetHeight(), m_zoom, m_margin);
        SetContentSize({c.cx, c.cy});
        ScrollTo(0, 0, false);
        ImageToClient(&centre);
        const QPoint target = centre - QPoint(clientWidth / 2, clientHeight / 2);
        ScrollTo(ZoomGeometry::CentreOrClamp(target.x(), c.cx, clientWidth),
                 ZoomGeometry::CentreOrClamp(target.y(), c.cy, clientHeight), false);
    }
    UpdateMarkerPositions();
    if (redraw)
        update();
}

void CPictPreview::SetZoomLevel(double zoom, bool redraw) {
    zoom = std::max(zoom, m_minZoom);
    if (zoom != m_zoom)
        SetZoom(zoom, width(), height(), redraw);
}

void CPictPreview::FitToWindow(bool redraw) {
    FitToSize(width(), height(), redraw);
}

void CPictPreview::FitToSize(int w, int h, bool redraw) {
    if (m_image)
        SetZoom(ZoomGeometry::FitZoom(w, h, m_image->GetWidth(), m_image->GetHeight(), m_margin), w, h,
                redraw);
    m_fit = true;
}

void CPictPreview::ActualSize() {
    const double zoom = std::max(100.0, m_minZoom);
    if (zoom != m_zoom)
        SetZoom(zoom, width(), height(), true);
}

double CPictPreview::NextZoomLevel(double zoom, bool up) {
    return ZoomGeometry::NextZoomLevel(ZoomGeometry::kPaneLevels, zoom, up);
}

bool CPictPreview::CanZoom(bool up) const {
    if (!m_image)
        return false;
    return std::clamp(NextZoomLevel(m_zoom, up), m_minZoom, m_maxZoom) != m_zoom;
}

void CPictPreview::ZoomIn() {
    const double zoom = std::clamp(NextZoomLevel(m_zoom, true), m_minZoom, m_maxZoom);
    if (zoom != m_zoom)
        SetZoom(zoom, width(), height(), true);
}

void CPictPreview::ZoomOut() {
    const double zoom = std::clamp(NextZoomLevel(m_zoom, false), m_minZoom, m_maxZoom);
    if (zoom != m_zoom)
        SetZoom(zoom, width(), height(), true);
}

void CPictPreview::ZoomStep(CPictPreview* sender, bool up) {
    up ? ZoomIn() : ZoomOut();
    if (sender == this)
        emit ZoomStepped(up, this);
}

void CPictPreview::ScrollTo(int x, int y, bool scrollWindow) {
    const auto axis = [](int pos, int content, int client) {
        return content > client ? std::clamp(pos, 0, content - client) : (content - client) / 2;
    };
    const QPoint next(axis(x, m_content.width(), width()), axis(y, m_content.height(), height()));
    const QPoint delta = m_scroll - next;
    m_scroll = next;
    if (scrollWindow && !delta.isNull())
        scroll(delta.x(), delta.y());
    UpdateMarkerPositions();
}

void CPictPreview::RebuildScaledCache() {
    if (!m_cacheEnabled || m_zoom >= 100.0 || !HasValidImage()) {
        m_scaled = QImage();
        return;
    }
    const int w = int(m_image->GetWidth() * m_zoom / 100.0);
    const int h = int(m_image->GetHeight() * m_zoom / 100.0);
    if (w <= 0 || h <= 0) {
        m_scaled = QImage();
        return;
    }
    if (m_scaled.width() == w && m_scaled.height() == h)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Rows stay bottom-up, as in the photo; painting flips both alike.
    m_scaled = DibImage::Wrap(m_image.Get()).scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QApplication::restoreOverrideCursor();
}

void CPictPreview::SetCacheEnabled(bool enabled) {
    m_cacheEnabled = enabled;
    RebuildScaledCache();
}

void CPictPreview::SetCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void CPictPreview::InitMarkers(const std::string& file1, const std::string& file2, const std::string& file3,
                               QPoint hot1, QPoint hot2, QPoint hot3) {
    const std::string* files[3] = {&file1, &file2, &file3};
    const QPoint hots[3] = {hot1, hot2, hot3};
    for (int i = 0; i < 3; ++i) {
        auto marker = std::make_unique<CMarker>(i, *files[i], hots[i]);
        // A marker without a bitmap has no extent and widens nothing.
        if (marker->Width() > 0 && marker->Height() > 0)
            m_margin = std::max({m_margin, hots[i].x(), marker->Width() - hots[i].x(), hots[i].y(),
                                 marker->Height() - hots[i].y()});
        m_markers.Add(std::move(marker));
    }
}

void CPictPreview::LoadMarkers(PanoramaLib::IManualMatcher* matcher, int imageIndex) {
    m_matcher = matcher;
    m_imageIndex = imageIndex;
    if (matcher) {
        int points[6] = {};
        matcher->GetMarkers(imageIndex == 1, points);
        for (int i = 0; i < 3; ++i) {
            if (CMarker* m = m_markers.FindByIndex(i)) {
                m->imagePosition = QPoint(points[2 * i], points[2 * i + 1]);
                QPoint client = m->imagePosition;
                ImageToClient(&client);
                m->clientPosition = client;
            }
        }
    }
    update();
}

void CPictPreview::ShowMarker(int index, bool visible) {
    if (CMarker* m = m_markers.FindByIndex(index)) {
        m->visible = visible;
        update(m->GetRect());
    }
}

double CPictPreview::ZoomToMarkers() {
    const auto unionOfMarkers = [&] {
        QRect u;
        for (int i = 0; i < m_markers.Count(); ++i)
            u |= m_markers.At(i)->GetRect();
        return u;
    };
    QRect u = unionOfMarkers();
    if (u.isEmpty())
        return m_zoom;
    u.adjust(-m_margin / 2, -m_margin / 2, m_margin / 2, m_margin / 2);
    if (u.width() > width() || u.height() > height()) {
        const double z = m_zoom * std::min(double(width()) / u.width(), double(height()) / u.height());
        SetZoom(z, width(), height(), false);
        u = unionOfMarkers();
    }
    const int right = u.left() + u.width(), bottom = u.top() + u.height();
    const int dx = right > width() ? right - width() : u.left() < 0 ? u.left() : 0;
    const int dy = bottom > height() ? bottom - height() : u.top() < 0 ? u.top() : 0;
    ScrollTo(m_scroll.x() + dx, m_scroll.y() + dy, true);
    update();
    return m_zoom;
}

void CPictPreview::UpdateMarkerPositions() {
    for (int i = 0; i < m_markers.Count(); ++i) {
        CMarker* m = m_markers.At(i);
        QPoint client = m->imagePosition;
        ImageToClient(&client);
        m->clientPosition = client;
    }
}

namespace {

ZoomGeometry::Mapping MappingOf(QPoint scroll, double zoom, int imageHeight, int margin) {
    ZoomGeometry::Mapping m;
    m.scroll = scroll;
    m.zoom = zoom;
    m.imageHeight = imageHeight;
    m.margin = margin;
    return m;
}

}  // namespace

void CPictPreview::ClientToImage(Rect* r) {
    if (m_image)
        *r = ZoomGeometry::RectClientToImage(MappingOf(m_scroll, m_zoom, m_image->GetHeight(), m_margin), *r);
}

void CPictPreview::ClientToImage(QPoint* p) {
    if (m_image)
        *p = ZoomGeometry::PaneClientToImage(MappingOf(m_scroll, m_zoom, m_image->GetHeight(), m_margin), *p);
}

void CPictPreview::ImageToClient(Rect* r) {
    if (m_image)
        *r = ZoomGeometry::RectImageToClient(MappingOf(m_scroll, m_zoom, m_image->GetHeight(), m_margin), *r);
}

void CPictPreview::ImageToClient(QPoint* p) {
    if (m_image)
        *p = ZoomGeometry::PaneImageToClient(MappingOf(m_scroll, m_zoom, m_image->GetHeight(), m_margin), *p);
}

QRect CPictPreview::ImageClientRect() {
    if (!HasValidImage())
        return {};
    Rect r{0, 0, m_image->GetWidth(), m_image->GetHeight()};
    ImageToClient(&r);
    return ToQRect(r);
}

void CPictPreview::DrawMarkers(QPainter& painter, QPoint origin) {
    UpdateMarkerPositions();
    m_markers.DrawAll(painter, origin);
}

void CPictPreview::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect clip = event->rect();
    if (!HasValidImage()) {
        painter.fillRect(clip, m_background);
        if (!m_caption.isEmpty())
            painter.drawText(rect(), Qt::AlignCenter, m_caption);
        return;
    }
    const QRect imageClient = ImageClientRect();
    for (const QRect& r : QRegion(clip) - imageClient)
        painter.fillRect(r, m_background);
    if (!m_scaled.isNull()) {
        const QRect place(QPoint(m_margin - m_scroll.x(), m_margin - m_scroll.y()), m_scaled.size());
        painter.fillRect(clip & imageClient, m_background);
        DibImage::DrawFlipped(painter, place, m_scaled, m_scaled.rect());
    } else {
        const QRect area = clip & imageClient;
        if (!area.isEmpty()) {
            Rect source{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
            ClientToImage(&source);
            const int grow = m_zoom > 100.0 ? 1 : 0;
            source = Rect{std::max(source.left - grow, 0), std::max(source.top - grow, 0),
                          std::min(source.right + grow, m_image->GetWidth()),
                          std::min(source.bottom + grow, m_image->GetHeight())};
            if (!source.IsEmpty()) {
                Rect target = source;
                ImageToClient(&target);
                DibImage::DrawFlipped(painter, ToQRect(target), DibImage::Wrap(m_image.Get()),
                                      ToQRect(source));
            }
        }
    }
    DrawMarkers(painter, QPoint(0, 0));
}

void CPictPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_fit)
        FitToSize(width(), height(), false);
}

void CPictPreview::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    emit FocusChanged(true, this);
}

void CPictPreview::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    emit FocusChanged(false, this);
}

void CPictPreview::keyPressEvent(QKeyEvent* event) {
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (keypad && event->key() == Qt::Key_Plus) {
        ZoomIn();
        emit ZoomStepped(true, this);
    } else if (keypad && event->key() == Qt::Key_Minus) {
        ZoomOut();
        emit ZoomStepped(false, this);
    } else {
        QWidget::keyPressEvent(event);
    }
}

void CPictPreview::UpdateCursor(QPoint point) {
    if (m_dragMode == 2 || m_markers.HitTest(point))
        setCursor(Qt::PointingHandCursor);
    else if (m_dragMode == 1)
        setCursor(Qt::ClosedHandCursor);
    else if (m_scrollable)
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
}

void CPictPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    if (focusPolicy() & Qt::TabFocus)
        setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    m_markerMoved = false;
    m_dragMode = 0;
    if (CMarker* m = m_markers.HitTest(p)) {
        m_dragMode = 2;
        m_markers.BringToFront(m);
        m_grabOffset = m->GetGrabOffset(p);
        update(m->GetRect());
    } else if (m_scrollable) {
        m_panAnchor = p;
        m_dragMode = 1;
    }
    UpdateCursor(p);
}

void CPictPreview::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (m_dragMode == 1) {
        const QPoint delta = p - m_panAnchor;
        m_panAnchor = p;
        ScrollTo(m_scroll.x() - delta.x(), m_scroll.y() - delta.y(), true);
    } else if (m_dragMode == 2) {
        CMarker* m = m_markers.First();
        const QRect bounds = rect() & ImageClientRect();
        if (!m || bounds.isEmpty())
            return;
        m_markerMoved = true;
        QPoint target = p - m_grabOffset;
        target.setX(std::clamp(target.x(), bounds.left(), bounds.left() + bounds.width() - 1));
        target.setY(std::clamp(target.y(), bounds.top(), bounds.top() + bounds.height() - 1));
        // Through image pixels and back: the marker sits on a whole pixel.
        QPoint image = target;
        ClientToImage(&image);
        QPoint client = image;
        ImageToClient(&client);
        const QRect before = m->GetRect();
        m->imagePosition = image;
        m->clientPosition = client;
        update(before);
        update(m->GetRect());
    } else {
        UpdateCursor(p);
    }
}

void CPictPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    if (m_dragMode == 2 && m_markerMoved) {
        if (CMarker* m = m_markers.First()) {
            if (m_matcher) {
                const int point[2] = {m->imagePosition.x(), m->imagePosition.y()};
                m_matcher->SetMarker(m_imageIndex == 1, point, m->index);
            }
            emit MarkerMoved();
        }
    }
    m_dragMode = 0;
    UpdateCursor(event->position().toPoint());
}

bool CPictPreview::OnCommand(int id) {
    if (!ViewCmd::IsZoomCommand(id))
        return false;
    if (!isVisible())
        return true;
    switch (id) {
        case CmdId::ZoomIn:
            ZoomIn();
            break;
        case CmdId::ZoomOut:
            ZoomOut();
            break;
        case CmdId::ZoomActual:
            ActualSize();
            break;
        case CmdId::ZoomFitWindow:
            FitToSize(width(), height(), true);
            break;
        case CmdId::ZoomFitHeight:
        case CmdId::ZoomFitWidth:
            if (HasValidImage()) {
                const bool byHeight = id == CmdId::ZoomFitHeight;
                SetZoom(byHeight ? ZoomGeometry::FitExtentZoom(height(), m_image->GetHeight(), m_margin)
                                 : ZoomGeometry::FitExtentZoom(width(), m_image->GetWidth(), m_margin),
                        width(), height(), true);
                m_fit = byHeight;
            }
            break;
    }
    return true;
}

bool CPictPreview::OnUpdateCommand(int id, bool* enabled) const {
    if (!ViewCmd::IsZoomCommand(id))
        return false;
    *enabled = HasValidImage() && isVisible();
    return true;
}
