// The thumbnail cache on disk: layout, numbering, reading back, damaged files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QPainter>

#include "Archive.h"
#include "CFile.h"
#include "TestData.h"
#include "ThumbRequests.h"
#include "ThumbnailImageReader.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Touch(const std::string& path) {
    std::ofstream(path) << "photo";
}

// An item with pixels of its own, so nothing needs decoding.
ThumbItemPtr MakeItem(int shade) {
    auto item = std::make_shared<CPaletteItemImg>();
    item->m_thumbWidth = 220;
    item->m_thumbHeight = 146;
    auto dib = std::make_shared<CDibBuffer>();
    dib->Create(220, 146, 24, nullptr);
    std::memset(dib->Bits(), shade, static_cast<size_t>(dib->Stride()) * dib->Height());
    item->SetBitmap(dib);
    item->m_sourceWidth = 3000;
    item->m_sourceHeight = 2000;
    item->m_fileTime = 1234567;
    return item;
}

class ThumbDiskCache : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root);
        CMapStringToObPlus::SetCacheRoot(root);
        Reset();
    }
    void TearDown() override {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.RemoveAll();
        CMapStringToObPlus::SetCacheRoot({});
    }
    // What a new process starts from: empty memory, the index read again.
    void Reset() {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.RemoveAll();
        g_ThumbCache.SerializeCache(false);
    }
    void Store() {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.SerializeCache(true);
    }
    bool Find(const std::string& path) {
        ThumbItemPtr item;
        return LookupThumbCache(path, item);
    }
    std::string Folder(const std::string& name) {
        const std::string folder = dir / name;
        fs::create_directories(folder);
        return folder;
    }
    std::string CacheFile(const std::string& name) const { return CMapStringToObPlus::CacheFolder() + name; }

    TestData::ScratchDir dir;
    std::string root = dir / "cache";
};

}  // namespace

TEST_F(ThumbDiskCache, StoreLaysOutArchivesAndTheyReadBackOncePerFolder) {
    const std::string a = Folder("a"), b = Folder("b"), c = Folder("c");
    // A number whose file exists is skipped even without an index entry.
    Store();
    Touch(CacheFile("FLD2.tmp"));
    for (const std::string& photo : {a + "/1.jpg", a + "/2.jpg", b + "/1.jpg", c + "/1.jpg"}) {
        Touch(photo);
        StoreThumbCache(photo, MakeItem(90));
    }
    fs::remove(a + "/2.jpg");  // a vanished file is not written back
    Store();

    EXPECT_TRUE(fs::exists(CacheFile("OVIMGBRWS.IND")));
    EXPECT_EQ((fs::status(CMapStringToObPlus::CacheFolder()).permissions() & fs::perms::all),
              fs::perms::owner_all);
    const std::map<std::string, std::string> expected = {
        {a + "/", CacheFile("FLD1.tmp")}, {b + "/", CacheFile("FLD3.tmp")}, {c + "/", CacheFile("FLD4.tmp")}};
    EXPECT_EQ(g_ThumbCache.Index(), expected);
    for (const auto& entry : fs::directory_iterator(CMapStringToObPlus::CacheFolder()))
        EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << "temporary file left";

    Reset();
    EXPECT_EQ(g_ThumbCache.Index(), expected);
    EXPECT_EQ(g_ThumbCache.GetCount(), 0u);
    // A miss in an archived folder enters its items and still says not found.
    EXPECT_FALSE(Find(a + "/2.jpg"));
    EXPECT_EQ(g_ThumbCache.GetCount(), 1u);
    ThumbItemPtr item;
    ASSERT_TRUE(LookupThumbCache(a + "/1.jpg", item));
    EXPECT_EQ(item->m_fileTime, 1234567);
    EXPECT_EQ(item->m_sourceWidth, 3000);
    ASSERT_TRUE(item->Decompress());
    EXPECT_EQ(item->Bitmap()->Width(), 220);
    EXPECT_EQ(item->Bitmap()->Height(), 146);

    // A newer item in memory is never replaced by the archived one.
    StoreThumbCache(b + "/1.jpg", MakeItem(200));
    ThumbItemPtr newer;
    LookupThumbCache(b + "/1.jpg", newer);
    ASSERT_TRUE(Find(b + "/nothing.jpg") == false);
    ThumbItemPtr after;
    LookupThumbCache(b + "/1.jpg", after);
    EXPECT_EQ(after, newer);

    // A photo folder deleted between runs loses its archive and entry; one
    // not visited this run keeps its own.
    Reset();
    fs::remove_all(b);
    Touch(a + "/3.jpg");
    StoreThumbCache(a + "/3.jpg", MakeItem(10));
    Store();
    EXPECT_FALSE(fs::exists(CacheFile("FLD3.tmp")));
    EXPECT_TRUE(fs::exists(CacheFile("FLD4.tmp")));
    EXPECT_TRUE(fs::exists(CacheFile("FLD2.tmp")));
    EXPECT_EQ(g_ThumbCache.Index().count(b + "/"), 0u);
    Reset();
    EXPECT_TRUE(Find(a + "/3.jpg"));
    EXPECT_FALSE(Find(a + "/1.jpg")) << "the folder's archive is rewritten from memory";
    EXPECT_TRUE(Find(c + "/1.jpg"));
}

TEST_F(ThumbDiskCache, IndexNamingFilesOutsideTheCacheIsDropped) {
    const std::string victim = dir / "victim.txt";
    Touch(victim);
    const std::string folder = CMapStringToObPlus::CacheFolder();
    fs::create_directories(folder);
    Archive::Writer index;
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"/no/such/folder/", victim},
        {"/no/such/other/", folder + "FLD1.tmp/../../victim.txt"},
        {"/no/such/third/", folder + "FLD01.tmp"},
        {"/no/such/fourth/", folder + "FLDx.tmp"},
        {"/no/such/fifth/", folder + "FLD5.tmp"},
    };
    index.WriteCount(static_cast<uint32_t>(entries.size()));
    for (const auto& [key, value] : entries) {
        index.WriteString(key);
        index.WriteString(value);
    }
    WriteBytes(folder + "OVIMGBRWS.IND", index.Bytes());
    Touch(folder + "FLD5.tmp");
    Reset();
    EXPECT_EQ(g_ThumbCache.Index().size(), 1u);
    Store();  // the one valid entry's folder is gone: only its own archive goes
    EXPECT_TRUE(fs::exists(victim));
    EXPECT_FALSE(fs::exists(folder + "FLD5.tmp"));
    EXPECT_TRUE(g_ThumbCache.Index().empty());

    // A garbage index gives an empty cache and deletes nothing.
    Touch(folder + "FLD1.tmp");
    WriteBytes(folder + "OVIMGBRWS.IND", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2});
    Reset();
    EXPECT_TRUE(g_ThumbCache.Index().empty());
    EXPECT_TRUE(fs::exists(folder + "FLD1.tmp"));
}

TEST_F(ThumbDiskCache, DamagedArchivesGiveNotFound) {
    const std::string photos = Folder("photos");
    const std::string photo = photos + "/p.jpg";
    Touch(photo);
    StoreThumbCache(photo, MakeItem(70));
    Store();
    const std::string archive = CacheFile("FLD1.tmp");
    const std::vector<uint8_t> good = ReadBytes(archive);
    ASSERT_GT(good.size(), 100u);

    // The record's fields start after count (2), key (1 + n) and the new
    // class tag (6 + 15 bytes of the class name): file time (8), width,
    // height, has-pixels, JPEG length.
    const size_t record = 2 + 1 + photo.size() + 6 + std::string("CPaletteItemImg").size();
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"JPEG length 0xFFFFFFFF", patched(record + 20, 0xFFFFFFFFu)},
        {"height 2^31", patched(record + 12, 0x80000000u)},
        {"width 2^31", patched(record + 8, 0x80000000u)},
        {"count 0xFFFFFFFF",
         [&] {
             std::vector<uint8_t> bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
             bytes.insert(bytes.end(), good.begin() + 2, good.end());
             return bytes;
         }()},
        {"key length 2^32-2",
         [&] {
             std::vector<uint8_t> bytes = {1, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF};
             bytes.insert(bytes.end(), good.begin() + 3, good.end());
             return bytes;
         }()},
        {"another class",
         [&] {
             std::vector<uint8_t> bytes = good;
             bytes[record - 1] = 'X';
             return bytes;
         }()},
    };
    for (size_t length = 0; length < good.size(); ++length)
        cases.push_back({"truncated at " + std::to_string(length),
                         std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length))});
    ASSERT_EQ(good[record + 16], 1u) << "has-pixels where the cases expect it";

    for (const auto& [name, bytes] : cases) {
        WriteBytes(archive, bytes);
        Reset();
        EXPECT_FALSE(Find(photo)) << name;
        EXPECT_EQ(g_ThumbCache.GetCount(), 0u) << name;
    }
    WriteBytes(archive, good);
    Reset();
    EXPECT_TRUE(Find(photo));
}

TEST_F(ThumbDiskCache, ReadOnlyCacheFolderWritesNothingAndKeepsOldArchives) {
    const std::string photos = Folder("photos");
    Touch(photos + "/p.jpg");
    StoreThumbCache(photos + "/p.jpg", MakeItem(70));
    Store();
    const std::string folder = CMapStringToObPlus::CacheFolder();
    const std::vector<uint8_t> archive = ReadBytes(folder + "FLD1.tmp");
    const std::vector<uint8_t> index = ReadBytes(folder + "OVIMGBRWS.IND");

    const std::string other = Folder("other");
    Touch(other + "/q.jpg");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    // The store runs as a user who may not write there; root writes anyway,
    // so a child process drops to an unprivileged user first.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            ::_exit(3);
        AcquireThumbCache();
        StoreThumbCache(photos + "/p.jpg", MakeItem(10));
        StoreThumbCache(other + "/q.jpg", MakeItem(20));
        ReleaseThumbCache();
        ::_exit(g_ThumbCache.GetCount() == 0 ? 0 : 4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "memory is emptied";
    EXPECT_EQ(ReadBytes(folder + "FLD1.tmp"), archive);
    EXPECT_EQ(ReadBytes(folder + "OVIMGBRWS.IND"), index);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

// A second process, started by the test below, finds the folder's
// thumbnails in the cache without decoding a photo.
TEST(ThumbDiskCacheChild, FindsBoatRowWithoutDecoding) {
    const char* root = std::getenv("OVH_THUMB_CACHE_CHILD_ROOT");
    if (!root)
        GTEST_SKIP() << "run by ThumbDiskCache.FreshProcessFindsBoatRow";
    static std::atomic<int> decodes{0};
    SetThumbnailImageReader([](const std::string&, QSize, CProgress*, ThumbnailPicture&) {
        ++decodes;
        return false;
    });
    CMapStringToObPlus::SetCacheRoot(root);
    AcquireThumbCache();
    const fs::path folder = fs::path(OVH_SHARED_DATA) / "photos" / "boat-row";
    for (const auto& entry : fs::directory_iterator(folder)) {
        ThumbItemPtr item;
        ASSERT_TRUE(LookupThumbCache(entry.path().string(), item)) << entry.path();
        ASSERT_TRUE(item->Decompress());
        EXPECT_EQ(item->m_final, 1);
    }
    EXPECT_EQ(decodes.load(), 0);
    SetThumbnailImageReader({});
}

TEST_F(ThumbDiskCache, FreshProcessFindsBoatRow) {
    const fs::path folder = fs::path(OVH_SHARED_DATA) / "photos" / "boat-row";
    if (!fs::exists(folder))
        GTEST_SKIP() << "no shared photos";
    AcquireThumbCache();
    for (const auto& entry : fs::directory_iterator(folder)) {
        auto item = std::make_shared<CPaletteItemImg>();
        ASSERT_TRUE(item->Load(entry.path().string(), true, nullptr)) << entry.path();
        StoreThumbCache(entry.path().string(), item);
    }
    ReleaseThumbCache();
    ASSERT_TRUE(fs::exists(CacheFile("FLD1.tmp")));

    const std::string command = "OVH_THUMB_CACHE_CHILD_ROOT='" + root + "' QT_QPA_PLATFORM=offscreen /proc/" +
                                std::to_string(::getpid()) + "/exe --gtest_filter=ThumbDiskCacheChild.* > '" +
                                (dir / "child.log") + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream logFile(dir / "child.log");
    const std::string log{std::istreambuf_iterator<char>(logFile), {}};
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_NE(log.find("[  PASSED  ] 1 test."), std::string::npos) << log;
    EXPECT_EQ(log.find("SKIPPED"), std::string::npos) << log;
}

TEST_F(ThumbDiskCache, AThumbnailOlderThanItsFileIsDrawnAndRebuilt) {
    struct Customer : IThumbnailNotify {
        void OnThumbnailReady(int, uintptr_t) override {}
    } customer;
    const std::string photos = Folder("photos");
    const std::string stale = photos + "/stale.jpg", current = photos + "/current.jpg";
    Touch(stale);
    Touch(current);
    StoreThumbCache(stale, MakeItem(70));  // a file time of long ago
    ThumbItemPtr item = MakeItem(70);
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(current, status));
    item->m_fileTime = status.m_mtime;
    StoreThumbCache(current, item);
    QImage canvas(64, 48, QImage::Format_RGB32);
    QPainter painter(&canvas);
    DrawThumbnailOrRequest(current, painter, QRect(0, 0, 64, 48), 0, &customer, 1);
    DrawThumbnailOrRequest(stale, painter, QRect(0, 0, 64, 48), 0, &customer, 2);
    EXPECT_TRUE(g_TumbCustomerMap.CustomersOf(current).empty());
    EXPECT_EQ(g_TumbCustomerMap.CustomersOf(stale).size(), 1u);
    g_ThumbRequestQueue.WaitIdle(5000);
    CancelThumbnailRequests(&customer);
}

// The folders above the cache are the user's: a home reached through a link
// is common and must not stop the cache from working. Inside the cache
// folder, which is the program's own, a planted link is not read.
TEST_F(ThumbDiskCache, HomeReachedThroughALinkKeepsTheCacheAcrossRuns) {
    fs::create_directories(dir / "disk/user/.cache");
    ASSERT_EQ(::symlink((dir / "disk/user").c_str(), (dir / "home").c_str()), 0);
    CMapStringToObPlus::SetCacheRoot(dir / "home/.cache");
    Reset();
    const std::string photo = Folder("photos") + "/p.jpg";
    Touch(photo);
    StoreThumbCache(photo, MakeItem(40));
    Store();
    EXPECT_TRUE(fs::exists(dir / "disk/user/.cache/OVIMGBRWSHRZN21/FLD1.tmp"));
    Reset();
    EXPECT_TRUE(Find(photo)) << "a second start finds the thumbnail without decoding";

    const std::string archive = CacheFile("FLD1.tmp");
    fs::rename(archive, dir / "moved.tmp");
    ASSERT_EQ(::symlink((dir / "moved.tmp").c_str(), archive.c_str()), 0);
    Reset();
    EXPECT_FALSE(Find(photo)) << "a link planted in the cache folder is not followed";
}
