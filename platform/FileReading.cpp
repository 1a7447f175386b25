#include "FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Platform {

namespace {

int Fail(int fd, int error) {
    if (fd >= 0)
        ::close(fd);
    errno = error;
    return -1;
}

template <typename Bytes>
int ReadAll(const std::string& path, std::uint64_t maxBytes, Bytes& bytes, FinalLink link) {
    bytes.clear();
    const int fd = OpenForReading(path, maxBytes, link);
    if (fd < 0)
        return errno;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    // One byte beyond the size seen, so a file that grew is noticed.
    const std::uint64_t expected = static_cast<std::uint64_t>(info.st_size);
    std::size_t done = 0;
    try {
        bytes.resize(static_cast<std::size_t>(expected) + 1);
        for (;;) {
            if (done == bytes.size()) {
                if (bytes.size() > maxBytes)
                    break;
                bytes.resize(bytes.size() + bytes.size() / 2 + 4096);
            }
            const ssize_t n = ::read(fd, reinterpret_cast<char*>(bytes.data()) + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int error = errno;
                bytes.clear();
                ::close(fd);
                return error;
            }
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    } catch (...) {
        bytes.clear();
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (done > maxBytes) {
        bytes.clear();
        return EFBIG;
    }
    bytes.resize(done);
    return 0;
}

}  // namespace

int OpenForReading(const std::string& path, std::uint64_t maxBytes, FinalLink link) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (link == FinalLink::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0)
        return -1;
    // The type is checked on what was opened, not on the name, so nothing can
    // be swapped in between.
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return Fail(fd, errno);
    if (S_ISDIR(info.st_mode))
        return Fail(fd, EISDIR);
    if (!S_ISREG(info.st_mode))
        return Fail(fd, EINVAL);
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return Fail(fd, EFBIG);
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0 || ::fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) != 0)
        return Fail(fd, errno);
    return fd;
}

int ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes, FinalLink link) {
    return ReadAll(path, maxBytes, bytes, link);
}

int ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& bytes,
                  FinalLink link) {
    return ReadAll(path, maxBytes, bytes, link);
}

}  // namespace Platform
