#pragma once
// Multi-band blending of a warped photo into the result: Laplacian pyramids
// of both over their overlap, merged band by band with a Gaussian pyramid of
// the photo's mask as weight, so seams are soft for coarse structure and
// sharp for fine detail. 8-bit samples, integer arithmetic throughout.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "OrvexBase.h"
#include "PanoElement.h"

namespace LaplacianPyramid {

// A level's plane could not be allocated; never leaves the blender.
class outofmemory {};

class PlanePool;

// One 8-bit plane of a pyramid, rows 4-byte aligned, zero-filled.
class CLevel : public OrvexBase::RefCounter {
public:
    // Throws outofmemory when the plane cannot be allocated. With a pool the
    // plane comes from it and goes back to it; zeroFill false leaves a pooled
    // plane as it was, for a caller that writes every sample.
    CLevel(std::int32_t width, std::int32_t height, PlanePool* pool = nullptr, bool zeroFill = true);
    ~CLevel() override;
    CLevel(const CLevel&) = delete;
    CLevel& operator=(const CLevel&) = delete;
    void AddRef() { AddRefImpl(); }
    void Release() { ReleaseImpl(); }

    std::uint8_t* Row(std::int32_t y) { return plane + static_cast<std::size_t>(y) * stride; }
    const std::uint8_t* Row(std::int32_t y) const { return plane + static_cast<std::size_t>(y) * stride; }

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint8_t* plane = nullptr;

private:
    PlanePool* pool = nullptr;
    std::size_t capacity = 0;  // bytes of plane, at least stride * height
};

// Planes given back by released levels, kept for the next level that fits
// in one: a blend makes and drops hundreds of levels, the blends of one
// panorama have similar sizes, and fresh memory costs a page fault per page
// on first touch. What is kept never exceeds the most that was in use at once.
class PlanePool {
public:
    PlanePool() = default;
    ~PlanePool();
    PlanePool(const PlanePool&) = delete;
    PlanePool& operator=(const PlanePool&) = delete;
    // At least bytes, zero-filled (the first bytes) unless asked not to; null
    // when it cannot be allocated. *capacity gets the plane's real size.
    std::uint8_t* Take(std::size_t bytes, bool zeroFill, std::size_t* capacity);
    void Give(std::uint8_t* plane, std::size_t capacity);
    // Frees kept planes, largest first, until at most keep bytes are kept.
    void Trim(std::size_t keep);

private:
    std::mutex lock;
    std::multimap<std::size_t, std::uint8_t*> free;
    std::size_t freeBytes = 0;
    std::size_t inUse = 0;
    std::size_t peakInUse = 0;
};

// Level 0 is the finest.
using Pyramid = std::vector<OrvexBase::RefPtr<CLevel>>;

// Work memory kept between calls, handed out uninitialised: its users write
// every element first, from all threads, so its pages are first touched in
// parallel. Throws std::bad_alloc.
template <class T>
class ScratchPlane {
public:
    T* Get(std::size_t n) {
        if (n > size) {
            data.reset();
            data.reset(new T[n]);
            size = n;
        }
        return data.get();
    }
    void Clear() {
        data.reset();
        size = 0;
    }
    std::size_t Bytes() const { return size * sizeof(T); }

private:
    std::unique_ptr<T[]> data;
    std::size_t size = 0;
};

// Where levels come from; every level (temporaries included) is made here.
// One factory may serve the blends of a whole panorama, one after another.
class LevelFactory {
public:
    virtual ~LevelFactory() = default;
    // A new level with one reference; throws outofmemory.
    virtual CLevel* NewLevel(std::int32_t width, std::int32_t height);
    // Like NewLevel (and through it), for a level whose every sample the
    // caller writes: the zero fill is skipped.
    CLevel* NewWrittenLevel(std::int32_t width, std::int32_t height);

    // Work planes of the blender's fills, kept with the levels.
    ScratchPlane<std::uint8_t> coverage;
    ScratchPlane<std::int32_t> fillWork;
    // Between blends: keeps at most about keep bytes of free planes and
    // work planes, so that large photos do not hold their blend's memory
    // while the next one is warped.
    void Trim(std::size_t keep);

private:
    PlanePool pool;
    bool zeroFill = true;
};

// (1, 5, 8, 5, 1) / 20 both ways: w x h (odd) -> (w/2 + 1) x (h/2 + 1).
CLevel* Reduce(const CLevel& level, LevelFactory& factory);
// a x b -> (2a - 1) x (2b - 1), vertical first.
CLevel* Expand(const CLevel& level, LevelFactory& factory);
// Turns a one-level pyramid into a Laplacian (or, with laplacian false, a
// Gaussian) pyramid of the given number of levels.
void BuildPyramid(Pyramid& pyramid, int levels, bool laplacian, LevelFactory& factory);
// Adds the expanded coarser levels back until only level 0 remains.
void Collapse(Pyramid& pyramid, LevelFactory& factory);

// Every sample not covered takes the values of the nearest covered sample
// along its row or column (distance first, then left, right, up, down);
// without one it stays. coverage is width x height, row-major, non-zero =
// covered. Linear time; the planes share one size. scratch, when given, is
// reused for the work plane.
void FillFromNearestCovered(CLevel* const channels[3], const std::uint8_t* coverage,
                            ScratchPlane<std::int32_t>* scratch = nullptr);

}  // namespace LaplacianPyramid

class LaplacianBlender {
public:
    // levels (when given) must outlive the blender; null uses plain allocation.
    explicit LaplacianBlender(LaplacianPyramid::LevelFactory* levels = nullptr);
    ~LaplacianBlender();
    LaplacianBlender(const LaplacianBlender&) = delete;
    LaplacianBlender& operator=(const LaplacianBlender&) = delete;

    // Blends second under first over their overlap. True also when there is
    // nothing to do; false when a level could not be allocated or an element
    // is not 24-bit.
    bool Blend(std::int32_t levels, CPanoElement* first, CPanoElement* second);
    // Writes the blended overlap into target (the second element of Blend)
    // and releases the levels; nothing unless a blend has completed.
    void WriteResult(CPanoElement* target);

    const OrvexBase::Rect& GetOverlapRect() const { return overlap; }
    const OrvexBase::Rect& GetPaddedRect() const { return padded; }
    bool IsDone() const { return done; }

private:
    void ReleaseLevels();
    void Fill(CPanoElement* element, LaplacianPyramid::CLevel* const channels[3],
              LaplacianPyramid::CLevel* mask);

    LaplacianPyramid::LevelFactory defaultFactory;
    LaplacianPyramid::LevelFactory* factory;
    LaplacianPyramid::Pyramid first[3];
    LaplacianPyramid::Pyramid second[3];
    LaplacianPyramid::Pyramid mask;
    OrvexBase::Rect padded;
    OrvexBase::Rect overlap;
    bool done = false;
    CPanoElement* firstElement = nullptr;
};
