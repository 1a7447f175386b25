#include <gtest/gtest.h>

#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "CThumbsView.h"
#include "CThumbsWnd.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"
#include "Profile.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "UiServices.h"

namespace {

// An application object on the default skin with a fresh profile, started
// with some of the sample photos.
struct Started {
    QTemporaryDir dir;
    COvHorizelApp app;
    QStringList messages;
    explicit Started(int photos = 6) {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        UiServices::SetMessageHandler([this](QWidget*, const QString& t, const QString&) { messages << t; });
        std::vector<std::string> files;
        for (int i = 1; i <= photos; ++i)
            files.push_back(std::string(OVH_SAMPLES_DIR) + "/boat-row/boat" + std::to_string(i) + ".jpg");
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", files);
        WaitForJobs(frame().Document());
    }
    ~Started() {
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
};

}  // namespace

TEST(MainFrame, EachTaskShowsItsBars) {
    Started s;
    CMainFrame& f = s.frame();
    EXPECT_EQ(f.windowTitle(), "ORVEX Horizel 2");
    EXPECT_EQ(f.minimumSize(), QSize(800, 740));
    struct Case {
        int task;
        bool strip, folders, stitch, save, browser;
        int zoomMin, zoomMax;
    };
    const Case cases[] = {
        {1, true, true, false, false, true, 50, 100},
        {2, true, false, true, false, false, 0, 17},
        {3, false, false, false, true, false, 0, 17},
    };
    for (const Case& c : cases) {
        f.SetTask(c.task);
        WaitForJobs(f.Document());
        EXPECT_EQ(f.PhotoStripBar()->isVisible(), c.strip) << c.task;
        EXPECT_EQ(f.FolderBar()->isVisible(), c.folders) << c.task;
        EXPECT_EQ(f.StitchBar()->isVisible(), c.stitch) << c.task;
        EXPECT_EQ(f.SaveBar()->isVisible(), c.save) << c.task;
        EXPECT_EQ(f.View()->IsBrowserShown(), c.browser) << c.task;
        EXPECT_EQ(f.TaskBar()->Zoom()->GetMin(), c.zoomMin) << c.task;
        EXPECT_EQ(f.TaskBar()->Zoom()->GetMax(), c.zoomMax) << c.task;
        EXPECT_EQ(f.TaskBar()->Tabs()->GetCurSel(), c.task - 1);
    }
    f.SetTask(1);
    WaitForJobs(f.Document());
    EXPECT_EQ(f.TaskBar()->Zoom()->GetPos(), 57);
    EXPECT_EQ(f.TaskBar()->Zoom()->GetStep(), 10);
    EXPECT_EQ(f.dockWidgetArea(f.FolderBar()), Qt::LeftDockWidgetArea);
    EXPECT_FALSE(f.FolderBar()->HasCloseButton()) << "showing the current folder drops the close button";
}

TEST(MainFrame, TabsAndActionsRunTheTaskCommands) {
    Started s;
    CMainFrame& f = s.frame();
    emit f.TaskBar()->Tabs()->tabBarClicked(2);
    WaitForJobs(f.Document());
    EXPECT_EQ(f.GetTask(), 3);
    f.Action(CmdId::TaskAddImages)->trigger();
    EXPECT_EQ(f.GetTask(), 1);
    f.OnIdleUpdate();
    EXPECT_TRUE(f.Action(CmdId::AddSelected)->isEnabled());
    f.SetTask(2);
    WaitForJobs(f.Document());
    f.OnIdleUpdate();
    EXPECT_FALSE(f.Action(CmdId::AddSelected)->isEnabled());
}

TEST(MainFrame, StitchWithTooFewPhotosAsksForThemFirst) {
    Started s(1);
    s.frame().SetTask(2);
    WaitForJobs(s.frame().Document());
    ASSERT_EQ(s.messages.size(), 1);
    EXPECT_EQ(s.messages[0], "Please select images to add to panorama project first!");
    EXPECT_EQ(s.frame().GetTask(), 2);
}

TEST(MainFrame, StatusPanesFollowTheTask) {
    Started s;
    CMainFrame& f = s.frame();
    f.SetTask(2);
    WaitForJobs(f.Document());
    f.SetStatusPanes({"t1", "t2", "t3", "t4", "t5", "t6"}, true);
    EXPECT_EQ(f.PaneText(1), "");
    EXPECT_EQ(f.PaneText(2), "t2");
    EXPECT_EQ(f.PaneText(4), "");
    EXPECT_EQ(f.PaneText(6), "t6");
    f.SetTask(1);
    WaitForJobs(f.Document());
    EXPECT_EQ(f.PaneText(1), "t1");
    EXPECT_EQ(f.PaneText(5), "t5");
    const QFontMetrics fm(f.statusBar()->font());
    EXPECT_EQ(f.PaneWidth(2), std::max(fm.horizontalAdvance("t2") + 15, 20));
    EXPECT_EQ(f.PaneWidth(4), 96);
    EXPECT_EQ(f.PaneWidth(5), 116);
    EXPECT_EQ(f.findChildren<QLabel*>(QRegularExpression("^pane\\d$")).size(), 7);
}

TEST(MainFrame, BarLayoutSurvivesARestartAndADamagedStateGivesTheDefault) {
    QTemporaryDir dir;
    const std::string profile = dir.path().toStdString() + "/profile.ini";
    {
        AppProfile::SetPath(profile);
        CMainFrame f;
        f.resize(1200, 900);
        f.show();
        f.SetTask(1);
        WaitForJobs(f.Document());
        f.addDockWidget(Qt::RightDockWidgetArea, f.FolderBar());
        f.FolderBar()->Sizes().vert = {260, 500};
        f.close();
    }
    {
        AppProfile::SetPath(profile);
        CMainFrame f;
        f.show();
        f.SetTask(1);
        WaitForJobs(f.Document());
        EXPECT_EQ(f.dockWidgetArea(f.FolderBar()), Qt::RightDockWidgetArea);
        EXPECT_EQ(f.FolderBar()->Sizes().vert.cx, 260);
    }
    for (const char* damaged : {"00ff00ff12", "zz", "000000ff000000000000"}) {
        AppProfile::SetPath(profile);
        AppProfile::WriteProfileString("BARS", "State", damaged);
        AppProfile::WriteProfileInt("BARS-SCBar-1001", "sizeVertCX", -5);
        CMainFrame f;
        f.show();
        f.SetTask(1);
        WaitForJobs(f.Document());
        EXPECT_EQ(f.dockWidgetArea(f.FolderBar()), Qt::LeftDockWidgetArea) << damaged;
        EXPECT_EQ(f.FolderBar()->Sizes().vert.cx, f.FolderBar()->Sizes().minVert.cx);
        EXPECT_EQ(f.dockWidgetArea(f.PhotoStripBar()), Qt::TopDockWidgetArea);
    }
}

TEST(MainFrame, ScreenshotsOfEachTask) {
    Started s;
    // The browser shows the sample folder.
    AppProfile::WriteProfileString("FOLDERS", "DEFAULT", std::string(OVH_SAMPLES_DIR) + "/boat-row");
    CMainFrame& f = s.frame();
    for (const QSize size : {QSize(800, 740), QSize(1920, 1080)}) {
        f.showNormal();
        f.resize(size);
        for (int task = 1; task <= 3; ++task) {
            f.SetTask(task);
            WaitForJobs(f.Document());
            QTest::qWait(20);
            if (task == 1) {
                // The pane shows the folder's photos, as a user sees them.
                CThumbsBrowser* browser = f.View()->ThumbsWnd()->View()->Browser();
                EXPECT_TRUE(QTest::qWaitFor([&] { return browser->ItemCount() == 6; }, 5000));
                QTest::qWait(200);
            }
            SaveScreenshot(
                &f, QStringLiteral("app_main_task%1_%2x%3").arg(task).arg(size.width()).arg(size.height()));
            EXPECT_GE(f.width(), 800);
            // Nothing overlaps the task bar or the status bar.
            EXPECT_GE(f.centralWidget()->geometry().top(), f.ReBar()->geometry().bottom());
            EXPECT_LE(f.centralWidget()->geometry().bottom(), f.statusBar()->geometry().top());
        }
    }
}

TEST(MainFrame, ExportStitchesFirstUnlessAResultIsPending) {
    Started s;
    CMainFrame& f = s.frame();
    COvHorizelDoc& doc = f.Document();
    AppProfile::WriteProfileInt("STITCHING", "lens type", 42);
    f.SetTask(1);
    WaitForJobs(f.Document());
    f.SetTask(3);
    WaitForJobs(f.Document());
    ASSERT_NE(doc.GetDisplayResult(), nullptr) << "export stitched with the profile's options";
    HVPanoramaOptions used;
    doc.GetOptions(&used);
    EXPECT_EQ(used.lensPresetId, 7) << "an out-of-range preset never reaches the engine";
    EXPECT_EQ(doc.GetCurrentTask(), 3);
    EXPECT_EQ(f.GetTask(), 3);
    EXPECT_EQ(f.View()->PictureView()->GetImage(), doc.GetDisplayResult()) << "the view shows the result";
}

TEST(MainFrame, ExportWithOnePhotoAndNoneSelectedShowsTheNote) {
    Started s(1);
    s.frame().SetTask(3);
    WaitForJobs(s.frame().Document());
    EXPECT_EQ(s.messages.size(), 1);
    EXPECT_EQ(s.frame().Document().GetDisplayResult(), nullptr) << "nothing to stitch";
    EXPECT_EQ(s.frame().GetTask(), 3);
}

TEST(MainFrame, DockedBarsTakeTheirKeptSizes) {
    Started s;
    CMainFrame& f = s.frame();
    f.showNormal();
    f.resize(1200, 900);
    f.SetTask(1);
    WaitForJobs(f.Document());
    f.FolderBar()->Sizes().vert = {320, 500};
    f.ApplyBarSizes();
    QTest::qWait(10);
    EXPECT_NEAR(f.FolderBar()->width(), 320, 8);
}

TEST(MainFrame, CommandsGoViewDocumentFrameApplicationAndMenusUpdateOnOpening) {
    struct Target : ICommandTarget {
        std::vector<int>* log;
        int tag;
        bool handles;
        Target(std::vector<int>* l, int t, bool h) : log(l), tag(t), handles(h) {}
        bool OnCmdMsg(int) override {
            log->push_back(tag);
            return handles;
        }
        bool OnUpdateCmdUI(CCmdUI& ui) override {
            if (tag != 1)
                return false;
            ui.Enable(false);
            return true;
        }
    };
    std::vector<int> log;
    Target view(&log, 0, false), document(&log, 1, false), app(&log, 3, true);
    CCommandRouter router;
    router.SetTarget(CCommandRouter::Application, &app);
    router.SetTarget(CCommandRouter::View, &view);
    router.SetTarget(CCommandRouter::Document, &document);
    EXPECT_TRUE(router.Execute(99));
    EXPECT_EQ(log, (std::vector<int>{0, 1, 3}));
    EXPECT_FALSE(router.Update(99).enabled);

    Started s;
    CMainFrame& f = s.frame();
    f.Router().SetTarget(CCommandRouter::Document, &document);
    QMenu menu;
    menu.addAction(f.Action(CmdId::AppExit));
    f.TrackMenu(&menu);
    emit menu.aboutToShow();
    EXPECT_FALSE(f.Action(CmdId::AppExit)->isEnabled()) << "the document's update handler comes first";
    f.Router().SetTarget(CCommandRouter::Document, nullptr);
    emit menu.aboutToShow();
    EXPECT_TRUE(f.Action(CmdId::AppExit)->isEnabled());
}

TEST(MainFrame, BarsSharingASideShareItsLengthWithTheFolderBarFirst) {
    Started s;
    CMainFrame& f = s.frame();
    f.showNormal();
    f.resize(1200, 900);
    f.SetTask(1);
    WaitForJobs(f.Document());
    f.StitchBar()->show();
    f.FolderBar()->Sizes().vert = {260, 300};
    f.StitchBar()->Sizes().vert = {260, 200};
    f.RecalcLayout();
    f.ApplyBarSizes();
    QTest::qWait(10);
    EXPECT_LT(f.FolderBar()->y(), f.StitchBar()->y()) << "the folder bar is laid out first";
    EXPECT_NEAR(f.FolderBar()->height() - f.StitchBar()->height(), 100, 12);
}
