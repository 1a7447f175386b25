#include <gtest/gtest.h>

#include "PrintLayout.h"

using PrintMath::PlanPage;
using PrintMath::PrintMarker;
using PrintMath::PrintPagePlan;

namespace {

// A sheet of 1000 x 800 printable device pixels at 100 dpi.
PrinterCaps Sheet(int w = 1000, int h = 800, int dpi = 100) {
    return PrinterCaps{w, h, w + 40, h + 40, dpi, dpi, 24, 1};
}

PrintLayout Metric() {
    PrintLayout l;
    l.inchUnits = 0;
    return l;
}

}  // namespace

TEST(PrintMath, PaperSizeInTheLayoutsUnits) {
    struct Case {
        int dots, dpi;
        bool inch;
        int expected;
    } cases[] = {{4800, 600, true, 8000},
                 {4800, 600, false, 2032},
                 {3000, 300, true, 10000},
                 {3000, 300, false, 2540}};
    for (const Case& c : cases) {
        int cx = 0, cy = 0;
        ASSERT_TRUE(PrintMath::PaperSizeInUnits(c.dots, c.dots, c.dpi, c.dpi, c.inch, &cx, &cy));
        EXPECT_EQ(cx, c.expected) << c.dots << " at " << c.dpi;
    }
    int cx = 0, cy = 0;
    EXPECT_FALSE(PrintMath::PaperSizeInUnits(4800, 3000, 0, 300, true, &cx, &cy));
    EXPECT_FALSE(PrintMath::PaperSizeInUnits(4800, 3000, 600, -1, true, &cx, &cy));
}

TEST(PrintMath, UnitSwitchConvertsEveryLength) {
    PrintLayout l;
    l.keepProportions = 0;
    l.leftMargin = 1000, l.topMargin = 1, l.rightMargin = 2540, l.bottomMargin = 0, l.overlap = 500;
    l.width = 8000, l.height = 3000;
    PrintMath::ConvertUnits(&l, false);
    EXPECT_EQ(l.leftMargin, 254);
    EXPECT_EQ(l.topMargin, 0);  // a thousandth of an inch is below a tenth of a millimetre
    EXPECT_EQ(l.rightMargin, 645);
    EXPECT_EQ(l.overlap, 127);
    EXPECT_EQ(l.width, 2032);
    EXPECT_EQ(l.height, 762);
    PrintMath::ConvertUnits(&l, true);
    EXPECT_EQ(l.leftMargin, 1000);

    PrintLayout tenth = Metric();
    tenth.leftMargin = 1;
    PrintMath::ConvertUnits(&tenth, true);
    EXPECT_EQ(tenth.leftMargin, 4);

    // With keep proportions the height follows the new width.
    PrintLayout kept;
    kept.width = 8000, kept.height = 2000;
    PrintMath::ConvertUnits(&kept, false);
    EXPECT_EQ(kept.width, 2032);
    EXPECT_EQ(kept.height, 508);
    PrintLayout noWidth;
    noWidth.height = 2000;
    PrintMath::ConvertUnits(&noWidth, false);
    EXPECT_EQ(noWidth.height, 2000);
}

TEST(PrintMath, PageCountOfAManualSize) {
    // Inch units at 100 dpi: ten thousandths of an inch are one pixel.
    struct Case {
        const char* what;
        int widthPixels;
        bool overlap;
        int expected;
    } cases[] = {
        {"three sheets", 3000, false, 3},
        {"a little more than three", 3003, false, 4},
        // 79 pixels of overlap share 39: a first sheet of 1000, then steps of 961.
        {"three sheets sharing strips", 2922, true, 3},
        {"one pixel more", 2923, true, 4},
    };
    for (const Case& c : cases) {
        PrintLayout l;
        l.scaleMode = 1;
        l.overlapOn = c.overlap;
        l.overlap = 790;
        l.width = c.widthPixels * 10;
        l.height = 100;
        EXPECT_EQ(PrintMath::GetPrintPageCount(Sheet(), &l, 3000, 1000, true), c.expected) << c.what;
        EXPECT_EQ(l.imageWidth, 3000);
        EXPECT_EQ(l.imageHeight, 1000);
    }
    // No size chosen: the printable extent along the pages, the other side in proportion.
    PrintLayout side;
    side.scaleMode = 1;
    EXPECT_EQ(PrintMath::GetPrintPageCount(Sheet(), &side, 3000, 1000, true), 1);
    EXPECT_EQ(side.width, 10000);
    EXPECT_EQ(side.height, 3333);
    PrintLayout stacked;
    stacked.scaleMode = 1;
    EXPECT_EQ(PrintMath::GetPrintPageCount(Sheet(), &stacked, 1000, 3000, false), 1);
    EXPECT_EQ(stacked.height, 8000);
    EXPECT_EQ(stacked.width, 2667);
    // A printer reporting no resolution divides nothing.
    PrintLayout zero;
    EXPECT_EQ(PrintMath::GetPrintPageCount(Sheet(1000, 800, 0), &zero, 3000, 1000, true), 1);
    EXPECT_EQ(zero.width, 0);
}

namespace {

struct MarkerSeen {
    bool red;
    int number;
};

std::vector<MarkerSeen> MarkersOf(const PrintPagePlan& plan) {
    std::vector<MarkerSeen> seen;
    for (const PrintMarker& m : plan.markers)
        seen.push_back({m.red, m.number});
    return seen;
}

}  // namespace

TEST(PrintMath, ThreePagesWithOverlapJoinAtTheirMarkers) {
    PrintLayout l = Metric();
    l.pages = 3;
    l.overlapOn = true;
    l.overlap = 200;  // 20 mm: 79 pixels at 100 dpi, of which 39 are shared
    const int w = 3000, h = 800;
    PrintPagePlan plans[3];
    for (int p = 1; p <= 3; ++p) {
        plans[p - 1] = PlanPage(Sheet(), l, w, h, true, p, 3);
        ASSERT_TRUE(plans[p - 1].draw) << p;
        EXPECT_EQ(plans[p - 1].lastPage, 3);
    }
    // Fit: X = 961 * 3 + 39 = 2922 pixels across 3000 image pixels.
    const double scale = 2922.0 / 3000;
    for (int p = 0; p < 2; ++p) {
        // The red tick of page k and the black tick of page k+1 bound the
        // strip both pages show: page k+1 begins at the red tick.
        const PrintMarker& red = plans[p].markers.front();
        ASSERT_TRUE(red.red);
        const double redColumn = plans[p].source.left + (red.ticks[0].left - plans[p].target.left) / scale;
        EXPECT_NEAR(redColumn, plans[p + 1].source.left, 1.5) << p;
        const PrintMarker& black = plans[p + 1].markers.back();
        ASSERT_FALSE(black.red);
        const double blackColumn =
            plans[p + 1].source.left + (black.ticks[0].left - plans[p + 1].target.left) / scale;
        EXPECT_NEAR(blackColumn, plans[p].source.right, 1.5) << p;
    }
    EXPECT_EQ(plans[2].source.right, w);
    EXPECT_EQ(MarkersOf(plans[0]).size(), 1u);
    EXPECT_TRUE(plans[0].markers[0].red && plans[0].markers[0].number == 1);
    ASSERT_EQ(plans[1].markers.size(), 2u);
    EXPECT_TRUE(plans[1].markers[0].red && plans[1].markers[0].number == 2);
    EXPECT_TRUE(!plans[1].markers[1].red && plans[1].markers[1].number == 1);
    ASSERT_EQ(plans[2].markers.size(), 1u);
    EXPECT_TRUE(!plans[2].markers[0].red && plans[2].markers[0].number == 2);
    // Ticks of 2 mm and 5 mm outside the picture; the black number ends left of its tick.
    const PrintMarker& m = plans[1].markers[1];
    EXPECT_EQ(m.ticks[0].top, plans[1].target.top - 8);
    EXPECT_EQ(m.ticks[0].bottom, plans[1].target.top - 20);
    EXPECT_EQ(m.anchor, PrintMarker::TextAnchor::TopRight);
    EXPECT_EQ(m.textX, m.ticks[0].left - 8);
}

TEST(PrintMath, MarkersOnlyWhenTheyMeanSomething) {
    struct Case {
        const char* what;
        bool overlapOn;
        int markers;
        int pages;
        size_t expected;
    } cases[] = {
        {"overlap off", false, 1, 3, 0},
        {"markers off", true, 0, 3, 0},
        {"a single page", true, 1, 1, 0},
        {"middle page", true, 1, 3, 2},
    };
    for (const Case& c : cases) {
        PrintLayout l = Metric();
        l.pages = c.pages;
        l.overlapOn = c.overlapOn;
        l.overlap = 200;
        l.markers = c.markers;
        const PrintPagePlan plan = PlanPage(Sheet(), l, 3000, 800, true, c.pages == 1 ? 1 : 2, c.pages);
        EXPECT_TRUE(plan.draw) << c.what;
        EXPECT_EQ(plan.markers.size(), c.expected) << c.what;
    }
}

TEST(PrintMath, PageGeometryCases) {
    // Fit over 3 pages of a picture whose height limits the scale: 2 pages.
    PrintLayout fit = Metric();
    fit.pages = 3;
    EXPECT_EQ(PlanPage(Sheet(), fit, 2000, 1000, true, 1, 3).lastPage, 2);
    EXPECT_TRUE(PlanPage(Sheet(), fit, 2000, 1000, true, 2, 3).draw);
    EXPECT_FALSE(PlanPage(Sheet(), fit, 2000, 1000, true, 3, 3).draw);
    EXPECT_FALSE(PlanPage(Sheet(), fit, 2000, 1000, true, 4, 3).draw);

    // Stacked pages run down the sheet and carry horizontal ticks.
    PrintLayout stacked = Metric();
    stacked.pages = 2;
    stacked.overlapOn = true;
    stacked.overlap = 200;
    const PrintPagePlan top = PlanPage(Sheet(800, 1000), stacked, 800, 2000, false, 1, 2);
    const PrintPagePlan next = PlanPage(Sheet(800, 1000), stacked, 800, 2000, false, 2, 2);
    ASSERT_TRUE(top.draw && next.draw);
    EXPECT_EQ(top.source.left, 0);
    EXPECT_GT(next.source.top, 0);
    EXPECT_LT(next.source.top, top.source.bottom);
    ASSERT_EQ(top.markers.size(), 1u);
    EXPECT_EQ(top.markers[0].ticks[0].top, top.markers[0].ticks[0].bottom);  // horizontal
    ASSERT_EQ(next.markers.size(), 1u);
    EXPECT_EQ(next.markers[0].anchor, PrintMarker::TextAnchor::BottomLeft);

    // The physical page ignores the margins.
    PrintLayout physical = Metric();
    physical.physicalPage = 1;
    physical.leftMargin = physical.topMargin = 500;
    const PrintPagePlan whole = PlanPage(Sheet(), physical, 1000, 500, true, 1, 1);
    EXPECT_EQ(whole.target.left, 0);
    EXPECT_EQ(whole.target.right, 1040);

    // Margins larger than the sheet leave a pixel, never a division by zero.
    PrintLayout margins = Metric();
    margins.leftMargin = margins.rightMargin = margins.topMargin = margins.bottomMargin = 100000;
    const PrintPagePlan squeezed = PlanPage(Sheet(), margins, 1000, 500, true, 1, 1);
    EXPECT_EQ(squeezed.target.left, 999);
    EXPECT_LE(squeezed.target.right - squeezed.target.left, 2);

    // Manual size with keep proportions off stretches each axis on its own.
    PrintLayout manual = Metric();
    manual.scaleMode = 1;
    manual.keepProportions = 0;
    manual.width = 254;   // 100 pixels
    manual.height = 508;  // 200 pixels
    const PrintPagePlan stretched = PlanPage(Sheet(), manual, 1000, 1000, true, 1, 1);
    EXPECT_EQ(stretched.target.right - stretched.target.left, 100);
    EXPECT_EQ(stretched.target.bottom - stretched.target.top, 200);
    // With no size chosen it prints at the default: the printable width.
    manual.width = manual.height = 0;
    manual.keepProportions = 1;
    const PrintPagePlan byDefault = PlanPage(Sheet(), manual, 2000, 500, true, 1, 1);
    EXPECT_EQ(byDefault.target.right - byDefault.target.left, 1000);
    EXPECT_EQ(byDefault.target.bottom - byDefault.target.top, 250);
    // A manual size below a device pixel still divides by nothing.
    manual.width = manual.height = 1;
    EXPECT_TRUE(PlanPage(Sheet(), manual, 2000, 500, true, 1, 1).draw);
}

TEST(PrintMath, DegenerateInputsPrintSafely) {
    // A short strip under a wide overlap still prints its first page.
    PrintLayout wide = Metric();
    wide.overlapOn = true;
    wide.overlap = 2540;  // a whole sheet
    const PrintPagePlan plan = PlanPage(Sheet(), wide, 100, 1000, true, 1, 1);
    EXPECT_TRUE(plan.draw);
    EXPECT_EQ(plan.lastPage, 1);
    // A device without resolution prints nothing.
    EXPECT_FALSE(PlanPage(Sheet(1000, 800, 0), Metric(), 100, 100, true, 1, 1).draw);
    // A huge page count overflows nothing.
    PrintLayout huge = Metric();
    huge.pages = 1000000000;
    const PrintPagePlan many = PlanPage(Sheet(), huge, 3000, 800, true, 1, 1000000000);
    EXPECT_TRUE(many.draw);
    EXPECT_GT(many.target.bottom, many.target.top);
    EXPECT_LE(many.lastPage, PrintLayout::kMaxPages);
}

TEST(PrintSetupRules, LengthTexts) {
    struct Case {
        int value;
        bool inch;
        const char* text;
    } cases[] = {{12500, true, "12.5 in"}, {2100, false, "21 cm"},  {2155, false, "21.55 cm"},
                 {10000, true, "10 in"},   {0, true, "0 in"},       {1, true, "0.001 in"},
                 {5, false, "0.05 cm"},    {-2500, true, "-2.5 in"}};
    for (const Case& c : cases)
        EXPECT_EQ(PrintSetupRules::FormatLength(c.value, c.inch, c.inch ? "in" : "cm"), c.text) << c.value;
}

TEST(PrintSetupRules, TypedLengthsAndPageCounts) {
    struct Case {
        const char* text;
        bool inch;
        int expected;
    } cases[] = {
        {"12.5 in", true, 12500}, {"3000", true, 2000000},    {"900", false, 78400}, {"abc", true, 0},
        {"-2", false, -200},      {"-1e300", true, -2000000}, {"nan", true, 0},      {"inf", false, 78400},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PrintSetupRules::ReadLength(c.text, c.inch), c.expected) << c.text;
    struct Count {
        const char* text;
        int expected;
    } counts[] = {{"0", 1},       {"abc", 1},           {"-5", 1},
                  {"3 pages", 3}, {"1000000000", 9999}, {"99999999999999999999", 9999}};
    for (const Count& c : counts)
        EXPECT_EQ(PrintSetupRules::ReadPageCount(c.text), c.expected) << c.text;
}

TEST(PrintSetupRules, RangesOfManualSizeMarginsAndOverlap) {
    using namespace PrintSetupRules;
    PrintLayout l;  // inch units
    l.imageWidth = 4000;
    l.imageHeight = 1000;
    PaperInfo paper{8000, 10000, 600, 600, true};
    l.keepProportions = 0;
    // "3000" inches is cut to the entry maximum, then to the range.
    EXPECT_EQ(ClampWidth(ReadLength("3000", true), l, paper), AbsoluteMaxSize(true));
    EXPECT_EQ(ClampWidth(-500, l, paper), MinSize(true));
    EXPECT_EQ(ClampHeight(20000, l, paper), 10000);  // side by side: one sheet high
    // Keep proportions: the height stands while the width it implies fits...
    l.keepProportions = 1;
    EXPECT_EQ(ClampHeight(10000, l, paper), 10000);
    // ...stacked, a width wider than the sheet brings the height down with it.
    paper.sideBySide = false;
    EXPECT_EQ(ClampHeight(10000, l, paper), 2000);
    EXPECT_EQ(ClampWidth(20000, l, paper), 8000);
    // Without a picture the proportional step is skipped.
    PrintLayout empty = l;
    empty.imageWidth = empty.imageHeight = 0;
    EXPECT_EQ(ClampHeight(10000, empty, paper), 10000);
    EXPECT_EQ(ProportionalHeight(500, empty), empty.height);

    paper.sideBySide = true;
    l.leftMargin = 1000;
    l.rightMargin = 1000;
    EXPECT_EQ(ClampOverlap(9999, l, paper), 3000);
    EXPECT_EQ(ClampOverlap(-3, l, paper), 0);
    EXPECT_EQ(ClampMargin(Margin::Left, 9000, l, paper), 6999);
    EXPECT_EQ(ClampMargin(Margin::Bottom, -1, l, paper), 0);
    EXPECT_EQ(ProportionalHeight(8000, l), 2000);
    EXPECT_EQ(ProportionalWidth(1000, l), 4000);
}
