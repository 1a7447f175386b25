#include "CThumbsWnd.h"

#include <QApplication>
#include <QMouseEvent>

#include "BrowserHost.h"
#include "ButtonStrip.h"
#include "CFilesList.h"
#include "CImgThumbsBrowser.h"
#include "CThumbsView.h"
#include "CVisitedFolders.h"

CThumbsWnd::CThumbsWnd(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ThumbsWnd"));
    m_strip = new CButtonStrip(this);
    if (m_bShowStrips)
        m_visited = new CVisitedFolders(this);
    m_pView = CreateThumbsView();
    CreateContent();
    Layout();
}

CThumbsWnd::~CThumbsWnd() {
    // The view goes first; it clears the browser's pointer to itself.
    delete m_pView;
    m_pView = nullptr;
}

CImgThumbsBrowser* CThumbsWnd::GetBrowser() const {
    return g_pThumbsBrowser;
}

CThumbsView* CThumbsWnd::CreateThumbsView() {
    auto* view = new CThumbsView(GetBrowser(), this);
    view->setObjectName(QStringLiteral("ThumbsView"));
    view->setVisible(!BrowserHost().IsFilesListMode());
    return view;
}

CFilesList* CThumbsWnd::CreateFilesList() {
    return GetBrowser() ? new CFilesList(GetBrowser(), this) : nullptr;
}

void CThumbsWnd::CreateContent() {
    m_pList = CreateFilesList();
    if (m_pList) {
        m_pList->setParent(this);
        m_pList->setVisible(BrowserHost().IsFilesListMode());
        // The list follows the folder's items while it shows, but leaves a
        // name being edited alone; an arriving thumbnail changes its own row.
        connect(m_pView, &CThumbsView::ItemsChanged, m_pList, [list = m_pList](const std::string& path) {
            if (!list->isVisible() || list->IsEditing())
                return;
            if (path.empty())
                list->Fill();
            else
                list->UpdateRow(path);
        });
    }
    if (m_pList && BrowserHost().IsFilesListMode()) {
        m_pView->OnInitialUpdate();
        m_pView->hide();
        m_pList->Fill();
        m_pList->show();
        m_pList->raise();
        m_pList->setFocus();
    } else {
        m_pView->show();
        m_pView->raise();
        m_pView->setFocus();
        m_pView->OnInitialUpdate();
    }
}

void CThumbsWnd::SetViewMode(bool list) {
    if (list && m_pList) {
        m_pList->Fill();
        m_pList->show();
        m_pView->hide();
        m_pList->raise();
        m_pList->setFocus();
        return;
    }
    if (m_pList)
        m_pList->hide();
    m_pView->show();
    m_pView->raise();
    m_pView->setFocus();
    m_pView->UpdateScrollSizes();
}

void CThumbsWnd::ActivateView() {
    SetViewMode(BrowserHost().IsFilesListMode());
}

void CThumbsWnd::AddVisitedFolder(const std::string& location, const void* sender) {
    if (m_bShowStrips && m_visited && sender != m_visited)
        m_visited->Fill(location);
}

bool CThumbsWnd::DestroyWindow() {
    QWidget* grabber = QWidget::mouseGrabber();
    if (m_pView && grabber && (grabber == m_pView || grabber == m_pView->viewport()))
        return false;
    delete m_pView;
    m_pView = nullptr;
    deleteLater();
    return true;
}

void CThumbsWnd::Layout() {
    int top = 0;
    if (m_bShowStrips) {
        const int stripHeight = m_strip->GetStripHeight();
        m_strip->setGeometry(0, 0, width(), stripHeight);
        top = stripHeight;
        if (m_visited) {
            const int visitedHeight = m_visited->sizeHint().height();
            m_visited->setGeometry(0, top, width(), visitedHeight);
            top += visitedHeight;
        }
    }
    const QRect content(0, top, width(), std::max(0, height() - top));
    if (m_pView)
        m_pView->setGeometry(content);
    if (m_pList)
        m_pList->setGeometry(content);
}

void CThumbsWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void CThumbsWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!m_pView) {
        return;
    }
    QMouseEvent forwarded(event->type(), m_pView->viewport()->mapFrom(this, event->position().toPoint()),
                          event->globalPosition(), event->button(), event->buttons(), event->modifiers());
    QApplication::sendEvent(m_pView->viewport(), &forwarded);
}
