#include <gtest/gtest.h>

#include "CustomDialogBar.h"
#include "ImgButton.h"
#include "Screenshot.h"
#include "TestSkin.h"
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
    EXPECT_EQ(tabs->GetTabCommandId(2), 32777);
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
    tabs->EnableTabById(32774, false);
    emit tabs->tabBarClicked(1);
    EXPECT_EQ(sent, std::vector<int>{32777});
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
