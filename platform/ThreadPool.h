#pragma once
// One small pool of worker threads for data-parallel loops (rows of a warp or a
// blend, pairs of photos). Each index is handed to exactly one worker and the
// caller writes results to disjoint places, so outputs are byte-identical with
// one or many threads. Progress and cancel stay on the calling thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>  // callers still pass std::function bodies
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace Platform {

class ThreadPool {
public:
    // What a loop started inside a chunk of this loop does.
    enum class Nested {
        Inline,            // runs whole on the chunk's thread
        ShareIdleWorkers,  // also runs on workers that have no chunk of their own left
    };

    // threads == 0: one per hardware thread.
    explicit ThreadPool(unsigned threads = 0);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    unsigned ThreadCount() const { return static_cast<unsigned>(workers_.size()) + 1; }

    // Calls body(begin, end) over consecutive chunks of [begin, end) and returns
    // when all are done; the calling thread takes part. The first exception
    // thrown by a chunk is rethrown here after the others have finished. A
    // loop started inside a chunk runs inline on that thread unless the outer
    // loop passed Nested::ShareIdleWorkers; the body must then, as always,
    // give the same result however [begin, end) is cut into chunks.
    template <class Body>
    void ParallelFor(std::size_t begin, std::size_t end, Body&& body, std::size_t grain = 1,
                     Nested nested = Nested::Inline) {
        using F = std::remove_reference_t<Body>;
        Run(begin, end, grain, nested, &Invoke<F>,
            const_cast<void*>(static_cast<const void*>(std::addressof(body))));
    }

    // The process-wide pool. OVH_THREADS=N in the environment sets its size.
    static ThreadPool& Shared();

    // Threads of the whole machine ready to run right now (the running ones
    // included), from /proc/loadavg; -1 when it cannot be read. Waiting
    // threads do not spin while this exceeds the cores.
    static long RunnableThreads();
    // The same count from the text of /proc/loadavg; -1 when malformed.
    static long RunnableThreadsIn(const char* loadavg);

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
    using InvokeFn = void (*)(void* body, std::size_t begin, std::size_t end);
    template <class F>
    static void Invoke(void* body, std::size_t b, std::size_t e) {
        (*static_cast<F*>(body))(b, e);
    }

    struct Job;
    struct Slot;
    void Run(std::size_t begin, std::size_t end, std::size_t grain, Nested nested, InvokeFn invoke,
             void* body);
    void RunJob(Job& job, std::size_t helpers, bool open = false);
    std::size_t IdleWorkers() const;
    void WorkerLoop(Slot& slot);
    static void RunChunks(Job& job);
    static void FinishTicket(Job& job);

    std::vector<std::thread> workers_;
    std::unique_ptr<Slot[]> slots_;  // one per worker
    std::atomic<bool> quit_{false};
    bool maySpin_ = true;  // waiting threads spin a little before they sleep
    // Outermost loops still handing out chunks: a worker that comes free
    // joins one of them, so that loops started side by side from several
    // threads share the workers as each frees up.
    bool HelpOpenJob(Slot& slot);
    std::mutex openMutex_;
    std::vector<Job*> open_;  // under openMutex_
    std::atomic<std::size_t> openCount_{0};
    std::atomic<std::size_t> openedJobs_{0};  // ever opened, so a spinning worker sees a new one
};

// Shorthand for ThreadPool::Shared().ParallelFor.
template <class Body>
void ParallelFor(std::size_t begin, std::size_t end, Body&& body, std::size_t grain = 1,
                 ThreadPool::Nested nested = ThreadPool::Nested::Inline) {
    ThreadPool::Shared().ParallelFor(begin, end, std::forward<Body>(body), grain, nested);
}

}  // namespace Platform
