#include "FreedesktopTrash.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS)
        return error;
    // File systems without the flag: a hard link fails on an existing name.
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) != 0)
            return errno;
        if (::unlink(from.c_str()) != 0) {
            const int e = errno;
            ::unlink(to.c_str());
            return e;
        }
        return 0;
    }
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

namespace {

std::string DataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share";
}

bool DeviceOf(const std::string& path, dev_t& dev) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    dev = st.st_dev;
    return true;
}

// A private folder of ours, made when missing; refuses links and foreign
// folders. On failure errno says why.
bool PrivateFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (ec)
            errno = ec.value();
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        errno = S_ISDIR(st.st_mode) ? EPERM : ENOTDIR;
        return false;
    }
    return true;
}

// The mount point of a path: the last parent on the same device.
std::string TopDirectory(const std::string& path, dev_t dev) {
    fs::path p = fs::path(path).parent_path();
    for (;;) {
        const fs::path up = p.parent_path();
        dev_t d;
        if (up == p || !DeviceOf(up.string(), d) || d != dev)
            return p.string();
        p = up;
    }
}

struct TrashPlace {
    std::string dir;       // the trash folder
    std::string infoPath;  // Path= value for the info file
};

bool ChooseTrash(const std::string& absolute, TrashPlace& place) {
    dev_t fileDev;
    if (!DeviceOf(absolute, fileDev))
        return false;
    const std::string dataHome = DataHome();
    const std::string homeTrash = dataHome + "/Trash";
    if (PrivateFolder(dataHome)) {
        dev_t homeDev;
        if (DeviceOf(dataHome, homeDev) && homeDev == fileDev) {
            place = {homeTrash, absolute};
            return true;
        }
    }
    const std::string top = TopDirectory(absolute, fileDev);
    const std::string relative = absolute.substr(top == "/" ? 1 : top.size() + 1);
    const std::string uid = std::to_string(::getuid());
    // An administrator's shared trash: a real folder with the sticky bit.
    struct stat st;
    const std::string shared = top + "/.Trash";
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        PrivateFolder(shared + "/" + uid)) {
        place = {shared + "/" + uid, relative};
        return true;
    }
    const std::string own = top + "/.Trash-" + uid;
    if (PrivateFolder(own)) {
        ::chmod(own.c_str(), 0700);
        place = {own, relative};
        return true;
    }
    return false;
}

std::string PercentEncoded(const std::string& path) {
    return QByteArray::fromStdString(path).toPercentEncoding("/").toStdString();
}

std::string DeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

}  // namespace

int MoveToTrash(const std::string& path, std::string* trashedPath) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec).lexically_normal();
    if (ec)
        return ec.value();
    std::string absolute = abs.string();
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    if (absolute == "/")
        return EPERM;
    // The trash belongs to the mount the file really lies on: its folder is
    // resolved, so a link to another file system does not place the trash at
    // the link's target. The file itself stays as named (a link is trashed as a link).
    const fs::path named(absolute);
    const fs::path folder = fs::canonical(named.parent_path(), ec);
    if (ec)
        return ec.value();
    absolute = (folder / named.filename()).string();
    struct stat st;
    if (::lstat(absolute.c_str(), &st) != 0)
        return errno;
    TrashPlace place;
    errno = 0;
    if (!ChooseTrash(absolute, place))
        return errno != 0 ? errno : EACCES;
    const std::string files = place.dir + "/files";
    const std::string info = place.dir + "/info";
    if (!PrivateFolder(files) || !PrivateFolder(info))
        return errno != 0 ? errno : EACCES;

    const std::string name = fs::path(absolute).filename().string();
    const std::string stem = fs::path(name).stem().string();
    const std::string ext = fs::path(name).extension().string();
    const std::string record =
        "[Trash Info]\nPath=" + PercentEncoded(place.infoPath) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const std::string candidate = n == 1 ? name : stem + "." + std::to_string(n) + ext;
        const std::string infoFile = info + "/" + candidate + ".trashinfo";
        // The info file claims the name first, so two movers never share a name.
        const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        errno = 0;
        const bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
        const int writeError = errno != 0 ? errno : EIO;
        const bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            const int error = written ? errno : writeError;
            ::unlink(infoFile.c_str());
            return error;
        }
        const std::string target = files + "/" + candidate;
        const int error = RenameNoReplace(absolute, target);
        if (error == 0) {
            if (trashedPath)
                *trashedPath = target;
            return 0;
        }
        ::unlink(infoFile.c_str());
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}
