#pragma once
// The thumbnail pane: a thin scrolling view over the browser model. It owns
// no items and no selection; it paints through CThumbsBrowser and hands
// mouse, keys, timer and drag and drop to the browser's own operations, in
// its viewport's client coordinates.

#include <QAbstractScrollArea>
#include <QTimer>

#include "CThumbsBrowser.h"

class CThumbsView : public QAbstractScrollArea, public IThumbsView {
    Q_OBJECT
public:
    static constexpr int kTimerId = 10;
    static constexpr int kTimerMs = 100;

    // browser may be null (then the pane only shows its background).
    explicit CThumbsView(CThumbsBrowser* browser, QWidget* parent = nullptr);
    ~CThumbsView() override;

    CThumbsBrowser* Browser() const { return m_pBrowser; }
    // Stores the view in the browser, re-reads the folder, sets the scroll sizes.
    void OnInitialUpdate();

    // IThumbsView.
    QObject* EventTarget() override { return this; }
    void UpdateScrollSizes() override;
    void Invalidate() override;
    QSize ClientSize() const override;
    QPoint ScrollPosition() const override;
    QWidget* Widget() override { return viewport(); }
    void ScrollTo(QPoint pos) override;
    void InvalidateRect(const QRect& rect) override;

    // Repaints one item (grown by 3 pixels); a negative index repaints nothing.
    void InvalidateItem(int index);
    // The last right-click point.
    QPoint LastRightClick() const { return m_lastRightClick; }
    // Scroll sizes as last set (content size for the bars).
    QSize ScrollSizes() const { return m_scrollSizes; }

signals:
    // The thumbnail of path is ready, or (path empty) the folder was read
    // again; the file list follows.
    void ItemsChanged(const std::string& path);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    CThumbsBrowser* m_pBrowser;
    QPoint m_lastRightClick;
    QTimer m_timer;
    QSize m_scrollSizes;
    Qt::DropAction m_dragAction = Qt::IgnoreAction;
};
