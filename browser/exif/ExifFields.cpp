#include "ExifFields.h"

#include <strings.h>

#include <algorithm>

namespace {

const std::vector<ExifField> kFields = {
    {270, 147},   {271, 148},   {272, 149},   {274, 150},   {305, 151},   {306, 152},   {531, 153},
    {33434, 154}, {33437, 155}, {34850, 156}, {34855, 157}, {37122, 158}, {37380, 159}, {37381, 160},
    {37383, 171}, {37384, 162}, {37385, 163}, {37386, 164}, {40961, 165}, {40962, 166}, {40963, 167},
    {41986, 168}, {41987, 169}, {41988, 170}, {41989, 172}, {41990, 173}, {41994, 174},
};

constexpr uint16_t kExifDirectoryTag = 34665;
constexpr uint16_t kGpsDirectoryTag = 34853;

// Walks one directory at base + offset. False when the callback ended the walk.
bool WalkDirectory(CFileReader& file, const ExifBounds& bounds, uint32_t offset, const ExifCallback& callback,
                   uint32_t* exifDirectory, uint32_t* gpsDirectory) {
    // A directory outside the EXIF block reads as a short read would.
    if (!bounds.Holds(offset, 2))
        CFileException::ThrowGeneric(file.GetFilePath());
    file.Seek(static_cast<int64_t>(bounds.base + offset), CFile::begin);
    const uint16_t count = file.ReadWord();
    for (uint32_t i = 0; i < count; ++i) {
        const ExifEntry e = ReadExifEntry(file);
        if (exifDirectory && e.tag == kExifDirectoryTag) {
            *exifDirectory = e.value;
            continue;
        }
        if (gpsDirectory && e.tag == kGpsDirectoryTag) {
            *gpsDirectory = e.value;
            continue;
        }
        const uint64_t back = file.GetPosition();
        file.Seek(static_cast<int64_t>(bounds.base), CFile::begin);
        const bool goOn = callback(file, e, bounds);
        file.Seek(static_cast<int64_t>(back), CFile::begin);
        if (!goOn)
            return false;
    }
    return true;
}

// The walk with one choice: whether a TIFF without an EXIF directory lists its first directory.
void Walk(CFileReader& file, const ExifCallback& callback, bool tiffNeedsExifDirectory) {
    if (!callback)
        return;
    ExifBounds bounds;
    uint32_t ifd0 = 0;
    const int kind = DetectImageKind(file);
    if (kind == 1) {
        const uint32_t exif = FindExifDirectory(file);
        if (exif == 0 && (tiffNeedsExifDirectory || file.GetLength() <= 8))
            return;
        if (exif == 0) {
            char order[2];
            file.Seek(0, CFile::begin);
            file.ReadExactly(order, 2);
            file.m_bigEndian = order[0] == 'M';
        }
        file.Seek(4, CFile::begin);
        ifd0 = file.ReadDword();
        bounds = {0, file.GetLength()};
    } else if (kind == 2) {
        const uint64_t position = FindExifSegmentIn(file);
        if (position < 1)
            return;
        file.Seek(static_cast<int64_t>(position), CFile::begin);
        uint8_t len[2];
        file.ReadExactly(len, 2);
        const uint64_t end = std::min<uint64_t>(position + ((len[0] << 8) | len[1]), file.GetLength());
        bounds = {position + 8, end};
        file.Seek(static_cast<int64_t>(bounds.base), CFile::begin);
        char order[2];
        file.ReadExactly(order, 2);
        file.m_bigEndian = order[0] == 'M' && order[1] == 'M';
        file.ReadWord();
        ifd0 = file.ReadDword();
    } else {
        return;
    }
    uint32_t exif = 0, gps = 0;
    if (!WalkDirectory(file, bounds, ifd0, callback, &exif, &gps))
        return;
    if (exif != 0 && !WalkDirectory(file, bounds, exif, callback, nullptr, nullptr))
        return;
    if (gps != 0)
        WalkDirectory(file, bounds, gps, callback, nullptr, nullptr);
}

}  // namespace

const std::vector<ExifField>& ExifFieldTable() {
    return kFields;
}

int DetectImageKind(CFileReader& file) {
    const uint64_t back = file.GetPosition();
    uint8_t b[2] = {};
    const size_t n = file.Read(b, 2);
    file.Seek(static_cast<int64_t>(back), CFile::begin);
    if (n != 2)
        return 0;
    if (b[0] == 0xFF && b[1] == 0xD8)
        return 2;
    if ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M'))
        return 1;
    return 0;
}

uint64_t FindExifSegmentIn(CFileReader& file) {
    try {
        for (;;) {
            const int marker = NextJpegMarker(file);
            if (marker == 0 || marker == 0xDA)
                return 0;
            if (marker != 0xE1)
                continue;
            const uint64_t position = file.GetPosition();
            uint8_t header[7];
            if (file.Read(header, 7) != 7)
                return 0;
            return strncasecmp(reinterpret_cast<const char*>(header + 2), "Exif", 5) == 0 && header[6] == 0
                       ? position
                       : 0;
        }
    } catch (const CFileException&) {
        return 0;
    }
}

uint32_t FindExifDirectory(CFileReader& file) {
    if (file.GetLength() <= 128)
        return 0;
    file.Seek(0, CFile::begin);
    char order[2];
    file.ReadExactly(order, 2);
    if (order[0] != order[1] || (order[0] != 'I' && order[0] != 'M'))
        return 0;
    file.m_bigEndian = order[0] == 'M';
    file.ReadWord();
    file.Seek(file.ReadDword(), CFile::begin);
    const uint16_t count = file.ReadWord();
    for (uint32_t i = 0; i < count; ++i) {
        const ExifEntry e = ReadExifEntry(file);
        if (e.tag == kExifDirectoryTag)
            return e.value;
    }
    return 0;
}

void WalkExifEntries(CFileReader& file, const ExifCallback& callback) {
    Walk(file, callback, true);
}

int ReadExifFields(const std::string& path, std::vector<uint32_t>& request, std::vector<std::string>& texts,
                   CExifTagFormat* format, CExifTagReader* reader) {
    CFileReader file(path);
    CExifTagFormat defaultFormat;
    CExifTagReader defaultReader;
    CExifTagFormat& fmt = format ? *format : defaultFormat;
    CExifTagReader& rdr = reader ? *reader : defaultReader;

    if (request.empty())
        for (const ExifField& f : kFields)
            request.push_back(f.stringId);
    std::vector<uint16_t> tags;
    for (uint32_t id : request) {
        const auto it = std::find_if(kFields.begin(), kFields.end(),
                                     [id](const ExifField& f) { return f.stringId == id; });
        if (it != kFields.end())
            tags.push_back(static_cast<uint16_t>(it->tag));
    }
    texts.assign(tags.size(), std::string());

    int found = 0;
    WalkExifEntries(file, [&](CFileReader& f, const ExifEntry& entry, const ExifBounds& bounds) {
        for (size_t i = tags.size(); i-- > 0;) {
            if (tags[i] != entry.tag)
                continue;
            texts[i] = rdr.FormatTag(f, entry, bounds, fmt);
            ++found;
            return found != static_cast<int>(tags.size());
        }
        return true;
    });
    return found;
}

std::map<uint16_t, std::string> ReadExifAsciiTags(const std::string& path,
                                                  const std::vector<uint16_t>& tags) {
    std::map<uint16_t, std::string> values;
    try {
        CFileReader file(path);
        CExifTagReader reader;
        Walk(
            file,
            [&](CFileReader& f, const ExifEntry& entry, const ExifBounds& bounds) {
                if (std::find(tags.begin(), tags.end(), entry.tag) != tags.end() &&
                    !values.count(entry.tag)) {
                    std::string text;
                    if (reader.ReadAscii(f, entry, bounds, text))
                        values[entry.tag] = text;
                }
                return values.size() < tags.size();
            },
            false);
    } catch (const CFileException&) {
    }
    return values;
}
