#include "OvHorizelApp.h"

#include <QDir>
#include <QStandardPaths>
#include <filesystem>

#include "BrowserGlobals.h"
#include "BrowserSettings.h"
#include "CAboutDlg.h"
#include "CDlgOptions.h"
#include "CImgThumbsBrowser.h"
#include "CShellTree.h"
#include "CThumbsWnd.h"
#include "CWin7Library.h"
#include "CommandIds.h"
#include "MainFrame.h"
#include "ModuleThumbnailReader.h"
#include "OvHorizelView.h"
#include "PluginDescriptor.h"
#include "PrintServiceUpload.h"
#include "Profile.h"
#include "QtPrinterBackend.h"
#include "ReadableExtensions.h"
#include "StringTable.h"

namespace {

COvHorizelApp* g_app = nullptr;

QRgb ToRgb(SkinRgb c) {
    return qRgb(c.r, c.g, c.b);
}

// Start-up steps that have no meaning on this platform (common controls, COM
// and OLE initialisation, the instance mutex a second instance ignores
// anyway, the shell's file-type registration, the recent-file list of a
// program without project files).
void PlatformStartupSteps() {}

}  // namespace

COvHorizelApp::COvHorizelApp() : m_printers(std::make_shared<CQtPrinterBackend>()) {
    m_qtBackend = static_cast<CQtPrinterBackend*>(m_printers.Backend());
    g_app = this;
    // The printer settings live in a per-user folder, never the shared /tmp.
    QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty())
        cache = QDir::homePath() + "/.cache";
    m_printers.m_strPrintersFile = (cache + "/HRZLRPRINTERS.DAT").toStdString();
}

COvHorizelApp::~COvHorizelApp() {
    if (m_pMainWnd) {
        m_pMainWnd->Router().SetTarget(CCommandRouter::Application, nullptr);
        m_pMainWnd->SetPrintServices(nullptr, nullptr);
    }
    m_pMainWnd.reset();
    if (Skin::Reader() == &m_skin)
        Skin::SetReader(nullptr);
    if (g_app == this)
        g_app = nullptr;
}

COvHorizelApp* COvHorizelApp::Instance() {
    return g_app;
}

void COvHorizelApp::SetFolders(const std::string& programPath) {
    std::string folder = std::filesystem::path(programPath).parent_path().string();
    AddTrailingBackslash(folder);
    m_strProgramFolder = folder;
    m_strResFolder = folder + "Res/";
    // Installed, the program lies in bin/ and its Res folder in share/ovhorizel/.
    // Shown to the user (the help page's path), so without the "bin/..".
    const std::string installed =
        (std::filesystem::path(folder) / "../share/ovhorizel/Res/").lexically_normal().string();
    std::error_code ec;
    if (!std::filesystem::is_directory(m_strResFolder, ec) && std::filesystem::is_directory(installed, ec))
        m_strResFolder = installed;
    m_skin.SetResFolder(m_strResFolder);
    m_strSkinFile = m_skin.SkinFilePath();
}

void COvHorizelApp::RegisterPlugin(bool reg, const std::string& folder, const std::string& programPath) {
    PluginDescriptor::RegisterPlugin(reg, folder, programPath, PluginDescriptor::GetFileVersionMS());
}

bool COvHorizelApp::InitInstance(const std::string& programPath, const std::vector<std::string>& args) {
    PlatformStartupSteps();

    // Readable extensions from the import/export module.
    m_strReadableExtensions = ReadableExtensions::FromModule();
    ReadableExtensions::SetProgramList(m_strReadableExtensions);
    // Thumbnails of what only the module's converters read come through it.
    SetThumbnailImageReader(&ReadThumbnailThroughModule);
    // The browser's full-size picture likewise.
    SetPictureReader(
        [](const std::string& path) { return ReadPictureThroughModule(path, &g_bCancelImageRead); });

    m_cmdInfo.ParseCommandLine(args);
    if (m_cmdInfo.m_nShellCommand == CQXCommandLineInfo::AppRegister ||
        m_cmdInfo.m_nShellCommand == CQXCommandLineInfo::AppUnregister) {
        RegisterPlugin(m_cmdInfo.m_nShellCommand == CQXCommandLineInfo::AppRegister,
                       PluginDescriptor::DefaultFolder(), programPath);
        m_bRegisterOnly = true;
        return false;
    }

    // Start-up goes on without it: the tree then shows no libraries.
    CreateWin7Library();
    m_dwUIThreadId = std::this_thread::get_id();

    m_bNotFirstLaunch = ProfileKeys::Read(ProfileKeys::kNotFirstLaunch) != 0;
    SetFolders(programPath);
    Skin::SetReader(&m_skin);

    m_settings.LoadSettings();
    m_printers.Layout().inchUnits = m_settings.m_print.inchUnits;
    m_printers.Layout().markers = m_settings.m_print.printMarkers;
    m_printers.LoadPrinterSettings();
    m_browserColors = BrowserColors::Load(m_skin.File());
    PublishBrowserValues();

    m_nInterfaceRes = ProfileKeys::Read(ProfileKeys::kInterfaceDll);
    // The interface texts by number; without the pack the built-in ones serve.
    m_bInterfaceResLoaded =
        Res::LoadPack(m_strResFolder + "InterfaceRes" + std::to_string(m_nInterfaceRes) + ".pack");

    // Document, frame and view.
    m_pMainWnd = std::make_unique<CMainFrame>();
    m_pMainWnd->SetManualMatching(m_settings.m_nManualMatching);
    m_pMainWnd->SetPrintServices(&m_printers, m_qtBackend);
    m_pMainWnd->Router().SetTarget(CCommandRouter::Application, this);
    m_browserCommands.SetFrame(m_pMainWnd.get());
    // A view command shows the browser in its mode. (The folder tree joined
    // the folder-change listeners when it was made.)
    m_browserCommands.onActivateBrowserView = [this] {
        if (CThumbsWnd* frame = m_pMainWnd ? m_pMainWnd->View()->ThumbsWnd() : nullptr)
            frame->ActivateView();
    };

    const auto& files = m_cmdInfo.m_files;
    if (!files.empty()) {
        m_pMainWnd->AddFilesToProject(files);
        m_pMainWnd->SetTask(files.size() >= 2 ? 2 : 1);
    } else {
        m_pMainWnd->SetTask(Task::AddImages);
    }
    m_pMainWnd->showMaximized();

    // Until the next normal exit, the next start counts as a first launch.
    ProfileKeys::Write(ProfileKeys::kNotFirstLaunch, 0);

    m_updateCheck.Start(m_pMainWnd.get());
    NetPrint::UploadPendingPanoramas(*m_pMainWnd->UploadHost());
    return true;
}

int COvHorizelApp::ExitInstance() {
    SetThumbnailImageReader({});
    SetPictureReader({});
    if (m_bRegisterOnly)
        return 0;
    StopThumbsBuilder();
    m_updateCheck.Stop();
    m_settings.thumbnailSize = g_nThumbnailSize;
    m_settings.thumbsListMode = g_bThumbsListMode;
    m_settings.SaveSettings();
    m_printers.SavePrinterSettings();
    if (m_bInterfaceResLoaded)
        Res::UnloadPack();
    m_bInterfaceResLoaded = false;
    if (g_pThumbsBrowser)
        g_pThumbsBrowser->ReleaseThumbCache();
    DestroyWin7Library();
    return 0;
}

void COvHorizelApp::PublishBrowserValues() {
    g_nThumbnailSize = m_settings.thumbnailSize;
    g_bThumbsListMode = m_settings.thumbsListMode;
}

BrowserColours COvHorizelApp::BrowserDrawingColours() const {
    const BrowserColors& c = m_browserColors;
    BrowserColours colours;
    colours.text = QColor::fromRgb(ToRgb(c.text));
    colours.selectedText = QColor::fromRgb(ToRgb(c.selectedText));
    colours.background = QColor::fromRgb(ToRgb(c.background));
    colours.inFrame = QColor::fromRgb(ToRgb(c.inFrame));
    colours.inFrameCut = QColor::fromRgb(ToRgb(c.inFrameCut));
    colours.border = QColor::fromRgb(ToRgb(c.border));
    colours.selectedBorder = QColor::fromRgb(ToRgb(c.selectedBorder));
    colours.detailsSeparator = QColor::fromRgb(ToRgb(c.detailsSeparator));
    colours.detailsTab = QColor::fromRgb(ToRgb(c.detailsTab));
    return colours;
}

bool COvHorizelApp::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::AppAbout:
            OnAppAbout();
            return true;
        case CmdId::FilePrintSetup:
            m_printers.OnFilePrintSetup();
            return true;
        case CmdId::AppOptions:
            OnAppOptions();
            return true;
        default:
            return m_browserCommands.OnCmdMsg(id);
    }
}

bool COvHorizelApp::OnUpdateCmdUI(CCmdUI& ui) {
    if (ui.id != CmdId::FilePrintSetup)
        return m_browserCommands.OnUpdateCmdUI(ui);
    ui.Enable(!m_printers.GetPrinterName().empty());
    return true;
}

int COvHorizelApp::OnAppOptions() {
    CDlgOptions dialog(m_pMainWnd.get());
    dialog.m_bShowSavingOptions = m_settings.m_bShowSaveOptions;
    dialog.m_bInchUnits = m_printers.Layout().inchUnits;
    dialog.m_bPrintMarkers = m_printers.Layout().markers;
    if (dialog.DoModal() != 1)
        return 0;
    m_printers.ApplyPrintOptions(dialog.m_bInchUnits, dialog.m_bPrintMarkers);
    m_settings.m_print.inchUnits = m_printers.Layout().inchUnits;
    m_settings.m_print.printMarkers = m_printers.Layout().markers;
    m_settings.m_bShowSaveOptions = dialog.m_bShowSavingOptions;
    ProfileKeys::Write(ProfileKeys::kSaveShowOptions, m_settings.m_bShowSaveOptions);
    if (m_pMainWnd) {
        m_pMainWnd->RefreshExportPage();
        m_pMainWnd->SetManualMatching(m_settings.m_nManualMatching);
    }
    return 1;
}

void COvHorizelApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    dialog.exec();
}

void COvHorizelApp::EnableBrowserWindows(bool enable) {
    m_folderListeners.EnableWindows(enable);
    m_bBrowserWindowsDisabled = !enable;
}

namespace {

void RepaintWindowTree(QWidget* window) {
    window->repaint();
    for (QObject* child : window->children())
        if (auto* widget = qobject_cast<QWidget*>(child);
            widget && widget->isVisible() && !widget->isWindow())
            RepaintWindowTree(widget);
}

}  // namespace

void COvHorizelApp::RepaintNow() {
    if (m_pMainWnd)
        RepaintWindowTree(m_pMainWnd.get());
}
