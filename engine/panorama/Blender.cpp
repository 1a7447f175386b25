#include "Blender.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "PlaneMemory.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;

namespace LaplacianPyramid {

namespace {

// Below this many samples a chunk of lines costs more to hand to another
// thread than to run.
constexpr std::size_t kChunkSamples = 1 << 14;

// Rows (or columns) of one plane, about samples each; bodies write only their
// own lines.
template <class Body>
void ForLines(std::int32_t count, std::int64_t samples, Body body) {
    if (count <= 0)
        return;
    const std::size_t perLine = static_cast<std::size_t>(std::max<std::int64_t>(samples, 1));
    if (static_cast<std::size_t>(count) * perLine < 2 * kChunkSamples) {
        for (std::int32_t i = 0; i < count; ++i)
            body(i);
        return;
    }
    Platform::ParallelFor(
        0, static_cast<std::size_t>(count),
        [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                body(static_cast<std::int32_t>(i));
        },
        std::max<std::size_t>(1, kChunkSamples / perLine));
}

std::uint8_t Clamp255(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// The filters' inner loops on 8-bit samples. With SSE2 (every x86-64) eight
// or sixteen samples go at once in 16-bit lanes, each lane forming exactly
// the sums of the plain loop; the divisions by the filters' constants are a
// multiply-high by a reciprocal rounded up, which gives the exact quotient
// for every sum the filters can form (checked for all of them).
#if defined(__SSE2__)
inline __m128i Div20(__m128i v) {  // v <= 20 * 255
    return _mm_mulhi_epu16(v, _mm_set1_epi16(3277));
}
inline __m128i Div10(__m128i v) {  // v <= 10 * 255
    return _mm_mulhi_epu16(v, _mm_set1_epi16(6554));
}
inline __m128i Div9(__m128i v) {  // v <= 9 * 255
    return _mm_mulhi_epu16(v, _mm_set1_epi16(7282));
}
inline __m128i Div255(__m128i v) {  // v <= 255 * 255 + 127
    return _mm_srli_epi16(_mm_mulhi_epu16(v, _mm_set1_epi16(static_cast<short>(32897))), 7);
}
inline __m128i Load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store16(std::uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i Load8(const std::uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i Low16(__m128i v) {
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}
inline __m128i High16(__m128i v) {
    return _mm_unpackhi_epi8(v, _mm_setzero_si128());
}
inline __m128i Times5(__m128i v) {
    return _mm_add_epi16(_mm_slli_epi16(v, 2), v);
}
#endif

// (a + 8 b + c) / 10 and its renormalised ends, along a line of n samples:
// the vertical step of the expansion.
void ExpandRowsBetween(const std::uint8_t* s0, const std::uint8_t* s1, const std::uint8_t* s2, int n,
                       std::uint8_t* o) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= n; x += 16) {
        const __m128i a = Load16(s0 + x), b = Load16(s1 + x), c = Load16(s2 + x);
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(Low16(a), Low16(c)), _mm_slli_epi16(Low16(b), 3));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(High16(a), High16(c)), _mm_slli_epi16(High16(b), 3));
        Store16(o + x, _mm_packus_epi16(Div10(lo), Div10(hi)));
    }
#endif
    for (; x < n; ++x)
        o[x] = static_cast<std::uint8_t>((s0[x] + 8 * s1[x] + s2[x]) / 10);
}

// (8 a + b) / 9 along a line.
void ExpandRowEnd(const std::uint8_t* near, const std::uint8_t* far, int n, std::uint8_t* o) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= n; x += 16) {
        const __m128i a = Load16(near + x), b = Load16(far + x);
        const __m128i lo = _mm_add_epi16(_mm_slli_epi16(Low16(a), 3), Low16(b));
        const __m128i hi = _mm_add_epi16(_mm_slli_epi16(High16(a), 3), High16(b));
        Store16(o + x, _mm_packus_epi16(Div9(lo), Div9(hi)));
    }
#endif
    for (; x < n; ++x)
        o[x] = static_cast<std::uint8_t>((8 * near[x] + far[x]) / 9);
}

// (a + b) / 2 along a line, rounding down.
void ExpandRowMiddle(const std::uint8_t* s0, const std::uint8_t* s1, int n, std::uint8_t* o) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i one = _mm_set1_epi8(1);
    for (; x + 16 <= n; x += 16) {
        const __m128i a = Load16(s0 + x), b = Load16(s1 + x);
        // The rounded-up average less the bit it rounded up by.
        Store16(o + x, _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one)));
    }
#endif
    for (; x < n; ++x)
        o[x] = static_cast<std::uint8_t>((s0[x] + s1[x]) / 2);
}

// Expansion of one line of n samples into 2n - 1: the even outputs weigh
// 1, 8, 1 with the ends renormalised to 9; the odd ones average.
void ExpandLineBytes(const std::uint8_t* s, int n, std::uint8_t* o) {
    if (n == 1) {
        o[0] = s[0];
        return;
    }
    o[0] = static_cast<std::uint8_t>((8 * s[0] + s[1]) / 9);
    o[1] = static_cast<std::uint8_t>((s[0] + s[1]) / 2);
    int i = 1;
#if defined(__SSE2__)
    // Outputs 2i .. 2i + 15 from samples i - 1 .. i + 8.
    for (; i + 8 <= n - 1; i += 8) {
        const __m128i l = Load8(s + i - 1), c = Load8(s + i), r = Load8(s + i + 1);
        const __m128i even = Div10(_mm_add_epi16(_mm_add_epi16(l, r), _mm_slli_epi16(c, 3)));
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(c, r), 1);
        const __m128i zero = _mm_setzero_si128();
        Store16(o + 2 * i, _mm_unpacklo_epi8(_mm_packus_epi16(even, zero), _mm_packus_epi16(odd, zero)));
    }
#endif
    for (; i < n - 1; ++i) {
        o[2 * i] = static_cast<std::uint8_t>((s[i - 1] + 8 * s[i] + s[i + 1]) / 10);
        o[2 * i + 1] = static_cast<std::uint8_t>((s[i] + s[i + 1]) / 2);
    }
    o[2 * (n - 1)] = static_cast<std::uint8_t>((s[n - 2] + 8 * s[n - 1]) / 9);
}

// d = clamp(d - up + 128) (sign < 0) or clamp(d + up - 128) along a line.
void AddDetailLine(std::uint8_t* d, const std::uint8_t* up, int n, int sign) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i bias = _mm_set1_epi16(128);
    for (; x + 16 <= n; x += 16) {
        const __m128i a = Load16(d + x), b = Load16(up + x);
        __m128i lo, hi;
        if (sign < 0) {
            lo = _mm_add_epi16(_mm_sub_epi16(Low16(a), Low16(b)), bias);
            hi = _mm_add_epi16(_mm_sub_epi16(High16(a), High16(b)), bias);
        } else {
            lo = _mm_sub_epi16(_mm_add_epi16(Low16(a), Low16(b)), bias);
            hi = _mm_sub_epi16(_mm_add_epi16(High16(a), High16(b)), bias);
        }
        Store16(d + x, _mm_packus_epi16(lo, hi));
    }
#endif
    if (sign < 0)
        for (; x < n; ++x)
            d[x] = Clamp255(d[x] - up[x] + 128);
    else
        for (; x < n; ++x)
            d[x] = Clamp255(d[x] + up[x] - 128);
}

// a = clamp(((255 - m) b + m a + 127) / 255) along a line: a band of the
// photo merged with the result's under the photo's mask. Rounded, not
// truncated: a truncation at every band darkens wherever the mask is neither
// 0 nor 255 by up to a level a band, and where the blended rectangle ends
// that shows as a step of a few levels against the untouched result.
void MergeLine(std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* m, int n) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i full = _mm_set1_epi16(255);
    for (; x + 16 <= n; x += 16) {
        const __m128i va = Load16(a + x), vb = Load16(b + x), vm = Load16(m + x);
        // Each sum is at most 255 * 255: exact in unsigned 16-bit lanes.
        const __m128i mlo = Low16(vm), mhi = High16(vm);
        const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(full, mlo), Low16(vb)),
                                         _mm_mullo_epi16(mlo, Low16(va)));
        const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(full, mhi), High16(vb)),
                                         _mm_mullo_epi16(mhi, High16(va)));
        const __m128i half = _mm_set1_epi16(127);
        Store16(a + x, _mm_packus_epi16(Div255(_mm_add_epi16(lo, half)), Div255(_mm_add_epi16(hi, half))));
    }
#endif
    for (; x < n; ++x)
        a[x] = Clamp255(((255 - m[x]) * b[x] + m[x] * a[x] + 127) / 255);
}

}  // namespace

namespace {

// Zeroes a plane in chunks on all threads, so that its pages are first
// touched in parallel.
void ZeroPlane(std::uint8_t* plane, std::size_t bytes) {
    constexpr std::size_t kChunk = 1 << 20;
    const std::size_t chunks = (bytes + kChunk - 1) / kChunk;
    if (chunks <= 1) {
        std::memset(plane, 0, bytes);
        return;
    }
    Platform::ParallelFor(0, chunks, [&](std::size_t b, std::size_t e) {
        for (std::size_t c = b; c < e; ++c)
            std::memset(plane + c * kChunk, 0, std::min(kChunk, bytes - c * kChunk));
    });
}

// Large planes are mapped (huge pages, already zero); smaller ones come
// from the heap, whose recycled pages cost no fault.
std::uint8_t* NewPlane(std::size_t bytes, bool* zeroed) {
    *zeroed = bytes >= PlaneMemory::kMappedFrom;
    if (*zeroed)
        return static_cast<std::uint8_t*>(PlaneMemory::Allocate(bytes));
    return new (std::nothrow) std::uint8_t[bytes];
}

void DeletePlane(std::uint8_t* plane, std::size_t capacity) {
    if (capacity >= PlaneMemory::kMappedFrom)
        PlaneMemory::Free(plane, capacity);
    else
        delete[] plane;
}

}  // namespace

PlanePool::~PlanePool() {
    for (auto& entry : free)
        DeletePlane(entry.second, entry.first);
}

std::uint8_t* PlanePool::Take(std::size_t bytes, bool zeroFill, std::size_t* capacity) {
    bytes = std::max<std::size_t>(bytes, 1);
    std::uint8_t* plane = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock);
        // The smallest kept plane that holds it, unless that wastes more than
        // half of it.
        auto it = free.lower_bound(bytes);
        if (it != free.end() && it->first / 2 <= bytes) {
            plane = it->second;
            *capacity = it->first;
            freeBytes -= it->first;
            free.erase(it);
        }
    }
    bool zeroed = false;
    if (!plane) {
        plane = NewPlane(bytes, &zeroed);
        *capacity = bytes;
    }
    if (!plane)
        return nullptr;
    {
        std::lock_guard<std::mutex> hold(lock);
        inUse += *capacity;
        peakInUse = std::max(peakInUse, inUse);
    }
    if (zeroFill && !zeroed)
        ZeroPlane(plane, bytes);
    return plane;
}

void PlanePool::Give(std::uint8_t* plane, std::size_t capacity) {
    std::lock_guard<std::mutex> hold(lock);
    inUse -= capacity;
    try {
        free.emplace(capacity, plane);
        freeBytes += capacity;
    } catch (...) {
        DeletePlane(plane, capacity);
    }
    // The smallest go first: they are the cheapest to make again.
    while (freeBytes > peakInUse && !free.empty()) {
        freeBytes -= free.begin()->first;
        DeletePlane(free.begin()->second, free.begin()->first);
        free.erase(free.begin());
    }
}

void PlanePool::Trim(std::size_t keep) {
    std::lock_guard<std::mutex> hold(lock);
    while (freeBytes > keep && !free.empty()) {
        auto largest = std::prev(free.end());
        freeBytes -= largest->first;
        DeletePlane(largest->second, largest->first);
        free.erase(largest);
    }
}

CLevel::CLevel(std::int32_t w, std::int32_t h, PlanePool* pool, bool zeroFill)
    : width(w), height(h), stride((w + 3) & ~3), pool(pool) {
    if (w < 0 || h < 0)
        throw outofmemory();
    const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(h);
    capacity = std::max<std::size_t>(bytes, 1);
    plane = pool ? pool->Take(bytes, zeroFill, &capacity) : new (std::nothrow) std::uint8_t[capacity]();
    if (!plane)
        throw outofmemory();
    refcount = 1;
}

CLevel::~CLevel() {
    if (pool)
        pool->Give(plane, capacity);
    else
        delete[] plane;
}

CLevel* LevelFactory::NewLevel(std::int32_t width, std::int32_t height) {
    auto* level = new (std::nothrow) CLevel(width, height, &pool, zeroFill);
    if (!level)
        throw outofmemory();
    return level;
}

namespace {

// The lines of several planes in one parallel loop: a pyramid step does the
// same to up to seven planes, and one loop for all of them hands work to the
// threads once instead of seven times. Each body writes only its own lines of
// its own plane, so the order the lines run in changes nothing. A body gets a
// range of lines, so that it can keep work rows between them.
class LineBatch {
public:
    template <class Body>
    void Add(std::int32_t count, std::int32_t width, Body body) {
        if (count <= 0)
            return;
        items.push_back(Item{count, std::function<void(std::int32_t, std::int32_t)>(std::move(body))});
        lines += static_cast<std::size_t>(count);
        samples += static_cast<std::size_t>(count) * static_cast<std::size_t>(std::max(width, 1));
    }

    void Run() {
        if (lines == 0)
            return;
        if (samples < 2 * kChunkSamples || Platform::ThreadPool::Shared().ThreadCount() == 1) {
            for (const Item& item : items)
                item.body(0, item.count);
            return;
        }
        std::vector<std::size_t> starts(items.size());
        std::size_t at = 0;
        for (std::size_t k = 0; k < items.size(); ++k) {
            starts[k] = at;
            at += static_cast<std::size_t>(items[k].count);
        }
        const std::size_t perLine = samples / lines + 1;
        const std::size_t grain = std::max<std::size_t>(1, kChunkSamples / perLine);
        Platform::ParallelFor(
            0, lines,
            [&](std::size_t b, std::size_t e) {
                std::size_t k = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), b) -
                                                         starts.begin()) -
                                1;
                for (std::size_t i = b; i < e; ++k) {
                    const std::size_t stop =
                        std::min(e, starts[k] + static_cast<std::size_t>(items[k].count));
                    items[k].body(static_cast<std::int32_t>(i - starts[k]),
                                  static_cast<std::int32_t>(stop - starts[k]));
                    i = stop;
                }
            },
            grain);
    }

private:
    struct Item {
        std::int32_t count;
        std::function<void(std::int32_t, std::int32_t)> body;
    };
    std::vector<Item> items;
    std::size_t lines = 0;
    std::size_t samples = 0;
};

using Levels = std::vector<RefPtr<CLevel>>;

// (1, 5, 8, 5, 1) / 20 along a row: w samples -> w/2 + 1.
void ReduceRow(const std::uint8_t* s, int w, std::uint8_t* out) {
    const int ow = w / 2 + 1;
    auto at = [&](int x) { return static_cast<int>(s[std::clamp(x, 0, w - 1)]); };
    auto one = [&](int x) {
        const int c = 2 * x;
        if (c >= 2 && c + 2 <= w - 1)
            out[x] = static_cast<std::uint8_t>(
                (s[c - 2] + 5 * s[c - 1] + 8 * s[c] + 5 * s[c + 1] + s[c + 2]) / 20);
        else
            out[x] = static_cast<std::uint8_t>(
                (at(c - 2) + 5 * at(c - 1) + 8 * at(c) + 5 * at(c + 1) + at(c + 2)) / 20);
    };
    int x = 0;
#if defined(__SSE2__)
    if (ow > 1) {
        one(0);
        x = 1;
    }
    // Outputs x .. x + 7 from samples 2x - 2 .. 2x + 17, split into even and
    // odd positions.
    const __m128i even = _mm_set1_epi16(0xff);
    for (; x + 8 <= ow && 2 * x + 17 <= w - 1; x += 8) {
        const __m128i a = Load16(s + 2 * x - 2), b = Load16(s + 2 * x), c = Load16(s + 2 * x + 2);
        const __m128i outer = _mm_add_epi16(_mm_and_si128(a, even), _mm_and_si128(c, even));
        const __m128i inner = _mm_add_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        const __m128i centre = _mm_slli_epi16(_mm_and_si128(b, even), 3);
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(outer, Times5(inner)), centre);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(Div20(sum), sum));
    }
#endif
    for (; x < ow; ++x)
        one(x);
}

// Five reduced rows into one: (1, 5, 8, 5, 1) / 20 down the column.
void ReduceColumns(const std::uint8_t* const r[5], int n, std::uint8_t* p) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= n; x += 16) {
        const __m128i v0 = Load16(r[0] + x), v1 = Load16(r[1] + x), v2 = Load16(r[2] + x),
                      v3 = Load16(r[3] + x), v4 = Load16(r[4] + x);
        const __m128i lo = _mm_add_epi16(
            _mm_add_epi16(_mm_add_epi16(Low16(v0), Low16(v4)), Times5(_mm_add_epi16(Low16(v1), Low16(v3)))),
            _mm_slli_epi16(Low16(v2), 3));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(High16(v0), High16(v4)),
                                                       Times5(_mm_add_epi16(High16(v1), High16(v3)))),
                                         _mm_slli_epi16(High16(v2), 3));
        Store16(p + x, _mm_packus_epi16(Div20(lo), Div20(hi)));
    }
#endif
    for (; x < n; ++x)
        p[x] = static_cast<std::uint8_t>((r[0][x] + 5 * r[1][x] + 8 * r[2][x] + 5 * r[3][x] + r[4][x]) / 20);
}

// Output rows [b, e) of the reduction of g into o: the rows of g reduced
// along x are kept in a ring of five, each made once per range.
void ReduceRows(const CLevel& g, CLevel& o, std::int32_t b, std::int32_t e) {
    const int w = g.width, h = g.height, ow = o.width;
    std::vector<std::uint8_t> ring(static_cast<std::size_t>(5) * ow);
    int held[5] = {-1, -1, -1, -1, -1};
    auto reduced = [&](int row) {
        // Clamped rows of one window are five consecutive numbers at most:
        // distinct slots.
        const int slot = row % 5;
        std::uint8_t* line = ring.data() + static_cast<std::size_t>(slot) * ow;
        if (held[slot] != row) {
            ReduceRow(g.Row(row), w, line);
            held[slot] = row;
        }
        return static_cast<const std::uint8_t*>(line);
    };
    for (std::int32_t y = b; y < e; ++y) {
        const int c = 2 * y;
        const std::uint8_t* r[5];
        for (int k = 0; k < 5; ++k)
            r[k] = reduced(std::clamp(c - 2 + k, 0, h - 1));
        ReduceColumns(r, ow, o.Row(y));
    }
}

// Vertical expansion of one output row y of 2b - 1 from b input rows.
void ExpandColumnRow(const CLevel& g, std::int32_t y, std::uint8_t* o) {
    const int a = g.width, b = g.height;
    const int i = y / 2;
    if (b == 1)
        std::memcpy(o, g.Row(0), a);
    else if (y % 2 == 1)
        ExpandRowMiddle(g.Row(i), g.Row(i + 1), a, o);
    else if (i == 0)
        ExpandRowEnd(g.Row(0), g.Row(1), a, o);
    else if (i == b - 1)
        ExpandRowEnd(g.Row(i), g.Row(i - 1), a, o);
    else
        ExpandRowsBetween(g.Row(i - 1), g.Row(i), g.Row(i + 1), a, o);
}

// Rows [b, e) of the expansion of g (vertical first, then along the row),
// each handed to put(y, row) with 2 * g.width - 1 samples.
template <class Put>
void ExpandRows(const CLevel& g, std::int32_t b, std::int32_t e, Put put) {
    const int a = g.width;
    std::vector<std::uint8_t> work(static_cast<std::size_t>(a) + static_cast<std::size_t>(2 * a - 1));
    std::uint8_t* column = work.data();
    std::uint8_t* row = work.data() + a;
    for (std::int32_t y = b; y < e; ++y) {
        ExpandColumnRow(g, y, column);
        ExpandLineBytes(column, a, row);
        put(y, static_cast<const std::uint8_t*>(row));
    }
}

// Every plane of in reduced, in the same order.
Levels ReduceAll(const std::vector<const CLevel*>& in, LevelFactory& factory) {
    Levels out;
    LineBatch rows;
    for (const CLevel* g : in) {
        out.emplace_back(factory.NewWrittenLevel(g->width / 2 + 1, g->height / 2 + 1));
        CLevel* o = out.back().Get();
        rows.Add(o->height, 2 * g->width,
                 [g, o](std::int32_t b, std::int32_t e) { ReduceRows(*g, *o, b, e); });
    }
    rows.Run();
    return out;
}

// fine[k] = clamp(fine[k] + sign * (expand(coarse[k]) - 128)) over the
// planes' common size, for each k: the detail of a Laplacian level taken out
// (sign -1) or put back (sign +1).
void AddExpanded(const std::vector<CLevel*>& fine, const std::vector<const CLevel*>& coarse, int sign) {
    LineBatch rows;
    for (std::size_t k = 0; k < fine.size(); ++k) {
        CLevel* g = fine[k];
        const CLevel* c = coarse[k];
        const int w = std::min(g->width, 2 * c->width - 1), h = std::min(g->height, 2 * c->height - 1);
        if (sign < 0)
            rows.Add(h, 2 * w, [g, c, w](std::int32_t b, std::int32_t e) {
                ExpandRows(*c, b, e, [&](std::int32_t y, const std::uint8_t* up) {
                    AddDetailLine(g->Row(y), up, w, -1);
                });
            });
        else
            rows.Add(h, 2 * w, [g, c, w](std::int32_t b, std::int32_t e) {
                ExpandRows(*c, b, e, [&](std::int32_t y, const std::uint8_t* up) {
                    AddDetailLine(g->Row(y), up, w, +1);
                });
            });
    }
    rows.Run();
}

// BuildPyramid for several pyramids at once, level by level.
void BuildPyramids(const std::vector<Pyramid*>& pyramids, const std::vector<bool>& laplacian, int levels,
                   LevelFactory& factory) {
    for (int l = 0; l + 1 < levels; ++l) {
        std::vector<const CLevel*> from;
        for (Pyramid* p : pyramids)
            from.push_back((*p)[l].Get());
        Levels reduced = ReduceAll(from, factory);
        std::vector<const CLevel*> coarse;
        std::vector<CLevel*> fine;
        for (std::size_t k = 0; k < pyramids.size(); ++k) {
            pyramids[k]->push_back(std::move(reduced[k]));
            if (laplacian[k]) {
                coarse.push_back((*pyramids[k])[l + 1].Get());
                fine.push_back((*pyramids[k])[l].Get());
            }
        }
        AddExpanded(fine, coarse, -1);
    }
}

// Collapse for several pyramids at once, level by level.
void CollapseAll(const std::vector<Pyramid*>& pyramids) {
    for (;;) {
        std::vector<const CLevel*> coarse;
        std::vector<CLevel*> fine;
        for (Pyramid* p : pyramids)
            if (p->size() > 1) {
                coarse.push_back(p->back().Get());
                fine.push_back((*p)[p->size() - 2].Get());
            }
        if (coarse.empty())
            return;
        AddExpanded(fine, coarse, +1);
        for (Pyramid* p : pyramids)
            if (p->size() > 1)
                p->pop_back();
    }
}

}  // namespace

void LevelFactory::Trim(std::size_t keep) {
    const std::size_t scratch = coverage.Bytes() + fillWork.Bytes();
    if (scratch > keep) {
        coverage.Clear();
        fillWork.Clear();
    }
    pool.Trim(keep - std::min(keep, coverage.Bytes() + fillWork.Bytes()));
}

CLevel* LevelFactory::NewWrittenLevel(std::int32_t width, std::int32_t height) {
    zeroFill = false;
    try {
        CLevel* level = NewLevel(width, height);
        zeroFill = true;
        return level;
    } catch (...) {
        zeroFill = true;
        throw;
    }
}

CLevel* Reduce(const CLevel& g, LevelFactory& factory) {
    return ReduceAll({&g}, factory).front().Detach();
}

CLevel* Expand(const CLevel& g, LevelFactory& factory) {
    RefPtr<CLevel> out(factory.NewWrittenLevel(2 * g.width - 1, 2 * g.height - 1));
    CLevel* o = out.Get();
    ForLines(o->height, 2 * o->width, [&](std::int32_t y) {
        ExpandRows(g, y, y + 1,
                   [&](std::int32_t, const std::uint8_t* row) { std::memcpy(o->Row(y), row, o->width); });
    });
    return out.Detach();
}

void BuildPyramid(Pyramid& pyramid, int levels, bool laplacian, LevelFactory& factory) {
    BuildPyramids({&pyramid}, {laplacian}, levels, factory);
}

void Collapse(Pyramid& pyramid, LevelFactory&) {
    CollapseAll({&pyramid});
}

namespace {

// Whether the sixteen coverage bytes at c are all covered (non-zero).
inline bool AllCovered16(const std::uint8_t* c) {
#if defined(__SSE2__)
    return _mm_movemask_epi8(_mm_cmpeq_epi8(Load16(c), _mm_setzero_si128())) == 0;
#else
    for (int i = 0; i < 16; ++i)
        if (!c[i])
            return false;
    return true;
#endif
}

}  // namespace

void FillFromNearestCovered(CLevel* const channels[3], const std::uint8_t* coverage,
                            ScratchPlane<std::int32_t>* scratch) {
    const int w = channels[0]->width, h = channels[0]->height;
    if (w <= 0 || h <= 0)
        return;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    constexpr int kNone = std::numeric_limits<int>::max();
    ScratchPlane<std::int32_t> own;
    std::int32_t* const best = (scratch ? scratch : &own)->Get(n);
    // The choice so far per sample, distance * 4 + direction (0 left, 1
    // right, 2 up), kNone without one; covered samples have none and are
    // skipped sixteen at a time where all are covered. Rows first: the
    // nearer covered sample along the row, the left one on a tie.
    ForLines(h, 2 * w, [&](std::int32_t y) {
        std::int32_t* b = best + static_cast<std::size_t>(y) * w;
        const std::uint8_t* cov = coverage + static_cast<std::size_t>(y) * w;
        int last = -1;
        for (int x = 0; x < w;) {
            if (x + 16 <= w && AllCovered16(cov + x)) {
                last = x + 15;
                x += 16;
                continue;
            }
            if (cov[x])
                last = x;
            else
                b[x] = last >= 0 ? x - last : kNone;  // left distance for now
            ++x;
        }
        int next = -1;
        for (int x = w - 1; x >= 0;) {
            if (x >= 15 && AllCovered16(cov + x - 15)) {
                next = x - 15;
                x -= 16;
                continue;
            }
            if (cov[x]) {
                next = x--;
                continue;
            }
            const int left = b[x], right = next >= 0 ? next - x : kNone;
            b[x] = left == kNone && right == kNone ? kNone : left <= right ? left * 4 : right * 4 + 1;
            --x;
        }
    });
    // Then columns, in blocks for the cache: "up" replaces a strictly longer
    // row choice going down, "down" a strictly longer choice going up, and
    // the values are copied (covered samples are never written).
    constexpr int kBlock = 64;
    const int blocks = (w + kBlock - 1) / kBlock;
    ForLines(blocks, std::int64_t{2} * kBlock * h, [&](std::int32_t blk) {
        const int x0 = blk * kBlock, x1 = std::min(w, x0 + kBlock), bw = x1 - x0;
        int mark[kBlock];
        std::fill(mark, mark + bw, -1);
        for (int y = 0; y < h; ++y) {
            std::int32_t* b = best + static_cast<std::size_t>(y) * w;
            const std::uint8_t* cov = coverage + static_cast<std::size_t>(y) * w + x0;
            for (int i = 0; i < bw;) {
                if (i + 16 <= bw && AllCovered16(cov + i)) {
                    std::fill(mark + i, mark + i + 16, y);
                    i += 16;
                    continue;
                }
                const int x = x0 + i;
                if (cov[i]) {
                    mark[i++] = y;
                    continue;
                }
                if (mark[i] >= 0) {
                    const int up = y - mark[i];
                    if (b[x] == kNone || up < b[x] / 4)
                        b[x] = up * 4 + 2;
                }
                ++i;
            }
        }
        std::fill(mark, mark + bw, -1);
        for (int y = h - 1; y >= 0; --y) {
            const std::int32_t* b = best + static_cast<std::size_t>(y) * w;
            const std::uint8_t* cov = coverage + static_cast<std::size_t>(y) * w + x0;
            for (int i = 0; i < bw; ++i) {
                if (i + 16 <= bw && AllCovered16(cov + i)) {
                    std::fill(mark + i, mark + i + 16, y);
                    i += 15;
                    continue;
                }
                const int x = x0 + i;
                if (cov[i]) {
                    mark[i] = y;
                    continue;
                }
                int sx = x, sy = y;
                const int down = mark[i] >= 0 ? mark[i] - y : kNone;
                if (b[x] == kNone) {
                    if (down == kNone)
                        continue;
                    sy = mark[i];
                } else if (down < b[x] / 4) {
                    sy = mark[i];
                } else {
                    const int d = b[x] / 4;
                    switch (b[x] % 4) {
                        case 0:
                            sx = x - d;
                            break;
                        case 1:
                            sx = x + d;
                            break;
                        default:
                            sy = y - d;
                            break;
                    }
                }
                for (int c = 0; c < 3; ++c)
                    channels[c]->Row(y)[x] = channels[c]->Row(sy)[sx];
            }
        }
    });
}

}  // namespace LaplacianPyramid

using namespace LaplacianPyramid;

namespace {

Rect Overlap(const Rect& a, const Rect& b) {
    return Rect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom));
}

bool Is24Bit(CPanoElement* e) {
    return e && e->IsValid() && e->GetBpp() == 24;
}

// Widens [lo, hi) to k * f + 1 samples, centred.
bool PadExtent(std::int64_t f, std::int32_t* lo, std::int32_t* hi) {
    const std::int64_t d = static_cast<std::int64_t>(*hi) - *lo;
    std::int64_t newLo = *lo, newHi = *hi;
    if (d % f == 0) {
        newHi += 1;
    } else {
        const std::int64_t total = (d + f - 1) / f * f + 1;
        const std::int64_t p = (total - d) / 2;
        newLo -= p;
        newHi += total - p - d;
    }
    if (newLo < std::numeric_limits<std::int32_t>::min() / 2 ||
        newHi > std::numeric_limits<std::int32_t>::max() / 2)
        return false;
    *lo = static_cast<std::int32_t>(newLo);
    *hi = static_cast<std::int32_t>(newHi);
    return true;
}

}  // namespace

LaplacianBlender::LaplacianBlender(LevelFactory* levels) : factory(levels ? levels : &defaultFactory) {}

LaplacianBlender::~LaplacianBlender() {
    ReleaseLevels();
    if (firstElement)
        firstElement->Release();
}

void LaplacianBlender::ReleaseLevels() {
    for (int c = 0; c < 3; ++c) {
        first[c].clear();
        second[c].clear();
    }
    mask.clear();
}

void LaplacianBlender::Fill(CPanoElement* e, CLevel* const channels[3], CLevel* maskLevel) {
    const Rect hit = Overlap(e->GetRect(), padded);
    const int pw = padded.Width(), ph = padded.Height();
    const std::uint8_t* eMask = e->GetMask();
    if (!hit.IsEmpty()) {
        ForLines(hit.Height(), 4 * hit.Width(), [&](std::int32_t i) {
            const int y = hit.top + i;
            const std::uint8_t* src =
                e->GetBits() + static_cast<std::size_t>(y - e->y) * e->GetStride() + 3 * (hit.left - e->x);
            const int ly = y - padded.top, lx = hit.left - padded.left;
            std::uint8_t* c0 = channels[0]->Row(ly) + lx;
            std::uint8_t* c1 = channels[1]->Row(ly) + lx;
            std::uint8_t* c2 = channels[2]->Row(ly) + lx;
            for (int x = 0; x < hit.Width(); ++x, src += 3) {
                c0[x] = src[2];
                c1[x] = src[1];
                c2[x] = src[0];
            }
            if (maskLevel) {
                std::uint8_t* m = maskLevel->Row(ly) + lx;
                if (eMask)
                    std::memcpy(
                        m,
                        eMask + static_cast<std::size_t>(y - e->y) * e->GetMaskStride() + (hit.left - e->x),
                        hit.Width());
                else
                    std::memset(m, 255, hit.Width());
            }
        });
    }
    // Coverage: the saved mask when there is one, else the mask; nothing to
    // extend without either. Outside the element nothing is covered.
    const std::uint8_t* plane = e->GetSavedMaskIfAny() ? e->GetSavedMaskIfAny() : eMask;
    if (!plane)
        return;
    std::uint8_t* const cover = factory->coverage.Get(static_cast<std::size_t>(pw) * ph);
    ForLines(ph, pw, [&](std::int32_t row) {
        std::uint8_t* out = cover + static_cast<std::size_t>(row) * pw;
        const int y = padded.top + row;
        if (hit.IsEmpty() || y < hit.top || y >= hit.bottom) {
            std::memset(out, 0, pw);
            return;
        }
        const int inLeft = hit.left - padded.left, inRight = hit.right - padded.left;
        std::memset(out, 0, inLeft);
        std::memcpy(out + inLeft,
                    plane + static_cast<std::size_t>(y - e->y) * e->GetMaskStride() + (hit.left - e->x),
                    hit.Width());
        std::memset(out + inRight, 0, pw - inRight);
    });
    FillFromNearestCovered(channels, cover, &factory->fillWork);
}

bool LaplacianBlender::Blend(std::int32_t levels, CPanoElement* e1, CPanoElement* e2) {
    done = false;
    overlap = Rect();
    if (!e1 || !e2 || levels <= 1)
        return true;
    // Three bytes a pixel are read from both.
    if (!Is24Bit(e1) || !Is24Bit(e2))
        return false;
    e1->AddRef();
    if (firstElement)
        firstElement->Release();
    firstElement = e1;
    const Rect hit = Overlap(e1->GetRect(), e2->GetRect());
    if (hit.IsEmpty())
        return true;
    if (levels > 31)
        return false;

    ReleaseLevels();
    try {
        overlap = hit;
        const std::int64_t f = std::int64_t{1} << (levels - 1);
        Rect p = hit;
        if (!PadExtent(f, &p.left, &p.right) || !PadExtent(f, &p.top, &p.bottom))
            throw outofmemory();
        padded = p;
        const int pw = p.Width(), ph = p.Height();
        CLevel* ch1[3];
        CLevel* ch2[3];
        for (int c = 0; c < 3; ++c) {
            first[c].emplace_back(factory->NewLevel(pw, ph));
            ch1[c] = first[c][0].Get();
        }
        for (int c = 0; c < 3; ++c) {
            second[c].emplace_back(factory->NewLevel(pw, ph));
            ch2[c] = second[c][0].Get();
        }
        mask.emplace_back(factory->NewLevel(pw, ph));
        Fill(e1, ch1, mask[0].Get());
        Fill(e2, ch2, nullptr);

        BuildPyramids({&first[0], &first[1], &first[2], &second[0], &second[1], &second[2], &mask},
                      {true, true, true, true, true, true, false}, levels, *factory);

        LineBatch merge;
        for (int c = 0; c < 3; ++c)
            for (int l = levels - 1; l >= 0; --l) {
                CLevel* a = first[c][l].Get();
                const CLevel* b = second[c][l].Get();
                const CLevel* m = mask[l].Get();
                merge.Add(a->height, a->width, [a, b, m](std::int32_t begin, std::int32_t end) {
                    for (std::int32_t y = begin; y < end; ++y)
                        MergeLine(a->Row(y), b->Row(y), m->Row(y), a->width);
                });
            }
        merge.Run();
        for (int c = 0; c < 3; ++c)
            second[c].clear();
        mask.clear();
        CollapseAll({&first[0], &first[1], &first[2]});
    } catch (const outofmemory&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    done = true;
    return true;
}

void LaplacianBlender::WriteResult(CPanoElement* target) {
    if (!done)
        return;
    done = false;
    const Rect o = overlap;
    // Only inside the target, and only with all three merged channels there.
    const bool usable = Is24Bit(target) && Overlap(o, target->GetRect()) == o && first[0].size() == 1 &&
                        first[1].size() == 1 && first[2].size() == 1;
    if (usable)
        target->CreateMask(true);
    if (usable && target->GetMask()) {
        const std::uint8_t* saved = firstElement ? firstElement->GetSavedMaskIfAny() : nullptr;
        const Rect firstRect = firstElement ? firstElement->GetRect() : Rect();
        const CLevel* ch[3] = {first[0][0].Get(), first[1][0].Get(), first[2][0].Get()};
        ForLines(o.Height(), 4 * o.Width(), [&](std::int32_t i) {
            const int y = o.top + i;
            std::uint8_t* px = target->GetBits() +
                               static_cast<std::size_t>(y - target->y) * target->GetStride() +
                               3 * (o.left - target->x);
            std::uint8_t* tm = target->GetMask() +
                               static_cast<std::size_t>(y - target->y) * target->GetMaskStride() +
                               (o.left - target->x);
            const int ly = y - padded.top, lx = o.left - padded.left;
            const std::uint8_t* c0 = ch[0]->Row(ly) + lx;
            const std::uint8_t* c1 = ch[1]->Row(ly) + lx;
            const std::uint8_t* c2 = ch[2]->Row(ly) + lx;
            const int n = o.Width();
            for (int x = 0; x < n; ++x, px += 3) {
                px[2] = c0[x];
                px[1] = c1[x];
                px[0] = c2[x];
            }
            if (!saved) {
                std::memset(tm, 255, n);
                return;
            }
            if (y < firstRect.top || y >= firstRect.bottom)
                return;
            // The mask only where the first element lies.
            const int from = std::max(o.left, firstRect.left), to = std::min(o.right, firstRect.right);
            const std::uint8_t* sm =
                saved + static_cast<std::size_t>(y - firstRect.top) * firstElement->GetMaskStride();
            for (int gx = from; gx < to; ++gx) {
                const unsigned m = sm[gx - firstRect.left];
                std::uint8_t& t = tm[gx - o.left];
                if (m == 255)
                    t = 255;
                else if (m != 0)
                    t = static_cast<std::uint8_t>(255u - ((255u - t) * (255u - m)) / 255u);
            }
        });
    }
    ReleaseLevels();
}
