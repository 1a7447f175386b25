// The visited-folders strip, the recent-locations list it shows, the icon
// extractor and the browser frame around the thumbnail view.

#include <gtest/gtest.h>

#include <QPointer>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <filesystem>
#include <fstream>

#include "BrowserLocations.h"
#include "ButtonStrip.h"
#include "CIconExtractor.h"
#include "CThumbsView.h"
#include "CThumbsWnd.h"
#include "CVisitedFolders.h"
#include "EventLoopWait.h"
#include "Screenshot.h"
#include "TestData.h"

namespace {

struct RecentGuard {
    RecentGuard() { ClearRecentLocations(); }
    ~RecentGuard() { ClearRecentLocations(); }
};

}  // namespace

TEST(VisitedFolders, RecentLocationsAreUniqueMostRecentFirstAndAtMostTwenty) {
    RecentGuard guard;
    for (int i = 0; i < 25; ++i)
        AddRecentLocation("0,/photos/" + std::to_string(i));
    AddRecentLocation("0,/photos/24");
    ASSERT_EQ(RecentLocations().size(), 20u);
    EXPECT_EQ(RecentLocations().front(), "0,/photos/24");
    EXPECT_EQ(RecentLocations().back(), "0,/photos/5");
    AddRecentLocation("0,/Photos/24");
    EXPECT_EQ(RecentLocations().front(), "0,/Photos/24") << "case makes another folder";
}

TEST(VisitedFolders, FillSelectsTheCurrentLocationIgnoringCase) {
    RecentGuard guard;
    AddRecentLocation("0,/a");
    AddRecentLocation("0,/b/Photos");
    AddRecentLocation("9,Pictures");
    CVisitedFolders strip;
    strip.resize(500, strip.sizeHint().height());
    strip.Fill("0,/B/photos");
    ASSERT_EQ(strip.Combo()->count(), 3);
    EXPECT_EQ(strip.Combo()->itemText(0), "") << "a library text without ';' shows nothing";
    EXPECT_TRUE(strip.Combo()->itemIcon(0).isNull());
    EXPECT_EQ(strip.Combo()->itemText(1), "/b/Photos");
    EXPECT_EQ(strip.Combo()->currentIndex(), 1);
    strip.Fill("0,/nowhere");
    EXPECT_EQ(strip.Combo()->currentIndex(), -1);
    EXPECT_EQ(CVisitedFoldersCmb::GetDisplayText("9,Pictures;3;/home/p"), "Library: Pictures");
    EXPECT_EQ(CVisitedFoldersCmb::GetDisplayText("5,x"), "");
    EXPECT_EQ(strip.ParentButton()->toolTip(), "Parent folder");
}

TEST(VisitedFolders, PickingAFolderThatIsGoneKeepsTheShownOne) {
    RecentGuard guard;
    TestData::ScratchDir dir;
    const std::string gone = "0," + (dir / "renamed-away");
    const std::string shown = "0," + dir.path().string();
    AddRecentLocation(gone);
    AddRecentLocation(shown);
    CVisitedFolders strip;
    strip.resize(500, strip.sizeHint().height());
    strip.Fill(shown);
    ASSERT_EQ(strip.Combo()->count(), 2);
    ASSERT_EQ(strip.Combo()->LocationAt(1), gone);

    strip.Combo()->setCurrentIndex(1);
    emit strip.Combo()->activated(1);

    EXPECT_EQ(strip.Combo()->currentIndex(), 0);
    EXPECT_EQ(strip.Combo()->currentText(), QString::fromStdString(dir.path().string()));
    EXPECT_EQ(RecentLocations().front(), shown) << "the missing folder was not opened";
    EXPECT_TRUE(strip.IsReady());
}

TEST(VisitedFolders, ResizingKeepsTheComboAndButtonAtTheRightEdge) {
    RecentGuard guard;
    TestData::ScratchDir dir;
    AddRecentLocation("0," + dir.path().string());
    CVisitedFolders strip;
    strip.resize(600, strip.sizeHint().height());
    strip.Fill("0," + dir.path().string());
    strip.show();
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return strip.ParentButton()->x() == 600 - 40; }, 5000));
    EXPECT_EQ(strip.Combo()->geometry().right() + 1, 600 - 50);
    EXPECT_FALSE(strip.Combo()->itemIcon(0).isNull()) << "a folder shows its icon";
    SaveScreenshot(&strip, "visited_folders_strip");
}

TEST(IconExtractor, IconsAreSharedPerKindAndAMissingFileHasNone) {
    TestData::ScratchDir dir;
    std::ofstream(dir.path() / "a.jpg") << "x";
    std::ofstream(dir.path() / "b.jpg") << "y";
    CIconExtractor icons;
    EXPECT_FALSE(icons.GetFileIcon((dir.path() / "missing.jpg").string(), false));
    EXPECT_EQ(icons.LargeIndex(), -1);
    EXPECT_EQ(icons.SmallIndex(), -1);
    ASSERT_TRUE(icons.GetFileIcon((dir.path() / "a.jpg").string(), false));
    const int a = icons.SmallIndex();
    ASSERT_TRUE(icons.GetFileIcon((dir.path() / "b.jpg").string(), false));
    EXPECT_EQ(icons.SmallIndex(), a) << "one icon for every file of a kind";
    ASSERT_TRUE(icons.GetIcons(dir.path().string(), true));
    EXPECT_NE(icons.SmallIndex(), a);
    EXPECT_LT(icons.SmallIndex(), CIconExtractor::GetSmallImageList().Count());
}

TEST(ThumbsWnd, StripsOnTopTheViewBelowAndNoRepaintForNegativeItems) {
    CThumbsWnd frame;
    frame.resize(800, 500);
    frame.show();
    EXPECT_TRUE(
        TestSupport::WaitForEvents([&] { return frame.View()->geometry().bottom() == 500 - 1; }, 5000));
    const int strips = frame.Strip()->height() + frame.Visited()->height();
    EXPECT_EQ(frame.Strip()->y(), 0);
    EXPECT_EQ(frame.Visited()->y(), frame.Strip()->height());
    EXPECT_EQ(frame.View()->geometry(), QRect(0, strips, 800, 500 - strips));
    frame.View()->InvalidateItem(-1);
    // A zero-sized view keeps its scroll sizes.
    const QSize sizes = frame.View()->ScrollSizes();
    frame.View()->resize(0, 0);
    EXPECT_EQ(frame.View()->ScrollSizes(), sizes);
    SaveScreenshot(&frame, "thumbs_wnd_empty");
}

TEST(ThumbsWnd, DestroyingIsRefusedWhileTheViewHoldsTheMouse) {
    auto* frame = new CThumbsWnd;
    frame->resize(400, 300);
    frame->show();
    ASSERT_TRUE(
        TestSupport::WaitForEvents([&] { return frame->isVisible() && frame->View()->isVisible(); }, 5000));
    frame->View()->viewport()->grabMouse();
    EXPECT_FALSE(frame->DestroyWindow());
    EXPECT_NE(frame->View(), nullptr);
    frame->View()->viewport()->releaseMouse();
    QPointer<CThumbsWnd> gone(frame);
    EXPECT_TRUE(frame->DestroyWindow());
    EXPECT_EQ(frame->View(), nullptr);
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return gone.isNull(); }, 5000))
        << "the frame deletes itself";
}
