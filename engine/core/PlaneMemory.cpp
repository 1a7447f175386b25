#include "PlaneMemory.h"

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>

namespace PlaneMemory {

namespace {

// Mapped blocks are whole huge pages and ask for them: on a virtual machine
// each page fault costs tens of microseconds, and one fault then brings in
// 2 MB instead of 4 KB.
constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t MappedBytes(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* Allocate(std::size_t bytes) noexcept {
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom)
        return std::calloc(1, bytes);
    const std::size_t mapped = MappedBytes(bytes);
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(p, mapped, MADV_HUGEPAGE);
#endif
    return p;
}

void Free(void* block, std::size_t bytes) noexcept {
    if (!block)
        return;
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom)
        std::free(block);
    else
        munmap(block, MappedBytes(bytes));
}

void GiveBackFreeHeap() noexcept {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace PlaneMemory
