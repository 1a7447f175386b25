#include "MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "BaseDialog.h"
#include "BrowserGlobals.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "Profile.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"
#include "UiServices.h"

namespace {

QString Str(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

constexpr int kStatusWidths[CMainFrame::kStatusPanes] = {120, 100, 200, 100, 120, 120, 120};
constexpr const char* kBarsKey = "State";
constexpr int kStripHeight = 175;
constexpr int kThumbHeight = 110;

// Stand-in for a task page until the stitching and export pages exist: the
// page's size and skin, with a line saying what will be here.
class CTaskPageStandIn : public CBaseDialog {
public:
    CTaskPageStandIn(int templateId, const QString& title, const QString& text, QWidget* parent = nullptr)
        : CBaseDialog(templateId, parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(12, 12, 12, 12);
        auto* heading = new QLabel(title, this);
        QFont f = heading->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.15);
        heading->setFont(f);
        auto* body = new QLabel(text, this);
        body->setWordWrap(true);
        layout->addWidget(heading);
        layout->addWidget(body);
        layout->addStretch(1);
        setFixedSize(240, 420);
    }
};

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
    const int width = GetPageWidth();
    SetMinSizes(QSize(width, 30), QSize(width, 30), QSize(width, 30));
    setMinimumWidth(width);
}

int CDocDialogBar::GetPageWidth() const {
    return (Page() ? Page()->width() : 0) + 8;
}

QSize CDocDialogBar::sizeHint() const {
    return QSize(GetPageWidth(), CSizingControlBarCF::sizeHint().height());
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(Str(128).section('\n', 0, 0));
    setMinimumSize(kMinWidth, kMinHeight);
    OnCreate();
}

CMainFrame::~CMainFrame() {
    idleTimer_.stop();
}

void CMainFrame::OnCreate() {
    setDockOptions(QMainWindow::AnimatedDocks);
    setDockNestingEnabled(false);
    CreateActions();

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
    view_ = new COvHorizelView(this);
    setCentralWidget(view_);
    connect(view_->Strip(), &CButtonStrip::Command, this, [this](int id) { router_.Execute(id); });
    CreateBars();

    router_.SetTarget(CCommandRouter::Frame, this);
    LoadBarState();
    // The bars exist: from now on they keep the sizes they negotiate.
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        app->m_bBarsSettled = true;

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
        {CmdId::FileOpen, "Open"},
        {CmdId::FilePrint, "Print"},
        {CmdId::Home, "Home"},
        {CmdId::AppExit, "E&xit"},
    };
    for (const Entry& e : kEntries) {
        auto* action = new QAction(QString::fromUtf8(e.text), this);
        action->setObjectName(QString::number(e.id));
        const int id = e.id;
        connect(action, &QAction::triggered, this, [this, id] { router_.Execute(id); });
        actions_[e.id] = action;
        addAction(action);
    }
    Action(CmdId::AppExit)->setShortcut(QKeySequence::Quit);
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
    folderModel_ = new QFileSystemModel(this);
    folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folderModel_->setRootPath(QDir::rootPath());
    folderTree_ = new QTreeView;
    folderTree_->setModel(folderModel_);
    for (int c = 1; c < folderModel_->columnCount(); ++c)
        folderTree_->hideColumn(c);
    folderTree_->header()->hide();
    folderTree_->setFrameShape(QFrame::NoFrame);
    folderBar_->SetTree(folderTree_);
    folderBar_->Sizes().horz = folderBar_->Sizes().vert = {folderWidth, 480};
    folderBar_->SetMinSizes(QSize(folderWidth, 180), QSize(folderWidth, 180), QSize(folderWidth, 180));
    folderBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    folderBar_->setMinimumWidth(folderWidth);
    CTabstopNavigator::AddWindow(folderTree_, CTabstopNavigator::FolderTree);
    connect(
        folderTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& index) { view_->Browser()->ShowFolder(folderModel_->filePath(index)); });
    folderBar_->hide();

    stitchBar_ = new CStitchDialogBar(Str(130), this);
    stitchBar_->SetPage(new CTaskPageStandIn(
        0, QStringLiteral("Stitching"),
        QStringLiteral("The stitching options and the Stitch button go on this page."), stitchBar_));
    stitchBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    saveBar_ = new CSaveDialogBar(Str(130), this);
    saveBar_->SetPage(new CTaskPageStandIn(
        0, QStringLiteral("Export"),
        QStringLiteral("Rendering, cropping, saving and printing go on this page."), saveBar_));
    saveBar_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    for (CDocDialogBar* bar :
         {static_cast<CDocDialogBar*>(stitchBar_), static_cast<CDocDialogBar*>(saveBar_)})
        CTabstopNavigator::AddWindow(bar->Page(), CTabstopNavigator::TaskPage, true);

    // Stand-in for the photo strip: the project's photos as thumbnails.
    stripBar_ = new CSizingControlBar(Str(129), kPhotoStripId, this);
    strip_ = new QListWidget;
    strip_->setViewMode(QListView::IconMode);
    strip_->setFlow(QListView::LeftToRight);
    strip_->setWrapping(false);
    strip_->setMovement(QListView::Static);
    strip_->setIconSize(QSize(kThumbHeight * 3 / 2, kThumbHeight));
    strip_->setSpacing(6);
    strip_->setFrameShape(QFrame::NoFrame);
    strip_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QPalette pal = strip_->palette();
    pal.setColor(QPalette::Base, QColor::fromRgb(g_clrBrowserBackground));
    strip_->setPalette(pal);
    stripBar_->setWidget(strip_);
    stripBar_->ShowCloseButton(false);
    stripBar_->ShowCaption(false);
    stripBar_->setFeatures(QDockWidget::DockWidgetMovable);
    stripBar_->Sizes().horz = {width(), kStripHeight};
    stripBar_->SetMinSizes(QSize(kStripHeight, kStripHeight), QSize(kStripHeight, kStripHeight),
                           QSize(kStripHeight, kStripHeight));
    stripBar_->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    stripBar_->setMinimumHeight(kStripHeight);
    CTabstopNavigator::AddWindow(strip_, CTabstopNavigator::PhotoStrip);

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

QString CMainFrame::CurrentFolder() const {
    const std::string stored =
        AppProfile::GetProfileString(ProfileKeys::kFoldersDefault.section, ProfileKeys::kFoldersDefault.key);
    if (!stored.empty() && QFileInfo::exists(QString::fromStdString(stored)))
        return QString::fromStdString(stored);
    for (auto location : {QStandardPaths::PicturesLocation, QStandardPaths::DocumentsLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo::exists(path))
            return path;
    }
    return QDir::homePath();
}

void CMainFrame::SetDocument(IMainFrameDocument* document) {
    document_ = document ? document : &standIn_;
    RefreshPhotoStrip();
}

void CMainFrame::SetTask(int task) {
    if (task < 1 || task > 3)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool passedTask2 = false;
    if (task >= 2 && document_->GetPhotoCount() < 2) {
        router_.Execute(CmdId::AddSelected);
        if (task == 3 && document_->GetPhotoCount() >= 2) {
            SetTask(2);
            passedTask2 = true;
        }
    }
    // Export needs a result: stitch first, with the profile's options, unless
    // one is pending or already rendered.
    if (task == 3 && document_->GetPhotoCount() >= 2 && !document_->CanRenderFullResult() &&
        !document_->IsFullResultCurrent()) {
        if (!passedTask2)
            SetTask(2);
        document_->StitchWithProfileOptions(StitchingProfile::Read());
    }

    const int oldTask = task_;
    task_ = task;
    if (oldTask == 1 && task != 1)
        document_->ResetEngines();
    view_->PictureView()->SetPhotoCount(document_->GetPhotoCount());
    view_->PictureView()->SetTask(task);

    if (task >= 2) {
        ShowBars(task == 2, false, task == 2, task == 3);
        SetStatusPanes({QString(), view_->GetZoomText(), QString(), QString(), QString(), QString()}, false);
        taskBar_->SetZoomRange(view_->GetZoomIndex(), 0, 17, 1);
        view_->ShowPictureView();
        const QString folder = view_->Browser()->Folder();
        if (!folder.isEmpty())
            AppProfile::WriteProfileString(ProfileKeys::kFoldersDefault.section,
                                           ProfileKeys::kFoldersDefault.key, folder.toStdString());
    } else {
        ShowBars(true, true, false, false);
        SetStatusPanes(browseTexts_, false);
        taskBar_->SetZoomRange(g_nThumbnailSize, 50, 100, 10);
        taskBar_->SetZoomPos(g_nThumbnailSize);
        if (!folderBarDocked_) {
            addDockWidget(Qt::LeftDockWidgetArea, folderBar_);
            folderBarDocked_ = true;
        }
        view_->ShowBrowser();
        const QString folder = CurrentFolder();
        const QModelIndex index = folderModel_->index(folder);
        if (index.isValid()) {
            folderTree_->setCurrentIndex(index);
            folderTree_->scrollTo(index);
        }
        folderBar_->ShowCurrentFolder();
        view_->Browser()->ShowFolder(folder);
    }
    RecalcLayout();
    ApplyBarSizes();
    static const int kTabIds[] = {CmdId::TaskAddImages, CmdId::TaskStitch, CmdId::TaskExport};
    taskBar_->Tabs()->SelectTabById(kTabIds[task - 1]);
    document_->SetTask(task);
    QApplication::restoreOverrideCursor();
}

void CMainFrame::SetStatusPanes(const QStringList& textsIn, bool remember) {
    QStringList texts = textsIn;
    while (texts.size() < 6)
        texts << QString();
    if (remember)
        browseTexts_ = texts;
    if (task_ != 1)
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
    if (document_->AddPhotos(files) > 0)
        RefreshPhotoStrip();
    view_->PictureView()->SetPhotoCount(document_->GetPhotoCount());
}

void CMainFrame::RefreshPhotoStrip() {
    strip_->clear();
    for (const std::string& file : document_->GetPhotos()) {
        const QString path = QString::fromStdString(file);
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && size.height() > 0)
            reader.setScaledSize(size.scaled(strip_->iconSize(), Qt::KeepAspectRatio));
        const QImage thumb = reader.read();
        auto* item =
            new QListWidgetItem(QIcon(QPixmap::fromImage(thumb)), QFileInfo(path).fileName(), strip_);
        item->setToolTip(path);
    }
}

void CMainFrame::AddSelectedPhotos() {
    const std::vector<std::string> selected = view_->Browser()->SelectedFiles();
    if (selected.empty()) {
        UiServices::ShowMessage(this, Str(338), windowTitle());
        return;
    }
    AddFilesToProject(selected);
}

void CMainFrame::RemoveSelectedPhotos() {
    std::vector<std::string> selected;
    for (const QListWidgetItem* item : strip_->selectedItems())
        selected.push_back(item->toolTip().toStdString());
    if (selected.empty())
        return;
    document_->RemovePhotos(selected);
    RefreshPhotoStrip();
    view_->PictureView()->SetPhotoCount(document_->GetPhotoCount());
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
    if (task_ == 1)
        g_nThumbnailSize = value;
}

bool CMainFrame::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::TaskAddImages:
            SetTask(1);
            return true;
        case CmdId::TaskStitch:
            SetTask(2);
            return true;
        case CmdId::TaskExport:
            SetTask(3);
            return true;
        case CmdId::AddSelected:
            AddSelectedPhotos();
            return true;
        case CmdId::Home:
            UiServices::OpenUrl(Str(297));
            return true;
        case CmdId::AppExit:
            close();
            return true;
        default:
            return false;
    }
}

bool CMainFrame::OnUpdateCmdUI(CCmdUI& ui) {
    switch (ui.id) {
        case CmdId::TaskAddImages:
        case CmdId::TaskStitch:
        case CmdId::TaskExport:
            ui.SetCheck((ui.id == CmdId::TaskAddImages && task_ == 1) ||
                        (ui.id == CmdId::TaskStitch && task_ == 2) ||
                        (ui.id == CmdId::TaskExport && task_ == 3));
            return true;
        case CmdId::AddSelected:
            ui.Enable(task_ == 1);
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
