#pragma once
// The skinned toolbar, the main toolbar (Open, Print, Home) and the rebar
// that holds the main window's bars and paints its background in the task
// colours or with a skin bitmap; and the plain tab control of a task page.

#include <QImage>
#include <QTabWidget>
#include <QToolBar>
#include <vector>

class CMyToolBar : public QToolBar {
    Q_OBJECT
public:
    explicit CMyToolBar(QWidget* parent = nullptr);

    // Buttons of (cx + 7) x (cy + 8) with cx x cy pictures cut from three
    // strips in the Res folder; the top-left pixel's colour is transparent.
    // An empty name leaves that state's pictures as they were.
    void LoadImages(const QString& normal, const QString& hot, const QString& disabled, int cx, int cy);
    virtual void LoadButtons() = 0;
    virtual bool IsWide() const { return false; }

    // The buttons' commands in order, and their actions.
    void SetButtons(const std::vector<int>& ids, const QStringList& texts);
    QAction* ButtonAction(int id) const;
    QSize ButtonSize() const { return buttonSize_; }

signals:
    void Command(int id);

protected:
    bool m_bWide = false;

private:
    void ApplyIcons();

    QSize buttonSize_{31, 32};
    QSize imageSize_{24, 24};
    QImage normal_, hot_, disabled_;
    std::vector<QAction*> actions_;
};

class CMainToolBar : public CMyToolBar {
    Q_OBJECT
public:
    explicit CMainToolBar(QWidget* parent = nullptr);
    // The "Main ToolBar" commands with the skin's "MAIN TOOLBAR" pictures.
    void LoadButtons() override;
};

class CMyReBar : public QToolBar {
    Q_OBJECT
public:
    explicit CMyReBar(QWidget* parent = nullptr);
    // The picture named by `section` / "BACKGROUND"; replaces the last one.
    void LoadBackground(const char* section);
    void SetHighlighted(bool highlighted);
    bool IsHighlighted() const { return highlighted_; }
    const QImage& Background() const { return background_; }

    // Paints the rebar's background onto a w x h area.
    void PaintBackground(QPainter& painter, int w, int h) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage background_;
    bool highlighted_ = false;
    QColor back_;
    QColor select_;
};

// The tab control of a task page; it adds nothing to its base.
class CMyTabCtrl : public QTabWidget {
    Q_OBJECT
public:
    using QTabWidget::QTabWidget;
};
