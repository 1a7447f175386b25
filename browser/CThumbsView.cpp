#include "CThumbsView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "BrowserSettings.h"
#include "TabstopNavigator.h"

namespace {

IThumbsInput* g_input = nullptr;

}  // namespace

void CThumbsView::SetInputHandler(IThumbsInput* handler) {
    g_input = handler;
}

CThumbsView::CThumbsView(CThumbsBrowser* browser, QWidget* parent)
    : QAbstractScrollArea(parent), m_pBrowser(browser) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(24);
    horizontalScrollBar()->setSingleStep(24);
    if (m_pBrowser)
        m_pBrowser->SetView(this);
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (g_input)
            g_input->OnTimer(*this, kTimerId);
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

void CThumbsView::InvalidateItem(int index) {
    if (index < 0 || !m_pBrowser)
        return;
    const QRect item = m_pBrowser->GetItemRect(index, viewport()->width()).translated(-ScrollPosition());
    viewport()->update(item.adjusted(-3, -3, 3, 3));
}

bool CThumbsView::event(QEvent* e) {
    if (e->type() == CThumbReadyEvent::EventType()) {
        viewport()->update();
        return true;
    }
    return QAbstractScrollArea::event(e);
}

void CThumbsView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect().adjusted(-2, -2, 2, 2), g_BrowserColours.background);
    if (m_pBrowser)
        m_pBrowser->DrawPane(painter, viewport()->size(), ScrollPosition());
}

void CThumbsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QSize client = viewport()->size();
    if (client.width() <= 0 || client.height() <= 0)
        return;
    if (g_bBrowserDetails)
        g_nListRowWidth = client.width();
    UpdateScrollSizes();
}

void CThumbsView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CThumbsView::PlainClick(Qt::KeyboardModifiers keys, QPoint point) {
    if (!m_pBrowser)
        return;
    const int index = m_pBrowser->HitTest(point, viewport()->width(), ScrollPosition());
    if (index < 0) {
        if (!(keys & (Qt::ControlModifier | Qt::ShiftModifier)))
            m_pBrowser->DeselectAll();
    } else if (keys & Qt::ControlModifier) {
        bool selected = false;
        const std::vector<CItem> items = m_pBrowser->Items();
        if (index < static_cast<int>(items.size()))
            selected = items[static_cast<size_t>(index)].selected != 0;
        m_pBrowser->SetSelected(index, !selected);
        m_anchor = index;
    } else if ((keys & Qt::ShiftModifier) && m_anchor >= 0) {
        m_pBrowser->DeselectAll();
        for (int i = std::min(m_anchor, index); i <= std::max(m_anchor, index); ++i)
            m_pBrowser->SetSelected(i, true);
    } else {
        m_pBrowser->DeselectAllExcept(index);
        m_pBrowser->SetSelected(index, true);
        m_anchor = index;
    }
    m_pBrowser->UpdateStatus();
    viewport()->update();
}

void CThumbsView::mousePressEvent(QMouseEvent* event) {
    setFocus();
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        m_lastRightClick = point;
        if (g_input)
            g_input->OnContextMenu(*this, point);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (g_input)
        g_input->OnLButtonDown(*this, *this, event->modifiers(), point);
    else
        PlainClick(event->modifiers(), point);
}

void CThumbsView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && g_input)
        g_input->OnLButtonUp(*this, *this, event->modifiers(), event->position().toPoint());
}

void CThumbsView::mouseMoveEvent(QMouseEvent* event) {
    if (g_input)
        g_input->OnMouseMove(*this, *this, event->modifiers(), event->position().toPoint());
}

void CThumbsView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!m_pBrowser || event->button() != Qt::LeftButton)
        return;
    const std::string path =
        m_pBrowser->GetPathAt(event->position().toPoint(), viewport()->width(), ScrollPosition());
    if (!path.empty() && g_input)
        g_input->OnLButtonDblClk(*this, path);
}

void CThumbsView::keyPressEvent(QKeyEvent* event) {
    if (g_input && g_input->OnKeyDown(*this, event->key(), event->modifiers()))
        return;
    if (!g_input && m_pBrowser && event->matches(QKeySequence::SelectAll)) {
        m_pBrowser->SelectAll();
        m_pBrowser->UpdateStatus();
        viewport()->update();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CThumbsView::keyReleaseEvent(QKeyEvent* event) {
    if (g_input && g_input->OnKeyUp(*this, event->key(), event->modifiers()))
        return;
    QAbstractScrollArea::keyReleaseEvent(event);
}
