#include "Archive.h"

namespace Archive {

namespace {

constexpr std::uint16_t kNullTag = 0;
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kClassTag = 0x8000;
constexpr std::uint32_t kBigClassTag = 0x80000000u;
constexpr std::uint16_t kBigObjectTag = 0x7FFF;
// Longest class name the framework accepts when it reads a class back.
constexpr std::size_t kMaxClassName = 63;

}  // namespace

void Writer::WriteWord(std::uint16_t v) {
    WriteByte(static_cast<std::uint8_t>(v));
    WriteByte(static_cast<std::uint8_t>(v >> 8));
}

void Writer::WriteDword(std::uint32_t v) {
    WriteWord(static_cast<std::uint16_t>(v));
    WriteWord(static_cast<std::uint16_t>(v >> 16));
}

void Writer::WriteString(std::string_view s) {
    const std::uint64_t n = s.size();
    if (n < 0xFF) {
        WriteByte(static_cast<std::uint8_t>(n));
    } else {
        WriteByte(0xFF);
        if (n < 0xFFFE) {
            WriteWord(static_cast<std::uint16_t>(n));
        } else {
            WriteWord(0xFFFF);
            if (n < 0xFFFFFFFFu) {
                WriteDword(static_cast<std::uint32_t>(n));
            } else {
                WriteDword(0xFFFFFFFFu);
                WriteDword(static_cast<std::uint32_t>(n));
                WriteDword(static_cast<std::uint32_t>(n >> 32));
            }
        }
    }
    bytes_.insert(bytes_.end(), s.begin(), s.end());
}

void Writer::WriteCount(std::uint32_t n) {
    if (n < 0xFFFF) {
        WriteWord(static_cast<std::uint16_t>(n));
    } else {
        WriteWord(0xFFFF);
        WriteDword(n);
    }
}

void Writer::WriteObjectTag(std::string_view className, std::uint16_t schema) {
    auto it = classIndex_.find(className);
    if (it != classIndex_.end()) {
        if (it->second < kBigObjectTag) {
            WriteWord(static_cast<std::uint16_t>(kClassTag | it->second));
        } else {
            WriteWord(kBigObjectTag);
            WriteDword(kBigClassTag | it->second);
        }
    } else {
        WriteWord(kNewClassTag);
        WriteWord(schema);
        WriteWord(static_cast<std::uint16_t>(className.size()));
        bytes_.insert(bytes_.end(), className.begin(), className.end());
        classIndex_.emplace(std::string(className), mapCount_++);
    }
    ++mapCount_;  // the object itself
}

void Reader::Need(std::size_t n) const {
    if (n > size_ - pos_)
        throw ArchiveEof();
}

std::uint8_t Reader::ReadByte() {
    Need(1);
    return data_[pos_++];
}

std::uint16_t Reader::ReadWord() {
    Need(2);
    const std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t Reader::ReadDword() {
    const std::uint32_t lo = ReadWord();
    const std::uint32_t hi = ReadWord();
    return lo | (hi << 16);
}

void Reader::Skip(std::size_t n) {
    Need(n);
    pos_ += n;
}

std::string Reader::ReadString() {
    std::uint64_t n = ReadByte();
    if (n == 0xFF) {
        n = ReadWord();
        if (n == 0xFFFE)
            throw ArchiveBad("wide strings are not stored by this program");
        if (n == 0xFFFF) {
            n = ReadDword();
            if (n == 0xFFFFFFFFu) {
                const std::uint64_t lo = ReadDword();
                const std::uint64_t hi = ReadDword();
                n = lo | (hi << 32);
            }
        }
    }
    if (n > Remaining())
        throw ArchiveEof();
    std::string s(reinterpret_cast<const char*>(data_ + pos_), static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    return s;
}

std::uint32_t Reader::ReadCount(std::size_t minBytesPerItem) {
    std::uint32_t n = ReadWord();
    if (n == 0xFFFF)
        n = ReadDword();
    if (minBytesPerItem > 0 && n > Remaining() / minBytesPerItem)
        throw ArchiveEof();
    return n;
}

bool Reader::ReadObjectTag(std::string_view className) {
    std::string name;
    if (!ReadAnyObjectTag(name))
        return false;
    if (name != className)
        throw ArchiveBad("unexpected class " + name);
    return true;
}

bool Reader::ReadAnyObjectTag(std::string& className) {
    if (classes_.empty())
        classes_.emplace_back();  // index 0: the null object
    const std::uint16_t tag = ReadWord();
    std::uint32_t objectTag;
    if (tag == kBigObjectTag)
        objectTag = ReadDword();
    else
        objectTag = (static_cast<std::uint32_t>(tag & kClassTag) << 16) | (tag & ~kClassTag);
    if (!(objectTag & kBigClassTag)) {
        if (objectTag == kNullTag)
            return false;
        throw ArchiveBad("reference to an object read before");
    }
    std::string name;
    if (tag == kNewClassTag) {
        ReadWord();  // the schema: the stored classes are versionable, any schema loads
        const std::uint16_t length = ReadWord();
        if (length == 0 || length > kMaxClassName)
            throw ArchiveBad("class name of bad length");
        Need(length);
        name.assign(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        classes_.push_back(name);
    } else {
        const std::uint32_t index = objectTag & ~kBigClassTag;
        if (index == 0 || index >= classes_.size() || classes_[index].empty())
            throw ArchiveBad("reference to an unknown class");
        name = classes_[index];
    }
    classes_.emplace_back();  // the object's own map entry
    className = std::move(name);
    return true;
}

}  // namespace Archive
