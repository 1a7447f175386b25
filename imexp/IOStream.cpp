#include "IOStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "Utf16.h"

IOStream::~IOStream() = default;

IOStreamException::~IOStreamException() = default;

CImpExp_FileException::CImpExp_FileException(int cause, long osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

CImpExp_FileException::~CImpExp_FileException() = default;

int CImpExp_FileException::CauseFromErrno(int error) {
    switch (error) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return accessDenied;
        case EBADF:
            return invalidFile;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        case ESPIPE:
        case EOVERFLOW:
            return badSeek;
        case EIO:
            return hardIO;
        case EBUSY:
        case ETXTBSY:
            return sharingViolation;
        case EDEADLK:
        case ENOLCK:
            return lockViolation;
        default:
            return genericException;
    }
}

CImExp_FileStream::CImExp_FileStream() = default;

CImExp_FileStream::~CImExp_FileStream() {
    try {
        Close();
    } catch (IOStreamException* e) {
        delete e;
    }
}

bool CImExp_FileStream::Open(const char* fileName, OpenMode mode, CImpExp_FileException* error) {
    // Reopening must not leak the descriptor already held.
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_strFileName = fileName ? fileName : "";

    // A file to read is opened without waiting, so a FIFO with no writer cannot block.
    const bool reading = mode == OpenMode::Read;
    int flags = O_CLOEXEC | (reading ? (O_RDONLY | O_NONBLOCK) : (O_RDWR | O_CREAT | O_TRUNC));
    int fd = fileName ? ::open(fileName, flags, 0666) : -1;
    int err = fileName ? errno : ENOENT;
    if (fd >= 0) {
        // A folder opens for reading here, but is no file to convert; nor is a FIFO
        // or a device to read.
        struct stat st;
        if (::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (reading && !S_ISREG(st.st_mode)))) {
            ::close(fd);
            fd = -1;
            err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        } else if (reading && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            err = errno;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        if (error) {
            error->m_cause = CImpExp_FileException::CauseFromErrno(err);
            error->m_lOsError = err;
            error->m_strFileName = m_strFileName;
        }
        return false;
    }
    m_fd = fd;
    return true;
}

bool CImExp_FileStream::Open(const char16_t* fileName, OpenMode mode, CImpExp_FileException* error) {
    if (!fileName)
        return Open(static_cast<const char*>(nullptr), mode, error);
    const std::string name = formgate::Utf8FromUtf16(fileName);
    return Open(name.c_str(), mode, error);
}

void CImExp_FileStream::Close() {
    if (m_fd < 0) {
        m_strFileName.clear();
        return;
    }
    int fd = m_fd;
    std::string name = std::move(m_strFileName);
    m_fd = -1;
    m_strFileName.clear();
    if (::close(fd) != 0 && errno != EINTR) {
        int err = errno;
        throw new CImpExp_FileException(CImpExp_FileException::CauseFromErrno(err), err, std::move(name));
    }
}

void CImExp_FileStream::Throw(int error, bool withName) const {
    throw new CImpExp_FileException(CImpExp_FileException::CauseFromErrno(error), error,
                                    withName ? m_strFileName : std::string());
}

int CImExp_FileStream::Read(void* buffer, int count) {
    if (m_fd < 0 || count <= 0 || !buffer)
        return 0;
    auto* out = static_cast<char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::read(m_fd, out + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Throw(errno, false);
        if (n == 0)
            break;  // end of file
        done += static_cast<int>(n);
    }
    return done;
}

char CImExp_FileStream::ReadByte() {
    char c = 0;
    Read(&c, 1);
    return c;
}

short CImExp_FileStream::ReadWord() {
    unsigned char bytes[2] = {0, 0};
    Read(bytes, 2);
    short word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

int CImExp_FileStream::Write(const void* buffer, int count) {
    if (m_fd < 0 || count <= 0 || !buffer)
        return 0;
    ssize_t n;
    do {
        n = ::write(m_fd, buffer, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        Throw(errno, true);
    if (n < count)
        throw new CImpExp_FileException(CImpExp_FileException::diskFull, -1, m_strFileName);
    return static_cast<int>(n);
}

void CImExp_FileStream::WriteByte(const void* byte) {
    if (m_fd < 0 || !byte)
        return;
    Write(byte, 1);
}

void CImExp_FileStream::WriteWord(const void* word) {
    if (m_fd < 0 || !word)
        return;
    Write(word, 2);
}

bool CImExp_FileStream::Seek(int distance, int origin, int* newPosition) {
    int whence;
    switch (origin) {
        case 0:
            whence = SEEK_SET;
            break;
        case 1:
            whence = SEEK_CUR;
            break;
        case 2:
            whence = SEEK_END;
            break;
        default:
            if (newPosition)
                *newPosition = 0;
            return false;
    }
    if (m_fd < 0) {
        if (newPosition)
            *newPosition = 0;
        return false;
    }
    off_t pos = ::lseek(m_fd, distance, whence);
    if (pos < 0) {
        // A move before the start of the file is a bad seek, as any other refusal of lseek.
        int err = errno;
        throw new CImpExp_FileException(
            err == EINVAL ? CImpExp_FileException::badSeek : CImpExp_FileException::CauseFromErrno(err), err,
            m_strFileName);
    }
    // Positions are ints across the converter boundary.
    if (pos > INT_MAX)
        throw new CImpExp_FileException(CImpExp_FileException::badSeek, EOVERFLOW, m_strFileName);
    if (newPosition)
        *newPosition = static_cast<int>(pos);
    return true;
}

int CImExp_FileStream::Tell() {
    if (m_fd < 0)
        return 0;
    off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    if (pos < 0)
        Throw(errno, true);
    if (pos > INT_MAX)
        throw new CImpExp_FileException(CImpExp_FileException::badSeek, EOVERFLOW, m_strFileName);
    return static_cast<int>(pos);
}

int CImExp_FileStream::Flush() {
    if (m_fd < 0)
        return 0;
    return ::fsync(m_fd) == 0 ? 1 : 0;
}
