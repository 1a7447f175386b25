#include "ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>

namespace Platform {

namespace {
// Set while a thread runs chunks of a job: a loop nested in a chunk then runs
// inline instead of waiting for the pool it is part of.
thread_local bool t_inJob = false;
}  // namespace

struct ThreadPool::Job {
    std::size_t begin = 0, end = 0, chunk = 1;
    const std::function<void(std::size_t, std::size_t)>* body = nullptr;
    std::atomic<std::size_t> next{0};
    std::atomic<unsigned> active{0};
    std::mutex errorMutex;
    std::exception_ptr error;
};

ThreadPool::ThreadPool(unsigned threads) {
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers_.emplace_back([this] { WorkerLoop(); });
        } catch (...) {
            break;  // fewer workers; the caller still runs every chunk itself
        }
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void ThreadPool::RunChunks(Job& job) {
    const bool wasInJob = t_inJob;
    t_inJob = true;
    for (;;) {
        const std::size_t start = job.begin + job.next.fetch_add(job.chunk);
        if (start >= job.end)
            break;
        const std::size_t stop = std::min(job.end, start + job.chunk);
        try {
            (*job.body)(start, stop);
        } catch (...) {
            std::lock_guard<std::mutex> lock(job.errorMutex);
            if (!job.error)
                job.error = std::current_exception();
        }
    }
    t_inJob = wasInJob;
}

void ThreadPool::WorkerLoop() {
    std::size_t seen = 0;
    for (;;) {
        Job* job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || (job_ && generation_ != seen && wanted_ > 0); });
            if (quit_)
                return;
            seen = generation_;
            --wanted_;
            job = job_;
            job->active.fetch_add(1);
        }
        RunChunks(*job);
        bool last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last = job->active.fetch_sub(1) == 1;
        }
        if (last)
            done_.notify_one();
    }
}

void ThreadPool::ParallelFor(std::size_t begin, std::size_t end,
                             const std::function<void(std::size_t, std::size_t)>& body, std::size_t grain) {
    if (begin >= end)
        return;
    grain = std::max<std::size_t>(grain, 1);
    const std::size_t count = end - begin;
    if (workers_.empty() || count <= grain || t_inJob) {
        body(begin, end);
        return;
    }
    std::lock_guard<std::mutex> submitLock(submit_);
    Job job;
    job.begin = begin;
    job.end = end;
    // A few chunks per thread balance uneven rows without much overhead.
    job.chunk = std::max(grain, count / (ThreadCount() * 4) + 1);
    job.body = &body;
    // Only as many workers as there are chunks beyond the caller's first are
    // woken; the others sleep on.
    const std::size_t chunks = (count + job.chunk - 1) / job.chunk;
    const std::size_t helpers = std::min(workers_.size(), chunks - 1);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        ++generation_;
        wanted_ = helpers;
    }
    if (helpers == workers_.size())
        wake_.notify_all();
    else
        for (std::size_t i = 0; i < helpers; ++i)
            wake_.notify_one();
    RunChunks(job);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;  // no worker picks the job up any more
        wanted_ = 0;
        done_.wait(lock, [&] { return job.active.load() == 0; });
    }
    if (job.error)
        std::rethrow_exception(job.error);
}

namespace {
std::atomic<ThreadPool*> g_override{nullptr};
}

ThreadPool::ScopedShared::ScopedShared(ThreadPool& pool) : previous_(g_override.exchange(&pool)) {}
ThreadPool::ScopedShared::~ScopedShared() {
    g_override.store(previous_);
}

ThreadPool& ThreadPool::Shared() {
    if (ThreadPool* p = g_override.load())
        return *p;
    static ThreadPool pool([] {
        const char* env = std::getenv("OVH_THREADS");
        const long n = env ? std::strtol(env, nullptr, 10) : 0;
        return n > 0 && n < 1024 ? static_cast<unsigned>(n) : 0u;
    }());
    return pool;
}

}  // namespace Platform
