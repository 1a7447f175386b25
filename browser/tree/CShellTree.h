#pragma once
// The photo browser's folder tree: the user's places from one root down,
// folders only, with the desktop's icons and names. Choosing a folder shows
// it in the thumbnail browser; the tree also renames folders, deletes them to
// the trash, takes dropped files, follows the browser's current folder,
// notices vanished folders and unmounted media on a 2-second timer, and
// keeps the chosen folder across runs (profile "SHELLTREE", "PIDL").
//
// The namespace behind it is ShellNamespace; every node holds its folder's
// path (the place of the shell's item ID lists), virtual places hold none.

#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <string>

#include "CTreeDropTarget.h"
#include "CWin7Library.h"
#include "ShellNamespace.h"
#include "ToolDlgParent.h"

class CShellTree : public QTreeWidget, public ILibUpdate, public IFolderTree {
    Q_OBJECT
public:
    explicit CShellTree(QWidget* parent = nullptr);
    ~CShellTree() override;

    static constexpr int kTimerId = 1360;
    static constexpr int kCheckIntervalMs = 2000;

    // Rebuilds the whole tree: the root, expanded.
    void FillRoot();
    // Icons come from the process-wide list; kept for the bar's call.
    void SetSystemImageList() {}
    // The selected node's folder (isVirtual false) or library text (true);
    // false when nothing is selected or the node has neither.
    bool GetSelectedPath(std::string& path, bool& isVirtual) const;
    // Expands down to path and selects it. With caller the tree itself the
    // selection does not reopen the folder.
    void SelectPath(const std::string& path, const void* caller = nullptr);
    // Selects the parent of the selected node; without a selection, the
    // folder above the browser's current one (nothing for one directly
    // below the root).
    bool SelectParentFolder() override;
    // Selects the browser's current folder without reopening it.
    void SelectCurrentFolder() override;
    // Re-reads the tree, keeping the selection where it still exists (also
    // invoked by name: the program's folder listeners are told through it).
    Q_INVOKABLE void Refresh() override;
    // A refresh at the next turn of the event loop: the notices one change
    // brings (the device notice, a folder-change notice per mount) refresh
    // the tree once.
    void RequestRefresh();
    // The folders of the nodes shown expanded, in tree order.
    std::vector<std::string> ExpandedFolders() const;
    // How many refreshes ran (a busy tree's skipped ones not counted).
    int RefreshCount() const { return m_nRefreshes; }
    // For the bar: the selected folder, and selecting one (which opens it).
    bool GetSelectedFolder(std::string& path) const override {
        bool isVirtual = false;
        return GetSelectedPath(path, isVirtual) && !isVirtual;
    }
    void SelectFolder(const std::string& path) override { SelectPath(path); }
    // The selection in the profile: written as the path's bytes (and the
    // two-byte terminator) in hexadecimal.
    virtual bool RestoreSelection();
    virtual void SaveSelection();
    // The context menu of a node: Rename and Delete.
    virtual int OnItemContextMenu(QWidget* parent, QTreeWidgetItem* item, QPoint screenPoint);

    // The timer's work: a selected folder that vanished, or whose removable
    // medium went, refreshes the tree and leaves nothing selected.
    void CheckSelection();
    // Also on the timer: removable media mounted or unmounted since the last
    // look refresh the tree, so a card appears or leaves within 2 seconds.
    void CheckMounts();
    // Deletes the selected folder to the trash (Delete key, CmdId::FolderDelete).
    bool DeleteSelected();
    bool DeleteItem(QTreeWidgetItem* item);
    // The end of a label edit: renames the node's folder to text.
    bool RenameItem(QTreeWidgetItem* item, const QString& text);
    // Whether a node's label may be edited.
    static bool CanRename(const QTreeWidgetItem* item);

    // The node's folder; empty for virtual nodes.
    static std::string GetItemPath(const QTreeWidgetItem* item);
    // The node of path among the loaded ones, or null.
    QTreeWidgetItem* FindLoaded(const std::string& path) const;
    // The node is still in the tree (drops and timers keep pointers).
    bool IsItem(const QTreeWidgetItem* item) const;
    // The point lies on the node's icon or label.
    bool IsOnLabel(QTreeWidgetItem* item, QPoint point) const;
    // Fills a node's children on its first expansion.
    void FillChildren(QTreeWidgetItem* item);
    QTreeWidgetItem* Root() const { return topLevelItem(0); }
    CTreeDropTarget& DropTarget() { return m_dropTarget; }
    bool Found() const { return m_bFound; }
    const QTimer& CheckTimer() const { return m_timer; }

    // Files were dropped on a node: it is re-read.
    void OnFilesDropped(QTreeWidgetItem* item);
    void OnLibrariesChanged() override;

    // While a folder label is being edited anywhere in the browser; the main
    // window leaves keys to the editor meanwhile.
    static bool IsLabelEditing();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;

private:
    friend class CShellTreeEditDelegate;
    enum Role { kPathRole = Qt::UserRole, kKindRole, kFilledRole, kRenameRole, kDeleteRole };

    QTreeWidgetItem* MakeItem(const ShellFolderEntry& entry) const;
    std::vector<ShellFolderEntry> ChildrenOf(QTreeWidgetItem* item) const;
    void Walk(QTreeWidgetItem* node, const std::string& target);
    void SelectNode(QTreeWidgetItem* item);
    void ReRead(QTreeWidgetItem* item);
    void ExpandNode(QTreeWidgetItem* item);
    void OnSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void SetOpenIcon(QTreeWidgetItem* item, bool open);
    QTreeWidgetItem* ComputerNode() const;

    CTreeDropTarget m_dropTarget;
    CWin7Library* m_pLibraries = nullptr;
    bool m_bFound = false;
    bool m_bBusy = false;
    int m_bSelectGuard = 0;
    QTimer m_timer;
    std::vector<std::string> m_mounts;  // the removable mounts the tree last showed
    bool m_bRefreshPending = false;
    int m_nRefreshes = 0;
};
