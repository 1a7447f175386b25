// Runs the planar engine headless on a set of photos and prints one fact a
// line: status, unmatched photos, stage times, peak memory and the size of
// the full-size result. With --tiled, the tiled engine on a cylinder or a
// sphere instead (full-size render at elevation, azimuth and tilt 0), and
// then also the fitted poses: "focal: <pixels>" (mean over the placed
// photos) and "pose <i>: yaw pitch roll" in degrees for every photo.
//
//   stitch_bench [--model 0|1|2] [--lens on|off] [--preset N] [--analysis 400|660]
//                [--ring] [--tiled cylinder|sphere] [--threads N] [--out FILE] <folder | photo...>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DibManager.h"
#include "FreeThreading.h"
#include "Panorama.h"
#include "TextCodec.h"
#include "ThreadPool.h"
#include "TiledPanorama.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

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
        started = Clock::now();
    }
    bool SetProgress(int, int position) override {
        // The arrangement ends where compositing starts: the first progress
        // step past the stitching stage.
        const char* arranging = tiled ? "alignment" : "arrangement";
        if (current && std::strcmp(current, arranging) == 0 && position > arrangementStart + 1) {
            Close();
            current = "compositing";
            started = Clock::now();
        }
        if (current && std::strcmp(current, arranging) == 0 && arrangementStart < 0)
            arrangementStart = position;
        return false;
    }
    void Show(bool) override {}

    bool tiled = false;

    void Close() {
        if (current)
            std::printf("stage %s: %.3f\n", current, Seconds(started));
        current = nullptr;
    }

private:
    const char* current = nullptr;
    Clock::time_point started;
    int arrangementStart = -1;
};

bool IsImage(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".jpg" || ext == ".jpeg" || ext == ".png" || ext == ".tif" || ext == ".tiff" ||
           ext == ".bmp";
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: stitch_bench [--model 0|1|2] [--lens on|off] [--preset N] [--analysis 400|660] [--ring]\n"
        "                    [--tiled cylinder|sphere] [--threads N] [--out FILE] <folder | photo...>\n");
    return 2;
}

void PrintPeakMemory() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb: %ld\n", usage.ru_maxrss / 1024);
}

// The tiled engine: build, then the full-size render at the zero view angles.
int RunTiled(const std::vector<std::string>& files, SurfaceKind kind, bool lens, const std::string& out) {
    const auto start = Clock::now();
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

    std::vector<PanoramaLib::IPanoElement*> photos;
    for (const std::string& f : files) {
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        if (!e->Load(Platform::WideFromUtf8(f)))
            std::fprintf(stderr, "cannot load %s\n", f.c_str());
        photos.push_back(e);
    }
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
    if (report->status == 1 && engine->RenderForPrint(0, 0, 0)) {
        PanoramaLib::IPanoElement* result = engine->GetResult(true);
        if (result && result->IsValid()) {
            std::printf("size: %dx%d\n", result->GetWidth(), result->GetHeight());
            if (!out.empty() && !result->Save(Platform::WideFromUtf8(out)))
                std::fprintf(stderr, "cannot save %s\n", out.c_str());
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
    }
    std::printf("total: %.3f\n", Seconds(start));
    PrintPeakMemory();
    ReleaseElementVector(photos);
    engine->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    HVPanoramaOptions options;
    std::vector<std::string> inputs;
    std::string out;
    unsigned threads = 0;
    int model = 2, preset = 7, analysis = 660;
    bool lens = true, ring = false;
    int tiled = -1;  // the surface kind, or -1 for the planar engine
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--model") {
            const char* v = value();
            if (!v)
                return Usage();
            model = std::atoi(v);
        } else if (a == "--lens") {
            const char* v = value();
            if (!v)
                return Usage();
            lens = std::strcmp(v, "off") != 0;
        } else if (a == "--preset") {
            const char* v = value();
            if (!v)
                return Usage();
            preset = std::atoi(v);
        } else if (a == "--analysis") {
            const char* v = value();
            if (!v)
                return Usage();
            analysis = std::atoi(v);
        } else if (a == "--ring") {
            ring = true;
        } else if (a == "--tiled") {
            const char* v = value();
            if (!v)
                return Usage();
            if (std::strcmp(v, "cylinder") == 0)
                tiled = SurfaceCylinder;
            else if (std::strcmp(v, "sphere") == 0)
                tiled = SurfaceSphere;
            else
                return Usage();
        } else if (a == "--threads") {
            const char* v = value();
            if (!v)
                return Usage();
            threads = static_cast<unsigned>(std::atoi(v));
        } else if (a == "--out") {
            const char* v = value();
            if (!v)
                return Usage();
            out = v;
        } else if (!a.empty() && a[0] == '-') {
            return Usage();
        } else {
            inputs.push_back(a);
        }
    }
    std::vector<std::string> files;
    for (const std::string& in : inputs) {
        if (std::filesystem::is_directory(in)) {
            std::vector<std::string> found;
            for (const auto& entry : std::filesystem::directory_iterator(in))
                if (entry.is_regular_file() && IsImage(entry.path()))
                    found.push_back(entry.path().string());
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        } else {
            files.push_back(in);
        }
    }
    if (files.empty())
        return Usage();

    std::unique_ptr<Platform::ThreadPool> pool;
    std::unique_ptr<Platform::ThreadPool::ScopedShared> usePool;
    if (threads) {
        pool = std::make_unique<Platform::ThreadPool>(threads);
        usePool = std::make_unique<Platform::ThreadPool::ScopedShared>(*pool);
    }

    if (tiled >= 0)
        return RunTiled(files, tiled, lens, out);

    const auto start = Clock::now();
    CDibManager manager;
    PanoramaLib::IHVPanorama* engine = CreateHVPanorama(&manager);
    engine->GetOptions(&options);
    options.motionModel = model;
    options.lensCompensation = lens ? 1 : 0;
    options.lensPresetId = preset;
    options.analysisSize = analysis == 400 ? 0 : 1;
    options.is360 = ring ? 1 : 0;
    options.autoCrop = 0;
    engine->SetOptions(&options);
    StageClock clock;
    engine->SetProgressIndicator(&clock);

    std::vector<PanoramaLib::IPanoElement*> photos;
    for (const std::string& f : files) {
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        if (!e->Load(Platform::WideFromUtf8(f)))
            std::fprintf(stderr, "cannot load %s\n", f.c_str());
        photos.push_back(e);
    }
    engine->Build(photos, nullptr, 0, 0, 0);
    const BuildReport* report = engine->GetBuildReport();
    std::printf("status: %d\n", report->status);
    std::printf("unmatched:");
    for (int i : report->unmatched)
        std::printf(" %d", i);
    std::printf("\n");
    if (report->status == 1 || report->status == 4 || report->status == 5) {
        engine->Render();
        PanoramaLib::IPanoElement* result = engine->GetResult(true);
        if (result && result->IsValid()) {
            std::printf("size: %dx%d\n", result->GetWidth(), result->GetHeight());
            if (!out.empty() && !result->Save(Platform::WideFromUtf8(out)))
                std::fprintf(stderr, "cannot save %s\n", out.c_str());
        }
    }
    std::printf("total: %.3f\n", Seconds(start));
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb: %ld\n", usage.ru_maxrss / 1024);
    ReleaseElementVector(photos);
    engine->Release();
    return 0;
}
