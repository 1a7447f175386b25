#pragma once
// Selection, focus and mouse tracking of a row of items drawn by another
// window. The window implements ISelectable; the manager asks it for the
// items, their layout and the visible area, and has it redraw, scroll,
// capture the mouse, remove items and move the selection. Items are opaque
// pointers owned by the window; rectangles are in item coordinates (the
// window adds its scroll position), right and bottom edges excluded.

#include <QPoint>
#include <QRect>

#include <unordered_map>
#include <vector>

#include "CSelection.h"

class CSelectionManager;

using SelItem = void*;

class ISelectable {
public:
    virtual ~ISelectable() = default;
    // The set of items changed (after removals).
    virtual void OnSelectionChanged(CSelectionManager* manager) = 0;
    virtual void Redraw() = 0;
    // Scroll so that the visible area starts at x, y.
    virtual void ScrollTo(int x, int y) = 0;
    virtual void SetCapture(bool capture) = 0;
    virtual QRect GetVisibleRect() = 0;
    // The items in display order.
    virtual std::vector<SelItem> GetItems(CSelectionManager* manager) = 0;
    // Whether the arrow keys may stop on the item.
    virtual bool CanSelect(CSelectionManager* manager, SelItem item) = 0;
    // False when the item was not removed.
    virtual bool RemoveItem(CSelectionManager* manager, SelItem item) = 0;
    // Lays the items out and stores each rectangle with SetItemRect.
    virtual void RecalcItemRects(CSelectionManager* manager) = 0;
    // Moves the selected items to the insertion place under the point.
    virtual void MoveSelectedTo(CSelectionManager* manager, int x, int y) = 0;
};

// A selection change as a view-update hint: the previous and the new current item.
class CSelectionChange {
public:
    CSelectionChange(SelItem previous, SelItem current, CSelectionManager* manager)
        : m_previous(previous), m_current(current), m_manager(manager) {}
    SelItem m_previous;
    SelItem m_current;
    CSelectionManager* m_manager;
};

class CSelectionManager {
public:
    struct ItemState {
        QRect rect;
        bool hasRect = false;
    };

    explicit CSelectionManager(ISelectable* owner) : m_owner(owner) {}

    ItemState& GetItemState(SelItem item) { return m_states[item]; }
    void SetItemRect(SelItem item, const QRect& rect);
    QRect GetItemRect(SelItem item);
    bool IsSelected(SelItem item) const { return m_selection.IsSelected(item); }
    // The selected items, with a notification after each change.
    CSelection<SelItem>& Selection() { return m_selection; }
    SelItem GetAnchorItem() const { return m_anchor; }
    SelItem GetCurrentItem() const { return m_current; }
    bool HasCurrent() const { return m_anchor || m_current; }
    // The rubber band, normalised; false (and an empty rectangle) without one.
    bool GetTrackingRect(QRect& rect) const;
    SelItem ItemFromPoint(int x, int y);
    bool IsItemAt(int x, int y) { return ItemFromPoint(x, y) != nullptr; }
    // The item under the point, else the item before which a drop there goes.
    SelItem InsertionItemFromPoint(int x, int y);

    // A null argument keeps that end.
    void SetAnchorAndCurrent(SelItem anchor, SelItem current);
    void ResetCurrent();
    void RemoveItem(SelItem item);
    void RemoveItems(const std::vector<SelItem>& items);
    void RemoveSelected();
    // Drops what is kept of items that have left the owner's list (the
    // list deleted them): a new item made where an old one lay must not
    // come in selected.
    void ForgetMissingItems();

    void OnLButtonDown(int x, int y, bool extend);
    // Adds the item to the selection or takes it out, leaving the others;
    // it becomes anchor and current, so a range can grow from it.
    void ToggleItem(SelItem item);
    void OnMouseMove(int x, int y);
    void EndTracking(bool captureLost);
    // True when handled (the window then skips its own handling).
    bool OnKeyDown(int qtKey, bool shift);

    SelItem GetNextSelectable(SelItem item, bool wrap);
    SelItem GetPrevSelectable(SelItem item, bool wrap);
    SelItem GetPageDownItem(SelItem item);
    SelItem GetPageUpItem(SelItem item);
    void EnsureVisible(SelItem item);
    void SelectInRect(int x1, int y1, int x2, int y2, bool horizontal, bool final);
    void ApplySelection();

    bool IsTrackingBand() const { return m_bandActive; }
    bool IsPressed() const { return m_pressed; }

private:
    void RemoveListed(const std::vector<SelItem>& toRemove);
    SelItem PageItem(SelItem item, int direction);

    ISelectable* m_owner;
    std::unordered_map<SelItem, ItemState> m_states;
    CSelection<SelItem> m_selection;
    bool m_bandActive = false;
    bool m_pressed = false;
    QPoint m_bandStart;
    QPoint m_bandEnd;
    QPoint m_pressPoint;
    QRect m_dragThreshold{-5, -5, 10, 10};
    SelItem m_anchor = nullptr;
    SelItem m_current = nullptr;
    SelItem m_pending = nullptr;
};
