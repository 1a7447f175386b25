// Task 1 in the real main window: the folder tree opens a photo folder, its
// thumbnails appear, the mouse selects a range and a band of them, a photo
// is renamed over its caption and in the details list, two are chosen and
// added with the button strip, and "2. Stitch" builds them; the tree's
// folder comes back at the next start. Skipped when the shared photo folder
// is absent.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "AcceptPrompts.h"
#include "BrowserLocations.h"
#include "BrowserSettings.h"
#include "ButtonStrip.h"
#include "CDlgPrompts.h"
#include "CFilesList.h"
#include "CImgThumbsBrowser.h"
#include "CPaletteItem.h"
#include "CPopupEdit.h"
#include "CShellTree.h"
#include "CThumbsView.h"
#include "CThumbsWnd.h"
#include "CVisitedFolders.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "CustomTabCtrl.h"
#include "DlgStitching.h"
#include "EventLoopWait.h"
#include "ImgButton.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PopupCloser.h"
#include "Profile.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "ThumbRequests.h"
#include "UiServices.h"
#include "ZoomCtrl.h"

namespace {

const std::string kBoatRow = SamplePhotos::BoatRowFolder();

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

template <typename Done>
bool WaitUntil(Done done, int ms = 15000) {
    return TestSupport::WaitForEvents(done, ms);
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
        TestSupport::AcceptPromptsWith(watcher);
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
    // A thumbnail's cell in the pane's client coordinates.
    QRect ItemRect(int index) {
        return browser().GetItemRect(index, pane().viewport()->width()).translated(-pane().ScrollPosition());
    }
    // Clicks the centre of a thumbnail.
    void ClickItem(int index, Qt::KeyboardModifiers keys = {}) {
        QTest::mouseClick(pane().viewport(), Qt::LeftButton, keys, ItemRect(index).center());
    }
    // Moves the mouse over the pane with the left button held.
    void DragTo(QPoint point) {
        QMouseEvent move(QEvent::MouseMove, point, pane().viewport()->mapToGlobal(point), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pane().viewport(), &move);
    }
    std::vector<std::string> SelectedNames() {
        std::vector<std::string> files;
        browser().GetSelectedFiles(files);
        for (std::string& file : files)
            file = std::filesystem::path(file).filename().string();
        return files;
    }
};

}  // namespace

TEST(BrowserRoad, TheTreeOpensAPhotoFolderAndTwoChosenThumbnailsAreStitched) {
    ASSERT_TRUE(std::filesystem::exists(kBoatRow + "/boat1.jpg")) << kBoatRow;
    QTemporaryDir dir;
    const QString profile = dir.path() + "/profile.ini";
    // The thumbnail cache of this run stays in its own folder.
    const std::string cacheRoot = CMapStringToObPlus::CacheRoot();
    CMapStringToObPlus::SetCacheRoot((dir.path() + "/cache").toStdString());
    struct RestoreCache {
        std::string root;
        ~RestoreCache() { CMapStringToObPlus::SetCacheRoot(root); }
    } restoreCache{cacheRoot};
    // The photos are renamed on the way: the test works on a copy.
    const std::string boatRow = Canonical((dir.path() + "/boat-row").toStdString());
    std::filesystem::create_directories(boatRow);
    for (const auto& entry : std::filesystem::directory_iterator(kBoatRow))
        if (entry.path().extension() == ".jpg")
            std::filesystem::copy_file(entry.path(), boatRow + "/" + entry.path().filename().string());
    {
        Program p(profile, {1920, 1080});
        CMainFrame& f = p.frame();
        f.SetTask(1);
        WaitForJobs(f.Document());
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

        // Shift+click selects the range from the clicked thumbnail.
        p.ClickItem(1);
        p.ClickItem(4, Qt::ShiftModifier);
        EXPECT_EQ(p.SelectedNames(),
                  (std::vector<std::string>{"boat2.jpg", "boat3.jpg", "boat4.jpg", "boat5.jpg"}));
        EXPECT_EQ(f.PaneText(1).toStdString(), "Total 4 files") << "the status panes follow";
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_shift_range_1920x1080");

        // A band from empty space below the row selects the thumbnails it touches.
        int below = 0;
        for (int i = 0; i < 6; ++i)
            below = std::max(below, p.ItemRect(i).bottom());
        const QPoint anchor(p.ItemRect(2).center().x(), below + 30);
        ASSERT_LT(anchor.y(), p.pane().viewport()->height());
        ASSERT_LT(p.browser().HitTest(anchor, p.pane().viewport()->width(), p.pane().ScrollPosition()), 0);
        QTest::mousePress(p.pane().viewport(), Qt::LeftButton, {}, anchor);
        EXPECT_TRUE(p.SelectedNames().empty()) << "a press on empty space deselects";
        p.DragTo(p.ItemRect(3).center());
        EXPECT_EQ(p.SelectedNames(), (std::vector<std::string>{"boat3.jpg", "boat4.jpg"}));
        EXPECT_FALSE(p.browser().BandRect().isEmpty());
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_rubber_band_1920x1080");
        QTest::mouseRelease(p.pane().viewport(), Qt::LeftButton, {}, p.ItemRect(3).center());
        EXPECT_TRUE(p.browser().BandRect().isEmpty());
        EXPECT_EQ(p.SelectedNames(), (std::vector<std::string>{"boat3.jpg", "boat4.jpg"}));

        // A click on the caption of the one selected photo renames it in place.
        p.ClickItem(5);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect caption = p.browser()
                                  .GetCaptionRect(5, p.pane().viewport()->width())
                                  .translated(-p.pane().ScrollPosition());
        QTest::mouseClick(p.pane().viewport(), Qt::LeftButton, {}, caption.center());
        CPopupEdit* edit = p.browser().PopupEdit();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text().toStdString(), "boat6");
        EXPECT_TRUE(CShellTree::IsLabelEditing()) << "one editing flag for tree and browser";
        edit->selectAll();
        QTest::keyClicks(edit, "harbour");
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_rename_in_place_1920x1080");
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::qWait(20);
        EXPECT_FALSE(CShellTree::IsLabelEditing());
        EXPECT_TRUE(std::filesystem::exists(boatRow + "/harbour.jpg"));
        EXPECT_FALSE(std::filesystem::exists(boatRow + "/boat6.jpg"));

        // "Details" shows the file list in the pane's place; F2 renames there.
        ASSERT_TRUE(f.Router().Execute(CmdId::ViewDetails));
        CFilesList* list = f.View()->ThumbsWnd()->FilesList();
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(list->isVisible());
        EXPECT_FALSE(p.pane().isVisible());
        ASSERT_EQ(list->Model()->rowCount(), 6);
        int row = -1;
        for (int i = 0; i < 6; ++i)
            if (list->Model()->Rows()[static_cast<size_t>(i)].name == "harbour.jpg")
                row = i;
        ASSERT_GE(row, 0) << "the list shows the renamed photo";
        list->setCurrentIndex(list->Model()->index(row, 0));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F2);
        auto* listEdit = list->findChild<QLineEdit*>();
        ASSERT_NE(listEdit, nullptr);
        EXPECT_TRUE(CShellTree::IsLabelEditing());
        listEdit->selectAll();
        QTest::keyClicks(listEdit, "quay");
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_details_rename_1920x1080");
        QTest::keyClick(listEdit, Qt::Key_Return);
        QTest::qWait(50);
        EXPECT_TRUE(std::filesystem::exists(boatRow + "/quay.jpg"));
        EXPECT_FALSE(CShellTree::IsLabelEditing());
        SaveScreenshot(&f, "browser_task1_details_list_1920x1080");
        // "List" draws the thumbnails as rows with their details, in the pane.
        ASSERT_TRUE(f.Router().Execute(CmdId::ViewList));
        EXPECT_FALSE(list->isVisible());
        EXPECT_TRUE(p.pane().isVisible());
        EXPECT_TRUE(p.browser().IsDetailsView());
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_list_rows_1920x1080");
        // And back to the thumbnails.
        ASSERT_TRUE(f.Router().Execute(CmdId::ViewThumbnails));
        EXPECT_FALSE(p.browser().IsDetailsView());
        EXPECT_FALSE(list->isVisible());
        EXPECT_TRUE(p.pane().isVisible());
        ASSERT_TRUE(WaitUntil([&] { return p.ThumbnailsReady(6); }));

        auto indexOf = [&](const std::string& name) {
            const std::vector<std::string> paths = p.browser().Paths();
            for (size_t i = 0; i < paths.size(); ++i)
                if (std::filesystem::path(paths[i]).filename() == name)
                    return static_cast<int>(i);
            return -1;
        };
        // The thumbnails' context menu adds the photo under the mouse to the project,
        ASSERT_EQ(f.Document().GetPhotoList().GetCount(), 0u);
        {
            TestSupport::PopupCloser closer(TestSupport::ActivePopup, [](QWidget* popup) {
                auto* menu = qobject_cast<QMenu*>(popup);
                ASSERT_TRUE(menu);
                SaveScreenshot(menu, "browser_task1_context_menu");
                if (QAction* add = menu->findChild<QAction*>(QStringLiteral("32808")))
                    add->trigger();
            });
            QTest::mouseClick(p.pane().viewport(), Qt::RightButton, {},
                              p.ItemRect(indexOf("boat3.jpg")).center());
            EXPECT_TRUE(closer.Shown());
        }
        EXPECT_EQ(p.SelectedNames(), std::vector<std::string>{"boat3.jpg"});
        ASSERT_TRUE(WaitUntil([&] { return f.Document().GetPhotoList().GetCount() == 1; }, 2000));
        // then two thumbnails chosen with the mouse go in with "Add".
        p.ClickItem(indexOf("boat2.jpg"));
        p.ClickItem(indexOf("boat4.jpg"), Qt::ControlModifier);
        EXPECT_EQ(p.SelectedNames(), (std::vector<std::string>{"boat2.jpg", "boat4.jpg"}));
        QTest::qWait(50);
        SaveScreenshot(&f, "browser_task1_two_selected_1920x1080");
        QTest::mouseClick(f.View()->Strip()->AddButton(), Qt::LeftButton);
        QTest::qWait(20);
        ASSERT_EQ(f.Document().GetPhotoList().GetCount(), 3u);

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
        WaitForJobs(f.Document());
        CDlgStitching& page = *f.StitchBar()->StitchPage();
        page.Poll();
        ASSERT_TRUE(page.StartButton()->isEnabled());
        QTest::mouseClick(page.StartButton(), Qt::LeftButton);
        WaitForJobs(f.Document());
        ASSERT_TRUE(WaitUntil([&] { return f.Document().GetDisplayResult() != nullptr; }, 60000));
        PanoramaLib::IPanoElement* result = f.Document().GetDisplayResult();
        EXPECT_GT(result->GetWidth(), result->GetHeight());

        // Back in task 1 the browser still shows the folder.
        f.SetTask(1);
        WaitForJobs(f.Document());
        EXPECT_EQ(p.browser().CurrentFolder(), boatRow);
    }
    // The next start selects the folder of the last one.
    Program again(profile, {1280, 800});
    again.frame().SetTask(1);
    WaitForJobs(again.frame().Document());
    EXPECT_EQ(CShellTree::GetItemPath(again.frame().FolderTree()->currentItem()), boatRow);
    ASSERT_TRUE(WaitUntil([&] { return again.ThumbnailsReady(6); }));
    QTest::qWait(100);
    SaveScreenshot(&again.frame(), "browser_task1_1280x800");
}
