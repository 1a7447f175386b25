// (After BrowserRoadTest.cpp in the binary: that test needs the thumbnail
// builder that every program exit stops; these need no thumbnails.)
// Task 1 in the real main window while the file system changes: folders
// made, renamed and removed by plain calls show in the expanded tree, once a
// burst; the details list shows the browser's items in their order after
// every read, Refresh, delete, rename, paste and sort; a burst of file
// changes in the shown folder is read once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "AcceptPrompts.h"
#include "BrowserHost.h"
#include "BrowserSettings.h"
#include "CDlgPrompts.h"
#include "CFilesList.h"
#include "CFolderMonitor.h"
#include "CImgThumbsBrowser.h"
#include "CShellChangeWatcher.h"
#include "CShellTree.h"
#include "CThumbsWnd.h"
#include "CommandIds.h"
#include "EventLoopWait.h"
#include "FileOperations.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "Profile.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "TestData.h"
#include "ThumbRequests.h"
#include "UiServices.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, size_t bytes = 64) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

// The program started with no photos; message boxes and prompts are answered.
struct Program {
    COvHorizelApp app;
    QTimer watcher;

    explicit Program(const fs::path& profile) {
        AppProfile::SetPath(profile.string());
        UiServices::SetMessageHandler([](QWidget*, const QString&, const QString&) {});
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {});
        frame().showNormal();
        frame().setGeometry(0, 0, 1100, 700);
        QTest::qWait(50);
        TestSupport::AcceptPromptsWith(watcher);
    }
    ~Program() {
        watcher.stop();
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
        g_ThumbRequestQueue.Restart();
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    CImgThumbsBrowser& browser() { return *frame().View()->Browser(); }
    CShellTree& tree() { return *qobject_cast<CShellTree*>(frame().FolderBar()->Tree()); }
    CFilesList& list() { return *frame().View()->ThumbsWnd()->FilesList(); }

    // Opens folder from the tree and waits for the reads it brings to end.
    void Open(const fs::path& folder) {
        tree().SelectPath(folder.string());
        Settle();
    }
    // Waits until no listing runs and none was started for a moment.
    bool Settle(int quietMs = 400) {
        int started = -1;
        QElapsedTimer quiet;
        return TestSupport::WaitForEvents(
            [&] {
                if (browser().IsListingPending() || browser().ListingsStarted() != started) {
                    started = browser().ListingsStarted();
                    quiet.start();
                    return false;
                }
                return quiet.elapsed() >= quietMs;
            },
            10000);
    }
    std::vector<std::string> ListPaths() {
        std::vector<std::string> paths;
        for (const auto& row : list().Model()->Rows())
            paths.push_back(row.path);
        return paths;
    }
    QTreeWidgetItem* Node(const fs::path& folder) {
        tree().SelectPath(folder.string(), &tree());
        QTreeWidgetItem* item = tree().currentItem();
        return item && CShellTree::GetItemPath(item) == folder.string() ? item : nullptr;
    }
};

std::vector<std::string> ChildNames(QTreeWidgetItem* item) {
    std::vector<std::string> names;
    for (int i = 0; item && i < item->childCount(); ++i)
        names.push_back(item->child(i)->text(0).toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FolderFiles(const fs::path& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

TEST(BrowserFollowsFolder, TheExpandedTreeFollowsFoldersChangedOutsideOncePerBurst) {
    TestData::ScratchDir dir;
    const fs::path parent = dir / "parent";
    fs::create_directories(parent / "kept");
    Program program(dir / "profile.ini");
    program.frame().SetTask(1);
    WaitForJobs(program.frame().Document());
    QTreeWidgetItem* node = program.Node(parent);
    ASSERT_TRUE(node);
    program.tree().expandItem(node);
    ASSERT_TRUE(TestSupport::WaitForEvents(
        [&] {
            const auto watched = program.frame().ShellWatcher()->Folders();
            return std::find(watched.begin(), watched.end(), parent.string()) != watched.end();
        },
        2000))
        << "the expanded folder is watched";
    // The tree's expanded ancestors (/tmp) are watched too, and other
    // programs change them: only the notices about this folder count.
    // A burst told as another folder's (theirs came last) is told all the same.
    int ours = 0, theirs = 0;
    CShellChangeWatcher& watcher = *program.frame().ShellWatcher();
    watcher.onChange = [&, told = watcher.onChange](int event, const std::string& path) {
        ++(path.rfind(parent.string(), 0) == 0 ? ours : theirs);
        told(event, path);
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> children;
    } steps[] = {
        {"made",
         [&] {
             fs::create_directory(parent / "one");
             fs::create_directory(parent / "two");
         },
         {"kept", "one", "two"}},
        {"renamed", [&] { fs::rename(parent / "one", parent / "first"); }, {"first", "kept", "two"}},
        {"removed",
         [&] {
             fs::remove(parent / "first");
             fs::remove(parent / "two");
         },
         {"kept"}},
    };
    for (const Step& step : steps) {
        const int before = program.tree().RefreshCount();
        const int notices = ours, foreign = theirs;
        step.change();
        QElapsedTimer clock;
        clock.start();
        // The node may be made anew by the refresh: found again each time.
        const bool followed = TestSupport::WaitForEvents(
            [&] {
                QTreeWidgetItem* shown = program.Node(parent);
                return shown && ChildNames(shown) == step.children;
            },
            // Room for a loaded machine: this is about following, not speed.
            5000);
        EXPECT_TRUE(followed) << step.what << " after " << clock.elapsed() << " ms";
        QTest::qWait(CShellChangeWatcher::kMaxDelayMs + 200);
        // Media mounted elsewhere on the machine may refresh the tree too.
        EXPECT_GE(program.tree().RefreshCount() - before, 1) << step.what;
        EXPECT_LE(ours - notices, 1) << step.what << ": one notice a burst";
        EXPECT_TRUE(ours - notices == 1 || theirs > foreign) << step.what;
    }
    SaveScreenshot(&program.frame(), "browser_tree_follows_folders");
}

// Another program busy in a watched folder (a build in /tmp) changes it in the
// same burst as the user's folder: both are told, the user's is not lost.
TEST(BrowserFollowsFolder, ABusyFolderElsewhereDoesNotHideAChangeInTheWatchedOne) {
    TestData::ScratchDir dir;
    const fs::path mine = dir / "mine", busy = dir / "busy";
    fs::create_directories(mine);
    fs::create_directories(busy);
    CShellChangeWatcher watcher;
    watcher.SetFolders({mine.string(), busy.string()});
    std::vector<std::pair<int, std::string>> told;
    watcher.onChange = [&](int event, const std::string& path) { told.emplace_back(event, path); };
    fs::create_directory(mine / "new");
    for (int i = 0; i < 5; ++i)
        fs::create_directory(busy / ("tmp" + std::to_string(i)));
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return told.size() >= 2; },
                                           CShellChangeWatcher::kMaxDelayMs + 2000));
    QTest::qWait(CShellChangeWatcher::kQuietMs + 100);
    ASSERT_EQ(told.size(), 2u) << "one notice for each folder that changed";
    std::sort(told.begin(), told.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(told[0], std::make_pair(int(CMainFrame::SHCNE_MKDIR), (busy / "tmp4").string()));
    EXPECT_EQ(told[1], std::make_pair(int(CMainFrame::SHCNE_MKDIR), (mine / "new").string()));
}

TEST(BrowserFollowsFolder, TheDetailsListShowsTheBrowsersItemsInOrderAfterEveryChange) {
    TestData::ScratchDir dir;
    const fs::path six = dir / "six", two = dir / "two";
    fs::create_directories(six);
    fs::create_directories(two);
    const char* names[] = {"IMG_0003.jpg", "DSC_0001.png", "IMG_0002.bmp", "a.jpg", "b.tif", "c.png"};
    for (size_t i = 0; i < 6; ++i) {
        WriteFile(six / names[i], 100 + 300 * ((i * 7) % 6));
        const fs::file_time_type when = fs::file_time_type::clock::now() - std::chrono::hours(10 + (i * 5) % 6);
        fs::last_write_time(six / names[i], when);
    }
    WriteFile(two / "x.jpg");
    WriteFile(two / "y.jpg");
    Program program(dir / "profile.ini");
    program.frame().SetTask(1);
    WaitForJobs(program.frame().Document());
    program.app.BrowserCommands().OnCmdMsg(CmdId::ViewDetails);
    ASSERT_TRUE(program.list().isVisible());
    auto expectSame = [&](const std::string& what) {
        EXPECT_TRUE(TestSupport::WaitForEvents([&] { return program.ListPaths() == program.browser().Paths(); },
                                               3000))
            << what;
        EXPECT_EQ(program.ListPaths(), program.browser().Paths()) << what;
    };
    program.Open(six);
    ASSERT_EQ(program.browser().ItemCount(), 6);
    expectSame("the first folder");
    program.Open(two);
    EXPECT_EQ(program.browser().ItemCount(), 2);
    expectSame("another folder");
    program.Open(six);
    WriteFile(six / "new.jpg");
    ASSERT_TRUE(program.Settle());
    EXPECT_EQ(program.browser().ItemCount(), 7);
    expectSame("a file copied in from outside");
    program.app.BrowserCommands().OnCmdMsg(CmdId::Refresh);
    program.Settle();
    expectSame("Refresh");
    // Delete to the trash (a scratch one in tests).
    program.browser().DeselectAll();
    program.browser().SelectItem(0);
    const std::string deleted = program.browser().Paths()[0];
    program.browser().DeleteFiles(false);
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return !fs::exists(deleted); }, 3000));
    program.Settle();
    EXPECT_EQ(program.browser().ItemCount(), 6);
    expectSame("delete");
    // Rename in the list.
    CFilesListModel& model = *program.list().Model();
    ASSERT_TRUE(model.setData(model.index(0, 0), "renamed", Qt::EditRole));
    program.Settle();
    expectSame("rename");
    // Copy from the other folder and paste here.
    program.Open(two);
    program.browser().SelectAll();
    program.browser().CopySelection(false);
    program.Open(six);
    ASSERT_TRUE(program.browser().Paste());
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return program.browser().ItemCount() == 8; }, 3000));
    program.Settle();
    expectSame("paste");
    for (int id : {CmdId::SortSize, CmdId::SortDate, CmdId::SortFormat, CmdId::SortName, CmdId::SortDcf}) {
        program.app.BrowserCommands().OnCmdMsg(id);
        expectSame("sort " + std::to_string(id));
    }
    SaveScreenshot(&program.frame(), "browser_details_follow");
    program.app.BrowserCommands().OnCmdMsg(CmdId::ViewThumbnails);
    QGuiApplication::clipboard()->clear();
}

TEST(BrowserFollowsFolder, ABurstOfChangesInTheShownFolderIsReadOnce) {
    TestData::ScratchDir dir;
    const fs::path folder = dir / "burst";
    fs::create_directories(folder);
    for (int i = 0; i < 60; ++i)
        WriteFile(folder / ("IMG_" + std::to_string(1000 + i) + ".jpg"));
    Program program(dir / "profile.ini");
    program.frame().SetTask(1);
    WaitForJobs(program.frame().Document());
    program.Open(folder);
    ASSERT_EQ(program.browser().ItemCount(), 60);
    const int before = program.browser().ListingsStarted();
    // 30 copied in, 10 renamed, 10 removed, in well under a second.
    for (int i = 0; i < 30; ++i)
        WriteFile(folder / ("NEW_" + std::to_string(i) + ".jpg"));
    for (int i = 0; i < 10; ++i)
        fs::rename(folder / ("IMG_" + std::to_string(1000 + i) + ".jpg"),
                   folder / ("REN_" + std::to_string(i) + ".jpg"));
    for (int i = 10; i < 20; ++i)
        fs::remove(folder / ("IMG_" + std::to_string(1000 + i) + ".jpg"));
    const std::vector<std::string> expected = FolderFiles(folder);
    auto shown = [&] {
        std::vector<std::string> paths = program.browser().Paths();
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return shown() == expected; }, 2000))
        << "the final folder after " << clock.elapsed() << " ms";
    ASSERT_TRUE(program.Settle(CFolderMonitor::kMaxDelayMs));
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(program.browser().ListingsStarted() - before, 1) << "one re-read for the burst";
}

TEST(BrowserFileOperations, TheProgressWindowShowsTheFileInHandAndHearsCancel) {
    TestData::ScratchDir dir;
    Program program(dir / "profile.ini");
    IBrowserHost& host = BrowserHost();
    CDlgProgressIndicator* window = program.frame().Callbacks().ProgressWindow();
    host.BeginFileOperation(FO_COPY);
    EXPECT_TRUE(window->isVisible());
    FileOperationProgress progress;
    progress.filesTotal = 20;
    progress.filesDone = 9;
    progress.bytesTotal = uint64_t(200) << 20;
    progress.bytesDone = uint64_t(95) << 20;
    progress.current = "/photos/IMG_1009.jpg";
    EXPECT_FALSE(host.FileOperationProgressed(progress));
    EXPECT_EQ(window->TextControl()->text(), "IMG_1009.jpg");
    EXPECT_EQ(window->Bar()->value() * 1000 / window->Bar()->maximum(), 475) << "the share of the bytes";
    SaveScreenshot(window, "file-copy-progress");
    QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
    EXPECT_TRUE(host.FileOperationProgressed(progress));
    host.EndFileOperation();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->IsCancelled());
}

TEST(BrowserFileOperations, APasteCancelledInItsProgressWindowLosesNothing) {
    TestData::ScratchDir dir;
    const fs::path source = dir / "card";
    const fs::path target = dir / "archive";
    fs::create_directories(source);
    fs::create_directories(target);
    const std::string bytes(2 << 20, 'p');
    for (int i = 0; i < 40; ++i)
        std::ofstream(source / ("IMG_" + std::to_string(1000 + i) + ".jpg"), std::ios::binary) << bytes;
    Program program(dir / "profile.ini");
    program.frame().SetTask(1);
    program.Open(source);
    program.browser().SelectAll();
    program.browser().CopySelection(false);
    program.Open(target);
    // Cancel as soon as the window shows.
    SetFileOperationProgressDelay(0);
    CDlgProgressIndicator* window = program.frame().Callbacks().ProgressWindow();
    bool seen = false;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        if (window->isVisible() && !seen) {
            seen = true;
            QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
        }
    });
    presser.start(0);
    const bool pasted = program.browser().Paste();
    presser.stop();
    SetFileOperationProgressDelay(300);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(pasted);
    EXPECT_FALSE(window->isVisible());
    // What was copied is whole, the rest is not there, no temporary is left,
    // and every source is as it was.
    int copied = 0;
    for (const auto& entry : fs::directory_iterator(target)) {
        EXPECT_EQ(entry.path().filename().string().rfind("IMG_", 0), 0u) << entry.path();
        EXPECT_EQ(fs::file_size(entry.path()), bytes.size()) << entry.path();
        ++copied;
    }
    EXPECT_LT(copied, 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(fs::file_size(source / ("IMG_" + std::to_string(1000 + i) + ".jpg")), bytes.size());
    QGuiApplication::clipboard()->clear();
}
