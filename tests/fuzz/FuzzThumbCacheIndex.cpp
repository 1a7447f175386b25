// The thumbnail cache on disk: the index ("OVIMGBRWS.IND") naming each photo
// folder's archive, and a folder archive of items, read as the browser reads
// them (the index at start, an archive at the first miss in its folder),
// and the same archive as the older single-file cache.
//
// The index holds absolute archive names, so the cache lies at one path in
// every process: /proc/self/fd/<kRootFd>, this process's own scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "CPaletteItem.h"
#include "FuzzTarget.h"
#include "ThumbRequests.h"

namespace {

constexpr int kRootFd = 987;
const std::string kRoot = "/proc/self/fd/" + std::to_string(kRootFd);
const std::string kSingleRoot = kRoot + "/single";

// Makes the scratch folder, with the cache folder in it, and holds it at kRootFd.
void MakeRoot() {
    static const bool made = [] {
        const char* tmp = std::getenv("TMPDIR");
        static std::string scratch = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovh-fuzz-cache-XXXXXX";
        const int fd = ::mkdtemp(scratch.data()) ? ::open(scratch.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        // The number must be free: dup2 would close whatever held it.
        if (fd < 0 || ::fcntl(kRootFd, F_GETFD) != -1 || ::dup2(fd, kRootFd) < 0)
            std::abort();
        ::close(fd);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch, ec);
        });
        CMapStringToObPlus::SetCacheRoot(kRoot);
        ::mkdir(CMapStringToObPlus::CacheFolder().c_str(), 0700);
        ::mkdir(kSingleRoot.c_str(), 0700);
        ::mkdir((kRoot + "/photos").c_str(), 0700);
        return true;
    }();
    (void)made;
}

void Put(const std::string& path, const std::string& bytes) {
    Fuzz::WriteFile(path, bytes.data(), bytes.size());
}

std::string Take(const std::string& path) {
    const std::vector<std::uint8_t> bytes = Fuzz::TakeFile(path);
    return {bytes.begin(), bytes.end()};
}

void ReadCache(const std::string& root) {
    CMapStringToObPlus::SetCacheRoot(root);
    CMapStringToObPlus cache;
    cache.SerializeCache(false);
    ThumbItemPtr item;
    for (const auto& [folder, archive] : cache.Index()) {
        Fuzz::Expect(archive.rfind(CMapStringToObPlus::CacheFolder(), 0) == 0);
        cache.LookupWithLoad(folder + "IMG_0001.JPG", item);
    }
    for (const std::string& path : cache.Keys())
        Fuzz::Expect(cache.Lookup(path, item) && item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MakeRoot();
    const std::vector<std::string> parts = Fuzz::Parts(data, size, 2);
    CMapStringToObPlus::SetCacheRoot(kRoot);
    const std::string folder = CMapStringToObPlus::CacheFolder();
    Put(folder + "OVIMGBRWS.IND", parts[0]);
    Put(folder + "FLD1.tmp", parts[1]);
    Put(kSingleRoot + "/OVIMGBRWS_CMPRS_2.TMP", parts[1]);
    ReadCache(kRoot);
    ReadCache(kSingleRoot);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    MakeRoot();
    CMapStringToObPlus::SetCacheRoot(kRoot);
    const std::string folder = CMapStringToObPlus::CacheFolder();
    // The cache's own writer, over two thumbnails of a folder that exists.
    CMapStringToObPlus cache;
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        const std::string path = kRoot + "/photos/" + name;
        Put(path, "");
        auto item = std::make_shared<CPaletteItemImg>();
        auto dib = std::make_shared<CDibBuffer>();
        dib->Create(8, 6, 24, nullptr);
        item->SetBitmap(dib);
        item->m_exposure = "1/250";
        cache.SetAt(path, item);
    }
    cache.SerializeCache(true);
    const std::string index = Take(folder + "OVIMGBRWS.IND");
    const std::string archive = Take(folder + "FLD1.tmp");
    return {{"folder.bin", Fuzz::Joined({index, archive})}, {"no-archive.bin", Fuzz::Joined({index, ""})}};
}
