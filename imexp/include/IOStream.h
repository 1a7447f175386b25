#pragma once
// The byte stream the library hands to converters. Converters never open files
// themselves: the library opens the file and passes an IOStream. The order of
// the virtual operations is a binary interface shared with every converter.
//
// Failures of the stream are thrown as pointers to an IOStreamException
// (in practice a CImpExp_FileException) allocated with new; whoever catches
// one deletes it.

#include <string>

#include "FormgateExport.h"

class FORMGATE_API IOStream {
public:
    virtual ~IOStream();
    // Bytes read; fewer than count at the end of the file.
    virtual int Read(void* buffer, int count) = 0;
    virtual char ReadByte() = 0;
    // Two bytes as stored.
    virtual short ReadWord() = 0;
    virtual int Write(const void* buffer, int count) = 0;
    virtual void WriteByte(const void* byte) = 0;
    virtual void WriteWord(const void* word) = 0;
    // origin 0: from the start, 1: from the current position, 2: from the end.
    virtual bool Seek(int distance, int origin, int* newPosition) = 0;
    virtual int Tell() = 0;
    virtual int Flush() = 0;
};

class FORMGATE_API IOStreamException {
public:
    IOStreamException() = default;
    IOStreamException(const IOStreamException&) = default;
    IOStreamException& operator=(const IOStreamException&) = default;
    virtual ~IOStreamException();
};

class FORMGATE_API CImpExp_FileException : public IOStreamException {
public:
    // The causes a system error is mapped to.
    enum Cause {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    CImpExp_FileException(int cause = none, long osError = -1, std::string fileName = {});
    ~CImpExp_FileException() override;

    // The cause of a system error number (errno); 0 gives none.
    static int CauseFromErrno(int error);

    int m_cause;
    long m_lOsError;  // the errno, or -1 when there is none
    std::string m_strFileName;
};

// The library's stream over a file.
class FORMGATE_API CImExp_FileStream : public IOStream {
public:
    enum class OpenMode {
        Read,            // an existing file, read only
        CreateReadWrite  // created or emptied, read and write
    };

    CImExp_FileStream();
    CImExp_FileStream(const CImExp_FileStream&) = delete;
    CImExp_FileStream& operator=(const CImExp_FileStream&) = delete;
    // Closes an open stream; a failing close is swallowed here.
    ~CImExp_FileStream() override;

    // Closes a stream still open, then opens the file. On failure fills the
    // optional record (cause, errno, name) and returns false. Folders are
    // refused with accessDenied, and so is anything but a regular file to
    // read (a FIFO or a device), at once.
    bool Open(const char* fileName, OpenMode mode, CImpExp_FileException* error = nullptr);
    // The same with a UTF-16 name; the stream keeps the name in UTF-8.
    bool Open(const char16_t* fileName, OpenMode mode, CImpExp_FileException* error = nullptr);
    // Throws when the system reports a failing close.
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& FileName() const { return m_strFileName; }

    int Read(void* buffer, int count) override;
    char ReadByte() override;
    short ReadWord() override;
    int Write(const void* buffer, int count) override;
    void WriteByte(const void* byte) override;
    void WriteWord(const void* word) override;
    bool Seek(int distance, int origin, int* newPosition) override;
    int Tell() override;
    // Flushes to the device: 1 done, 0 when closed or refused.
    int Flush() override;

private:
    [[noreturn]] void Throw(int error, bool withName) const;

    int m_fd = -1;
    std::string m_strFileName;
};
