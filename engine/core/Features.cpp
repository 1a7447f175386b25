#include "Features.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <numbers>
#include <utility>

#include "Gaussian.h"
#include "OrvexBase.h"

namespace {

constexpr int kOctaves = 4;
constexpr int kLevels = 5;  // Gaussian levels per octave; 4 difference levels
constexpr double kPi = std::numbers::pi;
constexpr int kOrientationBins = 36;
constexpr double kOrientationBinWidth = 2.0 * kPi / kOrientationBins;  // 10 degrees

// Planes given back while a DetectionPlaneScope lives, for the next
// detection that asks for the same size.
class PlanePool {
public:
    double* Take(std::size_t n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = free_.begin(); it != free_.end(); ++it)
                if (it->first == n) {
                    double* p = it->second;
                    free_.erase(it);
                    return p;
                }
        }
        return new double[n];
    }
    void Give(double* p, std::size_t n) {
        if (!p)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (scopes_ > 0) {
                free_.emplace_back(n, p);
                return;
            }
        }
        delete[] p;
    }
    void Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++scopes_;
    }
    void Leave() {
        std::vector<std::pair<std::size_t, double*>> drop;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--scopes_ == 0)
                drop.swap(free_);
        }
        for (auto& [n, p] : drop)
            delete[] p;
    }

private:
    std::mutex mutex_;
    int scopes_ = 0;
    std::vector<std::pair<std::size_t, double*>> free_;
};

PlanePool& Pool() {
    static PlanePool pool;
    return pool;
}

// A plane's samples, from the pool and back to it.
class PlaneSamples {
public:
    PlaneSamples() = default;
    explicit PlaneSamples(std::size_t n) : p_(Pool().Take(n)), n_(n) {}
    PlaneSamples(PlaneSamples&& o) noexcept : p_(std::exchange(o.p_, nullptr)), n_(o.n_) {}
    PlaneSamples& operator=(PlaneSamples&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
            n_ = o.n_;
        }
        return *this;
    }
    ~PlaneSamples() { reset(); }
    void reset() { Pool().Give(std::exchange(p_, nullptr), n_); }
    double* get() const { return p_; }
    double& operator[](std::size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    double* p_ = nullptr;
    std::size_t n_ = 0;
};

// A plane of doubles. Allocation leaves the samples unset: every user writes
// each sample before reading it.
struct Matrix {
    int width = 0;
    int height = 0;
    PlaneSamples samples;

    Matrix() = default;
    Matrix(int w, int h) : width(w), height(h), samples(std::size_t(w) * std::size_t(h)) {}
    std::size_t Size() const { return std::size_t(width) * std::size_t(height); }
    double* Data() { return samples.get(); }
    const double* Data() const { return samples.get(); }
    double* Row(int y) { return samples.get() + std::size_t(y) * width; }
    const double* Row(int y) const { return samples.get() + std::size_t(y) * width; }
    double At(int x, int y) const { return samples[std::size_t(y) * width + x]; }
    // Samples outside the matrix read as 0.
    double AtOrZero(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return 0.0;
        return At(x, y);
    }
    void Release() { samples.reset(); }
};

struct Candidate {
    int x, y, octave, level;
};

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

// atan2 with an exact pi turned into -pi, so angles lie in [-pi, pi).
double Direction(double dy, double dx) {
    const double a = std::atan2(dy, dx);
    return a == kPi ? -kPi : a;
}

// The photo's grey image at twice its size, averaged in between.
std::vector<std::uint8_t> DoubleSizeGrey(PanoramaLib::IPanoElement* element, int W, int H) {
    const int bpp = element->GetBpp();
    const std::uint8_t* bits = element->GetBits();
    const std::size_t stride = std::size_t(element->GetStride());
    const int w2 = 2 * W, h2 = 2 * H;
    std::vector<std::uint8_t> g(std::size_t(w2) * h2);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* src = bits + std::size_t(y) * stride;
        std::uint8_t* dst = g.data() + std::size_t(2 * y) * w2;
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
    for (int y = 0; y + 1 < H; ++y) {
        const std::uint8_t* above = g.data() + std::size_t(2 * y) * w2;
        const std::uint8_t* below = above + 2 * std::size_t(w2);
        std::uint8_t* mid = g.data() + std::size_t(2 * y + 1) * w2;
        for (int x = 0; x < w2; ++x)
            mid[x] = static_cast<std::uint8_t>((above[x] + below[x]) >> 1);
    }
    std::copy_n(g.data() + std::size_t(h2 - 2) * w2, w2, g.data() + std::size_t(h2 - 1) * w2);
    return g;
}

void ThrowIfCancelled(const CancelFunction& cancel) {
    if (cancel && cancel())
        throw panorama_abort();
}

// The Gaussian pyramid; a difference level m of an octave is Gaussian level
// m + 1 minus level m, taken sample by sample where it is needed.
struct ScaleSpace {
    double spacing[kOctaves];
    double scale[kOctaves][kLevels] = {};  // the 4 x 5 table of scales, photo pixels
    Matrix gauss[kOctaves][kLevels];
};

void BuildScaleSpace(ScaleSpace& s, const std::vector<std::uint8_t>& grey, int W, int H) {
    const double k = std::pow(2.0, 1.0 / 2.0);
    const double increment = std::sqrt(k * k - 1.0);
    const double sigma0 = std::sqrt(1.0 * 1.0 + 1.0 * 1.0);
    const double baseBlur = std::sqrt(2.0 - 1.0 * 1.0);
    for (int o = 0; o < kOctaves; ++o) {
        s.spacing[o] = 0.5 * std::ldexp(1.0, o);
        const int w = static_cast<int>(W / s.spacing[o]);
        const int h = static_cast<int>(H / s.spacing[o]);
        Matrix& base = s.gauss[o][0];
        base = Matrix(w, h);
        if (o == 0) {
            for (std::size_t i = 0; i < base.Size(); ++i)
                base.samples[i] = grey[i] / 255.0;
            if (baseBlur != 0.0)
                RecursiveGaussianBlur(w, h, w, base.Data(), baseBlur);
            s.scale[0][0] = sigma0 * 0.5;
        } else {
            const Matrix& prev = s.gauss[o - 1][2];
            for (int y = 0; y < h; ++y) {
                const double* src = prev.Row(2 * y);
                double* dst = base.Row(y);
                for (int x = 0; x < w; ++x)
                    dst[x] = src[2 * x];
            }
            s.scale[o][0] = s.scale[o - 1][2];
        }
        double sigma = sigma0;
        for (int l = 1; l < kLevels; ++l) {
            s.gauss[o][l] = Matrix(w, h);
            RecursiveGaussianBlurInto(w, h, w, s.gauss[o][l - 1].Data(), s.gauss[o][l].Data(),
                                      sigma * increment);
            sigma *= k;
            s.scale[o][l] = s.spacing[o] * sigma;
        }
    }
}

// Rows y - 1 .. y + 1 of the difference levels m - 1 .. m + 1 around level m.
struct DifferenceWindow {
    const double* g[4][3];  // Gaussian levels m - 1 .. m + 2, rows y - 1 .. y + 1

    DifferenceWindow(const Matrix* gauss, int m, int y) {
        for (int i = 0; i < 4; ++i)
            for (int r = 0; r < 3; ++r)
                g[i][r] = gauss[m - 1 + i].Row(y - 1 + r);
    }
    // Difference level m - 1 + i at (x, row y - 1 + r).
    double D(int i, int r, int x) const { return g[i + 1][r][x] - g[i][r][x]; }
};

bool IsExtremum(const DifferenceWindow& w, int x, double v) {
    bool greater = true, smaller = true;
    for (int i = 0; i < 3; ++i) {
        for (int r = 0; r < 3; ++r)
            for (int dx = -1; dx <= 1; ++dx) {
                if (i == 1 && r == 1 && dx == 0)
                    continue;
                const double n = w.D(i, r, x + dx);
                greater = greater && v > n;
                smaller = smaller && v < n;
            }
        if (!greater && !smaller)
            return false;
    }
    return greater || smaller;
}

bool PassesEdgeTest(const DifferenceWindow& w, int x, double edgeRatio) {
    const double v = w.D(1, 1, x);
    const double dxx = w.D(1, 1, x - 1) + w.D(1, 1, x + 1) - 2.0 * v;
    const double dyy = w.D(1, 0, x) + w.D(1, 2, x) - 2.0 * v;
    const double dxy = (w.D(1, 0, x - 1) - w.D(1, 0, x + 1) - w.D(1, 2, x - 1) + w.D(1, 2, x + 1)) / 4.0;
    const double det = dxx * dyy - dxy * dxy;
    const double tr = dxx + dyy;
    if (!(det >= 0.0))
        return false;
    return tr * tr / det < (edgeRatio + 1.0) * (edgeRatio + 1.0) / edgeRatio;
}

std::vector<Candidate> FindCandidates(const ScaleSpace& s, double edgeRatio, double contrastThreshold) {
    std::vector<Candidate> candidates;
    for (int o = 0; o < kOctaves; ++o) {
        const int width = s.gauss[o][0].width, height = s.gauss[o][0].height;
        for (int l = 1; l <= 2; ++l) {
            for (int y = 1; y + 1 < height; ++y) {
                const DifferenceWindow w(s.gauss[o], l, y);
                for (int x = 1; x + 1 < width; ++x) {
                    const double v = w.D(1, 1, x);
                    if (!(std::fabs(v) >= contrastThreshold))
                        continue;
                    if (!IsExtremum(w, x, v))
                        continue;
                    if (!PassesEdgeTest(w, x, edgeRatio))
                        continue;
                    candidates.push_back({x, y, o, l});
                }
            }
        }
    }
    return candidates;
}

struct GradientPlane {
    Matrix magnitude;
    Matrix orientation;
};

// Radius of the orientation window of an octave's level, in octave samples.
int OrientationRadius(const ScaleSpace& s, int o, int l) {
    const double sigma = 1.5 * s.scale[o][l] / s.spacing[o];
    return static_cast<int>(3.5 * sigma + 0.5);
}

// Gradient magnitude and orientation by central differences; border samples
// hold 0. Only the samples that some orientation window will read are
// computed (the rest are never read).
// A plane of w x h: a spare one of the same size when there is one, so that
// memory already touched is used again.
Matrix TakePlane(std::vector<Matrix>& spares, int w, int h) {
    for (auto it = spares.begin(); it != spares.end(); ++it)
        if (it->width == w && it->height == h && it->samples) {
            Matrix m = std::move(*it);
            spares.erase(it);
            return m;
        }
    return Matrix(w, h);
}

GradientPlane BuildGradients(const Matrix& L, const std::vector<Candidate>& candidates, int radius,
                             std::vector<Matrix>& spares) {
    GradientPlane g{TakePlane(spares, L.width, L.height), TakePlane(spares, L.width, L.height)};
    std::vector<std::uint8_t> needed(L.Size(), 0);
    for (const Candidate& c : candidates) {
        const int x0 = std::max(0, c.x - radius), x1 = std::min(L.width - 1, c.x + radius);
        for (int y = std::max(0, c.y - radius); y <= std::min(L.height - 1, c.y + radius); ++y)
            std::fill(needed.begin() + std::ptrdiff_t(y) * L.width + x0,
                      needed.begin() + std::ptrdiff_t(y) * L.width + x1 + 1, std::uint8_t(1));
    }
    for (int y = 0; y < L.height; ++y) {
        const std::uint8_t* need = needed.data() + std::size_t(y) * L.width;
        double* mag = g.magnitude.Row(y);
        double* ori = g.orientation.Row(y);
        const bool borderRow = y == 0 || y + 1 == L.height;
        for (int x = 0; x < L.width; ++x) {
            if (!need[x])
                continue;
            if (borderRow || x == 0 || x + 1 == L.width) {
                mag[x] = ori[x] = 0.0;
                continue;
            }
            const double* row = L.Row(y);
            const double dx = (row[x + 1] - row[x - 1]) / 2.0;
            const double dy = (L.Row(y + 1)[x] - L.Row(y - 1)[x]) / 2.0;
            mag[x] = std::sqrt(dx * dx + dy * dy);
            ori[x] = Direction(dy, dx);
        }
    }
    return g;
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

    void AddBin(double* hist, int b, double angle, double weight) const {
        const double factor = 1.0 - CircularDistance(angle, centre[b]) / binWidth;
        if (factor > 0.0)
            hist[b] += weight * factor;
    }

    void Add(double* hist, double angle, double weight) const {
        // t >= 0, so truncation is the floor.
        const double t = (WrapAngle(angle) + kPi) / binWidth;
        int b = static_cast<int>(t);
        const double frac = t - b;
        b %= Bins;
        const int next = b + 1 == Bins ? 0 : b + 1;
        if (frac > 1e-6 && frac < 1.0 - 1e-6) {
            AddBin(hist, b, angle, weight);
            AddBin(hist, next, angle, weight);
            return;
        }
        const int before = b == 0 ? Bins - 1 : b - 1;
        const int after = next + 1 == Bins ? 0 : next + 1;
        // In bin order as a full loop would visit them (each bin is separate,
        // so the order does not change any sum).
        AddBin(hist, before, angle, weight);
        AddBin(hist, b, angle, weight);
        AddBin(hist, next, angle, weight);
        AddBin(hist, after, angle, weight);
    }
};

const CircularHistogram<kOrientationBins> kOrientationHistogram;
const CircularHistogram<8> kDescriptorHistogram;

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

void AssignOrientations(const ScaleSpace& s, const std::vector<Candidate>& candidates,
                        const GradientPlane gradients[kOctaves][2],
                        std::vector<std::unique_ptr<Keypoint>>& out) {
    std::size_t next = 0;
    for (int o = 0; o < kOctaves; ++o) {
        for (int l = 1; l <= 2; ++l) {
            if (next >= candidates.size() || candidates[next].octave != o || candidates[next].level != l)
                continue;
            const double sigma = 1.5 * s.scale[o][l] / s.spacing[o];
            std::int32_t n = 0;
            std::unique_ptr<double[]> kernel(MakeGaussianKernel2D(sigma, &n));
            const int r = n / 2;
            const GradientPlane& g = gradients[o][l - 1];
            for (; next < candidates.size() && candidates[next].octave == o && candidates[next].level == l;
                 ++next) {
                const Candidate& c = candidates[next];
                double hist[kOrientationBins] = {};
                const int y0 = std::max(0, c.y - r), y1 = std::min(g.magnitude.height - 1, c.y + r);
                const int x0 = std::max(0, c.x - r), x1 = std::min(g.magnitude.width - 1, c.x + r);
                for (int y = y0; y <= y1; ++y) {
                    const double* mag = g.magnitude.Row(y);
                    const double* ori = g.orientation.Row(y);
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
                for (int b = 0; b < kOrientationBins; ++b) {
                    const double left = hist[(b + kOrientationBins - 1) % kOrientationBins];
                    const double right = hist[(b + 1) % kOrientationBins];
                    peaks[b] = (hist[b] < left || hist[b] < right) ? 0.0 : hist[b];
                    M = std::max(M, peaks[b]);
                }
                for (int b = 0; b < kOrientationBins; ++b) {
                    if (!(peaks[b] > 0.8 * M))
                        continue;
                    auto k = std::make_unique<Keypoint>();
                    k->x = c.x * s.spacing[o];
                    k->y = c.y * s.spacing[o];
                    k->orientation = PeakOrientation(hist, b);
                    k->octave = o;
                    k->level = l;
                    k->scale = s.scale[o][l];
                    out.push_back(std::move(k));
                }
            }
        }
    }
}

// Bilinear read with the cell taken by truncation toward zero, scaled by 0.25.
inline double Interpolate(const Matrix& L, double px, double py) {
    const int x0 = static_cast<int>(px);
    const int y0 = static_cast<int>(py);
    const double fx = px - x0, fy = py - y0;
    double a, b, c, d;
    if (x0 >= 0 && y0 >= 0 && x0 + 1 < L.width && y0 + 1 < L.height) {
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

void Describe(const Matrix& L, double spacing, const Keypoint& k, double* desc) {
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
    for (int gv = 0; gv < 16; ++gv) {
        const double v = -7.5 + gv;
        for (int gu = 0; gu < 16; ++gu) {
            const double u = -7.5 + gu;
            const double px = cx + (u * cs - v * sn);
            const double py = cy + (u * sn + v * cs);
            const double dx = (Interpolate(L, px + 1.0, py) - Interpolate(L, px - 1.0, py)) / 2.0;
            const double dy = (Interpolate(L, px, py + 1.0) - Interpolate(L, px, py - 1.0)) / 2.0;
            if (dx == 0.0 && dy == 0.0)
                continue;
            const double ox = px - cx, oy = py - cy;
            const double weight =
                std::sqrt(dx * dx + dy * dy) * std::exp(-(ox * ox + oy * oy) / 128.0) / (128.0 * kPi);
            const double phi = Direction(dy, dx) - theta;
            // A cell whose centre lies 6 or more from the point along either
            // of the keypoint's axes is at least 6 / sqrt 2 > 4 away along an
            // image axis, so its weight is negative: skip it unasked.
            for (int i = 0; i < 4; ++i) {
                if (std::fabs(kCellOffsets[i] - u) >= 6.0)
                    continue;
                for (int j = 0; j < 4; ++j) {
                    if (std::fabs(kCellOffsets[j] - v) >= 6.0)
                        continue;
                    const double wx = 1.0 - std::fabs(cellX[i][j] - px) / 4.0;
                    const double wy = 1.0 - std::fabs(cellY[i][j] - py) / 4.0;
                    if (!(wx > 0.0 && wy > 0.0))
                        continue;
                    kDescriptorHistogram.Add(desc + (4 * i + j) * 8, phi, weight * wx * wy);
                }
            }
        }
    }
    // Unit length, large values clipped at 0.2, then unit length again. An
    // all-zero vector stays zero: a NaN here would poison the kd-tree.
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

void ReplaceLists(std::vector<Keypoint*>& keypoints, std::vector<double*>& descriptors) {
    for (Keypoint* k : keypoints)
        delete k;
    for (double* d : descriptors)
        delete[] d;
    keypoints.clear();
    descriptors.clear();
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

    auto space = std::make_unique<ScaleSpace>();
    BuildScaleSpace(*space, DoubleSizeGrey(element, W, H), W, H);
    ThrowIfCancelled(cancel);

    const std::vector<Candidate> candidates = FindCandidates(*space, edgeRatio, contrastThreshold);
    // Only Gaussian levels 1 and 2 are read from here on; the others' memory
    // serves the gradient planes.
    std::vector<Matrix> spares;
    for (int o = 0; o < kOctaves; ++o)
        for (int l : {0, 3, 4})
            spares.push_back(std::move(space->gauss[o][l]));
    ThrowIfCancelled(cancel);

    auto gradients = std::make_unique<GradientPlane[][2]>(kOctaves);
    for (int o = 0; o < kOctaves; ++o)
        for (int l = 1; l <= 2; ++l) {
            std::vector<Candidate> here;
            for (const Candidate& c : candidates)
                if (c.octave == o && c.level == l)
                    here.push_back(c);
            gradients[o][l - 1] =
                BuildGradients(space->gauss[o][l], here, OrientationRadius(*space, o, l), spares);
        }
    spares.clear();
    ThrowIfCancelled(cancel);

    std::vector<std::unique_ptr<Keypoint>> found;
    AssignOrientations(*space, candidates, gradients.get(), found);
    gradients.reset();
    ThrowIfCancelled(cancel);

    std::vector<std::unique_ptr<double[]>> described;
    described.reserve(found.size());
    for (const auto& k : found) {
        described.emplace_back(new double[kDescriptorLength]);
        Describe(space->gauss[k->octave][k->level], space->spacing[k->octave], *k, described.back().get());
    }
    space.reset();

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
