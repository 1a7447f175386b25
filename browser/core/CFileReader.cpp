#include "CFileReader.h"

void CFileReader::ReadExactly(void* buffer, size_t count) {
    if (Read(buffer, count) != count)
        CFileException::ThrowGeneric(m_path);
}

uint8_t CFileReader::ReadByte() {
    uint8_t b = 0;
    ReadExactly(&b, 1);
    return b;
}

uint16_t CFileReader::ReadWord() {
    uint8_t b[2];
    ReadExactly(b, 2);
    return m_bigEndian ? static_cast<uint16_t>((b[0] << 8) | b[1])
                       : static_cast<uint16_t>((b[1] << 8) | b[0]);
}

uint32_t CFileReader::ReadDword() {
    const uint32_t w1 = ReadWord();
    const uint32_t w2 = ReadWord();
    return m_bigEndian ? (w1 << 16) | w2 : (w2 << 16) | w1;
}
