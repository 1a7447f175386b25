// The main road in the real main window: photos from the command line, the
// "2. Stitch" page in both modes, the result in the picture view, Cancel
// during a build, and the project commands reaching the document.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "CDlgPrompts.h"
#include "CEditVideoStoryboard.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "DlgStitching.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"
#include "Profile.h"
#include "Screenshot.h"
#include "UiServices.h"
#include "ZoomCtrl.h"

namespace {

std::string Boat(int i) {
    return std::string(OVH_SAMPLES_DIR) + "/boat-row/boat" + std::to_string(i) + ".jpg";
}

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
        std::vector<std::string> files;
        for (int i = 1; i <= photos; ++i)
            files.push_back(Boat(i));
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", files);
        frame().showNormal();
        frame().setGeometry(0, 0, 1920, 1080);
        QTest::qWait(50);
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
