#include "MainFrame.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include "AppBrowserHost.h"
#include "AppSettings.h"
#include "BaseDialog.h"
#include "BrowserGlobals.h"
#include "BrowserLocations.h"
#include "CDlgSaving.h"
#include "CEditVideoStoryboard.h"
#include "CImgThumbsBrowser.h"
#include "CJFIFDlg.h"
#include "CShellTree.h"
#include "CThumbsView.h"
#include "CThumbsWnd.h"
#include "CUpdateDlg.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "DialogText.h"
#include "DlgStitching.h"
#include "DocumentCommands.h"
#include "DocumentDialogs.h"
#include "FrameEngineCallbacks.h"
#include "NetPrintUploadHost.h"
#include "OnlineText.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"
#include "Profile.h"
#include "ProjectCommands.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"
#include "UiServices.h"
#include "ViewPrinting.h"

namespace {

using DialogText::Str;

constexpr int kStatusWidths[CMainFrame::kStatusPanes] = {120, 100, 200, 100, 120, 120, 120};
constexpr const char* kBarsKey = "State";
constexpr int kStripHeight = 196;  // a cell, its caption band and the scroll bar

QString HexOf(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

}  // namespace

CDocDialogBar::CDocDialogBar(const QString& title, int id, QWidget* parent)
    : CSizingControlBarCF(title, id, parent) {
    parent_ = new CToolDlgParent(this);
    setWidget(parent_);
    ShowCloseButton(false);
    ShowCaption(false);
    setFeatures(QDockWidget::DockWidgetMovable);
}

void CDocDialogBar::SetPage(QWidget* page) {
    parent_->SetDialog(page);
    FitPageWidth();
    // A page that grows (a longer list entry, a button shown) widens the bar.
    if (page)
        page->installEventFilter(this);
}

void CDocDialogBar::FitPageWidth() {
    const int width = GetPageWidth();
    SetMinSizes(QSize(width, 30), QSize(width, 30), QSize(width, 30));
    setMinimumWidth(width);
}

bool CDocDialogBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Page() && event->type() == QEvent::Resize)
        FitPageWidth();
    return CSizingControlBarCF::eventFilter(watched, event);
}

int CDocDialogBar::GetPageWidth() const {
    return (Page() ? Page()->width() : 0) + 8;
}

QSize CDocDialogBar::sizeHint() const {
    return QSize(GetPageWidth(), CSizingControlBarCF::sizeHint().height());
}

CStitchDialogBar::CStitchDialogBar(const QString& title, QWidget* parent)
    : CDocDialogBar(title, kId, parent), page_(new CDlgStitching) {
    SetPage(page_);
    setWindowTitle(page_->Title());
    const int height = page_->height() + 20;
    Sizes().horz.cy = Sizes().vert.cy = Sizes().floating.cy = height;
}

void CStitchDialogBar::SetDocument(IDialogCallback::IStitchingOptions* document) {
    page_->SetDocument(document);
}

CMainFrame::CMainFrame(QWidget* parent)
    : MenuEx::CNewFrameWnd(parent),
      dialogs_(std::make_unique<CDocumentDialogs>(this)),
      callbacks_(std::make_unique<CFrameEngineCallbacks>(this)),
      uploadHost_(std::make_unique<CNetPrintUploadHost>(this, callbacks_.get())),
      doc_(std::make_unique<COvHorizelDoc>()),
      commands_(std::make_unique<CProjectCommands>(this, *doc_)),
      docCommands_(std::make_unique<CDocumentCommands>(this, *doc_)) {
    setWindowTitle(Str(128).section('\n', 0, 0));
    FitMinimumToScreen();
    setAcceptDrops(true);
    OnCreate();
}

void CMainFrame::SetPrintServices(PrintSetup::CPrinterServices* services, CQtPrinterBackend* backend) {
    printServices_ = services;
    printing_.reset();
    view_->SetPrinting(nullptr);
    savePage_->SetPrintInterface(services);
    savePage_->SetPrinterLister(services ? &services->Printing() : nullptr);
    if (!services)
        return;
    services->SetDocument(doc_.get());
    services->onPageRangeReset = [this] { savePage_->RefreshPageRange(); };
    services->onPrinterSetupChanged = [this] { RefreshExportPage(); };
    services->waitCursor = [](bool on) {
        if (on)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    };
    printing_ = std::make_unique<CViewPrinting>(doc_.get(), services, backend);
    view_->SetPrinting(printing_.get());
}

CMainFrame::~CMainFrame() {
    idleTimer_.stop();
    // The tree keeps its folder for the next start; the browser ends while
    // this window still serves it.
    folderTree_->SaveSelection();
    view_->DestroyBrowser();
    browserHost_.reset();
    if (printServices_) {
        printServices_->SetDocument(nullptr);
        printServices_->onPageRangeReset = nullptr;
        printServices_->onPrinterSetupChanged = nullptr;
        printServices_->waitCursor = nullptr;
    }
    view_->SetPrinting(nullptr);
    GetUpdateCheck().SetReceiver(nullptr);
    doc_->SetUploadHost(nullptr);
    // The windows that hold the document go first, then the document with
    // its engines, while the callbacks they report to still exist.
    view_->PictureView()->SetImage(nullptr, false);
    doc_->SetCropView(nullptr);
    doc_->SetUpdateCallback(nullptr);
    callbacks_->SetPhotoMarker(nullptr);
    commands_->SetStrip(nullptr);
    delete strip_;
    strip_ = nullptr;
    commands_.reset();
    router_.SetTarget(CCommandRouter::Document, nullptr);
    doc_->SetSaveHost(nullptr);
    savePage_->SetExportInterface(nullptr);
    savePage_->SetProductInterface(nullptr);
    docCommands_.reset();
    // A run still under way gets no more answers and ends at its next report.
    callbacks_->Abandon();
    if (updateWaiter_.joinable())
        updateWaiter_.join();
    doc_.reset();
    callbacks_->SetDocument(nullptr);
    // The page outlives the workflow and keeps the model for the profile.
    stitchBar_->StitchPage()->SetWorkflow(nullptr);
}

void CMainFrame::FitMinimumToScreen() {
    // 800 x 740 unless the screen's work area is smaller (a laptop screen
    // at 150 %): the whole window, title bar included, stays on the screen.
    QSize minimum(kMinWidth, kMinHeight);
    if (const QScreen* screen = this->screen()) {
        QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        // Until the window manager has framed the window, a title bar of
        // at least the style's height is reckoned with.
        if (frame.isNull()) {
            frame = QMargins(0, std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), 32), 0, 0);
        }
        // Side borders are left out: a maximised window loses them.
        minimum = minimum.boundedTo(
            screen->availableGeometry().size().shrunkBy(QMargins(0, frame.top(), 0, frame.bottom())));
    }
    if (minimum == minimumSize())
        return;
    setMinimumSize(minimum);
    // Maximised while the old minimum held it larger than the work area:
    // maximised again, now that it fits.
    if (isMaximized() && screen() && !screen()->availableGeometry().contains(frameGeometry()))
        QTimer::singleShot(0, this, [this] {
            if (isMaximized()) {
                showNormal();
                showMaximized();
            }
        });
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (windowHandle() && !screenWatched_) {
        screenWatched_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { FitMinimumToScreen(); });
    }
    FitMinimumToScreen();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // The window manager's frame is known once the window has been placed.
    FitMinimumToScreen();
}

void CMainFrame::OnCreate() {
    setDockOptions(QMainWindow::AnimatedDocks);
    setDockNestingEnabled(false);
    CreateActions();
    CreateMenuBar();

    reBar_ = new CMyReBar(this);
    reBar_->setObjectName(QString::number(0xE804));
    taskBar_ = new CCustomDialogBar(reBar_);
    taskBar_->setMinimumHeight(taskBar_->sizeHint().height());
    taskBar_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    reBar_->addWidget(taskBar_);
    addToolBar(Qt::TopToolBarArea, reBar_);
    connect(taskBar_, &CCustomDialogBar::Command, this, [this](int id) { router_.Execute(id); });
    taskBar_->Zoom()->OnZoom = [this](int value, int code) { OnZoom(value, code); };

    mainToolBar_ = new CMainToolBar(this);
    mainToolBar_->setObjectName(QString::number(0xE807));
    for (int id : {CmdId::FileOpen, CmdId::FilePrint, CmdId::Home})
        mainToolBar_->addAction(Action(id));
    addToolBar(Qt::TopToolBarArea, mainToolBar_);
    mainToolBar_->hide();

    CreateStatusBar();
    browserHost_ = std::make_unique<CAppBrowserHost>(this);
    view_ = new COvHorizelView(doc_.get(), this);
    setCentralWidget(view_);
    connect(view_->Strip(), &CButtonStrip::Command, this, [this](int id) { router_.Execute(id); });
    connect(view_->PictureView(), &CPictViewer::ZoomDisplayChanged, this, &CMainFrame::OnZoomDisplayChanged);
    CreateBars();
    ConnectDocument();

    router_.SetTarget(CCommandRouter::View, view_);
    router_.SetTarget(CCommandRouter::Frame, this);
    LoadBarState();
    // The bars exist: from now on they keep the sizes they negotiate.
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        app->m_bBarsSettled = true;

    StartMountWatcher();
    StartShellWatcher();
    // Toolbars and tabs are enabled when the program is idle.
    idleTimer_.setInterval(200);
    connect(&idleTimer_, &QTimer::timeout, this, &CMainFrame::OnIdleUpdate);
    idleTimer_.start();
}

void CMainFrame::CreateActions() {
    struct Entry {
        int id;
        const char* text;
    };
    static const Entry kEntries[] = {
        {CmdId::TaskAddImages, "1. Add Images"},
        {CmdId::TaskStitch, "2. Stitch"},
        {CmdId::TaskExport, "3. Export"},
        {CmdId::AddSelected, "Add selected images"},
        {CmdId::RemoveSelected, "Remove selected images"},
        {CmdId::FileOpen, "&Add Images..."},
        {CmdId::RemoveAll, "Remove All &Images"},
        {CmdId::Stitch, "&Stitch"},
        {CmdId::Render, "&Render"},
        {CmdId::PhotoInfo, "&Info..."},
        {CmdId::ZoomIn, "Zoom &In"},
        {CmdId::ZoomOut, "Zoom &Out"},
        {CmdId::ZoomActual, "&Actual(1:1)"},
        {CmdId::ZoomFitWindow, "&Fit Window"},
        {CmdId::ZoomFitHeight, "Fit &Height"},
        {CmdId::ZoomFitWidth, "Fit &Width"},
        {CmdId::FileSave, "Save"},
        {CmdId::FileSaveAs, "Export..."},
        {CmdId::FilePrintSetup, "P&rint Setup..."},
        {CmdId::FilePrint, "&Print"},
        {CmdId::FilePrintPreview, "Print Pre&view"},
        {CmdId::AppOptions, "&Options..."},
        {CmdId::Home, "Home"},
        {CmdId::HomePage, "Home &Page"},
        {CmdId::CheckForUpdates, "Check for &Updates..."},
        {CmdId::AppExit, "E&xit"},
        {CmdId::AppAbout, "&About..."},
        {CmdId::HelpTopics, "&Help Topics"},
        {CmdId::SelectAll, "Select A&ll"},
        {CmdId::Info, "&Info..."},
        {CmdId::Refresh, "&Refresh"},
        {CmdId::SortDate, "Sort by &Date"},
        {CmdId::SortName, "Sort by &Name"},
        {CmdId::SortFormat, "Sort by &File Format"},
        {CmdId::SortSize, "Sort by File &Size"},
        {CmdId::SortDcf, "Sort by DCF File N&umber"},
        {CmdId::ViewThumbnails, "&Thumbnails"},
        {CmdId::ViewList, "&List"},
        {CmdId::ViewDetails, "&Details"},
    };
    for (const Entry& e : kEntries) {
        auto* action = new QAction(QString::fromUtf8(e.text), this);
        action->setObjectName(QString::number(e.id));
        const int id = e.id;
        connect(action, &QAction::triggered, this, [this, id] { router_.Execute(id); });
        actions_[e.id] = action;
        addAction(action);
    }
}

QAction* CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::number(0xE801));
    bar->setSizeGripEnabled(true);
    for (int i = 0; i < kStatusPanes; ++i) {
        panes_[i] = new QLabel(bar);
        panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        panes_[i]->setMinimumWidth(kStatusWidths[i]);
        panes_[i]->setFrameShape(i == 0 ? QFrame::NoFrame : QFrame::StyledPanel);
        panes_[i]->setFrameShadow(QFrame::Sunken);
        panes_[i]->setIndent(3);
        if (i == 0)
            bar->addWidget(panes_[i], 1);
        else
            bar->addPermanentWidget(panes_[i]);
    }
}

void CMainFrame::CreateBars() {
    // The folder bar's width: 138 dialog units.
    CCheckDlg check(this);
    const int folderWidth = check.MapDialogRect(QRect(0, 0, 138, 200)).width();

    folderBar_ = new CBrowserTreeBar(Str(193), this);
    // The tree joins the Tab ring and the folder listeners itself.
    folderTree_ = new CShellTree;
    folderBar_->SetTree(folderTree_, folderTree_);
    folderTree_->FillRoot();
    folderTree_->RestoreSelection();
    // Media arriving reach the tree.
    RegisterNotifyWindow(folderTree_);
    folderBar_->Sizes().horz = folderBar_->Sizes().vert = {folderWidth, 480};
    folderBar_->SetMinSizes(QSize(folderWidth, 180), QSize(folderWidth, 180), QSize(folderWidth, 180));
    folderBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    folderBar_->setMinimumWidth(folderWidth);
    folderBar_->hide();

    stitchBar_ = new CStitchDialogBar(Str(130), this);
    stitchBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    saveBar_ = new CSaveDialogBar(Str(130), this);
    savePage_ = new CDlgSaving;
    saveBar_->SetPage(savePage_);
    saveBar_->setWindowTitle(savePage_->Title());
    saveBar_->Sizes().horz.cy = saveBar_->Sizes().vert.cy = saveBar_->Sizes().floating.cy =
        savePage_->height() + 20;
    saveBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    for (CDocDialogBar* bar :
         {static_cast<CDocDialogBar*>(stitchBar_), static_cast<CDocDialogBar*>(saveBar_)})
        CTabstopNavigator::AddWindow(bar->Page(), CTabstopNavigator::TaskPage, true);

    // The photo strip in its tray; it joins the Tab ring itself.
    auto* tray = new CPictureTray(Str(129), kPhotoStripId, doc_.get(), this);
    stripBar_ = tray;
    strip_ = tray->Strip();
    strip_->onCommand = [this](int id) { router_.Execute(id); };
    stripBar_->ShowCloseButton(false);
    stripBar_->ShowCaption(false);
    stripBar_->setFeatures(QDockWidget::DockWidgetMovable);
    stripBar_->Sizes().horz = {width(), kStripHeight};
    stripBar_->SetMinSizes(QSize(kStripHeight, kStripHeight), QSize(kStripHeight, kStripHeight),
                           QSize(kStripHeight, kStripHeight));
    stripBar_->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    stripBar_->setMinimumHeight(kStripHeight);

    addDockWidget(Qt::TopDockWidgetArea, stripBar_);
    addDockWidget(Qt::LeftDockWidgetArea, folderBar_);
    addDockWidget(Qt::LeftDockWidgetArea, stitchBar_);
    addDockWidget(Qt::LeftDockWidgetArea, saveBar_);
    stitchBar_->hide();
    saveBar_->hide();

    auto read = [](const std::string& s, const char* k, int d) { return AppProfile::GetProfileInt(s, k, d); };
    for (CSizingControlBar* bar :
         {static_cast<CSizingControlBar*>(folderBar_), stripBar_, static_cast<CSizingControlBar*>(stitchBar_),
          static_cast<CSizingControlBar*>(saveBar_)})
        bar->LoadState(ProfileKeys::kBarsSection, read);
}

void CMainFrame::SaveBarState() const {
    AppProfile::WriteProfileString(ProfileKeys::kBarsSection, kBarsKey, HexOf(saveState()).toStdString());
    auto write = [](const std::string& s, const char* k, int v) { AppProfile::WriteProfileInt(s, k, v); };
    for (const CSizingControlBar* bar :
         {static_cast<const CSizingControlBar*>(folderBar_), static_cast<const CSizingControlBar*>(stripBar_),
          static_cast<const CSizingControlBar*>(stitchBar_), static_cast<const CSizingControlBar*>(saveBar_)})
        bar->SaveState(ProfileKeys::kBarsSection, write);
}

bool CMainFrame::LoadBarState() {
    const std::string hex = AppProfile::GetProfileString(ProfileKeys::kBarsSection, kBarsKey);
    if (hex.empty())
        return false;
    const QByteArray state = QByteArray::fromHex(QByteArray::fromStdString(hex));
    if (state.isEmpty() || !restoreState(state)) {
        // A damaged state may have moved some bars already: back to the default.
        addDockWidget(Qt::TopDockWidgetArea, stripBar_);
        addDockWidget(Qt::LeftDockWidgetArea, folderBar_);
        addDockWidget(Qt::LeftDockWidgetArea, stitchBar_);
        addDockWidget(Qt::LeftDockWidgetArea, saveBar_);
        return false;
    }
    folderBarDocked_ = true;
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // An unsaved result is asked about first; No keeps the program open.
    if (!doc_->SaveModified()) {
        event->ignore();
        return;
    }
    SaveBarState();
    QMainWindow::closeEvent(event);
}

void CMainFrame::ShowBars(bool strip, bool folders, bool stitch, bool save) {
    stripBar_->setVisible(strip);
    folderBar_->setVisible(folders);
    stitchBar_->setVisible(stitch);
    saveBar_->setVisible(save);
}

void CMainFrame::RecalcLayout() {
    // A minimised window has nothing to lay out.
    if (isMinimized())
        return;
    // The folder bar comes first on the left, above a task bar sharing the
    // side with it.
    for (CDocDialogBar* bar :
         {static_cast<CDocDialogBar*>(stitchBar_), static_cast<CDocDialogBar*>(saveBar_)}) {
        if (!bar->isVisible() || !folderBar_->isVisible() || bar->isFloating() || folderBar_->isFloating())
            continue;
        if (dockWidgetArea(bar) != dockWidgetArea(folderBar_))
            continue;
        splitDockWidget(folderBar_, bar, Qt::Vertical);
    }
}

void CMainFrame::ConnectDocument() {
    doc_->SetHost(dialogs_.get());
    doc_->SetSaveHost(docCommands_.get());
    doc_->SetUploadHost(uploadHost_.get());
    router_.SetTarget(CCommandRouter::Document, docCommands_.get());
    savePage_->SetExportInterface(doc_.get());
    savePage_->SetProductInterface(doc_.get());
    callbacks_->SetDocument(doc_.get());
    callbacks_->SetPhotoMarker(strip_);
    callbacks_->onToggleView = [this](bool fit) { view_->ShowResult(doc_->GetDisplayResult(), fit); };
    workflow_.SetDocument(doc_.get());
    // The document's runs work off this thread; a build rewrites the result
    // the view paints from, so the view lets go of it first.
    workflow_.Jobs().SetThreaded(true);
    // The page's model (the profile's) becomes the workflow's.
    stitchBar_->StitchPage()->SetWorkflow(&workflow_);
    // Direct: the view must let go before the worker starts.
    connect(
        &workflow_, &CWorkflow::buildStarted, this, [this] { view_->ShowResult(nullptr, false); },
        Qt::DirectConnection);
    // Direct too: the planar render frees the preview when it is done, and
    // the view paints meanwhile (the crop frame on it, a repaint).
    connect(
        &workflow_, &CWorkflow::renderStarted, this, [this] { view_->PictureView()->HoldCopyOfImage(); },
        Qt::DirectConnection);
    // Direct: the document's next step (the crop frame) needs the view to
    // hold the new result.
    connect(
        &workflow_, &CWorkflow::resultChanged, this,
        [this] { view_->ShowResult(doc_->GetDisplayResult(), true); }, Qt::DirectConnection);
    // The status bar's result description follows the build once it has ended.
    connect(
        &workflow_, &CWorkflow::buildFinished, this, [this](BuildStatus) { OnZoomDisplayChanged(); },
        Qt::QueuedConnection);
    callbacks_->isPrinterSelected = [this] {
        return printServices_ && !printServices_->GetPrinterName().empty();
    };
    savePage_->onCommand = [this](int id) { router_.Execute(id); };
    commands_->SetStrip(strip_);
    stitchBar_->StitchPage()->HVPage()->onManualMatchingPreference = [this](int value) {
        doc_->SetManualMatchingPreference(value);
    };
    commands_->showMessage = [this](const std::string& text) {
        UiServices::ShowMessage(this, QString::fromStdString(text), windowTitle());
    };
}

void CMainFrame::SetTask(int task) {
    if (const std::optional<Task> known = TaskFromNumber(task))
        SetTask(*known);
}

void CMainFrame::SetTask(Task task) {
    if (task == Task::None)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    AttachDocumentWindows();
    workflow_.SwitchTask(task, *this);
    QApplication::restoreOverrideCursor();
}

void CMainFrame::AttachDocumentWindows() {
    // The document reports to this frame's windows from its first task on.
    if (documentAttached_)
        return;
    doc_->CreateEngines(callbacks_.get(), callbacks_.get());
    doc_->SetUpdateCallback(this);
    doc_->SetCropView(view_->PictureView());
    stitchBar_->SetDocument(doc_.get());
    documentAttached_ = true;
}

CWorkflow::ProjectState CMainFrame::SwitchProject() const {
    return {static_cast<int>(doc_->GetPhotoList().GetCount()), doc_->CanRenderFullResult(),
            doc_->IsFullResultCurrent()};
}

void CMainFrame::AddBrowserSelection() {
    router_.Execute(CmdId::AddSelected);
}

void CMainFrame::StitchWithPageOptions() {
    stitchBar_->StitchPage()->StartFromCommand();
}

void CMainFrame::ShowTaskWindows(Task task) {
    if (task != Task::AddImages) {
        ShowBars(task == Task::Stitch, false, task == Task::Stitch, task == Task::Export);
        SetStatusPanes({QString(), view_->GetZoomText(), QString(), QString(), QString(),
                        QString::fromStdString(doc_->GetResultInfoText())},
                       false);
        taskBar_->SetZoomRange(view_->GetZoomIndex(), 0, 17, 1);
        view_->ShowPictureView();
        // A result dropped while the photos changed leaves the view too.
        if (view_->PictureView()->GetImage() != doc_->GetDisplayResult())
            view_->ShowResult(doc_->GetDisplayResult(), true);
        return;
    }
    ShowBars(true, true, false, false);
    SetStatusPanes(browseTexts_, false);
    taskBar_->SetZoomRange(g_nThumbnailSize, 50, 100, 10);
    taskBar_->SetZoomPos(g_nThumbnailSize);
    if (!folderBarDocked_) {
        addDockWidget(Qt::LeftDockWidgetArea, folderBar_);
        folderBarDocked_ = true;
    }
    view_->ShowBrowser();
}

std::string CMainFrame::BrowserFolder() const {
    return g_pThumbsBrowser ? g_pThumbsBrowser->CurrentFolder() : std::string();
}

void CMainFrame::OpenBrowserFolder(const std::string& folder) {
    if (g_pThumbsBrowser)
        ::OpenBrowserFolder(BrowserLocation::Make(BrowserLocation::kFolder, folder), this);
}

void CMainFrame::ArrangeTaskWindows(Task task) {
    if (task == Task::AddImages)
        folderBar_->ShowCurrentFolder();
    RecalcLayout();
    ApplyBarSizes();
    static const int kTabIds[] = {CmdId::TaskAddImages, CmdId::TaskStitch, CmdId::TaskExport};
    taskBar_->Tabs()->SelectTabById(kTabIds[TaskNumber(task) - 1]);
}

void CMainFrame::RefreshTaskPage(Task task) {
    if (task == Task::Stitch)
        RefreshStitchPage();
    else if (task == Task::Export)
        RefreshExportPage();
}

void CMainFrame::SetStatusPanes(const QStringList& textsIn, bool remember) {
    QStringList texts = textsIn;
    while (texts.size() < 6)
        texts << QString();
    if (remember)
        browseTexts_ = texts;
    if (workflow_.CurrentTask() != Task::AddImages)
        texts[0] = texts[2] = texts[3] = texts[4] = QString();
    const QFontMetrics fm(panes_[0]->font());
    static const int kPad[] = {0, 15, 5, 5, 5, 0};
    static const int kMin[] = {0, 20, 20, 96, 116, 0};
    for (int i = 0; i < 6; ++i) {
        QLabel* pane = panes_[i + 1];
        if (i >= 1 && i <= 4)
            pane->setMinimumWidth(std::max(fm.horizontalAdvance(texts[i]) + kPad[i], kMin[i]));
        pane->setText(texts[i]);
    }
}

QString CMainFrame::PaneText(int pane) const {
    return pane >= 0 && pane < kStatusPanes ? panes_[pane]->text() : QString();
}

int CMainFrame::PaneWidth(int pane) const {
    return pane >= 0 && pane < kStatusPanes ? panes_[pane]->minimumWidth() : 0;
}

void CMainFrame::AddFilesToProject(const std::vector<std::string>& files) {
    commands_->AddFilesToProject(files);
}

void CMainFrame::AddSelectedPhotos() {
    CImgThumbsBrowser* browser = view_->Browser();
    if (!browser)
        return;
    std::vector<std::string> files;
    browser->GetSelectedFiles(files);
    commands_->OnAddSelectedImages(files, [this, browser] {
        browser->DeselectAll();
        browser->UpdateStatus();
        if (view_->ThumbsWnd())
            view_->ThumbsWnd()->update();
        if (IThumbsView* pane = browser->View())
            pane->Invalidate();
    });
}

void CMainFrame::OnBrowserCommand(int command) {
    switch (command) {
        case CmdId::BeginReadFolder:
        case CmdId::ReadAgain:
            // Posted by the folder monitor and after file operations: listed
            // off this thread, and a burst of them merged into one read.
            if (CImgThumbsBrowser* browser = view_->Browser())
                browser->RequestReadFolder();
            return;
        case CImgThumbsBrowser::ID_FILEREADED:
            // The picture is kept by the browser; task 1 shows no preview of it.
            return;
        default:
            router_.Execute(command);
    }
}

void CMainFrame::OnBrowserLocationOpened(const std::string& location, const void* sender) {
    if (BrowserLocation::Kind(location) == BrowserLocation::kFolder)
        folderBar_->SelectPath(static_cast<const QObject*>(sender), BrowserLocation::Text(location));
    if (CThumbsWnd* frame = view_->ThumbsWnd())
        frame->AddVisitedFolder(location, sender);
    SyncShellWatch();
}

void CMainFrame::RefreshFolderTree() {
    if (folderBar_)
        folderBar_->RefreshTree();
}

void CMainFrame::EnableBrowserWindows(bool enable) {
    folderTree_->setEnabled(enable);
    if (CThumbsWnd* frame = view_->ThumbsWnd())
        frame->setEnabled(enable);
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        app->m_bBrowserWindowsDisabled = enable ? 0 : 1;
}

void CMainFrame::RefreshStitchPage() {
    if (auto* page = qobject_cast<CBaseDialog*>(stitchBar_->Page()))
        page->UpdateDialog();
}

void CMainFrame::RefreshExportPage() {
    if (auto* page = qobject_cast<CBaseDialog*>(saveBar_->Page()))
        page->UpdateDialog();
}

void CMainFrame::OnZoomDisplayChanged() {
    if (workflow_.CurrentTask() == Task::AddImages)
        return;
    SetStatusPanes({QString(), view_->GetZoomText(), QString(), QString(), QString(),
                    QString::fromStdString(doc_->GetResultInfoText())},
                   false);
    taskBar_->SetZoomRange(view_->GetZoomIndex(), 0, 17, 1);
}

void CMainFrame::FocusBar(QWidget* bar) {
    if (bar && bar->isVisible())
        bar->setFocus();
}

void CMainFrame::ShowImageInfo() {
    if (const std::string path = strip_->CurrentPath(); !path.empty())
        ShowImageInfoDialog(path);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (CProjectCommands::AcceptsDrop(event->mimeData()))
        event->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
    if (CProjectCommands::AcceptsDrop(event->mimeData()))
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    if (!CProjectCommands::AcceptsDrop(event->mimeData()))
        return;
    event->acceptProposedAction();
    commands_->OnDropFiles(event->mimeData());
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    RecalcLayout();
}

void CMainFrame::ApplyBarSizes() {
    if (isMinimized() || centralWidget()->height() <= 0)
        return;
    // Each side's bars form one row along it; the row model shares its length.
    for (Qt::DockWidgetArea area : {Qt::LeftDockWidgetArea, Qt::RightDockWidgetArea}) {
        QList<QDockWidget*> column;
        std::vector<RowBar> row;
        QList<int> widths;
        for (CSizingControlBar* bar :
             {static_cast<CSizingControlBar*>(folderBar_), static_cast<CSizingControlBar*>(stitchBar_),
              static_cast<CSizingControlBar*>(saveBar_)}) {
            if (!bar->isVisible() || bar->isFloating() || dockWidgetArea(bar) != area)
                continue;
            const SizingBarSizes& sizes = bar->Sizes();
            column << bar;
            widths << sizes.vert.cx;
            row.push_back(RowBar{sizes.vert.cy, sizes.minVert.cy, false, true, sizes.vert.cx});
        }
        if (column.isEmpty())
            continue;
        resizeDocks(column, widths, Qt::Horizontal);
        if (column.size() < 2)
            continue;
        SizingRow::NegotiateSpace(row, centralWidget()->height(), 0);
        QList<int> lengths;
        for (const RowBar& b : row)
            lengths << b.length;
        resizeDocks(column, lengths, Qt::Vertical);
    }
    if (stripBar_->isVisible() && !stripBar_->isFloating())
        resizeDocks({stripBar_}, {stripBar_->Sizes().horz.cy}, Qt::Vertical);
}

void CMainFrame::OnZoom(int value, int /*code*/) {
    if (workflow_.CurrentTask() == Task::AddImages) {
        g_nThumbnailSize = value;
        // The thumbnails take their new size at once.
        if (CThumbsWnd* frame = view_->ThumbsWnd(); frame && frame->View())
            frame->View()->UpdateScrollSizes();
    } else
        view_->PictureView()->SetZoomIndex(value);
}

bool CMainFrame::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::TaskAddImages:
            SetTask(Task::AddImages);
            FocusBar(folderBar_);
            return true;
        case CmdId::TaskStitch:
            SetTask(Task::Stitch);
            FocusBar(stitchBar_->Page());
            return true;
        case CmdId::TaskExport:
            SetTask(Task::Export);
            FocusBar(saveBar_->Page());
            return true;
        case CmdId::AddSelected:
            AddSelectedPhotos();
            return true;
        case CmdId::FileOpen:
            commands_->OnFileOpen();
            return true;
        case CmdId::RemoveSelected:
            commands_->OnRemoveImage();
            return true;
        case CmdId::RemoveAll:
            commands_->OnRemoveAllImages();
            return true;
        case CmdId::Stitch:
            taskBar_->Tabs()->SelectTabById(CmdId::TaskStitch);
            SetTask(Task::Stitch);
            FocusBar(stitchBar_->Page());
            repaint();
            stitchBar_->StitchPage()->StartFromCommand();
            return true;
        case CmdId::Render:
            taskBar_->Tabs()->SelectTabById(CmdId::TaskExport);
            SetTask(Task::Export);
            FocusBar(saveBar_->Page());
            repaint();
            doc_->Render();
            return true;
        case CmdId::PhotoInfo:
            ShowImageInfo();
            return true;
        case CmdId::Home:
        case CmdId::HomePage:
            UiServices::OpenUrl(Str(297));
            return true;
        case CmdId::CheckForUpdates:
            OnCheckForUpdates();
            return true;
        case CmdId::HelpTopics:
            WinHelp(0, HELP_FINDER);
            return true;
        case CmdId::AppExit:
            close();
            return true;
        default:
            return false;
    }
}

NetPrint::IUploadHost* CMainFrame::UploadHost() const {
    return uploadHost_.get();
}

void CMainFrame::OnCheckForUpdates() {
    if (updateWaiter_.joinable())
        return;
    callbacks_->Begin();
    callbacks_->SetText("Check for Updates");
    CFrameEngineCallbacks* callbacks = callbacks_.get();
    updateWaiter_ = std::thread([this, callbacks] {
        bool cancelled = false;
        const bool found = GetUpdateCheck().Start(true, [callbacks, &cancelled] {
            cancelled = callbacks->SetProgress(0, 0);
            return cancelled;
        });
        QMetaObject::invokeMethod(
            this, [this, found, cancelled] { EndUpdateCheck(found, cancelled); }, Qt::QueuedConnection);
    });
}

void CMainFrame::EndUpdateCheck(bool found, bool cancelled) {
    if (updateWaiter_.joinable())
        updateWaiter_.join();
    callbacks_->End();
    if (found || cancelled)
        return;
    // "No updates" only from a server that answered.
    const std::string failure = GetUpdateCheck().GetResult().failure;
    if (failure.empty())
        UiServices::ShowMessage(this, Str(341), {}, UiServices::MessageKind::Information);
    else
        UiServices::ShowMessage(this, QString::fromStdString(OnlineText::Format(
                                          OnlineText::kUpdateServerUnreachable, {failure})));
}

void CMainFrame::OnAutoUpdate() {
    auto* dialog = new CUpdateDlg(GetUpdateCheck().GetResult(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == CUpdateCheckEvent::EventType()) {
        OnAutoUpdate();
        return true;
    }
    return QMainWindow::event(event);
}

bool CMainFrame::OnUpdateCmdUI(CCmdUI& ui) {
    switch (ui.id) {
        case CmdId::TaskAddImages:
        case CmdId::TaskStitch:
        case CmdId::TaskExport:
            ui.SetCheck((ui.id == CmdId::TaskAddImages && workflow_.CurrentTask() == Task::AddImages) ||
                        (ui.id == CmdId::TaskStitch && workflow_.CurrentTask() == Task::Stitch) ||
                        (ui.id == CmdId::TaskExport && workflow_.CurrentTask() == Task::Export));
            return true;
        case CmdId::AddSelected:
            ui.Enable(workflow_.CurrentTask() == Task::AddImages);
            return true;
        case CmdId::FileOpen:
            ui.Enable(commands_->CanFileOpen());
            return true;
        case CmdId::RemoveAll:
            ui.Enable(commands_->CanRemoveAllImages());
            return true;
        case CmdId::Stitch:
            ui.Enable(stitchBar_->StitchPage()->IsStitchEnabled() != 0);
            return true;
        case CmdId::Render:
            ui.Enable(workflow_.CurrentTask() != Task::AddImages && doc_->CanRenderFullResult());
            return true;
        default:
            return false;
    }
}

void CMainFrame::TrackMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        for (QAction* action : menu->actions()) {
            bool ok = false;
            const int id = action->objectName().toInt(&ok);
            if (!ok)
                continue;
            const CCmdUI ui = router_.Update(id);
            action->setEnabled(ui.enabled);
            if (action->isCheckable())
                action->setChecked(ui.checked != 0);
        }
    });
}

void CMainFrame::OnIdleUpdate() {
    for (auto& [id, action] : actions_) {
        const CCmdUI ui = router_.Update(id);
        action->setEnabled(ui.enabled);
    }
}
