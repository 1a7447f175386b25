#include "FileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "FreedesktopTrash.h"
#include "PathParts.h"
#include "StaleTemporaries.h"

namespace fs = std::filesystem;

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::error_code LastError() {
    return std::error_code(errno, std::generic_category());
}

// Writes all of it; false with errno set.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One regular file's bytes into a new file with the source's permissions.
// Each failure keeps the errno of the call that failed, so a full disk says
// so (the standard library's copy calls a short write an input/output error).
std::error_code CopyFileBytes(const std::string& from, const std::string& to, mode_t mode,
                              const CopyObserver* observer) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return LastError();
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode & 07777);
    if (out < 0) {
        const std::error_code ec = LastError();
        ::close(in);
        return ec;
    }
    std::error_code ec;
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n)))) {
            ec = LastError();
            break;
        }
        if (n == 0)
            break;
        if (observer && observer->written)
            observer->written(static_cast<uint64_t>(n));
    }
    if (!ec && ::fchmod(out, mode & 07777) != 0)
        ec = LastError();
    if (::close(out) != 0 && !ec && errno != EINTR)
        ec = LastError();
    ::close(in);
    return ec;
}

// A file, a link (as a link) or a folder with everything in it, to a new name.
std::error_code CopyTree(const std::string& from, const std::string& to, const CopyObserver* observer) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return LastError();
    if (S_ISREG(st.st_mode))
        return CopyFileBytes(from, to, st.st_mode, observer);
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path link = fs::read_symlink(from, ec);
        if (ec)
            return ec;
        return ::symlink(link.c_str(), to.c_str()) == 0 ? std::error_code() : LastError();
    }
    if (!S_ISDIR(st.st_mode))
        return std::make_error_code(std::errc::not_supported);
    // Writable while it fills; the source's permissions at the end.
    if (::mkdir(to.c_str(), 0700) != 0)
        return LastError();
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        if (observer && observer->cancelled && observer->cancelled())
            return std::make_error_code(std::errc::operation_canceled);
        const std::string name = it->path().filename().string();
        if (const std::error_code inner = CopyTree(JoinedPath(from, name), JoinedPath(to, name), observer))
            return inner;
    }
    if (ec)
        return ec;
    return ::chmod(to.c_str(), st.st_mode & 07777) == 0 ? std::error_code() : LastError();
}

constexpr char kCopyPrefix[] = ".ovh-copy-";

// The writer of a copy's temporary name ".ovh-copy-<pid>-<name>".
long CopyOwner(const std::string& name) {
    const size_t prefix = sizeof kCopyPrefix - 1;
    if (name.compare(0, prefix, kCopyPrefix) != 0)
        return 0;
    const size_t dash = name.find('-', prefix);
    return dash == std::string::npos ? 0 : Platform::PidInName(name, prefix, dash - prefix);
}

}  // namespace

std::error_code CopyNoReplace(const std::string& from, const std::string& to, const CopyObserver* observer) {
    std::error_code ec;
    if (PathExists(to))
        return std::make_error_code(std::errc::file_exists);
    const std::string folder = FolderOf(to);
    Platform::RemoveStaleTemporaries(folder, CopyOwner);
    const std::string temp =
        JoinedPath(folder, kCopyPrefix + std::to_string(::getpid()) + "-" + FileNameOf(to));
    fs::remove_all(temp, ec);
    ec = CopyTree(from, temp, observer);
    if (!ec) {
        const int error = RenameNoReplace(temp, to);
        if (error != 0)
            ec = std::error_code(error, std::generic_category());
    }
    if (ec) {
        std::error_code ignored;
        fs::remove_all(temp, ignored);
    }
    return ec;
}

std::error_code MoveNoReplace(const std::string& from, const std::string& to, const CopyObserver* observer) {
    const int error = RenameNoReplace(from, to);
    if (error == 0)
        return {};
    if (error != EXDEV)
        return std::error_code(error, std::generic_category());
    // Another file system: copy, and remove the source only once the copy stands.
    std::error_code ec = CopyNoReplace(from, to, observer);
    if (ec)
        return ec;
    fs::remove_all(from, ec);
    return ec;
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string JoinedPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool IsCopyTemporary(const std::string& name) {
    return CopyOwner(name) != 0;
}

bool IsSameOrInside(const std::string& path, const std::string& folder) {
    struct stat top;
    // A link to a folder is copied as a link, so only a folder itself counts.
    if (::lstat(folder.c_str(), &top) != 0 || !S_ISDIR(top.st_mode))
        return false;
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    if (ec)
        return false;
    for (;;) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && st.st_dev == top.st_dev && st.st_ino == top.st_ino)
            return true;
        const fs::path up = p.parent_path();
        if (up == p)
            return false;
        p = up;
    }
}

uint64_t TreeSize(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return static_cast<uint64_t>(st.st_size);
    if (!S_ISDIR(st.st_mode))
        return 0;
    uint64_t total = 0;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        total += TreeSize(it->path().string());
    return total;
}

std::string CollisionName(const std::string& folder, const std::string& fileName) {
    if (!PathExists(JoinedPath(folder, fileName)))
        return fileName;
    const fs::path name(fileName);
    const std::string stem = name.stem().string();
    const std::string ext = name.extension().string();
    for (int n = 2;; ++n) {
        const std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!PathExists(JoinedPath(folder, candidate)))
            return candidate;
    }
}
