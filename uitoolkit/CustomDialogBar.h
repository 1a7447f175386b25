#pragma once
// The task bar across the top of the main window: the task tabs, the zoom
// bar right of them and the logo button at the right edge, which opens the
// product's home page.

#include <QPushButton>
#include <QWidget>

#include "CustomTabCtrl.h"
#include "ZoomCtrl.h"

// A flat button showing one skin picture in every state, shifted by a pixel
// when pushed or hovered.
class CCustomButton : public QPushButton {
    Q_OBJECT
public:
    explicit CCustomButton(QWidget* parent = nullptr);
    void SetImage(const QString& path);
    void SetFramed(bool framed) { framed_ = framed; }
    void SetNoBackground(bool none) { noBackground_ = none; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    bool framed_ = false;
    bool noBackground_ = false;
};

class CCustomDialogBar : public QWidget {
    Q_OBJECT
public:
    explicit CCustomDialogBar(QWidget* parent = nullptr);
    ~CCustomDialogBar() override;

    // Ignored outside 0..count-1.
    void SelectTab(int index);
    void SetZoomPos(int position);
    void SetZoomRange(int position, int minimum, int maximum, int step);

    CCustomTabCtrl* Tabs() const { return tabs_; }
    CZoomCtrl* Zoom() const { return zoom_; }
    CCustomButton* Logo() const { return logo_; }

    // Where the three parts go on a bar of that size.
    struct Layout {
        QRect tabs, logo, zoom;
    };
    static Layout ComputeLayout(int cx, int cy, int bandHeight, QSize zoomSize);

    static constexpr int kTabsRightGap = 244;
    static constexpr int kLogoWidth = 48;

    QSize sizeHint() const override;

signals:
    // A tab's command id.
    void Command(int commandId);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    CCustomTabCtrl* tabs_;
    CCustomButton* logo_;
    CZoomCtrl* zoom_;
};
