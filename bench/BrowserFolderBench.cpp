// The photo browser on generated folders, timed as a user meets it:
//  1. listing a folder of 10,000 files (the read, sorted, handed to the builder);
//  2. a folder of 200 camera JPEGs of 12 MP with EXIF previews: the first
//     screen (the first 40 items in order) with thumbnails, from the open;
//  3. every thumbnail of that folder refined from the whole picture;
//  4. the peak memory (resident) while 2 and 3 run.
// Folders are made in the per-user cache folder and removed at the end
// (OVH_BENCH_KEEP keeps them). Prints one line per figure.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CThumbsBrowser.h"
#include "CameraPicture.h"
#include "ExifFixture.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path BenchFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const fs::path base =
        cache && cache[0] == '/' ? fs::path(cache) : fs::path(std::getenv("HOME")) / ".cache";
    return base / "ovhorizel-bench" / "browser";
}

void MakeOld(const std::string& path) {
    // A file changed in the last seconds counts as being written.
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

bool HasThumbnail(const std::string& path, bool refined) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    ThumbItemPtr item;
    return g_ThumbCache.Lookup(path, item) && item && item->HasThumbnail() && (!refined || item->m_final);
}

void ListingBench(const fs::path& root) {
    const fs::path folder = root / "listing";
    fs::create_directories(folder);
    for (int i = 0; i < 10000; ++i) {
        const std::string path = (folder / ("IMG_" + std::to_string(10000 + i) + ".JPG")).string();
        if (!fs::exists(path))
            std::ofstream(path, std::ios::binary) << std::string(64, 'x');
    }
    // A stopped builder takes no work: only the read is timed.
    CThumbsBuilderThreads idle;
    idle.Stop();
    CThumbsBrowser browser(idle);
    const auto start = Clock::now();
    browser.OpenFolder("0," + folder.string());
    const double seconds = Seconds(start);
    std::printf("listing %d files: %.3f s (of which 0.100 s is the settle pause before every read)\n",
                browser.ItemCount(), seconds);
}

void PhotoBench(const fs::path& root) {
    const fs::path folder = root / "photos";
    fs::create_directories(folder);
    Fixture::CameraOptions options;
    options.makerNoteJpeg = false;  // the preview sits in the second directory
    const Fixture::Bytes photo =
        Fixture::JpegWithApp1(Fixture::ExifPayload(Fixture::CameraExifBlock(options)), BenchPictures::CameraPicture(7));
    for (int i = 0; i < 200; ++i) {
        const std::string path = (folder / ("IMG_" + std::to_string(1000 + i) + ".JPG")).string();
        if (!fs::exists(path))
            Fixture::WriteFile(path, photo);
        MakeOld(path);
    }
    {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.RemoveAll();
    }
    CThumbsBuilderThreads builder;
    CThumbsBrowser browser(builder);
    ResetPeak();
    const auto start = Clock::now();
    browser.OpenFolder("0," + folder.string());
    const std::vector<std::string> paths = browser.Paths();
    const size_t screen = std::min<size_t>(kManyFiles, paths.size());
    double firstScreen = -1;
    for (;;) {
        size_t shown = 0;
        while (shown < screen && HasThumbnail(paths[shown], false))
            ++shown;
        if (shown == screen) {
            firstScreen = Seconds(start);
            break;
        }
        if (Seconds(start) > 120)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    builder.WaitIdle(600000);
    size_t refined = 0;
    for (const auto& path : paths)
        refined += HasThumbnail(path, true);
    const double all = Seconds(start);
    std::printf("first screen (%zu of %zu camera JPEGs, 12 MP, EXIF previews): %.3f s from the open\n",
                screen, paths.size(), firstScreen);
    std::printf("all %zu thumbnails refined: %.3f s from the open\n", refined, all);
    std::printf("peak resident memory while building: %.1f MB\n", PeakKilobytes() / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const fs::path root = BenchFolder();
    fs::create_directories(root);
    std::printf("cores: %u\n", std::thread::hardware_concurrency());
    ListingBench(root);
    PhotoBench(root);
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) == 3)
        std::printf("load average: %.2f %.2f %.2f (a shared machine: figures vary with it)\n", load[0],
                    load[1], load[2]);
    if (!std::getenv("OVH_BENCH_KEEP"))
        fs::remove_all(root);
    return 0;
}
