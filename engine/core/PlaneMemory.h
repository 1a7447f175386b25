#pragma once
// Memory for large pixel planes, taken from and given back to the system
// directly. glibc serves a large block from a thread's arena once an earlier
// large block was freed (its mmap threshold grows), and an arena keeps freed
// memory it cannot trim; pictures and masks that come and go between stages
// would then stay resident long after they are gone. Mapped pages also come
// zeroed, so a zero-filled plane costs no writes until it is used.

#include <cstddef>
#include <utility>

namespace PlaneMemory {

// Blocks of at least this many bytes are mapped; smaller ones use the heap,
// whose recycled pages cost no page fault (on a virtual machine a fault costs
// far more than clearing the page), and the planes of a build below this
// size come and go by the hundred.
constexpr std::size_t kMappedFrom = std::size_t(4) << 20;

// Zero-filled memory for bytes (at least one), or null when there is none.
void* Allocate(std::size_t bytes) noexcept;
// Gives back a block of Allocate; bytes must be the size it was asked with.
void Free(void* block, std::size_t bytes) noexcept;

// Like Allocate, but the block is mapped whatever its size, and its pages
// are made resident here, a few calls for the whole block, rather than by
// one fault each on first touch; on a virtual machine those faults are a
// large part of the time of work that fills a fresh plane once (a feature
// detection). Give it back with FreePopulated.
void* AllocatePopulated(std::size_t bytes) noexcept;
void FreePopulated(void* block, std::size_t bytes) noexcept;

// While one of these lives (on any thread), mapped blocks given back are kept
// and handed out again, zero-filled, by the next Allocate they can hold,
// instead of going back to the system: a fresh page costs a fault and the
// kernel's clearing of it, which on a virtual machine costs several times
// the memset. Work that frees and makes planes of similar sizes one after
// another (a render, photo by photo) holds one for its length. When a block
// must be mapped anyway, kept blocks of its size go first, so that keeping
// them does not raise the peak; the last one to end gives them all back.
class KeepFreedBlocks {
public:
    KeepFreedBlocks() noexcept;
    ~KeepFreedBlocks();
    KeepFreedBlocks(const KeepFreedBlocks&) = delete;
    KeepFreedBlocks& operator=(const KeepFreedBlocks&) = delete;
    // Gives back what is kept so far (keeping goes on): before work whose
    // memory comes from elsewhere, so that the blocks do not add to its peak.
    void GiveBackKept() noexcept;
};

// Sets the heap up for the engine's threads (fewer arenas, fixed mapping and
// trim thresholds, so a build's pages are not given back and faulted in
// again); a program calls it once at its start, before its threads. It
// changes the whole process's heap, so only programs that run the engine
// call it. False where the settings do not apply (other C libraries, the
// sanitizers).
bool TuneHeap() noexcept;

// Returns the heap's free pages to the system once more than a few tens of
// megabytes are free. Called between the stages of a build: blocks a stage
// freed on worker threads otherwise stay resident in their arenas through
// the stages after it.
void GiveBackFreeHeap() noexcept;

// An owned, zero-filled array of count values of T (a trivial type).
template <class T>
class Buffer {
public:
    Buffer() = default;
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          count_(std::exchange(other.count_, 0)),
          populated_(other.populated_) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            count_ = std::exchange(other.count_, 0);
            populated_ = other.populated_;
        }
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { reset(); }

    // An empty buffer when the memory cannot be had (or the size overflows);
    // a count of zero still gives a valid pointer, like new T[0].
    static Buffer Zeroed(std::size_t count) noexcept { return Make(count, false); }
    // The same from AllocatePopulated.
    static Buffer Populated(std::size_t count) noexcept { return Make(count, true); }

    T* get() const noexcept { return data_; }
    std::size_t size() const noexcept { return count_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }
    void reset() noexcept {
        if (data_)
            (populated_ ? FreePopulated : Free)(data_, count_ * sizeof(T));
        data_ = nullptr;
        count_ = 0;
    }

private:
    static Buffer Make(std::size_t count, bool populated) noexcept {
        Buffer b;
        if (count > static_cast<std::size_t>(-1) / sizeof(T))
            return b;
        b.data_ = static_cast<T*>((populated ? AllocatePopulated : Allocate)(count * sizeof(T)));
        b.count_ = b.data_ ? count : 0;
        b.populated_ = populated;
        return b;
    }

    T* data_ = nullptr;
    std::size_t count_ = 0;
    bool populated_ = false;
};

}  // namespace PlaneMemory
