#include "ProjectStandIn.h"

#include <algorithm>

size_t CProjectStandIn::AddFiles(const std::vector<std::string>& files) {
    size_t added = 0;
    for (const std::string& f : files) {
        if (std::find(files_.begin(), files_.end(), f) != files_.end())
            continue;
        files_.push_back(f);
        ++added;
    }
    return added;
}
