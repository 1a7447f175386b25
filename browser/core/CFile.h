#pragma once
// A small file class for the browser's readers and writers: a read, write and
// seek interface over a POSIX file or a growable block of memory, failing by
// throwing CFileException with a cause code.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

// A failed file operation. Cause 1 is the generic cause: a short read, a bad
// seek, or data that make no sense.
class CFileException : public std::exception {
public:
    enum Cause {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        accessDenied = 5,
        invalidFile = 6,
        endOfFile = 14,
    };

    CFileException(int cause, long osError, std::string fileName = {});
    const char* what() const noexcept override { return m_text.c_str(); }

    int m_cause;
    long m_lOsError;
    std::string m_strFileName;

    [[noreturn]] static void ThrowGeneric(const std::string& fileName = {});
    // The cause that an errno value means.
    static int CauseFromErrno(int error);

private:
    std::string m_text;
};

// File facts of one path; the times are 0 when the file system keeps none.
struct CFileStatus {
    std::time_t m_ctime = 0;  // creation (birth) time
    std::time_t m_mtime = 0;
    std::time_t m_atime = 0;
    uint64_t m_size = 0;
    bool readOnly = false;  // the user may not write it
    bool hidden = false;    // the name starts with '.'
};

class CFile {
public:
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    // Opens for reading without denying others anything; throws when it cannot.
    explicit CFile(const std::string& path);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // False (no throw) when the file cannot be opened for reading.
    bool OpenForRead(const std::string& path);

    // Reads up to count bytes; fewer only at the end of the file.
    virtual size_t Read(void* buffer, size_t count);
    virtual void Write(const void* buffer, size_t count);
    // Returns the new position; a position before the start throws.
    virtual uint64_t Seek(int64_t offset, SeekPosition from);
    virtual uint64_t GetPosition() const;
    virtual uint64_t GetLength() const;
    virtual void Flush();
    virtual void Close();

    const std::string& GetFilePath() const { return m_path; }

    // The facts of a path; false when they cannot be read.
    static bool GetStatus(const std::string& path, CFileStatus& status);

protected:
    int m_fd = -1;
    std::string m_path;

private:
    // Reads go through a small buffer: the metadata readers take a byte at a time.
    std::vector<uint8_t> m_buffer;
    uint64_t m_bufferStart = 0;  // file offset of m_buffer[0]
    size_t m_bufferPos = 0;
    size_t m_bufferLen = 0;
};

// A growable file in memory; the thumbnail cache keeps encoded JPEG here.
class CMemFile : public CFile {
public:
    CMemFile() = default;

    size_t Read(void* buffer, size_t count) override;
    void Write(const void* buffer, size_t count) override;
    uint64_t Seek(int64_t offset, SeekPosition from) override;
    uint64_t GetPosition() const override { return m_position; }
    uint64_t GetLength() const override { return m_data.size(); }
    void Flush() override {}
    void Close() override {}

    const std::vector<uint8_t>& Data() const { return m_data; }
    std::vector<uint8_t> Detach();

private:
    std::vector<uint8_t> m_data;
    uint64_t m_position = 0;
};
