#include <gtest/gtest.h>

#include <map>

#include "SizingRowModel.h"

TEST(SizingRowModel, NewBarSizesAndMinimums) {
    SizingBarSizes s;
    EXPECT_EQ(s.horz, (SizingSize{200, 200}));
    EXPECT_EQ(s.minHorz, (SizingSize{33, 32}));
    EXPECT_EQ(s.minFloat, (SizingSize{37, 32}));
    s.floating = {10, 10};
    s.horz = {20000, 5};
    s.Clamp();
    EXPECT_EQ(s.floating, (SizingSize{37, 32}));
    EXPECT_EQ(s.horz, (SizingSize{10000, 32}));
    s.SetMinSizes({50, 40}, {60, 40}, {300, 300});
    EXPECT_EQ(s.floating, (SizingSize{300, 300})) << "the floating size grows to its minimum";
}

TEST(SizingRowModel, FixedLayoutStretchesOrClamps) {
    SizingBarSizes s;
    s.horz = {500, 120};
    s.vert = {20, 20000};
    EXPECT_EQ(s.CalcFixedLayout(true, true), (SizingSize{32767, 120}));
    EXPECT_EQ(s.CalcFixedLayout(true, false), (SizingSize{20, 32767}));
    EXPECT_EQ(s.CalcFixedLayout(false, true), (SizingSize{500, 120}));
    EXPECT_EQ(s.CalcFixedLayout(false, false), (SizingSize{33, 10000}));
}

TEST(SizingRowModel, ChangesAreSpreadOnePixelAtATime) {
    struct Case {
        const char* what;
        std::vector<RowBar> bars;
        int delta;
        std::vector<int> lengths;
        int left;
    };
    const Case cases[] = {
        {"one bar takes it all", {{100, 30}}, -40, {60}, 0},
        {"three bars shrink from the last", {{100, 30}, {100, 30}, {100, 30}}, -5, {98, 98, 99}, 0},
        {"bars at their minimum are skipped", {{100, 30}, {30, 30}, {100, 30}}, -4, {98, 30, 98}, 0},
        {"kept bars are skipped", {{100, 30}, {100, 30, true}, {100, 30}}, -4, {98, 100, 98}, 0},
        {"keep marks go when nothing else can give",
         {{30, 30}, {100, 30, true}, {30, 30}},
         -10,
         {30, 90, 30},
         0},
        {"fixed bars never change", {{100, 30, false, false}, {100, 30}}, 6, {100, 106}, 0},
        {"below the minimums", {{40, 30}, {40, 30}}, -30, {30, 30}, -10},
    };
    for (const Case& c : cases) {
        std::vector<RowBar> bars = c.bars;
        EXPECT_EQ(SizingRow::Distribute(bars, c.delta), c.left) << c.what;
        std::vector<int> lengths;
        for (const RowBar& b : bars)
            lengths.push_back(b.length);
        EXPECT_EQ(lengths, c.lengths) << c.what;
    }
}

TEST(SizingRowModel, NegotiateSpaceSharesARowOrBreaksIt) {
    // Two sizing bars and a fixed one in a row of 400: lengths overlap by 2.
    std::vector<RowBar> row{
        {150, 40, false, true, 100}, {100, 20, false, false, 30}, {150, 40, false, true, 120}};
    RowBreak r = SizingRow::NegotiateSpace(row, 400, 0);
    EXPECT_TRUE(r.align);
    EXPECT_EQ(r.breakAfter, -1);
    EXPECT_EQ(r.breakBefore, -1);
    // available 400 - 98 = 302, wanted 148 + 148 = 296: +6 shared in turn.
    EXPECT_EQ(row[0].length, 153);
    EXPECT_EQ(row[2].length, 153);
    EXPECT_EQ(row[1].length, 100);
    EXPECT_EQ(row[0].width, 120) << "sizing bars take the row's common width";

    struct Case {
        const char* what;
        size_t self;
        bool align;
        int breakAfter, breakBefore;
        int selfLength;
    };
    // Lengths 200, 200, 200 in a row of 300: the second bar overflows it.
    const Case cases[] = {
        {"overflow after this bar", 0, true, -1, 1, -1},
        {"overflow at this bar", 1, true, -1, -1, 30},
        {"overflow before this bar", 2, false, 1, -1, 200},
    };
    for (const Case& c : cases) {
        std::vector<RowBar> bars{{200, 30}, {200, 30}, {200, 30}};
        const RowBreak b = SizingRow::NegotiateSpace(bars, 300, c.self);
        EXPECT_EQ(b.align, c.align) << c.what;
        EXPECT_EQ(b.breakAfter, c.breakAfter) << c.what;
        EXPECT_EQ(b.breakBefore, c.breakBefore) << c.what;
        if (c.selfLength >= 0) {
            EXPECT_EQ(bars[c.self].length, c.selfLength) << c.what;
        }
    }
    std::vector<RowBar> one{{200, 30}};
    SizingRow::NegotiateSpace(one, 250, 0);
    // Placed at -2, it reaches the row's end.
    EXPECT_EQ(one[0].length, 252) << "a single sizing bar takes the whole difference";
    EXPECT_EQ(SizingRow::AlignControlBars({{100, 0}, {50, 0}, {70, 0}}), (std::vector<int>{-2, 96, 144}));
}

TEST(SizingRowModel, RowBreaksWhenMinimumsDoNotFit) {
    std::vector<RowBar> fits{{100, 30}, {100, 30}};
    EXPECT_TRUE(SizingRow::FitRow(fits, 150));
    EXPECT_EQ(fits[0].length + fits[1].length, 150);
    std::vector<RowBar> breaks{{100, 80}, {100, 80}};
    EXPECT_FALSE(SizingRow::FitRow(breaks, 150));
    EXPECT_EQ(SizingRow::Share(100, 1, 0), 0) << "zero sizes never divide";
    EXPECT_EQ(SizingRow::Share(100, 1, 4), 25);
}

#include <QTemporaryDir>

#include "SizingControlBar.h"

TEST(SizingControlBar, SavedSizesRoundTripAndLoadWithinTheirLimits) {
    std::map<std::string, int> store;
    auto write = [&](const std::string& s, const char* k, int v) { store[s + "/" + k] = v; };
    auto read = [&](const std::string& s, const char* k, int d) {
        const auto it = store.find(s + "/" + k);
        return it == store.end() ? d : it->second;
    };
    CSizingControlBarCF bar("Folders", 1001);
    bar.Sizes().vert = {260, 480};
    bar.SaveState("BARS", write);
    EXPECT_EQ(store.at("BARS-SCBar-1001/sizeVertCX"), 260);
    EXPECT_EQ(store.size(), 6u);

    CSizingControlBarCF again("Folders", 1001);
    again.LoadState("BARS", read);
    EXPECT_EQ(again.Sizes().vert, (SizingSize{260, 480}));
    EXPECT_EQ(again.Sizes().floating, (SizingSize{200, 200})) << "a missing key keeps its size";

    store["BARS-SCBar-1001/sizeHorzCX"] = 10;
    store["BARS-SCBar-1001/sizeHorzCY"] = -4;
    CSizingControlBarCF small("Folders", 1001);
    small.LoadState("BARS", read);
    EXPECT_EQ(small.Sizes().horz, (SizingSize{33, 32}))
        << "stored sizes below the minimum load as the minimum";

    CSizingControlBarCF other("Other", 7);
    other.LoadState("BARS", read);
    EXPECT_EQ(other.Sizes().vert, (SizingSize{200, 200})) << "an unknown bar keeps its defaults";
}

TEST(SizingControlBar, CaptionGradientSteps) {
    const QColor a(0, 0, 0), b(64, 128, 255);
    EXPECT_EQ(CSizingControlBarCF::GradientStep(a, b, 0), a);
    EXPECT_EQ(CSizingControlBarCF::GradientStep(a, b, 32), QColor(32, 64, 127));
    EXPECT_EQ(CSizingControlBarCF::GradientStep(a, b, 63), QColor(63, 126, 251));
}

TEST(SizingControlBar, FloatingBarsKeepTheirLimits) {
    struct Fixed : CSizingControlBarCF {
        using CSizingControlBarCF::CSizingControlBarCF;
        bool IsFloatResizable() const override { return false; }
    };
    Fixed fixed("Dialog", 1002);
    fixed.Sizes().floating = {240, 300};
    emit fixed.topLevelChanged(true);
    EXPECT_EQ(fixed.minimumSize(), QSize(240, 300));
    EXPECT_EQ(fixed.maximumSize(), QSize(240, 300));

    CSizingControlBarCF free("Folders", 1001);
    free.Sizes().SetMinSizes({33, 32}, {33, 32}, {150, 100});
    free.Sizes().max = {150, 10000};
    emit free.topLevelChanged(true);
    EXPECT_EQ(free.minimumWidth(), free.maximumWidth()) << "minimum equals maximum: that side is fixed";
    EXPECT_LT(free.minimumHeight(), free.maximumHeight());
    emit free.topLevelChanged(false);
    EXPECT_EQ(free.minimumSize(), QSize(0, 0));
}
