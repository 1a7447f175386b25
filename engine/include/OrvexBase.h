#pragma once
// Base types of the stitching engine: intrusive reference counting, integer
// sizes and rectangles, and the 3x3 inverse of planar transforms.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

namespace OrvexBase {

// Common base of every engine object handed out through an interface. The
// count starts at 0; each concrete class raises it to 1 at the end of its own
// constructor, so a new object is owned by exactly one reference.
class RefCounter {
public:
    RefCounter() = default;
    RefCounter(const RefCounter&) : refcount(0) {}
    RefCounter& operator=(const RefCounter&) { return *this; }
    virtual ~RefCounter() = default;

protected:
    void AddRefImpl() { refcount.fetch_add(1, std::memory_order_relaxed); }
    void ReleaseImpl() {
        if (refcount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    // Atomic although callers hand references between threads only together
    // with the object; it costs nothing and removes a class of races.
    std::atomic<std::int32_t> refcount{0};

public:
    // For tests and diagnostics only.
    std::int32_t GetRefCount() const { return refcount.load(std::memory_order_relaxed); }
};

// Owns one reference: adopts a raw pointer without AddRef and releases it when
// it goes. Not copyable (a copy would release twice); movable.
template <class T>
class RefPtr {
public:
    RefPtr() = default;
    explicit RefPtr(T* p) : ptr(p) {}
    RefPtr(const RefPtr&) = delete;
    RefPtr& operator=(const RefPtr&) = delete;
    RefPtr(RefPtr&& other) noexcept : ptr(other.Detach()) {}
    RefPtr& operator=(RefPtr&& other) noexcept {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~RefPtr() {
        if (ptr)
            ptr->Release();
    }

    // Gives up ownership without releasing.
    T* Detach() { return std::exchange(ptr, nullptr); }

    void Reset(T* p = nullptr) {
        T* old = std::exchange(ptr, p);
        if (old)
            old->Release();
    }
    T* Get() const { return ptr; }
    T* operator->() const { return ptr; }
    T& operator*() const { return *ptr; }
    explicit operator bool() const { return ptr != nullptr; }

private:
    T* ptr = nullptr;
};

struct Size {
    std::int32_t cx = 0;
    std::int32_t cy = 0;

    Size() = default;
    Size(std::int32_t x, std::int32_t y) : cx(x), cy(y) {}
    bool operator==(const Size& o) const = default;
};

// Right and bottom are exclusive.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    Rect() = default;
    Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
        : left(l), top(t), right(r), bottom(b) {}

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return left >= right || top >= bottom; }
    // Both extents zero; Intersect and Union test this, not IsEmpty.
    bool IsPoint() const { return left == right && top == bottom; }

    Rect Intersect(const Rect& other) const;
    Rect Union(const Rect& other) const;
    bool operator==(const Rect& o) const = default;
};

// Inverse of a row-major 3x3 matrix by the adjugate. A singular matrix gives
// infinities or NaNs; callers test the result.
void InvertMatrix3x3(double result[9], const double m[9]);

}  // namespace OrvexBase

using OrvexBase::InvertMatrix3x3;
