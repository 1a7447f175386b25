#pragma once
// The scroll base of the picture views: 32-bit scroll positions kept by the
// view itself, content smaller than the window centred (a negative position),
// and scrolling with or without repainting the uncovered part.

#include <QAbstractScrollArea>
#include <QPoint>

#include "OrvexBase.h"

class COrvexScrollView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvexScrollView(QWidget* parent = nullptr);

    // The content size in device pixels; the bars follow when the window exists.
    void SetScrollSizes(OrvexBase::Size total, bool repaint);
    OrvexBase::Size GetTotalSize() const { return m_total; }
    QPoint GetScrollPosition() const { return m_position; }
    void ScrollToDevicePosition(int x, int y, bool invalidate);
    void UpdateBars(bool repaint);
    // Scrolls by (dx, dy) within the bars' limits; false when nothing moves.
    bool OnScrollBy(int dx, int dy, bool doScroll);
    // The client area: the part of the window that shows content.
    QSize ClientSize() const { return viewport()->size(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A bar moved by the user: take its 32-bit position.
    void scrollContentsBy(int dx, int dy) override;

    bool m_centre = true;
    bool m_updateAfterScroll = false;
    bool m_invalidateOnScroll = true;

private:
    void SetBar(Qt::Orientation o, bool needed, int range, int page, int position);
    void Shift(QPoint from, QPoint to);

    OrvexBase::Size m_total{1, 1};
    QPoint m_position;
    bool m_hasH = false;
    bool m_hasV = false;
    bool m_insideUpdate = false;
    bool m_settingBars = false;
};
