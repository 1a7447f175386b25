#pragma once
// A read-only file that reads 8-, 16- and 32-bit values in the byte order a
// TIFF header announces. Every short read throws CFileException with the
// generic cause (1) and OS error -1.

#include <cstdint>
#include <string>

#include "CFile.h"

class CFileReader : public CFile {
public:
    // Opens for reading without denying others; throws when it cannot.
    explicit CFileReader(const std::string& path) : CFile(path) {}

    virtual uint8_t ReadByte();
    virtual uint16_t ReadWord();
    virtual uint32_t ReadDword();

    // Reads exactly count bytes or throws.
    void ReadExactly(void* buffer, size_t count);

    // 0: least significant byte first ("II"); non-zero: most significant first ("MM").
    int m_bigEndian = 0;
};
