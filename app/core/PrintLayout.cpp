#include "PrintLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace PrintMath {

namespace {

using i64 = std::int64_t;

i64 Round(double v) {
    return static_cast<i64>(v + 0.5);
}

i64 Clamp(i64 v, i64 lo, i64 hi) {
    return std::max(lo, std::min(v, hi));
}

int ClampInt(i64 v) {
    return static_cast<int>(Clamp(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The page geometry along and across the direction the pages follow.
struct Axes {
    i64 along = 0, across = 0;  // device extent of the sheet's usable area
    int dpiAlong = 0, dpiAcross = 0;
};

}  // namespace

i64 ToPixels(i64 value, int dpi, bool inchUnits) {
    return inchUnits ? (value * dpi + 500) / 1000 : (value * dpi + 127) / 254;
}

int GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout, int w, int h, bool sideBySide) {
    if (w <= 0 || h <= 0 || caps.dpiX <= 0 || caps.dpiY <= 0)
        return 1;
    layout->imageWidth = w;
    layout->imageHeight = h;
    const bool inch = layout->inchUnits != 0;
    const bool physical = layout->physicalPage != 0;
    const int dpi = sideBySide ? caps.dpiX : caps.dpiY;
    const i64 extent =
        sideBySide ? (physical ? caps.physWidth : caps.horzRes) : (physical ? caps.physHeight : caps.vertRes);
    i64 first = physical ? 0 : ToPixels(sideBySide ? layout->leftMargin : layout->topMargin, dpi, inch);
    i64 second = physical ? 0 : ToPixels(sideBySide ? layout->rightMargin : layout->bottomMargin, dpi, inch);
    // Without overlap no strip is shared on paper, so none is counted here.
    const i64 overlap = layout->overlapOn ? ToPixels(layout->overlap, dpi, inch) : 0;
    first = Clamp(first, 0, extent - 1);
    second = Clamp(second, 0, extent - first - 1);
    const i64 s = std::max<i64>(0, std::min(overlap, extent - second - first) / 2);
    const i64 t = std::max<i64>(1, extent - (second + s + first));

    if (layout->width == 0 || layout->height == 0) {
        const i64 unit = inch ? 1000 : 254;
        if (sideBySide) {
            layout->width = ClampInt((caps.horzRes * unit + (caps.dpiX + 1) / 2) / caps.dpiX);
            const i64 den = i64(caps.dpiY) * w;
            layout->height = ClampInt((i64(h) * caps.horzRes * unit + (den + 1) / 2) / den);
        } else {
            layout->height = ClampInt((caps.vertRes * unit + (caps.dpiY + 1) / 2) / caps.dpiY);
            const i64 den = i64(caps.dpiX) * h;
            layout->width = ClampInt((i64(w) * caps.vertRes * unit + (den + 1) / 2) / den);
        }
    }
    if (layout->scaleMode == 0) {
        // Fitting to pages: the size shown as the manual one is the size the
        // fit prints at, so "Manual" starts where the fit was.
        const int dpiAcross = sideBySide ? caps.dpiY : caps.dpiX;
        const i64 across = sideBySide ? (physical ? caps.physHeight : caps.vertRes)
                                      : (physical ? caps.physWidth : caps.horzRes);
        i64 a1 = physical ? 0 : ToPixels(sideBySide ? layout->topMargin : layout->leftMargin, dpiAcross, inch);
        i64 a2 = physical ? 0 : ToPixels(sideBySide ? layout->bottomMargin : layout->rightMargin, dpiAcross, inch);
        a1 = Clamp(a1, 0, across - 1);
        a2 = Clamp(a2, 0, across - a1 - 1);
        const i64 room = std::max<i64>(1, across - a1 - a2);
        const i64 along = t * Clamp(layout->pages, 1, PrintLayout::kMaxPages) + s;
        const i64 imageAlong = sideBySide ? w : h, imageAcross = sideBySide ? h : w;
        i64 num = along, den = imageAlong;
        if (double(room) / imageAcross <= double(along) / imageAlong)
            num = room, den = imageAcross;
        const i64 sizeAlong = (imageAlong * num + den / 2) / den;
        const i64 sizeAcross = (imageAcross * num + den / 2) / den;
        const i64 unit = inch ? 1000 : 254;
        // Truncated, so that the size read back never takes a pixel more than the fit.
        const int alongUnits = ClampInt(sizeAlong * unit / dpi);
        const int acrossUnits = ClampInt(sizeAcross * unit / dpiAcross);
        layout->width = sideBySide ? alongUnits : acrossUnits;
        layout->height = sideBySide ? acrossUnits : alongUnits;
    }
    i64 e = ToPixels(sideBySide ? layout->width : layout->height, dpi, inch);
    if (s != 0)
        e -= s;
    const i64 pages = (e - 1 + t) / t;
    return static_cast<int>(Clamp(pages, 1, PrintLayout::kMaxPages));
}

PrintPagePlan PlanPage(const PrinterCaps& caps, const PrintLayout& layoutIn, int w, int h, bool sideBySide,
                       int page, int lastPage) {
    PrintPagePlan plan;
    PrintLayout layout = layoutIn;
    if (w <= 0 || h <= 0 || caps.dpiX <= 0 || caps.dpiY <= 0)
        return plan;
    if (layout.scaleMode == 1)
        GetPrintPageCount(caps, &layout, w, h, sideBySide);
    if (page < 1 || page > lastPage)
        return plan;
    const bool inch = layout.inchUnits != 0;
    const bool physical = layout.physicalPage != 0;
    const i64 W = physical ? caps.physWidth : caps.horzRes;
    const i64 H = physical ? caps.physHeight : caps.vertRes;
    const int dx = caps.dpiX, dy = caps.dpiY;
    i64 left = physical ? 0 : ToPixels(layout.leftMargin, dx, inch);
    i64 right = physical ? 0 : ToPixels(layout.rightMargin, dx, inch);
    i64 top = physical ? 0 : ToPixels(layout.topMargin, dy, inch);
    i64 bottom = physical ? 0 : ToPixels(layout.bottomMargin, dy, inch);
    const i64 overlap = layout.overlapOn ? ToPixels(layout.overlap, sideBySide ? dx : dy, inch) : 0;
    left = Clamp(left, 0, W - 1);
    top = Clamp(top, 0, H - 1);
    right = Clamp(right, 0, W - left - 1);
    bottom = Clamp(bottom, 0, H - top - 1);
    i64 pw = W - right - left;
    i64 ph = H - bottom - top;
    const i64 s = std::max<i64>(0, std::min(overlap, sideBySide ? pw : ph) / 2);
    pw = std::max<i64>(1, pw);
    ph = std::max<i64>(1, ph);

    const i64 t = std::max<i64>(1, (sideBySide ? pw : ph) - s);
    const i64 o = i64(page - 1) * t;
    const i64 n = Clamp(layout.pages, 1, PrintLayout::kMaxPages);

    i64 numX, denX, numY, denY;
    i64 last = lastPage;
    if (layout.scaleMode == 1) {
        // A manual size below a device pixel still prints a pixel.
        const i64 X = std::max<i64>(1, ToPixels(layout.width, dx, inch));
        const i64 Y = std::max<i64>(1, ToPixels(layout.height, dy, inch));
        if (sideBySide) {
            numX = X, denX = w;
            numY = layout.keepProportions ? X : Y;
            denY = layout.keepProportions ? w : h;
        } else {
            numY = Y, denY = h;
            numX = layout.keepProportions ? Y : X;
            denX = layout.keepProportions ? h : w;
        }
    } else {
        i64 num, den, scaled;
        if (sideBySide) {
            const i64 X = t * n + s;
            if (double(ph) / h <= double(X) / w)
                num = ph, den = h;
            else
                num = X, den = w;
            scaled = (i64(w) * num + (den + 1) / 2) / den;
            last = (scaled - 2 * s + pw - 1) / t;
        } else {
            const i64 Y = t * n + s;
            if (double(Y) / h <= double(pw) / w)
                num = Y, den = h;
            else
                num = pw, den = w;
            scaled = (i64(h) * num + (den + 1) / 2) / den;
            last = (scaled - 2 * s + ph - 1) / t;
        }
        // A short strip under a wide overlap still fills the first page.
        last = std::max<i64>(1, last);
        numX = numY = num;
        denX = denY = den;
    }
    plan.lastPage = static_cast<int>(std::min<i64>(last, PrintLayout::kMaxPages));
    if (page > last)
        return plan;

    Rect src;
    if (sideBySide) {
        src.left = Round(double(denX) * o / numX);
        src.top = 0;
        src.right = Round(double(pw + o) * denX / numX);
        src.bottom = Round(double(ph) * denY / numY);
    } else {
        src.left = 0;
        src.top = Round(double(denY) * o / numY);
        src.right = Round(double(pw) * denX / numX);
        src.bottom = Round(double(ph + o) * denY / numY);
    }
    src.left = Clamp(src.left, 0, w);
    src.top = Clamp(src.top, 0, h);
    src.right = Clamp(src.right, 0, w);
    src.bottom = Clamp(src.bottom, 0, h);
    if (src.IsEmpty())
        return plan;
    plan.source = src;
    Rect& dst = plan.target;
    dst.left = left;
    dst.top = top;
    dst.right = Round(double(src.right - src.left) * numX / denX) + left;
    dst.bottom = Round(double(src.bottom - src.top) * numY / denY) + top;
    plan.draw = true;

    if (!layout.markers || !layout.overlapOn || s == 0 || last <= 1)
        return plan;
    using Anchor = PrintMarker::TextAnchor;
    if (sideBySide) {
        const i64 a = (i64(dy) * 20 + 127) / 254, b = (i64(dy) * 50 + 127) / 254;
        auto ticksAt = [&](i64 x, PrintMarker& m) {
            m.ticks[0] = {x, dst.top - a, x, dst.top - b};
            m.ticks[1] = {x, dst.bottom + a, x, dst.bottom + b};
        };
        if (page < last) {
            PrintMarker m;
            m.red = true;
            ticksAt(dst.right - s, m);
            m.number = page;
            m.textX = dst.right - s + a;
            m.textY = dst.bottom + a;
            m.anchor = Anchor::TopLeft;
            plan.markers.push_back(m);
        }
        if (page > 1) {
            PrintMarker m;
            ticksAt(left + s, m);
            m.number = page - 1;
            m.textX = left + s - a;
            m.textY = dst.bottom + a;
            m.anchor = Anchor::TopRight;
            plan.markers.push_back(m);
        }
    } else {
        const i64 a = (i64(dx) * 20 + 127) / 254, b = (i64(dx) * 50 + 127) / 254;
        auto ticksAt = [&](i64 y, PrintMarker& m) {
            m.ticks[0] = {dst.left - a, y, dst.left - b, y};
            m.ticks[1] = {dst.right + a, y, dst.right + b, y};
        };
        if (page < last) {
            PrintMarker m;
            m.red = true;
            ticksAt(dst.bottom - s, m);
            m.number = page;
            m.textX = dst.right + a;
            m.textY = dst.bottom - s + a;
            m.anchor = Anchor::TopLeft;
            plan.markers.push_back(m);
        }
        if (page > 1) {
            PrintMarker m;
            ticksAt(top + s, m);
            m.number = page - 1;
            m.textX = dst.right + a;
            m.textY = top + s - a;
            m.anchor = Anchor::BottomLeft;
            plan.markers.push_back(m);
        }
    }
    return plan;
}

void ConvertUnits(PrintLayout* layout, bool toInch) {
    auto convert = [toInch](int v) {
        const i64 x = v;
        return ClampInt(toInch ? (x * 1000 + 127) / 254 : (x * 254 + 500) / 1000);
    };
    for (int* v : {&layout->leftMargin, &layout->topMargin, &layout->rightMargin, &layout->bottomMargin,
                   &layout->overlap})
        *v = convert(*v);
    const int oldWidth = layout->width;
    layout->width = convert(oldWidth);
    if (!layout->keepProportions)
        layout->height = convert(layout->height);
    else if (oldWidth != 0)
        layout->height = ClampInt((i64(layout->width) * layout->height + (i64(oldWidth) + 1) / 2) / oldWidth);
}

bool PaperSizeInUnits(int cxPixels, int cyPixels, int dpiX, int dpiY, bool inchUnits, int* cx, int* cy) {
    if (dpiX <= 0 || dpiY <= 0)
        return false;
    const i64 unit = inchUnits ? 1000 : 254;
    *cx = ClampInt((i64(cxPixels) * unit + (dpiX + 1) / 2) / dpiX);
    *cy = ClampInt((i64(cyPixels) * unit + (dpiY + 1) / 2) / dpiY);
    return true;
}

}  // namespace PrintMath

namespace PrintSetupRules {

namespace {

double EntryMaximum(bool inch) {
    return inch ? 2000.0 : 784.0;
}

}  // namespace

std::string FormatLength(int value, bool inchUnits, const std::string& unitWord) {
    const int maxDecimals = inchUnits ? 3 : 2;
    const int divisor = inchUnits ? 1000 : 100;
    char buffer[64];
    if (value == 0) {
        std::snprintf(buffer, sizeof buffer, "0 %s", unitWord.c_str());
        return buffer;
    }
    long long v = std::llabs(static_cast<long long>(value));
    int zeros = 0;
    while (zeros < maxDecimals && v % 10 == 0) {
        v /= 10;
        ++zeros;
    }
    const int decimals = maxDecimals - zeros;
    if (decimals == 0)
        std::snprintf(buffer, sizeof buffer, "%i %s", value / divisor, unitWord.c_str());
    else
        std::snprintf(buffer, sizeof buffer, "%.*f %s", decimals, double(value) / divisor, unitWord.c_str());
    return buffer;
}

int ReadLength(const std::string& text, bool inchUnits) {
    double x = std::atof(text.c_str());
    if (std::isnan(x))
        x = 0;
    const double maximum = EntryMaximum(inchUnits);
    x = std::max(-maximum, std::min(x, maximum));
    return static_cast<int>(x * (inchUnits ? 1000 : 100));
}

int ReadPageCount(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::max(1LL, std::min<long long>(v, PrintLayout::kMaxPages)));
}

int MinSize(bool inchUnits) {
    return inchUnits ? 100 : 10;
}

int AbsoluteMaxSize(bool inchUnits) {
    return inchUnits ? 78740 : 200000;
}

namespace {

using i64 = std::int64_t;

// One axis of the manual size: its range, and the chain that turns a length
// of it into the other axis's length in the picture's proportion.
struct Axis {
    int maximum;
    int otherMaximum;
    int res;
    int otherRes;
    int imageExtent;
    int otherImageExtent;
};

int ClampAxis(int value, const PrintLayout& layout, const Axis& axis) {
    const bool inch = layout.inchUnits != 0;
    const int minimum = MinSize(inch);
    const int maximum = std::max(minimum, axis.maximum);
    const int otherMaximum = std::max(minimum, axis.otherMaximum);
    value = std::max(minimum, std::min(value, maximum));
    if (!layout.keepProportions || axis.imageExtent <= 0 || axis.otherImageExtent <= 0 || axis.res <= 0 ||
        axis.otherRes <= 0)
        return value;
    const double unit = inch ? 1000.0 : 254.0;
    const double pixels = double(value) * axis.res / unit;
    const double otherPixels = pixels * axis.otherImageExtent / axis.imageExtent;
    const double otherD = otherPixels * unit / axis.otherRes + 0.5;
    const i64 other = otherD > 2e9 ? i64(2e9) : otherD < -2e9 ? i64(-2e9) : static_cast<i64>(otherD);
    const i64 clampedOther = std::max<i64>(minimum, std::min<i64>(other, otherMaximum));
    if (clampedOther == other)
        return value;
    const double back = double(clampedOther) * axis.otherRes / unit;
    const double mine = back * axis.imageExtent / axis.otherImageExtent;
    const int recomputed = static_cast<int>(mine * unit / axis.res + 0.5);
    return std::max(minimum, std::min(recomputed, maximum));
}

}  // namespace

int ClampHeight(int value, const PrintLayout& layout, const PaperInfo& paper) {
    const int absolute = AbsoluteMaxSize(layout.inchUnits != 0);
    Axis axis;
    axis.maximum = paper.sideBySide ? paper.paperHeight : absolute;
    axis.otherMaximum = paper.sideBySide ? absolute : paper.paperWidth;
    axis.res = paper.resY;
    axis.otherRes = paper.resX;
    axis.imageExtent = layout.imageHeight;
    axis.otherImageExtent = layout.imageWidth;
    return ClampAxis(value, layout, axis);
}

int ClampWidth(int value, const PrintLayout& layout, const PaperInfo& paper) {
    const int absolute = AbsoluteMaxSize(layout.inchUnits != 0);
    Axis axis;
    axis.maximum = paper.sideBySide ? absolute : paper.paperWidth;
    axis.otherMaximum = paper.sideBySide ? paper.paperHeight : absolute;
    axis.res = paper.resX;
    axis.otherRes = paper.resY;
    axis.imageExtent = layout.imageWidth;
    axis.otherImageExtent = layout.imageHeight;
    return ClampAxis(value, layout, axis);
}

int ClampOverlap(int value, const PrintLayout& layout, const PaperInfo& paper) {
    const long long extent = paper.sideBySide
                                 ? (long long)paper.paperWidth - layout.rightMargin - layout.leftMargin
                                 : (long long)paper.paperHeight - layout.bottomMargin - layout.topMargin;
    return static_cast<int>(std::max(0LL, std::min<long long>(value, extent / 2)));
}

int ClampMargin(Margin which, int value, const PrintLayout& layout, const PaperInfo& paper) {
    long long upper = 0;
    switch (which) {
        case Margin::Left:
            upper = (long long)paper.paperWidth - layout.rightMargin - 1;
            break;
        case Margin::Right:
            upper = (long long)paper.paperWidth - layout.leftMargin - 1;
            break;
        case Margin::Top:
            upper = (long long)paper.paperHeight - layout.bottomMargin - 1;
            break;
        case Margin::Bottom:
            upper = (long long)paper.paperHeight - layout.topMargin - 1;
            break;
    }
    return static_cast<int>(std::max(0LL, std::min<long long>(value, upper)));
}

int ProportionalHeight(int width, const PrintLayout& layout) {
    if (layout.imageWidth <= 0 || layout.imageHeight <= 0)
        return layout.height;
    return static_cast<int>(double(layout.imageHeight) * width / layout.imageWidth + 0.5);
}

int ProportionalWidth(int height, const PrintLayout& layout) {
    if (layout.imageWidth <= 0 || layout.imageHeight <= 0)
        return layout.width;
    return static_cast<int>(double(layout.imageWidth) * height / layout.imageHeight + 0.5);
}

}  // namespace PrintSetupRules
