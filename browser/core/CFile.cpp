#include "CFile.h"

#include "FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

CFileException::CFileException(int cause, long osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {
    m_text = "file error " + std::to_string(cause);
    if (!m_strFileName.empty())
        m_text += ": " + m_strFileName;
}

void CFileException::ThrowGeneric(const std::string& fileName) {
    throw CFileException(genericException, -1, fileName);
}

int CFileException::CauseFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return fileNotFound;
        case ENAMETOOLONG:
        case ENOTDIR:
        case ELOOP:
            return badPath;
        case EACCES:
        case EPERM:
        case EROFS:
            return accessDenied;
        default:
            return genericException;
    }
}

CFile::CFile(const std::string& path) {
    if (!OpenForRead(path))
        throw CFileException(CFileException::CauseFromErrno(errno), errno, path);
}

CFile::~CFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CFile::OpenForRead(const std::string& path) {
    Close();
    // Only a regular file: a FIFO would block, a device never ends.
    const int fd = Platform::OpenForReading(path, Platform::kMaxPhotoBytes);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_path = path;
    return true;
}

size_t CFile::Read(void* buffer, size_t count) {
    if (m_fd < 0)
        CFileException::ThrowGeneric(m_path);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        if (m_bufferPos < m_bufferLen) {
            const size_t n = std::min(count - done, m_bufferLen - m_bufferPos);
            std::memcpy(out + done, m_buffer.data() + m_bufferPos, n);
            m_bufferPos += n;
            done += n;
            continue;
        }
        // Refill at the logical position.
        m_bufferStart += m_bufferLen;
        m_bufferPos = m_bufferLen = 0;
        if (m_buffer.empty())
            m_buffer.resize(4096);
        ssize_t n;
        do {
            n = ::pread(m_fd, m_buffer.data(), m_buffer.size(), static_cast<off_t>(m_bufferStart));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            throw CFileException(CFileException::genericException, errno, m_path);
        if (n == 0)
            break;
        m_bufferLen = static_cast<size_t>(n);
    }
    return done;
}

void CFile::Write(const void*, size_t) {
    // Files of this class are opened for reading only.
    throw CFileException(CFileException::accessDenied, EBADF, m_path);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    if (m_fd < 0)
        CFileException::ThrowGeneric(m_path);
    const int64_t base = from == begin     ? 0
                         : from == current ? static_cast<int64_t>(GetPosition())
                                           : static_cast<int64_t>(GetLength());
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base))
        CFileException::ThrowGeneric(m_path);
    const uint64_t target = static_cast<uint64_t>(base + offset);
    if (target >= m_bufferStart && target <= m_bufferStart + m_bufferLen) {
        m_bufferPos = static_cast<size_t>(target - m_bufferStart);
    } else {
        m_bufferStart = target;
        m_bufferPos = m_bufferLen = 0;
    }
    return target;
}

uint64_t CFile::GetPosition() const {
    return m_bufferStart + m_bufferPos;
}

uint64_t CFile::GetLength() const {
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Flush() {}

void CFile::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_bufferStart = 0;
    m_bufferPos = m_bufferLen = 0;
}

bool CFile::GetStatus(const std::string& path, CFileStatus& status) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    status = CFileStatus{};
    status.m_mtime = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
    status.m_atime = static_cast<std::time_t>(sx.stx_atime.tv_sec);
    // Without a birth time the status change is the nearest thing we have.
    status.m_ctime = (sx.stx_mask & STATX_BTIME) ? static_cast<std::time_t>(sx.stx_btime.tv_sec)
                                                 : static_cast<std::time_t>(sx.stx_ctime.tv_sec);
    status.m_size = sx.stx_size;
    status.readOnly = ::access(path.c_str(), W_OK) != 0 && errno == EACCES;
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    status.hidden = !name.empty() && name[0] == '.';
    return true;
}

size_t CMemFile::Read(void* buffer, size_t count) {
    if (m_position >= m_data.size())
        return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m_data.size() - m_position));
    std::memcpy(buffer, m_data.data() + m_position, n);
    m_position += n;
    return n;
}

void CMemFile::Write(const void* buffer, size_t count) {
    if (count == 0)
        return;
    const uint64_t end = m_position + count;
    if (end > m_data.size())
        m_data.resize(static_cast<size_t>(end));
    std::memcpy(m_data.data() + m_position, buffer, count);
    m_position = end;
}

uint64_t CMemFile::Seek(int64_t offset, SeekPosition from) {
    const int64_t base = from == begin     ? 0
                         : from == current ? static_cast<int64_t>(m_position)
                                           : static_cast<int64_t>(m_data.size());
    if ((offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base))
        CFileException::ThrowGeneric();
    m_position = static_cast<uint64_t>(base + offset);
    return m_position;
}

std::vector<uint8_t> CMemFile::Detach() {
    m_position = 0;
    return std::move(m_data);
}
