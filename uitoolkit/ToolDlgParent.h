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
#include <string>

#include "SizingControlBar.h"

// The operations of the folder tree that its bar drives (the tree lives in
// the photo browser, which builds on this toolkit).
class IFolderTree {
public:
    virtual ~IFolderTree() = default;
    // The selected folder; false when none is selected.
    virtual bool GetSelectedFolder(std::string& path) const = 0;
    virtual bool SelectParentFolder() = 0;
    // Selects the browser's current folder without reopening it.
    virtual void SelectCurrentFolder() = 0;
    virtual void Refresh() = 0;
    virtual void SelectFolder(const std::string& path) = 0;
};

class CBrowserTreeBar : public CSizingControlBarCF {
    Q_OBJECT
public:
    CBrowserTreeBar(const QString& title, QWidget* parent = nullptr);
    static constexpr int kId = 1001;
    static constexpr int kTreeId = 32786;
    // The tree window and its operations (may be the same object).
    void SetTree(QWidget* tree, IFolderTree* operations = nullptr);
    QWidget* Tree() const { return tree_; }
    // The selected folder, or "".
    std::string GetSelectedPath() const;
    // Selects the parent of the selected folder.
    void EnsureSelection();
    // Selects the browser's current folder, shows the tree and drops the
    // bar's close button.
    void ShowCurrentFolder();
    // Re-reads the tree without flicker; nothing while the tree is hidden.
    void RefreshTree();
    // Selects path unless the tree itself sent it.
    void SelectPath(const QObject* sender, const std::string& path);

private:
    QWidget* tree_ = nullptr;
    IFolderTree* operations_ = nullptr;
};
