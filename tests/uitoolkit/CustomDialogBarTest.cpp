#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include "ButtonStrip.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "ImgButton.h"
#include "MyToolBar.h"
#include "Screenshot.h"
#include "TestSkin.h"
#include "ToolDlgParent.h"
#include "UiServices.h"

TEST(CustomDialogBar, LayoutKeepsLogoAndZoomBarAtTheRight) {
    const auto l = CCustomDialogBar::ComputeLayout(1000, 48, 16, QSize(190, 26));
    EXPECT_EQ(l.tabs, QRect(0, 0, 756, 48));
    EXPECT_EQ(l.logo, QRect(952, 0, 48, 32));
    EXPECT_EQ(l.zoom.topLeft(), QPoint(756, 0));
    const auto tiny = CCustomDialogBar::ComputeLayout(0, 0, 16, QSize(190, 26));
    EXPECT_EQ(tiny.tabs.width(), 0);
    EXPECT_EQ(tiny.logo.height(), 0);
}

TEST(CustomDialogBar, TabsCarryTheirCommandsAndMissingSkinShowsItsDefaults) {
    TestSkin skin;
    CCustomDialogBar bar;
    CCustomTabCtrl* tabs = bar.Tabs();
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "1. Add Images");
    EXPECT_EQ(tabs->GetTabCommandId(2), CmdId::TaskExport);
    EXPECT_EQ(tabs->tabToolTip(1), "Adjust settings and stitch panorama");
    EXPECT_EQ(tabs->GetColors().background, QColor(255, 0, 0));
    EXPECT_EQ(tabs->GetColors().select, QColor(0, 255, 0));
    EXPECT_EQ(tabs->GetColors().textHighlight, QColor(0, 255, 255));

    bar.SelectTab(1);
    bar.SelectTab(3);
    bar.SelectTab(-1);
    EXPECT_EQ(tabs->GetCurSel(), 1);
    tabs->SelectTabById(12345);
    EXPECT_EQ(tabs->GetCurSel(), -1);
    EXPECT_THROW(tabs->InsertTab(-1, "x", 0), std::invalid_argument);
    EXPECT_THROW(tabs->SetTabCommandId(7, 1), std::invalid_argument);
    EXPECT_THROW(tabs->EnableTabById(999, false), std::invalid_argument);

    std::vector<int> sent;
    QObject::connect(&bar, &CCustomDialogBar::Command, [&](int id) { sent.push_back(id); });
    emit tabs->tabBarClicked(2);
    tabs->EnableTabById(CmdId::TaskStitch, false);
    emit tabs->tabBarClicked(1);
    EXPECT_EQ(sent, std::vector<int>{CmdId::TaskExport});
}

TEST(CustomDialogBar, ZoomStepsStopAtTheEnds) {
    EXPECT_EQ(CZoomCtrl::StepUp(95, 10, 100), 95);
    EXPECT_EQ(CZoomCtrl::StepDown(95, 10, 50), 85);
    EXPECT_EQ(CZoomCtrl::StepDown(50, 10, 50), 50);
    TestSkin skin;
    CCustomDialogBar bar;
    std::vector<std::pair<int, int>> zooms;
    bar.Zoom()->OnZoom = [&](int v, int code) { zooms.emplace_back(v, code); };
    bar.SetZoomRange(95, 50, 100, 10);
    bar.Zoom()->ZoomInButton()->click();
    bar.Zoom()->ZoomOutButton()->click();
    ASSERT_EQ(zooms.size(), 1u);
    EXPECT_EQ(zooms[0].first, 85);
    EXPECT_TRUE(CMySliderCtrl::BuildTrackImage(0, 10, QRect(), Qt::red).isNull());
}

TEST(CustomDialogBar, LogoOpensOnlyWebAddresses) {
    QStringList opened;
    UiServices::SetUrlHandler([&](const QString& url) { opened << url; });
    EXPECT_FALSE(UiServices::OpenUrl("file:///etc/passwd"));
    EXPECT_TRUE(UiServices::OpenUrl("https://example.org/"));
    TestSkin skin;
    CCustomDialogBar bar;
    bar.Logo()->click();
    EXPECT_EQ(opened.size(), 2);
    UiServices::SetUrlHandler(nullptr);
}

TEST(CustomDialogBar, ScreenshotWithTheDefaultSkin) {
    TestSkin skin(OVH_DEFAULT_SKIN_DIR);
    skin.Set("TASK TABS", "BACKGROND COLOR", "44, 62, 92");
    skin.Set("TASK TABS", "SELECT COLOR", "214, 226, 244");
    skin.Set("TASK TABS", "TEXT NORMAL COLOR", "214, 224, 240");
    skin.Set("TASK TABS", "TEXT SELECT COLOR", "28, 44, 74");
    skin.Set("TASK TABS", "TEXT HIGHLIGHT COLOR", "255, 206, 96");
    skin.Set("TASK TOOLBAR", "STANDARD", "TaskTabs.bmp");
    skin.Set("TASK TOOLBAR", "HOT", "TaskTabsHot.bmp");
    skin.Set("TASK TOOLBAR", "DISABLE", "TaskTabsDisabled.bmp");
    skin.Set("MAIN", "LOGO_TAB", "Logo.bmp");
    skin.Set("ZOOMBAR", "Thumb", "ZoomThumb.bmp");
    CCustomDialogBar bar;
    bar.SelectTab(1);
    bar.SetZoomRange(57, 50, 100, 10);
    bar.resize(900, bar.sizeHint().height());
    SaveScreenshot(&bar, "uitoolkit_task_bar");
    EXPECT_EQ(bar.Logo()->width(), 48);
}

TEST(MyToolBar, EmptySkinGivesThreeBareButtons) {
    TestSkin skin;
    CMainToolBar bar;
    bar.LoadButtons();
    EXPECT_EQ(bar.ButtonSize(), QSize(31, 32));
    EXPECT_EQ(bar.height(), 34);
    for (int id : {CmdId::FileOpen, CmdId::FilePrint, CmdId::Home}) {
        ASSERT_NE(bar.ButtonAction(id), nullptr) << id;
        EXPECT_TRUE(bar.ButtonAction(id)->icon().isNull());
    }
}

TEST(MyToolBar, RebarPaintsItsTwoModes) {
    QTemporaryDir dir;
    QImage back(300, 10, QImage::Format_ARGB32);
    back.fill(0xff000000);
    for (int y = 0; y < 10; ++y)
        back.setPixel(299, y, 0xff00ff00);
    QFile file(dir.path() + "/back.bmp");
    file.open(QIODevice::WriteOnly);
    file.write(Bitmap32::Encode(back));
    file.close();
    TestSkin skin(dir.path());
    skin.Set("TASK TOOLBAR", "BACKGROUND", "back.bmp");
    CMyReBar rebar;
    rebar.LoadBackground("TASK TOOLBAR");
    rebar.LoadBackground("TASK TOOLBAR");
    QImage canvas(1000, 40, QImage::Format_RGB32);
    {
        QPainter p(&canvas);
        rebar.PaintBackground(p, 1000, 40);
    }
    EXPECT_EQ(canvas.pixel(10, 5), qRgb(0, 0, 0));
    EXPECT_EQ(canvas.pixel(700, 5), qRgb(0, 255, 0)) << "the last column repeats to the right edge";
    EXPECT_EQ(canvas.pixel(700, 30), qRgb(232, 232, 232));
    rebar.SetHighlighted(true);
    {
        QPainter p(&canvas);
        rebar.PaintBackground(p, 1000, 40);
    }
    EXPECT_EQ(canvas.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(5, 35), qRgb(0, 255, 0));
}

TEST(ButtonStrip, SkinSetsItsPicturesAndHeight) {
    QTemporaryDir dir;
    WriteBmp(dir.path(), "add.bmp", QSize(40, 20), 0xff112233);
    WriteBmp(dir.path(), "back.bmp", QSize(8, 36), 0xffaabbcc);
    TestSkin skin(dir.path());
    skin.Set("FOLDERS DIALOG", "AddButtonImage", "add.bmp");
    {
        CButtonStrip strip;
        EXPECT_EQ(strip.GetStripHeight(), 100) << "no background picture";
    }
    skin.Set("FOLDERS DIALOG", "BACKGROUND FILE", "back.bmp");
    CButtonStrip strip;
    EXPECT_EQ(strip.GetStripHeight(), 40);
    EXPECT_EQ(strip.AddButton()->GetDisabledImageFile(), "add.bmp");
    EXPECT_EQ(strip.AddButton()->GetPressedImageFile(), "add.bmp");
    EXPECT_EQ(strip.AddButton()->toolTip(), "Add selected images to panorama project");
    EXPECT_EQ(strip.RemoveButton()->toolTip(), "Remove selected images from panorama project");
    std::vector<int> sent;
    QObject::connect(&strip, &CButtonStrip::Command, [&](int id) { sent.push_back(id); });
    strip.AddButton()->click();
    strip.RemoveButton()->click();
    EXPECT_EQ(sent, (std::vector<int>{CmdId::AddSelected, CmdId::RemoveSelected}));
    strip.resize(300, 40);
    strip.show();
    // The group is centred: Remove at its left end, Add at its right end.
    EXPECT_EQ(strip.RemoveButton()->x(), (300 - (2 * 40 + 24)) / 2);
    EXPECT_EQ(strip.AddButton()->geometry().right() + 1, strip.RemoveButton()->x() + 2 * 40 + 24);
    EXPECT_EQ(strip.AddButton()->height(), 40);
}

TEST(ToolDlgParent, LastPositionNeverGoesBelowZero) {
    EXPECT_EQ(CToolDlgParent::LastPosition(500, 200), 301);
    EXPECT_EQ(CToolDlgParent::LastPosition(100, 400), 0);
    CToolDlgParent parent;
    auto* page = new QWidget;
    page->setFixedSize(200, 600);
    parent.SetDialog(page);
    parent.resize(220, 200);
    parent.show();
    parent.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(page->y(), -16);
}
