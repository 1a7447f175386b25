#pragma once
// One small pool of worker threads for data-parallel loops (rows of a warp or a
// blend, pairs of photos). Each index is handed to exactly one worker and the
// caller writes results to disjoint places, so outputs are byte-identical with
// one or many threads. Progress and cancel stay on the calling thread.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform {

class ThreadPool {
public:
    // threads == 0: one per hardware thread.
    explicit ThreadPool(unsigned threads = 0);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    unsigned ThreadCount() const { return static_cast<unsigned>(workers_.size()) + 1; }

    // Calls body(begin, end) over consecutive chunks of [begin, end) and returns
    // when all are done; the calling thread takes part. The first exception
    // thrown by a chunk is rethrown here after the others have finished. A
    // loop started inside a chunk runs inline on that thread.
    void ParallelFor(std::size_t begin, std::size_t end,
                     const std::function<void(std::size_t, std::size_t)>& body, std::size_t grain = 1);

    // The process-wide pool. OVH_THREADS=N in the environment sets its size.
    static ThreadPool& Shared();

    // Makes Shared() answer with another pool while it lives, so tests and
    // benchmarks can compare thread counts in one process.
    class ScopedShared {
    public:
        explicit ScopedShared(ThreadPool& pool);
        ~ScopedShared();
        ScopedShared(const ScopedShared&) = delete;
        ScopedShared& operator=(const ScopedShared&) = delete;

    private:
        ThreadPool* previous_;
    };

private:
    struct Job;
    void WorkerLoop();
    static void RunChunks(Job& job);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;  // workers wait here for a job
    std::condition_variable done_;  // the caller waits here for the last worker
    Job* job_ = nullptr;
    std::size_t wanted_ = 0;  // workers the current job still asks for
    std::size_t generation_ = 0;
    bool quit_ = false;
    std::mutex submit_;  // one ParallelFor at a time
};

// Shorthand for ThreadPool::Shared().ParallelFor.
inline void ParallelFor(std::size_t begin, std::size_t end,
                        const std::function<void(std::size_t, std::size_t)>& body, std::size_t grain = 1) {
    ThreadPool::Shared().ParallelFor(begin, end, body, grain);
}

}  // namespace Platform
