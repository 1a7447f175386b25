#include "OrvexScrollView.h"

#include <QScrollBar>
#include <QStyle>
#include <algorithm>

#include "ZoomGeometry.h"

COrvexScrollView::COrvexScrollView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void COrvexScrollView::SetScrollSizes(OrvexBase::Size total, bool repaint) {
    m_total = {std::max(total.cx, 0), std::max(total.cy, 0)};
    UpdateBars(repaint);
}

void COrvexScrollView::Shift(QPoint from, QPoint to) {
    if (from == to)
        return;
    const QPoint d = from - to;
    viewport()->scroll(d.x(), d.y());
}

void COrvexScrollView::SetBar(Qt::Orientation o, bool needed, int range, int page, int position) {
    QScrollBar* bar = o == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    m_settingBars = true;
    if (needed) {
        bar->setRange(0, range);
        bar->setPageStep(std::max(page, 1));
        bar->setSingleStep(std::max(page / 10, 1));
        bar->setValue(std::max(position, 0));
    } else {
        bar->setRange(0, 0);
        bar->setValue(0);
    }
    if (o == Qt::Horizontal)
        setHorizontalScrollBarPolicy(needed ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    else
        setVerticalScrollBarPolicy(needed ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_settingBars = false;
}

void COrvexScrollView::UpdateBars(bool repaint) {
    if (m_insideUpdate)
        return;
    m_insideUpdate = true;
    ZoomGeometry::BarsInput in;
    // The whole area inside the frame: the client plus the bars shown now.
    const QRect area = contentsRect();
    in.client = {area.width(), area.height()};
    in.total = m_total;
    in.barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    in.barHeight = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, horizontalScrollBar());
    in.position = {m_hasH ? horizontalScrollBar()->value() : m_position.x(),
                   m_hasV ? verticalScrollBar()->value() : m_position.y()};
    in.centre = m_centre;
    const ZoomGeometry::BarsLayout out = ZoomGeometry::LayoutBars(in);
    if (out.position != m_position) {
        if (repaint)
            Shift(m_position, out.position);
        m_position = out.position;
    }
    m_hasH = out.needH;
    m_hasV = out.needV;
    SetBar(Qt::Horizontal, out.needH, out.range.cx, out.available.cx, out.position.x());
    SetBar(Qt::Vertical, out.needV, out.range.cy, out.available.cy, out.position.y());
    m_insideUpdate = false;
}

bool COrvexScrollView::OnScrollBy(int dx, int dy, bool doScroll) {
    const QPoint limit(horizontalScrollBar()->maximum(), verticalScrollBar()->maximum());
    const QPoint next = ZoomGeometry::ScrollBy(m_position, dx, dy, limit, m_hasH, m_hasV);
    if (next == m_position)
        return false;
    if (!doScroll)
        return true;
    if (m_invalidateOnScroll)
        Shift(m_position, next);
    m_position = next;
    m_settingBars = true;
    if (m_hasH)
        horizontalScrollBar()->setValue(next.x());
    if (m_hasV)
        verticalScrollBar()->setValue(next.y());
    m_settingBars = false;
    return true;
}

void COrvexScrollView::ScrollToDevicePosition(int x, int y, bool invalidate) {
    m_invalidateOnScroll = invalidate;
    OnScrollBy(x - m_position.x(), y - m_position.y(), true);
    m_invalidateOnScroll = true;
}

void COrvexScrollView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateBars(true);
}

void COrvexScrollView::scrollContentsBy(int, int) {
    if (m_settingBars)
        return;
    const QPoint target(m_hasH ? horizontalScrollBar()->value() : m_position.x(),
                        m_hasV ? verticalScrollBar()->value() : m_position.y());
    if (target == m_position)
        return;
    Shift(m_position, target);
    m_position = target;
    if (m_updateAfterScroll)
        viewport()->repaint();
}
