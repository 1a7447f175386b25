#pragma once
// The export task's crop choices: "No crop", "Manual", then the print
// products of the program folder's "aspect.xml", replaced by those of the
// per-user copy when that has any.

#include <string>
#include <vector>

#include "AspectData.h"

namespace CropChoices {

// The products skipped in the file(s) the list comes from, one line each,
// the program folder's and the per-user copy's.
struct SkippedProducts {
    std::vector<std::string> program, user;
};

// The list from the two files' texts (either may be empty).
std::vector<NetPrint::CAspectData> Build(const std::string& programFileText, const std::string& userFileText,
                                         SkippedProducts* skipped = nullptr);

// The list from the files as installed and kept for the user. What their
// spelling cost, worded for the user with each file's path, goes to
// skippedText (empty when nothing was skipped).
std::vector<NetPrint::CAspectData> Read(std::string* skippedText);

// The choice of a stored index. An index from an earlier run may name a
// product that is gone: beyond the list it means "Manual", below it
// "No crop". The list holds the two built-in choices at least.
const NetPrint::CAspectData& At(const std::vector<NetPrint::CAspectData>& list, int index);

}  // namespace CropChoices
