// The photo browser on generated folders, timed as a user meets it:
//  1. listing a folder of 10,000 files (the read, sorted, handed to the builder);
//  2. a folder of 200 camera JPEGs of 12 MP with EXIF previews: the first
//     screen (the first 40 items in order) with thumbnails, from the open;
//  3. every thumbnail of that folder refined from the whole picture;
//  4. the peak memory (resident) while 2 and 3 run;
//  5. the 10,000-file folder shown while 300 files are copied in, 150
//     renamed and 150 removed: the longest pause of the user-interface
//     thread's event handling, and how long after the last change the
//     browser shows the final folder ("--sync" reads on that thread instead,
//     as the program did before listings went off it).
// Folders are made in the per-user cache folder and removed at the end
// (OVH_BENCH_KEEP keeps them). Prints one line per figure.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <algorithm>
#include <cstring>

#include "BrowserHost.h"
#include "CFolderMonitor.h"
#include "CThumbsBrowser.h"
#include "CameraPicture.h"
#include "CommandIds.h"
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

// The main window's part: the monitor's posted re-reads reach the browser on
// the event loop's thread.
class BenchHost : public IBrowserHost {
public:
    CThumbsBrowser* browser = nullptr;
    bool sync = false;
    void PostMainWindowCommand(int command) override {
        if (command != CmdId::BeginReadFolder && command != CmdId::ReadAgain)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this] {
                if (!browser)
                    return;
                if (sync)
                    browser->ReadFolder();
                else
                    browser->RequestReadFolder();
            },
            Qt::QueuedConnection);
    }
};

void ChangingFolderBench(const fs::path& root, bool sync) {
    const fs::path folder = root / "changing";
    fs::remove_all(folder);
    fs::create_directories(folder);
    auto name = [&](const char* prefix, int i) {
        return (folder / (prefix + std::to_string(10000 + i) + ".JPG")).string();
    };
    for (int i = 0; i < 10000; ++i)
        std::ofstream(name("IMG_", i), std::ios::binary) << std::string(64, 'x');
    CThumbsBuilderThreads idle;
    idle.Stop();
    BenchHost host;
    host.sync = sync;
    SetBrowserHost(&host);
    {
        CThumbsBrowser browser(idle);
        host.browser = &browser;
        browser.OpenFolder("0," + folder.string());
        browser.StartFolderMonitor();
        browser.FolderMonitor()->WatchFolder(folder.string(), &browser, 0);
        Clock::time_point lastTake;
        int takes = 0;
        browser.onItemsChanged = [&](bool) {
            lastTake = Clock::now();
            ++takes;
        };
        // The watch's first notice and its read settle.
        auto run = [](int ms) {
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < ms)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        };
        run(1500);
        takes = 0;
        // The event loop's longest gap, from a timer that fires every millisecond.
        QElapsedTimer tick;
        long long longest = 0;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            longest = std::max(longest, tick.restart());
        });
        Clock::time_point lastChange;
        std::thread changer([&] {
            for (int i = 0; i < 300; ++i)
                std::ofstream(name("NEW_", i), std::ios::binary) << std::string(64, 'x');
            for (int i = 0; i < 150; ++i)
                fs::rename(name("IMG_", i), name("REN_", i));
            for (int i = 150; i < 300; ++i)
                fs::remove(name("IMG_", i));
            lastChange = Clock::now();
        });
        const auto start = Clock::now();
        tick.start();
        timer.start();
        run(4000);
        timer.stop();
        changer.join();
        std::vector<std::string> expected;
        for (const auto& entry : fs::directory_iterator(folder))
            expected.push_back(entry.path().string());
        std::vector<std::string> shown = browser.Paths();
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        const double changes = std::chrono::duration<double>(lastChange - start).count();
        std::printf("changing folder (%s): 300 added, 150 renamed, 150 removed in %.3f s among 10,000 shown\n",
                    sync ? "read on the event loop's thread" : "listed off it", changes);
        std::printf("  longest pause of the event loop: %lld ms\n", longest);
        std::printf("  final folder shown %s, %.3f s after the last change; %d re-read(s)\n",
                    shown == expected ? "yes" : "NO",
                    std::chrono::duration<double>(lastTake - lastChange).count(), takes);
        browser.onItemsChanged = nullptr;
        host.browser = nullptr;
    }
    SetBrowserHost(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const fs::path root = BenchFolder();
    fs::create_directories(root);
    std::printf("cores: %u\n", std::thread::hardware_concurrency());
    const bool sync = argc > 1 && std::strcmp(argv[1], "--sync") == 0;
    const bool changingOnly = argc > 1 && (sync || std::strcmp(argv[1], "--changing") == 0);
    if (!changingOnly) {
        ListingBench(root);
        PhotoBench(root);
    }
    ChangingFolderBench(root, sync);
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) == 3)
        std::printf("load average: %.2f %.2f %.2f (a shared machine: figures vary with it)\n", load[0],
                    load[1], load[2]);
    if (!std::getenv("OVH_BENCH_KEEP"))
        fs::remove_all(root);
    return 0;
}
