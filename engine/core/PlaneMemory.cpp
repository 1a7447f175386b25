#include "PlaneMemory.h"

#include "EngineServices.h"

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace PlaneMemory {

namespace {

// Mapped blocks are rounded to 2 MB, so a kept block fits the next request
// of about its size. They are not asked to be huge pages: on a virtual
// machine a huge page's first touch (zeroing, and compaction to find one)
// made the same render take up to three times as long now and then.
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t MappedBytes(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// The blocks kept while a KeepFreedBlocks lives: few and large, so a list.
class Kept {
public:
    // A kept block of at least mapped bytes (and at most twice that), cut to
    // mapped; null when none.
    void* Take(std::size_t mapped) {
        std::lock_guard<std::mutex> hold(lock_);
        auto best = blocks_.end();
        for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
            if (it->mapped >= mapped && it->mapped / 2 <= mapped &&
                (best == blocks_.end() || it->mapped < best->mapped))
                best = it;
        if (best == blocks_.end())
            return nullptr;
        Block b = *best;
        blocks_.erase(best);
        bytes_ -= b.mapped;
        if (b.mapped > mapped)
            munmap(static_cast<char*>(b.block) + mapped, b.mapped - mapped);
        return b.block;
    }
    // Before mapping a new block: gives back at least mapped bytes of kept
    // blocks (or all of them), oldest first.
    void MakeRoom(std::size_t mapped) {
        std::lock_guard<std::mutex> hold(lock_);
        std::size_t freed = 0;
        while (!blocks_.empty() && freed < mapped) {
            freed += blocks_.front().mapped;
            Drop(blocks_.begin());
        }
    }
    // False when nothing is being kept: the caller unmaps the block.
    bool Keep(void* block, std::size_t mapped) {
        std::lock_guard<std::mutex> hold(lock_);
        if (keepers_ == 0 || mapped > kKeptBytes)
            return false;
        try {
            blocks_.push_back(Block{block, mapped});
        } catch (...) {
            return false;
        }
        bytes_ += mapped;
        while (bytes_ > kKeptBytes || blocks_.size() > kKeptBlocks)
            Drop(blocks_.begin());
        return true;
    }
    void Enter() {
        std::lock_guard<std::mutex> hold(lock_);
        ++keepers_;
    }
    void Leave() {
        std::lock_guard<std::mutex> hold(lock_);
        if (--keepers_ == 0)
            DropAll();
    }
    void DropAll() {
        while (!blocks_.empty())
            Drop(blocks_.begin());
    }
    void GiveBack() {
        std::lock_guard<std::mutex> hold(lock_);
        DropAll();
    }

private:
    static constexpr std::size_t kKeptBytes = std::size_t(32) << 20;
    static constexpr std::size_t kKeptBlocks = 4;
    struct Block {
        void* block;
        std::size_t mapped;
    };
    void Drop(std::vector<Block>::iterator it) {
        munmap(it->block, it->mapped);
        bytes_ -= it->mapped;
        blocks_.erase(it);
    }

    std::mutex lock_;
    std::vector<Block> blocks_;
    std::size_t bytes_ = 0;
    int keepers_ = 0;
};

// Never destroyed: blocks may be given back during the program's exit.
Kept& TheKept() {
    static Kept* const kept = new Kept;
    return *kept;
}

}  // namespace

// glibc gives
// each thread that allocates at the same time as another an arena of its
// own (up to eight per core): every worker then grows and trims its own heap
// as a build's stages come and go, and each new page costs a fault. Two
// arenas share that memory between the threads. A fixed mmap threshold at
// kMappedFrom keeps blocks below it in the heap instead of mapping them
// afresh until glibc's own threshold has risen past them (which takes a free
// of a larger one first); blocks above it are ours to map anyway. Free heap
// is kept up to twice that, as glibc would for that threshold (a larger one
// measured up to a tenth more peak memory on one thread); the stages give
// it back through GiveBackFreeHeap. Measured on a ring of photos at eight
// threads: a fifth fewer page faults, and no more peak memory.
bool TuneHeap() noexcept {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_MMAP_THRESHOLD, int(kMappedFrom));
    mallopt(M_TRIM_THRESHOLD, int(2 * kMappedFrom));
    return true;
#else
    return false;
#endif
}

namespace {

// A mapped block for bytes (at least one), zero-filled; with populate its
// first bytes' pages are made resident too.
void* Map(std::size_t bytes, bool populate) {
    const std::size_t mapped = MappedBytes(bytes);
    if (void* kept = TheKept().Take(mapped)) {
        std::memset(kept, 0, bytes);
        return kept;
    }
    TheKept().MakeRoom(mapped);
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
#if defined(MADV_POPULATE_WRITE)
    if (populate) {
        // A chunk per call: one call for the whole block would hold the
        // process's memory map for as long, stalling every other thread's
        // page faults and mappings meanwhile.
        constexpr std::size_t kChunk = std::size_t(2) << 20, kPage = 4096;
        const std::size_t used = (bytes + kPage - 1) / kPage * kPage;
        for (std::size_t at = 0; at < used; at += kChunk)
            madvise(static_cast<char*>(p) + at, std::min(kChunk, used - at), MADV_POPULATE_WRITE);
    }
#else
    (void)populate;
#endif
    return p;
}

void Unmap(void* block, std::size_t bytes) {
    if (!TheKept().Keep(block, MappedBytes(bytes)))
        munmap(block, MappedBytes(bytes));
}

}  // namespace

void* Allocate(std::size_t bytes) noexcept {
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom)
        return std::calloc(1, bytes);
    return Map(bytes, false);
}

void Free(void* block, std::size_t bytes) noexcept {
    if (!block)
        return;
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom) {
        std::free(block);
        return;
    }
    Unmap(block, bytes);
}

// The address sanitizer watches the heap, not mappings: under it populated
// blocks come from the heap at their exact size, so that a read past a
// plane's end is caught.
void* AllocatePopulated(std::size_t bytes) noexcept {
    if (bytes == 0)
        bytes = 1;
#if defined(__SANITIZE_ADDRESS__)
    return std::calloc(1, bytes);
#else
    return Map(bytes, true);
#endif
}

void FreePopulated(void* block, std::size_t bytes) noexcept {
    if (!block)
        return;
    if (bytes == 0)
        bytes = 1;
#if defined(__SANITIZE_ADDRESS__)
    std::free(block);
#else
    Unmap(block, bytes);
#endif
}

KeepFreedBlocks::KeepFreedBlocks() noexcept {
    TheKept().Enter();
}

KeepFreedBlocks::~KeepFreedBlocks() {
    TheKept().Leave();
}

void KeepFreedBlocks::GiveBackKept() noexcept {
    TheKept().GiveBack();
}

void GiveBackFreeHeap() noexcept {
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 33)
    // A little free heap is cheaper kept: the next stage allocates it again,
    // and each page given back costs a fault then (on a virtual machine,
    // tens of microseconds).
    constexpr std::size_t kKeptHeap = std::size_t(32) << 20;
    if (mallinfo2().fordblks > kKeptHeap)
        malloc_trim(0);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace PlaneMemory

bool TuneHeapForEngine() noexcept {
    return PlaneMemory::TuneHeap();
}
