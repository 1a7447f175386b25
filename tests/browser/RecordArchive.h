#pragma once
// A small in-memory archive with the primitives the thumbnail record uses
// (little-endian numbers, counted strings, counts), for the record's tests.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace RecordTest {

struct ShortData : std::runtime_error {
    ShortData() : std::runtime_error("short") {}
};

class Writer {
public:
    void WriteByte(uint8_t v) { bytes.push_back(v); }
    void WriteDword(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void WriteInt(int32_t v) { WriteDword(uint32_t(v)); }
    void WriteString(const std::string& s) {
        WriteByte(uint8_t(s.size()));  // the short form is enough here
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void WriteCount(uint32_t n) {
        WriteByte(uint8_t(n));
        WriteByte(uint8_t(n >> 8));
    }
    std::vector<uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& b) : bytes(b) {}
    uint8_t ReadByte() {
        if (pos >= bytes.size())
            throw ShortData();
        return bytes[pos++];
    }
    uint32_t ReadDword() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(ReadByte()) << (8 * i);
        return v;
    }
    int32_t ReadInt() { return int32_t(ReadDword()); }
    std::string ReadString() {
        const size_t n = ReadByte();
        if (n > Remaining())
            throw ShortData();
        std::string s(bytes.begin() + long(pos), bytes.begin() + long(pos + n));
        pos += n;
        return s;
    }
    uint32_t ReadCount(size_t minBytes) {
        const uint32_t n = ReadByte() | (uint32_t(ReadByte()) << 8);
        if (n * minBytes > Remaining())
            throw ShortData();
        return n;
    }
    size_t Remaining() const { return bytes.size() - pos; }

private:
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
};

}  // namespace RecordTest
