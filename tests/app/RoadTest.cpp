// The main road in the real main window: photos from the command line, the
// "2. Stitch" page in both modes, the result in the picture view, Cancel
// during a build, and the project commands reaching the document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QDrag>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "BrowserLocations.h"
#include "CDlgPrompts.h"
#include "CDlgSaving.h"
#include "CEditVideoStoryboard.h"
#include "CImgThumbsBrowser.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "CustomTabCtrl.h"
#include "DlgStitching.h"
#include "EventLoopWait.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"
#include "Profile.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "UiServices.h"
#include "ZoomCtrl.h"

namespace {

using SamplePhotos::Boat;

// The program started with the six boat photos on a fresh profile, at
// 1920x1080; a watcher answers prompts, can cancel the progress window once,
// and notes what it saw.
struct Road {
    QTemporaryDir dir;
    COvHorizelApp app;
    QTimer watcher;
    bool cancelOnce = false;
    int progressSeen = 0;
    QStringList prompts;
    QString promptAnswer = "6";

    explicit Road(int photos = 6, int horzVert = 1, int lensType = 7) {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        AppProfile::WriteProfileInt("STITCHING", "HorzVert", horzVert);
        AppProfile::WriteProfileInt("STITCHING", "lens type", lensType);
        UiServices::SetMessageHandler([this](QWidget*, const QString& t, const QString&) { prompts << t; });
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", SamplePhotos::BoatRow(photos));
        frame().showNormal();
        frame().setGeometry(0, 0, 1920, 1080);
        QTest::qWait(50);
        WaitForJobs(frame().Document());
        watcher.setInterval(2);
        QObject::connect(&watcher, &QTimer::timeout, [this] { Watch(); });
        watcher.start();
    }
    ~Road() {
        watcher.stop();
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    CDlgStitching& page() { return *frame().StitchBar()->StitchPage(); }
    CPictureView& view() { return *frame().View()->PictureView(); }

    void Watch() {
        CDlgProgressIndicator* progress = frame().Callbacks().ProgressWindow();
        if (progress && progress->isVisible()) {
            if (++progressSeen == 1)
                SaveScreenshot(progress, "road_progress");
            if (cancelOnce && progress->CancelButton()->isVisible()) {
                cancelOnce = false;
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
            }
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            prompts << box->text();
            box->accept();
        } else if (auto* prompt = qobject_cast<CDlgPromptBase*>(modal)) {
            prompts << prompt->Message();
            QTest::mouseClick(prompt->findChild<QPushButton*>(promptAnswer), Qt::LeftButton);
        }
    }
    // Presses "Start Stitching" as a user would, once the poll enabled it.
    void PressStart() {
        page().Poll();
        ASSERT_TRUE(page().StartButton()->isEnabled());
        QTest::mouseClick(page().StartButton(), Qt::LeftButton);
        WaitForJobs(frame().Document());
        QTest::qWait(20);
    }
};

int StripCount(CMainFrame& f) {
    return static_cast<int>(f.PhotoStrip()->GetItems(f.PhotoStrip()->Manager()).size());
}

}  // namespace

TEST(Road, StitchBothModesFromTheCommandLineIntoThePictureView) {
    Road r;
    CMainFrame& f = r.frame();
    ASSERT_EQ(f.GetTask(), 2) << "two or more photos on the command line open the stitch task";
    EXPECT_EQ(f.Document().GetPhotoList().GetCount(), 6u);
    EXPECT_EQ(StripCount(f), 6);
    ASSERT_TRUE(f.StitchBar()->isVisible());
    EXPECT_EQ(r.page().Tabs()->currentIndex(), 0);
    EXPECT_EQ(r.view().GetImage(), nullptr);
    SaveScreenshot(&f, "road_stitch_page_hv_1920x1080");

    // Horizontal/vertical.
    r.PressStart();
    PanoramaLib::IPanoElement* planar = f.Document().GetDisplayResult();
    ASSERT_NE(planar, nullptr);
    EXPECT_GT(planar->GetWidth(), 2 * planar->GetHeight()) << "a row of six photos is wide";
    EXPECT_EQ(r.view().GetImage(), planar);
    EXPECT_TRUE(r.view().IsFitMode());
    EXPECT_TRUE(f.PaneText(2).endsWith('%')) << "the zoom text follows the view";
    r.page().Poll();
    EXPECT_FALSE(r.page().StartButton()->isEnabled()) << "nothing changed since the stitch";
    EXPECT_TRUE(f.isEnabled());
    SaveScreenshot(&f, "road_after_stitch_hv_1920x1080");

    // A changed option asks for a new stitch.
    QTest::mouseClick(r.page().HVPage()->findChild<QRadioButton*>("1007"), Qt::LeftButton);
    r.page().Poll();
    EXPECT_TRUE(r.page().StartButton()->isEnabled());

    // Zoom commands and the zoom bar drive the view.
    f.Router().Execute(CmdId::ZoomActual);
    EXPECT_DOUBLE_EQ(r.view().GetZoom(), 100.0);
    f.TaskBar()->Zoom()->OnZoom(5, 0);
    EXPECT_EQ(r.view().GetZoomIndex(), 5) << "the zoom bar drives the view";
    f.Router().Execute(CmdId::ZoomFitWindow);
    EXPECT_TRUE(r.view().IsFitMode());

    // Tiled/multifocus: the tab chooses the engine.
    r.page().Tabs()->setCurrentIndex(1);
    EXPECT_EQ(r.page().Mode(), 0);
    EXPECT_TRUE(f.Document().GetTiledOptions());
    r.page().Poll();
    EXPECT_FALSE(r.page().TLPage()->findChild<QSlider*>("1060")->isEnabled()) << "no tiled result yet";
    SaveScreenshot(&f, "road_stitch_page_tiled_1920x1080");
    r.PressStart();
    PanoramaLib::IPanoElement* tiled = f.Document().GetDisplayResult();
    ASSERT_NE(tiled, nullptr);
    EXPECT_EQ(r.view().GetImage(), tiled);
    r.page().Poll();
    auto* elevation = r.page().TLPage()->findChild<QLineEdit*>("1070");
    ASSERT_TRUE(elevation->isEnabled()) << "the geometry follows the tiled result";
    SaveScreenshot(&f, "road_after_stitch_tiled_1920x1080");

    // A new elevation renders on the render thread and reaches the view.
    elevation->setText("20");
    int surface = 0, elev = 0, azimuth = 0, tilt = 0;
    f.Document().GetTiledRenderParams(&surface, &elev, &azimuth, &tilt);
    EXPECT_EQ(elev, 20);
    EXPECT_EQ(r.page().TLPage()->findChild<QSlider*>("1060")->value(), 20);
    for (int i = 0; i < 200 && r.view().GetImage() == nullptr; ++i)
        QTest::qWait(10);
    QTest::qWait(200);
    EXPECT_NE(r.view().GetImage(), nullptr);
    SaveScreenshot(&f, "road_tiled_elevation20_1920x1080");
    EXPECT_TRUE(r.prompts.isEmpty()) << r.prompts.join('|').toStdString();
}

TEST(Road, CancelDuringABuildLeavesAUsableProgramAndTheNextBuildSucceeds) {
    for (int mode : {1, 0}) {
        Road r(6, mode);
        r.cancelOnce = true;
        r.PressStart();
        EXPECT_GT(r.progressSeen, 0);
        EXPECT_FALSE(r.cancelOnce) << "cancel was pressed";
        EXPECT_TRUE(r.frame().isEnabled());
        EXPECT_FALSE(r.frame().Document().IsStitching());
        EXPECT_FALSE(r.frame().Callbacks().ProgressWindow()->isVisible());
        r.PressStart();
        ASSERT_NE(r.frame().Document().GetDisplayResult(), nullptr) << "mode " << mode;
        EXPECT_EQ(r.view().GetImage(), r.frame().Document().GetDisplayResult());
        SaveScreenshot(&r.frame(), QStringLiteral("road_after_cancel_then_stitch_mode%1").arg(mode));
    }
}

TEST(Road, AStoredLensPresetTheListLacksStitchesWithTheDefaultAndIsKept) {
    Road r(6, 1, 42);
    EXPECT_EQ(r.page().HVPage()->findChild<QComboBox*>("1010")->currentIndex(), -1);
    QTest::mouseClick(r.page().HVPage()->findChild<QCheckBox*>("1009"), Qt::LeftButton);
    r.PressStart();
    HVPanoramaOptions used;
    r.frame().Document().GetOptions(&used);
    EXPECT_EQ(used.lensPresetId, 7);
    EXPECT_TRUE(used.lensCompensation);
    EXPECT_NE(r.frame().Document().GetDisplayResult(), nullptr);
    EXPECT_EQ(r.page().HVPage()->Options().lensPresetId, 42) << "the profile keeps what it held";
}

TEST(Road, ProjectCommandsAndDropsReachTheDocument) {
    Road r(4);
    CMainFrame& f = r.frame();
    COvHorizelDoc& doc = f.Document();
    ASSERT_EQ(doc.GetPhotoList().GetCount(), 4u);

    // Files dropped on the window join the project; folders do not.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Boat(5))),
                  QUrl::fromLocalFile(QString::fromStdString(Boat(6))), QUrl::fromLocalFile(r.dir.path())});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&f, &drop);
    EXPECT_EQ(doc.GetPhotoList().GetCount(), 6u);
    EXPECT_EQ(StripCount(f), 6);

    // Remove with nothing current only says so; with a current photo it goes.
    f.PhotoStrip()->Manager()->ResetCurrent();
    f.Router().Execute(CmdId::RemoveSelected);
    EXPECT_EQ(doc.GetPhotoList().GetCount(), 6u);
    ASSERT_EQ(r.prompts.size(), 1);
    CClipDescription* first = doc.GetPhotoList().begin()->get();
    f.PhotoStrip()->Manager()->SetAnchorAndCurrent(first, first);
    f.Router().Execute(CmdId::RemoveSelected);
    EXPECT_EQ(doc.GetPhotoList().GetCount(), 5u);

    // Remove All is offered on the add-images task only.
    EXPECT_FALSE(f.Router().Update(CmdId::RemoveAll).enabled);
    f.SetTask(1);
    WaitForJobs(f.Document());
    // The picture view's zoom news leaves the browser's status and zoom bar alone.
    const QString pane2 = f.PaneText(2);
    const int zoomPos = f.TaskBar()->Zoom()->GetPos();
    emit f.View()->PictureView()->ZoomDisplayChanged();
    EXPECT_EQ(f.PaneText(2), pane2);
    EXPECT_EQ(f.TaskBar()->Zoom()->GetPos(), zoomPos);
    EXPECT_TRUE(f.Router().Update(CmdId::RemoveAll).enabled);
    f.Router().Execute(CmdId::RemoveAll);
    EXPECT_EQ(doc.GetPhotoList().GetCount(), 0u);
    EXPECT_EQ(f.Action(CmdId::FileOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
}

TEST(Road, PromptScreenshots) {
    Road r(2);
    QWidget* frame = &r.frame();
    CDlgPromptAcceptPanorama accept(frame, 2, 6);
    CDlgWarningCyclorama cyclorama(frame);
    CDlgAboutToChangeMessage change(frame);
    change.SetMessage(QStringLiteral("The panorama will be rebuilt without its current result. Continue?"));
    for (auto [dialog, name] : {std::pair<QDialog*, const char*>{&accept, "road_prompt_accept_panorama"},
                                {&cyclorama, "road_prompt_cyclorama"},
                                {&change, "road_prompt_about_to_change"}}) {
        dialog->show();
        QTest::qWait(20);
        SaveScreenshot(dialog, name);
        EXPECT_EQ(dialog->windowTitle(), "ORVEX Horizel");
        dialog->hide();
    }
}

namespace {

CCustomTabCtrl* TaskTabs(CMainFrame& f) {
    return f.TaskBar()->Tabs();
}

QPoint StripCell(CMainFrame& f, int index) {
    CEditVideoStoryboard* strip = f.PhotoStrip();
    return strip->ItemRect(index).center() - QPoint(strip->ScrollX(), 0);
}

std::vector<std::string> StripOrder(CMainFrame& f) {
    std::vector<std::string> names;
    for (const auto& photo : f.Document().GetPhotoList())
        names.push_back(photo->GetFileName());
    return names;
}

// Mouse events while a drag runs belong to the toolkit's drag loop, which
// holds the pointer: nothing else of the program gets them.
class DragLoopPointer : public QObject {
public:
    DragLoopPointer() { qApp->installEventFilter(this); }
    ~DragLoopPointer() override { qApp->removeEventFilter(this); }
    int eaten = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                // A prompt that could only be closed by the mouse would hang
                // the drag: after a while it is let go with Escape.
                if (++eaten > 40)
                    if (QWidget* modal = QApplication::activeModalWidget())
                        QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
                return true;
            default:
                return false;
        }
    }
};

// Presses on a cell of the main window's strip and moves to another; the drag
// that starts is carried to the strip as the drag loop would, with the pointer
// held by the loop.
void DragInStrip(CMainFrame& f, int from, int to, QImage* picture = nullptr) {
    CEditVideoStoryboard* strip = f.PhotoStrip();
    const QPoint target = StripCell(f, to) + QPoint(20, 0);
    strip->execDrag = [&](QDrag* drag) {
        if (picture)
            *picture = drag->pixmap().toImage();
        DragLoopPointer loop;
        const QMimeData& data = *drag->mimeData();
        QDragEnterEvent enter(target, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(strip->viewport(), &enter);
        QDragMoveEvent move(target, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(strip->viewport(), &move);
        QDropEvent drop(QPointF(target), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(strip->viewport(), &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    };
    QTest::mousePress(strip->viewport(), Qt::LeftButton, {}, StripCell(f, from));
    QTest::mouseMove(strip->viewport(), StripCell(f, from) + QPoint(8, 0));
    QTest::mouseMove(strip->viewport(), target);
    QTest::mouseRelease(strip->viewport(), Qt::LeftButton, {}, target);
    strip->execDrag = nullptr;
}

}  // namespace

TEST(Road, AReorderAfterAStitchAsksWithAPromptTheMouseCanAnswerAndTheNextClickCounts) {
    Road r(3);
    CMainFrame& f = r.frame();
    r.PressStart();
    ASSERT_NE(f.Document().GetDisplayResult(), nullptr);
    f.SetTask(1);
    WaitForJobs(f.Document());
    QTest::qWait(20);
    const std::vector<std::string> before = StripOrder(f);
    QImage picture;
    DragInStrip(f, 0, 2, &picture);
    ASSERT_EQ(r.prompts.size(), 1) << "the reorder asks once";
    EXPECT_EQ(StripOrder(f), (std::vector<std::string>{before[1], before[0], before[2]}))
        << "Yes was clicked: the photo moved";
    EXPECT_FALSE(f.PhotoStrip()->IsDropMarkerShown());

    // The drag shows the photo's cell, not a blank box.
    ASSERT_FALSE(picture.isNull());
    int coloured = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            coloured += QColor(picture.pixel(x, y)).saturation() > 40 ? 1 : 0;
    EXPECT_GT(coloured, picture.width() * picture.height() / 5);
    SaveScreenshot(f.PhotoStrip(), "road_strip_after_reorder");

    // The next click lands where it is aimed.
    QTest::mouseClick(TaskTabs(f), Qt::LeftButton, {}, TaskTabs(f)->tabRect(1).center());
    WaitForJobs(f.Document());
    QTest::qWait(20);
    EXPECT_EQ(f.GetTask(), 2);
}

TEST(Road, ADeclinedReorderLeavesNoMarkerAndNoChange) {
    Road r(3);
    CMainFrame& f = r.frame();
    r.PressStart();
    f.SetTask(1);
    WaitForJobs(f.Document());
    r.promptAnswer = "7";
    const std::vector<std::string> before = StripOrder(f);
    DragInStrip(f, 0, 2);
    EXPECT_EQ(r.prompts.size(), 1);
    EXPECT_EQ(StripOrder(f), before);
    EXPECT_FALSE(f.PhotoStrip()->IsDropMarkerShown());
    SaveScreenshot(f.PhotoStrip(), "road_strip_after_declined_reorder");
}

TEST(Road, ShiftAndCtrlClicksInTheStripSelectRangesAndSingles) {
    Road r(6);
    CMainFrame& f = r.frame();
    f.SetTask(1);
    WaitForJobs(f.Document());
    CEditVideoStoryboard* strip = f.PhotoStrip();
    auto selected = [&] {
        std::string s;
        for (const auto& photo : f.Document().GetPhotoList())
            s += strip->Manager()->IsSelected(photo.get()) ? '1' : '0';
        return s;
    };
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, StripCell(f, 1));
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, Qt::ShiftModifier, StripCell(f, 4));
    EXPECT_EQ(selected(), "011110");
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, Qt::ControlModifier, StripCell(f, 2));
    EXPECT_EQ(selected(), "010110");
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, Qt::ControlModifier, StripCell(f, 5));
    EXPECT_EQ(selected(), "010111");
    SaveScreenshot(strip, "road_strip_ctrl_selection");
    QTest::keyClick(strip, Qt::Key_Delete);
    EXPECT_EQ(StripOrder(f), (std::vector<std::string>{"boat1.jpg", "boat3.jpg"}));
    // Shift+click with nothing chosen yet is a plain click.
    strip->Manager()->ResetCurrent();
    QTest::mouseClick(strip->viewport(), Qt::LeftButton, Qt::ShiftModifier, StripCell(f, 1));
    EXPECT_EQ(selected(), "01");
}

TEST(Road, FilesDraggedFromTheTaskOneListJoinTheProject) {
    Road r(2);
    CMainFrame& f = r.frame();
    f.SetTask(1);
    WaitForJobs(f.Document());
    CImgThumbsBrowser* browser = f.View()->Browser();
    ASSERT_NE(browser, nullptr);
    OpenBrowserFolder("0," + std::string(OVH_SAMPLES_DIR) + "/boat-row", nullptr);
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return browser->ItemCount() >= 3; }, 10000));
    const std::vector<std::string> paths = browser->Paths();
    const auto third = std::find(paths.begin(), paths.end(), Boat(3));
    ASSERT_NE(third, paths.end());
    browser->DeselectAllExcept(static_cast<int>(third - paths.begin()));
    browser->SetSelected(static_cast<int>(third - paths.begin()), true);
    // The browser's own drag data: its selection as a file list.
    std::vector<std::string> selected;
    browser->GetSelectedFiles(selected);
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData(selected));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls().size(), 1);
    CEditVideoStoryboard* strip = f.PhotoStrip();
    const QPoint at = StripCell(f, 1);
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(strip->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(strip->viewport(), &drop);
    QTest::qWait(20);
    EXPECT_EQ(StripOrder(f), (std::vector<std::string>{"boat1.jpg", "boat3.jpg", "boat2.jpg"}));
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "the list keeps its file";
}

TEST(Road, TheStripScrollsOnlyWhenItsPhotosDoNotFitAndShowsPhotosJustAdded) {
    Road r(0);
    CMainFrame& f = r.frame();
    f.setGeometry(0, 0, 1280, 900);
    f.SetTask(1);
    WaitForJobs(f.Document());
    CEditVideoStoryboard* strip = f.PhotoStrip();
    QTest::qWait(20);
    EXPECT_FALSE(strip->horizontalScrollBar()->isVisible()) << "an empty project";
    f.AddFilesToProject(SamplePhotos::BoatRow());
    QTest::qWait(20);
    EXPECT_FALSE(strip->horizontalScrollBar()->isVisible()) << "six photos fit 1280 pixels";

    // Twelve do not: the bar appears and the last one added is in view.
    QTemporaryDir copies;
    std::vector<std::string> more;
    for (int i = 1; i <= 6; ++i) {
        const QString copy = copies.path() + QStringLiteral("/copy%1.jpg").arg(i);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(Boat(i)), copy));
        more.push_back(copy.toStdString());
    }
    f.AddFilesToProject(more);
    QTest::qWait(20);
    EXPECT_TRUE(strip->horizontalScrollBar()->isVisible());
    const QRect last = strip->ItemRect(11);
    const QRect visible = strip->GetVisibleRect();
    EXPECT_GE(last.left(), visible.left());
    EXPECT_LE(last.right(), visible.right());
    SaveScreenshot(&f, "road_strip_twelve_photos");
}

// The program on 1920 x 1080 at 150 % (1280 x 720 logical), run in a child
// of this binary, since the screen is chosen when the application starts.
TEST(Road, TheWindowFitsASmallScreenAndEveryTaskAt1280x720) {
    if (qEnvironmentVariableIsSet("OVH_SMALL_SCREEN")) {
        Road r(6);
        CMainFrame& f = r.frame();
        const QRect room = f.screen()->availableGeometry();
        ASSERT_EQ(room.size(), QSize(1280, 720));
        EXPECT_LE(f.minimumSize().width(), room.width());
        EXPECT_LE(f.minimumSize().height(), room.height());
        f.showMaximized();
        QTest::qWait(50);
        EXPECT_TRUE(room.contains(f.frameGeometry())) << "maximised, the window stays on its screen";
        r.PressStart();
        for (int task : {1, 2, 3}) {
            f.SetTask(task);
            WaitForJobs(f.Document());
            QTest::qWait(50);
            EXPECT_TRUE(room.contains(f.frameGeometry())) << "task " << task;
            EXPECT_EQ(f.statusBar()->geometry().bottom(), f.height() - 1) << "task " << task;
            // Controls outside a scrolling area lie inside the window.
            for (QWidget* w : f.findChildren<QWidget*>()) {
                if (!w->isVisible() || w->isWindow() ||
                    !(qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                      qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w)))
                    continue;
                bool scrolls = false;
                for (QWidget* p = w->parentWidget(); p && p != &f; p = p->parentWidget())
                    scrolls = scrolls || qobject_cast<QAbstractScrollArea*>(p);
                const QRect inFrame(w->mapTo(&f, QPoint(0, 0)), w->size());
                EXPECT_TRUE(scrolls || f.rect().contains(inFrame))
                    << "task " << task << ": " << w->metaObject()->className() << " "
                    << w->objectName().toStdString();
            }
            SaveScreenshot(&f, QStringLiteral("road_task%1_1280x720_at_150").arg(task));
        }
        return;
    }
    QTemporaryDir dir;
    const QString config = dir.path() + "/screens.json";
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"windowFrameMargins": true, "screens": [{"name": "laptop", "x": 0, "y": 0,
               "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
    env.insert("QT_SCALE_FACTOR", "1.5");
    env.insert("OVH_SMALL_SCREEN", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=Road.TheWindowFitsASmallScreenAndEveryTaskAt1280x720"});
    ASSERT_TRUE(child.waitForFinished(300000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

TEST(Road, TaskTabTextReadsInEveryState) {
    Road r(2);
    CMainFrame& f = r.frame();
    CCustomTabCtrl* tabs = TaskTabs(f);
    // Contrast of the text against its tab: the tab's commonest colour is
    // its background, the pixel farthest from it is the text.
    auto luminance = [](QColor c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    auto contrast = [&](int index) {
        const QImage shot = tabs->grab().toImage();
        // Right of the tab's picture (20 pixels, drawn 12 in), where its text is.
        const QRect area = tabs->tabRect(index).adjusted(42, 6, -4, -4) & shot.rect();
        std::map<QRgb, int> counts;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                ++counts[shot.pixel(x, y)];
        const QRgb back = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                              return a.second < b.second;
                          })->first;
        const double lb = luminance(QColor(back));
        double best = 1.0;
        for (const auto& [pixel, n] : counts) {
            const double lp = luminance(QColor(pixel));
            best = std::max(best, (std::max(lb, lp) + 0.05) / (std::min(lb, lp) + 0.05));
        }
        return best;
    };
    const int selected = tabs->currentIndex();
    for (int i = 0; i < tabs->count(); ++i) {
        QTest::mouseMove(tabs, QPoint(0, 0));
        EXPECT_GE(contrast(i), 4.5) << "tab " << i << (i == selected ? " (checked)" : "");
        QTest::mouseMove(tabs, tabs->tabRect(i).center());
        EXPECT_GE(contrast(i), 4.5) << "hovered tab " << i << (i == selected ? " (checked)" : "");
        if (i == selected)
            SaveScreenshot(tabs, "road_task_tabs_hover_checked");
    }
    QTest::mouseMove(tabs, QPoint(0, 0));
    const int other = selected == 0 ? 2 : 0;
    tabs->setTabEnabled(other, false);
    EXPECT_GE(contrast(other), 4.5) << "disabled tab";
    SaveScreenshot(tabs, "road_task_tabs_disabled");
}

TEST(Road, TheCropFramesHandlesAreWholeAndGrabbableAtTheFittedZoom) {
    Road r(3);
    CMainFrame& f = r.frame();
    r.PressStart();
    f.Router().Execute(CmdId::TaskExport);
    WaitForJobs(f.Document());
    ASSERT_EQ(f.GetTask(), 3);
    f.SavePage()->AspectCombo()->setCurrentIndex(1);  // "Manual"
    QTest::qWait(50);
    CPictureView& view = r.view();
    ASSERT_TRUE(view.IsCropShown());
    ASSERT_TRUE(view.IsFitMode());
    SaveScreenshot(&f, "road_export_crop_fitted");
    OrvexBase::Rect crop{};
    view.GetCropRect(&crop);
    // Every handle (radius 4) lies inside the view.
    const QRect client = view.viewport()->rect();
    for (int x : {crop.left, (crop.left + crop.right) / 2, crop.right})
        for (int y : {crop.top, (crop.top + crop.bottom) / 2, crop.bottom}) {
            QPoint p(x, y);
            view.ImageToClient(&p);
            EXPECT_TRUE(client.adjusted(4, 4, -4, -4).contains(p)) << p.x() << "," << p.y();
        }
    // The right-hand edge handle is grabbed and dragged left.
    QPoint handle(crop.right, (crop.top + crop.bottom) / 2);
    view.ImageToClient(&handle);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, handle);
    QTest::mouseMove(view.viewport(), handle - QPoint(30, 0));
    QTest::mouseMove(view.viewport(), handle - QPoint(60, 0));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, handle - QPoint(60, 0));
    OrvexBase::Rect moved{};
    view.GetCropRect(&moved);
    EXPECT_LT(moved.right, crop.right);
    EXPECT_EQ(moved.left, crop.left);
}

// A full-size render cancelled in the progress window leaves the preview as
// it was: nothing looks rendered, and the crop frame shows the crop chosen
// before the render, which the next render cuts.
TEST(Road, ACancelledRenderKeepsTheChosenCropInTheFrameAndForTheNextRender) {
    // Six photos: the render lasts long enough for Cancel to reach it.
    if (!QFile::exists(QString::fromStdString(Boat(6))))
        GTEST_SKIP() << "no boat photos";
    Road r(6);
    CMainFrame& f = r.frame();
    COvHorizelDoc& doc = f.Document();
    r.PressStart();
    f.Router().Execute(CmdId::TaskExport);
    WaitForJobs(doc);
    ASSERT_EQ(f.GetTask(), 3);
    CDlgSaving* page = f.SavePage();
    page->AspectCombo()->setCurrentIndex(1);  // "Manual"
    QTest::qWait(50);
    CPictureView& view = r.view();
    ASSERT_TRUE(view.IsCropShown());
    PanoramaLib::IPanoElement* preview = view.GetImage();
    ASSERT_NE(preview, nullptr);

    // The frame's right and left edges dragged inwards.
    OrvexBase::Rect automatic{};
    view.GetCropRect(&automatic);
    const auto dragEdge = [&](int x, int dx) {
        QPoint handle(x, (automatic.top + automatic.bottom) / 2);
        view.ImageToClient(&handle);
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, handle);
        QTest::mouseMove(view.viewport(), handle + QPoint(dx / 2, 0));
        QTest::mouseMove(view.viewport(), handle + QPoint(dx, 0));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, handle + QPoint(dx, 0));
    };
    dragEdge(automatic.right, -80);
    dragEdge(automatic.left, 60);
    OrvexBase::Rect chosen{};
    view.GetCropRect(&chosen);
    ASSERT_LT(chosen.right, automatic.right);
    ASSERT_GT(chosen.left, automatic.left);
    const auto text = [](const OrvexBase::Rect& rc) {
        return std::to_string(rc.left) + "," + std::to_string(rc.top) + " " + std::to_string(rc.right) + "," +
               std::to_string(rc.bottom);
    };

    r.cancelOnce = true;
    QTest::mouseClick(page->StartButton(), Qt::LeftButton);
    WaitForJobs(doc);
    QTest::qWait(20);
    ASSERT_FALSE(r.cancelOnce) << "cancel was pressed";
    ASSERT_FALSE(doc.IsFullResultCurrent()) << "the render ended before its cancel";
    SaveScreenshot(&f, "road_export_crop_after_cancelled_render");
    EXPECT_EQ(view.GetImage(), preview);
    EXPECT_TRUE(page->StartButton()->isEnabled());
    EXPECT_FALSE(page->ExportButton()->isEnabled());
    EXPECT_TRUE(f.PaneText(6).isEmpty()) << "no full-size result to describe";
    ASSERT_TRUE(view.IsCropShown());
    EXPECT_EQ(text(view.CropFrame().rect), text(chosen));
    OrvexBase::Rect kept{};
    view.GetCropRect(&kept);
    EXPECT_EQ(text(kept), text(chosen));

    // The boat photos are small enough for the preview to be at full size:
    // the full-size result is the chosen rectangle's size.
    QTest::mouseClick(page->StartButton(), Qt::LeftButton);
    WaitForJobs(doc);
    ASSERT_TRUE(doc.IsFullResultCurrent());
    PanoramaLib::IPanoElement* full = doc.GetPlanarEngine()->GetFullResult();
    EXPECT_EQ(full->GetWidth(), chosen.Width());
    EXPECT_EQ(full->GetHeight(), chosen.Height());
    EXPECT_FALSE(view.IsCropShown());
    EXPECT_FALSE(f.PaneText(6).isEmpty());
    EXPECT_TRUE(r.prompts.isEmpty()) << r.prompts.join('|').toStdString();
}

TEST(Road, TheExportTaskThatStitchesFirstShowsTheCropFrameOnTheNewResult) {
    Road r(3);
    CMainFrame& f = r.frame();
    ASSERT_EQ(f.GetTask(), 2);
    f.Router().Execute(CmdId::TaskExport);
    ASSERT_TRUE(WaitForJobs(f.Document()));
    ASSERT_EQ(f.GetTask(), 3);
    ASSERT_GT(f.Document().GetCropTypeIndex(), 0) << "a crop is chosen";
    ASSERT_NE(r.view().GetImage(), nullptr);
    EXPECT_EQ(r.view().GetImage(), f.Document().GetDisplayResult());
    EXPECT_TRUE(r.view().IsCropShown());
}
