#include "CThumbsBuilderThreads.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "BrowserHost.h"
#include "CFile.h"

namespace {

// Nice values of the stages: stage 0 keeps the program's own, the refining
// stages yield to it and to the user interface.
constexpr int kNiceOfStage[CThumbsBuilderThreads::kStages] = {0, 5, 5};

void LowerThisThread(int by) {
    if (by <= 0)
        return;
    const id_t tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, std::min(19, now + by));
}

// Errors that may pass while we wait (Linux has no share modes, so a file
// being written opens fine; what stays is running out of descriptors).
bool MayPass(int error) {
    return error == EINTR || error == EAGAIN || error == EBUSY || error == ETXTBSY || error == EMFILE ||
           error == ENFILE;
}

// A copy of a cached item to refine, so the item others draw stays as it is
// until the refined one replaces it. Under g_csThumbsBrowser.
void CopyItem(CPaletteItemImg& to, CPaletteItemImg& from) {
    to.CopyFrom(from);
    to.SetBitmap(from.Decompress());
    to.m_fileTime = from.m_fileTime;
    to.m_final = from.m_final;
    to.m_lastUse = from.m_lastUse;
    to.m_description = from.m_description;
    to.m_refineAllowed = from.m_refineAllowed;
    to.m_rating = from.m_rating;
    std::copy(std::begin(from.m_stored), std::end(from.m_stored), std::begin(to.m_stored));
    to.m_rects = from.m_rects;
}

}  // namespace

CThumbsBuilderThreads g_ThumbsBuilderThreads;

CThumbsBuilderThreads::CThumbsBuilderThreads(ItemFactory factory) : m_factory(std::move(factory)) {
    for (int s = 0; s < kStages; ++s)
        m_stage[s].thread = std::thread([this, s] { StageProc(s); });
}

CThumbsBuilderThreads::~CThumbsBuilderThreads() {
    Stop();
}

ThumbItemPtr CThumbsBuilderThreads::NewItem() const {
    return m_factory ? m_factory() : std::make_shared<CPaletteItemImg>();
}

void CThumbsBuilderThreads::ReplaceWork(const std::vector<std::string>& paths, bool rebuild) {
    if (m_stopped)
        return;
    m_rebuild = rebuild;
    for (int s : {1, 2, 0}) {
        CStageQueue& q = m_stage[s];
        {
            std::lock_guard<std::mutex> lock(q.lock);
            q.paths.clear();
            q.abort = true;
            if (s == 0)
                q.paths.assign(paths.begin(), paths.end());
            q.work = true;
        }
        q.wake.notify_all();
    }
}

void CThumbsBuilderThreads::Prioritize(const std::vector<std::string>& paths) {
    CStageQueue& q = m_stage[0];
    std::lock_guard<std::mutex> lock(q.lock);
    for (const std::string& path : paths) {
        const auto it = std::find(q.paths.begin(), q.paths.end(), path);
        if (it != q.paths.end())
            q.paths.erase(it);
    }
    q.paths.insert(q.paths.begin(), paths.begin(), paths.end());
}

void CThumbsBuilderThreads::AddClient(IThumbUpdate* client) {
    std::lock_guard<std::mutex> lock(m_clientsLock);
    m_clients.push_back(client);
}

void CThumbsBuilderThreads::RemoveClient(IThumbUpdate* client) {
    // Waits for a notification walk in progress: the client may go right after.
    std::lock_guard<std::mutex> lock(m_clientsLock);
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
}

void CThumbsBuilderThreads::TellClients(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_clientsLock);
    for (IThumbUpdate* client : m_clients)
        client->OnThumbReady(path, 0);
}

void CThumbsBuilderThreads::Stop() {
    m_stopped = true;
    for (CStageQueue& q : m_stage) {
        {
            std::lock_guard<std::mutex> lock(q.lock);
            q.quit = true;
            q.abort = true;
        }
        q.wake.notify_all();
        // Joined, not abandoned: the thread uses the queues and the cache.
        if (q.thread.joinable() && q.thread.get_id() != std::this_thread::get_id())
            q.thread.join();
    }
}

void CThumbsBuilderThreads::LockPath(const std::string& path) {
    CMyCS* cs;
    {
        std::lock_guard<std::mutex> lock(m_pathLocksLock);
        auto& entry = m_pathLocks[path];
        if (!entry)
            entry = std::make_unique<CMyCS>();
        ++entry->users;
        cs = entry.get();
    }
    cs->cs.lock();
}

void CThumbsBuilderThreads::UnlockPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_pathLocksLock);
    const auto it = m_pathLocks.find(path);
    if (it == m_pathLocks.end())
        return;
    it->second->cs.unlock();
    if (--it->second->users == 0)
        m_pathLocks.erase(it);
}

std::vector<std::string> CThumbsBuilderThreads::QueuedPaths(int stage) const {
    const CStageQueue& q = m_stage[stage];
    std::lock_guard<std::mutex> lock(q.lock);
    return {q.paths.begin(), q.paths.end()};
}

bool CThumbsBuilderThreads::WaitIdle(int milliseconds) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        bool idle = true;
        for (const CStageQueue& q : m_stage) {
            std::lock_guard<std::mutex> lock(q.lock);
            idle = idle && q.paths.empty() && !q.busy && !q.work;
        }
        if (idle)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool CThumbsBuilderThreads::Aborted(int stage) const {
    return m_stage[stage].abort || m_stopped;
}

void CThumbsBuilderThreads::StageProc(int stage) {
    LowerThisThread(kNiceOfStage[stage]);
    CStageQueue& q = m_stage[stage];
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(q.lock);
            // Quit wins over work, so Stop never waits for a long queue.
            q.wake.wait(lock, [&q] { return q.quit || q.work; });
            if (q.quit)
                return;
            q.work = false;
            q.busy = true;
        }
        BuildBatch(stage);
        {
            std::lock_guard<std::mutex> lock(q.lock);
            q.busy = false;
        }
        if (stage + 1 < kStages) {
            CStageQueue& next = m_stage[stage + 1];
            {
                std::lock_guard<std::mutex> lock(next.lock);
                if (next.paths.empty())
                    continue;
                next.work = true;
            }
            next.wake.notify_all();
        }
    }
}

void CThumbsBuilderThreads::BuildBatch(int stage) {
    CStageQueue& q = m_stage[stage];
    {
        std::lock_guard<std::mutex> lock(q.lock);
        if (q.paths.empty() || q.quit)
            return;
        q.abort = false;
    }
    for (;;) {
        if (Aborted(stage))
            return;
        std::string path;
        {
            std::lock_guard<std::mutex> lock(q.lock);
            if (q.paths.empty())
                return;
            path = q.paths.front();
        }
        bool goOn = true;
        try {
            goOn = BuildPath(stage, path);
        } catch (...) {
            // A file that makes a reader throw counts as one that failed to load.
        }
        if (!goOn)
            return;
        RemoveFirst(stage, path);
    }
}

bool CThumbsBuilderThreads::BuildPath(int stage, const std::string& path) {
    CFileStatus status;
    if (!CFile::GetStatus(path, status))
        return true;  // vanished since it was listed: dropped
    ThumbItemPtr item;
    {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.LookupWithLoad(path, item);
        if (item &&
            (item->m_fileTime != status.m_mtime || (stage == 0 && m_rebuild && !item->HasThumbnail()))) {
            ThumbItemPtr cached;
            if (g_ThumbCache.Lookup(path, cached) && cached == item)
                g_ThumbCache.RemoveKey(path);
            item.reset();
        }
    }
    CThumbsBrowserThreadsProgress progress(m_stage[stage].abort);
    const bool readable = BrowserHost().IsReadableImageFile(path);
    if (item) {
        if (item->m_final && (!readable || item->m_stored[0] >= 0))
            return true;
        if (stage == 0) {
            Append(1, path);
            return true;
        }
        // Refined into a copy that replaces the cached item when done.
        ThumbItemPtr refined = NewItem();
        {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            CopyItem(*refined, *item);
        }
        const bool ok = refined->Load(path, true, &progress) != 0;
        if (Aborted(stage))
            return false;
        if (ok) {
            {
                std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
                ThumbItemPtr cached;
                if (g_ThumbCache.Lookup(path, cached) && cached == item)
                    g_ThumbCache.SetAt(path, refined);
            }
            TellClients(path);
        }
        return true;
    }

    ThumbItemPtr fresh = NewItem();
    bool ok = false;
    LockPath(path);
    try {
        CFileStatus again;
        if (CFile::GetStatus(path, again))
            WaitUntilOpenable(stage, path);
        if (!Aborted(stage))
            ok = fresh->Load(path, false, &progress) != 0;
    } catch (...) {
        ok = false;
    }
    UnlockPath(path);
    if (Aborted(stage))
        return false;
    if (!ok)
        return true;
    fresh->m_fileTime = status.m_mtime;
    {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        g_ThumbCache.SetAt(path, fresh);
    }
    TellClients(path);
    if (stage == 0 && readable)
        Append(1, path);
    return true;
}

void CThumbsBuilderThreads::WaitUntilOpenable(int stage, const std::string& path) {
    for (int attempt = 0; attempt < kOpenTries; ++attempt) {
        ++m_openAttempts;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        // A refused permission or a vanished file does not heal by waiting;
        // the load that follows fails at once.
        if (!MayPass(errno))
            return;
        for (int slept = 0; slept < kOpenPauseMs; slept += 50) {
            if (Aborted(stage))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

void CThumbsBuilderThreads::Append(int stage, const std::string& path) {
    std::lock_guard<std::mutex> lock(m_stage[stage].lock);
    m_stage[stage].paths.push_back(path);
}

void CThumbsBuilderThreads::RemoveFirst(int stage, const std::string& path) {
    CStageQueue& q = m_stage[stage];
    std::lock_guard<std::mutex> lock(q.lock);
    const auto it = std::find(q.paths.begin(), q.paths.end(), path);
    if (it != q.paths.end())
        q.paths.erase(it);
}

void ReplaceWork(const std::vector<std::string>& paths, bool rebuild) {
    // The stages use Qt's image code, which goes with the application
    // object: they end before it does, not in a static destructor after it.
    static std::once_flag stopsWithTheApplication;
    if (QCoreApplication::instance())
        std::call_once(stopsWithTheApplication, [] { qAddPostRoutine(StopThumbsBuilder); });
    g_ThumbsBuilderThreads.ReplaceWork(paths, rebuild);
}

void Prioritize(const std::vector<std::string>& paths) {
    g_ThumbsBuilderThreads.Prioritize(paths);
}

void StopThumbsBuilder() {
    g_ThumbsBuilderThreads.Stop();
    g_ThumbRequestQueue.Stop();
}
