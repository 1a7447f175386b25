#pragma once
// Thumbnails for windows other than the thumbnail browser (the project's
// photo strip first): a cached thumbnail is drawn at once; otherwise a
// placeholder is drawn, the window is registered as a customer of the file,
// and one low-priority thread builds the thumbnail, stores it in the cache
// and tells every customer of that file.
//
// The memory half of the thumbnail cache lives here too: g_ThumbCache maps a
// file's full path to its item, under g_csThumbsBrowser. Its disk archives
// come with the project's archive class.

#include <QEvent>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CPaletteItem.h"
#include "WorkQueue.h"

class QObject;
class QPainter;
class QRect;

// A customer's side of a request; called on the request thread, so an
// implementation only posts to its own window (ThumbnailNotifyPoster does).
class IThumbnailNotify {
public:
    virtual ~IThumbnailNotify() = default;
    virtual void OnThumbnailReady(int result, uintptr_t cookie) = 0;
};

// The event a poster sends: the thumbnail of the customer's cookie is in the cache.
class ThumbnailReadyEvent : public QEvent {
public:
    static QEvent::Type EventType();
    ThumbnailReadyEvent(int result, uintptr_t cookie)
        : QEvent(EventType()), m_result(result), m_cookie(cookie) {}
    int m_result;
    uintptr_t m_cookie;
};

// A customer that posts ThumbnailReadyEvent to a window.
class ThumbnailNotifyPoster : public IThumbnailNotify {
public:
    explicit ThumbnailNotifyPoster(QObject* target) : m_target(target) {}
    void OnThumbnailReady(int result, uintptr_t cookie) override;

private:
    QObject* m_target;
};

using ThumbItemPtr = std::shared_ptr<CPaletteItemImg>;

// Items are shared: a drawing keeps its item alive while another thread
// replaces the cache entry.
//
// On disk the cache is one archive per photo folder plus an index naming
// each folder's archive, in a private folder of the user's cache location.
// A folder's archive is read once, on the first miss in that folder.
class CMapStringToObPlus {
public:
    bool Lookup(const std::string& path, ThumbItemPtr& item) const;
    // The same; a miss reads the file's folder archive once. An item already
    // in memory is never replaced by an archived one. A damaged archive
    // enters nothing.
    bool LookupWithLoad(const std::string& path, ThumbItemPtr& item);
    void SetAt(const std::string& path, ThumbItemPtr item);
    bool RemoveKey(const std::string& path);
    // Empties memory; folder archives may be read again afterwards.
    void RemoveAll();
    size_t GetCount() const { return m_entries.size(); }
    std::vector<std::string> Keys() const;

    // Loading (storing false) reads the index, or the single-file cache when
    // there is no cache folder; nothing readable leaves the cache empty.
    // Storing writes one archive per folder of the entries whose files
    // still exist and then the index, each through a temporary file renamed
    // into place; whatever cannot be written keeps its old file. Never throws.
    void SerializeCache(bool storing);

    // The folder that holds the cache folder; the user's cache location
    // unless set (tests).
    static void SetCacheRoot(const std::string& root);
    static std::string CacheRoot();
    // CacheRoot() + "/OVIMGBRWSHRZN21/".
    static std::string CacheFolder();
    // The folder key of a file: its folder with a trailing '/'.
    static std::string FolderKey(const std::string& path);
    const std::map<std::string, std::string>& Index() const { return m_index; }

private:
    bool LoadFolderArchive(const std::string& archive);
    void ReadIndex();
    void StoreCache();

    std::map<std::string, ThumbItemPtr> m_entries;
    std::map<std::string, std::string> m_index;
    std::set<std::string> m_loadedFolders;
};

extern CMapStringToObPlus g_ThumbCache;
// Guards g_ThumbCache.
extern std::recursive_mutex g_csThumbsBrowser;
// Held while one thumbnail is built, so two threads never build one file at once.
extern std::mutex g_csThumbBuild;

// Windows that keep thumbnails (browsers, the photo strip) hold the cache:
// the first holder loads the index; the last release drops the entries of
// vanished files, writes the cache to disk and empties memory.
void AcquireThumbCache();
void ReleaseThumbCache();
int ThumbCacheUsers();

bool LookupThumbCache(const std::string& path, ThumbItemPtr& item);
void StoreThumbCache(const std::string& path, ThumbItemPtr item);
ThumbItemPtr DetachThumbCache(const std::string& path);

class CTumbCustomerMap {
public:
    struct CCustomer {
        IThumbnailNotify* customer;
        uintptr_t cookie;
    };

    void AddCustomer(const std::string& path, IThumbnailNotify* customer, uintptr_t cookie);
    // Tells every customer of path, in registration order, then forgets them.
    void NotifyCustomers(int result, const std::string& path);
    void RemovePath(const std::string& path);
    // Removes the records of a customer (any cookie when matchCookie is false).
    void RemoveIf(IThumbnailNotify* customer, uintptr_t cookie, bool matchCookie);
    void RemoveAll();

    std::vector<CCustomer> CustomersOf(const std::string& path) const;
    size_t PathCount() const;

private:
    mutable std::recursive_mutex m_lock;
    std::map<std::string, std::vector<CCustomer>> m_paths;
};

class CThumbRequestQueue {
public:
    CThumbRequestQueue() = default;
    ~CThumbRequestQueue();

    // Queues a path once and wakes the thread (started on first use). A path
    // whose build failed waits until its file changes or a pause has passed.
    void Push(const std::string& path);
    bool Contains(const std::string& path) const;
    void MoveToEnd(const std::string& path);
    void Remove(const std::string& path);
    std::vector<std::string> Paths() const;

    // Ends the thread and waits for it; the program calls this at exit,
    // before the cache and the customers go.
    void Stop();
    // Lets a stopped queue take requests again; the thread starts with the
    // next one. For a process that runs more than one application object (tests).
    void Restart();
    // True while nothing is queued and no build runs (for tests).
    bool WaitIdle(int milliseconds);

    // How long a failed path rests before a new request may queue it again.
    static constexpr int kRetryPauseSeconds = 5;

private:
    void Run();
    void BuildRequestedThumbnail(const std::string& path);

    CWorkQueue<std::string> m_paths;
    // Guards the failed paths and the thread's start.
    mutable std::mutex m_lock;
    struct Failed {
        std::time_t fileTime;
        std::chrono::steady_clock::time_point when;
    };
    std::map<std::string, Failed> m_failed;
    std::thread m_thread;
};

extern CTumbCustomerMap g_TumbCustomerMap;
extern CThumbRequestQueue g_ThumbRequestQueue;

// 0 for an empty path or no customer, else 1.
int DrawThumbnailOrRequest(const std::string& path, QPainter& painter, const QRect& rect, int ignored,
                           IThumbnailNotify* customer, uintptr_t cookie);
// Draws at once, loading an uncached file without caching it; 0 for an empty path.
int DrawThumbnailNow(const std::string& path, QPainter& painter, const QRect& rect);
void CancelThumbnailRequests(IThumbnailNotify* customer);
void CancelThumbnailRequest(IThumbnailNotify* customer, uintptr_t cookie);
