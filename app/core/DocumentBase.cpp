#include "DocumentBase.h"

#include <algorithm>

void CDocumentBase::AddView(IDocView* view) {
    if (view && std::find(m_views.begin(), m_views.end(), view) == m_views.end())
        m_views.push_back(view);
}

void CDocumentBase::RemoveView(IDocView* view) {
    m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
}

void CDocumentBase::UpdateAllViews(IDocView* sender, int hint, void* hintObject) {
    const std::vector<IDocView*> snapshot = m_views;
    for (IDocView* view : snapshot) {
        if (view == sender || std::find(m_views.begin(), m_views.end(), view) == m_views.end())
            continue;
        view->OnUpdate(sender, hint, hintObject);
    }
}
