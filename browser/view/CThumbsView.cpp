#include "CThumbsView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "BrowserHost.h"
#include "TabstopNavigator.h"

CThumbsView::CThumbsView(CThumbsBrowser* browser, QWidget* parent)
    : QAbstractScrollArea(parent), m_pBrowser(browser) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(24);
    horizontalScrollBar()->setSingleStep(24);
    if (m_pBrowser)
        m_pBrowser->SetView(this);
    m_timer.setInterval(kTimerMs);
    // Caption scrolling of the selected items.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_pBrowser && isVisible())
            m_pBrowser->OnTimer(kTimerId);
    });
    m_timer.start();
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::ThumbnailView);
}

CThumbsView::~CThumbsView() {
    m_timer.stop();
    CTabstopNavigator::RemoveWindow(this);
    if (m_pBrowser && m_pBrowser->View() == this)
        m_pBrowser->SetView(nullptr);
}

void CThumbsView::OnInitialUpdate() {
    if (!m_pBrowser)
        return;
    m_pBrowser->SetView(this);
    m_pBrowser->Refresh();
    UpdateScrollSizes();
}

QSize CThumbsView::ClientSize() const {
    return viewport()->size();
}

QPoint CThumbsView::ScrollPosition() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CThumbsView::UpdateScrollSizes() {
    const QSize client = viewport()->size();
    m_scrollSizes = m_pBrowser ? m_pBrowser->ContentSize(client.width()) : QSize();
    verticalScrollBar()->setRange(0, std::max(0, m_scrollSizes.height() - client.height()));
    verticalScrollBar()->setPageStep(std::max(1, client.height()));
    horizontalScrollBar()->setRange(0, std::max(0, m_scrollSizes.width() - client.width()));
    horizontalScrollBar()->setPageStep(std::max(1, client.width()));
    viewport()->update();
}

void CThumbsView::Invalidate() {
    viewport()->update();
}

void CThumbsView::InvalidateRect(const QRect& rect) {
    viewport()->update(rect);
}

void CThumbsView::ScrollTo(QPoint pos) {
    horizontalScrollBar()->setValue(pos.x());
    verticalScrollBar()->setValue(pos.y());
}

void CThumbsView::InvalidateItem(int index) {
    if (index < 0 || !m_pBrowser)
        return;
    const QRect item = m_pBrowser->GetItemRect(index, viewport()->width()).translated(-ScrollPosition());
    viewport()->update(item.adjusted(-3, -3, 3, 3));
}

bool CThumbsView::event(QEvent* e) {
    if (e->type() == CThumbReadyEvent::EventType()) {
        viewport()->update();
        emit ItemsChanged(static_cast<CThumbReadyEvent*>(e)->m_path);
        return true;
    }
    return QAbstractScrollArea::event(e);
}

void CThumbsView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect().adjusted(-2, -2, 2, 2), BrowserHost().Colours().background);
    if (m_pBrowser)
        m_pBrowser->DrawPane(painter, viewport()->size(), ScrollPosition());
}

void CThumbsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QSize client = viewport()->size();
    if (client.width() <= 0 || client.height() <= 0)
        return;
    if (m_pBrowser && m_pBrowser->IsDetailsView())
        m_pBrowser->SetListRowWidth(client.width());
    UpdateScrollSizes();
}

void CThumbsView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CThumbsView::mousePressEvent(QMouseEvent* event) {
    setFocus();
    if (!m_pBrowser)
        return;
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        m_lastRightClick = point;
        m_pBrowser->OnRButtonDown(point, event->globalPosition().toPoint());
    } else if (event->button() == Qt::LeftButton) {
        m_pBrowser->OnLButtonDown(point, event->modifiers());
    }
}

void CThumbsView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_pBrowser && event->button() == Qt::LeftButton)
        m_pBrowser->OnLButtonUp(event->position().toPoint(), event->modifiers());
}

void CThumbsView::mouseMoveEvent(QMouseEvent* event) {
    if (m_pBrowser)
        m_pBrowser->OnMouseMove(event->position().toPoint(), event->buttons(), event->modifiers());
}

void CThumbsView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!m_pBrowser || event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    if (!m_pBrowser->GetPathAt(point, viewport()->width(), ScrollPosition()).empty())
        m_pBrowser->OnLButtonDblClk(point);
}

void CThumbsView::keyPressEvent(QKeyEvent* event) {
    if (m_pBrowser && m_pBrowser->OnKeyDown(event->key(), event->modifiers()))
        return;
    QAbstractScrollArea::keyPressEvent(event);
}

void CThumbsView::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_pBrowser)
        return QAbstractScrollArea::dragEnterEvent(event);
    const Qt::DropAction action = m_pBrowser->DragEnter(event->mimeData());
    m_dragAction = action;
    if (action == Qt::IgnoreAction)
        return event->ignore();
    event->setDropAction(action);
    event->accept();
}

void CThumbsView::dragMoveEvent(QDragMoveEvent* event) {
    if (!m_pBrowser)
        return QAbstractScrollArea::dragMoveEvent(event);
    const Qt::DropAction action =
        m_pBrowser->DragOver(event->mimeData(), event->position().toPoint(), event->modifiers());
    m_dragAction = action;
    if (action == Qt::IgnoreAction)
        return event->ignore();
    event->setDropAction(action);
    event->accept();
}

void CThumbsView::dragLeaveEvent(QDragLeaveEvent* event) {
    m_dragAction = Qt::IgnoreAction;
    if (m_pBrowser)
        m_pBrowser->DragLeave();
    QAbstractScrollArea::dragLeaveEvent(event);
}

void CThumbsView::dropEvent(QDropEvent* event) {
    if (!m_pBrowser)
        return QAbstractScrollArea::dropEvent(event);
    // The browser's answer to the last drag-over (same file system moves),
    // not the platform's default for the keys.
    const Qt::DropAction action = m_dragAction;
    m_dragAction = Qt::IgnoreAction;
    if (action == Qt::IgnoreAction ||
        !m_pBrowser->Drop(event->mimeData(), action, event->position().toPoint()))
        return event->ignore();
    event->setDropAction(action);
    event->accept();
}
