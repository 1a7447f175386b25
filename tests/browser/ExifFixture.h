#pragma once
// Small camera-like files made in code: a JPEG with EXIF (first directory,
// EXIF directory with a maker note, preview directory), a TIFF and a
// DNG-like TIFF, each with the options a test needs to break them.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CFile.h"
#include "ISSStreamMem.h"
#include "MiniJpeg.h"

namespace Fixture {

using Bytes = std::vector<uint8_t>;

// A JPEG of w x h: red on the left half, blue on the right (grey when asked).
inline Bytes EncodeJpeg(int w, int h, bool colour = true) {
    CMemFile file;
    OSSStream out(&file);
    std::unique_ptr<MiniJpeg::Coder> coder(
        MiniJpeg::CreateCoder(&out, w, h, colour ? 1 : 0, 90, 0, 0, 2, 72, 72));
    std::vector<uint8_t> row(static_cast<size_t>(w) * (colour ? 3 : 1));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (colour) {
                const bool left = x < w / 2;
                row[3 * x] = left ? 220 : 20;
                row[3 * x + 1] = 30;
                row[3 * x + 2] = left ? 20 : 220;
            } else {
                row[x] = x < w / 2 ? 40 : 200;
            }
        }
        coder->WriteLine(row.data());
    }
    return file.Detach();
}

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    Bytes data;             // in file order; more than 4 bytes go out of line
    int pointsTo = -1;      // index of a directory whose offset is the value
    int pointsToBlob = -1;  // index of a blob whose offset is the value
};

// Builds a TIFF structure: header, directories in order, each followed by
// its out-of-line values, then blobs. Offsets are from the header's start.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian) : be(bigEndian) {}

    Bytes U16(uint32_t v) const {
        return be ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)};
    }
    Bytes U32(uint32_t v) const {
        return be ? Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}
                  : Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    }
    Entry Ascii(uint16_t tag, const std::string& s) const {
        Bytes d(s.begin(), s.end());
        d.push_back(0);
        return {tag, 2, uint32_t(d.size()), d};
    }
    Entry Short(uint16_t tag, uint16_t v) const {
        Bytes d = U16(v);
        d.resize(4, 0);
        return {tag, 3, 1, d};
    }
    Entry Long(uint16_t tag, uint32_t v) const { return {tag, 4, 1, U32(v)}; }
    Entry Rational(uint16_t tag, uint32_t n, uint32_t d) const {
        Bytes b = U32(n), c = U32(d);
        b.insert(b.end(), c.begin(), c.end());
        return {tag, 5, 1, b};
    }
    Entry SRational(uint16_t tag, int32_t n, int32_t d) const {
        Entry e = Rational(tag, uint32_t(n), uint32_t(d));
        e.type = 10;
        return e;
    }
    Entry Undefined(uint16_t tag, const Bytes& d) const { return {tag, 7, uint32_t(d.size()), d}; }
    Entry Pointer(uint16_t tag, int directory) const { return {tag, 4, 1, U32(0), directory}; }
    Entry BlobOffset(uint16_t tag, int blob) const { return {tag, 4, 1, U32(0), -1, blob}; }

    // Directories are written in the order added; next = index of the
    // following directory (-1: none).
    int AddDirectory(std::vector<Entry> entries, int next = -1) {
        dirs.push_back({std::move(entries), next});
        return int(dirs.size()) - 1;
    }
    int AddBlob(Bytes b) {
        blobs.push_back(std::move(b));
        return int(blobs.size()) - 1;
    }

    Bytes Build() const {
        Bytes out = {uint8_t(be ? 'M' : 'I'), uint8_t(be ? 'M' : 'I')};
        Append(out, U16(42));
        Append(out, U32(8));
        // Two passes: the first finds every offset, the second writes.
        std::vector<uint32_t> dirAt(dirs.size()), blobAt(blobs.size());
        for (int pass = 0; pass < 2; ++pass) {
            out.resize(8);
            for (size_t i = 0; i < dirs.size(); ++i) {
                dirAt[i] = uint32_t(out.size());
                const auto& d = dirs[i];
                Append(out, U16(uint32_t(d.entries.size())));
                uint32_t data = uint32_t(out.size() + 12 * d.entries.size() + 4);
                Bytes tail;
                for (const Entry& e : d.entries) {
                    Append(out, U16(e.tag));
                    Append(out, U16(e.type));
                    Append(out, U32(e.count));
                    if (e.pointsTo >= 0) {
                        Append(out, U32(dirAt[e.pointsTo]));
                    } else if (e.pointsToBlob >= 0) {
                        Append(out, U32(blobAt[e.pointsToBlob]));
                    } else if (e.data.size() <= 4) {
                        Bytes v = e.data;
                        v.resize(4, 0);
                        Append(out, v);
                    } else {
                        Append(out, U32(data + uint32_t(tail.size())));
                        Append(tail, e.data);
                    }
                }
                Append(out, U32(d.next >= 0 ? dirAt[d.next] : 0));
                Append(out, tail);
            }
            for (size_t i = 0; i < blobs.size(); ++i) {
                blobAt[i] = uint32_t(out.size());
                Append(out, blobs[i]);
            }
        }
        return out;
    }

    static void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

    bool be;

private:
    struct Dir {
        std::vector<Entry> entries;
        int next;
    };
    std::vector<Dir> dirs;
    std::vector<Bytes> blobs;
};

struct CameraOptions {
    bool bigEndian = false;
    bool makerNoteJpeg = true;  // the maker note holds a 40 x 30 JPEG
    bool withPreview = true;    // a second directory with a preview
    int previewCompression = 6;
    int rawWidth = 8, rawHeight = 6;  // preview size for compression 1
    int64_t rawLengthDelta = 0;       // added to w x h x 3
    bool withExif = true;
};

// The EXIF block (TIFF structure) of a camera JPEG.
inline Bytes CameraExifBlock(const CameraOptions& o = {}) {
    TiffBuilder t(o.bigEndian);
    const int preview = t.AddBlob(
        o.previewCompression == 6 ? EncodeJpeg(160, 120) : Bytes(size_t(o.rawWidth * o.rawHeight * 3), 90));
    Bytes note = o.makerNoteJpeg ? EncodeJpeg(40, 30) : Bytes{'O', 'V', 'M', 'K', 0, 1, 2, 3, 4, 5};
    std::vector<Entry> ifd0 = {
        t.Ascii(270, "Harbour at dawn"),
        t.Ascii(271, "OvCam"),
        t.Ascii(272, "OV-1"),
        t.Short(274, 6),
        t.Ascii(305, "Firmware 1.0"),
        t.Ascii(306, "2008:07:15 13:45:00"),
        t.Short(531, 2),
    };
    if (o.withExif)
        ifd0.push_back(t.Pointer(34665, 1));
    std::vector<Entry> exif = {
        t.Rational(33434, 1, 250), t.Rational(33437, 28, 10),
        t.Short(34855, 200),       t.Ascii(36867, "2008:07:15 13:45:00"),
        t.SRational(37380, -1, 3), t.Short(37383, 5),
        t.Rational(37386, 50, 1),  t.Undefined(37500, note),
        t.Long(40962, 64),         t.Long(40963, 48),
        t.Rational(41988, 0, 1),   t.Short(41989, 0),
    };
    std::vector<Entry> ifd1;
    if (o.previewCompression == 6) {
        ifd1 = {t.Short(259, 6), t.BlobOffset(513, preview),
                t.Long(514, uint32_t(EncodeJpeg(160, 120).size()))};
    } else {
        ifd1 = {t.Short(259, uint16_t(o.previewCompression)), t.Long(256, uint32_t(o.rawWidth)),
                t.Long(257, uint32_t(o.rawHeight)), t.BlobOffset(273, preview),
                t.Long(279, uint32_t(int64_t(o.rawWidth) * o.rawHeight * 3 + o.rawLengthDelta))};
    }
    t.AddDirectory(ifd0, o.withPreview ? 2 : -1);
    t.AddDirectory(exif);
    t.AddDirectory(ifd1);
    return t.Build();
}

// SOI, an APP1 "Exif" segment around block, then the main picture's segments.
inline Bytes JpegWithApp1(const Bytes& app1Payload, const Bytes& mainJpeg) {
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE1};
    const size_t length = app1Payload.size() + 2;
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    TiffBuilder::Append(out, app1Payload);
    out.insert(out.end(), mainJpeg.begin() + 2, mainJpeg.end());
    return out;
}

inline Bytes ExifPayload(const Bytes& block) {
    Bytes p = {'E', 'x', 'i', 'f', 0, 0};
    TiffBuilder::Append(p, block);
    return p;
}

inline Bytes CameraJpeg(const CameraOptions& o = {}) {
    return JpegWithApp1(ExifPayload(CameraExifBlock(o)), EncodeJpeg(64, 48));
}

// A TIFF of 640 x 480 (SHORT sizes) with an EXIF directory (unless not) and
// a raw 8 x 6 preview, or a JPEG preview of 160 x 120 for a DNG-like file.
inline Bytes CameraTiff(bool bigEndian, bool jpegPreview, bool withExif = true) {
    TiffBuilder t(bigEndian);
    const Bytes jpeg = EncodeJpeg(160, 120);
    const int preview = t.AddBlob(jpegPreview ? jpeg : Bytes(8 * 6 * 3, 120));
    std::vector<Entry> ifd0 = {t.Short(256, 640), t.Short(257, 480), t.Ascii(272, "OV-1 Raw"),
                               t.Ascii(270, "Tiff description"), t.Ascii(306, "2010:01:02 03:04:05")};
    if (withExif)
        ifd0.push_back(t.Pointer(34665, 1));
    std::vector<Entry> ifd1 = jpegPreview
                                  ? std::vector<Entry>{t.Short(259, 6), t.BlobOffset(513, preview),
                                                       t.Long(514, uint32_t(jpeg.size()))}
                                  : std::vector<Entry>{t.Short(259, 1), t.Short(256, 8), t.Short(257, 6),
                                                       t.BlobOffset(273, preview), t.Long(279, 8 * 6 * 3)};
    t.AddDirectory(ifd0, 2);
    t.AddDirectory({t.Rational(33437, 56, 10), t.Short(34855, 400)});
    t.AddDirectory(ifd1);
    return t.Build();
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Finds a byte sequence; npos when absent.
inline size_t Find(const Bytes& hay, const Bytes& needle, size_t from = 0) {
    for (size_t i = from; i + needle.size() <= hay.size(); ++i)
        if (std::memcmp(&hay[i], needle.data(), needle.size()) == 0)
            return i;
    return std::string::npos;
}

}  // namespace Fixture
