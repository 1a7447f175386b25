// The tiled model's global alignment on generated multi-row spheres of 60,
// 120 or 200 photos (exact matches on a 40-pixel keypoint grid, half a pixel
// of noise), one sphere a run so that the peak memory is that sphere's.
// Prints the seconds (wall and processor) the alignment took, the steps,
// Jacobians and evaluations of the final lmdif solve, the steps of the
// refinement before it, the size of the solve's Jacobian and the work of one
// dense QR of it, the root mean square match distance, the worst angle
// against the truth and the peak resident size; with --poses also every
// placed photo's pose. With --from-placement lmdif starts from the placement
// poses (no refinement). With --qr-alone the bench then times MINPACK's QR
// (qrfac, as lmdif calls it) by itself on a matrix of the same size, after
// the alignment has freed its own, so that a loaded machine's figures can be
// split into the QR and the rest by processor time.
//
// With --make-sweep it instead writes a folder of photos for a whole-engine
// run: 56 overlapping 256 x 192 views, one row swept over 330 degrees with a
// handheld wobble, seen through a pinhole camera (focal 320) from a
// 360-degree sphere strip such as `stitch_bench --tiled sphere --out` makes
// of apartment-ring. Nothing of it is kept in the repository.
//
// With --make-sphere it writes the whole-engine job of a large camera: 60
// photos of 2400 x 1600 (focal 2000), three rows of 20 over 360 degrees at
// pitch -32, 0 and 32 with a handheld wobble, seen from a sphere painted with
// noise of many scales (so that every view has features at the analysis
// size), for `stitch_bench --tiled sphere --stage-memory FOLDER`.
//
// usage: align_bench [--from-placement] [--poses] [--lens] [--qr-alone] 60|120|200
//        align_bench --make-sweep STRIP FOLDER
//        align_bench --make-sphere FOLDER

#include <sys/resource.h>

#include <cminpack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "SyntheticViews.h"
#include "TextCodec.h"
#include "ThreadPool.h"
#include "TiledAlignment.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct SphereLayout {
    int photos;
    int rows;
    double focal;
    double lowestPitch;  // degrees
    double rowSpacing;   // degrees
};

// The 60-photo sphere is three rows of 20 (640 x 480, focal 500) at pitch
// -40, 0 and 40; the larger ones keep its overlaps: a longer focal for the
// narrower steps, rows closer by the same part of the view.
constexpr SphereLayout kLayouts[] = {
    {60, 3, 500.0, -40.0, 40.0},
    {120, 4, 750.0, -41.5, 27.7},
    {200, 5, 1116.0, -38.0, 19.0},
};

std::vector<TiledImagePose> MakeTruth(const SphereLayout& layout) {
    std::vector<TiledImagePose> truth;
    unsigned seed = 7;
    auto jitter = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (static_cast<int>((seed >> 16) % 2001) - 1000) / 1000.0;  // -1 .. 1 degree
    };
    const int perRow = layout.photos / layout.rows;
    const double step = 360.0 / perRow;
    for (int row = 0; row < layout.rows; ++row)
        for (int i = 0; i < perRow; ++i)
            truth.push_back(Synthetic::Pose(layout.focal,
                                            layout.lowestPitch + layout.rowSpacing * row + jitter(),
                                            step * i + step / 2 * row + jitter(), jitter()));
    return truth;
}

// The angle (degrees) between photo i's rotation relative to the reference
// in the fit and in the truth.
double RelativeError(const std::vector<TiledImagePose>& got, const std::vector<TiledImagePose>& truth,
                     int ref, int i) {
    auto relative = [](const std::vector<TiledImagePose>& poses, int r, int k, double out[9]) {
        double R0[9], Rk[9];
        RotationFromAngles(R0, poses[r].pitch, poses[r].yaw, poses[r].roll);
        RotationFromAngles(Rk, poses[k].pitch, poses[k].yaw, poses[k].roll);
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                out[3 * a + b] =
                    Rk[3 * a] * R0[3 * b] + Rk[3 * a + 1] * R0[3 * b + 1] + Rk[3 * a + 2] * R0[3 * b + 2];
    };
    double A[9], B[9];
    relative(got, ref, i, A);
    relative(truth, ref, i, B);
    double trace = 0;
    for (int k = 0; k < 9; ++k)
        trace += A[k] * B[k];
    return std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2))) * 180 / kPi;
}

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Processor seconds of one column-pivoted QR of an m x n matrix by MINPACK's
// qrfac, the factorisation lmdif runs on every Jacobian. Its loops are dense,
// so its cost depends on the size alone, not on the entries.
double TimeQrAlone(int m, int n) {
    const std::size_t count = static_cast<std::size_t>(m) * static_cast<std::size_t>(n);
    std::unique_ptr<double[]> a(new double[count]);
    unsigned seed = 3;
    for (std::size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        a[i] = static_cast<double>((seed >> 16) % 2001) / 1000.0 - 1.0;
    }
    std::vector<int> ipvt(static_cast<std::size_t>(n));
    std::vector<double> rdiag(static_cast<std::size_t>(n)), acnorm(rdiag), wa(rdiag);
    const double start = ThreadSeconds();
    qrfac(m, n, a.get(), m, 1, ipvt.data(), n, rdiag.data(), acnorm.data(), wa.data());
    return ThreadSeconds() - start;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: align_bench [--from-placement] [--poses] [--lens] [--qr-alone] 60|120|200\n"
                 "       align_bench --make-sweep STRIP FOLDER\n"
                 "       align_bench --make-sphere FOLDER\n");
    return 2;
}

// Value noise on the unit sphere, 0 .. 1: eight octaves from 6 to 768 cycles
// a turn, the finer ones weighed less, smooth between lattice points.
double SphereNoise(const double ray[3]) {
    auto lattice = [](std::int64_t x, std::int64_t y, std::int64_t z, unsigned octave) {
        std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^
                          static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                          static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ull ^
                          (octave * 0x27D4EB2F165667C5ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<double>(h & 0xFFFFFF) / double(0xFFFFFF);
    };
    double sum = 0, weights = 0, frequency = 6.0 / (2 * kPi), weight = 1;
    for (unsigned octave = 0; octave < 8; ++octave, frequency *= 2, weight *= 0.7) {
        double p[3], t[3];
        std::int64_t c[3];
        for (int k = 0; k < 3; ++k) {
            p[k] = ray[k] * frequency * 2 * kPi;
            const double f = std::floor(p[k]);
            c[k] = static_cast<std::int64_t>(f);
            const double r = p[k] - f;
            t[k] = r * r * (3 - 2 * r);
        }
        double value = 0;
        for (int corner = 0; corner < 8; ++corner) {
            const int dx = corner & 1, dy = (corner >> 1) & 1, dz = corner >> 2;
            value += (dx ? t[0] : 1 - t[0]) * (dy ? t[1] : 1 - t[1]) * (dz ? t[2] : 1 - t[2]) *
                     lattice(c[0] + dx, c[1] + dy, c[2] + dz, octave);
        }
        sum += weight * value;
        weights += weight;
    }
    return sum / weights;
}

// Writes the photos of --make-sphere; the exit status.
int MakeSphere(const std::string& folder) {
    constexpr int kRows = 3, kPerRow = 20, kWidth = 2400, kHeight = 1600;
    constexpr double kFocal = 2000.0, kLowestPitch = -32.0, kRowSpacing = 32.0;
    unsigned seed = 5;
    auto jitter = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (static_cast<int>((seed >> 16) % 2001) - 1000) / 1000.0;
    };
    const double step = 360.0 / kPerRow;
    for (int row = 0; row < kRows; ++row)
        for (int i = 0; i < kPerRow; ++i) {
            const TiledImagePose pose = Synthetic::Pose(kFocal, kLowestPitch + kRowSpacing * row + jitter(),
                                                        step * i + step / 2 * row + jitter(), jitter());
            double R[9];
            RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
            CPanoElement view(0);
            view.CreateImage(true, kWidth, kHeight, true);
            // The buffer is bottom-up; every row writes only its own pixels.
            Platform::ParallelFor(0, kHeight, [&](std::size_t from, std::size_t to) {
                for (std::size_t y = from; y < to; ++y) {
                    std::uint8_t* bits =
                        view.GetBits() + static_cast<std::ptrdiff_t>(kHeight - 1 - y) * view.GetStride();
                    const double v = static_cast<double>(y) + 0.5 - kHeight / 2;
                    for (int x = 0; x < kWidth; ++x) {
                        const double u = x + 0.5 - kWidth / 2;
                        double ray[3];
                        for (int k = 0; k < 3; ++k)
                            ray[k] = R[k] * u + R[3 + k] * v + R[6 + k] * kFocal;
                        const double length = std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + ray[2] * ray[2]);
                        for (double& r : ray)
                            r /= length;
                        // Stretched contrast around the middle grey, with a
                        // tint that turns slowly around the sphere.
                        const double grey =
                            std::clamp(128 + 3.2 * 255 * (SphereNoise(ray) - 0.5), 0.0, 255.0);
                        const double tint = 0.15 * ray[0];
                        const double colour[3] = {grey * (1 - tint), grey, grey * (1 + tint)};
                        for (int k = 0; k < 3; ++k)
                            bits[3 * x + k] =
                                static_cast<std::uint8_t>(std::lround(std::clamp(colour[k], 0.0, 255.0)));
                    }
                }
            });
            char name[32];
            std::snprintf(name, sizeof name, "/sphere-%02d.jpg", row * kPerRow + i + 1);
            if (!view.Save(Platform::WideFromUtf8(folder + name))) {
                std::fprintf(stderr, "align_bench: cannot save %s%s\n", folder.c_str(), name);
                return 4;
            }
        }
    std::printf("%d photos of %d x %d in %s\n", kRows * kPerRow, kWidth, kHeight, folder.c_str());
    return 0;
}

// Writes the sweep photos of --make-sweep; the exit status.
int MakeSweep(const std::string& stripPath, const std::string& folder) {
    constexpr int kPhotos = 56, kWidth = 256, kHeight = 192, kSamples = 3;
    constexpr double kFocal = 320.0, kSpan = 330.0;
    CPanoElement strip(0);
    if (!strip.Load(Platform::WideFromUtf8(stripPath)) || strip.GetBpp() != 24) {
        std::fprintf(stderr, "align_bench: cannot load %s as a 24-bit picture\n", stripPath.c_str());
        return 3;
    }
    // The strip is a full turn: its columns and rows are angles at the same
    // scale, the horizon through its middle row. Its buffer is bottom-up.
    const double scale = strip.GetWidth() / (2 * kPi);
    const int height = strip.GetHeight();
    unsigned seed = 11;
    auto jitter = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (static_cast<int>((seed >> 16) % 2001) - 1000) / 1000.0;
    };
    for (int i = 0; i < kPhotos; ++i) {
        TiledImagePose pose;
        pose.focal = kFocal;
        pose.yaw = -kSpan / 2 + kSpan * i / (kPhotos - 1) + jitter();
        pose.pitch = 2.0 * jitter();
        pose.roll = 2.0 * jitter();
        CPanoElement view(0);
        view.CreateImage(true, kWidth, kHeight, true);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row =
                view.GetBits() + static_cast<std::ptrdiff_t>(kHeight - 1 - y) * view.GetStride();
            for (int x = 0; x < kWidth; ++x) {
                double sum[3] = {0, 0, 0};
                for (int sy = 0; sy < kSamples; ++sy)
                    for (int sx = 0; sx < kSamples; ++sx) {
                        double ray[3], colour[3] = {255, 255, 255};
                        Synthetic::PixelToRay(pose, x + (sx + 0.5) / kSamples - 0.5 - kWidth / 2,
                                              y + (sy + 0.5) / kSamples - 0.5 - kHeight / 2, ray);
                        const double lon = std::atan2(ray[0], ray[2]);
                        const double lat = std::atan2(ray[1], std::hypot(ray[0], ray[2]));
                        const double column = strip.GetWidth() / 2.0 + lon * scale;
                        const double fromTop = height / 2.0 + lat * scale;
                        Synthetic::Sample(strip, column, height - 1 - fromTop, colour);
                        for (int k = 0; k < 3; ++k)
                            sum[k] += colour[k];
                    }
                for (int k = 0; k < 3; ++k)
                    row[3 * x + k] = static_cast<std::uint8_t>(std::lround(sum[k] / (kSamples * kSamples)));
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "/sweep-%02d.jpg", i + 1);
        if (!view.Save(Platform::WideFromUtf8(folder + name))) {
            std::fprintf(stderr, "align_bench: cannot save %s%s\n", folder.c_str(), name);
            return 4;
        }
    }
    std::printf("%d photos of %d x %d in %s\n", kPhotos, kWidth, kHeight, folder.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool fromPlacement = false, printPoses = false, lens = false, qrAlone = false;
    const SphereLayout* layout = nullptr;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--from-placement")
            fromPlacement = true;
        else if (arg == "--poses")
            printPoses = true;
        else if (arg == "--lens")
            lens = true;
        else if (arg == "--qr-alone")
            qrAlone = true;
        else if (arg == "--make-sweep")
            return a + 2 < argc ? MakeSweep(argv[a + 1], argv[a + 2]) : Usage();
        else if (arg == "--make-sphere")
            return a + 1 < argc ? MakeSphere(argv[a + 1]) : Usage();
        else
            for (const SphereLayout& l : kLayouts)
                if (arg == std::to_string(l.photos))
                    layout = &l;
    }
    if (!layout)
        return Usage();

    const std::vector<TiledImagePose> truth = MakeTruth(*layout);
    const std::vector<OrvexBase::Size> sizes(truth.size(), OrvexBase::Size(640, 480));
    const auto matches = Synthetic::MakeCorrespondences(truth, sizes, 40, 12, 0.5);
    Tiled_Panorama::CPoseAlignment align;
    align.photoSizes = sizes;
    align.keypoints = matches.keypoints;
    for (const auto& e : matches.edges)
        align.edges.push_back(&e);
    const int reference = (layout->rows / 2) * (layout->photos / layout->rows);
    align.referenceImage = reference;
    align.lensMode = lens ? 1 : 0;
    align.refineStart = !fromPlacement;

    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    align.AlignImages();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;

    double worst = 0;
    for (std::int32_t i : align.placementOrder)
        worst = std::max(worst, RelativeError(align.poses, truth, reference, i));
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("photos: %d placed: %zu edges: %zu residuals: %d parameters: %zu\n", layout->photos,
                align.placementOrder.size(), matches.edges.size(), align.lastResiduals,
                4 * align.placementOrder.size() + (lens ? 3 : 0));
    // On a shared machine the wall time carries the other processes' load.
    std::printf("alignment_s: %.3f cpu_s: %.3f\n", seconds, cpuSeconds);
    // Each Jacobian is n evaluations, each trial step one, and the start one.
    const int n = align.ParameterCount(), m = align.lastResiduals;
    std::printf("lmdif: %d steps, %d jacobians, %d evaluations, info %d\n", align.lastSteps,
                n > 0 ? (align.lastEvaluations - 1 - align.lastSteps) / n : 0, align.lastEvaluations,
                align.lastInfo);
    // qrfac's loops visit, for every pivot column j, every later column
    // below row j twice (a dot product and an update): about m n^2 / 2
    // element pairs and 2 m n^2 floating-point operations.
    const double pairs = 0.5 * m * static_cast<double>(n) * n;
    std::printf("jacobian: %d x %d, %.0f MB; qr: %.3g element pairs, %.3g flops\n", m, n,
                8.0 * m * n / (1024.0 * 1024.0), pairs, 4 * pairs);
    std::printf("refinement: %d steps\n", align.lastRefineSteps);
    std::printf("rms_px: %.9f\nworst_deg: %.6f\n", align.lastRmsDistance, worst);
    std::printf("peak_rss_mb: %ld\n", usage.ru_maxrss / 1024);
    if (qrAlone && m > 0 && n > 0) {
        const double qrSeconds = TimeQrAlone(m, n);
        std::printf("qr_alone_cpu_s: %.3f (%.2f ns an element pair)\n", qrSeconds, 1e9 * qrSeconds / pairs);
    }
    if (printPoses)
        for (std::int32_t i : align.placementOrder)
            std::printf("pose %d: %.6f %.6f %.6f %.6f\n", i, align.poses[i].focal, align.poses[i].yaw,
                        align.poses[i].pitch, align.poses[i].roll);
    return 0;
}
