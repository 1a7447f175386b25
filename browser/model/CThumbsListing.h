#pragma once
// The listed files of the thumbnail pane: the current location (a folder or
// a library's folders), its image files in the sort order, and the sort.
// Safe on any thread; a listing of a location is made without touching the
// list and then replaces it whole.

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ThumbRequests.h"

// One listed file. Times and size are read once, when first needed.
struct CItem {
    std::string path;
    double size = 0;
    std::time_t created = 0;
    std::time_t written = 0;
    std::time_t accessed = 0;
    int infoRead = 0;
    int reserved = 0;
};

class CThumbsListing {
public:
    enum class Location { Folder, Library };

    // The cached thumbnail of a file, if any; brings a folder's stored
    // thumbnails into the cache. Empty: nothing is cached.
    using ThumbLookup = std::function<bool(const std::string& path, ThumbItemPtr& item)>;

    // The files of a location, sorted.
    struct Listing {
        std::vector<CItem> items;
        double total = 0;
        int mode = 0;
    };
    static Listing List(const std::vector<std::string>& sources, int mode, bool descending, bool library,
                        const ThumbLookup& lookup);
    // A folder keeps its listing order for the picture date (mode 3); asked
    // for it outside a listing, nothing moves.
    static void Sort(std::vector<CItem>& items, int mode, bool descending, bool listing,
                     const ThumbLookup& lookup);
    // The order of two items in a sort mode (<0, 0, >0); times and sizes
    // must have been read (ReadItemInfo).
    static int Compare(int mode, const CItem& a, const CItem& b, bool descending, const ThumbLookup& lookup);
    static void ReadItemInfo(CItem& item);

    // The location.
    std::string Folder() const;
    void SetFolder(const std::string& folder);
    Location Kind() const { return m_location; }
    // A folder, or a library with its folders (text is the library's).
    void SetFolderLocation(const std::string& folder);
    void SetLibraryLocation(const std::string& text, std::vector<std::string> folders);
    // The folders a read lists: the current folder, or the library's folders.
    std::vector<std::string> Sources() const;

    int SortMode() const { return m_sortMode; }
    bool Descending() const { return m_descending; }
    void SetDescending(bool descending) { m_descending = descending; }
    // Sets the mode (clamped to 0..7) and re-sorts the items; the picture
    // date re-sorts by name.
    void SetSortMode(int mode, const ThumbLookup& lookup);

    // Replaces the items; their paths, in order.
    std::vector<std::string> Replace(Listing listing);
    std::vector<CItem> Items() const;
    std::vector<std::string> Paths() const;
    int Count() const;
    // Empty out of range.
    std::string PathAt(int index) const;
    bool ManyFiles() const { return m_manyFiles; }
    double TotalSize() const { return m_total; }

    // Every item named oldPath is named newPath.
    void Rename(const std::string& oldPath, const std::string& newPath);
    // The dropped files move, in their order, before the item at before
    // (skipping the dropped ones themselves); at the end past the last.
    void Reorder(const std::vector<std::string>& dropped, int before);

private:
    void SetPaths();

    mutable std::mutex m_lock;
    std::vector<CItem> m_items;
    std::vector<std::string> m_paths;
    mutable std::mutex m_folderLock;
    std::string m_folder;
    Location m_location = Location::Folder;
    std::vector<std::string> m_libraryFolders;
    int m_sortMode = 7;
    std::atomic<bool> m_descending{false};
    std::atomic<bool> m_manyFiles{false};
    std::atomic<double> m_total{0};
};

// More listed files than this make the drawing pull visible ones forward.
constexpr int kManyFiles = 40;
