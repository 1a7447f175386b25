#pragma once
// The program's one application object: it owns the settings, the folder
// paths, the skin file and the readable-extension list for the whole run, runs
// the start-up sequence (InitInstance) and the shut-down sequence
// (ExitInstance), and answers the skin readers every window uses.

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
#include "BrowserSettings.h"
#include "CommandLine.h"
#include "CommandRouter.h"
#include "PrinterServices.h"
#include "ProfileUpdateStore.h"
#include "SkinAccess.h"
#include "SkinFile.h"

class CMainFrame;
class CQtPrinterBackend;
class CShellTree;

// The printer state, the print layout and the page range (IPrintPnrm) are the
// application's for the whole run; its commands are the last in the chain.
class COvHorizelApp : public ISkinReader, public PrintSetup::CPrinterServices, public ICommandTarget {
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
    QColor GetSkinColor(const char* section, const char* key, QColor defaultValue) const override;
    QString GetSkinString(const char* section, const char* key, const QString& defaultValue) const override;
    QString GetResFolder() const override { return QString::fromStdString(m_strResFolder); }
    std::string GetResFolderPath() const override { return m_strResFolder; }
    // The 32-bit picture named by the key, from the Res folder; null image
    // when the key is missing or the file does not load.
    QImage LoadSkinImage(const char* section, const char* key) const;

    // The registration half of start-up, also used by tests: writes or deletes
    // the plug-in descriptor in `folder`.
    static void RegisterPlugin(bool reg, const std::string& folder, const std::string& programPath);

    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }
    // The system's printers; a test asks it for PDF output before start-up.
    CQtPrinterBackend* PrinterBackend() const { return m_qtBackend; }

    // "P&rint Setup..." and "&Options...".
    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;
    // The options dialog, then its choices stored: 1 on OK.
    int OnAppOptions();

    // The browser's commands and the services other windows call
    // (AppCommands.cpp). They act on g_pThumbsBrowser, when there is one.
    bool OnBrowserCommand(int id);
    bool OnUpdateBrowserCommand(CCmdUI& ui);
    // The About box, modal.
    void OnAppAbout();
    // Disables or enables the parents of the folder-change listeners (the
    // folder trees of FolderListeners(), which join that list themselves).
    void EnableBrowserWindows(bool enable);
    void AddFolderListener(CShellTree* tree);
    void RemoveFolderListener(CShellTree* tree);
    // Every listener re-reads its folders, in list order.
    void NotifyFolderListeners();
    // Opens "<kind>,<text>" in the browser: a folder (kind 0) through the
    // folder monitor when the browser has one, any other kind directly.
    void OpenBrowserFolder(const std::string& location, bool flag);
    void SetZoomValue(int value, int step);
    void RepaintNow();
    void RescanBrowserFolder();
    bool HasBrowserSelection() const;
    // After a view command: the browser frame shows its view in the mode.
    std::function<void()> onActivateBrowserView;

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

    CSkinFile skin_;
    CQtPrinterBackend* m_qtBackend = nullptr;
    CProfileUpdateStore m_updateStore;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};
