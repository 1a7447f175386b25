#include "StripDrawing.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

void COffscreenDC::Create(const QWidget* reference, int cx, int cy) {
    const qreal ratio = reference ? reference->devicePixelRatioF() : 1.0;
    m_image = QImage(QSize(cx, cy) * ratio, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(ratio);
}

void COffscreenDC::CopyTo(QPainter& target, int x, int y) const {
    target.drawImage(QPoint(x, y), m_image);
}

CDrawContext::CDrawContext(QPainter* target) : m_target(target) {
    const QPalette palette;
    m_face = palette.color(QPalette::Button);
    m_shadow = palette.color(QPalette::Dark);
    m_highlight = m_highlight2 = palette.color(QPalette::Highlight);
    m_window = palette.color(QPalette::Base);
}

void CDrawContext::FillBackground(int cx, int cy) {
    m_target->fillRect(0, 0, cx, cy, m_window);
}
