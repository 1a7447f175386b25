#pragma once
// Photos of a project that hold the very same picture: a stitch lays them
// exactly over each other, so the result shows the picture once and nothing
// was joined. The document fingerprints each photo's pixels while they are
// loaded and names such photos to the user after a build.

#include <cstdint>
#include <string>
#include <vector>

namespace PanoramaLib {
class IPanoElement;
}

namespace SamePictures {

struct Fingerprint {
    int width = 0;
    int height = 0;
    int bpp = 0;
    std::uint64_t hash = 0;
    bool operator==(const Fingerprint&) const = default;
};

// Of the element's pixels as they are now (rows only, not the padding of the
// stride); an element without pixels gives the empty fingerprint.
Fingerprint Of(const PanoramaLib::IPanoElement* element);

// The groups (two or more entries, in order of first appearance) of equal
// fingerprints among the given ones; empty fingerprints belong to no group.
std::vector<std::vector<std::size_t>> Groups(const std::vector<Fingerprint>& prints);

}  // namespace SamePictures
