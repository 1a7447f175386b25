#pragma once
// The save dialog's choices without the dialog: which type a file name
// preselects, what the name becomes, and the name after another type was
// picked. Filters are the module's description/pattern pairs.

#include <string>
#include <vector>

#include "FileFilters.h"

namespace SaveFileChoice {

struct Preselection {
    int filterIndex = 1;     // 1-based
    std::string fileName;    // the name the dialog starts with
    std::string defaultExt;  // without the dot; empty when none matched
};

// The first pair with a pattern of the name's extension (ignoring case) keeps the name; otherwise the name
// takes the first pair's first pattern's extension (none with an empty filter).
Preselection Preselect(const std::vector<FileFilters::Pair>& filter, const std::string& fileName);
// The extension (no dot) of the index-th pair's first pattern: "*.tif" or ".tif" -> "tif".
std::string ExtensionOfType(const std::vector<FileFilters::Pair>& filter, int index);
// The pair as a Qt name filter, "Description (*.jpg *.jpeg)"; the module's
// patterns may come with or without the leading '*'.
std::string NameFilter(const FileFilters::Pair& pair);
// The name with its extension replaced (folder kept); an empty extension removes it.
std::string ReplaceExtension(const std::string& fileName, const std::string& extension);

}  // namespace SaveFileChoice
