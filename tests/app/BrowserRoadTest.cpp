// Task 1 in the real main window: the folder tree opens a photo folder, its
// thumbnails appear, two are chosen with the mouse and added with the button
// strip, and "2. Stitch" builds them; the tree's folder comes back at the
// next start. Skipped when the shared photo folder is absent.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "BrowserLocations.h"
#include "BrowserSettings.h"
#include "ButtonStrip.h"
#include "CDlgPrompts.h"
#include "CImgThumbsBrowser.h"
#include "CPaletteItem.h"
#include "CShellTree.h"
#include "CThumbsView.h"
#include "CThumbsWnd.h"
#include "CVisitedFolders.h"
#include "CustomDialogBar.h"
#include "CustomTabCtrl.h"
#include "DlgStitching.h"
#include "ImgButton.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "Profile.h"
#include "Screenshot.h"
#include "TestData.h"
#include "ThumbRequests.h"
#include "UiServices.h"
#include "ZoomCtrl.h"

namespace {

const std::string kBoatRow = TestData::Photo("boat-row").string();

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

template <typename Done>
bool WaitUntil(Done done, int ms = 15000) {
    for (int i = 0; i < ms / 10 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

// The program started with no photos on the given profile, at a given size;
// message boxes and prompts are answered.
struct Program {
    COvHorizelApp app;
    QTimer watcher;

    Program(const QString& profile, QSize size) {
        AppProfile::SetPath(profile.toStdString());
        UiServices::SetMessageHandler([](QWidget*, const QString&, const QString&) {});
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {});
        frame().showNormal();
        frame().setGeometry(0, 0, size.width(), size.height());
        QTest::qWait(50);
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                box->accept();
            else if (auto* prompt = qobject_cast<CDlgPromptBase*>(modal))
                prompt->accept();
        });
        watcher.start();
    }
    ~Program() {
        watcher.stop();
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
        // The exit stops the request thread for good; later tests of this
        // process get it back.
        g_ThumbRequestQueue.Restart();
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    CImgThumbsBrowser& browser() { return *frame().View()->Browser(); }
    CThumbsView& pane() { return *frame().View()->ThumbsWnd()->View(); }

    bool ThumbnailsReady(size_t count) {
        const std::vector<std::string> paths = browser().Paths();
        if (paths.size() != count)
            return false;
        for (const std::string& path : paths) {
            ThumbItemPtr item;
            if (!browser().LookupItem(path, item) || !item || !item->HasThumbnail())
                return false;
        }
        return true;
    }
    // Clicks the centre of a thumbnail.
    void ClickItem(int index, Qt::KeyboardModifiers keys = {}) {
        const QRect rect =
            browser().GetItemRect(index, pane().viewport()->width()).translated(-pane().ScrollPosition());
        QTest::mouseClick(pane().viewport(), Qt::LeftButton, keys, rect.center());
    }
};

bool HaveBoatRow() {
    return std::filesystem::exists(kBoatRow + "/boat1.jpg");
}

}  // namespace

TEST(BrowserRoad, TheTreeOpensAPhotoFolderAndTwoChosenThumbnailsAreStitched) {
    if (!HaveBoatRow())
        GTEST_SKIP() << "no shared photo folder " << kBoatRow;
    QTemporaryDir dir;
    const QString profile = dir.path() + "/profile.ini";
    // The thumbnail cache of this run stays in its own folder.
    const std::string cacheRoot = CMapStringToObPlus::CacheRoot();
    CMapStringToObPlus::SetCacheRoot((dir.path() + "/cache").toStdString());
    struct RestoreCache {
        std::string root;
        ~RestoreCache() { CMapStringToObPlus::SetCacheRoot(root); }
    } restoreCache{cacheRoot};
    const std::string boatRow = Canonical(kBoatRow);
    {
        Program p(profile, {1920, 1080});
        CMainFrame& f = p.frame();
        f.SetTask(1);
        CShellTree* tree = f.FolderTree();
        ASSERT_NE(tree, nullptr);
        EXPECT_TRUE(tree->isVisible());

        tree->SelectPath(boatRow);
        ASSERT_TRUE(tree->Found());
        EXPECT_EQ(CShellTree::GetItemPath(tree->currentItem()), boatRow);
        ASSERT_TRUE(WaitUntil([&] { return p.ThumbnailsReady(6); })) << p.browser().ItemCount() << " files";
        EXPECT_EQ(p.browser().CurrentFolder(), boatRow);
        // The visited strip shows where the browser is.
        QComboBox* visited = f.View()->ThumbsWnd()->Visited()->Combo();
        EXPECT_EQ(visited->currentText().toStdString(), boatRow);
        QTest::qWait(100);
        SaveScreenshot(&f, "browser_task1_1920x1080");

        // Two thumbnails chosen with the mouse, then "Add".
        p.ClickItem(1);
        p.ClickItem(3, Qt::ControlModifier);
        std::vector<std::string> selected;
        p.browser().GetSelectedFiles(selected);
        ASSERT_EQ(selected.size(), 2u);
        EXPECT_EQ(std::filesystem::path(selected[0]).filename(), "boat2.jpg");
        EXPECT_EQ(std::filesystem::path(selected[1]).filename(), "boat4.jpg");
        SaveScreenshot(&f, "browser_task1_two_selected_1920x1080");
        QTest::mouseClick(f.View()->Strip()->AddButton(), Qt::LeftButton);
        QTest::qWait(20);
        ASSERT_EQ(f.Document().GetPhotoList().GetCount(), 2u);

        // The zoom bar sizes the thumbnails at once.
        const int before = p.browser().GetItemRect(0, p.pane().viewport()->width()).width();
        const int zoom = g_nThumbnailSize;
        f.TaskBar()->Zoom()->OnZoom(100, 0);
        EXPECT_GT(p.browser().GetItemRect(0, p.pane().viewport()->width()).width(), before);
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_zoom100_1920x1080");
        f.TaskBar()->Zoom()->OnZoom(zoom, 0);

        // "2. Stitch" builds them.
        f.SetTask(2);
        CDlgStitching& page = *f.StitchBar()->StitchPage();
        page.Poll();
        ASSERT_TRUE(page.StartButton()->isEnabled());
        QTest::mouseClick(page.StartButton(), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return f.Document().GetDisplayResult() != nullptr; }, 60000));
        PanoramaLib::IPanoElement* result = f.Document().GetDisplayResult();
        EXPECT_GT(result->GetWidth(), result->GetHeight());

        // Back in task 1 the browser still shows the folder.
        f.SetTask(1);
        EXPECT_EQ(p.browser().CurrentFolder(), boatRow);
    }
    // The next start selects the folder of the last one.
    Program again(profile, {1280, 800});
    again.frame().SetTask(1);
    EXPECT_EQ(CShellTree::GetItemPath(again.frame().FolderTree()->currentItem()), boatRow);
    ASSERT_TRUE(WaitUntil([&] { return again.ThumbnailsReady(6); }));
    QTest::qWait(100);
    SaveScreenshot(&again.frame(), "browser_task1_1280x800");
}
