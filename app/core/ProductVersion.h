#pragma once
// The program's own version, compiled in from the build's project version,
// as the About box and the update query read it: four parts, most
// significant first.

#include <array>
#include <string>

namespace ProductVersion {

// The four parts of this build's version.
std::array<int, 4> Parts();
// What the About box shows when no version is known at all.
inline constexpr std::array<int, 4> kUnknown{3, 5, 0, 0};

// The template with its first four "%d" replaced by the parts in order;
// with fewer than four "%d" the template is returned unchanged. Nothing
// else in the template is interpreted.
std::string Fill(const std::string& pattern, const std::array<int, 4>& parts);

}  // namespace ProductVersion
