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

SizingSize SizingBarSizes::CalcFixedLayout(bool stretch, bool horizontal) const {
    if (stretch)
        return horizontal ? SizingSize{32767, horz.cy} : SizingSize{vert.cx, 32767};
    SizingSize s = horizontal ? horz : vert;
    ClampSize(s, horizontal ? minHorz : minVert, max);
    return s;
}

namespace SizingRow {

int Distribute(std::vector<RowBar>& bars, int delta) {
    const int step = delta > 0 ? 1 : -1;
    while (delta != 0) {
        bool changed = false;
        for (auto it = bars.begin(); it != bars.end() && delta != 0; ++it) {
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

RowBreak NegotiateSpace(std::vector<RowBar>& bars, int total, size_t self) {
    RowBreak result;
    int runningMin = 2, available = total, wanted = 0, commonWidth = 0;
    size_t count = bars.size();
    for (size_t i = 0; i < count; ++i) {
        runningMin += bars[i].length - 2;
        if (runningMin > total) {
            if (i < self) {
                result.align = false;
                result.breakAfter = int(i);
                return result;
            }
            if (i == self) {
                bars[i].length = bars[i].minimum;
                return result;
            }
            result.breakBefore = int(i);
            count = i;
            break;
        }
        if (bars[i].sizing) {
            wanted += bars[i].length - 2;
            commonWidth = std::max(commonWidth, bars[i].width);
        } else {
            available -= bars[i].length - 2;
        }
    }
    std::vector<RowBar> row(bars.begin(), bars.begin() + long(count));
    const int difference = available - wanted;
    const auto sizingCount = std::count_if(row.begin(), row.end(), [](const RowBar& b) { return b.sizing; });
    if (sizingCount == 1) {
        for (RowBar& b : row) {
            if (!b.sizing)
                continue;
            b.keepSize = false;
            b.length += difference;
        }
    } else if (sizingCount > 1) {
        for (RowBar& b : row)
            if (b.sizing)
                b.width = commonWidth;
        Distribute(row, difference);
    }
    std::copy(row.begin(), row.end(), bars.begin());
    return result;
}

std::vector<int> AlignControlBars(const std::vector<RowBar>& bars) {
    std::vector<int> positions;
    int at = -2;
    for (const RowBar& b : bars) {
        positions.push_back(at);
        at += b.length - 2;
    }
    return positions;
}

int Share(int total, int part, int whole) {
    if (whole <= 0)
        return 0;
    return int(static_cast<long long>(total) * part / whole);
}

}  // namespace SizingRow
