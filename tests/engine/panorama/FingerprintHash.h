#pragma once
// A 64-bit FNV-1a hash of a build's outputs, for the fingerprint tests that
// guard both panorama models' results while their code is reorganised.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "DibManager.h"
#include "MatchGraph.h"
#include "PanoElement.h"
#include "PanoramaFixtures.h"
#include "PanoramaLib.h"
#include "TestData.h"

namespace FingerprintHash {

class Fnv {
public:
    void Add(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= p[i];
            hash_ *= 0x100000001b3ULL;
        }
    }
    template <typename T>
    void AddValue(const T& v) {
        Add(&v, sizeof v);
    }
    template <typename T>
    void AddVector(const std::vector<T>& v) {
        AddValue(v.size());
        if (!v.empty())
            Add(v.data(), v.size() * sizeof(T));
    }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

// Every node and every edge with its transform, residual and match lists.
inline void AddGraph(Fnv& hash, const match_graph::CGraph& graph) {
    for (const match_graph::CNode* n : graph.Nodes())
        hash.AddValue(n->imageIndex);
    for (const match_graph::CEdge* e : graph.Edges()) {
        hash.AddValue(e->firstImage);
        hash.AddValue(e->secondImage);
        hash.Add(e->transform, sizeof e->transform);
        hash.AddValue(e->residual);
        hash.AddVector(e->inliers1);
        hash.AddVector(e->inliers2);
        hash.AddVector(e->outliers1);
        hash.AddVector(e->outliers2);
        hash.AddVector(e->inlierScores);
        hash.AddVector(e->outlierScores);
    }
}

// The picture's size and the bytes of its rows (stride padding left out).
inline void AddPixels(Fnv& hash, PanoramaLib::IPanoElement* result) {
    const int w = result->GetWidth(), h = result->GetHeight();
    const int rowBytes = (w * result->GetBpp() + 7) / 8;
    hash.AddValue(w);
    hash.AddValue(h);
    for (int y = 0; y < h; ++y)
        hash.Add(result->GetBits() + static_cast<std::ptrdiff_t>(y) * result->GetStride(), rowBytes);
}

// The JPEG photos of a shared set in name order, loaded through an image
// manager of their own for as long as this lives.
class PhotoSet {
public:
    explicit PhotoSet(const std::string& set) : previous_(g_pDibManager) {
        g_pDibManager = &manager_;
        for (const auto& f : PanoramaFixtures::JpegsByName(TestData::Photo(set))) {
            PanoramaLib::IPanoElement* e = CreatePanoElement(0);
            const std::string path = f.string();
            EXPECT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << path;
            photos.push_back(e);
        }
    }
    PhotoSet(const PhotoSet&) = delete;
    PhotoSet& operator=(const PhotoSet&) = delete;
    ~PhotoSet() {
        ReleaseElementVector(photos);
        g_pDibManager = previous_;
    }

    std::vector<PanoramaLib::IPanoElement*> photos;

private:
    CDibManager manager_;
    PanoramaLib::IDibManager* previous_;
};

}  // namespace FingerprintHash
