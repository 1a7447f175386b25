#include <gtest/gtest.h>

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
        {"three bars shrink from the last", {{100, 30}, {100, 30}, {100, 30}}, -5, {99, 98, 98}, 0},
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

TEST(SizingRowModel, RowBreaksWhenMinimumsDoNotFit) {
    std::vector<RowBar> fits{{100, 30}, {100, 30}};
    EXPECT_TRUE(SizingRow::FitRow(fits, 150));
    EXPECT_EQ(fits[0].length + fits[1].length, 150);
    std::vector<RowBar> breaks{{100, 80}, {100, 80}};
    EXPECT_FALSE(SizingRow::FitRow(breaks, 150));
    EXPECT_EQ(SizingRow::Share(100, 1, 0), 0) << "zero sizes never divide";
    EXPECT_EQ(SizingRow::Share(100, 1, 4), 25);
}
