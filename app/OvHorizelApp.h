#pragma once
// The program's one application object: it owns the settings, the folder
// paths and the readable-extension list for the whole run, and runs the
// start-up sequence (InitInstance) and the shut-down sequence (ExitInstance).

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppSettings.h"
#include "AppSkin.h"
#include "BrowserCommands.h"
#include "BrowserSettings.h"
#include "CommandLine.h"
#include "CommandRouter.h"
#include "FolderListeners.h"
#include "PrinterServices.h"
#include "ProgramUpdateCheck.h"

class CMainFrame;
class CQtPrinterBackend;
class CShellTree;

// The application holds the pieces that serve the whole run (the skin
// readers, the printer services, the browser's commands, the folder-change
// listeners and the update check) and keeps the framework's names thin over
// them; its own commands are the last in the chain.
class COvHorizelApp : public ICommandTarget {
public:
    COvHorizelApp();
    ~COvHorizelApp() override;

    // The running application object; null outside its lifetime.
    static COvHorizelApp* Instance();

    // The start-up sequence. `programPath` is the program file (its folder
    // holds "Res/"); `args` are the arguments after the program's name. False
    // when the program must end at once (a registration run, or no window).
    bool InitInstance(const std::string& programPath, const std::vector<std::string>& args);
    // The shut-down sequence; returns the exit code.
    int ExitInstance();

    // Skin readers (the file is read anew at every call).
    QColor GetSkinColor(const char* section, const char* key, QColor defaultValue) const {
        return m_skin.GetSkinColor(section, key, defaultValue);
    }
    QString GetSkinString(const char* section, const char* key, const QString& defaultValue) const {
        return m_skin.GetSkinString(section, key, defaultValue);
    }
    QString GetResFolder() const { return m_skin.GetResFolder(); }
    QImage LoadSkinImage(const char* section, const char* key) const {
        return m_skin.LoadSkinImage(section, key);
    }

    // The registration half of start-up, also used by tests: writes or deletes
    // the plug-in descriptor in `folder`.
    static void RegisterPlugin(bool reg, const std::string& folder, const std::string& programPath);

    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }
    // The printer state, the print layout and the page range (IPrintPnrm)
    // for the whole run.
    PrintSetup::CPrinterServices& Printers() { return m_printers; }
    // The system's printers; a test asks it for PDF output before start-up.
    CQtPrinterBackend* PrinterBackend() const { return m_qtBackend; }
    CBrowserCommands& BrowserCommands() { return m_browserCommands; }

    // "&About...", "P&rint Setup..." and "&Options...", then the browser's.
    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;
    // The options dialog, then its choices stored: 1 on OK.
    int OnAppOptions();
    // The About box, modal.
    void OnAppAbout();

    // The services other windows call.
    // Disables or enables the parents of the folder-change listeners.
    void EnableBrowserWindows(bool enable);
    void AddFolderListener(CShellTree* tree) { m_folderListeners.Add(tree); }
    void RemoveFolderListener(CShellTree* tree) { m_folderListeners.Remove(tree); }
    void NotifyFolderListeners() { m_folderListeners.Notify(); }
    void OpenBrowserFolder(const std::string& location, bool /*flag*/) {
        m_browserCommands.OpenBrowserFolder(location);
    }
    void SetZoomValue(int value, int /*step*/) { m_browserCommands.SetZoomValue(value); }
    void RepaintNow();
    void RescanBrowserFolder() { m_browserCommands.RescanBrowserFolder(); }
    bool HasBrowserSelection() const { return m_browserCommands.HasBrowserSelection(); }

    // Members the other windows read.
    int m_nInterfaceRes = 1;
    // The interface resource pack "InterfaceRes<m_nInterfaceRes>.pack" of the Res folder is loaded.
    bool m_bInterfaceResLoaded = false;
    bool m_bBarsSettled = false;
    std::string m_strReadableExtensions;
    bool m_bRegisterOnly = false;
    bool m_bNotFirstLaunch = false;
    std::string m_strResFolder;
    std::string m_strProgramFolder;
    std::string m_strSkinFile;
    int m_bBrowserWindowsDisabled = 0;
    // The operating-system class the photo browser asks about: a later
    // system than the last one it knows (13).
    int m_nOsVersion = 13;
    // The thread that ran InitInstance: the user-interface thread.
    std::thread::id m_dwUIThreadId;
    CAppSettings m_settings;
    BrowserColors m_browserColors;
    // The skin's browser colours as the browser draws with them.
    BrowserColours BrowserDrawingColours() const;
    CQXCommandLineInfo m_cmdInfo;

private:
    // Folder paths from the program file's folder.
    void SetFolders(const std::string& programPath);
    void PublishBrowserValues();

    CAppSkin m_skin;
    PrintSetup::CPrinterServices m_printers;
    CQtPrinterBackend* m_qtBackend = nullptr;
    CFolderListeners m_folderListeners;
    CBrowserCommands m_browserCommands{m_settings, m_folderListeners};
    CProgramUpdateCheck m_updateCheck;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};
