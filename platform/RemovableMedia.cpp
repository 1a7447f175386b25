#include "RemovableMedia.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// Mount points escape blanks and backslashes as octal (\040).
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool UnderMediaFolder(const std::string& mountPoint) {
    return mountPoint.rfind("/media/", 0) == 0 || mountPoint.rfind("/run/media/", 0) == 0;
}

bool ReadFlag(const std::string& path) {
    std::ifstream in(path);
    int v = 0;
    return in >> v && v == 1;
}

// The device's own flag, or its parent disk's for a partition.
bool SysfsRemovable(const std::string& majorMinor) {
    const std::string base = "/sys/dev/block/" + majorMinor;
    return ReadFlag(base + "/removable") || ReadFlag(base + "/../removable");
}

std::string ReadMountInfo() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsUnder(const std::string& path, const std::string& root) {
    if (root.empty() || path.compare(0, root.size(), root) != 0)
        return false;
    return path.size() == root.size() || root.back() == '/' || path[root.size()] == '/';
}

}  // namespace

std::vector<std::string> ParseRemovableMounts(
    const std::string& mountinfo, const std::function<bool(const std::string&)>& isRemovableDevice) {
    std::vector<std::string> mounts;
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (!(fields >> id >> parent >> device >> root >> mountPoint))
            continue;
        mountPoint = Unescape(mountPoint);
        if (UnderMediaFolder(mountPoint) ||
            (isRemovableDevice && device.rfind("0:", 0) != 0 && isRemovableDevice(device)))
            mounts.push_back(mountPoint);
    }
    std::sort(mounts.begin(), mounts.end());
    mounts.erase(std::unique(mounts.begin(), mounts.end()), mounts.end());
    return mounts;
}

std::vector<std::string> ListRemovableMounts() {
    return ParseRemovableMounts(ReadMountInfo(), SysfsRemovable);
}

int GetPathDriveKind(const std::string& path, const std::string& mountinfo,
                     const std::function<bool(const std::string&)>& isRemovableDevice) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return 0;
    const std::string full = absolute.lexically_normal().string();
    for (const std::string& mount : ParseRemovableMounts(mountinfo, isRemovableDevice))
        if (IsUnder(full, mount))
            return 1;
    // Below the media folders a path names a medium; with none mounted there
    // the medium is gone (the folder may linger on the root file system).
    for (const char* root : {"/media/", "/run/media/"}) {
        if (full.compare(0, std::strlen(root), root) == 0)
            return 2;
    }
    return 0;
}

int GetPathDriveKind(const char* path) {
    if (!path)
        return 0;
    return GetPathDriveKind(path, ReadMountInfo(), &SysfsRemovable);
}
