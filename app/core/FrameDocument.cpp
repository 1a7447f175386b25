#include "FrameDocument.h"

#include <algorithm>

void CDocumentStandIn::RemovePhotos(const std::vector<std::string>& files) {
    std::vector<std::string> keep;
    for (const std::string& f : project_.Files())
        if (std::find(files.begin(), files.end(), f) == files.end())
            keep.push_back(f);
    project_.Clear();
    project_.AddFiles(keep);
}
