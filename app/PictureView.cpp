#include "PictureView.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygon>

#include "CommandIds.h"
#include "MainMenu.h"
#include "StringTable.h"

using OrvexBase::Rect;
using TransformFrame::FrameCursor;

namespace {

// The last pointer position seen by any picture view, in screen coordinates:
// a move message that does not move the pointer starts no drag step.
QPoint g_lastCursorPos(-1000000, -1000000);

constexpr QColor kShade(255, 255, 255, 100);

QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

QColor ToColour(std::uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// The frame's drawing on a QPainter.
class QtFramePainter : public TransformFrame::IFramePainter {
public:
    explicit QtFramePainter(QPainter& painter) : m_painter(painter) {}

    void Ellipse(const Rect& box, std::uint32_t pen, std::uint32_t fill) override {
        m_painter.setPen(QPen(ToColour(pen), 1));
        m_painter.setBrush(ToColour(fill));
        m_painter.drawEllipse(QRect(box.left, box.top, box.Width() - 1, box.Height() - 1));
    }
    void Pixel(QPoint p, std::uint32_t colour) override {
        m_painter.setPen(QPen(ToColour(colour), 1));
        m_painter.drawPoint(p);
    }
    void Polygon(const std::vector<QPoint>& points, std::uint32_t pen, int width) override {
        m_painter.setPen(QPen(ToColour(pen), width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawPolygon(QPolygon(QList<QPoint>(points.begin(), points.end())));
    }
    void Line(QPoint a, QPoint b, std::uint32_t pen, int width) override {
        m_painter.setPen(QPen(ToColour(pen), width));
        m_painter.drawLine(a, b);
    }
    void ExcludeClip(const TransformFrame::FrameRegion& area) override {
        m_painter.save();
        const QRegion clip = m_painter.hasClipping()
                                 ? m_painter.clipRegion()
                                 : QRegion(0, 0, m_painter.device()->width(), m_painter.device()->height());
        m_painter.setClipRegion(clip - ToRegion(area));
    }
    void RestoreClip() override { m_painter.restore(); }

private:
    QPainter& m_painter;
};

// An arrow with a small grid beside it: dragging turns the tiled view.
const QCursor& NavigateCursor() {
    static const QCursor cursor = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        const QPolygon arrow({{0, 0}, {0, 16}, {4, 12}, {7, 19}, {10, 18}, {7, 11}, {12, 11}});
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawPolygon(arrow);
        p.setPen(QPen(Qt::black, 1));
        for (int i = 0; i <= 3; ++i) {
            p.drawLine(16 + 4 * i, 16, 16 + 4 * i, 28);
            p.drawLine(16, 16 + 4 * i, 28, 16 + 4 * i);
        }
        return QCursor(pixmap, 0, 0);
    }();
    return cursor;
}

// A circular arrow: dragging outside the inner area tilts the tiled view.
const QCursor& TiltCursor() {
    static const QCursor cursor = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        for (auto [colour, width] : {std::pair{QColor(Qt::white), 4}, std::pair{QColor(Qt::black), 2}}) {
            p.setPen(QPen(colour, width));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRect(6, 6, 20, 20), 30 * 16, 280 * 16);
        }
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::black);
        p.drawPolygon(QPolygon({{22, 2}, {30, 9}, {21, 12}}));
        return QCursor(pixmap, 16, 16);
    }();
    return cursor;
}

}  // namespace

QRegion ToRegion(const TransformFrame::FrameRegion& region) {
    QRegion out;
    for (const auto& polygon : region.polygons)
        out += QRegion(QPolygon(QList<QPoint>(polygon.begin(), polygon.end())), Qt::OddEvenFill);
    for (const Rect& e : region.ellipses)
        out += QRegion(ToQRect(e), QRegion::Ellipse);
    return out;
}

CPictureView::CPictureView(IPictureViewDocument* document, QWidget* parent)
    : CPictViewer(parent), m_document(document) {
    m_cropFrame.minSize = true;
    m_cropFrame.showCentre = false;
    m_cropFrame.showRotor = false;
    m_cropFrame.centreAttached = false;
    m_cropFrame.allowed = 0x3F;
    m_cropTracker.mapper = this;
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

CPictureView::~CPictureView() = default;

QRect CPictureView::ImageClientRect() {
    PanoramaLib::IPanoElement* image = GetImage();
    if (!image)
        return {};
    Rect r{0, 0, image->GetWidth(), image->GetHeight()};
    ImageToClient(&r);
    return ToQRect(r);
}

QRegion CPictureView::BuildCropRegion() {
    if (!GetImage())
        return {};
    const QRect client = viewport()->rect();
    Rect crop = m_cropFrame.rect;
    ImageToClient(&crop);
    QRegion out = QRegion(ImageClientRect() & client) - QRegion(ToQRect(crop) & client);
    TransformFrame::FrameRegion frame;
    m_cropFrame.GetRegion(&frame, true, this);
    return out + ToRegion(frame);
}

void CPictureView::BeginCrop(const Rect* rect, bool redraw) {
    if (m_cropShown)
        return;
    m_cropRect = *rect;
    // Without a picture there is nothing to frame: the rectangle is kept and
    // the frame stays hidden.
    PanoramaLib::IPanoElement* image = GetImage();
    if (!image)
        return;
    const Rect e = image->GetRect();
    const Rect bounds{0, 0, e.Width(), e.Height()};
    m_cropShown = true;
    m_cropFrame.SetBounds(&bounds);
    m_cropFrame.SetRect(*rect);
    if (IsFitMode()) {
        FitToWindow(false);
        viewport()->update();
    } else if (redraw) {
        viewport()->update(BuildCropRegion());
    }
}

void CPictureView::EndCrop(Rect* out, bool redraw) {
    *out = m_cropRect;
    if (!m_cropShown)
        return;
    m_cropShown = false;
    if (IsFitMode()) {
        FitToWindow(false);
        viewport()->update();
    } else if (redraw) {
        viewport()->update(BuildCropRegion());
    }
}

void CPictureView::SetCropRect(const Rect* rect) {
    // Without a document the rectangle is taken as it is, like the manual crop.
    const CropAspect aspect = m_document ? m_document->GetCropAspect() : CropAspect{};
    const auto fitted = CropGeometry::FitCropRect(*rect, aspect);
    if (!fitted)
        return;
    m_cropRect = fitted->rect;
    if (fitted->keepsRatio) {
        const OrvexBase::Size ratio{aspect.width, aspect.height};
        m_cropFrame.Setup(fitted->rect, 0.0, QPoint(0, 0), &ratio);
    } else {
        m_cropFrame.Setup(*rect, 0.0, QPoint(0, 0), nullptr);
        m_cropFrame.SetRect(*rect);
    }
}

void CPictureView::GetCropRect(Rect* out) {
    *out = m_cropRect;
}

void CPictureView::SetKeepAspect(bool on) {
    m_cropTracker.keepAspect = on;
}

void CPictureView::GetPatchRect(Rect* out) {
    *out = m_patchRect;
}

void CPictureView::DrawOverlay(QPainter& painter, const QRect& imageArea, const QRect& paintRect) {
    if (!m_cropShown)
        return;
    Rect crop = m_cropFrame.rect;
    ImageToClient(&crop);
    const QRect inArea = (ToQRect(crop) & imageArea).translated(-imageArea.topLeft());
    CropGeometry::Band bands[4];
    CropGeometry::ShadeBands(
        Rect{inArea.left(), inArea.top(), inArea.left() + inArea.width(), inArea.top() + inArea.height()},
        imageArea.width(), imageArea.height(), bands);
    for (const auto& band : bands)
        if (band.width > 0 && band.height > 0)
            painter.fillRect(QRect(band.x, band.y, band.width, band.height).translated(imageArea.topLeft()),
                             kShade);
    painter.save();
    painter.setClipRect(paintRect);
    QtFramePainter framePainter(painter);
    m_cropFrame.Draw(framePainter, QPoint(0, 0), this);
    painter.restore();
}

bool CPictureView::TiledNavigationActive() {
    return m_document && m_document->HasTiledResult() && m_document->CurrentTask() == Task::Stitch;
}

void CPictureView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        CPictViewer::mousePressEvent(event);
        return;
    }
    g_lastCursorPos = event->globalPosition().toPoint();
    const QPoint p = event->position().toPoint();
    if (m_cropShown && m_cropTracker.OnLButtonDown(p.x(), p.y()))
        m_tracking = true;
    if (TiledNavigationActive() && !(event->modifiers() & Qt::ShiftModifier)) {
        const QSize client = ClientSize();
        if (CropGeometry::InNavigationArea(client.width(), client.height(), p))
            m_navigating = true;
        else
            m_tilting = true;
        m_pressPoint = p;
        m_document->GetTiledRenderParams(&m_surface, &m_elevation, &m_azimuth, &m_tilt);
        viewport()->setCursor(m_navigating ? NavigateCursor() : TiltCursor());
        return;
    }
    if (m_tracking)
        return;
    if (IsScrollable()) {
        m_panning = true;
        viewport()->setCursor(Qt::ClosedHandCursor);
        m_pressPoint = p;
        return;
    }
    CPictViewer::mousePressEvent(event);
}

void CPictureView::NavigationStep(QPoint point) {
    const QRect r = ImageClientRect();
    const auto angles =
        CropGeometry::NavigationStep(m_pressPoint, point, r.width(), r.height(), {m_elevation, m_azimuth});
    if (!angles)
        return;
    int surface = 0, elevation = 0, azimuth = 0, tilt = 0;
    m_document->GetTiledRenderParams(&surface, &elevation, &azimuth, &tilt);
    m_surface = surface;
    if (elevation != angles->elevation || azimuth != angles->azimuth)
        m_document->RequestTiledRender(m_surface, angles->elevation, angles->azimuth, m_tilt, true, 1);
}

void CPictureView::TiltStep(QPoint point) {
    const QSize client = ClientSize();
    const int tilt =
        CropGeometry::TiltStep(QPoint(client.width() / 2, client.height() / 2), m_pressPoint, point, m_tilt);
    int surface = 0, elevation = 0, azimuth = 0, current = 0;
    m_document->GetTiledRenderParams(&surface, &elevation, &azimuth, &current);
    m_surface = surface;
    if (current != tilt)
        m_document->RequestTiledRender(m_surface, m_elevation, m_azimuth, tilt, true, 1);
}

void CPictureView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    if (global == g_lastCursorPos) {
        CPictViewer::mouseMoveEvent(event);
        return;
    }
    g_lastCursorPos = global;
    const QPoint p = event->position().toPoint();
    if (m_tracking) {
        const QRegion before = BuildCropRegion();
        if (m_cropTracker.OnMouseMove(p.x(), p.y(), nullptr))
            viewport()->update(before + BuildCropRegion());
        return;
    }
    if (m_navigating || m_tilting) {
        if (HasValidImage())
            m_navigating ? NavigationStep(p) : TiltStep(p);
        return;
    }
    if (m_panning) {
        const QPoint d = p - m_pressPoint;
        m_pressPoint = p;
        const QPoint s = GetScrollPosition();
        ScrollToDevicePosition(s.x() - d.x(), s.y() - d.y(), true);
        return;
    }
    UpdateCursor(p);
    CPictViewer::mouseMoveEvent(event);
}

void CPictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        CPictViewer::mouseReleaseEvent(event);
        return;
    }
    const QPoint p = event->position().toPoint();
    if (m_tracking) {
        if (m_cropTracker.OnLButtonUp())
            m_cropRect = m_cropFrame.rect;
    } else if (m_navigating) {
        if (HasValidImage())
            NavigationStep(p);
    } else if (m_tilting) {
        if (HasValidImage())
            TiltStep(p);
    } else if (!m_panning) {
        CPictViewer::mouseReleaseEvent(event);
    }
    // Every drag ends with the button, whichever of them the press started.
    m_tracking = m_navigating = m_tilting = m_panning = false;
    UpdateCursor(p);
}

void CPictureView::UpdateCursor(QPoint p) {
    if (m_cropShown) {
        switch (m_cropTracker.CursorAt(p.x(), p.y())) {
            case FrameCursor::Move:
                viewport()->setCursor(Qt::SizeAllCursor);
                return;
            case FrameCursor::Resize0:
                viewport()->setCursor(Qt::SizeHorCursor);
                return;
            case FrameCursor::Resize1:
                viewport()->setCursor(Qt::SizeBDiagCursor);
                return;
            case FrameCursor::Resize2:
                viewport()->setCursor(Qt::SizeVerCursor);
                return;
            case FrameCursor::Resize3:
                viewport()->setCursor(Qt::SizeFDiagCursor);
                return;
            default:
                break;
        }
    }
    if (TiledNavigationActive()) {
        const QSize client = ClientSize();
        viewport()->setCursor(CropGeometry::InNavigationArea(client.width(), client.height(), p)
                                  ? NavigateCursor()
                                  : TiltCursor());
        return;
    }
    if (IsScrollable()) {
        viewport()->setCursor(Qt::OpenHandCursor);
        return;
    }
    viewport()->unsetCursor();
}

QMenu* CPictureView::CreateContextMenu(QWidget* parent) {
    static const struct {
        int id;
        unsigned text;
    } kItems[] = {{CmdId::ZoomIn, 21901},        {CmdId::ZoomOut, 21902},      {CmdId::ZoomFitWindow, 21903},
                  {CmdId::ZoomFitHeight, 21904}, {CmdId::ZoomFitWidth, 21905}, {CmdId::ZoomActual, 21906}};
    auto* menu = new MenuEx::CNewMenu(nullptr, parent);
    menu->setTitle(QString::fromUtf8(Res::LoadStr(21900)));
    for (const auto& item : kItems) {
        QAction* action = menu->AppendCommand(uint32_t(item.id), QString::fromUtf8(Res::LoadStr(item.text)));
        action->setObjectName(QString::number(item.id));
        bool enabled = false;
        OnUpdateCommand(item.id, &enabled);
        action->setEnabled(enabled);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    MainMenu::AttachToolBarIcons(*menu);
    return menu;
}

void CPictureView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu(this);
    menu->exec(event->globalPos());
    delete menu;
}
