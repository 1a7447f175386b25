#include "BrowserUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "BrowserHost.h"
#include "ExifFields.h"
#include "FreedesktopTrash.h"
#include "RemovableMedia.h"
#include "StaleTemporaries.h"

namespace fs = std::filesystem;

namespace {

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
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
std::error_code CopyFileBytes(const std::string& from, const std::string& to, mode_t mode) {
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
    }
    if (!ec && ::fchmod(out, mode & 07777) != 0)
        ec = LastError();
    if (::close(out) != 0 && !ec && errno != EINTR)
        ec = LastError();
    ::close(in);
    return ec;
}

// A file, a link (as a link) or a folder with everything in it, to a new name.
std::error_code CopyTree(const std::string& from, const std::string& to) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return LastError();
    if (S_ISREG(st.st_mode))
        return CopyFileBytes(from, to, st.st_mode);
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
        const std::string name = it->path().filename().string();
        if (const std::error_code inner = CopyTree(Joined(from, name), Joined(to, name)))
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

// Copies a file or folder to a name that must not exist yet; a partial copy
// is removed again, and so are those of copies killed before they ended.
std::error_code CopyNoReplace(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (Exists(to))
        return std::make_error_code(std::errc::file_exists);
    const std::string folder = FolderOf(to);
    Platform::RemoveStaleTemporaries(folder, CopyOwner);
    const std::string temp = Joined(folder, kCopyPrefix + std::to_string(::getpid()) + "-" + NameOf(to));
    fs::remove_all(temp, ec);
    ec = CopyTree(from, temp);
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

std::error_code MoveNoReplace(const std::string& from, const std::string& to) {
    const int error = RenameNoReplace(from, to);
    if (error == 0)
        return {};
    if (error != EXDEV)
        return std::error_code(error, std::generic_category());
    // Another file system: copy, and remove the source only once the copy stands.
    std::error_code ec = CopyNoReplace(from, to);
    if (ec)
        return ec;
    fs::remove_all(from, ec);
    return ec;
}

std::string Reason(const std::error_code& ec) {
    return ec.message();
}

// Whether the folder `path` names is `folder` or lies below it, through any
// link or doubled slash: compared by device and inode up the resolved path.
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

}  // namespace

std::string CollisionName(const std::string& folder, const std::string& fileName) {
    if (!Exists(Joined(folder, fileName)))
        return fileName;
    const fs::path name(fileName);
    const std::string stem = name.stem().string();
    const std::string ext = name.extension().string();
    for (int n = 2;; ++n) {
        const std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!Exists(Joined(folder, candidate)))
            return candidate;
    }
}

bool ShellRenameFile(const std::string& oldPath, std::string& newName) {
    if (newName.empty())
        return false;
    const std::string name = NameOf(oldPath);
    const size_t dot = name.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    if (newName.find_first_of(std::string("/\0", 2)) != std::string::npos || newName == "." ||
        newName == "..") {
        // Not a name of this folder: said so, like any other failed rename.
        BrowserHost().ReportFileOperationError(oldPath,
                                               Reason(std::make_error_code(std::errc::invalid_argument)));
        return false;
    }
    newName = FolderOf(oldPath) + newName + ext;
    return RunFileOperation(FO_RENAME, {oldPath}, newName, FOF_ALLOWUNDO);
}

unsigned FileOperationFlags(unsigned operation, bool shiftHeld, bool flagA, bool flagB) {
    unsigned flags = (operation == FO_DELETE && shiftHeld) ? 0u : unsigned(FOF_ALLOWUNDO);
    if (flagB)
        flags |= flagA ? 0u : unsigned(FOF_RENAMEONCOLLISION);
    else
        flags |= flagA ? unsigned(FOF_NOERRORUI) : unsigned(FOF_NOERRORUI | FOF_RENAMEONCOLLISION);
    return flags;
}

bool RunFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                      unsigned flags) {
    std::vector<std::string> sources;
    std::vector<std::pair<std::string, std::string>> skipped;  // path, reason
    for (const std::string& p : paths) {
        struct stat st;
        if (::lstat(p.c_str(), &st) == 0)
            sources.push_back(p);
        else
            skipped.emplace_back(p, Reason(std::error_code(errno, std::generic_category())));
    }
    IBrowserHost& host = BrowserHost();
    const bool reportErrors = !(flags & FOF_NOERRORUI);
    // An operation stops at its first failure, which the user is told about
    // unless errors are silenced: what was done before it stays done, the
    // rest is left as it was.
    auto failed = [&](const std::string& path, const std::error_code& ec) {
        if (reportErrors)
            host.ReportFileOperationError(path, Reason(ec));
        return false;
    };
    auto errorOf = [](int error) { return std::error_code(error, std::generic_category()); };
    // Sources gone meanwhile are dropped, and the user is told which; with
    // none left there is nothing to do.
    if (sources.empty() && skipped.size() <= 1)
        return skipped.empty() ? false
                               : failed(skipped.front().first,
                                        std::make_error_code(std::errc::no_such_file_or_directory));
    if (!skipped.empty() && reportErrors)
        host.ReportSkippedFiles(skipped);
    if (sources.empty())
        return false;

    bool ok = true;
    switch (operation) {
        case FO_DELETE:
            if (flags & FOF_ALLOWUNDO) {
                for (const std::string& p : sources)
                    if (const int error = MoveToTrash(p))
                        return failed(p, errorOf(error));
                return true;
            }
            if (!host.ConfirmPermanentDelete(sources))
                return false;
            for (const std::string& p : sources) {
                std::error_code ec;
                fs::remove_all(p, ec);
                if (ec)
                    return failed(p, ec);
            }
            return true;
        case FO_RENAME: {
            const int error = RenameNoReplace(sources.front(), target);
            if (error != 0)
                return failed(sources.front(), errorOf(error));
            return true;
        }
        case FO_COPY:
        case FO_MOVE:
            for (const std::string& p : sources) {
                // A folder into itself or below it: a copy would copy its own
                // copy again at every level, until the path grows too long.
                if (IsSameOrInside(target, p))
                    return failed(p, std::make_error_code(std::errc::invalid_argument));
                std::string name = NameOf(p);
                std::string dest = Joined(target, name);
                std::error_code ec;
                if (fs::equivalent(p, dest, ec)) {
                    // Moving a file onto itself changes nothing; a copy gets a new name.
                    if (operation == FO_MOVE) {
                        ok = false;
                        continue;
                    }
                    dest = Joined(target, CollisionName(target, name));
                } else if (Exists(dest)) {
                    if (flags & FOF_RENAMEONCOLLISION) {
                        dest = Joined(target, CollisionName(target, name));
                    } else if (host.ConfirmReplace(dest)) {
                        // The replaced file goes to the trash, never lost outright.
                        if (const int error = MoveToTrash(dest))
                            return failed(dest, errorOf(error));
                    } else {
                        ok = false;
                        continue;
                    }
                }
                ec = operation == FO_COPY ? CopyNoReplace(p, dest) : MoveNoReplace(p, dest);
                if (ec)
                    return failed(p, ec);
            }
            return ok;
        default:
            return false;
    }
}

bool ShellFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                        bool flagA, bool flagB) {
    const bool shift = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
                       (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
    const unsigned flags = FileOperationFlags(operation, shift, flagA, flagB);
    QPointer<QWidget> focus =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::focusWidget() : nullptr;
    IBrowserHost& host = BrowserHost();
    host.EnableBrowserWindows(false);
    const bool ok = RunFileOperation(operation, paths, target, flags);
    host.EnableBrowserWindows(true);
    if (focus)
        focus->setFocus();
    return ok;
}

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

bool IsJpegOrTiff(const std::string& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".tif" || ext == ".jpg";
}

bool GetExifDateTime(const std::string& path, std::time_t& when) {
    const std::string ext = LowerExtension(path);
    if (ext != ".jpg" && ext != ".tif" && ext != ".tiff" && ext != ".dng")
        return false;
    const std::vector<uint16_t> tags = {36867, 36868, 306};
    const std::map<uint16_t, std::string> values = ReadExifAsciiTags(path, tags);
    for (uint16_t tag : tags) {
        const auto it = values.find(tag);
        if (it == values.end())
            continue;
        int y, mo, d, h, mi, s;
        if (std::sscanf(it->second.c_str(), "%d:%d:%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 || y < 1970 ||
            y > 3000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
            s < 0 || s > 59)
            return false;
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        t.tm_isdst = -1;
        const std::time_t value = std::mktime(&t);
        if (value == static_cast<std::time_t>(-1))
            return false;
        when = value;
        return true;
    }
    return false;
}

std::string GetImageDescription(const std::string& path) {
    if (!IsJpegOrTiff(path))
        return {};
    const auto values = ReadExifAsciiTags(path, {270});
    const auto it = values.find(270);
    return it == values.end() ? std::string() : it->second;
}

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

QString GetDefaultGuiFontName() {
    return QApplication::font().family();
}

void MeasureCpuSpeed(uint32_t& ticksPerMicrosecond) {
    using Clock = std::chrono::steady_clock;
    auto ticks = []() -> uint64_t {
#if defined(__x86_64__) || defined(__i386__)
        return __rdtsc();
#else
        return static_cast<uint64_t>(Clock::now().time_since_epoch().count());
#endif
    };
    auto timedWait = [&](std::chrono::microseconds length) {
        const uint64_t t0 = ticks();
        const auto until = Clock::now() + length;
        while (Clock::now() < until) {
        }
        return ticks() - t0;
    };
    const uint64_t empty = timedWait(std::chrono::microseconds(0));
    const uint64_t busy = timedWait(std::chrono::milliseconds(50));
    ticksPerMicrosecond = static_cast<uint32_t>((busy > empty ? busy - empty : 0) / 50 / 1000);
}

namespace {
constexpr struct Products {
    ProductTable table{};
    constexpr Products() {
        for (uint32_t r = 0; r < 16; ++r)
            for (uint32_t c = 0; c < 16; ++c)
                table[r][c] = r * c;
    }
} kProducts;
}  // namespace

const ProductTable& BuildProductTable16() {
    return kProducts.table;
}
