#pragma once
// Stand-in for the document's photo list until the document exists: the
// ordered image files of the project, each once. The main frame fills it from
// the command line and shows it in the photo strip stand-in.

#include <string>
#include <vector>

class CProjectStandIn {
public:
    // Appends the files not yet in the project, in order; returns how many
    // were added.
    size_t AddFiles(const std::vector<std::string>& files);
    const std::vector<std::string>& Files() const { return files_; }
    size_t GetCount() const { return files_.size(); }
    void Clear() { files_.clear(); }

private:
    std::vector<std::string> files_;
};
