#include "ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <climits>
#include <cstring>
#include <new>

#include "FileReading.h"
#include "ImageCodecs.h"
#include "StaleTemporaries.h"

namespace Platform {

namespace Codec {

bool AcceptableSize(std::uint64_t width, std::uint64_t height) {
    constexpr std::uint64_t kMaxPixels = (std::uint64_t{1} << 31) / 3;
    return width >= 1 && height >= 1 && width <= kMaxPixels && height <= kMaxPixels &&
           width * height <= kMaxPixels;
}

bool AllocatePicture(Picture& picture, int width, int height, std::size_t bytes) {
    picture.pixels.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (!picture.pixels)
        return false;
    picture.width = width;
    picture.height = height;
    return true;
}

Stream OpenWriteStream(int fd) {
    const int copy = ::dup(fd);
    if (copy < 0)
        return nullptr;
    Stream stream(::fdopen(copy, "wb"));
    if (!stream)
        ::close(copy);
    return stream;
}

int CloseWriteStream(Stream& stream) {
    errno = 0;
    const bool failed = std::ferror(stream.get()) != 0;
    const int closed = std::fclose(stream.release());
    if (failed || closed != 0)
        return CurrentError();
    return 0;
}

int CurrentError() {
    return errno != 0 ? errno : EIO;
}

}  // namespace Codec

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

ImageFileStatus StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ImageFileStatus::FileNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ImageFileStatus::AccessDenied;
        case ENOMEM:
            return ImageFileStatus::OutOfMemory;
        default:
            return ImageFileStatus::Other;
    }
}

bool ValidView(const ImageView& view) {
    if (!view.bits || view.width <= 0 || view.height <= 0)
        return false;
    if (view.bpp != 8 && view.bpp != 24)
        return false;
    const std::size_t packed = static_cast<std::size_t>(view.width) * static_cast<std::size_t>(view.bpp / 8);
    return view.stride >= packed;
}

// For temporary names; unique enough with O_EXCL retrying on a clash.
std::uint64_t RandomNumber() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x ^= (static_cast<std::uint64_t>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    return x;
}

// The engine's temporary name: hidden, telling which file it was meant to
// replace, and which process writes it (".name.tmp-<pid>-<six letters>").
std::string HiddenName(const std::string& targetName, std::uint64_t random) {
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i, random /= 62)
        suffix += kDigits[random % 62];
    return "." + targetName + ".tmp-" + std::to_string(::getpid()) + "-" + suffix;
}

long HiddenNameOwner(const std::string& name) {
    const std::size_t tmp = name.rfind(".tmp-");
    const std::size_t dash = name.rfind('-');
    if (name.size() < 2 || name[0] != '.' || tmp == std::string::npos || tmp == 0 || dash <= tmp + 5 ||
        name.size() - dash != 7)
        return 0;
    for (std::size_t i = dash + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return 0;
    return PidInName(name, tmp + 5, dash - tmp - 5);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save must replace: the target with the links of its last component
// followed (a save through a link writes the file it points to, and keeps the link).
// 0 or an errno; a target that does not exist yet resolves to itself.
int ResolveTarget(const std::string& target, std::string& resolved) {
    if (target.empty())
        return ENOENT;
    std::string path = target;
    for (int depth = 0; depth < 40; ++depth) {
        if (path.back() == '/')
            return EISDIR;
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return Codec::CurrentError();
            resolved = path;
            return 0;
        }
        if (S_ISDIR(info.st_mode))
            return EISDIR;
        if (!S_ISLNK(info.st_mode)) {
            resolved = path;
            return 0;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n <= 0)
            return n == 0 ? ENOENT : Codec::CurrentError();
        if (static_cast<std::size_t>(n) >= link.size())
            return ENAMETOOLONG;
        link.resize(static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
    }
    return ELOOP;
}

bool IsJpeg(const std::uint8_t* m, std::size_t n) {
    return n >= 3 && m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF;
}
bool IsPng(const std::uint8_t* m, std::size_t n) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return n >= 8 && std::memcmp(m, kSignature, 8) == 0;
}
bool IsTiff(const std::uint8_t* m, std::size_t n) {
    return n >= 4 && ((m[0] == 'I' && m[1] == 'I' && m[2] == 42 && m[3] == 0) ||
                      (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && m[3] == 42));
}
bool IsBmp(const std::uint8_t* m, std::size_t n) {
    return n >= 2 && m[0] == 'B' && m[1] == 'M';
}

// Only a regular file is read, and never more than a photo can hold.
File OpenRegularFile(const std::string& path) {
    const int fd = OpenForReading(path, kMaxPhotoBytes);
    if (fd < 0)
        return nullptr;
    File file(::fdopen(fd, "rb"));
    if (!file)
        ::close(fd);
    return file;
}


Codec::DecodeResult DecodeFile(const std::string& path, Codec::Picture& picture) {
    File file = OpenRegularFile(path);
    if (!file)
        return Codec::DecodeResult::Unsupported;
    std::uint8_t magic[8] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
    if (std::fseek(file.get(), 0, SEEK_SET) != 0)
        return Codec::DecodeResult::Unsupported;
    if (IsJpeg(magic, n))
        return Codec::DecodeJpeg(file.get(), picture);
    if (IsPng(magic, n))
        return Codec::DecodePng(file.get(), picture);
    if (IsTiff(magic, n))
        return Codec::DecodeTiff(::fileno(file.get()), picture);
    if (IsBmp(magic, n))
        return Codec::DecodeBmp(file.get(), picture);
    return Codec::DecodeResult::Unsupported;
}

int EncodeWith(ImageFileFormat format, int fd, const ImageView& view) {
    switch (format) {
        case ImageFileFormat::Bmp:
            return Codec::EncodeBmp(fd, view);
        case ImageFileFormat::Jpeg:
            return Codec::EncodeJpeg(fd, view);
        case ImageFileFormat::Png:
            return Codec::EncodePng(fd, view);
        case ImageFileFormat::Tiff:
            return Codec::EncodeTiff(fd, view);
    }
    return EINVAL;
}

}  // namespace

std::optional<ImageFileFormat> FormatFromExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return std::nullopt;
    std::string ext;
    for (std::size_t i = dot + 1; i < path.size(); ++i)
        ext += LowerAscii(path[i]);
    if (ext == "bmp")
        return ImageFileFormat::Bmp;
    if (ext == "jpg" || ext == "jpeg")
        return ImageFileFormat::Jpeg;
    if (ext == "png")
        return ImageFileFormat::Png;
    if (ext == "tif" || ext == "tiff")
        return ImageFileFormat::Tiff;
    return std::nullopt;
}

ImageFileStatus DecodeRgb24(const std::string& utf8Path, IRgbSink& sink) {
    try {
        Codec::Picture picture;
        switch (DecodeFile(utf8Path, picture)) {
            case Codec::DecodeResult::Ok:
                break;
            case Codec::DecodeResult::OutOfMemory:
                return ImageFileStatus::OutOfMemory;
            case Codec::DecodeResult::Unsupported:
                return ImageFileStatus::Unsupported;
        }
        if (!sink.Allocate(picture.width, picture.height))
            return ImageFileStatus::OutOfMemory;
        for (int y = 0; y < picture.height; ++y) {
            std::uint8_t* row = sink.RowBgr(y);
            if (!row)
                return ImageFileStatus::OutOfMemory;
            std::memcpy(row, picture.Row(y), picture.RowBytes());
        }
        return ImageFileStatus::Ok;
    } catch (const std::bad_alloc&) {
        return ImageFileStatus::OutOfMemory;
    }
}

ImageFileStatus EncodeImage(const std::string& utf8Path, ImageFileFormat format, const ImageView& view) {
    switch (format) {
        case ImageFileFormat::Bmp:
        case ImageFileFormat::Jpeg:
        case ImageFileFormat::Png:
        case ImageFileFormat::Tiff:
            break;
        default:
            return ImageFileStatus::UnknownImageFormat;
    }
    if (!ValidView(view))
        return ImageFileStatus::Other;
    try {
        FileReplacement replacement;
        if (const int error = replacement.Begin(utf8Path))
            return StatusFromErrno(error);
        errno = 0;
        if (const int error = EncodeWith(format, replacement.Descriptor(), view))
            return StatusFromErrno(error);
        if (const int error = replacement.Commit())
            return StatusFromErrno(error);
        return ImageFileStatus::Ok;
    } catch (const std::bad_alloc&) {
        return ImageFileStatus::OutOfMemory;
    }
}

int FileReplacement::Begin(const std::string& target, NameMaker makeName, TemporaryOwner ownerOf) {
    Abandon();
    std::string finalPath;
    if (const int error = ResolveTarget(target, finalPath))
        return error;
    const std::string folder = FolderOf(finalPath);
    const std::string name = finalPath.substr(finalPath.rfind('/') + 1);
    if (!makeName) {
        makeName = HiddenName;
        ownerOf = HiddenNameOwner;
    }
    // What a writer killed here before left behind goes first.
    if (ownerOf)
        RemoveStaleTemporaries(folder, ownerOf);
    // open() with mode 0666 rather than mkstemp()'s 0600, so the umask decides as it
    // does for any new file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "/" + makeName(name, RandomNumber());
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            temporary_ = std::move(candidate);
            final_ = std::move(finalPath);
            // Replacing a file keeps the permissions it had, as writing into it would have.
            struct stat info;
            if (::stat(final_.c_str(), &info) == 0 && S_ISREG(info.st_mode))
                ::fchmod(fd_, info.st_mode & 07777);
            return 0;
        }
        if (errno != EEXIST)
            return Codec::CurrentError();
    }
    return EEXIST;
}

int FileReplacement::Commit() {
    if (fd_ < 0)
        return EBADF;
    // The data must be on the disk before the name points at it: a crash after a
    // rename of unflushed data could leave an empty file where the old one was.
    int error = ::fsync(fd_) != 0 ? Codec::CurrentError() : 0;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = Codec::CurrentError();
    if (error == 0 && ::rename(temporary_.c_str(), final_.c_str()) != 0)
        error = Codec::CurrentError();
    if (error != 0) {
        Abandon();
        return error;
    }
    temporary_.clear();
    // The rename is in the folder's data. Best effort: the new file is in place either
    // way, and some file systems refuse fsync on a folder.
    const int folder = ::open(FolderOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

void FileReplacement::Abandon() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace Platform
