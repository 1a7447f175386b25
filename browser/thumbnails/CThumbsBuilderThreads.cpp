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
constexpr int kNiceOfStage[CThumbsBuilderThreads::kStages] = {0, 5};

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
        m_thread[s] = std::thread([this, s] { StageProc(s); });
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
    // The later stages first: a batch of stage 0 still running for the old
    // work can no longer hand anything on.
    for (int s = kStages - 1; s > 0; --s)
        m_queue[s].Replace({});
    m_queue[0].Replace(paths);
}

void CThumbsBuilderThreads::Prioritize(const std::vector<std::string>& paths) {
    m_queue[0].MoveToFront(paths);
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
    // Every queue closed first, so no stage waits for another's end.
    for (CStageQueue& q : m_queue)
        q.Close();
    for (std::thread& thread : m_thread) {
        // Joined, not abandoned: the thread uses the queues and the cache.
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
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
    if (stage < 0 || stage >= kStages)
        return {};
    return m_queue[stage].Items();
}

bool CThumbsBuilderThreads::WaitIdle(int milliseconds) const {
    const auto end = CStageQueue::Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (const CStageQueue& q : m_queue)
            if (!q.WaitIdleUntil(end))
                return false;
        // A stage hands on only while it runs, so all idle in one look is idle.
        if (std::all_of(std::begin(m_queue), std::end(m_queue), [](const CStageQueue& q) { return q.Idle(); }))
            return true;
    }
}

bool CThumbsBuilderThreads::Aborted(const CBatch& batch) const {
    return !m_queue[batch.stage].IsCurrent(batch.generation);
}

void CThumbsBuilderThreads::StageProc(int stage) {
    LowerThisThread(kNiceOfStage[stage]);
    CStageQueue& q = m_queue[stage];
    while (const std::optional<uint64_t> generation = q.WaitBatch()) {
        const bool last = stage + 1 == kStages;
        const CBatch batch{stage, *generation, last ? 0 : m_queue[stage + 1].Generation()};
        BuildBatch(batch);
        q.EndBatch();
        // The next stage starts once this one has emptied its queue or was aborted.
        if (!last && !m_queue[stage + 1].Empty())
            m_queue[stage + 1].Wake();
    }
}

void CThumbsBuilderThreads::BuildBatch(const CBatch& batch) {
    CStageQueue& q = m_queue[batch.stage];
    // The head is left in place while it is built: Prioritize may put paths before it.
    while (const std::optional<std::string> path = q.FrontFor(batch.generation)) {
        bool goOn = true;
        try {
            goOn = BuildPath(batch, *path);
        } catch (...) {
            // A file that makes a reader throw counts as one that failed to load.
        }
        if (!goOn)
            return;
        q.RemoveFor(batch.generation, *path);
    }
}

bool CThumbsBuilderThreads::BuildPath(const CBatch& batch, const std::string& path) {
    const int stage = batch.stage;
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
    CThumbsBrowserThreadsProgress progress(m_queue[stage], batch.generation);
    const bool readable = BrowserHost().IsReadableImageFile(path);
    if (item) {
        if (item->m_final && (!readable || item->m_stored[0] >= 0))
            return true;
        if (stage == 0) {
            HandOn(batch, path);
            return true;
        }
        // Refined into a copy that replaces the cached item when done.
        ThumbItemPtr refined = NewItem();
        {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            CopyItem(*refined, *item);
        }
        const bool ok = refined->Load(path, true, &progress) != 0;
        if (Aborted(batch))
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
            WaitUntilOpenable(batch, path);
        if (!Aborted(batch))
            ok = fresh->Load(path, false, &progress) != 0;
    } catch (...) {
        ok = false;
    }
    UnlockPath(path);
    if (Aborted(batch))
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
        HandOn(batch, path);
    return true;
}

void CThumbsBuilderThreads::WaitUntilOpenable(const CBatch& batch, const std::string& path) {
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
            if (Aborted(batch))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

void CThumbsBuilderThreads::HandOn(const CBatch& batch, const std::string& path) {
    if (batch.stage + 1 < kStages)
        m_queue[batch.stage + 1].PushFor(batch.nextGeneration, path);
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
