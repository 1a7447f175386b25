#pragma once
// An image factory for engine tests: it can run out of memory after a given
// number of images, and it counts the times its images read their pixels back
// from their files (decodes).

#include <atomic>
#include <new>

#include "DibManager.h"
#include "PImage.h"

namespace TestDoubles {

// An image that counts the times it reads its pixels back from its file.
class CountingDib : public PanoramaLib::PImage {
public:
    explicit CountingDib(std::atomic<int>& decodes) : decodes_(decodes) {}
    CountingDib(const PanoramaLib::IDib& source, std::atomic<int>& decodes)
        : PanoramaLib::PImage(source), decodes_(decodes) {}
    void Reload() override {
        if (IsUnloaded())
            ++decodes_;
        PanoramaLib::PImage::Reload();
    }

private:
    std::atomic<int>& decodes_;
};

class CountingDibManager : public CDibManager {
public:
    PanoramaLib::IDib* CreateDib(int) override {
        if (budget >= 0 && made++ >= budget)
            return nullptr;
        return new (std::nothrow) CountingDib(decodes);
    }
    PanoramaLib::IDib* CloneDib(PanoramaLib::IDib* source, int) override {
        if (budget >= 0 && made++ >= budget)
            return nullptr;
        return source ? new (std::nothrow) CountingDib(*source, decodes) : nullptr;
    }
    // Analyses run on several threads at once.
    std::atomic<int> budget{-1};
    std::atomic<int> made{0};
    std::atomic<int> decodes{0};
};

}  // namespace TestDoubles
