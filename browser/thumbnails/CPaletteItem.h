#pragma once
// One file shown by the photo browser, with its thumbnail: the pixels for
// drawing (a shared CDibBuffer) and the same picture as a JPEG block for the
// disk cache, the source image's size and depth and a few photo facts.
// CPaletteItemImg makes the thumbnail of an image file (Load).

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "CDibBuffer.h"
#include "CFile.h"

class CProgress;
class QPainter;
class QPoint;

// A list row's width until a view gives its own.
constexpr int kDefaultListRowWidth = 300;

// The two frame pictures of a cell size, painted once and copied per cell;
// one per view.
struct CFrameCache {
    // The view's list row width (the width of a cell in the list view).
    int rowWidth = kDefaultListRowWidth;
    QSize cell;
    QImage normal;
    QImage selected;
};

// A JPEG stream owned by one item; never empty.
class CByteBlock {
public:
    // Throws std::invalid_argument "invalid num_bytes argument" for 0.
    static std::unique_ptr<CByteBlock> Make(uint32_t size);
    // Throws std::invalid_argument "invalid src argument" for an empty block.
    static std::unique_ptr<CByteBlock> Copy(const CByteBlock& source);

    uint32_t Size() const { return static_cast<uint32_t>(m_bytes.size()); }
    uint8_t* Data() { return m_bytes.data(); }
    const uint8_t* Data() const { return m_bytes.data(); }

private:
    std::vector<uint8_t> m_bytes;
};

class CPaletteItem {
public:
    CPaletteItem() = default;
    virtual ~CPaletteItem() = default;

    // Makes the thumbnail; non-zero on success. Nothing to make here.
    virtual int Load(const std::string& path, bool full, CProgress* progress);

    // The size a w x h picture takes in the box, keeping its shape; 10 x 10
    // when a side is unknown (0 or less).
    QSize FitToBox(int w, int h) const;

    // Layout at the current zoom and view (a list row rowWidth wide).
    QSize GetSize(int rowWidth = kDefaultListRowWidth) const;
    virtual int GetZoom() const;
    virtual bool IsDetailsView() const;
    virtual bool HasInfoLine() const { return true; }
    static QSize GetCellSize(int zoom, bool details, int rowWidth = kDefaultListRowWidth);
    // List column positions P0..P5 at a zoom.
    static int ListColumn(int index, int zoom);
    QRect GetThumbRect() const;
    QRect GetDrawRect() const;

    // One cell at origin; nothing when it lies outside the painter's clip.
    void Draw(QPainter& painter, const QPoint& origin, const std::string& path, bool selected, bool dimmed,
              CFrameCache& frames);
    virtual void DrawThumbnail(QPainter&, const QRect& /*cell*/, const std::string& /*path*/,
                               bool /*dimmed*/) {}
    virtual void DrawInfo(QPainter&, const QRect& /*cell*/) {}
    virtual void DrawDetails(QPainter&, const QRect& /*cell*/, const std::string& /*path*/,
                             bool /*selected*/) {}
    void DrawBackground(QPainter& painter, const QRect& cell, bool selected, CFrameCache& frames);
    void DrawCaption(QPainter& painter, const QRect& cell, const std::string& path, bool selected);
    // The region filled with the thumbnail area's colour, in cell coordinates.
    virtual QRegion GetRegion() const;
    // One timer step of a long name; the caption rectangle to repaint.
    QRect ScrollCaption();

    std::time_t m_fileTime = 0;
    int32_t m_sourceWidth = -1;
    int32_t m_sourceHeight = -1;
    int32_t m_bitsPerPixel = -1;
    std::time_t m_lastUse = 0;
    int32_t m_thumbWidth = 220;
    int32_t m_thumbHeight = 165;
    int32_t m_flashFired = 0;
    int32_t m_orientation = 0;
    std::string m_exposure;
    std::string m_fNumber;
    int32_t m_captionScroll = 0;
    int32_t m_captionScrolling = 0;
    QRect m_captionRect;
    int32_t m_captionTextWidth = 0;
    uint8_t m_noCaption = 0;
    int32_t m_boxWidth = 220;
    int32_t m_boxHeight = 165;
};

// A rectangle of an item's record as stored: edges, right and bottom
// exclusive, any int32 values (held as they are, so the record writes back
// as it was read without arithmetic that could overflow).
struct StoredRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const StoredRect&) const = default;
};

class CPaletteItemImg : public CPaletteItem {
public:
    CPaletteItemImg();

    // A quick load (full false) may take a preview stored in the file; a
    // full load decodes the whole picture. Non-zero on success.
    int Load(const std::string& path, bool full, CProgress* progress) override;
    int MakeThumbnail(const std::string& path, bool full, CProgress* progress);

    bool HasThumbnail() const { return m_jpeg || m_bitmap; }
    // The thumbnail fitted and centred in rect, or a placeholder without one.
    void DrawPicture(QPainter& painter, const QRect& rect, const std::string& path, bool frame);
    // The same, turned to lie in landscape; with fill a centred part fills rect.
    void DrawPictureLandscape(QPainter& painter, const QRect& rect, const std::string& path, bool fill);
    void DrawThumbnail(QPainter& painter, const QRect& cell, const std::string& path, bool dimmed) override;
    void DrawDetails(QPainter& painter, const QRect& cell, const std::string& path, bool selected) override;
    QRegion GetRegion() const override;
    // The document icon with the extension on it, centred on rect.
    static void DrawPlaceholder(QPainter& painter, const QRect& rect, const std::string& path);
    // Sizes, facts, texts and the JPEG block of another item (after a rename).
    void CopyFrom(const CPaletteItemImg& other);
    // Encodes the bitmap as JPEG when there is no block yet.
    void Compress();
    // Decodes the block into the bitmap when there is none; the bitmap or null.
    std::shared_ptr<CDibBuffer> Decompress();

    // The item's record in a thumbnail archive, in this order: file time,
    // thumbnail size, the JPEG block (has-pixels, length, bytes), source size
    // and depth, flash, orientation, final flag, the two texts, last use, the
    // six stored values and the rating, the refine byte, the rectangle list.
    // Ar is the project's archive writer or reader (little-endian numbers,
    // counted strings and lists).
    template <class Ar>
    void StoreRecord(Ar& ar);
    // Reads into a new item. A record made for another box, a thumbnail
    // larger than the box or a length beyond the data raises CFileException
    // with the invalid-file cause (6); the archive's own exception ends a
    // short record.
    template <class Ar>
    void LoadRecord(Ar& ar);

    const CByteBlock* Jpeg() const { return m_jpeg.get(); }
    void SetJpeg(std::unique_ptr<CByteBlock> block) { m_jpeg = std::move(block); }
    std::shared_ptr<CDibBuffer> Bitmap() const { return m_bitmap; }
    void SetBitmap(std::shared_ptr<CDibBuffer> bitmap) { m_bitmap = std::move(bitmap); }

    int32_t m_final = 0;
    std::string m_description;
    uint8_t m_refineAllowed = 1;
    int32_t m_rating = 0;
    int32_t m_stored[6] = {-1, -1, -1, -1, -1, -1};
    std::vector<StoredRect> m_rects;

private:
    std::unique_ptr<CByteBlock> m_jpeg;
    std::shared_ptr<CDibBuffer> m_bitmap;
};

template <class Ar>
void CPaletteItemImg::StoreRecord(Ar& ar) {
    auto write64 = [&ar](int64_t v) {
        ar.WriteDword(static_cast<uint32_t>(static_cast<uint64_t>(v)));
        ar.WriteDword(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    };
    Compress();
    write64(m_fileTime);
    ar.WriteInt(m_thumbWidth);
    ar.WriteInt(m_thumbHeight);
    ar.WriteDword(m_jpeg ? 1 : 0);
    if (m_jpeg) {
        ar.WriteDword(m_jpeg->Size());
        for (uint32_t i = 0; i < m_jpeg->Size(); ++i)
            ar.WriteByte(m_jpeg->Data()[i]);
    }
    for (int32_t v : {m_sourceWidth, m_sourceHeight, m_bitsPerPixel, m_flashFired, m_orientation, m_final})
        ar.WriteInt(v);
    ar.WriteString(m_exposure);
    ar.WriteString(m_fNumber);
    write64(m_lastUse);
    for (int32_t v : m_stored)
        ar.WriteInt(v);
    ar.WriteInt(m_rating);
    ar.WriteByte(m_refineAllowed ? 1 : 0);
    ar.WriteCount(static_cast<uint32_t>(m_rects.size()));
    for (const StoredRect& r : m_rects) {
        ar.WriteInt(r.left);
        ar.WriteInt(r.top);
        ar.WriteInt(r.right);
        ar.WriteInt(r.bottom);
    }
}

template <class Ar>
void CPaletteItemImg::LoadRecord(Ar& ar) {
    auto read64 = [&ar]() {
        const uint64_t low = ar.ReadDword();
        return static_cast<int64_t>(low | (static_cast<uint64_t>(ar.ReadDword()) << 32));
    };
    m_fileTime = static_cast<std::time_t>(read64());
    const int32_t w = ar.ReadInt();
    const int32_t h = ar.ReadInt();
    // A record for another box is of no use; one larger than the box, or
    // empty, is damaged.
    if ((w != m_boxWidth && h != m_boxHeight) || w < 1 || h < 1 || w > m_boxWidth || h > m_boxHeight)
        throw CFileException(CFileException::invalidFile, -1);
    m_thumbWidth = w;
    m_thumbHeight = h;
    if (ar.ReadDword() == 1) {
        const uint32_t length = ar.ReadDword();
        if (length > ar.Remaining())
            throw CFileException(CFileException::invalidFile, -1);
        if (length != 0) {
            auto block = CByteBlock::Make(length);
            for (uint32_t i = 0; i < length; ++i)
                block->Data()[i] = ar.ReadByte();
            m_jpeg = std::move(block);
        }
    }
    for (int32_t* v :
         {&m_sourceWidth, &m_sourceHeight, &m_bitsPerPixel, &m_flashFired, &m_orientation, &m_final})
        *v = ar.ReadInt();
    m_exposure = ar.ReadString();
    m_fNumber = ar.ReadString();
    m_lastUse = static_cast<std::time_t>(read64());
    for (int32_t& v : m_stored)
        v = ar.ReadInt();
    m_rating = ar.ReadInt();
    m_refineAllowed = ar.ReadByte() ? 1 : 0;
    const uint32_t rects = ar.ReadCount(16);
    m_rects.clear();
    for (uint32_t i = 0; i < rects; ++i) {
        StoredRect r;
        r.left = ar.ReadInt();
        r.top = ar.ReadInt();
        r.right = ar.ReadInt();
        r.bottom = ar.ReadInt();
        m_rects.push_back(r);
    }
}
