#pragma once
// Drawing helpers of the photo strip: an offscreen surface the whole visible
// strip is drawn into and copied from in one go, and the colours the strip's
// drawing routines share.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

class QPainter;
class QWidget;

class COffscreenDC {
public:
    // A surface of cx x cy for the window's screen; any earlier one goes.
    void Create(const QWidget* reference, int cx, int cy);
    void Release() { m_image = QImage(); }
    bool IsNull() const { return m_image.isNull(); }
    QSize Size() const { return m_image.size(); }
    QImage& Image() { return m_image; }
    // The item coordinates at the surface's top left.
    void SetWindowOrigin(int x, int y) { m_origin = QPoint(x, y); }
    QPoint WindowOrigin() const { return m_origin; }
    // The whole surface to (x, y) of the target.
    void CopyTo(QPainter& target, int x, int y) const;

private:
    QImage m_image;
    QPoint m_origin;
};

class CDrawContext {
public:
    explicit CDrawContext(QPainter* target);
    virtual ~CDrawContext() = default;
    void FillBackground(int cx, int cy);

    QPainter* m_target;
    QColor m_face;
    QColor m_shadow;
    QColor m_highlight;
    QColor m_highlight2;
    QColor m_window;
    QColor m_caption{0, 0, 0};
    QColor m_highlightedCaption{255, 0, 0};
};
