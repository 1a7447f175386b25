#pragma once
// The type filters of the file dialogs, built from the import/export
// module's format lists: pairs of a description and a ';'-separated pattern
// list ("*.jpg;*.jpeg").

#include <string>
#include <vector>

namespace FileFilters {

struct Pair {
    std::string description;
    std::string patterns;
};

// The module's list: NUL-separated description and pattern strings, ending in
// an empty string (or at size). An unpaired description is dropped.
std::vector<Pair> ParseFormatList(const char* list, std::size_t size);
// The open dialog's filter: the module's pairs, then "All supported files"
// with every pattern; nothing at all when the module has none.
std::vector<Pair> BuildOpenFilter(const std::vector<Pair>& formats, const std::string& allSupportedText);
// 1-based: the first pair one of whose patterns, upper-cased, contains "JPG"; else 1.
int PreselectJpegIndex(const std::vector<Pair>& filter);
// The index-th pair's (1-based) patterns; empty beyond the list.
std::vector<std::string> GetFilterPatterns(int index, const std::vector<Pair>& filter);
int CountFilters(const std::vector<Pair>& filter);
// The pair as a Qt name filter: "Description (*.jpg *.jpeg)".
std::string ToNameFilter(const Pair& pair);

}  // namespace FileFilters
