// Runs the planar engine headless on a set of photos and prints one fact a
// line: status, unmatched photos, stage times, peak memory and the size of
// the full-size result. Every stage time and the total carry the CPU seconds
// (user and system, all threads) spent meanwhile beside them, and the last
// line is the whole run's: "cpu_s: <total> user <u> sys <s>", photo loading
// included, the figure to hold against another program's /usr/bin/time.
// With --tiled, the tiled engine on a cylinder or a sphere instead
// (full-size render at elevation, azimuth and tilt 0), and then also the
// fitted poses: "focal: <pixels>" (mean over the placed photos) and
// "pose <i>: yaw pitch roll" in degrees for every photo, each photo's focal,
// and the final solve's evaluations, steps, the steps of the refinement
// before it and the root mean square match distance.
// With --residuals (tiled only), the reprojection error of every match the
// alignment weighs, in full-size photo pixels: each matched point is carried
// through its photo's lens, pose and focal into the other photo (and back
// the other way) and compared with its partner. One "edge a-b:" line per
// edge between placed photos gives the matches of positive weight, the
// largest and the root mean square error, the weighted root mean square
// (the solver's own measure), the matches past 1 px, and the largest and
// root mean square error left by the edge's own homography (the two photos
// fitted alone, lens applied): an edge the poses leave far beyond its own
// fit pulls against the others. A "match a-b:" line follows for each match
// past 1 px (both points, rows counted from the photo's bottom as the
// engine's buffers run, the error and the weight), and a "residuals:" line
// sums up every edge.
// With --stage-memory, a "memory <stage>:" line follows every stage time:
// the stage's own peak resident size, the resident size at its end, and the
// heap in use and held free by the allocator then (megabytes).
// Problems go to stderr and the exit status says whether a panorama was made
// (the usage text lists both the build status and the exit codes), so a
// script can tell a benchmark figure from a failed run.

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DibManager.h"
#include "FreeThreading.h"
#include "ImageFile.h"
#include "LensModel.h"
#include "Panorama.h"
#include "PlaneMemory.h"
#include "TextCodec.h"
#include "ThreadPool.h"
#include "TiledPanorama.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// CPU time of the whole process so far (user and system, every thread).
struct CpuTime {
    double user = 0, system = 0;
    double Total() const { return user + system; }
};

CpuTime CpuNow() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

double CpuSince(const CpuTime& from) {
    return CpuNow().Total() - from.Total();
}

// A "Vm...:" figure of /proc/self/status in kilobytes, or -1.
long StatusKb(const char* key) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    const std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            kb = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    std::fclose(f);
    return kb;
}

// Per-stage peaks: the kernel's high-water mark is read at a stage's end and
// then reset, so each stage reports its own; the largest is kept for the
// final peak_rss_mb line, which the reset would otherwise lower.
class StageMemory {
public:
    bool enabled = false;

    void StageStarts() {
        if (!enabled)
            return;
        Fold();
        if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
    }
    void StageEnds(const char* stage) {
        if (!enabled)
            return;
        const long hwm = StatusKb("VmHWM");
        Fold();
        const struct mallinfo2 heap = mallinfo2();
        std::printf("memory %s: peak_rss_mb %ld rss_mb %ld heap_mb %zu heap_free_mb %zu\n", stage, hwm / 1024,
                    StatusKb("VmRSS") / 1024, (heap.uordblks + heap.hblkhd) >> 20, heap.fordblks >> 20);
    }
    long PeakKb() {
        if (enabled)
            Fold();
        return peakKb_;
    }

private:
    void Fold() { peakKb_ = std::max(peakKb_, StatusKb("VmHWM")); }
    long peakKb_ = 0;
};

StageMemory g_stageMemory;

// Records when each stage starts, from the engine's own progress reports.
class StageClock : public PanoramaLib::IProgressIndicator {
public:
    void Begin() override {}
    void BeginEx() override {}
    void End() override { Close(); }
    void SetStage(int stageId, const std::wstring&) override { SetStage(stageId); }
    void SetStage(int stageId) override {
        const char* name = stageId == PanoramaLib::StageMatching    ? "matching"
                           : stageId == PanoramaLib::StageStitching ? (tiled ? "alignment" : "arrangement")
                           : stageId == PanoramaLib::StageRendering ? "render"
                                                                    : "analysis";
        if (current && std::strcmp(current, name) == 0)
            return;
        Close();
        current = name;
        g_stageMemory.StageStarts();
        started = Clock::now();
        startedCpu = CpuNow();
    }
    bool SetProgress(int, int position) override {
        // The arrangement ends where compositing starts: the first progress
        // step past the stitching stage.
        const char* arranging = tiled ? "alignment" : "arrangement";
        if (current && std::strcmp(current, arranging) == 0 && position > arrangementStart + 1) {
            Close();
            current = "compositing";
            g_stageMemory.StageStarts();
            started = Clock::now();
            startedCpu = CpuNow();
        }
        if (current && std::strcmp(current, arranging) == 0 && arrangementStart < 0)
            arrangementStart = position;
        return false;
    }
    void Show(bool) override {}

    bool tiled = false;

    void Close() {
        if (current) {
            std::printf("stage %s: %.3f cpu %.3f\n", current, Seconds(started), CpuSince(startedCpu));
            g_stageMemory.StageEnds(current);
        }
        current = nullptr;
    }

private:
    const char* current = nullptr;
    Clock::time_point started;
    CpuTime startedCpu;
    int arrangementStart = -1;
};

bool IsImage(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".jpg" || ext == ".jpeg" || ext == ".png" || ext == ".tif" || ext == ".tiff" ||
           ext == ".bmp";
}

// Exit codes, one per way a run can end.
enum ExitCode {
    kExitPanorama = 0,    // a panorama was made, and saved when --out was given
    kExitNoPanorama = 1,  // the build or the render gave no panorama
    kExitUsage = 2,       // a malformed command line
    kExitNoInput = 3,     // a missing input, no photos found, or none that loads
    kExitSaveFailed = 4,  // the panorama was made but could not be saved
    kExitRingOpen = 5,    // a panorama was made, but the 360-degree ring did not close or was not cut
};

const char kUsage[] =
    "usage: stitch_bench [--model 0|1|2] [--lens on|off] [--preset N] [--analysis 400|660] [--ring]\n"
    "                    [--tiled cylinder|sphere] [--residuals] [--threads N] [--out FILE]\n"
    "                    <folder | photo...>\n"
    "\n"
    "Stitches the photos (a folder stands for its .jpg, .jpeg, .png, .tif, .tiff and .bmp\n"
    "files, in name order) and prints the build status, the unmatched photos (indices\n"
    "among the photos that loaded), stage times, peak memory and the result's size.\n"
    "Each stage time and the total are followed by the CPU seconds (user and system,\n"
    "all threads) spent meanwhile; the last line, \"cpu_s:\", is the whole run's.\n"
    "Photos that cannot be loaded are reported and left out. --out saves the result\n"
    "(.jpg, .jpeg, .png, .tif, .tiff or .bmp). --preset N is a lens preset from 0 to 9.\n"
    "--threads N uses N worker threads (1 to 1024). --stage-memory adds a line after\n"
    "every stage time: the stage's peak and final resident size, and the heap in use\n"
    "and held free at its end (MB). --residuals (with --tiled) prints every match-graph\n"
    "edge's reprojection errors at the fitted poses, in full-size pixels.\n"
    "\n"
    "Build status (\"status:\" line):\n"
    "  1  built\n"
    "  2  failed or cancelled\n"
    "  3  no panorama could be made (no two photos match)\n"
    "  4  the 360-degree ring did not close (a panorama is still made)\n"
    "  5  the ring closed but was not cut (a panorama is still made)\n"
    "\n"
    "Exit status:\n"
    "  0  a panorama was made (and saved, with --out)\n"
    "  1  no panorama: build status 2 or 3, or the render gave no result\n"
    "  2  malformed command line\n"
    "  3  nothing to stitch: a missing file or folder, no photos found, or none loads\n"
    "  4  the panorama could not be saved\n"
    "  5  a panorama was made, but with build status 4 or 5\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

int Refuse(const std::string& option, const char* value, const char* expected) {
    if (value)
        std::fprintf(stderr, "stitch_bench: invalid value for %s: '%s' (expected %s)\n", option.c_str(),
                     value, expected);
    else
        std::fprintf(stderr, "stitch_bench: %s needs a value (%s)\n", option.c_str(), expected);
    return kExitUsage;
}

// A whole decimal number in [low, high], all of the text.
bool ParseInt(const char* text, long low, long high, int& out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

std::string Narrow(const std::wstring& text) {
    return Platform::Utf8FromWide(text);
}

// The photos that load, in order; each one that does not is reported with the
// image buffer's reason and left out. Decoding is the longest serial step of
// a run, so the photos are decoded side by side.
std::vector<PanoramaLib::IPanoElement*> LoadPhotos(const std::vector<std::string>& files) {
    std::vector<PanoramaLib::IPanoElement*> loaded(files.size(), nullptr);
    std::vector<std::string> why(files.size());
    Platform::ParallelFor(0, files.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            PanoramaLib::IPanoElement* e = CreatePanoElement(0);
            if (e->Load(Platform::WideFromUtf8(files[i]))) {
                loaded[i] = e;
                continue;
            }
            why[i] = Narrow(e->GetErrorText());
            e->Release();
        }
    });
    std::vector<PanoramaLib::IPanoElement*> photos;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (loaded[i]) {
            photos.push_back(loaded[i]);
            continue;
        }
        std::fprintf(stderr, "stitch_bench: cannot load %s: %s (left out)\n", files[i].c_str(),
                     why[i].empty() ? "unknown error" : why[i].c_str());
    }
    return photos;
}

// Saves the result when asked; the exit code of the run so far, or kExitSaveFailed.
int SaveResult(PanoramaLib::IPanoElement* result, const std::string& out, int code) {
    if (out.empty() || result->Save(Platform::WideFromUtf8(out)))
        return code;
    std::string why = Narrow(result->GetErrorText());
    std::fprintf(stderr, "stitch_bench: cannot save %s: %s\n", out.c_str(),
                 why.empty() ? "unknown error" : why.c_str());
    return kExitSaveFailed;
}

const char* StatusMeaning(int status) {
    switch (status) {
        case 0:
            return "no build";
        case 2:
            return "failed or cancelled";
        case 3:
            return "no panorama could be made";
        default:
            return "unknown status";
    }
}

void PrintPeakMemory() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb: %ld\n", std::max(usage.ru_maxrss, g_stageMemory.PeakKb()) / 1024);
}

// Where full-size pixel (x, y) of photo `from` lands in photo `to` under the
// fitted poses and shared lens; false behind the camera or where the lens
// cannot be inverted.
bool Reproject(const Tiled_Panorama::CPoseAlignment& align, std::int32_t from, std::int32_t to, double x,
               double y, double& u, double& v) {
    const OrvexBase::Size sf = align.photoSizes[from], st = align.photoSizes[to];
    const TiledImagePose &pf = align.poses[from], &pt = align.poses[to];
    const bool lens = align.lensMode == 1;
    double x0 = x - sf.cx * 0.5, y0 = y - sf.cy * 0.5;
    if (lens) {
        const double f = LensFactor(align.lensModel, align.sharedLens, x0 * x0 + y0 * y0);
        x0 *= f;
        y0 *= f;
    }
    double Rf[9], Rt[9];
    RotationFromAngles(Rf, pf.pitch, pf.yaw, pf.roll);
    RotationFromAngles(Rt, pt.pitch, pt.yaw, pt.roll);
    const double c[3] = {x0, y0, pf.focal};
    double d[3], e[3];
    for (int i = 0; i < 3; ++i)
        d[i] = Rf[i] * c[0] + Rf[3 + i] * c[1] + Rf[6 + i] * c[2];
    for (int i = 0; i < 3; ++i)
        e[i] = Rt[3 * i] * d[0] + Rt[3 * i + 1] * d[1] + Rt[3 * i + 2] * d[2];
    if (!(e[2] > 0))
        return false;
    double u0 = pt.focal * e[0] / e[2], v0 = pt.focal * e[1] / e[2];
    if (lens) {
        double pu = 0, pv = 0;
        const bool ok = align.lensModel == 1 ? InvertLensModelQuartic(&pu, &pv, &align.sharedLens, u0, v0)
                                             : InvertLensModelCubic(&pu, &pv, &align.sharedLens, u0, v0);
        if (!ok)
            return false;
        u0 = pu;
        v0 = pv;
    }
    u = u0 + st.cx * 0.5;
    v = v0 + st.cy * 0.5;
    return true;
}

// A full-size keypoint as the alignment sees it: centred and through the lens.
Tiled_Panorama::AlignmentPoint Corrected(const Tiled_Panorama::CPoseAlignment& align, std::int32_t photo,
                                         const Tiled_Panorama::AlignmentPoint& p) {
    const OrvexBase::Size size = align.photoSizes[photo];
    double x0 = p.x - size.cx * 0.5, y0 = p.y - size.cy * 0.5;
    if (align.lensMode == 1) {
        const double f = LensFactor(align.lensModel, align.sharedLens, x0 * x0 + y0 * y0);
        x0 *= f;
        y0 *= f;
    }
    return {x0, y0};
}

// The largest and root mean square distance (both ways) of the matches from
// the edge's own best homography: what the matches leave when the two photos
// are fitted alone, against what the whole panorama's poses leave.
void OwnFit(const std::vector<Tiled_Panorama::AlignmentPoint>& from,
            const std::vector<Tiled_Panorama::AlignmentPoint>& to, const std::vector<double>& weights,
            double& worst, double& rms) {
    worst = rms = -1;
    double H[9], Hi[9];
    if (!Tiled_Panorama::FitHomography(from, to, weights, H))
        return;
    InvertMatrix3x3(Hi, H);
    auto map = [](const double* M, const Tiled_Panorama::AlignmentPoint& p, double& u, double& v) {
        const double w = M[6] * p.x + M[7] * p.y + M[8];
        u = (M[0] * p.x + M[1] * p.y + M[2]) / w;
        v = (M[3] * p.x + M[4] * p.y + M[5]) / w;
    };
    double sum2 = 0;
    worst = 0;
    for (std::size_t k = 0; k < from.size(); ++k) {
        double u, v, s, t;
        map(H, from[k], u, v);
        map(Hi, to[k], s, t);
        const double eb = std::hypot(u - to[k].x, v - to[k].y), ea = std::hypot(s - from[k].x, t - from[k].y);
        worst = std::max({worst, ea, eb});
        sum2 += 0.5 * (ea * ea + eb * eb);
    }
    rms = from.empty() ? 0.0 : std::sqrt(sum2 / static_cast<double>(from.size()));
}

// The --residuals lines: the reprojection errors of the matches of every edge
// between placed photos, in both directions.
void PrintResiduals(const Tiled_Panorama::CPoseAlignment& align) {
    const auto& order = align.placementOrder;
    auto placed = [&](std::int32_t i) { return std::find(order.begin(), order.end(), i) != order.end(); };
    const double ratio2 = align.distanceRatio * align.distanceRatio;
    std::printf("lens: model %d a %.6g b %.6g c %.6g\n", align.lensModel, align.sharedLens.a,
                align.sharedLens.b, align.sharedLens.c);
    double worstAll = 0, sum2All = 0, wsum2All = 0, wsumAll = 0;
    std::size_t countAll = 0;
    int edgeCount = 0, edgesPast1 = 0;
    for (const Tiled_Panorama::AlignmentEdge* e : align.edges) {
        if (!e || !placed(e->firstImage) || !placed(e->secondImage))
            continue;
        const std::int32_t a = e->firstImage, b = e->secondImage;
        const std::size_t n = std::min(
            {static_cast<std::size_t>(std::max(0, e->inlierCount)), e->inliers1.size(), e->inliers2.size()});
        struct Row {
            double ax, ay, bx, by, error, weight;
        };
        std::vector<Row> rows;
        std::vector<Tiled_Panorama::AlignmentPoint> from, to;
        std::vector<double> weights;
        double worst = 0, sum2 = 0, wsum2 = 0, wsum = 0;
        int past1 = 0, unprojected = 0;
        std::size_t evaluated = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const double score = k < e->inlierScores.size() ? e->inlierScores[k] : 0.0;
            const double weight = std::max(0.0, 1.0 - (score / 1000.0) / ratio2);
            if (!(weight > 0))
                continue;
            const auto& pa = align.keypoints[a][e->inliers1[k]];
            const auto& pb = align.keypoints[b][e->inliers2[k]];
            double ub, vb, ua, va;
            if (!Reproject(align, a, b, pa.x, pa.y, ub, vb) || !Reproject(align, b, a, pb.x, pb.y, ua, va)) {
                ++unprojected;
                continue;
            }
            const double eb = std::hypot(ub - pb.x, vb - pb.y), ea = std::hypot(ua - pa.x, va - pa.y);
            ++evaluated;
            from.push_back(Corrected(align, a, pa));
            to.push_back(Corrected(align, b, pb));
            weights.push_back(weight);
            const double error = std::max(ea, eb);
            worst = std::max(worst, error);
            sum2 += 0.5 * (ea * ea + eb * eb);
            wsum2 += weight * 0.5 * (ea * ea + eb * eb);
            wsum += weight;
            if (error > 1.0) {
                ++past1;
                rows.push_back({pa.x, pa.y, pb.x, pb.y, error, weight});
            }
        }
        double ownWorst, ownRms;
        OwnFit(from, to, weights, ownWorst, ownRms);
        std::printf(
            "edge %d-%d: matches %zu of %zu max %.3f rms %.3f wrms %.3f past1 %d own max %.3f rms %.3f%s\n",
            a, b, evaluated, n, worst, evaluated ? std::sqrt(sum2 / evaluated) : 0.0,
            wsum > 0 ? std::sqrt(wsum2 / wsum) : 0.0, past1, ownWorst, ownRms,
            unprojected ? " (some behind a camera)" : "");
        for (const Row& r : rows)
            std::printf("match %d-%d: %.2f %.2f -> %.2f %.2f error %.3f weight %.3f\n", a, b, r.ax, r.ay,
                        r.bx, r.by, r.error, r.weight);
        worstAll = std::max(worstAll, worst);
        sum2All += sum2;
        wsum2All += wsum2;
        wsumAll += wsum;
        countAll += evaluated;
        ++edgeCount;
        edgesPast1 += worst > 1.0 ? 1 : 0;
    }
    std::printf("residuals: edges %d past1 %d matches %zu max %.3f rms %.3f wrms %.3f\n", edgeCount,
                edgesPast1, countAll, worstAll, countAll ? std::sqrt(sum2All / countAll) : 0.0,
                wsumAll > 0 ? std::sqrt(wsum2All / wsumAll) : 0.0);
}

// The tiled engine: build, then the full-size render at the zero view angles.
int RunTiled(std::vector<PanoramaLib::IPanoElement*>& photos, SurfaceKind kind, bool lens,
             const std::string& out, bool residuals) {
    const auto start = Clock::now();
    const CpuTime startCpu = CpuNow();
    CDibManager manager;
    CFreeThreading threads;
    PanoramaLib::ITiledPanorama* engine = CreateTiledPanorama(&manager);
    engine->Init(&threads, nullptr, nullptr);
    HVPanoramaOptions options;
    engine->GetOptions(&options);
    options.lensCompensation = lens ? 1 : 0;
    options.surfaceKind = kind;
    options.autoCrop = 0;
    engine->SetOptions(&options);
    StageClock clock;
    clock.tiled = true;
    engine->SetProgressIndicator(&clock);

    engine->Build(photos, nullptr, 0, 0, 0);
    const BuildReport* report = engine->GetBuildReport();
    std::printf("status: %d\n", report->status);
    auto* tiledEngine = dynamic_cast<Tiled_Panorama::CPanorama*>(engine);
    const auto& order = tiledEngine->PlacementOrder();
    std::printf("unmatched:");
    for (std::size_t i = 0; i < photos.size(); ++i)
        if (std::find(order.begin(), order.end(), static_cast<std::int32_t>(i)) == order.end())
            std::printf(" %zu", i);
    std::printf("\n");
    int code = kExitNoPanorama;
    if (report->status != 1) {
        std::fprintf(stderr, "stitch_bench: no panorama: build status %d (%s)\n", report->status,
                     StatusMeaning(report->status));
    } else if (!engine->RenderForPrint(0, 0, 0)) {
        std::fprintf(stderr, "stitch_bench: no panorama: the render failed\n");
    } else {
        PanoramaLib::IPanoElement* result = engine->GetResult(true);
        if (result && result->IsValid()) {
            std::printf("size: %dx%d\n", result->GetWidth(), result->GetHeight());
            code = SaveResult(result, out, kExitPanorama);
        } else {
            std::fprintf(stderr, "stitch_bench: no panorama: the render gave no result\n");
        }
    }
    if (report->status == 1) {
        const auto& poses = tiledEngine->Poses();
        double focal = 0;
        for (std::int32_t i : order)
            focal += poses[i].focal / static_cast<double>(order.size());
        std::printf("focal: %.2f\n", focal);
        for (std::size_t i = 0; i < poses.size(); ++i)
            std::printf("pose %zu: %.3f %.3f %.3f\n", i, poses[i].yaw, poses[i].pitch, poses[i].roll);
        for (std::size_t i = 0; i < poses.size(); ++i)
            std::printf("photo focal %zu: %.3f\n", i, poses[i].focal);
        const Tiled_Panorama::CPoseAlignment& align = tiledEngine->Alignment();
        std::printf("solve: %d evaluations, %d steps, %d refinement steps, rms %.6f px\n",
                    align.lastEvaluations, align.lastSteps, align.lastRefineSteps, align.lastRmsDistance);
        if (residuals)
            PrintResiduals(align);
    }
    std::printf("total: %.3f cpu %.3f\n", Seconds(start), CpuSince(startCpu));
    PrintPeakMemory();
    engine->Release();
    return code;
}

struct PlanarSettings {
    int model = 2;
    bool lens = true;
    int preset = 7;
    int analysis = 660;
    bool ring = false;
};

// The planar engine: build, then the full-size render.
int RunPlanar(std::vector<PanoramaLib::IPanoElement*>& photos, const PlanarSettings& settings,
              const std::string& out) {
    const auto start = Clock::now();
    const CpuTime startCpu = CpuNow();
    CDibManager manager;
    PanoramaLib::IHVPanorama* engine = CreateHVPanorama(&manager);
    HVPanoramaOptions options;
    engine->GetOptions(&options);
    options.motionModel = settings.model;
    options.lensCompensation = settings.lens ? 1 : 0;
    options.lensPresetId = settings.preset;
    options.analysisSize = settings.analysis == 400 ? 0 : 1;
    options.is360 = settings.ring ? 1 : 0;
    options.autoCrop = 0;
    engine->SetOptions(&options);
    StageClock clock;
    engine->SetProgressIndicator(&clock);

    engine->Build(photos, nullptr, 0, 0, 0);
    const BuildReport* report = engine->GetBuildReport();
    std::printf("status: %d\n", report->status);
    std::printf("unmatched:");
    for (int i : report->unmatched)
        std::printf(" %d", i);
    std::printf("\n");
    int code = kExitNoPanorama;
    if (report->status == 1 || report->status == 4 || report->status == 5) {
        engine->Render();
        PanoramaLib::IPanoElement* result = engine->GetResult(true);
        if (result && result->IsValid()) {
            std::printf("size: %dx%d\n", result->GetWidth(), result->GetHeight());
            if (report->status != 1)
                std::fprintf(stderr, "stitch_bench: build status %d: %s\n", report->status,
                             report->status == 4 ? "the 360-degree ring did not close"
                                                 : "the ring closed but was not cut");
            code = SaveResult(result, out, report->status == 1 ? kExitPanorama : kExitRingOpen);
        } else {
            std::fprintf(stderr, "stitch_bench: no panorama: the render gave no result\n");
        }
    } else {
        std::fprintf(stderr, "stitch_bench: no panorama: build status %d (%s)\n", report->status,
                     StatusMeaning(report->status));
    }
    std::printf("total: %.3f cpu %.3f\n", Seconds(start), CpuSince(startCpu));
    PrintPeakMemory();
    engine->Release();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    PlaneMemory::TuneHeap();
    std::vector<std::string> inputs;
    std::string out;
    int threads = 0;
    PlanarSettings planar;
    int tiled = -1;  // the surface kind, or -1 for the planar engine
    bool residuals = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitPanorama;
        } else if (a == "--model") {
            const char* v = value();
            if (!ParseInt(v, 0, 2, planar.model))
                return Refuse(a, v, "0, 1 or 2");
        } else if (a == "--lens") {
            const char* v = value();
            if (!v || (std::strcmp(v, "on") != 0 && std::strcmp(v, "off") != 0))
                return Refuse(a, v, "on or off");
            planar.lens = std::strcmp(v, "on") == 0;
        } else if (a == "--preset") {
            const char* v = value();
            if (!ParseInt(v, 0, 9, planar.preset))
                return Refuse(a, v, "a lens preset from 0 to 9");
        } else if (a == "--analysis") {
            const char* v = value();
            if (!ParseInt(v, 400, 660, planar.analysis) || (planar.analysis != 400 && planar.analysis != 660))
                return Refuse(a, v, "400 or 660");
        } else if (a == "--stage-memory") {
            g_stageMemory.enabled = true;
        } else if (a == "--residuals") {
            residuals = true;
        } else if (a == "--ring") {
            planar.ring = true;
        } else if (a == "--tiled") {
            const char* v = value();
            if (v && std::strcmp(v, "cylinder") == 0)
                tiled = SurfaceCylinder;
            else if (v && std::strcmp(v, "sphere") == 0)
                tiled = SurfaceSphere;
            else
                return Refuse(a, v, "cylinder or sphere");
        } else if (a == "--threads") {
            const char* v = value();
            if (!ParseInt(v, 1, 1024, threads))
                return Refuse(a, v, "a whole number from 1 to 1024");
        } else if (a == "--out") {
            const char* v = value();
            // Refused now rather than after a long build that could not be saved.
            if (!v || !*v || !Platform::FormatFromExtension(v))
                return Refuse(a, v, "a file name ending in .jpg, .jpeg, .png, .tif, .tiff or .bmp");
            out = v;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "stitch_bench: unknown option %s\n", a.c_str());
            return Usage();
        } else {
            inputs.push_back(a);
        }
    }
    if (inputs.empty())
        return Usage();

    std::vector<std::string> files;
    bool told = false;  // an empty folder was already reported
    for (const std::string& in : inputs) {
        std::error_code error;
        const auto status = std::filesystem::status(in, error);
        if (!std::filesystem::exists(status)) {
            std::fprintf(stderr, "stitch_bench: no such file or folder: %s\n", in.c_str());
            return kExitNoInput;
        }
        if (!std::filesystem::is_directory(status)) {
            files.push_back(in);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(in, error))
            if (entry.is_regular_file() && IsImage(entry.path()))
                found.push_back(entry.path().string());
        if (error) {
            std::fprintf(stderr, "stitch_bench: cannot read folder %s: %s\n", in.c_str(),
                         error.message().c_str());
            return kExitNoInput;
        }
        if (found.empty()) {
            std::fprintf(stderr, "stitch_bench: no photos found in %s\n", in.c_str());
            told = true;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    if (files.empty()) {
        if (!told)
            std::fprintf(stderr, "stitch_bench: no photos found\n");
        return kExitNoInput;
    }

    std::unique_ptr<Platform::ThreadPool> pool;
    std::unique_ptr<Platform::ThreadPool::ScopedShared> usePool;
    if (threads > 0) {
        pool = std::make_unique<Platform::ThreadPool>(static_cast<unsigned>(threads));
        usePool = std::make_unique<Platform::ThreadPool::ScopedShared>(*pool);
    }

    std::vector<PanoramaLib::IPanoElement*> photos = LoadPhotos(files);
    int code = kExitNoInput;
    if (photos.empty()) {
        std::fprintf(stderr, "stitch_bench: none of the %zu photos could be loaded\n", files.size());
    } else if (tiled >= 0) {
        code = RunTiled(photos, tiled, planar.lens, out, residuals);
    } else {
        code = RunPlanar(photos, planar, out);
    }
    ReleaseElementVector(photos);
    const CpuTime cpu = CpuNow();
    std::printf("cpu_s: %.3f user %.3f sys %.3f\n", cpu.Total(), cpu.user, cpu.system);
    return code;
}
