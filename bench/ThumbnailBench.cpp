// Thumbnails of a folder of 12-megapixel camera JPEGs, each with an embedded
// 160 x 120 preview: the quick pass (the preview, fitted, compressed for the
// cache) and the refining pass (the whole picture), per photo, on one thread.
// The folder holds OVH_BENCH_PHOTOS photos (default 20; 200 for the full
// folder), made at start in the per-user cache folder and removed at the end.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CPaletteItem.h"
#include "CameraPicture.h"
#include "ExifFixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> g_photos;

fs::path BenchFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const fs::path base =
        cache && cache[0] == '/' ? fs::path(cache) : fs::path(std::getenv("HOME")) / ".cache";
    return base / "ovhorizel-bench" / "thumbnails";
}

void MakePhotos() {
    const char* count = std::getenv("OVH_BENCH_PHOTOS");
    const int n = count ? std::max(1, std::atoi(count)) : 20;
    const fs::path folder = BenchFolder();
    fs::create_directories(folder);
    Fixture::CameraOptions options;
    options.makerNoteJpeg = false;  // the preview sits in the second directory
    const Fixture::Bytes exif = Fixture::ExifPayload(Fixture::CameraExifBlock(options));
    for (int i = 0; i < n; ++i) {
        const std::string path = (folder / ("IMG_" + std::to_string(1000 + i) + ".JPG")).string();
        if (!fs::exists(path))
            Fixture::WriteFile(path, Fixture::JpegWithApp1(exif, BenchPictures::CameraPicture(i)));
        // An old time stamp: a file changed in the last seconds counts as being written.
        struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        g_photos.push_back(path);
    }
}

void BM_QuickPass(benchmark::State& state) {
    size_t next = 0;
    for (auto _ : state) {
        CPaletteItemImg item;
        if (!item.Load(g_photos[next++ % g_photos.size()], false, nullptr) || item.m_final != 0)
            state.SkipWithError("no preview");
        benchmark::DoNotOptimize(item.Jpeg());
    }
    state.SetLabel("per photo");
}

void BM_RefinePass(benchmark::State& state) {
    size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CPaletteItemImg item;
        const std::string& path = g_photos[next++ % g_photos.size()];
        item.Load(path, false, nullptr);
        state.ResumeTiming();
        if (!item.Load(path, true, nullptr) || item.m_final != 1)
            state.SkipWithError("no decode");
        benchmark::DoNotOptimize(item.Jpeg());
    }
    state.SetLabel("per photo");
}

BENCHMARK(BM_QuickPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RefinePass)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    MakePhotos();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!std::getenv("OVH_BENCH_KEEP"))
        fs::remove_all(BenchFolder());
    return 0;
}
