#include "ExifThumbnail.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "CDibBuffer.h"
#include "CFileReader.h"
#include "ExifEntry.h"
#include "ISSStreamMem.h"
#include "MiniJpeg.h"
#include "ProductTable.h"

namespace {

// The longest run of preview bytes read into memory.
constexpr uint64_t kMaxPreviewBytes = 64ull << 20;

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

uint16_t ReadBigEndianWord(CFile& file) {
    uint8_t b[2];
    if (file.Read(b, 2) != 2)
        CFileException::ThrowGeneric(file.GetFilePath());
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

// Rows of R, G, B triplets, asked for in rising order; the last two asked
// stay valid together (the bilinear sampler needs a row and the next).
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const uint8_t* Row(uint32_t index) = 0;
};

class MemoryRows : public RowSource {
public:
    MemoryRows(const uint8_t* data, uint32_t width) : m_data(data), m_width(width) {}
    const uint8_t* Row(uint32_t index) override { return m_data + static_cast<size_t>(index) * m_width * 3; }

private:
    const uint8_t* m_data;
    uint32_t m_width;
};

class DecoderRows : public RowSource {
public:
    DecoderRows(MiniJpeg::Decoder* decoder, uint32_t width, bool colour)
        : m_decoder(decoder), m_width(width), m_colour(colour) {
        for (auto& row : m_rows)
            row.resize(static_cast<size_t>(width) * 3);
    }
    const uint8_t* Row(uint32_t index) override {
        while (m_next <= index) {
            const uint8_t* line = m_decoder->ReadLine();
            auto& dst = m_rows[m_next & 1];
            if (m_colour) {
                std::memcpy(dst.data(), line, dst.size());
            } else {
                // Grey rows become triplets before sampling.
                for (uint32_t x = 0; x < m_width; ++x)
                    dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = line[x];
            }
            ++m_next;
        }
        return m_rows[index & 1].data();
    }

private:
    MiniJpeg::Decoder* m_decoder;
    uint32_t m_width;
    bool m_colour;
    uint32_t m_next = 0;
    std::vector<uint8_t> m_rows[2];
};

uint32_t DibStride(uint32_t width) {
    return (3 * width + 3) & ~3u;
}

PackedDib NewDib(uint32_t W, uint32_t H) {
    const uint64_t image = static_cast<uint64_t>(DibStride(W)) * H;
    PackedDib dib(new uint8_t[40 + image]());
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = static_cast<int32_t>(W);
    h.biHeight = static_cast<int32_t>(H);
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = static_cast<uint32_t>(image);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 2835;
    std::memcpy(dib.get(), &h, 40);
    return dib;
}

PackedDib SampleNearest(RowSource& rows, uint32_t w, uint32_t h, ThumbBox out) {
    const uint32_t W = out.cx, H = out.cy;
    PackedDib dib = NewDib(W, H);
    const uint32_t stride = DibStride(W);
    for (uint32_t y = 0; y < H; ++y) {
        const uint32_t sy = static_cast<uint32_t>(static_cast<uint64_t>(y) * h / H);
        const uint8_t* src = rows.Row(sy);
        uint8_t* dst = dib.get() + 40 + static_cast<size_t>(H - 1 - y) * stride;
        for (uint32_t x = 0; x < W; ++x) {
            const uint8_t* p = src + 3 * static_cast<size_t>(static_cast<uint64_t>(x) * w / W);
            dst[3 * x] = p[2];
            dst[3 * x + 1] = p[1];
            dst[3 * x + 2] = p[0];
        }
    }
    return dib;
}

PackedDib SampleBilinear(RowSource& rows, uint32_t w, uint32_t h, ThumbBox out) {
    const uint32_t W = out.cx, H = out.cy;
    const auto& product = BuildProductTable16();
    PackedDib dib = NewDib(W, H);
    const uint32_t stride = DibStride(W);
    for (uint32_t y = 0; y < H; ++y) {
        const uint32_t sy = static_cast<uint32_t>(static_cast<uint64_t>(y) * h / H);
        const uint32_t fy = static_cast<uint32_t>((static_cast<uint64_t>(y) * 16 * h / H) % 16);
        const uint32_t sy2 = std::min(sy + 1, h - 1);
        const uint8_t* r1 = rows.Row(sy);
        const uint8_t* r2 = rows.Row(sy2);
        uint8_t* dst = dib.get() + 40 + static_cast<size_t>(H - 1 - y) * stride;
        for (uint32_t x = 0; x < W; ++x) {
            const uint32_t sx = static_cast<uint32_t>(static_cast<uint64_t>(x) * w / W);
            const uint32_t fx = static_cast<uint32_t>((static_cast<uint64_t>(x) * 16 * w / W) % 16);
            const uint32_t sx2 = std::min(sx + 1, w - 1);
            const uint32_t wa = product[15 - fx][15 - fy], wb = product[fx][15 - fy];
            const uint32_t wc = product[15 - fx][fy], wd = product[fx][fy];
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = (r1[3 * sx + c] * wa + r1[3 * sx2 + c] * wb + r2[3 * sx + c] * wc +
                                    r2[3 * sx2 + c] * wd) /
                                   225;
                dst[3 * x + (2 - c)] = static_cast<uint8_t>(v);
            }
        }
    }
    return dib;
}

// Decodes a JPEG preview held in memory and fits it; null when the decoder
// rejects it or it is empty or implausibly large. Decoding streams rows, so
// memory stays at two source rows and the result.
PackedDib DecodePreview(const std::vector<uint8_t>& bytes, ThumbBox& box, bool bilinear) {
    ISSStreamMem stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
    int32_t w = 0, h = 0;
    uint8_t colour = 0;
    std::unique_ptr<MiniJpeg::Decoder> decoder(
        MiniJpeg::CreateDecoder(&stream, &w, &h, &colour, nullptr, nullptr, nullptr));
    if (!decoder || w <= 0 || h <= 0 ||
        static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > kMaxPreviewPixels)
        return nullptr;
    const ThumbBox out = FitToBox(box, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
    if (out.cx == 0 || out.cy == 0)
        return nullptr;
    DecoderRows rows(decoder.get(), static_cast<uint32_t>(w), colour != 0);
    PackedDib dib = bilinear ? SampleBilinear(rows, w, h, out) : SampleNearest(rows, w, h, out);
    box = out;
    return dib;
}

struct PreviewInfo {
    int64_t offset = -1;
    int64_t length = -1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t compression = 1;
};

// Reads the second directory (the preview's) at the file's current position.
void ReadPreviewDirectory(CFileReader& file, PreviewInfo& info) {
    const uint16_t count = file.ReadWord();
    for (uint32_t i = 0; i < count; ++i) {
        const ExifEntry e = ReadExifEntry(file);
        const uint32_t v = EntryScalar(e, file.m_bigEndian);
        switch (e.tag) {
            case 256:
                info.width = v;
                break;
            case 257:
                info.height = v;
                break;
            case 273:
            case 513:
                info.offset = v;
                break;
            case 279:
            case 514:
                info.length = v;
                break;
            case 259:
                info.compression = EntryScalar(e, file.m_bigEndian) & 0xFFFF;
                break;
            default:
                break;
        }
    }
    file.ReadDword();  // the next directory, not used
}

// Reads the preview that the directory describes, from base + offset.
PackedDib ReadPreview(CFileReader& file, uint64_t base, const PreviewInfo& info, ThumbBox& box) {
    if (info.offset < 0 || info.length < 0)
        return nullptr;
    const uint64_t length = static_cast<uint64_t>(info.length);
    const uint64_t start = base + static_cast<uint64_t>(info.offset);
    // Bytes that end before their stated length give no preview.
    if (length == 0 || length > kMaxPreviewBytes || start > file.GetLength() ||
        length > file.GetLength() - start)
        return nullptr;
    if (info.compression == 6) {
        file.Seek(static_cast<int64_t>(start), CFile::begin);
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        file.ReadExactly(bytes.data(), bytes.size());
        try {
            return DecodePreview(bytes, box, false);
        } catch (const MiniJpeg::Error&) {
            return nullptr;
        }
    }
    if (info.compression == 1) {
        // 64-bit product: a forged width and height must not wrap onto a small length.
        if (info.width == 0 || info.height == 0 ||
            static_cast<uint64_t>(info.width) * info.height * 3 != length)
            return nullptr;
        const ThumbBox out = FitToBox(box, info.width, info.height);
        if (out.cx == 0 || out.cy == 0)
            return nullptr;
        file.Seek(static_cast<int64_t>(start), CFile::begin);
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        file.ReadExactly(bytes.data(), bytes.size());
        MemoryRows rows(bytes.data(), info.width);
        PackedDib dib = SampleNearest(rows, info.width, info.height, out);
        box = out;
        return dib;
    }
    return nullptr;
}

}  // namespace

ThumbBox FitToBox(const ThumbBox& box, uint32_t w, uint32_t h) {
    if (box.cx == 0 || box.cy == 0 || w == 0 || h == 0)
        return {};
    ThumbBox out;
    if (static_cast<uint64_t>(box.cy) * w <= static_cast<uint64_t>(box.cx) * h) {
        out.cy = box.cy;
        out.cx = static_cast<uint32_t>(static_cast<uint64_t>(w) * box.cy / h);
    } else {
        out.cx = box.cx;
        out.cy = static_cast<uint32_t>(static_cast<uint64_t>(box.cx) * h / w);
    }
    // A very thin picture still gets one pixel across.
    out.cx = std::max(out.cx, 1u);
    out.cy = std::max(out.cy, 1u);
    return out;
}

uint64_t FindExifSegment(const std::string& path, uint32_t& width, uint32_t& height) {
    width = height = 0;
    CFile file;
    if (!file.OpenForRead(path))
        return 0;
    uint64_t exifPos = 0;
    try {
        uint8_t soi[2];
        if (file.Read(soi, 2) != 2 || soi[1] != 0xD8)
            return 0;
        for (;;) {
            const int marker = NextJpegMarker(file);
            if (marker == 0)
                return 0;
            if (marker == 0xD9 || marker == 0xDA)
                return exifPos;
            if (marker == 0xE1) {
                exifPos = file.GetPosition();
                const uint16_t length = ReadBigEndianWord(file);
                char id[5];
                if (file.Read(id, 5) != 5)
                    return exifPos;
                if (strncasecmp(id, "Exif", 5) != 0 || id[4] != 0)
                    return 0;
                if (length < 7)
                    return exifPos;
                file.Seek(length - 7, CFile::current);
                continue;
            }
            if (marker == 0xC0 || marker == 0xC1) {
                if (exifPos == 0)
                    continue;
                uint8_t sof[7];
                if (file.Read(sof, 7) != 7)
                    return exifPos;
                height = static_cast<uint32_t>((sof[3] << 8) | sof[4]);
                width = static_cast<uint32_t>((sof[5] << 8) | sof[6]);
                return exifPos;
            }
            const uint16_t length = ReadBigEndianWord(file);
            // A length below 2 cannot be skipped; the scan goes on from here.
            if (length > 2)
                file.Seek(length - 2, CFile::current);
        }
    } catch (const CFileException&) {
        return exifPos;
    }
}

PackedDib ExtractExifThumbnail(const std::string& path, ThumbBox& box, uint32_t& mainWidth,
                               uint32_t& mainHeight, int& fromMakerNote) {
    mainWidth = mainHeight = 0;
    fromMakerNote = 0;
    if (LowerExtension(path) != ".jpg")
        return nullptr;
    const uint64_t position = FindExifSegment(path, mainWidth, mainHeight);
    if (position < 1)
        return nullptr;
    try {
        CFileReader file(path);
        file.Seek(static_cast<int64_t>(position), CFile::begin);
        const uint16_t segmentLength = ReadBigEndianWord(file);
        file.Seek(6, CFile::current);
        const uint64_t base = file.GetPosition();
        // Values inside the EXIF block must stay inside its segment.
        const ExifBounds segment{base, std::min<uint64_t>(position + segmentLength, file.GetLength())};

        char order[2];
        file.ReadExactly(order, 2);
        file.m_bigEndian = order[0] == 'M' && order[1] == 'M';
        file.ReadWord();
        file.Seek(static_cast<int64_t>(base + file.ReadDword()), CFile::begin);

        PreviewInfo preview;
        uint32_t exifOffset = 0;
        uint16_t count = file.ReadWord();
        for (uint32_t i = 0; i < count; ++i) {
            const ExifEntry e = ReadExifEntry(file);
            const uint32_t v = EntryScalar(e, file.m_bigEndian);
            switch (e.tag) {
                case 34665:
                    exifOffset = e.value;
                    break;
                case 513:
                    preview.offset = v;
                    break;
                case 514:
                    preview.length = v;
                    break;
                case 256:
                case 40962:
                    if (mainWidth == 0)
                        mainWidth = v;
                    break;
                case 257:
                case 40963:
                    if (mainHeight == 0)
                        mainHeight = v;
                    break;
                default:
                    break;
            }
        }
        const uint32_t ifd1 = file.ReadDword();
        if (ifd1 == 0)
            return nullptr;

        if (exifOffset > 0) {
            file.Seek(static_cast<int64_t>(base + exifOffset), CFile::begin);
            count = file.ReadWord();
            for (uint32_t i = 0; i < count; ++i) {
                const ExifEntry e = ReadExifEntry(file);
                const uint32_t v = EntryScalar(e, file.m_bigEndian);
                if ((e.tag == 256 || e.tag == 40962) && mainWidth == 0)
                    mainWidth = v;
                else if ((e.tag == 257 || e.tag == 40963) && mainHeight == 0)
                    mainHeight = v;
                if (e.tag != 37500)
                    continue;
                const uint64_t size = ExifValueSize(e);
                // A maker note that leaves the EXIF segment is passed over.
                if (size == 0 || !segment.Holds(e.value, size))
                    continue;
                const uint64_t back = file.GetPosition();
                std::vector<uint8_t> note(static_cast<size_t>(size));
                file.Seek(static_cast<int64_t>(base + e.value), CFile::begin);
                file.ReadExactly(note.data(), note.size());
                file.Seek(static_cast<int64_t>(back), CFile::begin);
                if (note.size() < 2 || note[0] != 0xFF || note[1] != 0xD8)
                    continue;
                try {
                    ThumbBox fitted = box;
                    if (PackedDib dib = DecodePreview(note, fitted, true)) {
                        box = fitted;
                        fromMakerNote = 1;
                        return dib;
                    }
                } catch (const MiniJpeg::Error&) {
                    // A preview the decoder rejects is dropped; the walk goes on.
                }
            }
        }

        file.Seek(static_cast<int64_t>(base + ifd1), CFile::begin);
        ReadPreviewDirectory(file, preview);
        if (preview.length == 0)
            preview.length = segmentLength;
        return ReadPreview(file, base, preview, box);
    } catch (const CFileException&) {
        CFileException::ThrowGeneric(path);
    }
}

namespace {

// The first pass: a TIFF longer than 128 bytes whose first directory names
// an EXIF directory. Errors count as failure.
bool TiffHasExifDirectory(const std::string& path) {
    try {
        CFileReader file(path);
        if (file.GetLength() <= 128)
            return false;
        char order[2];
        file.ReadExactly(order, 2);
        if (order[0] != order[1] || (order[0] != 'I' && order[0] != 'M'))
            return false;
        file.m_bigEndian = order[0] == 'M';
        file.ReadWord();
        file.Seek(file.ReadDword(), CFile::begin);
        const uint16_t count = file.ReadWord();
        for (uint32_t i = 0; i < count; ++i) {
            const ExifEntry e = ReadExifEntry(file);
            if (e.tag == 34665)
                return e.value != 0;
        }
    } catch (const CFileException&) {
    }
    return false;
}

}  // namespace

PackedDib ExtractTiffThumbnail(const std::string& path, ThumbBox& box, uint32_t& mainWidth,
                               uint32_t& mainHeight, int& flag) {
    mainWidth = mainHeight = 0;
    flag = 0;
    const std::string ext = LowerExtension(path);
    if (ext != ".tif" && ext != ".dng")
        return nullptr;
    if (!TiffHasExifDirectory(path))
        return nullptr;
    try {
        CFileReader file(path);
        char order[2];
        file.ReadExactly(order, 2);
        file.m_bigEndian = order[0] == 'M';
        file.ReadWord();
        file.Seek(file.ReadDword(), CFile::begin);
        const uint16_t count = file.ReadWord();
        for (uint32_t i = 0; i < count; ++i) {
            const ExifEntry e = ReadExifEntry(file);
            if (e.tag == 256)
                mainWidth = EntryScalar(e, file.m_bigEndian);
            else if (e.tag == 257)
                mainHeight = EntryScalar(e, file.m_bigEndian);
        }
        const uint32_t ifd1 = file.ReadDword();
        if (ifd1 == 0)
            return nullptr;
        file.Seek(ifd1, CFile::begin);
        PreviewInfo preview;
        ReadPreviewDirectory(file, preview);
        return ReadPreview(file, 0, preview, box);
    } catch (const CFileException&) {
        CFileException::ThrowGeneric(path);
    }
}
