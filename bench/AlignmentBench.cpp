// The tiled model's global alignment on generated multi-row spheres of 60,
// 120 or 200 photos (exact matches on a 40-pixel keypoint grid, half a pixel
// of noise), one sphere a run so that the peak memory is that sphere's.
// Prints the seconds (wall and processor) the alignment took, the steps and evaluations of the
// final lmdif solve, the steps of the refinement before it, the root mean
// square match distance, the worst angle against the truth and the peak
// resident size; with --poses also every placed photo's pose. With
// --from-placement lmdif starts from the placement poses (no refinement).
//
// usage: align_bench [--from-placement] [--poses] [--lens] 60|120|200

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "SyntheticViews.h"
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

int Usage() {
    std::fprintf(stderr, "usage: align_bench [--from-placement] [--poses] [--lens] 60|120|200\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool fromPlacement = false, printPoses = false, lens = false;
    const SphereLayout* layout = nullptr;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--from-placement")
            fromPlacement = true;
        else if (arg == "--poses")
            printPoses = true;
        else if (arg == "--lens")
            lens = true;
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
    std::printf("lmdif: %d steps, %d evaluations, info %d\n", align.lastSteps, align.lastEvaluations,
                align.lastInfo);
    std::printf("refinement: %d steps\n", align.lastRefineSteps);
    std::printf("rms_px: %.9f\nworst_deg: %.6f\n", align.lastRmsDistance, worst);
    std::printf("peak_rss_mb: %ld\n", usage.ru_maxrss / 1024);
    if (printPoses)
        for (std::int32_t i : align.placementOrder)
            std::printf("pose %d: %.6f %.6f %.6f %.6f\n", i, align.poses[i].focal, align.poses[i].yaw,
                        align.poses[i].pitch, align.poses[i].roll);
    return 0;
}
