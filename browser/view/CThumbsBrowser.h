#pragma once
// The thumbnail pane's browser: the face its view, the application and the
// file list use. Behind it, one owner each: the listing (CThumbsListing:
// the location, its files and their order), the selection (a CSelection of
// paths), the layout and hit tests (CThumbsLayout) and the painting
// (CThumbsPainter); the browser ties them to the thumbnail builder, the
// cache and the folder monitor, and handles the user's keys, mouse, drags,
// clipboard, rename and undo. A view (IThumbsView) shows it;
// CImgThumbsBrowser adds the picture loader.

#include <QEvent>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CWorkerGate.h"
#include "CFile.h"
#include "CPaletteItem.h"
#include "CSelection.h"
#include "CThumbsBuilderThreads.h"
#include "CThumbsInteraction.h"
#include "CThumbsLayout.h"
#include "CThumbsListing.h"
#include "CThumbsPainter.h"

class CFolderMonitor;
class CPopupEdit;
class CThumbsBrowserProgress;
class QMenu;
class QMimeData;
class QWidget;
class QImage;
class QObject;
class QPainter;

// What the model asks of the window that shows it.
class IThumbsView {
public:
    virtual ~IThumbsView() = default;
    // Receives CThumbReadyEvent, posted from the builder's threads.
    virtual QObject* EventTarget() = 0;
    virtual void UpdateScrollSizes() = 0;
    virtual void Invalidate() = 0;
    virtual QSize ClientSize() const = 0;
    virtual QPoint ScrollPosition() const = 0;
    // The widget the browser places its in-place editor and drags on.
    virtual QWidget* Widget() { return nullptr; }
    // Scrolls the content to pos (EnsureVisible, auto-scroll of a band).
    virtual void ScrollTo(QPoint /*pos*/) {}
    // Repaints a part of the client area.
    virtual void InvalidateRect(const QRect& /*rect*/) { Invalidate(); }
};

// A thumbnail of the browser's folder is ready; the view repaints.
class CThumbReadyEvent : public QEvent {
public:
    static QEvent::Type EventType();
    CThumbReadyEvent(const void* browser, std::string path)
        : QEvent(EventType()), m_browser(browser), m_path(std::move(path)) {}
    const void* m_browser;
    std::string m_path;  // the file whose thumbnail is ready; empty after a whole pass
};

// Guards the browsers' requested and loaded picture.
extern std::mutex g_csPictureLoad;
// Serialises folder reads; the outermost browser lock.
extern std::recursive_mutex g_csFolderRead;
// Nested item locks of all browsers.
extern std::atomic<int> g_nItemsLockDepth;
// Reads running.
extern std::atomic<int> g_nFolderReadDepth;
// While set, a rescan waits for the items to be free before each file.
extern std::atomic<int> g_bWorkerGate;

class CThumbsBrowser : public IThumbUpdate {
public:
    using Location = CThumbsListing::Location;

    explicit CThumbsBrowser(CThumbsBuilderThreads& builder = g_ThumbsBuilderThreads);
    ~CThumbsBrowser() override;
    CThumbsBrowser(const CThumbsBrowser&) = delete;
    CThumbsBrowser& operator=(const CThumbsBrowser&) = delete;

    // Item metrics and the cache, shared with CImgThumbsBrowser.
    virtual bool IsDetailsView() const;
    virtual QSize GetItemCellSize() const;
    virtual int GetListRowWidth() const;
    // The list row's width: the view's client width in the list view.
    void SetListRowWidth(int width) { m_layout.SetRowWidth(width); }
    virtual QRect GetRowCaptionRect(const QRect& row) const;
    virtual bool LookupItem(const std::string& path, ThumbItemPtr& item);
    virtual std::shared_ptr<CPaletteItem> CreateItem() { return NewItem(); }
    virtual void CancelImageRead() {}
    virtual void OnFileRenamed(const std::string& /*oldPath*/, const std::string& /*newPath*/) {}
    // Each path is renamed into folder (a '/' added unless it ends in one).
    void OnFilesMoved(const std::vector<std::string>& paths, const std::string& folder);
    // The six status texts go to the host; then the current picture is requested.
    virtual void UpdateStatus();
    virtual std::shared_ptr<CPaletteItem> NewItem();
    virtual void ClearCurrentFile() {}
    virtual void DeleteFiles(bool /*forgetUndo*/) {}
    virtual void ShowCurrentFileInfo() {}

    // Folder reading. ReadFolder lists the current folder; Refresh also has
    // the builder remake cached items without a thumbnail; OpenFolder takes
    // "<kind>,<text>": '0' a folder, '9' a library ("name;icon;folder;folder...").
    void ReadFolder();
    void Refresh();
    void OpenFolder(const std::string& location);
    // Has the current location listed on a worker thread (the directory, the
    // file status calls and the sort), so that a big folder that changes does
    // not hold the user-interface thread; the finished list replaces the items
    // from this thread's event loop, unless a read made meanwhile is newer.
    // Requests made while a listing runs are merged into one more after it.
    void RequestReadFolder(bool rebuild = false);
    // Listings RequestReadFolder started so far (a burst of changes makes one).
    int ListingsStarted() const { return m_listingsStarted; }
    // A requested listing is running or waits to run.
    bool IsListingPending() const { return m_bListing || m_bListingAgain; }
    // After every change of the item list as a whole (a folder read, a sort,
    // a rename): the details list shows the items again, in their order;
    // resorted says the browser's own order changed.
    std::function<void(bool resorted)> onItemsChanged;
    // The watched folder changed (the monitor's re-read): every listed file's
    // thumbnail is brought up to date here, on the calling thread.
    virtual void RescanFolder(bool rebuild);

    void SetSortMode(int mode);
    int SortMode() const { return m_listing.SortMode(); }
    // Every order reversed (the next sort or listing takes it).
    void SetSortDescending(bool descending) { m_listing.SetDescending(descending); }
    bool SortDescending() const { return m_listing.Descending(); }

    void LockItems();
    void UnlockItems();
    // Pauses a running rescan and lets it go on.
    void CancelWork();

    // Layout, in client coordinates of a view client width wide (content
    // coordinates where a scroll position is not given).
    int GetColumns(int clientWidth) const;
    QPoint GetItemPosition(int index, int clientWidth) const;
    QRect GetItemRect(int index, int clientWidth) const;
    QRect GetCaptionRect(int index, int clientWidth) const;
    QRect GetRowRect(int row, int clientWidth, QPoint scroll) const;
    int HitTest(QPoint point, int clientWidth, QPoint scroll) const;
    std::string GetPathAt(QPoint point, int clientWidth, QPoint scroll) const;
    // The scroll position that shows the item whole.
    QPoint EnsureVisible(int index, QSize client, QPoint scroll) const;
    // Content size for the scroll bars.
    QSize ContentSize(int clientWidth) const;

    // Draws the visible cells (the details header first in the list view).
    void DrawPane(QPainter& painter, QSize client, QPoint scroll);
    virtual void DrawItem(QPainter& painter, int index, int clientWidth, QPoint scroll);
    void DrawDetailsHeader(QPainter& painter, int clientWidth);

    // Selection.
    void GetSelectedFiles(std::vector<std::string>& files) const;
    void GetSelectionRange(int& first, int& last) const;
    void DeselectAll();
    void DeselectAllExcept(int index);
    void SelectAll();
    void SetSelected(int index, bool selected);
    bool IsSelected(int index) const;
    bool IsSelected(const std::string& path) const { return m_selection.IsSelected(path); }
    // The selected paths, told after each change.
    CSelection<std::string>& Selection() { return m_selection; }

    void OnThumbReady(const std::string& path, int value) override;

    // Drops this browser's hold on the thumbnail cache (once); the last
    // hold writes the cache to disk and empties it.
    void ReleaseThumbCache();
    // Creates and starts the folder monitor once.
    void StartFolderMonitor();
    CFolderMonitor* FolderMonitor() const { return m_pMonitor.get(); }
    // Ends the monitor's thread (it calls into this browser).
    void StopFolderMonitor();
    // Waits for a running listing (it calls into this browser) and drops
    // the list it posts.
    void StopListing();

    void SetView(IThumbsView* view);
    IThumbsView* View() const { return m_pView; }

    std::string CurrentFolder() const;
    void SetCurrentFolder(const std::string& folder);
    Location LocationKind() const { return m_listing.Kind(); }

    // The listed files, in order; copies, safe on any thread.
    std::vector<CItem> Items() const;
    std::vector<std::string> Paths() const;
    int ItemCount() const;
    bool ManyFiles() const { return m_listing.ManyFiles(); }
    double TotalSize() const { return m_listing.TotalSize(); }
    const CThumbsListing& Listing() const { return m_listing; }
    const CThumbsLayout& Layout() const { return m_layout; }

    // The six status texts: count, size, and for the first selected file its
    // size, date, name and picture size.
    std::vector<std::string> StatusTexts();

    // The picture of the current file, loaded on the loader's thread.
    std::shared_ptr<QImage> LoadedPicture() const;
    std::string RequestedPicture() const;
    std::string LoadedPicturePath() const;
    // Asks for path's picture unless it is loaded and requested unchanged.
    void RequestPicture(const std::string& path);

    // Sizes as the status pane writes them: KB, MB from 1000 KB, GB from 1000 MB.
    static std::string SizeText(double bytes);
    // Drops cached entries of vanished files and old ones (30 days; 10 days
    // when more than 1800 remain), as of now.
    static void AgeThumbCache(std::time_t now);
    // The order of two items in a sort mode, the browser's descending flag
    // applied (<0, 0, >0); times and sizes must have been read (ReadItemInfo).
    static int CompareItems(int mode, const CItem& a, const CItem& b, CThumbsBrowser* browser);
    static void ReadItemInfo(CItem& item);

    // ---- interaction (CThumbsInteraction) ----
    // Keys, mouse and timer as the view forwards them, in client coordinates
    // of the view (IThumbsView gives its size and scroll position).
    // True when the key was the browser's (navigation, Delete, Ctrl+C/X/V).
    bool OnKeyDown(int key, Qt::KeyboardModifiers modifiers);
    virtual void OnLButtonDown(QPoint point, Qt::KeyboardModifiers modifiers);
    virtual void OnMouseMove(QPoint point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    virtual void OnLButtonUp(QPoint point, Qt::KeyboardModifiers modifiers);
    virtual void OnLButtonDblClk(QPoint point);
    // Selects the item under point when it is not selected, then shows the
    // context menu at globalPos.
    void OnRButtonDown(QPoint point, QPoint globalPos);
    // The context menu for the current selection: Paste enabled only when the
    // clipboard holds files. Its commands run on this browser.
    std::unique_ptr<QMenu> CreateContextMenu(QWidget* parent);
    // Every 50 ms while a button is held: auto-scrolls a band near the edges.
    void OnTimer(int id);
    bool IsTimerRunning() const { return m_interaction.IsTimerRunning(); }
    // The rubber band in client coordinates; empty when none is drawn.
    QRect BandRect() const;
    void DrawBand(QPainter& painter) const;
    // Selects one item, scrolls it into view and tells the status panes.
    void SelectItem(int index);
    // The double-clicked files; the application may act on them.
    std::function<void(const std::vector<std::string>&)> onDoubleClick;
    // Every selection change: the file list follows.
    std::function<void()> onSelectionChanged;

    // In-place rename of the caption of item index (the one selected item).
    CPopupEdit* BeginRename(int index);
    CPopupEdit* PopupEdit() const;
    // Renames path to newTitle (no folder, no extension: the extension is
    // kept) and keeps the items and the thumbnail cache in step. False, with
    // nothing changed, when the name holds '/', is empty, or the file system
    // refuses. The same name in other case renames nothing (true).
    bool RenameFile(const std::string& path, const std::string& newTitle);

    // Dragging out: the selected files as the data of a drag (text/uri-list).
    static QMimeData* CreateFilesData(const std::vector<std::string>& files, bool cut = false);
    // The local files a data object names; paths that do not exist are skipped.
    static std::vector<std::string> FilesFromData(const QMimeData* data);
    // True when the data marks its files as cut (the desktops' cut markers).
    static bool IsCutData(const QMimeData* data);
    // Runs the drag of the selection from the view's widget.
    virtual void StartDrag();
    bool IsOwnDragRunning() const { return m_interaction.IsOwnDragRunning(); }

    // Dropping in. DragEnter/DragOver answer the action a drop would take
    // (Qt::IgnoreAction refuses it).
    virtual Qt::DropAction DragEnter(const QMimeData* data);
    virtual Qt::DropAction DragOver(const QMimeData* data, QPoint point, Qt::KeyboardModifiers modifiers);
    virtual void DragLeave();
    // Own items are reordered before the item at point; files from elsewhere
    // are copied or moved (action) into the current folder.
    virtual bool Drop(const QMimeData* data, Qt::DropAction action, QPoint point);
    int DropIndex() const { return m_interaction.DropIndex(); }

    // Clipboard: the selection copied or cut, and pasted into the folder.
    void CopySelection(bool cut);
    // False when the clipboard names no files (nothing happens then).
    bool Paste();
    static bool ClipboardHasFiles();
    // Drops cut entries the clipboard no longer names (run before each read).
    void UpdateCutList();
    std::vector<std::string> CutList() const;
    bool IsCut(const std::string& path) const;

    // Undo records of deletes: at most two, newest first.
    void RecordUndo(int kind);
    void DropLastUndo();
    void ForgetUndo();
    int UndoDepth() const { return m_interaction.UndoDepth(); }
    int UndoKind(int level) const { return m_interaction.UndoKind(level); }
    std::string UndoFolder(int level) const;

    CThumbsBrowserProgress& Progress() { return m_interaction.Progress(); }

    // The view's geometry.
    QSize ViewClient() const;
    QPoint ViewScroll() const;

protected:
    // Marks a drag of this browser's own items as running (StartDrag does).
    void SetOwnDrag(bool on) { m_interaction.SetOwnDrag(on); }

    // Picture state, under g_csPictureLoad.
    std::string m_requestedPicture;
    std::string m_loadedPicture;
    int m_rotateFlip = 0;
    std::shared_ptr<QImage> m_picture;
    CFileStatus m_pictureStatus;

    CThumbsBuilderThreads& m_builder;

private:
    using Listed = CThumbsListing::Listing;
    CThumbsListing::ThumbLookup Lookup();
    // Replaces the items by a finished listing, keeping the selection of the
    // files still there; the view, the builder, the status and the list follow.
    void TakeListing(Listed listing, bool rebuild, bool hasFolder);
    void StartListing(bool rebuild);
    void OnListingDone(uint64_t generation, Listed listing, bool rebuild, bool hasFolder);
    void ReadLocation(bool rebuild);
    void ItemsChanged(bool resorted = false);
    void PauseWorker();
    void ResumeWorker();
    std::string TempPath(const char* name) const;

    CThumbsListing m_listing;
    CSelection<std::string> m_selection;
    CThumbsLayout m_layout{*this};
    CThumbsPainter m_painter{*this, m_builder};

    std::mutex m_viewLock;
    IThumbsView* m_pView = nullptr;
    QObject* m_viewTarget = nullptr;

    CWorkerGate m_workerGate;

    std::unique_ptr<CFolderMonitor> m_pMonitor;

    // Listings off the user-interface thread (their state is that thread's).
    std::thread m_listingThread;
    uint64_t m_listingGeneration = 0;
    bool m_bListing = false;
    bool m_bListingAgain = false;
    bool m_bAgainRebuild = false;
    int m_listingsStarted = 0;
    // Cleared at destruction: a finished listing posted meanwhile is dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    bool m_bHoldsCache = false;
    std::string m_tempRoot;

    // Its handlers use the browser's parts and services.
    friend class CThumbsInteraction;
    CThumbsInteraction m_interaction{*this};
};
