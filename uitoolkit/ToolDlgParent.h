#pragma once
// The scrolling parent of a task page inside a docking bar: the page keeps
// its own size and scrolls vertically when the bar is shorter than it.

#include <QScrollArea>

class CToolDlgParent : public QScrollArea {
    Q_OBJECT
public:
    explicit CToolDlgParent(QWidget* parent = nullptr);
    // The hosted page; the parent takes it over.
    void SetDialog(QWidget* page);
    QWidget* Dialog() const { return widget(); }
    // Last scroll position for a range [0, max] and a page: max - page + 1,
    // never below 0.
    static int LastPosition(int max, int page);
    static constexpr int kLineStep = 16;
};

// The "Folders" bar: a sizing bar holding the folder tree.
#include "SizingControlBar.h"
class CBrowserTreeBar : public CSizingControlBarCF {
    Q_OBJECT
public:
    CBrowserTreeBar(const QString& title, QWidget* parent = nullptr);
    static constexpr int kId = 1001;
    static constexpr int kTreeId = 32786;
    void SetTree(QWidget* tree);
    QWidget* Tree() const { return tree_; }
    // Shows the tree (its current folder selected by the owner) and drops
    // the bar's close button.
    void ShowCurrentFolder();

private:
    QWidget* tree_ = nullptr;
};
