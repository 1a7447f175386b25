#pragma once
// The repository's sample photos, which the program's road tests open: the
// boat row, six overlapping photos in order.

#include <string>
#include <vector>

namespace SamplePhotos {

inline std::string BoatRowFolder() {
    return std::string(OVH_SAMPLES_DIR) + "/boat-row";
}

// Photo i (1 to 6) of the boat row.
inline std::string Boat(int i) {
    return BoatRowFolder() + "/boat" + std::to_string(i) + ".jpg";
}

// The first count photos of the row.
inline std::vector<std::string> BoatRow(int count = 6) {
    std::vector<std::string> photos;
    for (int i = 1; i <= count; ++i)
        photos.push_back(Boat(i));
    return photos;
}

}  // namespace SamplePhotos
