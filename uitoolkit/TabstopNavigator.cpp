#include "TabstopNavigator.h"

#include <QApplication>
#include <QKeyEvent>
#include <algorithm>

namespace {

CTabstopNavigator* g_navigator = nullptr;

bool Eligible(const QWidget* w) {
    return w && w->isEnabled() && w->isVisible();
}

bool IsTabStop(const QWidget* w, const QWidget* pane) {
    return w != pane && pane->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
           w->isVisible();
}

// The first and last controls of a pane in its focus chain.
std::pair<QWidget*, QWidget*> FirstAndLast(QWidget* pane) {
    QWidget* first = nullptr;
    QWidget* last = nullptr;
    QWidget* w = pane->nextInFocusChain();
    for (int guard = 0; w && w != pane && guard < 10000; ++guard, w = w->nextInFocusChain()) {
        if (!IsTabStop(w, pane))
            continue;
        if (!first)
            first = w;
        last = w;
    }
    return {first, last};
}

}  // namespace

void CTabstopNavigator::Create() {
    if (g_navigator)
        return;
    g_navigator = new CTabstopNavigator;
    if (qApp)
        qApp->installEventFilter(g_navigator);
}

void CTabstopNavigator::Destroy() {
    delete g_navigator;
    g_navigator = nullptr;
}

CTabstopNavigator* CTabstopNavigator::Instance() {
    return g_navigator;
}

bool CTabstopNavigator::AddWindow(QWidget* pane, int order, bool dialogLike) {
    if (!g_navigator || !pane)
        return false;
    auto& panes = g_navigator->panes_;
    // Panes destroyed without leaving the ring are dropped here.
    std::erase_if(panes, [](const CWndData& d) { return d.pane.isNull(); });
    for (const CWndData& d : panes)
        if (d.pane == pane)
            return true;
    auto at = panes.end();
    if (order != INT_MAX)
        at = std::find_if(panes.begin(), panes.end(), [&](const CWndData& d) { return d.order > order; });
    panes.insert(at, CWndData{order, pane, dialogLike});
    return true;
}

bool CTabstopNavigator::RemoveWindow(QWidget* pane) {
    if (!g_navigator)
        return false;
    auto& panes = g_navigator->panes_;
    for (auto it = panes.rbegin(); it != panes.rend(); ++it) {
        if (it->pane == pane) {
            panes.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

const CTabstopNavigator::CWndData* CTabstopNavigator::FindPaneOf(QWidget* w) const {
    for (; w; w = w->parentWidget()) {
        for (auto it = panes_.rbegin(); it != panes_.rend(); ++it)
            if (it->pane == w)
                return &*it;
    }
    return nullptr;
}

QWidget* CTabstopNavigator::GetNextPane(QWidget* pane, bool backward) {
    if (!g_navigator)
        return nullptr;
    const auto& panes = g_navigator->panes_;
    const int n = int(panes.size());
    int index = -1;
    for (int i = 0; i < n; ++i) {
        if (panes[size_t(i)].pane == pane) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return nullptr;
    for (int step = 1; step < n; ++step) {
        const int i = backward ? (index - step + n) % n : (index + step) % n;
        QWidget* candidate = panes[size_t(i)].pane;
        if (candidate != pane && Eligible(candidate))
            return candidate;
    }
    return nullptr;
}

bool CTabstopNavigator::TakeFocus(QWidget* pane) {
    if (!Eligible(pane))
        return false;
    // A container without a focus policy would keep the focus on itself:
    // hand it to the control that had it last, or to the first control.
    QWidget* target = pane;
    if (!(pane->focusPolicy() & Qt::TabFocus)) {
        if (QWidget* inner = pane->focusWidget(); inner && IsTabStop(inner, pane))
            target = inner;
        else if (QWidget* first = FirstAndLast(pane).first)
            target = first;
    }
    target->setFocus(Qt::TabFocusReason);
    return true;
}

bool CTabstopNavigator::PreTranslateMessage(QObject* target, QEvent* event) {
    if (!g_navigator || event->type() != QEvent::KeyPress || !target->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const bool backward = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);

    auto* widget = static_cast<QWidget*>(target);
    const CWndData* data = g_navigator->FindPaneOf(widget);
    if (!data)
        return false;
    QWidget* pane = data->pane;

    if (data->dialogLike) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus || !(focus == pane || pane->isAncestorOf(focus)))
            focus = widget;
        const auto [first, last] = FirstAndLast(pane);
        if (first && focus != pane) {
            if (!backward && focus != last)
                return false;
            if (backward && focus != first)
                return false;
        }
    }
    QWidget* next = GetNextPane(pane, backward);
    return next && TakeFocus(next);
}

bool CTabstopNavigator::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && PreTranslateMessage(watched, event))
        return true;
    return QObject::eventFilter(watched, event);
}
