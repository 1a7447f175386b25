#pragma once
// A reader and a writer of the framework's archive bytes (little-endian
// numbers, counted 8-bit strings, object tags with class names), for the
// stored lists and the drag data. The reader checks every length against the
// bytes it holds and throws on short or malformed data, so a forged or
// truncated archive can never make it read out of bounds or allocate wildly.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Archive {

// The data ended before a value was complete.
class ArchiveEof : public std::runtime_error {
public:
    ArchiveEof() : std::runtime_error("archive: unexpected end of data") {}
};

// The data is not what the reader expects (unknown class, bad tag, wrong schema).
class ArchiveBad : public std::runtime_error {
public:
    explicit ArchiveBad(const std::string& what) : std::runtime_error("archive: " + what) {}
};

class Writer {
public:
    // documentPath: the path of the document the archive is written for; the
    // stored paths are made relative to its folder. Empty for none.
    explicit Writer(std::string documentPath = {}) : documentPath_(std::move(documentPath)) {}

    void WriteByte(std::uint8_t v) { bytes_.push_back(v); }
    void WriteWord(std::uint16_t v);
    void WriteDword(std::uint32_t v);
    void WriteInt(std::int32_t v) { WriteDword(static_cast<std::uint32_t>(v)); }
    void WriteZeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    // Length prefix (1, 3, 7 or 15 bytes), then the bytes as they are.
    void WriteString(std::string_view s);
    // A list's element count: a word below 0xFFFF, else 0xFFFF and a dword.
    void WriteCount(std::uint32_t n);
    // The tag in front of an object: the class name and schema the first
    // time the class appears, then a reference to that class.
    void WriteObjectTag(std::string_view className, std::uint16_t schema);

    const std::string& DocumentPath() const { return documentPath_; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::string documentPath_;
    std::vector<std::uint8_t> bytes_;
    std::map<std::string, std::uint32_t, std::less<>> classIndex_;
    std::uint32_t mapCount_ = 1;  // 0 stands for a null object
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, std::string documentPath = {})
        : data_(data), size_(size), documentPath_(std::move(documentPath)) {}
    explicit Reader(const std::vector<std::uint8_t>& bytes, std::string documentPath = {})
        : Reader(bytes.data(), bytes.size(), std::move(documentPath)) {}

    std::uint8_t ReadByte();
    std::uint16_t ReadWord();
    std::uint32_t ReadDword();
    std::int32_t ReadInt() { return static_cast<std::int32_t>(ReadDword()); }
    void Skip(std::size_t n);
    std::string ReadString();
    // minBytesPerItem: the least each counted item occupies, so that a count
    // larger than the data can hold is refused before anything is allocated.
    std::uint32_t ReadCount(std::size_t minBytesPerItem = 1);
    // Reads an object tag and checks that it announces an object of the
    // class (of any schema: the stored classes are versionable); false for a
    // null object. Throws on any other class, and on references back to an
    // object already read (the stored lists never hold one object twice).
    bool ReadObjectTag(std::string_view className);
    // The same for an object of any class, whose name goes to className;
    // the caller decides whether it may read that class.
    bool ReadAnyObjectTag(std::string& className);

    std::size_t Remaining() const { return size_ - pos_; }
    const std::string& DocumentPath() const { return documentPath_; }

private:
    void Need(std::size_t n) const;

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::string documentPath_;
    std::vector<std::string> classes_;  // by map index; objects hold an empty name
};

}  // namespace Archive
