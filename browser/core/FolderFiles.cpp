#include "FolderFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

uint64_t GetFileSizeByName(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

void DeleteFolderFiles(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            files.push_back(it->path());
    }
    for (const fs::path& f : files) {
        struct stat st;
        if (::lstat(f.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR))
            ::chmod(f.c_str(), st.st_mode | S_IWUSR);
        ::unlink(f.c_str());
    }
}
