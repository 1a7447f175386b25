#include "ExifEntry.h"

ExifEntry ReadExifEntry(CFileReader& file) {
    ExifEntry e;
    e.tag = file.ReadWord();
    e.type = file.ReadWord();
    e.count = file.ReadDword();
    file.ReadExactly(e.raw, 4);
    e.value =
        file.m_bigEndian
            ? (uint32_t(e.raw[0]) << 24) | (uint32_t(e.raw[1]) << 16) | (uint32_t(e.raw[2]) << 8) | e.raw[3]
            : (uint32_t(e.raw[3]) << 24) | (uint32_t(e.raw[2]) << 16) | (uint32_t(e.raw[1]) << 8) | e.raw[0];
    return e;
}

uint32_t EntryScalar(const ExifEntry& entry, int bigEndian) {
    if (entry.type == ExifTypes::Short)
        return bigEndian ? entry.value >> 16 : entry.value & 0xFFFF;
    return entry.value;
}

uint64_t ExifValueSize(const ExifEntry& entry) {
    uint64_t size = 0;
    switch (entry.type) {
        case 1:
        case 2:
        case 6:
        case 7:
            size = entry.count;
            break;
        case 3:
        case 8:
            size = 2ull * entry.count;
            break;
        case 4:
        case 9:
        case 11:
            size = 4ull * entry.count;
            break;
        case 5:
        case 10:
        case 12:
            size = 8ull * entry.count;
            break;
        default:
            return 0;
    }
    return size > 4 ? size : 0;
}

int NextJpegMarker(CFile& file) {
    uint8_t b = 0;
    for (;;) {
        if (file.Read(&b, 1) != 1)
            return 0;
        if (b != 0xFF)
            continue;
        do {
            if (file.Read(&b, 1) != 1)
                return 0;
        } while (b == 0xFF);
        if (b != 0x00)
            return b;
    }
}
