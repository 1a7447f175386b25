#include "SaveFileChoice.h"

#include <algorithm>
#include <cctype>

namespace SaveFileChoice {

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// Offset of the name's extension dot within its last component, or npos.
std::size_t ExtensionDot(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart)
        return std::string::npos;
    return dot;
}

// A pattern's extension with its dot: "*.tif" and ".tif" give ".tif".
std::string PatternExtension(const std::string& pattern) {
    std::string ext = pattern;
    if (!ext.empty() && ext.front() == '*')
        ext.erase(0, 1);
    return !ext.empty() && ext.front() == '.' && ext.size() > 1 ? ext : std::string();
}

}  // namespace

std::string NameFilter(const FileFilters::Pair& pair) {
    std::string patterns;
    for (const std::string& pattern : FileFilters::GetFilterPatterns(1, {pair})) {
        const std::string ext = PatternExtension(pattern);
        patterns += (patterns.empty() ? "*" : " *") + (ext.empty() ? pattern : ext);
    }
    // The description's own "(*.jpg;*.jpeg)" would read twice and confuse Qt's parser.
    std::string description = pair.description.substr(0, pair.description.find('('));
    while (!description.empty() && description.back() == ' ')
        description.pop_back();
    return description + " (" + patterns + ")";
}

std::string ReplaceExtension(const std::string& fileName, const std::string& extension) {
    const std::size_t dot = ExtensionDot(fileName);
    std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    if (extension.empty())
        return stem;
    return stem + "." + extension;
}

std::string ExtensionOfType(const std::vector<FileFilters::Pair>& filter, int index) {
    const std::vector<std::string> patterns = FileFilters::GetFilterPatterns(index, filter);
    if (patterns.empty())
        return {};
    const std::string ext = PatternExtension(patterns.front());
    return ext.empty() ? ext : ext.substr(1);
}

Preselection Preselect(const std::vector<FileFilters::Pair>& filter, const std::string& fileName) {
    Preselection out;
    out.fileName = fileName;
    const std::size_t dot = ExtensionDot(fileName);
    const std::string wanted = dot == std::string::npos ? std::string() : fileName.substr(dot);
    for (int index = 1; index <= FileFilters::CountFilters(filter); ++index) {
        for (const std::string& pattern : FileFilters::GetFilterPatterns(index, filter)) {
            if (dot != std::string::npos && SameNoCase(PatternExtension(pattern), wanted)) {
                out.filterIndex = index;
                out.defaultExt = wanted.substr(1);
                return out;
            }
        }
    }
    // No name yet: JPEG is offered first and the name stays to be typed.
    if (fileName.empty()) {
        out.filterIndex = FileFilters::PreselectJpegIndex(filter);
        out.defaultExt = ExtensionOfType(filter, out.filterIndex);
        return out;
    }
    // Only the first pattern: a whole list ("jpg;*.jpeg") is no file name.
    out.fileName = ReplaceExtension(fileName, ExtensionOfType(filter, 1));
    out.defaultExt = ExtensionOfType(filter, 1);
    return out;
}

}  // namespace SaveFileChoice
