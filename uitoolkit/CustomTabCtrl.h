#pragma once
// The task tabs: skinned tabs that carry a command id each, send it when
// chosen, and draw a band under the row in the selected tab's colour.

#include <QColor>
#include <QTabBar>
#include <vector>

#include "InterfaceImageList.h"

class CCustomTabCtrl : public QTabBar {
    Q_OBJECT
public:
    explicit CCustomTabCtrl(QWidget* parent = nullptr);

    struct Colors {
        QColor background{255, 0, 0};
        QColor select{0, 255, 0};
        QColor textNormal{0, 0, 255};
        QColor textSelect{255, 0, 255};
        QColor textHighlight{0, 255, 255};
    };
    void SetColors(const Colors& colors);
    const Colors& GetColors() const { return colors_; }
    // Strips of tab pictures (normal, disabled, hot), one cell per tab.
    void SetImageStrips(const QString& standard, const QString& disabled, const QString& hot);

    // Appends a tab with its command id. Throws std::invalid_argument for a
    // negative index.
    int InsertTab(int index, const QString& text, int imageIndex);
    void SetTabCommandId(int index, int commandId);
    int GetTabCommandId(int index) const;
    int FindTabById(int commandId) const;
    void EnableTabById(int commandId, bool enable);
    // Selects the tab with that command id; an unknown id clears the selection.
    void SelectTabById(int commandId);
    // The selected tab, -1 for none (a tab bar of Qt always keeps one).
    int GetCurSel() const { return selected_; }
    void SetCurSel(int index);

    // The band under the tabs, across the whole width.
    QRect GetBandRect() const;
    static constexpr int kBandHeight = 16;

signals:
    void TabCommand(int commandId);

protected:
    QSize tabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Colors colors_;
    MainInterface::CInterfaceImageList standard_, disabled_, hot_;
    std::vector<int> imageIndex_;
    int hotTab_ = -1;
    int selected_ = -1;
};
