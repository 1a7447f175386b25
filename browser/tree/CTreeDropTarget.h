#pragma once
// Files dropped on a folder of the folder tree: the folder under the pointer
// is highlighted, the pointer shows copy or move (same file system: move,
// another: copy; Ctrl forces copy, Shift forces move), and the drop copies or
// moves the files there. A name already taken in the folder gives the new
// file a free name ("name (2).jpg"); nothing is ever overwritten.

#include <QBrush>
#include <QPoint>
#include <QVariant>
#include <Qt>

#include <string>
#include <vector>

class CShellTree;
class QMimeData;
class QTreeWidgetItem;
class QWidget;

class CTreeDropTarget {
public:
    CTreeDropTarget() = default;
    virtual ~CTreeDropTarget() = default;

    void SetTree(CShellTree* tree) { m_pTree = tree; }

    // The effect a drop here would have; Qt::IgnoreAction for none.
    Qt::DropAction OnDragOver(QWidget* window, const QMimeData* data, Qt::KeyboardModifiers keys,
                              QPoint point);
    // Copies or moves the dropped files into the folder under point.
    bool OnDrop(QWidget* window, const QMimeData* data, Qt::DropAction effect, QPoint point);
    void OnDragLeave(QWidget* window);

    // Both paths lie on one file system (their nearest existing folders
    // share a device); two empty paths count as the same.
    static bool IsSameDrive(const std::string& a, const std::string& b);
    // The local files of a drop, in order.
    static std::vector<std::string> DroppedFiles(const QMimeData* data);

    QTreeWidgetItem* Highlighted() const { return m_hHighlighted; }

private:
    void RestoreHighlight();
    void Highlight(QTreeWidgetItem* item);

    CShellTree* m_pTree = nullptr;
    QTreeWidgetItem* m_hHighlighted = nullptr;
    QVariant m_nSavedState;
};
