#include "Seams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Smoothing.h"
#include "ThreadPool.h"
#include "Warp.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

// Plain overlap of two rectangles; empty (IsEmpty) when they do not meet.
// Unlike Rect::Intersect it never turns an inverted (empty) bounds rectangle
// into a valid one.
Rect Overlap(const Rect& a, const Rect& b) {
    return Rect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom));
}

int SideIndex(std::int32_t side) {
    switch (side) {
        case SEAM_LEFT:
            return 0;
        case SEAM_RIGHT:
            return 1;
        case SEAM_TOP:
            return 2;
        case SEAM_BOTTOM:
            return 3;
        default:
            return -1;
    }
}

bool IsSingleSide(std::int32_t sides) {
    return SideIndex(sides) >= 0;
}

constexpr std::int32_t kSides[4] = {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM};

}  // namespace

// ---------------------------------------------------------------- SeamSet

void SeamSet::Assign(const SeamLine* left, const SeamLine* right, const SeamLine* top,
                     const SeamLine* bottom) {
    const SeamLine* from[4] = {left, right, top, bottom};
    for (int i = 0; i < 4; ++i)
        if (from[i] && from[i] != &lines[i])
            lines[i] = *from[i];
}

SeamLine& SeamSet::operator[](std::int32_t side) {
    const int i = SideIndex(side);
    if (i >= 0)
        return lines[i];
    // Shared and meant to stay empty; cleared in case a caller wrote to it.
    static SeamLine none;
    none = SeamLine();
    return none;
}

const SeamLine& SeamSet::operator[](std::int32_t side) const {
    const int i = SideIndex(side);
    if (i >= 0)
        return lines[i];
    static const SeamLine none;
    return none;
}

// ---------------------------------------------------------------- CMinHeap5

CMinHeap5::CMinHeap5(std::int32_t capacity) : capacity(std::max(0, capacity)) {
    entries.assign(static_cast<std::size_t>(this->capacity), Entry{kEmpty, 0, 0});
}

bool CMinHeap5::Push(std::int32_t key, std::int32_t x, std::int32_t y) {
    if (count == capacity)
        return false;
    std::int32_t i = count++;
    while (i > 0) {
        const std::int32_t parent = (i - 1) / arity;
        if (entries[parent].key <= key)
            break;
        entries[i] = entries[parent];
        i = parent;
    }
    entries[i] = Entry{key, x, y};
    return true;
}

std::int32_t CMinHeap5::Pop(std::int32_t* x, std::int32_t* y) {
    if (count == 0)
        return kEmpty;
    const Entry top = entries[0];
    --count;
    const Entry moving = entries[count];
    entries[count].key = kEmpty;
    if (count > 0) {
        std::int32_t i = 0;
        for (;;) {
            const std::int64_t first = static_cast<std::int64_t>(i) * arity + 1;
            if (first >= count)
                break;
            const std::int32_t last = static_cast<std::int32_t>(std::min<std::int64_t>(first + arity, count));
            std::int32_t best = static_cast<std::int32_t>(first);
            for (std::int32_t c = best + 1; c < last; ++c)
                if (entries[c].key < entries[best].key)
                    best = c;
            if (entries[best].key >= moving.key)
                break;
            entries[i] = entries[best];
            i = best;
        }
        entries[i] = moving;
    }
    if (x)
        *x = top.x;
    if (y)
        *y = top.y;
    return top.key;
}

// ---------------------------------------------------------------- path search

namespace {

// The search's open list: a 5-ary min-heap like CMinHeap5, same sift rules
// and so the same order of equal keys, with keys apart from the positions so
// that a sift reads them densely. The slots past the last entry hold the
// largest key, so a sift compares all five children without a bound check,
// and picks the smallest without a jump.
class SeamHeap {
    static constexpr std::int32_t kNone = 0x7fffffff;  // pushed keys are smaller
    static constexpr std::size_t kPad = 8;

public:
    explicit SeamHeap(std::size_t capacity) : capacity(capacity) {}
    void Push(std::int32_t key, std::int32_t at) {
        if (count == capacity)
            return;
        if (count + kPad >= keys.size()) {
            const std::size_t size = std::min(capacity, std::max<std::size_t>(64, 2 * keys.size()));
            keys.resize(size + kPad + 1, kNone);
            places.resize(size + kPad + 1);
        }
        std::size_t i = count++;
        while (i > 0) {
            const std::size_t parent = (i - 1) / 5;
            if (keys[parent] <= key)
                break;
            keys[i] = keys[parent];
            places[i] = places[parent];
            i = parent;
        }
        keys[i] = key;
        places[i] = at;
    }
    bool Empty() const { return count == 0; }
    // The smallest key and its position; the heap must not be empty.
    std::int32_t Pop(std::int32_t* at) {
        const std::int32_t top = keys[0];
        *at = places[0];
        --count;
        const std::int32_t movingKey = keys[count], movingAt = places[count];
        keys[count] = kNone;
        if (count > 0) {
            std::size_t i = 0;
            const std::int32_t* k = keys.data();
            for (;;) {
                const std::size_t first = i * 5 + 1;
                if (first >= count)
                    break;
                // The first of equal smallest keys wins.
                std::size_t best = first;
                std::int32_t bestKey = k[first];
#pragma GCC unroll 4
                for (std::size_t c = first + 1; c < first + 5; ++c) {
                    const bool less = k[c] < bestKey;
                    best = less ? c : best;
                    bestKey = less ? k[c] : bestKey;
                }
                if (bestKey >= movingKey)
                    break;
                keys[i] = bestKey;
                places[i] = places[best];
                i = best;
            }
            keys[i] = movingKey;
            places[i] = movingAt;
        }
        return top;
    }

private:
    std::vector<std::int32_t> keys;
    std::vector<std::int32_t> places;
    std::size_t count = 0;
    std::size_t capacity;
};

constexpr std::int32_t kInfinite = 0x7fffffff;

// Dijkstra from the middle of the first "line" to the last one. The grid is
// addressed as (along, across): for a vertical seam along = y, across = x.
// cost(across, along) reads the plane. A node is taken once: a later,
// longer entry of it could improve no neighbour and is passed over.
template <class Cost>
void FindSeamPath(Cost cost, std::int32_t across, std::int32_t along, std::vector<SeamPoint>* path,
                  std::int32_t margin) {
    path->clear();
    if (across <= 0 || along <= 0)
        return;
    const std::size_t n = static_cast<std::size_t>(across) * static_cast<std::size_t>(along);
    if (n > static_cast<std::size_t>(kInfinite))
        return;
    // Margin columns start below every path cost, so no relaxation reaches
    // them. A node's latest entry carries its distance: an older, longer one
    // comes out later and is passed over. A taken node can be improved by no
    // neighbour (costs are never negative), so it needs no mark of its own.
    constexpr std::int32_t kMargin = -1;
    std::vector<std::int32_t> distance(n, kInfinite);
    std::vector<std::int32_t> from(n, -1);
    if (margin > 0)
        for (std::int32_t a = 0; a < along; ++a) {
            std::int32_t* row = distance.data() + static_cast<std::size_t>(a) * across;
            for (std::int32_t c = 0; c < across; ++c)
                if (c < margin || c >= across - margin)
                    row[c] = kMargin;
        }
    SeamHeap heap(n);
    std::int32_t at = across / 2;
    distance[at] = 0;
    heap.Push(0, at);
    while (!heap.Empty()) {
        const std::int32_t key = heap.Pop(&at);
        if (key != distance[at])
            continue;
        const std::int32_t a = at / across, c = at - a * across;
        if (a == along - 1)
            break;
        auto relax = [&](std::int32_t nc, std::int32_t na) {
            const std::int32_t target = na * across + nc;
            const std::int32_t d = key + cost(nc, na);
            if (d < distance[target]) {
                distance[target] = d;
                from[target] = at;
                heap.Push(d, target);
            }
        };
        if (c >= 2)
            relax(c - 1, a);
        if (c <= across - 2)
            relax(c + 1, a);
        if (a < along - 1) {
            if (c >= 2)
                relax(c - 1, a + 1);
            relax(c, a + 1);
            if (c <= across - 2)
                relax(c + 1, a + 1);
        }
    }
    // Predecessors of the last node taken, back to the start.
    for (std::int32_t p = from[at]; p >= 0; p = from[p])
        path->push_back(SeamPoint{p % across, p / across});
}

}  // namespace

void FindVerticalSeam(const std::uint8_t* plane, std::int32_t width, std::int32_t height, std::int32_t stride,
                      std::vector<SeamPoint>* points, bool mirrored, std::int32_t margin,
                      std::int32_t offsetX, std::int32_t offsetY) {
    if (!points)
        return;
    points->clear();
    if (!plane)
        return;
    std::vector<SeamPoint> read;
    FindSeamPath(
        [&](std::int32_t x, std::int32_t y) { return plane[static_cast<std::size_t>(y) * stride + x]; },
        width, height, &read, margin);
    for (SeamPoint& p : read)
        p = SeamPoint{p.x + offsetX, (mirrored ? height - 1 - p.y : p.y) + offsetY};
    if (!mirrored)
        std::reverse(read.begin(), read.end());
    *points = std::move(read);
}

void FindHorizontalSeam(const std::uint8_t* plane, std::int32_t width, std::int32_t height,
                        std::int32_t stride, std::vector<SeamPoint>* points, bool mirrored,
                        std::int32_t margin, std::int32_t offsetX, std::int32_t offsetY) {
    if (!points)
        return;
    points->clear();
    if (!plane)
        return;
    std::vector<SeamPoint> read;
    // Across is y, along is x: the path's points come back as (y, x).
    FindSeamPath(
        [&](std::int32_t y, std::int32_t x) { return plane[static_cast<std::size_t>(y) * stride + x]; },
        height, width, &read, margin);
    for (SeamPoint& p : read)
        p = SeamPoint{(mirrored ? width - 1 - p.y : p.y) + offsetX, p.x + offsetY};
    if (!mirrored)
        std::reverse(read.begin(), read.end());
    *points = std::move(read);
}

int MeanOfRegion(const IPanoElement* image, const Rect& area) {
    if (!image || !image->IsValid() || image->GetBpp() != 8)
        return 0;
    const Rect r = Overlap(area, Rect(0, 0, image->GetWidth(), image->GetHeight()));
    if (r.IsEmpty())
        return 0;
    const std::uint8_t* bits = image->GetBits();
    const std::size_t stride = image->GetStride();
    std::uint64_t sum = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            sum += bits[y * stride + x];
    const double count = static_cast<double>(r.Width()) * r.Height();
    return static_cast<int>(static_cast<double>(sum) / count + 0.5);
}

int SeamMargin(int n) {
    if (n >= 65)
        return 16;
    if (n >= 33)
        return 8;
    if (n >= 9)
        return 4;
    return 0;
}

// ---------------------------------------------------------------- CSeamFinder

CSeamFinder::CSeamFinder(IPanoElement* difference, const Rect& core) : difference(difference) {
    if (difference) {
        difference->AddRef();
        const Rect hit = Overlap(core, difference->GetRect());
        if (!hit.IsEmpty())
            coreRect = hit;
    }
}

CSeamFinder::~CSeamFinder() {
    if (difference)
        difference->Release();
}

IPanoElement* CSeamFinder::GetOverlapStrip(std::int32_t side) {
    if (!difference || SideIndex(side) < 0)
        return nullptr;
    const Rect d = difference->GetRect();
    const Rect& c = coreRect;
    if (IsSingleSide(sides) || c.IsEmpty()) {
        difference->AddRef();
        return difference;
    }
    Rect cut = d;
    switch (side) {
        case SEAM_LEFT:
            cut.right = std::min(d.right, c.left);
            break;
        case SEAM_RIGHT:
            cut.left = std::max(d.left, c.right);
            break;
        case SEAM_TOP:
            cut.bottom = std::min(d.bottom, c.top);
            break;
        default:
            cut.top = std::max(d.top, c.bottom);
            break;
    }
    if (cut.IsEmpty())
        return nullptr;
    if (cut == d) {
        difference->AddRef();
        return difference;
    }
    auto* concrete = dynamic_cast<CPanoElement*>(difference);
    return concrete ? concrete->ExtractRegion(false, cut) : nullptr;
}

namespace {

void FlipRows(IPanoElement* e) {
    const int h = e->GetHeight();
    const std::size_t stride = e->GetStride();
    std::uint8_t* bits = e->GetBits();
    for (int top = 0, bottom = h - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(bits + top * stride, bits + top * stride + e->GetWidth(), bits + bottom * stride);
}

void FlipColumns(IPanoElement* e) {
    const int w = e->GetWidth(), h = e->GetHeight();
    const std::size_t stride = e->GetStride();
    for (int y = 0; y < h; ++y)
        std::reverse(e->GetBits() + y * stride, e->GetBits() + y * stride + w);
}

}  // namespace

void CSeamFinder::FindSeams(IPanoElement* photo, std::int32_t sideFlags) {
    if (!difference || !photo || !difference->IsValid() || difference->GetBpp() != 8)
        return;
    photoRect = photo->GetRect();
    sides = sideFlags;
    for (const std::int32_t side : kSides) {
        if (!(sides & side))
            continue;
        RefPtr<IPanoElement> strip(GetOverlapStrip(side));
        if (!strip)
            continue;
        const bool vertical = side == SEAM_LEFT || side == SEAM_RIGHT;
        const int w = strip->GetWidth(), h = strip->GetHeight();
        const int margin = SeamMargin(vertical ? w : h);
        bool mirrored;
        if (vertical) {
            const int nearMean = MeanOfRegion(strip.Get(), Rect(w / 4, 0, 3 * w / 4, h / 4));
            const int farMean = MeanOfRegion(strip.Get(), Rect(w / 4, h - h / 4, 3 * w / 4, h));
            mirrored = farMean < nearMean;
            if (mirrored)
                FlipRows(strip.Get());
        } else {
            const int nearMean = MeanOfRegion(strip.Get(), Rect(0, h / 4, w / 4, 3 * h / 4));
            const int farMean = MeanOfRegion(strip.Get(), Rect(w - w / 4, h / 4, w, 3 * h / 4));
            mirrored = farMean < nearMean;
            if (mirrored)
                FlipColumns(strip.Get());
        }
        SeamLine& line = seams[side];
        line.strip = strip->GetRect();
        line.offsetX = line.strip.left - photoRect.left;
        line.offsetY = line.strip.top - photoRect.top;
        if (vertical)
            FindVerticalSeam(strip->GetBits(), w, h, strip->GetStride(), &line.points, mirrored, margin,
                             line.offsetX, line.offsetY);
        else
            FindHorizontalSeam(strip->GetBits(), w, h, strip->GetStride(), &line.points, mirrored, margin,
                               line.offsetX, line.offsetY);
        strip.Reset();
        CutMaskAlongSeam(photo, side, &line);
    }
}

// ---------------------------------------------------------------- mask cutting

namespace {

// Writes into one photo mask for one side, ignoring positions outside it.
class MaskCutter {
public:
    MaskCutter(IPanoElement* photo, std::int32_t side)
        : mask(photo->GetMask()),
          stride(photo->GetMaskStride()),
          width(photo->GetWidth()),
          height(photo->GetHeight()),
          side(side) {}

    bool Usable() const { return mask != nullptr; }
    bool Vertical() const { return side == SEAM_LEFT || side == SEAM_RIGHT; }

    void SetSeam(SeamPoint p) {
        if (p.x >= 0 && p.x < width && p.y >= 0 && p.y < height)
            mask[p.y * stride + p.x] = 255;
    }

    // Clears the neighbour's side of p's row (vertical seams) or column.
    void ClearCutSide(SeamPoint p) {
        switch (side) {
            case SEAM_LEFT:
                if (p.y >= 0 && p.y < height)
                    std::fill(mask + p.y * stride, mask + p.y * stride + std::clamp(p.x, 0, width), 0);
                break;
            case SEAM_RIGHT:
                if (p.y >= 0 && p.y < height)
                    std::fill(mask + p.y * stride + std::clamp(p.x + 1, 0, width),
                              mask + p.y * stride + width, 0);
                break;
            case SEAM_TOP:
                if (p.x >= 0 && p.x < width)
                    for (int y = 0, end = std::clamp(p.y, 0, height); y < end; ++y)
                        mask[y * stride + p.x] = 0;
                break;
            default:
                if (p.x >= 0 && p.x < width)
                    for (int y = std::clamp(p.y + 1, 0, height); y < height; ++y)
                        mask[y * stride + p.x] = 0;
                break;
        }
    }

    // Row of p for a vertical seam, column for a horizontal one.
    int Line(SeamPoint p) const { return Vertical() ? p.y : p.x; }

private:
    std::uint8_t* mask;
    std::size_t stride;
    int width, height;
    std::int32_t side;
};

// Bresenham from a up to, but not including, b.
template <class Visit>
void WalkLine(SeamPoint a, SeamPoint b, Visit visit) {
    const int dx = std::abs(b.x - a.x), dy = std::abs(b.y - a.y);
    const int sx = b.x >= a.x ? 1 : -1, sy = b.y >= a.y ? 1 : -1;
    SeamPoint p = a;
    if (dx >= dy) {
        int err = -dx;
        for (int i = 0; i < dx; ++i) {
            visit(p);
            p.x += sx;
            err += 2 * dy;
            while (err >= 0) {
                p.y += sy;
                err -= 2 * dx;
            }
        }
    } else {
        int err = -dy;
        for (int i = 0; i < dy; ++i) {
            visit(p);
            p.y += sy;
            err += 2 * dx;
            while (err >= 0) {
                p.x += sx;
                err -= 2 * dy;
            }
        }
    }
}

}  // namespace

void CutMaskAlongSeam(IPanoElement* photo, std::int32_t side, SeamLine* line) {
    if (!photo || !line || line->points.empty() || SideIndex(side) < 0)
        return;
    MaskCutter cut(photo, side);
    auto& pts = line->points;
    const int stripW = line->strip.Width(), stripH = line->strip.Height();
    if (cut.Vertical()) {
        pts.insert(pts.begin(), SeamPoint{pts.front().x, line->offsetY});
        pts.push_back(SeamPoint{pts.back().x, line->offsetY + stripH - 1});
    } else {
        pts.insert(pts.begin(), SeamPoint{line->offsetX, pts.front().y});
        pts.push_back(SeamPoint{line->offsetX + stripW - 1, pts.back().y});
    }
    if (!cut.Usable())
        return;
    cut.SetSeam(pts[0]);
    cut.ClearCutSide(pts[0]);
    for (std::size_t i = 1; i < pts.size(); ++i) {
        const SeamPoint prev = pts[i - 1], p = pts[i];
        if (std::abs(p.x - prev.x) < 2 && std::abs(p.y - prev.y) < 2) {
            cut.SetSeam(p);
            if (cut.Line(p) != cut.Line(prev))
                cut.ClearCutSide(p);
        } else {
            WalkLine(prev, p, [&](SeamPoint q) {
                cut.SetSeam(q);
                cut.ClearCutSide(q);
            });
        }
    }
}

// ---------------------------------------------------------------- CSeamRescaler

CSeamRescaler::CSeamRescaler(IPanoElement* analysis, IPanoElement* full, const SeamSet& seams)
    : analysis(analysis), full(full), seams(seams) {
    if (analysis)
        analysis->AddRef();
    if (full)
        full->AddRef();
}

CSeamRescaler::~CSeamRescaler() {
    if (analysis)
        analysis->Release();
    if (full)
        full->Release();
}

bool CSeamRescaler::Rescale() {
    if (!analysis || !full)
        return false;
    for (const std::int32_t side : kSides)
        if (!RescaleSide(side))
            return false;
    return true;
}

bool CSeamRescaler::RescaleSide(std::int32_t side) {
    const std::vector<SeamPoint>& pts = seams[side].points;
    if (pts.empty())
        return true;
    if (!full->GetMask())
        return false;
    const std::int64_t wa = analysis->GetRect().Width(), ha = analysis->GetRect().Height();
    const std::int64_t wf = full->GetRect().Width(), hf = full->GetRect().Height();
    // A one-pixel analysis copy gives no scale to map by.
    if (wa <= 1 || ha <= 1)
        return false;
    std::vector<SeamPoint> mapped;
    mapped.reserve(pts.size());
    for (const SeamPoint& p : pts)
        mapped.push_back(SeamPoint{static_cast<std::int32_t>(p.x * (wf - 1) / (wa - 1)),
                                   static_cast<std::int32_t>(p.y * (hf - 1) / (ha - 1))});
    MaskCutter cut(full, side);
    bool anyLine = false;
    int lastLine = 0;
    auto visit = [&](SeamPoint q) {
        cut.SetSeam(q);
        if (!anyLine || cut.Line(q) != lastLine) {
            cut.ClearCutSide(q);
            anyLine = true;
            lastLine = cut.Line(q);
        }
    };
    for (std::size_t i = 0; i + 1 < mapped.size(); ++i)
        WalkLine(mapped[i], mapped[i + 1], visit);
    // The last point ends on the strip's last row (column); without it that
    // row would keep the photo over the neighbour, a line one pixel wide.
    // Rows (columns) of the full-size photo that fall between the strip's
    // last analysis row and the next one are cut the same way.
    const bool vertical = cut.Vertical();
    const std::int64_t na = vertical ? ha : wa, nf = vertical ? hf : wf;
    const std::int64_t lastA = vertical ? pts.back().y : pts.back().x;
    const std::int64_t end =
        std::min<std::int64_t>(nf - 1, (lastA * (nf - 1) / (na - 1) + (lastA + 1) * (nf - 1) / (na - 1)) / 2);
    SeamPoint q = mapped.back();
    for (std::int64_t line = vertical ? q.y : q.x; line <= end; ++line) {
        (vertical ? q.y : q.x) = static_cast<std::int32_t>(line);
        visit(q);
    }
    // Likewise before the first point, down to halfway to the row before it.
    const std::int64_t firstA = vertical ? pts.front().y : pts.front().x;
    if (firstA > 0) {
        const std::int64_t begin =
            ((firstA - 1) * (nf - 1) / (na - 1) + firstA * (nf - 1) / (na - 1) + 1) / 2;
        q = mapped.front();
        const std::int64_t first = vertical ? q.y : q.x;
        for (std::int64_t line = std::max<std::int64_t>(begin, 0); line < first; ++line) {
            (vertical ? q.y : q.x) = static_cast<std::int32_t>(line);
            cut.SetSeam(q);
            cut.ClearCutSide(q);
        }
    }
    return true;
}

// ---------------------------------------------------------------- seam masks

namespace {

std::uint8_t MaskAt(CPanoElement* e, int x, int y) {
    const std::uint8_t* m = e->GetMask();
    if (!m)
        return 255;
    return m[static_cast<std::size_t>(y - e->y) * e->GetMaskStride() + (x - e->x)];
}

bool Is24Bit(CPanoElement* e) {
    return e && e->IsValid() && e->GetBpp() == 24;
}

// Rows [top, bottom) of about width samples each, side by side; each call
// writes only its own row.
template <class Body>
void ForRows(int top, int bottom, int width, Body body) {
    if (bottom <= top)
        return;
    constexpr std::size_t kChunkSamples = 1 << 14;
    const std::size_t perRow = static_cast<std::size_t>(std::max(width, 1));
    if (static_cast<std::size_t>(bottom - top) * perRow < 2 * kChunkSamples) {
        for (int y = top; y < bottom; ++y)
            body(y);
        return;
    }
    Platform::ParallelFor(
        static_cast<std::size_t>(top), static_cast<std::size_t>(bottom),
        [&](std::size_t b, std::size_t e) {
            for (std::size_t y = b; y < e; ++y)
                body(static_cast<int>(y));
        },
        std::max<std::size_t>(1, kChunkSamples / perRow));
}

CPanoElement* NewGreyElement(const Rect& area) {
    RefPtr<CPanoElement> e(new (std::nothrow) CPanoElement(0));
    if (!e || !e->GetImage() || !e->Create(8, area.Width(), area.Height()))
        return nullptr;
    e->x = area.left;
    e->y = area.top;
    return e.Detach();
}

// Writes value where the element covers the map (and, with uncovered >= 0,
// that value where it does not).
void MarkCoverage(CPanoElement* map, CPanoElement* element, std::uint8_t value, int uncovered) {
    if (!map || !element || !map->IsValid() || map->GetBpp() != 8)
        return;
    const Rect hit = Overlap(map->GetRect(), element->GetRect());
    if (hit.IsEmpty())
        return;
    const std::size_t stride = map->GetStride();
    const std::uint8_t* mask = element->GetMask();
    const std::size_t maskStride = mask ? element->GetMaskStride() : 0;
    ForRows(hit.top, hit.bottom, hit.Width(), [&](int y) {
        std::uint8_t* row =
            map->GetBits() + static_cast<std::size_t>(y - map->y) * stride + (hit.left - map->x);
        const int n = hit.Width();
        if (!mask) {
            std::memset(row, value, n);
            return;
        }
        const std::uint8_t* m =
            mask + static_cast<std::size_t>(y - element->y) * maskStride + (hit.left - element->x);
        if (uncovered >= 0) {
            for (int i = 0; i < n; ++i)
                row[i] = m[i] != 0 ? value : static_cast<std::uint8_t>(uncovered);
        } else {
            for (int i = 0; i < n; ++i)
                if (m[i] != 0)
                    row[i] = value;
        }
    });
}

// 0 bytes of the result's mask along one column (or row) of the photo, only
// where that line lies inside the result.
int CountResultZeros(CPanoElement* result, bool column, int line, int from, int to) {
    const Rect r = result->GetRect();
    int count = 0;
    if (column) {
        if (line < r.left || line >= r.right)
            return 0;
        for (int y = std::max(from, r.top); y < std::min(to, r.bottom); ++y)
            count += MaskAt(result, line, y) == 0;
    } else {
        if (line < r.top || line >= r.bottom)
            return 0;
        for (int x = std::max(from, r.left); x < std::min(to, r.right); ++x)
            count += MaskAt(result, x, line) == 0;
    }
    return count;
}

// Smooths the difference image, searches and cuts, keeps the seams.
void CutAlongSeams(CPanoElement* difference, const Rect& core, CPanoElement* warped, std::int32_t sides,
                   SeamSet* seams, double seamBlur) {
    SmoothGreyPlane(difference->GetWidth(), difference->GetHeight(), difference->GetStride(),
                    difference->GetBits(), seamBlur);
    CSeamFinder finder(difference, core);
    finder.FindSeams(warped, sides);
    if (seams)
        seams->Assign(&finder.Line(SEAM_LEFT), &finder.Line(SEAM_RIGHT), &finder.Line(SEAM_TOP),
                      &finder.Line(SEAM_BOTTOM));
}

bool SeamMaskGeneral(CPanoElement* warped, CPanoElement* result, SeamSet* seams, double seamBlur) {
    Rect eb, rb;
    warped->GetMaskBounds(&eb, nullptr);
    if (eb.IsEmpty())
        return true;
    result->GetMaskBounds(&rb, &eb);
    const Rect overlap = rb.IsEmpty() ? Rect() : Overlap(eb, rb);
    if (overlap.IsEmpty())
        return true;

    const bool leftRight = overlap.Width() * 100.0 / eb.Width() < overlap.Height() * 100.0 / eb.Height();
    RefPtr<CPanoElement> difference(MakeDifferenceImage(result, warped, overlap));
    if (!difference)
        return false;

    const Rect pr = warped->GetRect(), rr = result->GetRect();
    std::int32_t side;
    if (leftRight) {
        if (pr.left < rr.left) {
            side = SEAM_RIGHT;
        } else if (pr.right < rr.right) {
            const int left = CountResultZeros(result, true, pr.left, pr.top, pr.bottom);
            const int right = CountResultZeros(result, true, pr.right - 1, pr.top, pr.bottom);
            side = right < left ? SEAM_RIGHT : SEAM_LEFT;
        } else {
            side = SEAM_LEFT;
        }
    } else {
        if (pr.top < rr.top) {
            side = SEAM_BOTTOM;
        } else if (pr.bottom < rr.bottom) {
            const int top = CountResultZeros(result, false, pr.top, pr.left, pr.right);
            const int bottom = CountResultZeros(result, false, pr.bottom - 1, pr.left, pr.right);
            side = bottom < top ? SEAM_BOTTOM : SEAM_TOP;
        } else {
            side = SEAM_TOP;
        }
    }
    CutAlongSeams(difference.Get(), Rect(), warped, side, seams, seamBlur);
    return true;
}

bool SeamMaskScaleShift(CPanoElement* warped, CPanoElement* result, SeamSet* seams, double seamBlur) {
    Rect eb, rb;
    warped->GetMaskBounds(&eb, nullptr);
    if (eb.IsEmpty())
        return true;
    std::int32_t sides;
    Rect core;
    {
        RefPtr<CPanoElement> map(NewGreyElement(eb));
        if (!map)
            return false;
        MarkElementCoverage(map.Get(), warped);
        MarkResultCoverage(map.Get(), result);
        const SeamPoint p = FindElementOnlyCentre(map.Get());
        sides = DetectSeamSides(map.Get(), p);
        core = GrowSeamCoreRect(map.Get(), p);
    }
    result->GetMaskBounds(&rb, &eb);
    const Rect overlap = rb.IsEmpty() ? Rect() : Overlap(eb, rb);
    if (overlap.IsEmpty())
        return true;
    RefPtr<CPanoElement> difference(MakeDifferenceImage(result, warped, overlap));
    if (!difference)
        return false;
    CutAlongSeams(difference.Get(), core, warped, sides, seams, seamBlur);
    return true;
}

}  // namespace

void MarkElementCoverage(CPanoElement* map, CPanoElement* element) {
    MarkCoverage(map, element, 255, 0);
}

void MarkResultCoverage(CPanoElement* map, CPanoElement* element) {
    MarkCoverage(map, element, 128, -1);
}

SeamPoint FindElementOnlyCentre(CPanoElement* map) {
    if (!map || !map->IsValid() || map->GetBpp() != 8)
        return SeamPoint{};
    const int w = map->GetWidth(), h = map->GetHeight();
    const std::size_t stride = map->GetStride();
    const std::uint8_t* bits = map->GetBits();
    auto at = [&](int x, int y) { return bits[static_cast<std::size_t>(y) * stride + x]; };
    // 64-bit: a large map's index sums overflow 32 bits.
    std::int64_t sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (at(x, y) == 255) {
                sumX += x;
                sumY += y;
                ++count;
            }
    if (count == 0)
        return SeamPoint{w / 2 + map->x, h / 2 + map->y};
    int cx = static_cast<int>(sumX / count), cy = static_cast<int>(sumY / count);
    if (at(cx, cy) != 255) {
        static constexpr int kStep[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};  // left, right, up, down
        bool active[4] = {true, true, true, true};
        int found = -1, first = 0;
        for (int k = 1; found < 0 && (active[0] || active[1] || active[2] || active[3]); ++k) {
            for (int d = 0; d < 4; ++d) {
                if (!active[d])
                    continue;
                const int x = cx + kStep[d][0] * k, y = cy + kStep[d][1] * k;
                if (x < 0 || x >= w || y < 0 || y >= h) {
                    active[d] = false;
                    continue;
                }
                if (at(x, y) == 255) {
                    found = d;
                    first = k;
                    break;
                }
            }
        }
        if (found >= 0) {
            int last = first;
            for (int k = first + 1;; ++k) {
                const int x = cx + kStep[found][0] * k, y = cy + kStep[found][1] * k;
                if (x < 0 || x >= w || y < 0 || y >= h || at(x, y) != 255)
                    break;
                last = k;
            }
            if (found < 2) {
                const int a = cx + kStep[found][0] * first, b = cx + kStep[found][0] * last;
                cx = (a + b + 1) / 2;
            } else {
                const int a = cy + kStep[found][1] * first, b = cy + kStep[found][1] * last;
                cy = (a + b + 1) / 2;
            }
        }
    }
    return SeamPoint{cx + map->x, cy + map->y};
}

std::int32_t DetectSeamSides(CPanoElement* map, SeamPoint point) {
    if (!map || !map->IsValid() || map->GetBpp() != 8)
        return 0;
    const int w = map->GetWidth(), h = map->GetHeight();
    const int px = point.x - map->x, py = point.y - map->y;
    if (px < 0 || px >= w || py < 0 || py >= h)
        return 0;
    const std::size_t stride = map->GetStride();
    const std::uint8_t* bits = map->GetBits();
    auto at = [&](int x, int y) { return bits[static_cast<std::size_t>(y) * stride + x]; };
    std::int32_t sides = 0;
    for (int x = px + 1; x < w; ++x)
        if (at(x, py) == 128) {
            sides |= SEAM_RIGHT;
            break;
        }
    for (int x = px - 1; x >= 0; --x)
        if (at(x, py) == 128) {
            sides |= SEAM_LEFT;
            break;
        }
    for (int y = py + 1; y < h; ++y)
        if (at(px, y) == 128) {
            sides |= SEAM_BOTTOM;
            break;
        }
    for (int y = py - 1; y >= 0; --y)
        if (at(px, y) == 128) {
            sides |= SEAM_TOP;
            break;
        }
    return sides;
}

Rect GrowSeamCoreRect(CPanoElement* map, SeamPoint point) {
    if (!map || !map->IsValid() || map->GetBpp() != 8)
        return Rect();
    const int w = map->GetWidth(), h = map->GetHeight();
    const int px = point.x - map->x, py = point.y - map->y;
    const std::size_t stride = map->GetStride();
    const std::uint8_t* bits = map->GetBits();
    auto is128 = [&](int x, int y) {
        return x >= 0 && x < w && y >= 0 && y < h && bits[static_cast<std::size_t>(y) * stride + x] == 128;
    };
    int left = px, right = px, top = py, bottom = py;
    bool open[4] = {true, true, true, true};  // left, right, top, bottom
    auto closesAlong = [&](bool column, int line, int from, int to) {
        const int scanned = to - from + 1;
        if (scanned <= 0)
            return false;
        int count = 0;
        for (int i = from; i <= to; ++i)
            count += column ? is128(line, i) : is128(i, line);
        return count >= 1 && count >= (scanned * 20) / 100;
    };
    for (int k = 1; open[0] || open[1] || open[2] || open[3]; ++k) {
        if (open[0])
            left = px - k;
        if (open[1])
            right = px + k;
        if (open[2])
            top = py - k;
        if (open[3])
            bottom = py + k;
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, w - 1);
        bottom = std::min(bottom, h - 1);
        if (open[0] && closesAlong(true, left, top + 1, bottom - 2))
            open[0] = false;
        if (open[1] && closesAlong(true, right, top + 1, bottom - 2))
            open[1] = false;
        if (open[2] && closesAlong(false, top, left + 1, right - 2))
            open[2] = false;
        if (open[3] && closesAlong(false, bottom, left + 1, right - 2))
            open[3] = false;
        if (left == 0)
            open[0] = false;
        if (top == 0)
            open[2] = false;
        if (right == w - 1)
            open[1] = false;
        if (bottom == h - 1)
            open[3] = false;
    }
    return Rect(left + map->x, top + map->y, right + map->x, bottom + map->y);
}

CPanoElement* MakeDifferenceImage(CPanoElement* result, CPanoElement* photo, const Rect& overlapIn) {
    if (!Is24Bit(result) || !Is24Bit(photo))
        return nullptr;
    const Rect overlap = Overlap(overlapIn, Overlap(result->GetRect(), photo->GetRect()));
    if (overlap.IsEmpty())
        return nullptr;
    RefPtr<CPanoElement> difference(NewGreyElement(overlap));
    if (!difference)
        return nullptr;
    CPanoElement* d = difference.Get();
    const std::uint8_t* resultMask = result->GetMask();
    const std::uint8_t* photoMask = photo->GetMask();
    const std::size_t resultMaskStride = resultMask ? result->GetMaskStride() : 0;
    const std::size_t photoMaskStride = photoMask ? photo->GetMaskStride() : 0;
    ForRows(overlap.top, overlap.bottom, 4 * overlap.Width(), [&](int y) {
        std::uint8_t* out = d->GetBits() + static_cast<std::size_t>(y - overlap.top) * d->GetStride();
        const std::uint8_t* r =
            result->GetBits() + static_cast<std::size_t>(y - result->y) * result->GetStride();
        const std::uint8_t* p =
            photo->GetBits() + static_cast<std::size_t>(y - photo->y) * photo->GetStride();
        const std::uint8_t* rm =
            resultMask ? resultMask + static_cast<std::size_t>(y - result->y) * resultMaskStride : nullptr;
        const std::uint8_t* pm =
            photoMask ? photoMask + static_cast<std::size_t>(y - photo->y) * photoMaskStride : nullptr;
        for (int x = overlap.left; x < overlap.right; ++x) {
            if ((rm && rm[x - result->x] == 0) || (pm && pm[x - photo->x] == 0)) {
                out[x - overlap.left] = 255;
                continue;
            }
            const int gr = static_cast<int>(GreyLevel(r + 3 * (x - result->x)));
            const int gp = static_cast<int>(GreyLevel(p + 3 * (x - photo->x)));
            out[x - overlap.left] = static_cast<std::uint8_t>(std::abs(gr - gp));
        }
    });
    return difference.Detach();
}

std::vector<std::uint8_t> CopyMask(CPanoElement* element) {
    if (!element || !element->GetMask() || element->GetHeight() <= 0)
        return {};
    const std::uint8_t* m = element->GetMask();
    return std::vector<std::uint8_t>(m, m + static_cast<std::size_t>(element->GetMaskStride()) *
                                                static_cast<std::size_t>(element->GetHeight()));
}

void KeepCutWithinCoverage(CPanoElement* warped, const std::vector<std::uint8_t>& coverage,
                           CPanoElement* result) {
    if (!warped || !warped->GetMask() || warped->GetHeight() <= 0)
        return;
    const std::size_t stride = static_cast<std::size_t>(warped->GetMaskStride());
    if (coverage.size() != stride * static_cast<std::size_t>(warped->GetHeight()))
        return;
    const Rect rr = result && result->IsValid() ? result->GetRect() : Rect();
    const int w = warped->GetWidth();
    const std::uint8_t* resultMask = result && result->IsValid() ? result->GetMask() : nullptr;
    const std::size_t resultMaskStride = resultMask ? result->GetMaskStride() : 0;
    // The columns of the photo that lie inside the result.
    const int inLeft = std::clamp(rr.left - warped->x, 0, w),
              inRight = std::clamp(rr.right - warped->x, 0, w);
    ForRows(0, warped->GetHeight(), w, [&](int row) {
        std::uint8_t* m = warped->GetMask() + static_cast<std::size_t>(row) * stride;
        const std::uint8_t* c = coverage.data() + static_cast<std::size_t>(row) * stride;
        const int y = warped->y + row;
        if (y < rr.top || y >= rr.bottom || inLeft >= inRight) {
            std::memcpy(m, c, w);
            return;
        }
        std::memcpy(m, c, inLeft);
        std::memcpy(m + inRight, c + inRight, w - inRight);
        const std::uint8_t* rm = resultMask ? resultMask +
                                                  static_cast<std::size_t>(y - result->y) * resultMaskStride +
                                                  (warped->x + inLeft - result->x)
                                            : nullptr;
        for (int i = inLeft; i < inRight; ++i) {
            const bool resultCovers = !rm || rm[i - inLeft] != 0;
            m[i] = resultCovers ? std::min(m[i], c[i]) : c[i];
        }
    });
}

void FadeTowardsCoveredEdges(CPanoElement* warped, CPanoElement* result, int reach) {
    if (!warped || !warped->IsValid() || !warped->GetMask() || !result || !result->IsValid() || reach < 2)
        return;
    const int w = warped->GetWidth(), h = warped->GetHeight();
    const std::size_t stride = warped->GetMaskStride();
    std::uint8_t* mask = warped->GetMask();
    const std::uint8_t* coverage = warped->GetSavedMaskIfAny() ? warped->GetSavedMaskIfAny() : mask;
    const Rect rr = result->GetRect();
    const std::uint8_t* resultMask = result->GetMask();
    auto resultCovers = [&](int x, int y) {  // photo coordinates, possibly outside the photo
        const int rx = x + warped->x, ry = y + warped->y;
        if (rx < rr.left || rx >= rr.right || ry < rr.top || ry >= rr.bottom)
            return false;
        return !resultMask ||
               resultMask[static_cast<std::size_t>(ry - result->y) * result->GetMaskStride() + (rx - result->x)] != 0;
    };
    // Chessboard distance, in whole pixels up to reach, from the photo's
    // edges over the result: 0 on a pixel outside the photo the result
    // covers, so 1 on the photo's pixels next to one.
    const int far = std::min(reach, 65535);
    std::vector<std::uint16_t> d(static_cast<std::size_t>(w) * h, static_cast<std::uint16_t>(far));
    bool any = false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint16_t& v = d[static_cast<std::size_t>(y) * w + x];
            if (coverage[y * stride + x] == 0) {
                if (resultCovers(x, y)) {
                    v = 0;
                    any = true;
                }
                continue;
            }
            // Next to the photo's rectangle.
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
                for (int dy = -1; dy <= 1 && v > 1; ++dy)
                    for (int dx = -1; dx <= 1 && v > 1; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if ((nx < 0 || ny < 0 || nx >= w || ny >= h) && resultCovers(nx, ny)) {
                            v = 1;
                            any = true;
                        }
                    }
        }
    if (!any)
        return;
    auto relax = [&](int x, int y, int nx, int ny) {
        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
            return;
        std::uint16_t& v = d[static_cast<std::size_t>(y) * w + x];
        v = static_cast<std::uint16_t>(std::min<int>(v, d[static_cast<std::size_t>(ny) * w + nx] + 1));
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            relax(x, y, x - 1, y);
            relax(x, y, x - 1, y - 1);
            relax(x, y, x, y - 1);
            relax(x, y, x + 1, y - 1);
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            relax(x, y, x + 1, y);
            relax(x, y, x + 1, y + 1);
            relax(x, y, x, y + 1);
            relax(x, y, x - 1, y + 1);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = d[static_cast<std::size_t>(y) * w + x];
            std::uint8_t& m = mask[y * stride + x];
            if (v < far && m != 0)
                m = static_cast<std::uint8_t>(std::min<int>(m, 255 * v / far));
        }
}

bool ComputeSeamMask(CPanoElement* warped, CPanoElement* result, int motionModel, SeamSet* seams,
                     double seamBlur) {
    if (!Is24Bit(warped) || !Is24Bit(result))
        return false;
    try {
        const std::vector<std::uint8_t> coverage = CopyMask(warped);
        const bool ok = motionModel == 2 ? SeamMaskScaleShift(warped, result, seams, seamBlur)
                                         : SeamMaskGeneral(warped, result, seams, seamBlur);
        KeepCutWithinCoverage(warped, coverage, result);
        return ok;
    } catch (const std::bad_alloc&) {
        // The node table or heap of a large strip: the engine's failure, not
        // an escaping exception.
        return false;
    }
}
