#include "ThreadPool.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <limits>

namespace Platform {

namespace {

// Set while a thread runs chunks of a job: a loop nested in a chunk then runs
// inline, or on idle workers when the job allows it, instead of queueing
// behind the job it is part of.
thread_local bool t_inJob = false;
thread_local bool t_shareIdle = false;

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

// Sleeps while word still holds expected (or until any wake).
void FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr,
            nullptr, 0);
}

// The word's address is only handed to the kernel: the word may be gone by
// then, and a stray wake is harmless, since every wait re-checks its condition.
void FutexWakeOne(std::atomic<std::uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Loops of a build follow each other within microseconds: a thread that
// waits spins a little before it sleeps, which saves a wake-up call per
// loop. The spin is bounded by what it saves (a sleep and a wake-up cost
// some microseconds), and there is none while the machine has more runnable
// threads than cores: a spinning thread then takes a core another program
// (or another of ours) is waiting for, and costs CPU time it does not save.
constexpr auto kSpin = std::chrono::microseconds(20);

// How often the machine's runnable threads are counted again.
constexpr auto kBusyRecheck = std::chrono::milliseconds(20);

const unsigned kCores = std::max(1u, std::thread::hardware_concurrency());

std::atomic<std::int64_t> g_busyCheckedAt{std::numeric_limits<std::int64_t>::min()};
std::atomic<bool> g_busy{false};

// Whether more threads are runnable than there are cores, counted at most
// once per kBusyRecheck by whichever thread asks first after that.
bool MachineBusy() {
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::int64_t last = g_busyCheckedAt.load(std::memory_order_relaxed);
    // The first ask always counts (now - min would overflow).
    if ((last == std::numeric_limits<std::int64_t>::min() ||
         now - last >= std::chrono::steady_clock::duration(kBusyRecheck).count()) &&
        g_busyCheckedAt.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
        const long runnable = ThreadPool::RunnableThreads();
        g_busy.store(runnable > long(kCores), std::memory_order_relaxed);
    }
    return g_busy.load(std::memory_order_relaxed);
}

// Spins until ready() or the spin time is up; whether ready() was seen. No
// spin on a busy machine.
template <class Ready>
bool SpinFor(bool maySpin, Ready ready) {
    if (!maySpin || MachineBusy())
        return ready();
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (ready())
                return true;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= until)
            return ready();
    }
}

// Slot states besides a pointer to the job a worker is asked to help with.
constexpr std::uintptr_t kIdle = 0;
constexpr std::uintptr_t kBusy = 1;

// Job::pending: tickets not yet finished, and whether the caller sleeps.
constexpr std::uint32_t kCallerAsleep = 0x80000000u;
constexpr std::uint32_t kTicketMask = ~kCallerAsleep;

}  // namespace

struct ThreadPool::Job {
    std::size_t begin = 0, end = 0, chunk = 1;
    InvokeFn invoke = nullptr;
    void* body = nullptr;
    bool shareIdle = false;
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint32_t> pending{0};
    std::mutex errorMutex;
    std::exception_ptr error;
};

struct alignas(64) ThreadPool::Slot {
    std::atomic<std::uintptr_t> state{kIdle};  // kIdle, kBusy or the Job* offered
    std::atomic<std::uint32_t> signal{0};      // bumped to wake the worker
    std::atomic<bool> sleeping{false};
};

ThreadPool::ThreadPool(unsigned threads) {
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    // More threads than cores take turns on them: a spinning one would
    // hold a core the one it waits for needs.
    maySpin_ = threads <= kCores;
    slots_ = std::make_unique<Slot[]>(threads - 1);
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers_.emplace_back([this, i] { WorkerLoop(slots_[i - 1]); });
        } catch (...) {
            break;  // fewer workers; the caller still runs every chunk itself
        }
    }
}

ThreadPool::~ThreadPool() {
    quit_.store(true);
    for (std::size_t i = 0; i < workers_.size(); ++i) {
        slots_[i].signal.fetch_add(1);
        FutexWakeOne(&slots_[i].signal);
    }
    for (std::thread& t : workers_)
        t.join();
}

void ThreadPool::RunChunks(Job& job) {
    const bool wasInJob = t_inJob, wasSharing = t_shareIdle;
    t_inJob = true;
    t_shareIdle = job.shareIdle;
    for (;;) {
        const std::size_t start = job.begin + job.next.fetch_add(job.chunk);
        if (start >= job.end)
            break;
        const std::size_t stop = std::min(job.end, start + job.chunk);
        try {
            job.invoke(job.body, start, stop);
        } catch (...) {
            std::lock_guard<std::mutex> lock(job.errorMutex);
            if (!job.error)
                job.error = std::current_exception();
        }
    }
    t_inJob = wasInJob;
    t_shareIdle = wasSharing;
}

void ThreadPool::FinishTicket(Job& job) {
    std::atomic<std::uint32_t>* word = &job.pending;
    // The caller may return (and the job go away) as soon as this lands.
    if (word->fetch_sub(1) == (kCallerAsleep | 1u))
        FutexWakeOne(word);
}

void ThreadPool::WorkerLoop(Slot& slot) {
    for (;;) {
        std::uintptr_t state = slot.state.load();
        if (state > kBusy) {
            if (slot.state.compare_exchange_strong(state, kBusy)) {
                Job& job = *reinterpret_cast<Job*>(state);
                RunChunks(job);
                slot.state.store(kIdle);  // idle before the caller can return
                FinishTicket(job);
            }
            continue;
        }
        if (quit_.load())
            return;
        const std::size_t opened = openedJobs_.load();
        if (openCount_.load() > 0 && HelpOpenJob(slot))
            continue;
        if (SpinFor(maySpin_, [&] {
                return slot.state.load(std::memory_order_relaxed) > kBusy || quit_.load() ||
                       openedJobs_.load(std::memory_order_relaxed) != opened;
            }))
            continue;
        const std::uint32_t seen = slot.signal.load();
        slot.sleeping.store(true);
        // Paired with the offering thread's store of the job, then its load of
        // sleeping: one of the two sees the other.
        if (slot.state.load() <= kBusy && !quit_.load())
            FutexWait(slot.signal, seen);
        slot.sleeping.store(false);
    }
}

bool ThreadPool::HelpOpenJob(Slot& slot) {
    // Busy while it helps, so that no job is offered to it meanwhile.
    std::uintptr_t idle = kIdle;
    if (!slot.state.compare_exchange_strong(idle, kBusy))
        return false;
    Job* job = nullptr;
    {
        // A ticket taken under the lock is seen by the caller, which closes
        // its job under the same lock before it waits for the tickets.
        std::lock_guard<std::mutex> lock(openMutex_);
        for (Job* j : open_)
            if (j->begin + j->next.load() < j->end) {
                job = j;
                job->pending.fetch_add(1);
                break;
            }
    }
    if (!job) {
        slot.state.store(kIdle);
        return false;
    }
    RunChunks(*job);
    slot.state.store(kIdle);
    FinishTicket(*job);
    return true;
}

std::size_t ThreadPool::IdleWorkers() const {
    std::size_t idle = 0;
    for (std::size_t i = 0; i < workers_.size(); ++i)
        idle += slots_[i].state.load(std::memory_order_relaxed) == kIdle;
    return idle;
}

void ThreadPool::RunJob(Job& job, std::size_t helpers, bool open) {
    if (open) {
        std::lock_guard<std::mutex> lock(openMutex_);
        open_.push_back(&job);
        openCount_.fetch_add(1);
        openedJobs_.fetch_add(1);
    }
    // Offers the job to idle workers only, waking just those that sleep.
    const auto ticket = reinterpret_cast<std::uintptr_t>(&job);
    std::size_t offered = 0;
    for (std::size_t i = 0; i < workers_.size() && offered < helpers; ++i) {
        Slot& slot = slots_[i];
        std::uintptr_t idle = kIdle;
        job.pending.fetch_add(1);
        if (!slot.state.compare_exchange_strong(idle, ticket)) {
            job.pending.fetch_sub(1);
            continue;
        }
        ++offered;
        if (slot.sleeping.load()) {
            slot.signal.fetch_add(1);
            FutexWakeOne(&slot.signal);
        }
    }
    RunChunks(job);
    if (open) {
        std::lock_guard<std::mutex> lock(openMutex_);
        open_.erase(std::find(open_.begin(), open_.end(), &job));
        openCount_.fetch_sub(1);
    }
    // Every chunk is taken: offers not yet picked up are withdrawn.
    for (std::size_t i = 0; i < workers_.size() && offered > 0; ++i) {
        std::uintptr_t mine = ticket;
        if (slots_[i].state.compare_exchange_strong(mine, kIdle)) {
            --offered;
            job.pending.fetch_sub(1);
        }
    }
    auto finished = [&] { return (job.pending.load() & kTicketMask) == 0; };
    if (!SpinFor(maySpin_, finished)) {
        for (;;) {
            std::uint32_t v = job.pending.load();
            if ((v & kTicketMask) == 0)
                break;
            if (!(v & kCallerAsleep)) {
                if (!job.pending.compare_exchange_weak(v, v | kCallerAsleep))
                    continue;
                v |= kCallerAsleep;
            }
            FutexWait(job.pending, v);
        }
    }
    if (job.error)
        std::rethrow_exception(job.error);
}

void ThreadPool::Run(std::size_t begin, std::size_t end, std::size_t grain, Nested nested, InvokeFn invoke,
                     void* body) {
    if (begin >= end)
        return;
    grain = std::max<std::size_t>(grain, 1);
    const std::size_t count = end - begin;
    const bool nestedHere = t_inJob;
    if (workers_.empty() || count <= grain || (nestedHere && !t_shareIdle)) {
        invoke(body, begin, end);
        return;
    }
    Job job;
    job.begin = begin;
    job.end = end;
    job.invoke = invoke;
    job.body = body;
    job.shareIdle = nested == Nested::ShareIdleWorkers;
    if (nestedHere) {
        // Only the workers idle now can help; with none, the loop is the
        // chunk thread's alone.
        const std::size_t idle = IdleWorkers();
        if (idle == 0) {
            invoke(body, begin, end);
            return;
        }
        const std::size_t threads = std::min(idle + 1, (count + grain - 1) / grain);
        job.chunk = std::max(grain, count / (threads * 4) + 1);
        const std::size_t chunks = (count + job.chunk - 1) / job.chunk;
        RunJob(job, std::min(idle, chunks - 1));
        return;
    }
    // A few chunks per thread balance uneven rows without much overhead.
    job.chunk = std::max(grain, count / (ThreadCount() * 4) + 1);
    const std::size_t chunks = (count + job.chunk - 1) / job.chunk;
    RunJob(job, std::min(workers_.size(), chunks - 1), true);
}

long ThreadPool::RunnableThreadsIn(const char* loadavg) {
    // "0.52 0.58 0.59 3/457 12345": the fourth field is runnable/all.
    const char* p = loadavg;
    for (int field = 0; field < 3; ++field) {
        while (*p && *p != ' ')
            ++p;
        while (*p == ' ')
            ++p;
    }
    if (*p < '0' || *p > '9')
        return -1;
    long runnable = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        runnable = runnable * 10 + (*p - '0');
        if (runnable > 1000000000L)
            return -1;
    }
    return *p == '/' ? runnable : -1;
}

long ThreadPool::RunnableThreads() {
    const int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    return RunnableThreadsIn(text);
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
