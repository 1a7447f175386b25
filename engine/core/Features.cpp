#include "Features.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <utility>

#include "Atan2.h"
#include "CpuFeatures.h"
#include "Gaussian.h"
#include "OrvexBase.h"
#include "PlaneMemory.h"
#include "ThreadPool.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr int kOctaves = 4;
constexpr int kLevels = 5;  // Gaussian levels per octave; 4 difference levels
constexpr double kPi = std::numbers::pi;
constexpr int kOrientationBins = 36;
constexpr double kOrientationBinWidth = 2.0 * kPi / kOrientationBins;  // 10 degrees

// Samples a parallel chunk should hold at least to pay for its hand-over.
constexpr std::size_t kSamplesPerChunk = 1 << 15;

// A plane of doubles in memory someone else owns, rows packed.
struct Plane {
    double* data = nullptr;
    int width = 0;
    int height = 0;

    std::size_t Size() const { return std::size_t(width) * std::size_t(height); }
    double* Row(int y) const { return data + std::size_t(y) * width; }
    double At(int x, int y) const { return data[std::size_t(y) * width + x]; }
    // Samples outside the plane read as 0.
    double AtOrZero(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return 0.0;
        return At(x, y);
    }
};

// The memory of one detection: three planes of the first octave's size and
// one of the second's. A detection needs no more: it keeps only the levels
// that are still to be read and compares against the ones already dropped
// through the few samples it saved.
struct Workspace {
    using Samples = PlaneMemory::Buffer<double>;

    std::size_t fullCapacity = 0;
    std::size_t quarterCapacity = 0;
    Samples full[3];
    Samples quarter;

    void Reserve(std::size_t fullSize, std::size_t quarterSize) {
        if (fullSize > fullCapacity) {
            for (auto& p : full)
                p = Samples();
            fullCapacity = 0;
            for (auto& p : full)
                p = Populated(fullSize);
            fullCapacity = fullSize;
        }
        if (quarterSize > quarterCapacity) {
            quarter = Samples();
            quarterCapacity = 0;
            quarter = Populated(quarterSize);
            quarterCapacity = quarterSize;
        }
    }

    // Each plane is filled once by many threads at a time: its pages are
    // made resident when it is mapped rather than by a fault each.
    static Samples Populated(std::size_t count) {
        Samples s = Samples::Populated(count);
        if (!s)
            throw std::bad_alloc();
        return s;
    }
};

// Workspaces given back while a DetectionPlaneScope lives, for the next
// detection, so a batch of photos touches fresh memory once per detection
// running at a time.
class WorkspacePool {
public:
    std::unique_ptr<Workspace> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty())
            return std::make_unique<Workspace>();
        // The largest fits best: it needs no new memory when any does.
        auto best = std::max_element(free_.begin(), free_.end(), [](const auto& a, const auto& b) {
            return a->fullCapacity < b->fullCapacity;
        });
        std::unique_ptr<Workspace> w = std::move(*best);
        free_.erase(best);
        return w;
    }
    void Give(std::unique_ptr<Workspace> w) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (scopes_ > 0) {
                free_.push_back(std::move(w));
                return;
            }
        }
        w.reset();
    }
    void Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++scopes_;
    }
    void Leave() {
        std::vector<std::unique_ptr<Workspace>> drop;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--scopes_ == 0)
                drop.swap(free_);
        }
    }

private:
    std::mutex mutex_;
    int scopes_ = 0;
    std::vector<std::unique_ptr<Workspace>> free_;
};

WorkspacePool& Pool() {
    static WorkspacePool pool;
    return pool;
}

// A workspace from the pool, and back to it.
class WorkspaceLease {
public:
    WorkspaceLease(std::size_t fullSize, std::size_t quarterSize) : w_(Pool().Take()) {
        w_->Reserve(fullSize, quarterSize);
    }
    ~WorkspaceLease() { Pool().Give(std::move(w_)); }
    WorkspaceLease(const WorkspaceLease&) = delete;
    WorkspaceLease& operator=(const WorkspaceLease&) = delete;
    Workspace* operator->() const { return w_.get(); }

private:
    std::unique_ptr<Workspace> w_;
};

// Rows [0, rows) in chunks over the thread pool, each chunk's items appended
// to one list in row order, whatever the number of threads.
template <class T, class Produce>
std::vector<T> CollectRows(int rows, std::size_t grain, Produce&& produce) {
    std::mutex mutex;
    std::vector<std::pair<std::size_t, std::vector<T>>> parts;
    Platform::ParallelFor(
        0, std::size_t(std::max(rows, 0)),
        [&](std::size_t b, std::size_t e) {
            std::vector<T> part;
            produce(b, e, part);
            if (part.empty())
                return;
            std::lock_guard<std::mutex> lock(mutex);
            parts.emplace_back(b, std::move(part));
        },
        grain);
    std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<T> all;
    std::size_t n = 0;
    for (const auto& p : parts)
        n += p.second.size();
    all.reserve(n);
    for (auto& p : parts)
        all.insert(all.end(), p.second.begin(), p.second.end());
    return all;
}

// Rows of `width` samples per chunk so that a chunk holds enough work.
std::size_t RowGrain(int width) {
    return std::max<std::size_t>(1, kSamplesPerChunk / std::size_t(std::max(width, 1)));
}

void ParallelRows(int rows, int width, const std::function<void(int, int)>& body) {
    Platform::ParallelFor(
        0, std::size_t(std::max(rows, 0)), [&](std::size_t b, std::size_t e) { body(int(b), int(e)); },
        RowGrain(width));
}

// Circular distance between two angles (radians), in [0, pi].
double CircularDistance(double a, double b) {
    double d = std::fabs(a - b);
    // Below 4 pi the remainder is one exact subtraction (Sterbenz).
    if (d >= 2.0 * kPi && d < 4.0 * kPi)
        d -= 2.0 * kPi;
    if (d >= 2.0 * kPi)
        d = std::fmod(d, 2.0 * kPi);
    if (d > kPi)
        d = 2.0 * kPi - d;
    return d;
}

double WrapAngle(double a) {
    while (a >= kPi)
        a -= 2.0 * kPi;
    while (a < -kPi)
        a += 2.0 * kPi;
    return a;
}

// atan2 with an exact pi turned into -pi, so angles lie in [-pi, pi). The
// portable atan2, so that the four-at-once form below gives the same bits.
double Direction(double dy, double dx) {
    const double a = PortableAtan2(dy, dx);
    return a == kPi ? -kPi : a;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Direction of four pairs, lane by lane the same bits.
__attribute__((target("avx2"), always_inline)) inline __m256d DirectionFour(__m256d dy, __m256d dx) {
    const __m256d a = Atan2Four(dy, dx);
    return _mm256_blendv_pd(a, _mm256_set1_pd(-kPi), _mm256_cmp_pd(a, _mm256_set1_pd(kPi), _CMP_EQ_OQ));
}
#endif

// Rows 2y and 2y + 1 of the photo's grey image at twice its size (averaged
// in between), as samples in [0, 1]: even rows from the photo, odd rows the
// mean of their neighbours in 8 bits, the last row a copy of the one above.
void GreyRow(PanoramaLib::IPanoElement* element, int W, int y, std::uint8_t* dst) {
    const int bpp = element->GetBpp();
    const std::uint8_t* src = element->GetBits() + std::size_t(y) * std::size_t(element->GetStride());
    const int w2 = 2 * W;
    for (int x = 0; x < W; ++x) {
        if (bpp == 8) {
            dst[2 * x] = src[x];
        } else {
            const int b = src[3 * x], gr = src[3 * x + 1], r = src[3 * x + 2];
            dst[2 * x] = static_cast<std::uint8_t>((30 * r + 59 * gr + 11 * b) / 100);
        }
    }
    for (int x = 0; x + 1 < W; ++x)
        dst[2 * x + 1] = static_cast<std::uint8_t>((dst[2 * x] + dst[2 * x + 2]) >> 1);
    dst[w2 - 1] = dst[w2 - 2];
}

void DoubleSizeGrey(PanoramaLib::IPanoElement* element, int W, int H, const Plane& out) {
    // k / 255.0 for every 8-bit k, the same divisions done once.
    static const auto kUnit = [] {
        std::array<double, 256> t{};
        for (int k = 0; k < 256; ++k)
            t[k] = k / 255.0;
        return t;
    }();
    const int w2 = 2 * W;
    ParallelRows(H, 4 * w2, [&](int b, int e) {
        std::vector<std::uint8_t> line(std::size_t(w2) * 2);
        std::uint8_t* here = line.data();
        std::uint8_t* below = here + w2;
        GreyRow(element, W, b, here);
        for (int y = b; y < e; ++y) {
            double* even = out.Row(2 * y);
            double* odd = out.Row(2 * y + 1);
            for (int x = 0; x < w2; ++x)
                even[x] = kUnit[here[x]];
            if (y + 1 < H) {
                GreyRow(element, W, y + 1, below);
                for (int x = 0; x < w2; ++x)
                    odd[x] = kUnit[static_cast<std::uint8_t>((here[x] + below[x]) >> 1)];
                std::swap(here, below);
            } else {
                std::copy_n(even, w2, odd);
            }
        }
    });
}

void ThrowIfCancelled(const CancelFunction& cancel) {
    if (cancel && cancel())
        throw panorama_abort();
}

// The scale table and blurs of the pyramid; a difference level m of an
// octave is Gaussian level m + 1 minus level m.
struct Scales {
    double spacing[kOctaves];
    double scale[kOctaves][kLevels] = {};  // photo pixels
    double blur[kLevels] = {};             // sigma taking level l - 1 to level l
    double baseBlur;

    Scales() {
        const double k = std::pow(2.0, 1.0 / 2.0);
        const double increment = std::sqrt(k * k - 1.0);
        const double sigma0 = std::sqrt(1.0 * 1.0 + 1.0 * 1.0);
        baseBlur = std::sqrt(2.0 - 1.0 * 1.0);
        for (int o = 0; o < kOctaves; ++o) {
            spacing[o] = 0.5 * std::ldexp(1.0, o);
            scale[o][0] = o == 0 ? sigma0 * 0.5 : scale[o - 1][2];
            double sigma = sigma0;
            for (int l = 1; l < kLevels; ++l) {
                blur[l] = sigma * increment;
                sigma *= k;
                scale[o][l] = spacing[o] * sigma;
            }
        }
    }
};

// A sample that passed the contrast, edge and extremum tests against the
// difference levels seen so far; the level above is still to come.
struct Partial {
    int x, y;
    double v;
    bool greater, smaller;
    double above[9];  // Gaussian level m + 1 around (x, y), rows y - 1 .. y + 1
};

struct Candidate {
    int x, y;
};

bool PassesEdgeTest(const double* const d[3], int x, double edgeRatio) {
    const double v = d[1][x];
    const double dxx = d[1][x - 1] + d[1][x + 1] - 2.0 * v;
    const double dyy = d[0][x] + d[2][x] - 2.0 * v;
    const double dxy = (d[0][x - 1] - d[0][x + 1] - d[2][x - 1] + d[2][x + 1]) / 4.0;
    const double det = dxx * dyy - dxy * dxy;
    const double tr = dxx + dyy;
    if (!(det >= 0.0))
        return false;
    return tr * tr / det < (edgeRatio + 1.0) * (edgeRatio + 1.0) / edgeRatio;
}

// The x in [1, n - 1) where |d[x]| >= threshold (never for NaN), in order;
// returns their count.
int ContrastHitsScalar(const double* d, int n, double threshold, int* hits) {
    int count = 0;
    for (int x = 1; x + 1 < n; ++x)
        if (std::fabs(d[x]) >= threshold)
            hits[count++] = x;
    return count;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four samples a step: the same absolute value and comparison per lane.
__attribute__((target("avx2"))) int ContrastHitsAvx2(const double* d, int n, double threshold, int* hits) {
    const __m256d sign = _mm256_set1_pd(-0.0), limit = _mm256_set1_pd(threshold);
    int count = 0;
    int x = 1;
    for (; x + 4 < n; x += 4) {
        const __m256d v = _mm256_andnot_pd(sign, _mm256_loadu_pd(d + x));
        unsigned bits = unsigned(_mm256_movemask_pd(_mm256_cmp_pd(v, limit, _CMP_GE_OQ)));
        while (bits) {
            hits[count++] = x + __builtin_ctz(bits);
            bits &= bits - 1;
        }
    }
    for (; x + 1 < n; ++x)
        if (std::fabs(d[x]) >= threshold)
            hits[count++] = x;
    return count;
}

// d = h - l, sample by sample, four at a time.
__attribute__((target("avx2"))) void SubtractRowsAvx2(const double* h, const double* l, double* d, int n) {
    int x = 0;
    for (; x + 4 <= n; x += 4)
        _mm256_storeu_pd(d + x, _mm256_sub_pd(_mm256_loadu_pd(h + x), _mm256_loadu_pd(l + x)));
    for (; x < n; ++x)
        d[x] = h[x] - l[x];
}

// dst[x] = src[2x] for x < n: every other sample.
__attribute__((target("avx2"))) void EverySecondAvx2(const double* src, double* dst, int n) {
    int x = 0;
    for (; x + 4 <= n; x += 4) {
        // Both loads stay within the 2n - 1 samples the row holds.
        const __m256d a = _mm256_loadu_pd(src + 2 * x), b = _mm256_loadu_pd(src + 2 * x + 3);
        // a = s0 s1 s2 s3, b = s3 s4 s5 s6: the even samples are a0 a2 b1 b3.
        const __m256d even =
            _mm256_blend_pd(_mm256_permute4x64_pd(a, 0x08), _mm256_permute4x64_pd(b, 0xD0), 0xC);
        _mm256_storeu_pd(dst + x, even);
    }
    for (; x < n; ++x)
        dst[x] = src[2 * x];
}

const bool kHaveAvx2 = CpuUsesAvx2();

int ContrastHits(const double* d, int n, double threshold, int* hits) {
    return kHaveAvx2 ? ContrastHitsAvx2(d, n, threshold, hits) : ContrastHitsScalar(d, n, threshold, hits);
}
#else
int ContrastHits(const double* d, int n, double threshold, int* hits) {
    return ContrastHitsScalar(d, n, threshold, hits);
}
#endif

void SubtractRows(const double* h, const double* l, double* d, int n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (kHaveAvx2)
        return SubtractRowsAvx2(h, l, d, n);
#endif
    for (int x = 0; x < n; ++x)
        d[x] = h[x] - l[x];
}

void EverySecond(const double* src, double* dst, int n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (kHaveAvx2)
        return EverySecondAvx2(src, dst, n);
#endif
    for (int x = 0; x < n; ++x)
        dst[x] = src[2 * x];
}

// Partial extremum test of the samples of difference level m = hi - lo
// against their neighbours in it and in the level below (`below`, rows
// y - 1 .. y + 1 each, computed by the caller), then the edge test.
// A sample is an extremum when it is above all 26 neighbours or below all;
// comparing in another order gives the same answer.
struct LevelScan {
    const Plane* lo;  // Gaussian level m
    const Plane* hi;  // Gaussian level m + 1
    double edgeRatio, contrastThreshold;

    template <class Below>
    void Rows(int b, int e, const Below& below, std::vector<Partial>& out) const {
        const int width = lo->width;
        const int first = std::max(b, 1), end = std::min(e, lo->height - 1);
        if (first >= end || width < 3)
            return;
        std::vector<double> line(std::size_t(width) * 3);
        std::vector<int> hits(static_cast<std::size_t>(width));
        auto difference = [&](int y, double* d) { SubtractRows(hi->Row(y), lo->Row(y), d, width); };
        // The difference level's rows y - 1 .. y + 1, each computed once.
        double* d[3] = {line.data(), line.data() + width, line.data() + 2 * width};
        difference(first - 1, d[0]);
        difference(first, d[1]);
        for (int y = first; y < end; ++y) {
            difference(y + 1, d[2]);
            const double* dd[3] = {d[0], d[1], d[2]};
            const int count = ContrastHits(d[1], width, contrastThreshold, hits.data());
            for (int k = 0; k < count; ++k) {
                const int x = hits[k];
                const double v = d[1][x];
                // The planes hold no NaN, so "above every neighbour" is
                // "above the largest".
                double lo8 = dd[1][x - 1], hi8 = lo8;
                auto take = [&](double n) {
                    lo8 = n < lo8 ? n : lo8;
                    hi8 = n > hi8 ? n : hi8;
                };
                take(dd[1][x + 1]);
                for (int r = 0; r < 3; r += 2)
                    for (int dx = -1; dx <= 1; ++dx)
                        take(dd[r][x + dx]);
                bool greater = v > hi8, smaller = v < lo8;
                if (!greater && !smaller)
                    continue;
                for (int r = 0; r < 3; ++r)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const double n = below(r, y, x + dx);
                        greater = greater && v > n;
                        smaller = smaller && v < n;
                    }
                if (!greater && !smaller)
                    continue;
                if (!PassesEdgeTest(dd, x, edgeRatio))
                    continue;
                Partial p{x, y, v, greater, smaller, {}};
                for (int r = 0; r < 3; ++r)
                    for (int dx = -1; dx <= 1; ++dx)
                        p.above[3 * r + dx + 1] = hi->Row(y - 1 + r)[x + dx];
                out.push_back(p);
            }
            std::rotate(d, d + 1, d + 3);
        }
    }
};

// Completes the extremum test against difference level m + 1 = top - saved
// level m + 1 (each partial's `above`).
std::vector<Candidate> Finish(const std::vector<Partial>& partials, const Plane& top) {
    std::vector<Candidate> out;
    out.reserve(partials.size());
    for (const Partial& p : partials) {
        bool greater = p.greater, smaller = p.smaller;
        for (int r = 0; r < 3; ++r)
            for (int dx = -1; dx <= 1; ++dx) {
                const double n = top.Row(p.y - 1 + r)[p.x + dx] - p.above[3 * r + dx + 1];
                greater = greater && p.v > n;
                smaller = smaller && p.v < n;
            }
        if (greater || smaller)
            out.push_back({p.x, p.y});
    }
    return out;
}

// Adds weight * (1 - d / binWidth) to every bin whose factor is positive, d
// being the circular distance to the bin's centre. Only the two bins around
// the angle can qualify; their outer neighbours are tried as well when the
// angle lies so close to a centre that rounding might matter. Bins left out
// would add exact zeros, so the sums equal those of a loop over all bins.
template <int Bins>
struct CircularHistogram {
    double centre[Bins];
    double binWidth;

    CircularHistogram() : binWidth(2.0 * kPi / Bins) {
        for (int b = 0; b < Bins; ++b)
            centre[b] = -kPi + b * binWidth;
    }

    // The bins an angle reaches and their factors, so that one angle can be
    // added with several weights.
    struct Spread {
        int count = 0;
        int bin[4];
        double factor[4];
    };

    void AddBin(Spread& s, int b, double angle) const {
        const double factor = 1.0 - CircularDistance(angle, centre[b]) / binWidth;
        if (factor > 0.0) {
            s.bin[s.count] = b;
            s.factor[s.count] = factor;
            ++s.count;
        }
    }

    Spread Prepare(double angle) const {
        Spread s;
        // t >= 0, so truncation is the floor.
        const double t = (WrapAngle(angle) + kPi) / binWidth;
        int b = static_cast<int>(t);
        const double frac = t - b;
        b %= Bins;
        const int next = b + 1 == Bins ? 0 : b + 1;
        if (frac > 1e-6 && frac < 1.0 - 1e-6) {
            AddBin(s, b, angle);
            AddBin(s, next, angle);
            return s;
        }
        const int before = b == 0 ? Bins - 1 : b - 1;
        const int after = next + 1 == Bins ? 0 : next + 1;
        // In bin order as a full loop would visit them (each bin is separate,
        // so the order does not change any sum).
        AddBin(s, before, angle);
        AddBin(s, b, angle);
        AddBin(s, next, angle);
        AddBin(s, after, angle);
        return s;
    }

    static void Add(double* hist, const Spread& s, double weight) {
        for (int k = 0; k < s.count; ++k)
            hist[s.bin[k]] += weight * s.factor[k];
    }

    void Add(double* hist, double angle, double weight) const { Add(hist, Prepare(angle), weight); }
};

const CircularHistogram<kOrientationBins> kOrientationHistogram;
const CircularHistogram<8> kDescriptorHistogram;

#if defined(__x86_64__) && defined(__GNUC__)
// CircularHistogram::Prepare of four angles at once, each lane doing the
// scalar operations in the scalar order. A lane whose angle lies within
// rounding of a bin centre, or beyond what one wrap brings into range, is
// left to the scalar Prepare (bit l of `twoBins` clear).
struct FourSpreads {
    alignas(32) double factor[2][4];
    alignas(16) std::int32_t bin[2][4];
    unsigned twoBins;
};

template <int Bins>
__attribute__((target("avx2"))) inline void PrepareFour(const CircularHistogram<Bins>& h, __m256d angle,
                                                        FourSpreads& out) {
    const __m256d pi = _mm256_set1_pd(kPi), minusPi = _mm256_set1_pd(-kPi), twoPi = _mm256_set1_pd(2.0 * kPi),
                  fourPi = _mm256_set1_pd(4.0 * kPi), width = _mm256_set1_pd(h.binWidth),
                  one = _mm256_set1_pd(1.0), sign = _mm256_set1_pd(-0.0);
    // WrapAngle, one step each way.
    __m256d a = _mm256_blendv_pd(angle, _mm256_sub_pd(angle, twoPi), _mm256_cmp_pd(angle, pi, _CMP_GE_OQ));
    __m256d ok = _mm256_cmp_pd(a, pi, _CMP_LT_OQ);
    a = _mm256_blendv_pd(a, _mm256_add_pd(a, twoPi), _mm256_cmp_pd(a, minusPi, _CMP_LT_OQ));
    ok = _mm256_and_pd(ok, _mm256_cmp_pd(a, minusPi, _CMP_GE_OQ));
    const __m256d t = _mm256_div_pd(_mm256_add_pd(a, pi), width);
    ok = _mm256_and_pd(ok, _mm256_and_pd(_mm256_cmp_pd(t, _mm256_setzero_pd(), _CMP_GE_OQ),
                                         _mm256_cmp_pd(t, _mm256_set1_pd(double(Bins)), _CMP_LT_OQ)));
    __m128i b = _mm256_cvttpd_epi32(t);
    const __m256d frac = _mm256_sub_pd(t, _mm256_cvtepi32_pd(b));
    ok = _mm256_and_pd(ok, _mm256_and_pd(_mm256_cmp_pd(frac, _mm256_set1_pd(1e-6), _CMP_GT_OQ),
                                         _mm256_cmp_pd(frac, _mm256_set1_pd(1.0 - 1e-6), _CMP_LT_OQ)));
    // Lanes left to the scalar form may hold any index: keep the reads in the table.
    b = _mm_min_epi32(_mm_max_epi32(b, _mm_setzero_si128()), _mm_set1_epi32(Bins - 1));
    __m128i next = _mm_add_epi32(b, _mm_set1_epi32(1));
    next = _mm_andnot_si128(_mm_cmpeq_epi32(next, _mm_set1_epi32(Bins)), next);
    const __m128i bins[2] = {b, next};
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    for (int k = 0; k < 2; ++k) {
        const __m256d centre = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), h.centre, bins[k], all, 8);
        // CircularDistance.
        __m256d d = _mm256_andnot_pd(sign, _mm256_sub_pd(angle, centre));
        const __m256d turn =
            _mm256_and_pd(_mm256_cmp_pd(d, twoPi, _CMP_GE_OQ), _mm256_cmp_pd(d, fourPi, _CMP_LT_OQ));
        d = _mm256_blendv_pd(d, _mm256_sub_pd(d, twoPi), turn);
        ok = _mm256_and_pd(ok, _mm256_cmp_pd(d, twoPi, _CMP_LT_OQ));
        d = _mm256_blendv_pd(d, _mm256_sub_pd(twoPi, d), _mm256_cmp_pd(d, pi, _CMP_GT_OQ));
        _mm256_store_pd(out.factor[k], _mm256_sub_pd(one, _mm256_div_pd(d, width)));
        _mm_store_si128(reinterpret_cast<__m128i*>(out.bin[k]), bins[k]);
    }
    out.twoBins = unsigned(_mm256_movemask_pd(ok));
}

// Adds lane l of `spreads` with `weight`, as CircularHistogram::Add of its
// angle would.
template <int Bins>
[[gnu::always_inline]] inline void AddLane(const CircularHistogram<Bins>& h, double* hist,
                                           const FourSpreads& spreads, int l, double angle, double weight) {
    if (!(spreads.twoBins >> l & 1u))
        return h.Add(hist, angle, weight);
    for (int k = 0; k < 2; ++k)
        if (spreads.factor[k][l] > 0.0)
            hist[spreads.bin[k][l]] += weight * spreads.factor[k][l];
}
#endif

// Vertex of the parabola through three neighbouring bins, or the centre
// bin when the three values lie on a line (a plateau).
double PeakOrientation(const double* hist, int b) {
    const double c = -kPi + b * kOrientationBinWidth;
    const double xs[3] = {c - kOrientationBinWidth, c, c + kOrientationBinWidth};
    const double hs[3] = {hist[(b + kOrientationBins - 1) % kOrientationBins], hist[b],
                          hist[(b + 1) % kOrientationBins]};
    double m[9], inv[9];
    for (int i = 0; i < 3; ++i) {
        m[3 * i] = xs[i] * xs[i];
        m[3 * i + 1] = xs[i];
        m[3 * i + 2] = 1.0;
    }
    InvertMatrix3x3(inv, m);
    const double A = inv[0] * hs[0] + inv[1] * hs[1] + inv[2] * hs[2];
    const double B = inv[3] * hs[0] + inv[4] * hs[1] + inv[5] * hs[2];
    const double vertex = -B / (2.0 * A);
    if (A == 0.0 || !std::isfinite(vertex))
        return WrapAngle(c);
    return WrapAngle(vertex);
}

// Gradient magnitude and orientation by central differences; border samples
// hold 0.
inline void Gradient(const Plane& L, int x, int y, double& mag, double& ori) {
    if (y == 0 || y + 1 == L.height || x == 0 || x + 1 == L.width) {
        mag = ori = 0.0;
        return;
    }
    const double* row = L.Row(y);
    const double dx = (row[x + 1] - row[x - 1]) / 2.0;
    const double dy = (L.Row(y + 1)[x] - L.Row(y - 1)[x]) / 2.0;
    mag = std::sqrt(dx * dx + dy * dy);
    ori = Direction(dy, dx);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Gradient of samples a .. b - 1 of an interior run of a row (`up` and
// `down` the rows above and below), four at a time with the same operations
// as Gradient's lane by lane.
__attribute__((target("avx2"))) void GradientRunAvx2(const double* row, const double* up, const double* down,
                                                     int a, int b, double* mag, double* ori) {
    const __m256d two = _mm256_set1_pd(2.0);
    int x = a;
    for (; x + 4 <= b; x += 4) {
        const __m256d dx =
            _mm256_div_pd(_mm256_sub_pd(_mm256_loadu_pd(row + x + 1), _mm256_loadu_pd(row + x - 1)), two);
        const __m256d dy =
            _mm256_div_pd(_mm256_sub_pd(_mm256_loadu_pd(down + x), _mm256_loadu_pd(up + x)), two);
        _mm256_storeu_pd(mag + x,
                         _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy))));
        _mm256_storeu_pd(ori + x, DirectionFour(dy, dx));
    }
    for (; x < b; ++x) {
        const double dx = (row[x + 1] - row[x - 1]) / 2.0;
        const double dy = (down[x] - up[x]) / 2.0;
        mag[x] = std::sqrt(dx * dx + dy * dy);
        ori[x] = Direction(dy, dx);
    }
}
#endif

// Gradient of the samples of row y that `need` marks, run by run.
void GradientRow(const Plane& L, int y, const std::uint8_t* need, double* mag, double* ori) {
    const int width = L.width;
#if defined(__x86_64__) && defined(__GNUC__)
    if (kHaveAvx2 && y > 0 && y + 1 < L.height) {
        for (int x = 0; x < width;) {
            if (!need[x]) {
                ++x;
                continue;
            }
            int end = x;
            while (end < width && need[end])
                ++end;
            // The first and last column hold 0.
            const int a = std::max(x, 1), b = std::min(end, width - 1);
            if (x == 0)
                mag[0] = ori[0] = 0.0;
            if (end == width)
                mag[width - 1] = ori[width - 1] = 0.0;
            if (a < b)
                GradientRunAvx2(L.Row(y), L.Row(y - 1), L.Row(y + 1), a, b, mag, ori);
            x = end;
        }
        return;
    }
#endif
    for (int x = 0; x < width; ++x)
        if (need[x])
            Gradient(L, x, y, mag[x], ori[x]);
}

// Where the gradients of a band of rows go: magnitudes and orientations,
// `rows` rows of the plane's width each.
struct GradientStore {
    double* magnitude;
    double* orientation;
    int rows;
};

// Orientation histograms of a level's candidates (in row order), one
// keypoint per strong peak. Gradients are computed once per sample some
// window reads, a band of rows at a time in `store`.
std::vector<Keypoint> AssignOrientations(const Plane& L, const std::vector<Candidate>& candidates,
                                         GradientStore store, const Scales& s, int o, int l) {
    std::vector<Keypoint> found;
    if (candidates.empty())
        return found;
    const double sigma = 1.5 * s.scale[o][l] / s.spacing[o];
    std::int32_t n = 0;
    std::unique_ptr<double[]> kernel(MakeGaussianKernel2D(sigma, &n));
    const int r = n / 2;
    const int width = L.width;
    std::vector<double> own;
    int band;  // candidate rows per band
    if (store.rows >= L.height) {
        band = L.height;
    } else {
        band = store.rows - 2 * r;
        if (band < 16) {
            // A plane too low to split: gradients for all of it.
            own.resize(2 * L.Size());
            store = {own.data(), own.data() + L.Size(), L.height};
            band = L.height;
        }
    }
    std::size_t i = 0;
    while (i < candidates.size()) {
        const int ya = candidates[i].y;
        std::size_t j = i;
        while (j < candidates.size() && candidates[j].y < ya + band)
            ++j;
        const int yLast = candidates[j - 1].y;
        const int top = std::max(0, ya - r), bottom = std::min(L.height - 1, yLast + r);
        const Candidate* first = candidates.data() + i;
        const Candidate* last = candidates.data() + j;
        // Gradients of the samples the band's windows read.
        ParallelRows(bottom - top + 1, width * 4, [&](int b, int e) {
            std::vector<std::uint8_t> need(static_cast<std::size_t>(width));
            for (int yy = top + b; yy < top + e; ++yy) {
                const Candidate* c0 =
                    std::lower_bound(first, last, yy - r, [](const Candidate& c, int y) { return c.y < y; });
                const Candidate* c1 =
                    std::upper_bound(c0, last, yy + r, [](int y, const Candidate& c) { return y < c.y; });
                if (c0 == c1)
                    continue;
                std::fill(need.begin(), need.end(), std::uint8_t(0));
                for (const Candidate* c = c0; c != c1; ++c)
                    std::fill(need.begin() + std::max(0, c->x - r),
                              need.begin() + std::min(width - 1, c->x + r) + 1, std::uint8_t(1));
                double* mag = store.magnitude + std::size_t(yy - top) * width;
                double* ori = store.orientation + std::size_t(yy - top) * width;
                GradientRow(L, yy, need.data(), mag, ori);
            }
        });
        std::mutex mutex;
        std::vector<std::pair<std::size_t, std::vector<Keypoint>>> parts;
        Platform::ParallelFor(
            i, j,
            [&](std::size_t b, std::size_t e) {
                std::vector<Keypoint> part;
                for (std::size_t ci = b; ci < e; ++ci) {
                    const Candidate& c = candidates[ci];
                    double hist[kOrientationBins] = {};
                    const int y0 = std::max(0, c.y - r), y1 = std::min(L.height - 1, c.y + r);
                    const int x0 = std::max(0, c.x - r), x1 = std::min(width - 1, c.x + r);
                    for (int y = y0; y <= y1; ++y) {
                        const double* mag = store.magnitude + std::size_t(y - top) * width;
                        const double* ori = store.orientation + std::size_t(y - top) * width;
                        const double* krow = kernel.get() + std::size_t(y - c.y + r) * n;
                        for (int x = x0; x <= x1; ++x) {
                            const double w = krow[x - c.x + r] * mag[x];
                            kOrientationHistogram.Add(hist, ori[x], w);
                        }
                    }
                    // Peaks only: a bin below either neighbour (in the histogram as
                    // accumulated) does not count.
                    double peaks[kOrientationBins];
                    double M = 0.0;
                    for (int bin = 0; bin < kOrientationBins; ++bin) {
                        const double left = hist[(bin + kOrientationBins - 1) % kOrientationBins];
                        const double right = hist[(bin + 1) % kOrientationBins];
                        peaks[bin] = (hist[bin] < left || hist[bin] < right) ? 0.0 : hist[bin];
                        M = std::max(M, peaks[bin]);
                    }
                    for (int bin = 0; bin < kOrientationBins; ++bin) {
                        if (!(peaks[bin] > 0.8 * M))
                            continue;
                        Keypoint k;
                        k.x = c.x * s.spacing[o];
                        k.y = c.y * s.spacing[o];
                        k.orientation = PeakOrientation(hist, bin);
                        k.octave = o;
                        k.level = l;
                        k.scale = s.scale[o][l];
                        part.push_back(k);
                    }
                }
                if (part.empty())
                    return;
                std::lock_guard<std::mutex> lock(mutex);
                parts.emplace_back(b, std::move(part));
            },
            std::max<std::size_t>(1, 8));
        std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& p : parts)
            found.insert(found.end(), p.second.begin(), p.second.end());
        i = j;
    }
    return found;
}

// Bilinear read with the cell taken by truncation toward zero, scaled by 0.25.
// Bilinear read with the cell taken by truncation toward zero, scaled by
// 0.25. Inside: the caller knows all four samples lie in the plane.
template <bool Inside>
[[gnu::always_inline]] inline double Interpolate(const Plane& L, double px, double py) {
    const int x0 = static_cast<int>(px);
    const int y0 = static_cast<int>(py);
    const double fx = px - x0, fy = py - y0;
    double a, b, c, d;
    if (Inside || (x0 >= 0 && y0 >= 0 && x0 + 1 < L.width && y0 + 1 < L.height)) {
        const double* r0 = L.Row(y0) + x0;
        const double* r1 = r0 + L.width;
        a = r0[0], b = r0[1], c = r1[0], d = r1[1];
    } else {
        a = L.AtOrZero(x0, y0), b = L.AtOrZero(x0 + 1, y0), c = L.AtOrZero(x0, y0 + 1),
        d = L.AtOrZero(x0 + 1, y0 + 1);
    }
    const double v = (1.0 - fx) * (1.0 - fy) * a + fx * (1.0 - fy) * b + (1.0 - fx) * fy * c + fx * fy * d;
    return v * 0.25;
}

// The cells (along one axis) whose centre lies less than 6 from sample g
// of 16 along the same axis: a consecutive run of the four.
struct Reach {
    int first, last;
};
constexpr std::array<Reach, 16> MakeReach() {
    constexpr double offsets[4] = {-6.0, -2.0, 2.0, 6.0};
    std::array<Reach, 16> r{};
    for (int g = 0; g < 16; ++g) {
        const double u = -7.5 + g;
        int first = 4, last = 0;
        for (int i = 0; i < 4; ++i) {
            const double d = offsets[i] - u;
            if ((d < 0 ? -d : d) < 6.0) {
                first = std::min(first, i);
                last = i + 1;
            }
        }
        r[g] = {first, last};
    }
    return r;
}
constexpr std::array<Reach, 16> kReach = MakeReach();

// Unit length, large values clipped at 0.2, then unit length again. An
// all-zero vector stays zero: a NaN here would poison the kd-tree.
void Normalize(double* desc) {
    auto norm = [desc] {
        double sum = 0.0;
        for (int i = 0; i < kDescriptorLength; ++i)
            sum += desc[i] * desc[i];
        return std::sqrt(sum);
    };
    const double n1 = norm();
    if (!(n1 > 0.0))
        return;
    bool clipped = false;
    for (int i = 0; i < kDescriptorLength; ++i) {
        desc[i] /= n1;
        if (desc[i] > 0.2) {
            desc[i] = 0.2;
            clipped = true;
        }
    }
    if (!clipped)
        return;
    const double n2 = norm();
    for (int i = 0; i < kDescriptorLength; ++i)
        desc[i] /= n2;
}

template <bool Inside>
void DescribeIn(const Plane& L, double spacing, const Keypoint& k, double* desc) {
    std::fill_n(desc, kDescriptorLength, 0.0);
    const double cx = k.x / spacing, cy = k.y / spacing;
    const double theta = k.orientation;
    const double cs = std::cos(theta), sn = std::sin(theta);
    static constexpr double kCellOffsets[4] = {-6.0, -2.0, 2.0, 6.0};
    double cellX[4][4], cellY[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            cellX[i][j] = cx + (kCellOffsets[i] * cs - kCellOffsets[j] * sn);
            cellY[i][j] = cy + (kCellOffsets[i] * sn + kCellOffsets[j] * cs);
        }
    // The cells each sample row and column can reach: a cell whose centre
    // lies 6 or more from the point along either of the keypoint's axes is at
    // least 6 / sqrt 2 > 4 away along an image axis, so its weight is
    // negative.
    for (int gv = 0; gv < 16; ++gv) {
        const double v = -7.5 + gv;
        for (int gu = 0; gu < 16; ++gu) {
            const double u = -7.5 + gu;
            const double px = cx + (u * cs - v * sn);
            const double py = cy + (u * sn + v * cs);
            // The cells that take a share of this sample; none, and its
            // gradient is not needed.
            int cells = 0;
            int cell[16];
            double cellWeight[16][2];
            for (int i = kReach[gu].first; i < kReach[gu].last; ++i)
                for (int j = kReach[gv].first; j < kReach[gv].last; ++j) {
                    const double wx = 1.0 - std::fabs(cellX[i][j] - px) / 4.0;
                    const double wy = 1.0 - std::fabs(cellY[i][j] - py) / 4.0;
                    if (!(wx > 0.0 && wy > 0.0))
                        continue;
                    cell[cells] = 4 * i + j;
                    cellWeight[cells][0] = wx;
                    cellWeight[cells][1] = wy;
                    ++cells;
                }
            if (cells == 0)
                continue;
            const double dx =
                (Interpolate<Inside>(L, px + 1.0, py) - Interpolate<Inside>(L, px - 1.0, py)) / 2.0;
            const double dy =
                (Interpolate<Inside>(L, px, py + 1.0) - Interpolate<Inside>(L, px, py - 1.0)) / 2.0;
            if (dx == 0.0 && dy == 0.0)
                continue;
            const double ox = px - cx, oy = py - cy;
            const double weight =
                std::sqrt(dx * dx + dy * dy) * std::exp(-(ox * ox + oy * oy) / 128.0) / (128.0 * kPi);
            const double phi = Direction(dy, dx) - theta;
            const auto spread = kDescriptorHistogram.Prepare(phi);
            for (int c = 0; c < cells; ++c)
                kDescriptorHistogram.Add(desc + cell[c] * 8, spread,
                                         weight * cellWeight[c][0] * cellWeight[c][1]);
        }
    }
    Normalize(desc);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Interpolate<true> of four points at once.
__attribute__((target("avx2"), always_inline)) inline __m256d InterpolateFour(const Plane& L, __m256d x,
                                                                              __m256d y) {
    const __m256d one = _mm256_set1_pd(1.0), quarter = _mm256_set1_pd(0.25);
    const __m256i width = _mm256_set1_epi64x(L.width);
    const double* base = L.data;
    const __m128i x0 = _mm256_cvttpd_epi32(x), y0 = _mm256_cvttpd_epi32(y);
    const __m256d fx = _mm256_sub_pd(x, _mm256_cvtepi32_pd(x0));
    const __m256d fy = _mm256_sub_pd(y, _mm256_cvtepi32_pd(y0));
    const __m256i at =
        _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(y0), width), _mm256_cvtepi32_epi64(x0));
    const __m256d a = _mm256_i64gather_pd(base, at, 8), b = _mm256_i64gather_pd(base + 1, at, 8);
    const __m256d c = _mm256_i64gather_pd(base + L.width, at, 8),
                  d = _mm256_i64gather_pd(base + L.width + 1, at, 8);
    const __m256d gx = _mm256_sub_pd(one, fx), gy = _mm256_sub_pd(one, fy);
    __m256d v = _mm256_mul_pd(_mm256_mul_pd(gx, gy), a);
    v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_mul_pd(fx, gy), b));
    v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_mul_pd(gx, fy), c));
    v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_mul_pd(fx, fy), d));
    return _mm256_mul_pd(v, quarter);
}

// DescribeIn<true> with four samples of a row side by side for the sample
// positions, the cell weights, the bilinear reads and the magnitude: each
// lane does the scalar operations in the scalar order (no fused
// multiply-add, sqrt correctly rounded either way, the portable atan2's
// operations); exp stays the library's, sample by sample.
__attribute__((target("avx2"))) void DescribeInsideAvx2(const Plane& L, double spacing, const Keypoint& k,
                                                        double* desc) {
    std::fill_n(desc, kDescriptorLength, 0.0);
    const double cx = k.x / spacing, cy = k.y / spacing;
    const double theta = k.orientation;
    const double cs = std::cos(theta), sn = std::sin(theta);
    static constexpr double kCellOffsets[4] = {-6.0, -2.0, 2.0, 6.0};
    alignas(32) double cellX[4][4], cellY[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            cellX[i][j] = cx + (kCellOffsets[i] * cs - kCellOffsets[j] * sn);
            cellY[i][j] = cy + (kCellOffsets[i] * sn + kCellOffsets[j] * cs);
        }
    const __m256d vcx = _mm256_set1_pd(cx), vcy = _mm256_set1_pd(cy), vcs = _mm256_set1_pd(cs),
                  vsn = _mm256_set1_pd(sn);
    const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), four = _mm256_set1_pd(4.0),
                  zero = _mm256_setzero_pd(), sign = _mm256_set1_pd(-0.0), scale = _mm256_set1_pd(128.0);
    alignas(32) double pxs[4], pys[4], dxs[4], dys[4], args[4], mags[4], wxs[4], wys[4];
    for (int gv = 0; gv < 16; ++gv) {
        const double v = -7.5 + gv;
        const __m256d vv = _mm256_set1_pd(v);
        const int jFirst = kReach[gv].first, jLast = kReach[gv].last;
        const unsigned jMask = ((1u << jLast) - 1u) & ~((1u << jFirst) - 1u);
        for (int g4 = 0; g4 < 16; g4 += 4) {
            const __m256d u = _mm256_set_pd(-7.5 + (g4 + 3), -7.5 + (g4 + 2), -7.5 + (g4 + 1), -7.5 + g4);
            const __m256d px =
                _mm256_add_pd(vcx, _mm256_sub_pd(_mm256_mul_pd(u, vcs), _mm256_mul_pd(vv, vsn)));
            const __m256d py =
                _mm256_add_pd(vcy, _mm256_add_pd(_mm256_mul_pd(u, vsn), _mm256_mul_pd(vv, vcs)));
            const __m256d dx = _mm256_div_pd(_mm256_sub_pd(InterpolateFour(L, _mm256_add_pd(px, one), py),
                                                           InterpolateFour(L, _mm256_sub_pd(px, one), py)),
                                             two);
            const __m256d dy = _mm256_div_pd(_mm256_sub_pd(InterpolateFour(L, px, _mm256_add_pd(py, one)),
                                                           InterpolateFour(L, px, _mm256_sub_pd(py, one))),
                                             two);
            const __m256d ox = _mm256_sub_pd(px, vcx), oy = _mm256_sub_pd(py, vcy);
            const __m256d arg = _mm256_div_pd(
                _mm256_xor_pd(_mm256_add_pd(_mm256_mul_pd(ox, ox), _mm256_mul_pd(oy, oy)), sign), scale);
            _mm256_store_pd(pxs, px);
            _mm256_store_pd(pys, py);
            _mm256_store_pd(dxs, dx);
            _mm256_store_pd(dys, dy);
            _mm256_store_pd(args, arg);
            _mm256_store_pd(mags,
                            _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy))));
            // Lanes that add nothing get a direction too; it is not used.
            const __m256d phi = _mm256_sub_pd(DirectionFour(dy, dx), _mm256_set1_pd(theta));
            // Each lane's cells, weight and direction first; then the four
            // directions' bins at once; then the lanes' shares in lane order.
            int cells[4] = {};
            int cell[4][16];
            double cellWeight[4][16][2];
            alignas(32) double weights[4], phis[4];
            _mm256_store_pd(phis, phi);
            for (int lane = 0; lane < 4; ++lane) {
                const int gu = g4 + lane;
                const __m256d lx = _mm256_set1_pd(pxs[lane]), ly = _mm256_set1_pd(pys[lane]);
                int count = 0;
                for (int i = kReach[gu].first; i < kReach[gu].last; ++i) {
                    const __m256d wx = _mm256_sub_pd(
                        one, _mm256_div_pd(
                                 _mm256_andnot_pd(sign, _mm256_sub_pd(_mm256_load_pd(cellX[i]), lx)), four));
                    const __m256d wy = _mm256_sub_pd(
                        one, _mm256_div_pd(
                                 _mm256_andnot_pd(sign, _mm256_sub_pd(_mm256_load_pd(cellY[i]), ly)), four));
                    unsigned bits =
                        unsigned(_mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(wx, zero, _CMP_GT_OQ),
                                                                  _mm256_cmp_pd(wy, zero, _CMP_GT_OQ)))) &
                        jMask;
                    if (!bits)
                        continue;
                    _mm256_store_pd(wxs, wx);
                    _mm256_store_pd(wys, wy);
                    while (bits) {
                        const int j = __builtin_ctz(bits);
                        bits &= bits - 1;
                        cell[lane][count] = 4 * i + j;
                        cellWeight[lane][count][0] = wxs[j];
                        cellWeight[lane][count][1] = wys[j];
                        ++count;
                    }
                }
                const double sx = dxs[lane], sy = dys[lane];
                if (count == 0 || (sx == 0.0 && sy == 0.0))
                    continue;
                cells[lane] = count;
                weights[lane] = mags[lane] * std::exp(args[lane]) / (128.0 * kPi);
            }
            if (!(cells[0] | cells[1] | cells[2] | cells[3]))
                continue;
            FourSpreads spreads;
            PrepareFour(kDescriptorHistogram, phi, spreads);
            for (int lane = 0; lane < 4; ++lane)
                for (int c = 0; c < cells[lane]; ++c)
                    AddLane(kDescriptorHistogram, desc + cell[lane][c] * 8, spreads, lane, phis[lane],
                            weights[lane] * cellWeight[lane][c][0] * cellWeight[lane][c][1]);
        }
    }
    Normalize(desc);
}

#endif

// Reads within 14 samples of the keypoint (7.5 sqrt 2, one more for the
// gradient, one for the bilinear cell, and a margin) need no bounds test.
void Describe(const Plane& L, double spacing, const Keypoint& k, double* desc) {
    const double cx = k.x / spacing, cy = k.y / spacing;
    const bool inside = cx >= 14.0 && cy >= 14.0 && cx + 14.0 < L.width - 1 && cy + 14.0 < L.height - 1;
#if defined(__x86_64__) && defined(__GNUC__)
    if (inside && kHaveAvx2)
        return DescribeInsideAvx2(L, spacing, k, desc);
#endif
    if (inside)
        DescribeIn<true>(L, spacing, k, desc);
    else
        DescribeIn<false>(L, spacing, k, desc);
}

void ReplaceLists(std::vector<Keypoint*>& keypoints, std::vector<double*>& descriptors) {
    for (Keypoint* k : keypoints)
        delete k;
    for (double* d : descriptors)
        delete[] d;
    keypoints.clear();
    descriptors.clear();
}

// Descriptors of a level's keypoints, appended to the output lists.
void DescribeLevel(const Plane& L, double spacing, std::vector<Keypoint>& found,
                   std::vector<std::unique_ptr<Keypoint>>& keypoints,
                   std::vector<std::unique_ptr<double[]>>& descriptors) {
    const std::size_t start = descriptors.size();
    for (const Keypoint& k : found) {
        keypoints.push_back(std::make_unique<Keypoint>(k));
        descriptors.emplace_back(new double[kDescriptorLength]);
    }
    Platform::ParallelFor(
        0, found.size(),
        [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                Describe(L, spacing, found[i], descriptors[start + i].get());
        },
        4);
}

}  // namespace

void DetectFeatures(PanoramaLib::IPanoElement* element, std::vector<Keypoint*>& keypoints,
                    std::vector<double*>& descriptors, double edgeRatio, double contrastThreshold,
                    const CancelFunction& cancel) {
    const int bpp = element ? element->GetBpp() : 0;
    if (!element || !element->IsValid() || !element->GetBits() || (bpp != 8 && bpp != 24) ||
        element->GetWidth() <= 0 || element->GetHeight() <= 0) {
        ReplaceLists(keypoints, descriptors);
        return;
    }
    const int W = element->GetWidth(), H = element->GetHeight();
    const Scales s;
    int width[kOctaves], height[kOctaves];
    for (int o = 0; o < kOctaves; ++o) {
        width[o] = static_cast<int>(W / s.spacing[o]);
        height[o] = static_cast<int>(H / s.spacing[o]);
    }
    const std::size_t fullSize = std::size_t(width[0]) * height[0];
    const std::size_t quarterSize = std::max<std::size_t>(1, std::size_t(width[1]) * height[1]);
    WorkspaceLease ws(fullSize, quarterSize);
    // Octave bases alternate between the first full plane and the quarter
    // one: an octave's base is written while the octave before still works.
    double* baseMemory[kOctaves];
    std::size_t baseCapacity[kOctaves];
    for (int o = 0; o < kOctaves; ++o) {
        baseMemory[o] = o % 2 == 0 ? ws->full[0].get() : ws->quarter.get();
        baseCapacity[o] = o % 2 == 0 ? ws->fullCapacity : ws->quarterCapacity;
    }
    {
        const Plane base{baseMemory[0], width[0], height[0]};
        DoubleSizeGrey(element, W, H, base);
        if (s.baseBlur != 0.0)
            RecursiveGaussianBlur(base.width, base.height, base.width, base.data, s.baseBlur);
    }

    std::vector<std::unique_ptr<Keypoint>> found;
    std::vector<std::unique_ptr<double[]>> described;
    for (int o = 0; o < kOctaves; ++o) {
        const int w = width[o], h = height[o];
        Plane g0{baseMemory[o], w, h}, g1{ws->full[1].get(), w, h}, g2{ws->full[2].get(), w, h};
        const std::size_t grain = RowGrain(w);
        RecursiveGaussianBlurInto(w, h, w, g0.data, g1.data, s.blur[1]);
        RecursiveGaussianBlurInto(w, h, w, g1.data, g2.data, s.blur[2]);
        // The next octave's base (every other sample of level 2) is taken by
        // the same rows' chunk, row 2y with row y of the next octave.
        const Plane next = o + 1 < kOctaves ? Plane{baseMemory[o + 1], width[o + 1], height[o + 1]} : Plane{};
        std::vector<Partial> partial1 =
            CollectRows<Partial>(h, grain, [&](std::size_t b, std::size_t e, auto& out) {
                const LevelScan scan{&g1, &g2, edgeRatio, contrastThreshold};
                scan.Rows(
                    int(b), int(e),
                    [&](int r, int y, int x) { return g1.Row(y - 1 + r)[x] - g0.Row(y - 1 + r)[x]; }, out);
                for (int y = int(b + 1) / 2; 2 * y < int(e) && y < next.height; ++y) {
                    EverySecond(g2.Row(2 * y), next.Row(y), next.width);
                }
            });
        // Gaussian level 3 (and then 4) where level 0 was.
        const Plane g3{baseMemory[o], w, h};
        RecursiveGaussianBlurInto(w, h, w, g2.data, g3.data, s.blur[3]);
        const std::vector<Candidate> candidates1 = Finish(partial1, g3);
        partial1 = {};
        std::vector<Partial> partial2 =
            CollectRows<Partial>(h, grain, [&](std::size_t b, std::size_t e, auto& out) {
                const LevelScan scan{&g2, &g3, edgeRatio, contrastThreshold};
                scan.Rows(
                    int(b), int(e),
                    [&](int r, int y, int x) { return g2.Row(y - 1 + r)[x] - g1.Row(y - 1 + r)[x]; }, out);
            });
        RecursiveGaussianBlur(w, h, w, g3.data, s.blur[4]);
        const std::vector<Candidate> candidates2 = Finish(partial2, g3);
        partial2 = {};
        if (o == 0)
            ThrowIfCancelled(cancel);

        // Level 1 keypoints take their gradients where level 3 was, level 2
        // keypoints there and where level 1 was.
        const std::size_t half = baseCapacity[o] / 2;
        std::vector<Keypoint> k1 = AssignOrientations(
            g1, candidates1, {baseMemory[o], baseMemory[o] + half, int(half / std::size_t(std::max(w, 1)))},
            s, o, 1);
        DescribeLevel(g1, s.spacing[o], k1, found, described);
        const std::size_t room = std::min(baseCapacity[o], ws->fullCapacity);
        std::vector<Keypoint> k2 = AssignOrientations(
            g2, candidates2, {baseMemory[o], ws->full[1].get(), int(room / std::size_t(std::max(w, 1)))}, s,
            o, 2);
        DescribeLevel(g2, s.spacing[o], k2, found, described);
        if (o == 0 || o == 1)
            ThrowIfCancelled(cancel);
    }
    ThrowIfCancelled(cancel);

    ReplaceLists(keypoints, descriptors);
    keypoints.reserve(found.size());
    descriptors.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        keypoints.push_back(found[i].release());
        descriptors.push_back(described[i].release());
    }
    ThrowIfCancelled(cancel);
}

DetectionPlaneScope::DetectionPlaneScope() {
    Pool().Enter();
}

DetectionPlaneScope::~DetectionPlaneScope() {
    Pool().Leave();
}
