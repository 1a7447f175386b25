#include "PlaneMemory.h"

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>

namespace PlaneMemory {

void* Allocate(std::size_t bytes) noexcept {
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom)
        return std::calloc(1, bytes);
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void Free(void* block, std::size_t bytes) noexcept {
    if (!block)
        return;
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMappedFrom)
        std::free(block);
    else
        munmap(block, bytes);
}

void GiveBackFreeHeap() noexcept {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace PlaneMemory
