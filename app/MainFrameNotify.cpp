// The main frame's notifications from the system and its help: media
// mounted and unmounted (a camera card opens in the browser), folder changes
// that the folder views follow, and the help page.

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QWhatsThis>

#include "BrowserUtils.h"
#include "CImgThumbsBrowser.h"
#include "CMountWatcher.h"
#include "CShellChangeWatcher.h"
#include "CShellTree.h"
#include "DeviceChangeEvent.h"
#include "DialogText.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "Profile.h"
#include "UiServices.h"

namespace {

// The folder-view events of the shell's change notices.
constexpr int kFolderEvents[] = {CMainFrame::SHCNE_MKDIR,         CMainFrame::SHCNE_RMDIR,
                                 CMainFrame::SHCNE_MEDIAINSERTED, CMainFrame::SHCNE_MEDIAREMOVED,
                                 CMainFrame::SHCNE_DRIVEREMOVED,  CMainFrame::SHCNE_DRIVEADD,
                                 CMainFrame::SHCNE_RENAMEFOLDER};

}  // namespace

void CMainFrame::StartMountWatcher() {
    if (mountWatcher_)
        return;
    mountWatcher_ = new CMountWatcher(this);
    mountWatcher_->onArrival = [this](const std::vector<std::string>& mounts) { OnDeviceArrival(mounts); };
    mountWatcher_->onRemoval = [this](const std::vector<std::string>& mounts) {
        for (const std::string& mount : mounts)
            OnShellChange(SHCNE_MEDIAREMOVED, mount, {});
    };
}

void CMainFrame::StartShellWatcher() {
    if (shellWatcher_)
        return;
    shellWatcher_ = new CShellChangeWatcher(this);
    shellWatcher_->onChange = [this](int event, const std::string& path) {
        OnShellChange(event, path, {});
        // After the tree's refresh: a folder made or gone changes what is expanded.
        QTimer::singleShot(0, this, [this] { SyncShellWatch(); });
    };
    auto sync = [this] { QTimer::singleShot(0, this, [this] { SyncShellWatch(); }); };
    connect(folderTree_, &QTreeWidget::itemExpanded, this, sync);
    connect(folderTree_, &QTreeWidget::itemCollapsed, this, sync);
    SyncShellWatch();
}

void CMainFrame::SyncShellWatch() {
    if (!shellWatcher_)
        return;
    std::vector<std::string> folders = folderTree_->ExpandedFolders();
    if (CImgThumbsBrowser* browser = g_pThumbsBrowser;
        browser && browser->LocationKind() == CThumbsBrowser::Location::Folder)
        folders.push_back(browser->CurrentFolder());
    shellWatcher_->SetFolders(folders);
}

int CMainFrame::RegisterNotifyWindow(QWidget* window) {
    for (size_t i = 0; i < notifyWindows_.size(); ++i)
        if (notifyWindows_[i] == window)
            return static_cast<int>(i);
    notifyWindows_.emplace_back(window);
    return static_cast<int>(notifyWindows_.size()) - 1;
}

bool CMainFrame::OnDeviceArrival(const std::vector<std::string>& mounts) {
    // The folder tree hears of every arrival; a window gone since is skipped.
    const std::vector<QPointer<QWidget>> windows = notifyWindows_;
    for (const QPointer<QWidget>& window : windows) {
        if (!window)
            continue;
        CDeviceChangeEvent notice(mounts);
        QCoreApplication::sendEvent(window, &notice);
    }
    for (const std::string& mount : mounts)
        OnShellChange(SHCNE_MEDIAINSERTED, mount, {});
    COvHorizelApp* app = COvHorizelApp::Instance();
    const int autoLaunch = app ? app->m_settings.m_bAutoLaunch : ProfileKeys::Read(ProfileKeys::kAutoLaunch);
    if (autoLaunch == 0)
        return false;
    std::string camera;
    if (!ScanMountsForDcim(mounts, camera))
        return false;
    // The camera's folder opens in the browser.
    SetTask(Task::AddImages);
    const std::string location = "0," + camera;
    if (app && app->GetMainFrame() == this)
        app->OpenBrowserFolder(location, true);
    else if (g_pThumbsBrowser)
        g_pThumbsBrowser->OpenFolder(location);
    repaint();
    return true;
}

bool CMainFrame::OnShellChange(int event, const std::string& path1, const std::string& path2) {
    const bool folderEvent =
        std::find(std::begin(kFolderEvents), std::end(kFolderEvents), event) != std::end(kFolderEvents);
    if (!folderEvent || (path1.empty() && path2.empty()))
        return false;
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        app->NotifyFolderListeners();
    return true;
}

QString CMainFrame::HelpPagePath() {
    QString res;
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        res = QString::fromStdString(app->m_strResFolder);
    return res + QStringLiteral("Help/OvHorizel.html");
}

bool CMainFrame::WinHelp(unsigned data, int command) {
    const QString page = HelpPagePath();
    switch (command) {
        case HELP_CONTEXT:
        case HELP_FINDER: {
            if (!QFileInfo::exists(page)) {
                UiServices::ShowMessage(this, QStringLiteral("The help page %1 is missing.").arg(page));
                return false;
            }
            QUrl url = QUrl::fromLocalFile(page);
            if (command == HELP_CONTEXT)
                url.setFragment(QStringLiteral("topic%1").arg(data));
            if (openHelp ? openHelp(url) : QDesktopServices::openUrl(url))
                return true;
            // Without a web browser for local pages nothing would appear at all.
            UiServices::ShowMessage(
                this,
                QStringLiteral("No program could show the help page. Open %1 in a web browser.").arg(page));
            return false;
        }
        case HELP_CONTEXTPOPUP:
            QWhatsThis::showText(QCursor::pos(), DialogText::Str(data), this);
            return true;
        default:
            return false;
    }
}
