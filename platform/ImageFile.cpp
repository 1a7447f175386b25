#include "ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "ImageCodecs.h"

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

// Suffix for a temporary name; unique enough with O_EXCL retrying on a clash.
std::string RandomSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x ^= (static_cast<std::uint64_t>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        suffix += kDigits[x % 62];
    }
    return suffix;
}

// The file a save is written to before it replaces the target. Removed unless committed,
// so a failed save leaves neither debris nor a damaged target behind.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    // 0 or the errno of the failure.
    int Create(const std::string& target) {
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        if (name.empty())
            return EISDIR;
        // open() with mode 0666 rather than mkstemp()'s 0600, so the umask decides as it
        // does for any new file.
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = folder + "." + name + ".tmp-" + RandomSuffix();
            const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = std::move(candidate);
                KeepTargetMode(target);
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int fd() const { return fd_; }

    // Closes the file and moves it over the target; 0 or the errno of the failure.
    int Commit(const std::string& target) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return Codec::CurrentError();
        if (::rename(path_.c_str(), target.c_str()) != 0)
            return Codec::CurrentError();
        path_.clear();
        return 0;
    }

private:
    // Replacing a file keeps the permissions it had, as writing into it would have.
    void KeepTargetMode(const std::string& target) {
        struct stat info;
        if (::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::fchmod(fd_, info.st_mode & 07777);
    }

    std::string path_;
    int fd_ = -1;
};

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

Codec::DecodeResult DecodeFile(const std::string& path, Codec::Picture& picture) {
    File file(std::fopen(path.c_str(), "rbe"));
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
        TempFile temp;
        if (const int error = temp.Create(utf8Path))
            return StatusFromErrno(error);
        errno = 0;
        if (const int error = EncodeWith(format, temp.fd(), view))
            return StatusFromErrno(error);
        if (const int error = temp.Commit(utf8Path))
            return StatusFromErrno(error);
        return ImageFileStatus::Ok;
    } catch (const std::bad_alloc&) {
        return ImageFileStatus::OutOfMemory;
    }
}

}  // namespace Platform
