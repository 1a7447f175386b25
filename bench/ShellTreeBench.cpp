// The folder tree on a folder of 2,000 subfolders (each holding a folder
// and a few files, as a photo archive does), timed as a user meets it:
//  1. opening the folder's node: the listing, each child's expander, the
//     nodes built and the tree laid out and painted once;
//  2. a refresh of the tree with that node open;
//  3. walking to a folder deep below it (the browser following a path).
// The folder is made in the per-user cache folder and removed at the end.
// Prints one line per figure, best of three.

#include <QApplication>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "CShellTree.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

fs::path BenchFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const fs::path base =
        cache && cache[0] == '/' ? fs::path(cache) : fs::path(std::getenv("HOME")) / ".cache";
    return base / "ovhorizel-bench" / "tree";
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const fs::path root = BenchFolder();
    fs::remove_all(root);
    const fs::path big = root / "archive";
    for (int i = 0; i < 2000; ++i) {
        const fs::path folder = big / ("2019-" + std::to_string(1000 + i));
        fs::create_directories(folder / "raw");
        for (int f = 0; f < 3; ++f)
            std::ofstream(folder / ("IMG_" + std::to_string(f) + ".jpg")) << "x";
    }
    const std::string bigPath = fs::canonical(big).string();
    const std::string deep = bigPath + "/2019-2999/raw";

    double open = 1e9, refresh = 1e9, walk = 1e9;
    for (int run = 0; run < 3; ++run) {
        CShellTree tree;
        tree.resize(300, 800);
        tree.show();
        tree.FillRoot();
        // The path down to the archive is walked first, so only its node's
        // opening is timed.
        tree.SelectPath(bigPath, &tree);
        QTreeWidgetItem* node = tree.currentItem();
        if (!node || node->childCount() != 0) {
            std::fprintf(stderr, "archive node not found\n");
            return 1;
        }
        QPixmap canvas(tree.size());
        auto start = Clock::now();
        tree.FillChildren(node);
        node->setExpanded(true);
        tree.render(&canvas);
        open = std::min(open, Ms(start));
        if (node->childCount() != 2000) {
            std::fprintf(stderr, "%d children\n", node->childCount());
            return 1;
        }
        start = Clock::now();
        tree.Refresh();
        tree.render(&canvas);
        refresh = std::min(refresh, Ms(start));
        start = Clock::now();
        tree.SelectPath(deep, &tree);
        tree.render(&canvas);
        walk = std::min(walk, Ms(start));
    }
    std::printf("open a folder of 2000 subfolders: %.1f ms\n", open);
    std::printf("refresh with it open: %.1f ms\n", refresh);
    std::printf("walk to a folder below it: %.1f ms\n", walk);
    if (!std::getenv("OVH_BENCH_KEEP"))
        fs::remove_all(root);
    return 0;
}
