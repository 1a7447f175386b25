#include "CThumbsListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "BrowserHost.h"
#include "CFile.h"
#include "FileCopy.h"
#include "PathParts.h"
#include "PhotoDateAndDescription.h"

namespace {

constexpr int kMinFileBytes = 16;

template <class T>
int Order(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

CThumbsListing::Listing CThumbsListing::List(const std::vector<std::string>& sources, int mode,
                                             bool descending, bool library, const ThumbLookup& lookup) {
    Listing listing;
    listing.mode = mode;
    for (std::string source : sources) {
        if (source.size() > 1 && source.back() == '/')
            source.pop_back();
        DIR* dir = ::opendir(source.c_str());
        if (!dir)
            continue;  // an unreadable folder lists nothing
        const int dfd = ::dirfd(dir);
        const std::string prefix = source == "/" ? "/" : source + "/";
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_type == DT_DIR)
                continue;
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || IsCopyTemporary(name))
                continue;
            const std::string path = prefix + name;
            if (!BrowserHost().IsReadableImageFile(path))
                continue;
            struct stat st;
            if (::fstatat(dfd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode) ||
                st.st_size < kMinFileBytes)
                continue;
            CItem item;
            item.path = path;
            item.size = static_cast<double>(st.st_size);
            // Brings the folder's stored thumbnails into the cache.
            ThumbItemPtr cached;
            if (lookup)
                lookup(path, cached);
            listing.total += item.size;
            listing.items.push_back(std::move(item));
        }
        ::closedir(dir);
    }
    Sort(listing.items, mode, descending, library, lookup);
    return listing;
}

void CThumbsListing::ReadItemInfo(CItem& item) {
    if (item.infoRead)
        return;
    CFileStatus status;
    if (CFile::GetStatus(item.path, status)) {
        item.created = status.m_ctime;
        item.written = status.m_mtime;
        item.accessed = status.m_atime;
        item.size = static_cast<double>(status.m_size);
    }
    item.infoRead = 1;
}

int CThumbsListing::Compare(int mode, const CItem& a, const CItem& b, bool descending,
                            const ThumbLookup& lookup) {
    auto byPath = [&] { return CompareNoCase(a.path, b.path); };
    auto byName = [&] { return CompareNoCase(FileNameOf(a.path), FileNameOf(b.path)); };
    int result = 0;
    switch (mode) {
        case 0:
            result = byName();
            break;
        case 1:
        case 2:
        case 6:
            result = mode == 1   ? Order(a.created, b.created)
                     : mode == 2 ? Order(a.written, b.written)
                                 : Order(a.size, b.size);
            if (result == 0)
                result = byPath();
            break;
        case 3: {
            // reserved holds the picture's date, read for all items before sorting
            result = Order(a.reserved, b.reserved);
            if (result == 0)
                result = byName();
            break;
        }
        case 4:
            result = CompareNoCase(ExtensionOf(a.path), ExtensionOf(b.path));
            if (result == 0)
                result = byPath();
            break;
        case 5: {
            auto key = [&lookup](const CItem& item) -> uint32_t {
                ThumbItemPtr cached;
                if (!lookup || !lookup(item.path, cached) || !cached)
                    return 0;
                return (static_cast<uint32_t>(cached->m_sourceWidth & 0xFFFF) << 16) |
                       static_cast<uint32_t>(cached->m_sourceHeight & 0xFFFF);
            };
            result = Order(key(a), key(b));
            break;
        }
        case 7: {
            const std::string ta = TitleOf(a.path), tb = TitleOf(b.path);
            result = CompareNoCase(ta.size() > 4 ? ta.substr(4) : std::string(),
                                   tb.size() > 4 ? tb.substr(4) : std::string());
            if (result == 0)
                result = byPath();
            break;
        }
        default:
            break;
    }
    return descending ? -result : result;
}

void CThumbsListing::Sort(std::vector<CItem>& items, int mode, bool descending, bool listing,
                          const ThumbLookup& lookup) {
    if (mode == 3 && !listing)
        return;
    if (mode == 1 || mode == 2 || mode == 6)
        for (CItem& item : items)
            ReadItemInfo(item);
    if (mode == 3) {
        for (CItem& item : items) {
            std::time_t when = 0;
            GetExifDateTime(item.path, when);
            item.reserved = static_cast<int>(when);
        }
    }
    std::stable_sort(items.begin(), items.end(), [&](const CItem& a, const CItem& b) {
        return Compare(mode, a, b, descending, lookup) < 0;
    });
    if (mode == 3)
        for (CItem& item : items)
            item.reserved = 0;
}

void CThumbsListing::SetSortMode(int mode, const ThumbLookup& lookup) {
    m_sortMode = std::clamp(mode, 0, 7);
    const bool descending = m_descending;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_sortMode == 3) {
        // The picture date is asked for outside a listing: the names decide.
        std::stable_sort(m_items.begin(), m_items.end(), [&](const CItem& a, const CItem& b) {
            return Compare(0, a, b, descending, lookup) < 0;
        });
    } else {
        Sort(m_items, m_sortMode, descending, true, lookup);
    }
    SetPaths();
}

std::string CThumbsListing::Folder() const {
    std::lock_guard<std::mutex> lock(m_folderLock);
    return m_folder;
}

void CThumbsListing::SetFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(m_folderLock);
    m_folder = folder;
}

void CThumbsListing::SetFolderLocation(const std::string& folder) {
    m_location = Location::Folder;
    m_libraryFolders.clear();
    SetFolder(folder);
}

void CThumbsListing::SetLibraryLocation(const std::string& text, std::vector<std::string> folders) {
    m_location = Location::Library;
    m_libraryFolders = std::move(folders);
    SetFolder(text);
}

std::vector<std::string> CThumbsListing::Sources() const {
    const std::string folder = Folder();
    if (folder.empty())
        return {};
    return m_location == Location::Library ? m_libraryFolders : std::vector<std::string>{folder};
}

void CThumbsListing::SetPaths() {
    m_paths.clear();
    m_paths.reserve(m_items.size());
    for (const CItem& item : m_items)
        m_paths.push_back(item.path);
}

std::vector<std::string> CThumbsListing::Replace(Listing listing) {
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_items = std::move(listing.items);
        SetPaths();
        paths = m_paths;
    }
    m_manyFiles = paths.size() > static_cast<size_t>(kManyFiles);
    m_total = listing.total;
    return paths;
}

std::vector<CItem> CThumbsListing::Items() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_items;
}

std::vector<std::string> CThumbsListing::Paths() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_paths;
}

int CThumbsListing::Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_items.size());
}

std::string CThumbsListing::PathAt(int index) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return index >= 0 && static_cast<size_t>(index) < m_paths.size() ? m_paths[index] : std::string();
}

void CThumbsListing::Rename(const std::string& oldPath, const std::string& newPath) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (CItem& item : m_items)
        if (item.path == oldPath)
            item.path = newPath;
    for (std::string& path : m_paths)
        if (path == oldPath)
            path = newPath;
}

void CThumbsListing::Reorder(const std::vector<std::string>& dropped, int before) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::set<std::string> moving(dropped.begin(), dropped.end());
    // The item the files go before, skipping the dropped ones themselves.
    std::string anchor;
    for (size_t i = std::max(0, before); i < m_items.size(); ++i)
        if (!moving.count(m_items[i].path)) {
            anchor = m_items[i].path;
            break;
        }
    std::vector<CItem> moved, kept;
    for (const std::string& path : dropped)
        for (const CItem& item : m_items)
            if (item.path == path) {
                moved.push_back(item);
                break;
            }
    for (const CItem& item : m_items)
        if (!moving.count(item.path))
            kept.push_back(item);
    auto at = anchor.empty() ? kept.end() : std::find_if(kept.begin(), kept.end(), [&](const CItem& item) {
        return item.path == anchor;
    });
    kept.insert(at, moved.begin(), moved.end());
    m_items = std::move(kept);
    SetPaths();
}
