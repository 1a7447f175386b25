#pragma once
// The one main window: the task bar with the tabs and the zoom bar, the
// standard toolbar, the seven-pane status bar, the docking bars (folders,
// photo strip, stitch page, export page) and the main view; it switches
// between the three tasks and keeps the bars' layout between runs.

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "COvHorizelDoc.h"
#include "CommandRouter.h"
#include "DialogCallback.h"
#include "MyToolBar.h"
#include "NewFrame.h"
#include "SizingControlBar.h"
#include "ToolDlgParent.h"
#include "Workflow.h"

class CCustomDialogBar;
class CDlgStitching;
class CDocumentDialogs;
class CDocumentCommands;
class CDlgSaving;
class CFrameEngineCallbacks;
class CNetPrintUploadHost;
namespace NetPrint {
class IUploadHost;
}
class CEditVideoStoryboard;
class CMountWatcher;
class CShellChangeWatcher;
class QUrl;
class CProjectCommands;
class COvHorizelView;
class CBaseDialog;
class CQtPrinterBackend;
class CViewPrinting;
namespace PrintSetup {
class CPrinterServices;
}
class CAppBrowserHost;
class CShellTree;

// A docked task bar hosting one task page in a scrolling parent; its floating
// frame cannot be resized.
class CDocDialogBar : public CSizingControlBarCF {
    Q_OBJECT
public:
    CDocDialogBar(const QString& title, int id, QWidget* parent = nullptr);
    bool IsFloatResizable() const override { return false; }
    void SetPage(QWidget* page);
    QWidget* Page() const { return parent_->Dialog(); }
    CToolDlgParent* ScrollParent() const { return parent_; }
    // The page's width + 8.
    int GetPageWidth() const;
    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitPageWidth();
    CToolDlgParent* parent_;
};

class CStitchDialogBar : public CDocDialogBar {
    Q_OBJECT
public:
    explicit CStitchDialogBar(const QString& title, QWidget* parent = nullptr);
    static constexpr int kId = 1002;
    CDlgStitching* StitchPage() const { return page_; }
    // Hands the document to the page and its option pages.
    void SetDocument(IDialogCallback::IStitchingOptions* document);

private:
    CDlgStitching* page_;
};

class CSaveDialogBar : public CDocDialogBar {
    Q_OBJECT
public:
    explicit CSaveDialogBar(const QString& title, QWidget* parent = nullptr)
        : CDocDialogBar(title, kId, parent) {}
    static constexpr int kId = 1003;
};

class CMainFrame : public MenuEx::CNewFrameWnd,
                   public ICommandTarget,
                   public IDialogCallback::IUpdate,
                   private CWorkflow::ITaskWindows {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    static constexpr int kMinWidth = 800;
    static constexpr int kMinHeight = 740;
    static constexpr int kPhotoStripId = 1004;
    static constexpr int kStatusPanes = 7;

    // Switches to task 1, 2 or 3 (other numbers are ignored).
    void SetTask(int task);
    void SetTask(Task task);
    int GetTask() const { return TaskNumber(workflow_.CurrentTask()); }
    Task CurrentTask() const { return workflow_.CurrentTask(); }
    CWorkflow& Workflow() { return workflow_; }
    // Sets the status texts t1..t6 (panes 1..6); with `remember` they are
    // kept as the browser's texts, shown again whenever task 1 is entered.
    void SetStatusPanes(const QStringList& texts, bool remember);
    QString PaneText(int pane) const;
    int PaneWidth(int pane) const;

    // Takes image files into the project (the command line's photos).
    void AddFilesToProject(const std::vector<std::string>& files);
    // The project the frame works on, with the windowing pieces it lends it.
    COvHorizelDoc& Document() const { return *doc_; }
    CFrameEngineCallbacks& Callbacks() const { return *callbacks_; }
    CProjectCommands& Commands() const { return *commands_; }
    CEditVideoStoryboard* PhotoStrip() const { return strip_; }
    // The windows the print-service upload uses.
    NetPrint::IUploadHost* UploadHost() const;
    void SetManualMatching(int value) { doc_->SetManualMatchingPreference(value); }
    // The application's printers: the export page, the view's printing and
    // the print commands work on them from now on. Not owned.
    void SetPrintServices(PrintSetup::CPrinterServices* services, CQtPrinterBackend* backend);

    // The document asks for its task pages to be refreshed.
    void RefreshStitchPage() override;
    void RefreshExportPage() override;
    // The picture view took a new image or zoom: the zoom text, the result's
    // description and the zoom bar follow it (tasks 2 and 3).
    void OnZoomDisplayChanged();

    // Saves the bars' layout to the profile ("BARS") and restores it; a
    // damaged or foreign state leaves the default layout.
    void SaveBarState() const;
    bool LoadBarState();

    // Commands.
    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;
    CCommandRouter& Router() { return router_; }
    QAction* Action(int id) const;
    // Runs the enabling of toolbars and tabs (also every 200 ms when idle).
    void OnIdleUpdate();
    // Enables a menu's command items each time it opens.
    void TrackMenu(QMenu* menu);

    // "Check for &Updates...": checks now behind the progress window; says
    // "No updates found!" when there is none (a found one is announced).
    // The check waits on a worker thread; the progress window's Cancel
    // reaches it through the progress reports.
    void OnCheckForUpdates();
    bool IsCheckingForUpdates() const { return updateWaiter_.joinable(); }
    // The update check found an update: the "Updates" dialog (not blocking).
    void OnAutoUpdate();

    // Help and the system's notices (MainFrameNotify.cpp).
    enum { HELP_CONTEXT = 1, HELP_CONTEXTPOPUP = 8, HELP_FINDER = 11 };
    enum {
        SHCNE_MKDIR = 8,
        SHCNE_RMDIR = 16,
        SHCNE_MEDIAINSERTED = 32,
        SHCNE_MEDIAREMOVED = 64,
        SHCNE_DRIVEREMOVED = 128,
        SHCNE_DRIVEADD = 256,
        SHCNE_RENAMEFOLDER = 0x20000,
    };
    // The help page (HELP_FINDER, HELP_CONTEXT at a topic) or a string as a
    // pop-up at the cursor (HELP_CONTEXTPOPUP); false when nothing was shown.
    bool WinHelp(unsigned data, int command);
    // The help page installed in the Res folder.
    static QString HelpPagePath();
    // Opens the help page; the desktop's browser unless a test sets it.
    std::function<bool(const QUrl&)> openHelp;
    // Removable media were mounted: with "AUTOLAUNCH" on, a camera folder
    // (DCIM/NNNxxxxx) on them opens in the browser. True when one opened.
    bool OnDeviceArrival(const std::vector<std::string>& mounts);
    // A folder was made, removed or renamed, or media came or went: the folder
    // views re-read. True when the event was one of those.
    bool OnShellChange(int event, const std::string& path1, const std::string& path2);
    CMountWatcher* MountWatcher() const { return mountWatcher_; }
    // The source of folder notices: the tree's expanded folders and the
    // browser's folder, watched again whenever those change.
    CShellChangeWatcher* ShellWatcher() const { return shellWatcher_; }
    void SyncShellWatch();
    // Windows told of media arriving (a CDeviceChangeEvent each), in order;
    // the window's place in the list, appended when new.
    int RegisterNotifyWindow(QWidget* window);

    CCustomDialogBar* TaskBar() const { return taskBar_; }
    CMainToolBar* MainToolBar() const { return mainToolBar_; }
    CMyReBar* ReBar() const { return reBar_; }
    CBrowserTreeBar* FolderBar() const { return folderBar_; }
    CShellTree* FolderTree() const { return folderTree_; }
    // The photo browser's requests: commands its threads posted (BeginReadFolder and
    // ReadAgain re-read its folder), a location it opened (the tree and the
    // visited-folders strip follow unless they sent it), and the windows
    // showing folders disabled around a file operation.
    void OnBrowserCommand(int command);
    void OnBrowserLocationOpened(const std::string& location, const void* sender);
    void EnableBrowserWindows(bool enable);
    // The folder tree re-reads through its bar (nothing while it is hidden).
    void RefreshFolderTree();
    CSizingControlBar* PhotoStripBar() const { return stripBar_; }
    CStitchDialogBar* StitchBar() const { return stitchBar_; }
    CSaveDialogBar* SaveBar() const { return saveBar_; }
    CDlgSaving* SavePage() const { return savePage_; }
    COvHorizelView* View() const { return view_; }

    // Keeps the docked sizing bars of the left side in one column with the
    // folder bar first.
    void RecalcLayout();
    // Gives the docked bars the sizes they keep for their side.
    void ApplyBarSizes();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // The window's minimum, no larger than its screen's work area.
    void FitMinimumToScreen();
    void OnCreate();
    void CreateActions();
    // The menu bar from the menu resource, with the toolbar icons.
    void CreateMenuBar();
    void CreateStatusBar();
    void CreateBars();
    void ShowBars(bool strip, bool folders, bool stitch, bool save);
    void AddSelectedPhotos();
    void ConnectDocument();
    void AttachDocumentWindows();
    // A task switch's window steps, as the workflow runs them.
    CWorkflow::ProjectState SwitchProject() const override;
    void AddBrowserSelection() override;
    void StitchWithPageOptions() override;
    void ShowTaskWindows(Task task) override;
    std::string BrowserFolder() const override;
    void OpenBrowserFolder(const std::string& folder) override;
    void ArrangeTaskWindows(Task task) override;
    void RefreshTaskPage(Task task) override;
    void FocusBar(QWidget* bar);
    void ShowImageInfo();
    void OnZoom(int value, int code);
    void StartMountWatcher();
    void StartShellWatcher();

    // The task shown and the build's state.
    CWorkflow workflow_;
    // The document has this frame's windows (from the first task on).
    bool documentAttached_ = false;
    bool folderBarDocked_ = false;
    bool screenWatched_ = false;
    // The document goes before the callbacks it holds pointers to.
    std::unique_ptr<CDocumentDialogs> dialogs_;
    // Serves the photo browser while the window exists.
    std::unique_ptr<CAppBrowserHost> browserHost_;
    std::unique_ptr<CFrameEngineCallbacks> callbacks_;
    std::unique_ptr<CNetPrintUploadHost> uploadHost_;
    std::unique_ptr<COvHorizelDoc> doc_;
    std::unique_ptr<CProjectCommands> commands_;
    std::unique_ptr<CDocumentCommands> docCommands_;
    std::thread updateWaiter_;
    void EndUpdateCheck(bool found, bool cancelled);
    std::unique_ptr<CViewPrinting> printing_;
    PrintSetup::CPrinterServices* printServices_ = nullptr;
    CCommandRouter router_;
    std::map<int, QAction*> actions_;
    QTimer idleTimer_;

    CMyReBar* reBar_ = nullptr;
    CCustomDialogBar* taskBar_ = nullptr;
    CMainToolBar* mainToolBar_ = nullptr;
    QLabel* panes_[kStatusPanes] = {};
    QStringList browseTexts_;
    CBrowserTreeBar* folderBar_ = nullptr;
    CShellTree* folderTree_ = nullptr;
    CSizingControlBar* stripBar_ = nullptr;
    CEditVideoStoryboard* strip_ = nullptr;
    CStitchDialogBar* stitchBar_ = nullptr;
    CSaveDialogBar* saveBar_ = nullptr;
    CDlgSaving* savePage_ = nullptr;
    COvHorizelView* view_ = nullptr;
    CMountWatcher* mountWatcher_ = nullptr;
    CShellChangeWatcher* shellWatcher_ = nullptr;
    std::vector<QPointer<QWidget>> notifyWindows_;
};
