#include "PhotoDateAndDescription.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

#include "ExifFields.h"
#include "PathParts.h"

namespace {

// The extension with its dot, lower-cased (ASCII).
std::string LowerExtension(const std::string& path) {
    std::string ext = ExtensionOf(path);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

bool IsJpegOrTiff(const std::string& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".tif" || ext == ".jpg";
}

bool GetExifDateTime(const std::string& path, std::time_t& when) {
    const std::string ext = LowerExtension(path);
    if (ext != ".jpg" && ext != ".tif" && ext != ".tiff" && ext != ".dng")
        return false;
    const std::vector<uint16_t> tags = {36867, 36868, 306};
    const std::map<uint16_t, std::string> values = ReadExifAsciiTags(path, tags);
    for (uint16_t tag : tags) {
        const auto it = values.find(tag);
        if (it == values.end())
            continue;
        int y, mo, d, h, mi, s;
        if (std::sscanf(it->second.c_str(), "%d:%d:%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 || y < 1970 ||
            y > 3000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
            s < 0 || s > 59)
            return false;
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        t.tm_isdst = -1;
        const std::time_t value = std::mktime(&t);
        if (value == static_cast<std::time_t>(-1))
            return false;
        when = value;
        return true;
    }
    return false;
}

std::string GetImageDescription(const std::string& path) {
    if (!IsJpegOrTiff(path))
        return {};
    const auto values = ReadExifAsciiTags(path, {270});
    const auto it = values.find(270);
    return it == values.end() ? std::string() : it->second;
}
