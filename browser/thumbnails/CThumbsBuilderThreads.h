#pragma once
// The thumbnails of the folder the browser shows, built in the background by
// a pipeline of two threads. Stage 0 (normal priority) makes a quick
// thumbnail of every file, a preview stored in the file being good enough,
// and hands every provisional one to stage 1, which remakes it from the whole
// picture at a lower priority once stage 0 has gone idle. Each stage owns its
// queue (WorkQueue.h); a new folder's work starts a new generation in both,
// which ends the batches of the old one. Finished thumbnails go into
// g_ThumbCache and every client hears of each one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Formgate.h"
#include "ThumbRequests.h"
#include "WorkQueue.h"

// A client of the builder (the browser). Called on the builder's threads,
// so an implementation only posts to its windows.
class IThumbUpdate {
public:
    virtual ~IThumbUpdate() = default;
    // The thumbnail of path is in the cache; value is always 0.
    virtual void OnThumbReady(const std::string& path, int value) = 0;
};

class CThumbsBuilderThreads {
public:
    static constexpr int kStages = 2;
    // Makes the item a thumbnail is built into (a CPaletteItemImg unless
    // given; tests count or slow down the loads).
    using ItemFactory = std::function<ThumbItemPtr()>;

    // Starts the stage threads, idle until work comes.
    explicit CThumbsBuilderThreads(ItemFactory factory = {});
    virtual ~CThumbsBuilderThreads();
    CThumbsBuilderThreads(const CThumbsBuilderThreads&) = delete;
    CThumbsBuilderThreads& operator=(const CThumbsBuilderThreads&) = delete;

    // Replaces all work by paths: stage 1 is emptied, stage 0 gets the
    // list, and any running batch stops at its next path or inside its
    // load. With rebuild, cached items without a thumbnail are made anew.
    void ReplaceWork(const std::vector<std::string>& paths, bool rebuild);
    // Moves paths (the visible ones without a thumbnail) to the head of
    // stage 0's queue in their order, adding those not queued; wakes nothing.
    void Prioritize(const std::vector<std::string>& paths);

    void AddClient(IThumbUpdate* client);
    // Removes every occurrence; once it returns, the client is not called again.
    void RemoveClient(IThumbUpdate* client);

    // Stops every stage and waits for each thread; a running load is
    // cancelled through its progress object. Later work is ignored.
    void Stop();
    bool IsStopped() const { return m_stopped; }

    // One thread at a time builds a new item for a path.
    void LockPath(const std::string& path);
    void UnlockPath(const std::string& path);

    // For tests and benchmarks: a stage's queue (empty for a stage that
    // does not exist), and a wait until every queue is empty and no batch
    // runs (false after the time-out).
    std::vector<std::string> QueuedPaths(int stage) const;
    bool WaitIdle(int milliseconds) const;
    // How often a file was opened to see that it can be read.
    int OpenAttempts() const { return m_openAttempts; }

    // A file that cannot be opened for a reason that may pass is tried this
    // often, with this pause between tries.
    static constexpr int kOpenTries = 8;
    static constexpr int kOpenPauseMs = 500;

private:
    using CStageQueue = CWorkQueue<std::string>;

    // The cancel source of one batch's loads: go on while its generation is current.
    class CThumbsBrowserThreadsProgress : public CProgress {
    public:
        CThumbsBrowserThreadsProgress(const CStageQueue& queue, uint64_t generation)
            : m_queue(queue), m_generation(generation) {}
        void Begin() override {}
        void End() override {}
        int Step(int, int) override { return m_queue.IsCurrent(m_generation) ? 1 : 0; }

    private:
        const CStageQueue& m_queue;
        uint64_t m_generation;
    };

    // What a batch works for: its own generation, and the generation of the
    // next stage's queue that its hand-offs belong to.
    struct CBatch {
        int stage;
        uint64_t generation;
        uint64_t nextGeneration;
    };

    struct CMyCS {
        std::mutex cs;
        int users = 0;
    };

    void StageProc(int stage);
    void BuildBatch(const CBatch& batch);
    // One path of a batch; false when the batch is to end (aborted).
    bool BuildPath(const CBatch& batch, const std::string& path);
    bool Aborted(const CBatch& batch) const;
    void WaitUntilOpenable(const CBatch& batch, const std::string& path);
    // Hands path to the next stage, unless the batch's work was replaced.
    void HandOn(const CBatch& batch, const std::string& path);
    void TellClients(const std::string& path);
    ThumbItemPtr NewItem() const;

    CStageQueue m_queue[kStages];
    std::thread m_thread[kStages];
    std::mutex m_clientsLock;
    std::vector<IThumbUpdate*> m_clients;
    std::mutex m_pathLocksLock;
    std::map<std::string, std::unique_ptr<CMyCS>> m_pathLocks;
    std::atomic<bool> m_rebuild{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_openAttempts{0};
    ItemFactory m_factory;
};

// The program's one builder; its threads run from start-up.
extern CThumbsBuilderThreads g_ThumbsBuilderThreads;

// Forward to g_ThumbsBuilderThreads.
void ReplaceWork(const std::vector<std::string>& paths, bool rebuild);
void Prioritize(const std::vector<std::string>& paths);
// At exit: stops the builder's threads and the thumbnail request thread.
void StopThumbsBuilder();
