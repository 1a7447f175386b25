// The disk half of the thumbnail cache: per-folder archives and their index.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <vector>

#include "Archive.h"
#include "FileReading.h"
#include "ThumbRequests.h"

namespace {

constexpr const char* kCacheFolderName = "OVIMGBRWSHRZN21";
constexpr const char* kIndexName = "OVIMGBRWS.IND";
constexpr const char* kSingleFileName = "OVIMGBRWS_CMPRS_2.TMP";
constexpr const char* kItemClass = "CPaletteItemImg";
// A stored item takes at least its key's length byte, its tag and a record
// far longer than this, so a count beyond the data is refused up front.
constexpr size_t kMinBytesPerItem = 64;
// No cache file of ours comes near this; a larger one is not read at all.
constexpr std::uint64_t kMaxArchiveBytes = std::uint64_t(1) << 30;
// Archive numbers never come near this; a folder that seems to hold them
// all cannot be listed and is not written to.
constexpr int kMaxArchiveNumber = 100000;

std::mutex g_rootLock;
std::string g_cacheRoot;
int g_cacheUsers = 0;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder, or a link to one: the folders above ours are the user's, and a
// home reached through a link is common.
bool IsDirectoryOrLinkToOne(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Anything but a plain "no such file" counts as taken.
bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// The whole of a regular file of ours (a link planted in our folder is refused), or false.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    return Platform::ReadWholeFile(path, kMaxArchiveBytes, bytes, Platform::FinalLink::Refuse) == 0;
}

// Writes a temporary file beside path and renames it into place, so a
// failure half-way leaves the old file as it was.
bool WriteReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

// Makes the cache folder (and the folders above it) private to the user.
bool MakePrivateFolder(const std::string& folder) {
    std::string partial;
    size_t from = 0;
    while (from <= folder.size()) {
        size_t slash = folder.find('/', from);
        if (slash == std::string::npos)
            slash = folder.size();
        partial = folder.substr(0, slash);
        from = slash + 1;
        // Only the cache folder itself, which is ours, must not be a link.
        const bool last = slash == folder.size() || slash + 1 == folder.size();
        const auto usable = last ? IsDirectory : IsDirectoryOrLinkToOne;
        if (partial.empty() || usable(partial))
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && !usable(partial))
            return false;
    }
    return IsDirectory(folder);
}

// An archive name the index may hold: exactly <cache folder>FLD<n>.tmp
// with n a positive decimal. Anything else could make a store overwrite or
// delete a file of the user's.
bool IsOwnArchiveName(const std::string& name, const std::string& folder) {
    const std::string prefix = folder + "FLD";
    const std::string suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 || digits[0] == '0')
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    return true;
}

using ItemMap = std::map<std::string, ThumbItemPtr>;

// The items of one archive; throws on anything damaged.
ItemMap ReadItems(const std::vector<uint8_t>& bytes) {
    Archive::Reader reader(bytes);
    ItemMap items;
    const uint32_t count = reader.ReadCount(kMinBytesPerItem);
    for (uint32_t i = 0; i < count; ++i) {
        std::string key = reader.ReadString();
        if (!reader.ReadObjectTag(kItemClass))
            throw Archive::ArchiveBad("null item");
        auto item = std::make_shared<CPaletteItemImg>();
        item->LoadRecord(reader);
        items[std::move(key)] = std::move(item);
    }
    return items;
}

std::vector<uint8_t> WriteItems(const ItemMap& items) {
    Archive::Writer writer;
    writer.WriteCount(static_cast<uint32_t>(items.size()));
    for (const auto& [key, item] : items) {
        writer.WriteString(key);
        writer.WriteObjectTag(kItemClass, 1);
        item->StoreRecord(writer);
    }
    return writer.Bytes();
}

}  // namespace

void CMapStringToObPlus::SetCacheRoot(const std::string& root) {
    std::lock_guard<std::mutex> lock(g_rootLock);
    g_cacheRoot = root;
}

std::string CMapStringToObPlus::CacheRoot() {
    std::lock_guard<std::mutex> lock(g_rootLock);
    if (g_cacheRoot.empty())
        return QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toStdString();
    return g_cacheRoot;
}

std::string CMapStringToObPlus::CacheFolder() {
    std::string root = CacheRoot();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root + "/" + kCacheFolderName + "/";
}

std::string CMapStringToObPlus::FolderKey(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool CMapStringToObPlus::LookupWithLoad(const std::string& path, ThumbItemPtr& item) {
    if (Lookup(path, item))
        return true;
    const std::string key = FolderKey(path);
    const auto archive = m_index.find(key);
    if (archive == m_index.end() || !m_loadedFolders.insert(key).second)
        return false;
    if (!LoadFolderArchive(archive->second))
        return false;
    return Lookup(path, item);
}

bool CMapStringToObPlus::LoadFolderArchive(const std::string& archive) {
    ItemMap items;
    try {
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(archive, bytes))
            return false;
        items = ReadItems(bytes);
    } catch (...) {
        // Damaged or unreadable: nothing enters, the thumbnails are built anew.
        return false;
    }
    for (auto& [key, item] : items)
        m_entries.emplace(key, std::move(item));  // a newer item in memory stays
    return true;
}

void CMapStringToObPlus::SerializeCache(bool storing) {
    try {
        if (storing)
            StoreCache();
        else
            ReadIndex();
    } catch (...) {
        // A cache is a convenience: whatever fails here is rebuilt later.
    }
}

void CMapStringToObPlus::ReadIndex() {
    m_index.clear();
    m_loadedFolders.clear();
    const std::string folder = CacheFolder();
    if (!IsDirectory(folder)) {
        // No cache folder: an older single-file cache, read whole.
        std::vector<uint8_t> bytes;
        if (ReadWholeFile(CacheRoot() + "/" + kSingleFileName, bytes)) {
            ItemMap items = ReadItems(bytes);
            for (auto& [key, item] : items)
                m_entries.emplace(key, std::move(item));
        }
        return;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(folder + kIndexName, bytes))
        return;
    std::map<std::string, std::string> index;
    Archive::Reader reader(bytes);
    const uint32_t count = reader.ReadCount(2);
    for (uint32_t i = 0; i < count; ++i) {
        std::string key = reader.ReadString();
        std::string value = reader.ReadString();
        if (key.size() > 1 && key.front() == '/' && key.back() == '/' && IsOwnArchiveName(value, folder))
            index[std::move(key)] = std::move(value);
    }
    m_index = std::move(index);
}

void CMapStringToObPlus::StoreCache() {
    const std::string folder = CacheFolder();
    // A folder we may not write to keeps what it has.
    if (!MakePrivateFolder(folder) || ::access(folder.c_str(), W_OK | X_OK) != 0)
        return;

    std::map<std::string, ItemMap> byFolder;
    for (const auto& [path, item] : m_entries) {
        struct stat st;
        if (item && ::stat(path.c_str(), &st) == 0)
            byFolder[FolderKey(path)][path] = item;
    }

    for (const auto& [key, items] : byFolder) {
        std::string name;
        const auto known = m_index.find(key);
        if (known != m_index.end()) {
            name = known->second;
        } else {
            std::set<std::string> taken;
            for (const auto& entry : m_index)
                taken.insert(entry.second);
            for (int n = 1; name.empty() && n <= kMaxArchiveNumber; ++n) {
                const std::string candidate = folder + "FLD" + std::to_string(n) + ".tmp";
                if (!taken.count(candidate) && !Exists(candidate))
                    name = candidate;
            }
        }
        if (name.empty())
            continue;
        std::vector<uint8_t> bytes;
        try {
            bytes = WriteItems(items);
        } catch (...) {
            continue;  // an item that will not encode: the folder keeps its old archive
        }
        if (WriteReplacing(name, bytes))
            m_index[key] = name;
    }

    std::map<std::string, std::string> kept;
    for (const auto& [key, archive] : m_index) {
        // Never strip a root: "/" names the root folder itself.
        const std::string photoFolder = key.size() > 1 ? key.substr(0, key.size() - 1) : key;
        struct stat st;
        if (::stat(photoFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            kept[key] = archive;
        else
            ::unlink(archive.c_str());
    }
    m_index = std::move(kept);

    Archive::Writer writer;
    writer.WriteCount(static_cast<uint32_t>(m_index.size()));
    for (const auto& [key, archive] : m_index) {
        writer.WriteString(key);
        writer.WriteString(archive);
    }
    WriteReplacing(folder + kIndexName, writer.Bytes());
}

void AcquireThumbCache() {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    if (g_cacheUsers++ == 0)
        g_ThumbCache.SerializeCache(false);
}

void ReleaseThumbCache() {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    if (g_cacheUsers == 0 || --g_cacheUsers > 0)
        return;
    for (const std::string& path : g_ThumbCache.Keys()) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            g_ThumbCache.RemoveKey(path);
    }
    g_ThumbCache.SerializeCache(true);
    g_ThumbCache.RemoveAll();
}

int ThumbCacheUsers() {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    return g_cacheUsers;
}
