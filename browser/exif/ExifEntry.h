#pragma once
// Pieces shared by the EXIF readers: one directory entry, the byte size of
// its value, the window of the file that offsets may reach, and the JPEG
// marker scan.

#include <cstdint>

#include "CFileReader.h"

// One 12-byte directory entry, read in the file's byte order; raw keeps the
// value field's four bytes in file order.
struct ExifEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;
    uint8_t raw[4] = {};
};

// The part of the file that the EXIF offsets refer to: offsets count from
// base, and nothing may be read at or past limit (the end of the APP1
// segment in a JPEG, the end of the file in a TIFF).
struct ExifBounds {
    uint64_t base = 0;
    uint64_t limit = 0;

    // True when [base + offset, base + offset + size) lies inside the window.
    bool Holds(uint64_t offset, uint64_t size) const {
        return base <= limit && offset <= limit - base && size <= limit - base - offset;
    }
};

namespace ExifTypes {
enum : uint16_t {
    Byte = 1,
    Ascii = 2,
    Short = 3,
    Long = 4,
    Rational = 5,
    SByte = 6,
    Undefined = 7,
    SShort = 8,
    SLong = 9,
    SRational = 10,
    Float = 11,
    Double = 12,
};
}

ExifEntry ReadExifEntry(CFileReader& file);

// The value of a one-number entry: a SHORT is the first 16 bits of the field
// in file order, anything else the whole 32-bit field.
uint32_t EntryScalar(const ExifEntry& entry, int bigEndian);

// Bytes the value takes when that is more than 4 (it then lies at an
// offset); 0 for 4 bytes or fewer, type 0 and types above 12. 64-bit, so a
// count of 0xFFFFFFFF cannot wrap.
uint64_t ExifValueSize(const ExifEntry& entry);

// The next marker code after FF (fill bytes skipped, FF 00 is no marker), or
// 0 at the end of the file.
int NextJpegMarker(CFile& file);
