#include "SizingRowModel.h"

#include <algorithm>
#include <numeric>

namespace {
void ClampSize(SizingSize& s, SizingSize lo, SizingSize hi) {
    s.cx = std::clamp(s.cx, lo.cx, std::max(lo.cx, hi.cx));
    s.cy = std::clamp(s.cy, lo.cy, std::max(lo.cy, hi.cy));
}
}  // namespace

void SizingBarSizes::Clamp() {
    ClampSize(horz, minHorz, max);
    ClampSize(vert, minVert, max);
    ClampSize(floating, minFloat, max);
}

void SizingBarSizes::SetMinSizes(SizingSize h, SizingSize v, SizingSize f) {
    minHorz = h;
    minVert = v;
    minFloat = f;
    Clamp();
}

namespace SizingRow {

int Distribute(std::vector<RowBar>& bars, int delta) {
    const int step = delta > 0 ? 1 : -1;
    while (delta != 0) {
        bool changed = false;
        for (auto it = bars.rbegin(); it != bars.rend() && delta != 0; ++it) {
            if (!it->sizing || it->keepSize)
                continue;
            if (step < 0 && it->length <= it->minimum)
                continue;
            it->length += step;
            delta -= step;
            changed = true;
        }
        if (changed)
            continue;
        bool cleared = false;
        for (RowBar& b : bars) {
            if (b.keepSize) {
                b.keepSize = false;
                cleared = true;
            }
        }
        if (!cleared)
            break;
    }
    return delta;
}

bool FitRow(std::vector<RowBar>& bars, int rowLength) {
    const int total =
        std::accumulate(bars.begin(), bars.end(), 0, [](int s, const RowBar& b) { return s + b.length; });
    const int left = Distribute(bars, rowLength - total);
    return left == 0;
}

int Share(int total, int part, int whole) {
    if (whole <= 0)
        return 0;
    return int(static_cast<long long>(total) * part / whole);
}

}  // namespace SizingRow
