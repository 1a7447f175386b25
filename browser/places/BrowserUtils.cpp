#include "BrowserUtils.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "BrowserHost.h"

namespace fs = std::filesystem;

bool ScanMountsForDcim(const std::vector<std::string>& mounts, std::string& path) {
    bool found = false;
    for (const std::string& root : mounts) {
        std::error_code ec;
        // Camera cards are FAT or exFAT, where "dcim" names the same folder.
        std::vector<fs::path> dcims;
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::toupper(c); });
            std::error_code typeError;
            if (name == "DCIM" && it->is_directory(typeError))
                dcims.push_back(it->path());
        }
        std::sort(dcims.begin(), dcims.end());
        for (const fs::path& dcim : dcims) {
            std::vector<fs::path> folders;
            for (fs::directory_iterator it(dcim, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().string();
                std::error_code typeError;
                if (name.size() == 8 && name[0] >= '1' && name[0] <= '9' &&
                    std::isdigit(static_cast<unsigned char>(name[1])) &&
                    std::isdigit(static_cast<unsigned char>(name[2])) && it->is_directory(typeError))
                    folders.push_back(it->path());
            }
            // Listing order is no order on Linux; sorted, the last is the highest number.
            std::sort(folders.begin(), folders.end());
            if (!folders.empty()) {
                path = folders.back().string();
                found = true;
            }
        }
    }
    return found || FindMountWithImages(mounts, path);
}

bool FindMountWithImages(const std::vector<std::string>& mounts, std::string& path) {
    bool found = false;
    IBrowserHost& host = BrowserHost();
    for (const std::string& root : mounts) {
        std::error_code ec;
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_directory(typeError) && host.IsReadableImageFile(it->path().string())) {
                path = root;
                found = true;
                break;
            }
        }
    }
    return found;
}
