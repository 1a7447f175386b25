#include "FileFilters.h"

#include <algorithm>
#include <cctype>

namespace FileFilters {

namespace {

std::vector<std::string> Split(const std::string& patterns) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= patterns.size()) {
        std::size_t to = patterns.find(';', from);
        if (to == std::string::npos)
            to = patterns.size();
        if (to > from) {
            // The module lists bare extensions (".jpg"); the dialog matches names
            // against wildcards.
            std::string part = patterns.substr(from, to - from);
            if (part[0] == '.')
                part.insert(0, 1, '*');
            parts.push_back(std::move(part));
        }
        from = to + 1;
    }
    return parts;
}

}  // namespace

std::vector<Pair> ParseFormatList(const char* list, std::size_t size) {
    std::vector<Pair> pairs;
    std::vector<std::string> strings;
    std::size_t pos = 0;
    while (list && pos < size && list[pos] != '\0') {
        const char* start = list + pos;
        const std::size_t length = std::find(start, list + size, '\0') - start;
        strings.emplace_back(start, length);
        pos += length + 1;
    }
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2)
        pairs.push_back({strings[i], strings[i + 1]});
    return pairs;
}

std::vector<Pair> BuildOpenFilter(const std::vector<Pair>& formats, const std::string& allSupportedText) {
    if (formats.empty())
        return {};
    std::vector<Pair> filter = formats;
    std::string all;
    for (const Pair& pair : formats)
        for (const std::string& pattern : Split(pair.patterns))
            all += (all.empty() ? "" : ";") + pattern;
    filter.push_back({allSupportedText, all});
    return filter;
}

int PreselectJpegIndex(const std::vector<Pair>& filter) {
    for (std::size_t i = 0; i < filter.size(); ++i) {
        for (std::string pattern : Split(filter[i].patterns)) {
            std::transform(pattern.begin(), pattern.end(), pattern.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            if (pattern.find("JPG") != std::string::npos)
                return static_cast<int>(i) + 1;
        }
    }
    return 1;
}

std::vector<std::string> GetFilterPatterns(int index, const std::vector<Pair>& filter) {
    if (index < 1 || index > static_cast<int>(filter.size()))
        return {};
    return Split(filter[index - 1].patterns);
}

int CountFilters(const std::vector<Pair>& filter) {
    return static_cast<int>(filter.size());
}

std::string ToNameFilter(const Pair& pair) {
    std::string patterns;
    for (const std::string& pattern : Split(pair.patterns))
        patterns += (patterns.empty() ? "" : " ") + pattern;
    // A description that already ends in its patterns would confuse Qt's parser.
    std::string description = pair.description;
    if (const std::size_t paren = description.find('('); paren != std::string::npos)
        description = description.substr(0, paren);
    while (!description.empty() && description.back() == ' ')
        description.pop_back();
    return description + " (" + patterns + ")";
}

}  // namespace FileFilters
