#include "ThumbRequests.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPainter>
#include <QRect>

#include <algorithm>

#include "CFile.h"

// One translation unit holds the cache, the customers and the queue, so
// they are built in this order and destroyed the other way round: the
// queue's thread has ended before the map and the cache go.
std::recursive_mutex g_csThumbsBrowser;
std::mutex g_csThumbBuild;
CMapStringToObPlus g_ThumbCache;
CTumbCustomerMap g_TumbCustomerMap;
CThumbRequestQueue g_ThumbRequestQueue;

QEvent::Type ThumbnailReadyEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void ThumbnailNotifyPoster::OnThumbnailReady(int result, uintptr_t cookie) {
    QCoreApplication::postEvent(m_target, new ThumbnailReadyEvent(result, cookie));
}

bool CMapStringToObPlus::Lookup(const std::string& path, ThumbItemPtr& item) const {
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return false;
    item = it->second;
    return true;
}

void CMapStringToObPlus::SetAt(const std::string& path, ThumbItemPtr item) {
    m_entries[path] = std::move(item);
}

bool CMapStringToObPlus::RemoveKey(const std::string& path) {
    return m_entries.erase(path) > 0;
}

void CMapStringToObPlus::RemoveAll() {
    m_entries.clear();
    m_loadedFolders.clear();
}

std::vector<std::string> CMapStringToObPlus::Keys() const {
    std::vector<std::string> keys;
    keys.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        keys.push_back(entry.first);
    return keys;
}

bool LookupThumbCache(const std::string& path, ThumbItemPtr& item) {
    item.reset();
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    return g_ThumbCache.LookupWithLoad(path, item);
}

void StoreThumbCache(const std::string& path, ThumbItemPtr item) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    g_ThumbCache.SetAt(path, std::move(item));
}

ThumbItemPtr DetachThumbCache(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    ThumbItemPtr item;
    if (!g_ThumbCache.Lookup(path, item))
        return nullptr;
    g_ThumbCache.RemoveKey(path);
    return item;
}

void CTumbCustomerMap::AddCustomer(const std::string& path, IThumbnailNotify* customer, uintptr_t cookie) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto& records = m_paths[path];
    for (const CCustomer& c : records)
        if (c.customer == customer && c.cookie == cookie)
            return;
    records.push_back({customer, cookie});
}

void CTumbCustomerMap::NotifyCustomers(int result, const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const auto it = m_paths.find(path);
    if (it != m_paths.end()) {
        // A copy: a customer's call may not change the list being walked.
        const std::vector<CCustomer> records = it->second;
        for (const CCustomer& c : records)
            c.customer->OnThumbnailReady(result, c.cookie);
    }
    RemovePath(path);
}

void CTumbCustomerMap::RemovePath(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_paths.erase(path);
}

void CTumbCustomerMap::RemoveIf(IThumbnailNotify* customer, uintptr_t cookie, bool matchCookie) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (auto it = m_paths.begin(); it != m_paths.end();) {
        auto& records = it->second;
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [&](const CCustomer& c) {
                                         return c.customer == customer &&
                                                (!matchCookie || c.cookie == cookie);
                                     }),
                      records.end());
        it = records.empty() ? m_paths.erase(it) : std::next(it);
    }
}

void CTumbCustomerMap::RemoveAll() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_paths.clear();
}

std::vector<CTumbCustomerMap::CCustomer> CTumbCustomerMap::CustomersOf(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const auto it = m_paths.find(path);
    return it == m_paths.end() ? std::vector<CCustomer>{} : it->second;
}

size_t CTumbCustomerMap::PathCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_paths.size();
}

CThumbRequestQueue::~CThumbRequestQueue() {
    Stop();
}

void CThumbRequestQueue::Push(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_paths.Closed() || m_paths.Contains(path))
        return;
    const auto failed = m_failed.find(path);
    if (failed != m_failed.end()) {
        // A file that would not load is tried again only once it changed or
        // after a pause, so a failing file never keeps the thread busy.
        CFileStatus status;
        const bool changed = !CFile::GetStatus(path, status) || status.m_mtime != failed->second.fileTime;
        const bool rested = std::chrono::steady_clock::now() - failed->second.when >=
                            std::chrono::seconds(kRetryPauseSeconds);
        if (!changed && !rested)
            return;
        m_failed.erase(failed);
    }
    if (!m_thread.joinable()) {
        // Building a thumbnail uses Qt's image code and its thread pool, which
        // go with the application object: the thread must end before it does,
        // not in a static destructor after it.
        static const bool stopsWithTheApplication = [] {
            qAddPostRoutine([] { g_ThumbRequestQueue.Stop(); });
            return true;
        }();
        (void)stopsWithTheApplication;
        m_thread = std::thread([this] { Run(); });
    }
    m_paths.PushUnique(path);
}

bool CThumbRequestQueue::Contains(const std::string& path) const {
    return m_paths.Contains(path);
}

void CThumbRequestQueue::MoveToEnd(const std::string& path) {
    m_paths.MoveToEnd(path);
}

void CThumbRequestQueue::Remove(const std::string& path) {
    m_paths.Remove(path);
}

std::vector<std::string> CThumbRequestQueue::Paths() const {
    return m_paths.Items();
}

void CThumbRequestQueue::Stop() {
    // Closing ends the thread after the build it is in.
    m_paths.Close();
    std::thread thread;
    {
        // Joined outside the lock: a failed build takes it on the way out.
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_thread.get_id() == std::this_thread::get_id())
            return;
        thread = std::move(m_thread);
    }
    if (thread.joinable())
        thread.join();
}

void CThumbRequestQueue::Restart() {
    Stop();
    std::lock_guard<std::mutex> lock(m_lock);
    m_paths.Reopen();
}

bool CThumbRequestQueue::WaitIdle(int milliseconds) {
    return m_paths.WaitIdleUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
}

void CThumbRequestQueue::Run() {
    // The lowest priority we may take: the request thread only fills in pictures.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    while (const std::optional<uint64_t> generation = m_paths.WaitBatch()) {
        // Every outcome of a build takes its path off the queue.
        while (const std::optional<std::string> path = m_paths.FrontFor(*generation))
            BuildRequestedThumbnail(*path);
        m_paths.EndBatch();
    }
}

void CThumbRequestQueue::BuildRequestedThumbnail(const std::string& path) {
    bool built = false;
    bool gone = false;
    CFileStatus status;
    {
        std::lock_guard<std::mutex> build(g_csThumbBuild);
        ThumbItemPtr cached;
        bool current = false;
        const bool exists = CFile::GetStatus(path, status);
        {
            // Drawing changes a cached item (it decodes its pixels) under this lock.
            std::lock_guard<std::recursive_mutex> cache(g_csThumbsBrowser);
            LookupThumbCache(path, cached);
            current = cached && cached->m_fileTime == status.m_mtime && cached->HasThumbnail();
        }
        if (!exists) {
            gone = true;
        } else if (current) {
            built = true;
        } else {
            if (cached)
                DetachThumbCache(path);
            auto item = std::make_shared<CPaletteItemImg>();
            try {
                built = item->Load(path, false, nullptr) != 0;
            } catch (...) {
                // A file that makes a reader throw counts as one that failed to load.
                built = false;
            }
            if (built) {
                item->m_fileTime = status.m_mtime;
                StoreThumbCache(path, item);
            }
        }
    }
    if (gone) {
        Remove(path);
        return;
    }
    if (built) {
        Remove(path);
        g_TumbCustomerMap.NotifyCustomers(0, path);
        return;
    }
    // Its customers stay registered; the path rests until its file changes
    // or a later request comes after the pause.
    std::lock_guard<std::mutex> lock(m_lock);
    m_paths.Remove(path);
    m_failed[path] = {status.m_mtime, std::chrono::steady_clock::now()};
}

int DrawThumbnailOrRequest(const std::string& path, QPainter& painter, const QRect& rect, int,
                           IThumbnailNotify* customer, uintptr_t cookie) {
    if (path.empty() || !customer)
        return 0;
    bool drawn = false;
    {
        // Held across look-up and drawing: another thread may replace the entry.
        std::lock_guard<std::recursive_mutex> cache(g_csThumbsBrowser);
        ThumbItemPtr item;
        if (LookupThumbCache(path, item)) {
            item->DrawPicture(painter, rect, path, true);
            drawn = true;
            // A thumbnail kept from an earlier run may be older than its
            // file: it is shown until the new one is built.
            CFileStatus status;
            if (!CFile::GetStatus(path, status) || status.m_mtime == item->m_fileTime)
                return 1;
        }
    }
    if (!drawn) {
        CPaletteItemImg placeholder;
        placeholder.DrawPicture(painter, rect, path, true);
    }
    g_TumbCustomerMap.AddCustomer(path, customer, cookie);
    g_ThumbRequestQueue.Push(path);
    return 1;
}

int DrawThumbnailNow(const std::string& path, QPainter& painter, const QRect& rect) {
    if (path.empty())
        return 0;
    {
        std::lock_guard<std::recursive_mutex> cache(g_csThumbsBrowser);
        ThumbItemPtr item;
        if (LookupThumbCache(path, item)) {
            item->DrawPicture(painter, rect, path, true);
            return 1;
        }
    }
    CPaletteItemImg temporary;
    try {
        temporary.Load(path, false, nullptr);
    } catch (...) {
        // Drawn as a placeholder.
    }
    temporary.DrawPicture(painter, rect, path, true);
    return 1;
}

void CancelThumbnailRequests(IThumbnailNotify* customer) {
    g_TumbCustomerMap.RemoveIf(customer, 0, false);
}

void CancelThumbnailRequest(IThumbnailNotify* customer, uintptr_t cookie) {
    g_TumbCustomerMap.RemoveIf(customer, cookie, true);
}
