// The application's browser commands and services, the About box, help, and
// the main frame's notices: a camera card mounted under a watched folder
// opens in the browser.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWhatsThis>

#include <filesystem>
#include <fstream>

#include "BrowserGlobals.h"
#include "BrowserLocations.h"
#include "CAboutDlg.h"
#include "CImgThumbsBrowser.h"
#include "CMountWatcher.h"
#include "CShellTree.h"
#include "CommandIds.h"
#include "DeviceChangeEvent.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "PopupCloser.h"
#include "ProductVersion.h"
#include "Profile.h"
#include "Screenshot.h"
#include "UiServices.h"

namespace fs = std::filesystem;

namespace {

// A folder tree as far as device notices go.
class NoticeCounter : public QWidget {
public:
    int notices = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() != CDeviceChangeEvent::EventType())
            return QWidget::event(e);
        ++notices;
        return true;
    }
};

struct Started {
    QTemporaryDir dir;
    COvHorizelApp app;
    QStringList messages;
    CThumbsBuilderThreads builder;
    std::unique_ptr<CImgThumbsBrowser> browser;
    Started() {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        UiServices::SetMessageHandler([this](QWidget*, const QString& t, const QString&) { messages << t; });
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {});
        browser = std::make_unique<CImgThumbsBrowser>(builder);
        g_pThumbsBrowser = browser.get();
    }
    ~Started() {
        g_pThumbsBrowser = nullptr;
        browser.reset();
        builder.Stop();
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    std::string Folder(const std::string& name) {
        const std::string path = dir.path().toStdString() + "/" + name;
        fs::create_directories(path);
        return path;
    }
    static void Write(const std::string& path) { std::ofstream(path) << std::string(64, 'x'); }
    CCmdUI Update(int id) { return frame().Router().Update(id); }
};

}  // namespace

TEST(ProductVersion, FillsFourPartsOrLeavesTheTemplate) {
    struct Case {
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {
        {"Version %d.%d.%d.%d", "Version 2.1.0.7"},
        {"%d%d%d%d", "2107"},
        {"Version %d.%d", "Version %d.%d"},  // fewer fields: unchanged
        {"Version %s %d.%d.%d.%d %d", "Version %s 2.1.0.7 %d"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProductVersion::Fill(c.pattern, {2, 1, 0, 7}), c.expected) << c.pattern;
    EXPECT_EQ(ProductVersion::Fill("%d.%d.%d.%d", ProductVersion::kUnknown), "3.5.0.0");
}

TEST(AppCommands, AboutBoxShowsTheBuildsVersion) {
    Started s;
    CAboutDlg about(&s.frame());
    EXPECT_EQ(about.objectName(), "100");
    const auto parts = ProductVersion::Parts();
    EXPECT_EQ(about.VersionLabel()->objectName(), "1079");
    EXPECT_EQ(about.VersionLabel()->text(),
              QStringLiteral("Version %1.%2.%3.%4").arg(parts[0]).arg(parts[1]).arg(parts[2]).arg(parts[3]));
    EXPECT_EQ(parts[0], 2);  // the project's version
    about.show();
    SaveScreenshot(&about, "about_box");
    // The menu command opens it; OK closes it.
    TestSupport::PopupCloser closer(TestSupport::ActiveModal, [](QWidget* window) {
        auto* dialog = qobject_cast<QDialog*>(window);
        ASSERT_TRUE(dialog);
        dialog->accept();
    });
    EXPECT_TRUE(s.frame().Router().Execute(CmdId::AppAbout));
    EXPECT_TRUE(closer.Shown());
}

TEST(AppCommands, SortCommandsNeedTwoItemsInTheBrowserTask) {
    Started s;
    const std::string folder = s.Folder("photos");
    s.browser->OpenFolder("0," + folder);
    for (int id : {CmdId::SortDate, CmdId::SortName, CmdId::SortFormat, CmdId::SortSize, CmdId::SortDcf})
        EXPECT_FALSE(s.Update(id).enabled) << id;
    Started::Write(folder + "/b.jpg");
    s.browser->ReadFolder();
    EXPECT_FALSE(s.Update(CmdId::SortName).enabled) << "one item";
    Started::Write(folder + "/a.jpg");
    s.browser->ReadFolder();
    EXPECT_TRUE(s.Update(CmdId::SortName).enabled);
    EXPECT_TRUE(s.frame().Router().Execute(CmdId::SortName));
    EXPECT_EQ(s.browser->SortMode(), 0);
    EXPECT_EQ(fs::path(s.browser->Paths()[0]).filename(), "a.jpg");
    EXPECT_EQ(g_nItemsLockDepth, 0) << "every lock has its unlock";
    s.frame().Router().Execute(CmdId::SortDcf);
    EXPECT_EQ(s.browser->SortMode(), 7);
    s.frame().SetTask(2);
    EXPECT_FALSE(s.Update(CmdId::SortName).enabled) << "outside the browser task";
    EXPECT_FALSE(s.Update(CmdId::ViewThumbnails).enabled);
    EXPECT_FALSE(s.Update(CmdId::Refresh).enabled);
}

TEST(AppCommands, ViewModesAndTheirChecks) {
    Started s;
    auto checks = [&] {
        return std::vector<int>{s.Update(CmdId::ViewThumbnails).checked, s.Update(CmdId::ViewList).checked,
                                s.Update(CmdId::ViewDetails).checked};
    };
    g_bThumbsListMode = 0;
    s.app.m_settings.m_bDetailsView = false;
    EXPECT_EQ(checks(), (std::vector<int>{1, 0, 0}));
    s.frame().Router().Execute(CmdId::ViewDetails);  // Details
    EXPECT_EQ(checks(), (std::vector<int>{0, 0, 1}));
    s.frame().Router().Execute(CmdId::ViewList);  // then List
    EXPECT_EQ(g_bThumbsListMode, 1);
    EXPECT_FALSE(s.app.m_settings.m_bDetailsView);
    EXPECT_EQ(checks(), (std::vector<int>{0, 1, 0}));
    s.frame().Router().Execute(CmdId::ViewDetails);  // Details from the list keeps list mode
    EXPECT_EQ(g_bThumbsListMode, 1);
    EXPECT_TRUE(s.app.m_settings.m_bDetailsView);
    s.frame().Router().Execute(CmdId::ViewThumbnails);  // Thumbnails clears both
    EXPECT_EQ(g_bThumbsListMode, 0);
    EXPECT_FALSE(s.app.m_settings.m_bDetailsView);
}

TEST(AppCommands, SelectAllInfoAndBrowserServices) {
    Started s;
    const std::string folder = s.Folder("photos");
    for (const char* name : {"a.jpg", "b.jpg"})
        Started::Write(folder + "/" + name);
    s.browser->OpenFolder("0," + folder);
    EXPECT_FALSE(s.app.HasBrowserSelection());
    EXPECT_FALSE(s.Update(CmdId::Info).enabled);
    s.frame().Router().Execute(CmdId::SelectAll);
    EXPECT_TRUE(s.app.HasBrowserSelection());
    EXPECT_FALSE(s.Update(CmdId::Info).enabled) << "two selected";
    s.browser->SelectItem(0);
    EXPECT_TRUE(s.Update(CmdId::Info).enabled);

    // Listeners: the folder trees join by themselves, once each; their
    // parents are disabled around file operations.
    EXPECT_EQ(FolderListeners(), std::vector<CShellTree*>{s.frame().FolderTree()});
    {
        QWidget parent;
        auto* tree = new CShellTree(&parent);
        EXPECT_EQ(FolderListeners(), (std::vector<CShellTree*>{s.frame().FolderTree(), tree}));
        s.app.EnableBrowserWindows(false);
        EXPECT_FALSE(parent.isEnabled());
        EXPECT_EQ(s.app.m_bBrowserWindowsDisabled, 1);
        s.app.EnableBrowserWindows(true);
        EXPECT_TRUE(parent.isEnabled());
    }
    // A tree that goes leaves the list; the window's folder tree stays.
    EXPECT_EQ(FolderListeners(), std::vector<CShellTree*>{s.frame().FolderTree()});

    // A folder location opens in the browser; a location without a comma does nothing.
    const std::string other = s.Folder("other");
    Started::Write(other + "/c.jpg");
    s.app.OpenBrowserFolder("0," + other, false);
    EXPECT_EQ(s.browser->CurrentFolder(), other);
    EXPECT_EQ(s.browser->ItemCount(), 1);
    s.app.OpenBrowserFolder("0", false);
    EXPECT_EQ(s.browser->CurrentFolder(), other);
}

TEST(AppCommands, CameraCardMountedUnderAWatchedFolderOpensInTheBrowser) {
    Started s;
    const std::string media = s.Folder("media");
    CMountWatcher* watcher = s.frame().MountWatcher();
    ASSERT_TRUE(watcher);
    // The fixture's mounts: the folders under "media".
    watcher->SetSource({media}, [media] {
        std::vector<std::string> mounts;
        for (const auto& entry : fs::directory_iterator(media))
            mounts.push_back(entry.path().string());
        return mounts;
    });
    s.frame().SetTask(2);
    // A card with a camera folder appears.
    const std::string staging = s.Folder("staging/card");
    fs::create_directories(staging + "/DCIM/100ABCDE");
    fs::create_directories(staging + "/DCIM/099ABCDE");
    Started::Write(staging + "/DCIM/100ABCDE/IMG_0001.JPG");
    fs::rename(staging, media + "/card");
    // The watched folder reports it (the 2-second poll would too).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (s.browser->CurrentFolder().empty() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(s.browser->CurrentFolder(), media + "/card/DCIM/100ABCDE");
    EXPECT_EQ(s.frame().GetTask(), 1);
    EXPECT_EQ(s.browser->ItemCount(), 1);

    // With AUTOLAUNCH off a card opens nothing, but the folder tree still hears of it.
    NoticeCounter tree;
    // The window's own folder tree is the first in the list.
    EXPECT_EQ(s.frame().RegisterNotifyWindow(s.frame().FolderTree()), 0);
    EXPECT_EQ(s.frame().RegisterNotifyWindow(&tree), 1);
    EXPECT_EQ(s.frame().RegisterNotifyWindow(&tree), 1) << "once in the list";
    {
        NoticeCounter gone;
        EXPECT_EQ(s.frame().RegisterNotifyWindow(&gone), 2);
    }
    s.app.m_settings.m_bAutoLaunch = 0;
    const std::string second = s.Folder("second");
    fs::create_directories(second + "/DCIM/101ABCDE");
    EXPECT_FALSE(s.frame().OnDeviceArrival({second}));
    EXPECT_EQ(s.browser->CurrentFolder(), media + "/card/DCIM/100ABCDE");
    EXPECT_EQ(tree.notices, 1);
    s.app.m_settings.m_bAutoLaunch = 1;
    // Media without a camera folder open nothing either.
    EXPECT_FALSE(s.frame().OnDeviceArrival({s.Folder("plain")}));
}

TEST(AppCommands, FolderNoticesRefreshTheFolderViewsOnlyForFolderEvents) {
    Started s;
    struct Case {
        int event;
        const char* path;
        bool refresh;
    };
    const Case cases[] = {
        {CMainFrame::SHCNE_MKDIR, "/a", true},        {CMainFrame::SHCNE_RMDIR, "/a", true},
        {CMainFrame::SHCNE_RENAMEFOLDER, "/a", true}, {CMainFrame::SHCNE_MEDIAINSERTED, "/m", true},
        {CMainFrame::SHCNE_DRIVEADD, "/m", true},     {CMainFrame::SHCNE_MKDIR, "", false},
        {2 /* a file made */, "/a", false},           {4 /* a file deleted */, "/a", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(s.frame().OnShellChange(c.event, c.path, {}), c.refresh) << c.event;
}

TEST(AppCommands, HelpOpensTheInstalledPageOrSaysItIsMissing) {
    Started s;
    QUrl opened;
    s.frame().openHelp = [&](const QUrl& url) {
        opened = url;
        return true;
    };
    ASSERT_TRUE(QFile::exists(CMainFrame::HelpPagePath())) << CMainFrame::HelpPagePath().toStdString();
    EXPECT_TRUE(s.frame().Router().Execute(CmdId::HelpTopics));
    EXPECT_EQ(opened.toLocalFile(), CMainFrame::HelpPagePath());
    EXPECT_TRUE(s.frame().WinHelp(7, CMainFrame::HELP_CONTEXT));
    EXPECT_EQ(opened.fragment(), "topic7");
    EXPECT_FALSE(s.frame().WinHelp(0, 3));
    // A string as a pop-up at the cursor.
    EXPECT_TRUE(s.frame().WinHelp(297, CMainFrame::HELP_CONTEXTPOPUP));
    QWhatsThis::hideText();

    // The page itself, as a browser shows it.
    QTextBrowser page;
    page.resize(820, 900);
    page.setSource(QUrl::fromLocalFile(CMainFrame::HelpPagePath()));
    EXPECT_TRUE(page.toPlainText().contains("1. Add Images"));
    EXPECT_TRUE(page.toPlainText().contains("Keys"));
    page.show();
    SaveScreenshot(&page, "help_page");

    // Without a program to show it the user is told where the page is.
    s.frame().openHelp = [&](const QUrl& url) {
        opened = url;
        return false;
    };
    s.messages.clear();
    EXPECT_FALSE(s.frame().WinHelp(0, CMainFrame::HELP_FINDER));
    ASSERT_EQ(s.messages.size(), 1);
    EXPECT_TRUE(s.messages.back().contains(CMainFrame::HelpPagePath())) << s.messages.back().toStdString();

    // Without the page the user is told so.
    const std::string res = s.app.m_strResFolder;
    s.app.m_strResFolder = s.dir.path().toStdString() + "/";
    opened.clear();
    EXPECT_FALSE(s.frame().WinHelp(0, CMainFrame::HELP_FINDER));
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_FALSE(s.messages.isEmpty());
    EXPECT_TRUE(s.messages.back().contains("missing"));
    s.app.m_strResFolder = res;
}
