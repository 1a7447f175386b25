#pragma once
// Where the cells of the thumbnail pane lie: a grid of equal cells filling
// the view's width, or one row per item in the list view below its details
// header, shifted sideways where a drop gap opens; and which cell a point
// hits. Client coordinates of a view clientWidth wide; content coordinates
// where no scroll position is given.

#include <QPoint>
#include <QRect>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "CPaletteItem.h"

class CThumbsBrowser;

// The list view's top margin: the height of its details header.
constexpr int kListTopMargin = 20;

class CThumbsLayout {
public:
    // The browser gives the item count and the cell metrics.
    explicit CThumbsLayout(const CThumbsBrowser& browser) : m_browser(browser) {}

    int GetColumns(int clientWidth) const;
    QPoint GetItemPosition(int index, int clientWidth) const;
    QRect GetItemRect(int index, int clientWidth) const;
    QRect GetCaptionRect(int index, int clientWidth) const;
    QRect GetRowRect(int row, int clientWidth, QPoint scroll) const;
    int HitTest(QPoint point, int clientWidth, QPoint scroll) const;
    // The scroll position that shows the item whole.
    QPoint EnsureVisible(int index, QSize client, QPoint scroll) const;
    QSize ContentSize(int clientWidth) const;
    // The first and last index a view shows (last may be past the items).
    void VisibleRange(QSize client, QPoint scroll, int& first, int& last) const;

    // The list row's width: the view's client width.
    int RowWidth() const { return m_rowWidth; }
    void SetRowWidth(int width) { m_rowWidth = width; }

    // The drop gap: the cells of row part before index (left of it, minus
    // amplitude) and after (plus); other rows close by step.
    void OpenGap(int row, int index, int columns, int amplitude, int step);
    void CloseGaps();

private:
    int Offset(int index) const;

    const CThumbsBrowser& m_browser;
    std::atomic<int> m_rowWidth{kDefaultListRowWidth};
    mutable std::mutex m_offsetsLock;
    std::vector<int16_t> m_offsets;
};
