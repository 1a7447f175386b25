// The browser's file operations on a large copy, as a user meets it:
//  1. 20 files of 10 MB copied between two folders through the waiting
//     entry the browser's paste uses, while a timer of the user-interface
//     thread measures the longest pause between its ticks (the window's
//     answer time) and the progress shown is counted;
//  2. the same copy cancelled half-way from the progress window: it must
//     stop after the file in hand, with every source intact and no partial
//     copy left in the target.
// The folders are made in the per-user cache folder and removed at the end.
// The sources are pushed out of the page cache before each copy, so it reads
// from the disk. Prints one line per figure; exits 1 when a check fails.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BrowserHost.h"
#include "FileOperations.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 20;
constexpr size_t kFileSize = size_t(10) << 20;

fs::path BenchFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const fs::path base =
        cache && cache[0] == '/' ? fs::path(cache) : fs::path(std::getenv("HOME")) / ".cache";
    return base / "ovhorizel-bench" / "fileops";
}

// Bytes that differ from file to file and from block to block.
std::string Content(int file) {
    std::string bytes(kFileSize, '\0');
    uint32_t x = 2463534242u + uint32_t(file) * 2654435761u;
    for (size_t i = 0; i < bytes.size(); i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.replace(i, 4, reinterpret_cast<const char*>(&x), 4);
    }
    return bytes;
}

// Out of the page cache, so the copy reads from the disk as a new card's
// photos are read.
void Evict(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Shows progress as a text bar in tenths, and presses Cancel once the
// given share of the bytes is copied.
class BenchHost : public IBrowserHost {
public:
    void BeginFileOperation(unsigned) override { ++begun; }
    bool FileOperationProgressed(const FileOperationProgress& p) override {
        ++updates;
        const int tenth = p.bytesTotal ? int(p.bytesDone * 10 / p.bytesTotal) : 0;
        if (p.filesTotal > 0 && tenth > shownTenth) {
            shownTenth = tenth;
            std::printf("  progress %3d%%  file %zu/%zu\n", tenth * 10, p.filesDone, p.filesTotal);
        }
        return cancelAt > 0 && p.bytesTotal > 0 && p.bytesDone >= uint64_t(cancelAt * double(p.bytesTotal));
    }
    void EndFileOperation() override { ++ended; }
    void ReportFileOperationError(const std::string& path, const std::string& reason) override {
        std::printf("  error: %s: %s\n", path.c_str(), reason.c_str());
        ++errors;
    }
    int begun = 0, ended = 0, updates = 0, errors = 0, shownTenth = -1;
    double cancelAt = 0;
};

struct Run {
    bool ok = false;
    double seconds = 0;
    double longestPauseMs = 0;
};

// The copy through the waiting entry, with a 10 ms probe timer running.
Run Copy(const std::vector<std::string>& files, const fs::path& target) {
    Run run;
    for (const std::string& file : files)
        Evict(file);
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        run.longestPauseMs = std::max(run.longestPauseMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    probe.start(10);
    sinceTick.start();
    const auto t0 = Clock::now();
    run.ok = ShellFileOperation(FO_COPY, files, target.string(), false, true);
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    run.longestPauseMs = std::max(run.longestPauseMs, sinceTick.nsecsElapsed() / 1e6);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const fs::path root = BenchFolder();
    fs::remove_all(root);
    fs::create_directories(root / "src");
    fs::create_directories(root / "dst");
    std::vector<std::string> files;
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(Content(i));
        files.push_back((root / "src" / ("IMG_" + std::to_string(1000 + i) + ".jpg")).string());
        std::ofstream(files.back(), std::ios::binary) << contents.back();
    }
    BenchHost host;
    SetBrowserHost(&host);
    // The progress shows from the first byte.
    SetFileOperationProgressDelay(0);
    bool good = true;
    auto check = [&](bool holds, const char* what) {
        if (!holds) {
            std::printf("FAILED: %s\n", what);
            good = false;
        }
    };

    std::printf("copy of %d files of %zu MB\n", kFiles, kFileSize >> 20);
    const Run whole = Copy(files, root / "dst");
    std::printf(
        "copy: %.2f s, %.0f MB/s, longest event pause %.1f ms, progress updates %d, window shown %d\n",
        whole.seconds, kFiles * double(kFileSize >> 20) / whole.seconds, whole.longestPauseMs, host.updates,
        host.begun);
    check(whole.ok, "the copy succeeds");
    check(host.begun == 1 && host.ended == 1, "the progress window shows once and ends");
    check(whole.longestPauseMs < 100, "the longest event pause is under 100 ms");
    for (int i = 0; i < kFiles; ++i)
        check(Read(root / "dst" / fs::path(files[i]).filename()) == contents[i], "every copy is whole");

    fs::remove_all(root / "dst");
    fs::create_directories(root / "dst");
    host = BenchHost();
    host.cancelAt = 0.5;
    std::printf("the same copy, cancelled at half the bytes\n");
    const Run cancelled = Copy(files, root / "dst");
    int copied = 0, partial = 0;
    for (const auto& entry : fs::directory_iterator(root / "dst")) {
        const std::string name = entry.path().filename().string();
        const auto source = std::find_if(
            files.begin(), files.end(), [&](const std::string& f) { return fs::path(f).filename() == name; });
        if (source != files.end() && Read(entry.path()) == contents[source - files.begin()])
            ++copied;
        else
            ++partial;
    }
    int intact = 0;
    for (int i = 0; i < kFiles; ++i)
        intact += Read(files[i]) == contents[i];
    std::printf(
        "cancel: after %.2f s, %d of %d files copied whole, %d partial or foreign entries, %d of %d "
        "sources intact, longest event pause %.1f ms, errors reported %d\n",
        cancelled.seconds, copied, kFiles, partial, intact, kFiles, cancelled.longestPauseMs, host.errors);
    check(!cancelled.ok, "a cancelled copy is no success");
    check(copied >= kFiles / 2 && copied < kFiles, "the copy stopped after the file in hand");
    check(partial == 0, "no partial copy is left");
    check(intact == kFiles, "every source is intact");
    check(host.errors == 0, "a cancel reports no error");

    SetBrowserHost(nullptr);
    fs::remove_all(root);
    return good ? 0 : 1;
}
