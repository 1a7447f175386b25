#pragma once
// The thumbnail pane towards the user: keys, mouse and rubber band, the
// context menu, the in-place rename, dragging files out and dropping them
// in, the clipboard with its cut list, and the undo records of deletes.
// One per browser, on the user-interface thread; it works on the browser's
// listing, selection and layout, and the browser's view shows the result.

#include <qnamespace.h>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CSelection.h"

class CFolderMonitor;
class CPopupEdit;
class CThumbsBrowser;
class CThumbsBrowserProgress;
class CThumbsLayout;
class CThumbsListing;
class IThumbsView;
class QMenu;
class QMimeData;
class QObject;
class QPainter;
class QWidget;

class CThumbsInteraction {
public:
    explicit CThumbsInteraction(CThumbsBrowser& browser);
    ~CThumbsInteraction();
    CThumbsInteraction(const CThumbsInteraction&) = delete;
    CThumbsInteraction& operator=(const CThumbsInteraction&) = delete;

    // Before the browser goes: the timer stops and an open editor ends
    // without renaming.
    void Shutdown();

    bool OnKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void OnLButtonDown(QPoint point, Qt::KeyboardModifiers modifiers);
    void OnMouseMove(QPoint point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    void OnLButtonUp(QPoint point, Qt::KeyboardModifiers modifiers);
    void OnLButtonDblClk(QPoint point);
    void OnRButtonDown(QPoint point, QPoint globalPos);
    std::unique_ptr<QMenu> CreateContextMenu(QWidget* parent);
    void OnTimer(int id);
    bool IsTimerRunning() const { return m_timerId != 0; }
    QRect BandRect() const;
    void SelectItem(int index);

    CPopupEdit* BeginRename(int index);
    CPopupEdit* PopupEdit() const;
    bool RenameFile(const std::string& path, const std::string& newTitle);

    void StartDrag();
    bool IsOwnDragRunning() const { return m_bOwnDrag; }
    void SetOwnDrag(bool on) { m_bOwnDrag = on; }
    Qt::DropAction DragEnter(const QMimeData* data);
    Qt::DropAction DragOver(const QMimeData* data, QPoint point, Qt::KeyboardModifiers modifiers);
    void DragLeave();
    bool Drop(const QMimeData* data, Qt::DropAction action, QPoint point);
    int DropIndex() const { return m_dropIndex; }

    void CopySelection(bool cut);
    bool Paste();
    void UpdateCutList();
    std::vector<std::string> CutList() const;
    bool IsCut(const std::string& path) const;

    void RecordUndo(int kind);
    void DropLastUndo();
    void ForgetUndo();
    int UndoDepth() const { return m_undoDepth; }
    int UndoKind(int level) const { return m_undoKinds[level == 0 ? 0 : 1]; }
    std::string UndoFolder(int level) const;

    CThumbsBrowserProgress& Progress() { return *m_pProgress; }

private:
    // The browser's parts and services the handlers use, under the names the
    // browser gives them.
    std::vector<std::string> Paths() const;
    int ItemCount() const;
    void GetSelectedFiles(std::vector<std::string>& files) const;
    void GetSelectionRange(int& first, int& last) const;
    bool IsSelected(int index) const;
    void DeselectAll();
    void DeselectAllExcept(int index);
    void SetSelected(int index, bool selected);
    void SelectAll();
    QSize ViewClient() const;
    QPoint ViewScroll() const;
    QSize GetItemCellSize() const;
    std::string CurrentFolder() const;
    void ReadFolder();
    void LockItems();
    void UnlockItems();
    void PauseWorker();
    void ResumeWorker();
    void UpdateStatus();
    void DeleteFiles(bool forgetUndo);
    void OnFileRenamed(const std::string& oldPath, const std::string& newPath);
    void ItemsChanged(bool resorted = false);
    std::string TempPath(const char* name) const;
    static QMimeData* CreateFilesData(const std::vector<std::string>& files, bool cut = false);
    static std::vector<std::string> FilesFromData(const QMimeData* data);
    static bool IsCutData(const QMimeData* data);
    static bool ClipboardHasFiles();

    void RepaintItems(const std::vector<int>& indices);
    void SelectionChanged();
    void SelectRangeTo(int index);
    void KillTimer();
    void StartTimer();
    void ReorderOwnItems(const std::vector<std::string>& dropped, int before);
    // One step of the gap opening at the drop index; ResetDropGap closes it.
    void StepDropGap(int index);
    void ResetDropGap();
    void RenameItem(const std::string& oldPath, const std::string& newPath);

    CThumbsBrowser& m_browser;
    CThumbsListing& m_listing;
    CSelection<std::string>& m_selection;
    CThumbsLayout& m_layout;
    IThumbsView*& m_pView;
    const std::unique_ptr<CFolderMonitor>& m_pMonitor;
    std::function<void(const std::vector<std::string>&)>& onDoubleClick;
    std::function<void()>& onSelectionChanged;

    int m_gapAmplitude = 0;
    // The cells of the drop row make way for a drag of the pane's own items.
    bool m_bDropGapAnimation = true;
    QPoint m_bandAnchor;  // content coordinates
    QPoint m_bandPoint;   // client coordinates
    bool m_bBand = false;
    bool m_bPressed = false;
    int m_pressedIndex = -1;
    QPoint m_pressPoint;
    Qt::KeyboardModifiers m_pressModifiers;
    QPoint m_lastDragPoint{-1000, -1000};
    int m_dropIndex = -1;
    int m_dropRow = -1;
    bool m_bOwnDrag = false;
    bool m_bOwnDragOver = false;
    int m_timerId = 0;
    QObject* m_timerHost = nullptr;
    int m_undoDepth = 0;
    int m_undoKinds[2] = {0, 0};
    std::vector<std::string> m_undoPaths;
    std::unique_ptr<CThumbsBrowserProgress> m_pProgress;
    QPointer<QObject> m_popupEdit;
    std::vector<std::string> m_cutList;
    uint32_t m_cpuSpeed = 0;
};
