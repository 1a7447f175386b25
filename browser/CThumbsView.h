#pragma once
// The thumbnail pane: a thin scrolling view over the browser model. It owns
// no items; it paints through CThumbsBrowser and passes mouse, keyboard and
// timer input on. The browser's own selection, drag and key handling plugs
// in as an IThumbsInput; until one is installed, clicks select (Ctrl
// toggles, Shift extends) so the pane is usable on its own.

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QTimer>

#include "CThumbsBrowser.h"

class CThumbsView;

// The back buffers the browser's drawing and input keep in the view.
class IBorderBuffer {
public:
    int m_nBorderA = 0;
    int m_nBorderB = 0;
    QPixmap m_bitmapA;
    QPixmap m_bitmapB;
};

// The browser's input operations; each returns true when it took the event.
class IThumbsInput {
public:
    virtual ~IThumbsInput() = default;
    virtual bool OnLButtonDown(CThumbsView& view, IBorderBuffer& buffer, Qt::KeyboardModifiers keys,
                               QPoint point) = 0;
    virtual bool OnLButtonUp(CThumbsView& view, IBorderBuffer& buffer, Qt::KeyboardModifiers keys,
                             QPoint point) = 0;
    virtual bool OnMouseMove(CThumbsView& view, IBorderBuffer& buffer, Qt::KeyboardModifiers keys,
                             QPoint point) = 0;
    virtual bool OnLButtonDblClk(CThumbsView& view, const std::string& path) = 0;
    virtual bool OnContextMenu(CThumbsView& view, QPoint point) = 0;
    virtual bool OnKeyDown(CThumbsView& view, int key, Qt::KeyboardModifiers keys) = 0;
    virtual bool OnKeyUp(CThumbsView& view, int key, Qt::KeyboardModifiers keys) = 0;
    virtual void OnTimer(CThumbsView& view, int timerId) = 0;
};

class CThumbsView : public QAbstractScrollArea, public IThumbsView, public IBorderBuffer {
    Q_OBJECT
public:
    static constexpr int kTimerId = 10;
    static constexpr int kTimerMs = 100;

    // browser may be null (then the pane only shows its background).
    explicit CThumbsView(CThumbsBrowser* browser, QWidget* parent = nullptr);
    ~CThumbsView() override;

    // The input handler every thumbnail view uses; null for the plain one.
    static void SetInputHandler(IThumbsInput* handler);

    CThumbsBrowser* Browser() const { return m_pBrowser; }
    // Stores the view in the browser, re-reads the folder, sets the scroll sizes.
    void OnInitialUpdate();

    // IThumbsView.
    QObject* EventTarget() override { return this; }
    void UpdateScrollSizes() override;
    void Invalidate() override;
    QSize ClientSize() const override;
    QPoint ScrollPosition() const override;

    // Repaints one item (grown by 3 pixels); a negative index repaints nothing.
    void InvalidateItem(int index);
    // The last right-click point.
    QPoint LastRightClick() const { return m_lastRightClick; }
    // Scroll sizes as last set (content size for the bars).
    QSize ScrollSizes() const { return m_scrollSizes; }

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
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void PlainClick(Qt::KeyboardModifiers keys, QPoint point);

    CThumbsBrowser* m_pBrowser;
    QPoint m_lastRightClick;
    QTimer m_timer;
    QSize m_scrollSizes;
    int m_anchor = -1;
};
