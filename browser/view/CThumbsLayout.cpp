#include "CThumbsLayout.h"

#include <algorithm>

#include "CThumbsBrowser.h"

int CThumbsLayout::GetColumns(int clientWidth) const {
    const QSize cell = m_browser.GetItemCellSize();
    return std::max(1, cell.width() > 0 ? clientWidth / cell.width() : 1);
}

int CThumbsLayout::Offset(int index) const {
    std::lock_guard<std::mutex> lock(m_offsetsLock);
    return index >= 0 && static_cast<size_t>(index) < m_offsets.size() ? m_offsets[index] : 0;
}

QPoint CThumbsLayout::GetItemPosition(int index, int clientWidth) const {
    const QSize cell = m_browser.GetItemCellSize();
    const int count = m_browser.ItemCount();
    const int columns = GetColumns(clientWidth);
    const int i = std::min(index, std::max(0, count - 1));
    const int row = i / columns;
    const int column = i - row * columns;
    int x = clientWidth * column / columns + (clientWidth / columns - cell.width()) / 2;
    int y = cell.height() * row;
    if (m_browser.IsDetailsView() || index < 0)
        y += kListTopMargin;
    else
        x += Offset(i);
    return {x, y};
}

QRect CThumbsLayout::GetItemRect(int index, int clientWidth) const {
    return QRect(GetItemPosition(index, clientWidth), m_browser.GetItemCellSize());
}

QRect CThumbsLayout::GetCaptionRect(int index, int clientWidth) const {
    const QRect cell = GetItemRect(index, clientWidth);
    if (m_browser.IsDetailsView())
        return m_browser.GetRowCaptionRect(cell);
    return QRect(cell.left(), cell.bottom() + 1 - 20, cell.width(), 20);
}

QRect CThumbsLayout::GetRowRect(int row, int clientWidth, QPoint scroll) const {
    const QSize cell = m_browser.GetItemCellSize();
    const int top = row * cell.height() + (m_browser.IsDetailsView() ? kListTopMargin : 0) - scroll.y();
    return QRect(0, top, clientWidth, cell.height());
}

int CThumbsLayout::HitTest(QPoint point, int clientWidth, QPoint scroll) const {
    if (m_browser.IsDetailsView() && point.y() < kListTopMargin)
        return -1;
    const QPoint content = point + scroll;
    const int count = m_browser.ItemCount();
    for (int i = 0; i < count; ++i)
        if (GetItemRect(i, clientWidth).contains(content))
            return i;
    return -1;
}

QPoint CThumbsLayout::EnsureVisible(int index, QSize client, QPoint scroll) const {
    if (index < 0 || index >= m_browser.ItemCount())
        return scroll;
    const QRect rect = GetItemRect(index, client.width());
    QPoint result = scroll;
    if (rect.top() < result.y())
        result.setY(rect.top() - (m_browser.IsDetailsView() ? kListTopMargin : 0));
    else if (rect.bottom() >= result.y() + client.height())
        result.setY(rect.bottom() + 1 - client.height());
    result.setY(std::max(0, result.y()));
    return result;
}

QSize CThumbsLayout::ContentSize(int clientWidth) const {
    const int count = m_browser.ItemCount();
    const QSize cell = m_browser.GetItemCellSize();
    const int columns = GetColumns(clientWidth);
    const int rows = (count + columns - 1) / columns;
    return QSize(std::max(clientWidth, cell.width()),
                 rows * cell.height() + (m_browser.IsDetailsView() ? kListTopMargin : 0));
}

void CThumbsLayout::VisibleRange(QSize client, QPoint scroll, int& first, int& last) const {
    const QSize cell = m_browser.GetItemCellSize();
    const int columns = GetColumns(client.width());
    const int count = m_browser.ItemCount();
    const int top = std::max(0, scroll.y() - (m_browser.IsDetailsView() ? kListTopMargin : 0));
    first = std::max(0, top / std::max(1, cell.height()) * columns);
    last = std::min(count - 1, ((scroll.y() + client.height()) / std::max(1, cell.height()) + 1) * columns);
}

void CThumbsLayout::OpenGap(int row, int index, int columns, int amplitude, int step) {
    const size_t count = static_cast<size_t>(std::max(0, m_browser.ItemCount()));
    std::lock_guard<std::mutex> lock(m_offsetsLock);
    m_offsets.resize(count, 0);
    for (size_t i = 0; i < m_offsets.size(); ++i) {
        int16_t& offset = m_offsets[i];
        if (static_cast<int>(i) / columns == row) {
            offset = static_cast<int16_t>(static_cast<int>(i) < index ? -amplitude : amplitude);
        } else if (offset != 0) {
            // The previous drop row closes again, a step a time.
            offset =
                static_cast<int16_t>(offset > 0 ? std::max(0, offset - step) : std::min(0, offset + step));
        }
    }
}

void CThumbsLayout::CloseGaps() {
    std::lock_guard<std::mutex> lock(m_offsetsLock);
    m_offsets.clear();
}
