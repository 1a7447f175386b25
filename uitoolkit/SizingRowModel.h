#pragma once
// The sizing rules of docking bars, without widgets: each bar keeps three
// sizes (docked horizontally, docked vertically, floating) with minimums and
// a maximum; bars docked on one side share one row, and a change of the row's
// length is spread over them one pixel at a time.

#include <cstddef>
#include <vector>

struct SizingSize {
    int cx = 0, cy = 0;
    bool operator==(const SizingSize&) const = default;
};

struct SizingBarSizes {
    SizingSize horz{200, 200}, vert{200, 200}, floating{200, 200};
    SizingSize minHorz{33, 32}, minVert{33, 32}, minFloat{37, 32};
    SizingSize max{10000, 10000};

    // Raises the three sizes to their minimums and holds them under the
    // maximum.
    void Clamp();
    // Sets the minimums; each size grows to its new minimum.
    void SetMinSizes(SizingSize h, SizingSize v, SizingSize f);
    // The size a docked bar asks the frame for: with stretch the whole
    // length (32767) at the kept width, else the kept size within its limits.
    SizingSize CalcFixedLayout(bool stretch, bool horizontal) const;
};

// One bar of a row along the docking side: its length along the row, its
// minimum there, and whether the user's last sizing asked to keep it.
struct RowBar {
    int length = 0;
    int minimum = 0;
    bool keepSize = false;
    bool sizing = true;  // fixed bars never change
    int width = 0;       // across the row
};

// Where a row that is too long breaks.
struct RowBreak {
    bool align = true;     // the row was shared and should be aligned
    int breakAfter = -1;   // a break goes after this bar (the row ends there)
    int breakBefore = -1;  // a break goes before this bar (later bars move on)
};

namespace SizingRow {

// Edge width and gripper of the bars.
inline constexpr int kEdge = 5;
inline constexpr int kGripper = 12;
// A caption band is shown on bars docked on the left or right with room for
// it; its height.
inline constexpr int kCaption = 16;

// Spreads `delta` pixels (positive grows) over the row's sizing bars one
// pixel at a time, each pass from the first bar to the last, skipping bars at their
// minimum (when shrinking) and bars marked keepSize; when a whole pass
// changes nothing, the keep marks are cleared and the spreading goes on.
// Returns the pixels that could not be placed (shrinking below the sum of
// the minimums).
int Distribute(std::vector<RowBar>& bars, int delta);

// Lays the row out: the bars' lengths to fill `rowLength` exactly, where
// possible. Returns false when even the minimums do not fit (the row breaks).
bool FitRow(std::vector<RowBar>& bars, int rowLength);

// Shares `total` pixels of a row among its bars for the bar `self`, as the
// first sizing bar of the row does when the frame is resized: lengths
// overlap by 2 pixels; a row whose lengths do not fit breaks (before `self`:
// no sharing; at `self`: it drops to its minimum; after it: later bars leave
// the row and the rest is shared); sizing bars share what the fixed ones
// leave, one pixel at a time, and take the row's common width.
RowBreak NegotiateSpace(std::vector<RowBar>& bars, int total, std::size_t self);

// Positions along the row: the first at -2, each next one 2 pixels into the
// previous.
std::vector<int> AlignControlBars(const std::vector<RowBar>& bars);

// Zero or negative sizes never divide: a share of `total` for `part` of
// `whole`, with whole <= 0 giving 0.
int Share(int total, int part, int whole);

}  // namespace SizingRow
