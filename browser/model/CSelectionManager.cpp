#include "CSelectionManager.h"

#include <Qt>

#include <algorithm>

namespace {

int IndexOf(const std::vector<SelItem>& items, SelItem item) {
    const auto it = std::find(items.begin(), items.end(), item);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

}  // namespace

void CSelectionManager::SetItemRect(SelItem item, const QRect& rect) {
    ItemState& state = m_states[item];
    state.rect = rect;
    state.hasRect = true;
}

QRect CSelectionManager::GetItemRect(SelItem item) {
    const ItemState& state = m_states[item];
    return state.hasRect ? state.rect : QRect();
}

bool CSelectionManager::GetTrackingRect(QRect& rect) const {
    if (!m_bandActive) {
        rect = QRect();
        return false;
    }
    rect = QRect(m_bandStart, m_bandEnd).normalized();
    return true;
}

SelItem CSelectionManager::ItemFromPoint(int x, int y) {
    for (SelItem item : m_owner->GetItems(this))
        if (GetItemRect(item).contains(x, y))
            return item;
    return nullptr;
}

SelItem CSelectionManager::InsertionItemFromPoint(int x, int y) {
    if (SelItem item = ItemFromPoint(x, y))
        return item;
    QRect previous(0, 0, 1, 1);
    for (SelItem item : m_owner->GetItems(this)) {
        const QRect rect = GetItemRect(item);
        if (rect.united(previous).contains(x, y))
            return item;
        previous = rect;
    }
    return nullptr;
}

void CSelectionManager::SetAnchorAndCurrent(SelItem anchor, SelItem current) {
    if (anchor)
        m_anchor = anchor;
    if (current)
        m_current = current;
    ApplySelection();
}

void CSelectionManager::ResetCurrent() {
    m_anchor = m_current = nullptr;
    ApplySelection();
}

void CSelectionManager::ApplySelection() {
    const std::vector<SelItem> items = m_owner->GetItems(this);
    // An end whose item has left the list (removed by someone else) is gone.
    if (m_anchor && IndexOf(items, m_anchor) < 0)
        m_anchor = nullptr;
    if (m_current && IndexOf(items, m_current) < 0)
        m_current = nullptr;
    std::vector<SelItem> selected;
    if (m_anchor == m_current) {
        if (m_anchor)
            selected.push_back(m_anchor);
        m_selection.Assign(selected);
        return;
    }
    bool inside = false;
    for (SelItem item : items) {
        const bool end = item == m_anchor || item == m_current;
        if (end)
            inside = !inside;
        if (end || inside)
            selected.push_back(item);
    }
    m_selection.Assign(selected);
}

void CSelectionManager::RemoveItem(SelItem item) {
    RemoveItems({item});
}

void CSelectionManager::RemoveItems(const std::vector<SelItem>& items) {
    std::vector<SelItem> listed;
    for (SelItem item : m_owner->GetItems(this))
        if (std::find(items.begin(), items.end(), item) != items.end())
            listed.push_back(item);
    RemoveListed(listed);
}

void CSelectionManager::RemoveSelected() {
    std::vector<SelItem> listed;
    for (SelItem item : m_owner->GetItems(this))
        if (IsSelected(item))
            listed.push_back(item);
    RemoveListed(listed);
}

void CSelectionManager::ForgetMissingItems() {
    const std::vector<SelItem> items = m_owner->GetItems(this);
    for (auto it = m_states.begin(); it != m_states.end();)
        it = IndexOf(items, it->first) < 0 ? m_states.erase(it) : std::next(it);
    m_selection.Retain([&](SelItem item) { return IndexOf(items, item) >= 0; });
    for (SelItem* end : {&m_anchor, &m_current, &m_pending})
        if (*end && IndexOf(items, *end) < 0)
            *end = nullptr;
}

void CSelectionManager::RemoveListed(const std::vector<SelItem>& toRemove) {
    SelItem follow = nullptr;
    for (SelItem item : toRemove) {
        const std::vector<SelItem> items = m_owner->GetItems(this);
        const int index = IndexOf(items, item);
        if (index < 0)
            continue;
        const int count = static_cast<int>(items.size());
        follow = index + 1 < count ? items[index + 1] : index > 0 ? items[index - 1] : nullptr;
        if (!m_owner->RemoveItem(this, item))
            follow = item;
    }
    m_owner->OnSelectionChanged(this);
    m_anchor = m_current = nullptr;
    ApplySelection();
    // With nothing removed, nothing gets the focus.
    if (!toRemove.empty()) {
        const std::vector<SelItem> items = m_owner->GetItems(this);
        if (follow && IndexOf(items, follow) >= 0)
            m_anchor = m_current = follow;
        else if (!items.empty())
            m_anchor = m_current = items.back();
        ApplySelection();
    }
    m_owner->RecalcItemRects(this);
    m_owner->Redraw();
}

void CSelectionManager::OnLButtonDown(int x, int y, bool extend) {
    m_owner->SetCapture(true);
    m_pressPoint = QPoint(x, y);
    m_pressed = true;
    SelItem item = ItemFromPoint(x, y);
    if (!item) {
        m_bandStart = m_bandEnd = QPoint(x, y);
        m_bandActive = true;
        m_anchor = m_current = nullptr;
        ApplySelection();
        return;
    }
    if (!extend && IsSelected(item)) {
        m_pending = item;
        m_owner->Redraw();
        return;
    }
    if (!extend)
        m_anchor = item;
    m_current = item;
    ApplySelection();
    m_owner->Redraw();
}

void CSelectionManager::ToggleItem(SelItem item) {
    if (!item)
        return;
    m_selection.Toggle(item);
    m_anchor = m_current = item;
    m_owner->Redraw();
}

void CSelectionManager::OnMouseMove(int x, int y) {
    if (m_dragThreshold.translated(m_pressPoint).contains(x, y))
        return;
    if (m_bandActive) {
        m_bandEnd = QPoint(x, y);
        SelectInRect(m_bandStart.x(), m_bandStart.y(), x, y, true, false);
    } else if (m_pressed) {
        if (!InsertionItemFromPoint(x, y))
            return;
        m_owner->MoveSelectedTo(this, x, y);
        m_owner->RecalcItemRects(this);
    } else {
        return;
    }
    m_owner->Redraw();
}

void CSelectionManager::SelectInRect(int x1, int y1, int x2, int y2, bool horizontal, bool) {
    const QRect band = QRect(QPoint(x1, y1), QPoint(x2, y2)).normalized();
    SelItem first = nullptr, last = nullptr;
    for (SelItem item : m_owner->GetItems(this)) {
        if (GetItemRect(item).intersects(band)) {
            if (!first)
                first = item;
            last = item;
        }
    }
    if (horizontal ? x1 > x2 : y1 > y2)
        std::swap(first, last);
    if (first)
        m_anchor = first;
    if (last)
        m_current = last;
    ApplySelection();
}

void CSelectionManager::EndTracking(bool captureLost) {
    if (m_pressed) {
        m_pressed = false;
        if (!captureLost)
            m_owner->SetCapture(false);
    }
    if (m_bandActive) {
        m_bandActive = false;
        SelectInRect(m_bandStart.x(), m_bandStart.y(), m_bandEnd.x(), m_bandEnd.y(), true, true);
        m_owner->Redraw();
    } else if (m_pending) {
        if (m_pending != m_current) {
            m_anchor = m_current = m_pending;
            ApplySelection();
        }
        m_pending = nullptr;
        m_owner->Redraw();
    }
}

bool CSelectionManager::OnKeyDown(int qtKey, bool shift) {
    const std::vector<SelItem> items = m_owner->GetItems(this);
    if (items.empty())
        return false;
    SelItem focus = m_current ? m_current : items.front();
    SelItem next = nullptr;
    switch (qtKey) {
        case Qt::Key_PageUp:
            next = GetPageUpItem(focus);
            break;
        case Qt::Key_PageDown:
            next = GetPageDownItem(focus);
            break;
        case Qt::Key_End:
            next = items.back();
            break;
        case Qt::Key_Home:
            next = items.front();
            break;
        case Qt::Key_Left:
            next = GetPrevSelectable(focus, !shift);
            break;
        case Qt::Key_Right:
            next = GetNextSelectable(focus, !shift);
            break;
        case Qt::Key_Delete:
            RemoveSelected();
            return true;
        default:
            return false;
    }
    if (next) {
        if (!shift)
            m_anchor = next;
        m_current = next;
    }
    ApplySelection();
    if (next)
        EnsureVisible(next);
    m_owner->Redraw();
    return true;
}

SelItem CSelectionManager::GetNextSelectable(SelItem item, bool wrap) {
    const std::vector<SelItem> items = m_owner->GetItems(this);
    for (size_t i = static_cast<size_t>(IndexOf(items, item) + 1); i < items.size(); ++i)
        if (m_owner->CanSelect(this, items[i]))
            return items[i];
    return wrap && !items.empty() ? items.front() : nullptr;
}

SelItem CSelectionManager::GetPrevSelectable(SelItem item, bool wrap) {
    const std::vector<SelItem> items = m_owner->GetItems(this);
    for (int i = IndexOf(items, item) - 1; i >= 0; --i)
        if (m_owner->CanSelect(this, items[static_cast<size_t>(i)]))
            return items[static_cast<size_t>(i)];
    return wrap && !items.empty() ? items.back() : nullptr;
}

SelItem CSelectionManager::GetPageDownItem(SelItem item) {
    return PageItem(item, 1);
}

SelItem CSelectionManager::GetPageUpItem(SelItem item) {
    return PageItem(item, -1);
}

SelItem CSelectionManager::PageItem(SelItem item, int direction) {
    std::vector<SelItem> items = m_owner->GetItems(this);
    if (direction < 0)
        std::reverse(items.begin(), items.end());
    const int count = static_cast<int>(items.size());
    const int start = IndexOf(items, item);
    if (start < 0)
        return item;
    const QRect visible = m_owner->GetVisibleRect();
    // The last of the run of wholly visible items from the focus on.
    int i = start;
    while (i < count && !visible.contains(GetItemRect(items[i])))
        ++i;
    if (i < count) {
        int last = i;
        while (last + 1 < count && visible.contains(GetItemRect(items[last + 1])))
            ++last;
        if (last != start)
            return items[last];
    }
    // The focus is the last wholly visible item: the next page's run.
    const QRect moved = visible.translated(direction * visible.width(), 0);
    const int next = start + 1;
    if (next >= count)
        return items.back();
    if (!moved.intersects(GetItemRect(items[next])))
        return item;
    int last = next;
    while (last + 1 < count && moved.contains(GetItemRect(items[last + 1])))
        ++last;
    return items[last];
}

void CSelectionManager::EnsureVisible(SelItem item) {
    const QRect v = m_owner->GetVisibleRect();
    const QRect r = GetItemRect(item);
    // Right edges as the window sees them: one past the last column.
    const int vRight = v.x() + v.width(), rRight = r.x() + r.width();
    int x;
    if (rRight > vRight)
        x = rRight - vRight + v.x();
    else if (r.x() < v.x())
        x = r.x();
    else
        return;
    m_owner->ScrollTo(x, v.y());
}
