#include "ProductVersion.h"

#ifndef OVH_VERSION_MAJOR
#define OVH_VERSION_MAJOR 0
#define OVH_VERSION_MINOR 0
#endif
#ifndef OVH_VERSION_PATCH
#define OVH_VERSION_PATCH 0
#endif
#ifndef OVH_VERSION_TWEAK
#define OVH_VERSION_TWEAK 0
#endif

namespace ProductVersion {

std::array<int, 4> Parts() {
    return {OVH_VERSION_MAJOR, OVH_VERSION_MINOR, OVH_VERSION_PATCH, OVH_VERSION_TWEAK};
}

std::string Fill(const std::string& pattern, const std::array<int, 4>& parts) {
    std::string out;
    size_t used = 0;
    size_t start = 0;
    for (;;) {
        const size_t at = pattern.find("%d", start);
        if (at == std::string::npos || used == parts.size())
            break;
        out += pattern.substr(start, at - start) + std::to_string(parts[used++]);
        start = at + 2;
    }
    if (used < parts.size())
        return pattern;
    return out + pattern.substr(start);
}

}  // namespace ProductVersion
