#pragma once
// The browser's bitmap: a packed device-independent bitmap (a 40-byte header,
// a colour table for 8 bits or less, then bottom-up rows of 4-byte stride) in
// one block. Holders share one buffer through std::shared_ptr.

#include <cstddef>
#include <cstdint>
#include <memory>

class QImage;

#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: rows stored bottom-up
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
struct RgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(sizeof(RgbQuad) == 4);

class CDibBuffer {
public:
    CDibBuffer() = default;
    CDibBuffer(const CDibBuffer&) = delete;
    CDibBuffer& operator=(const CDibBuffer&) = delete;

    // Bytes per row of a width and depth (rows padded to 4 bytes).
    static uint64_t StrideFor(int64_t width, int bitsPerPixel);

    // Depths 1, 4, 8 and 24; a table of 2^depth entries is required up to 8.
    // Throws std::invalid_argument; the pixels are left as allocated.
    void Create(int width, int height, int bitsPerPixel, const RgbQuad* colourTable);
    // 24 bits per pixel from a decoded picture (null or empty throws).
    void CreateFromBitmap(const QImage* bitmap);
    // Copies a packed bitmap whose header size is 40.
    void CreateFromBitmapInfo(const uint8_t* packed);
    // Takes over a packed bitmap made with new[].
    void CreateFromBitmapInfo(std::unique_ptr<uint8_t[]> packed);

    // Turns the rows upside down in place.
    bool Copy();
    // Resizes to 24 bits per pixel with smooth filtering; false without pixels.
    bool Draw(int newWidth, int newHeight);

    bool IsEmpty() const { return !m_block; }
    const BitmapInfoHeader* Header() const { return m_header; }
    BitmapInfoHeader* Header() { return m_header; }
    const RgbQuad* ColourTable() const;
    uint8_t* Bits() { return m_bits; }
    const uint8_t* Bits() const { return m_bits; }
    uint32_t Stride() const { return m_stride; }
    int Width() const { return m_header ? m_header->biWidth : 0; }
    int Height() const { return m_header ? m_header->biHeight : 0; }
    int BitsPerPixel() const { return m_header ? m_header->biBitCount : 0; }
    const uint8_t* Block() const { return m_block.get(); }
    size_t BlockSize() const { return m_blockSize; }

    // A top-down copy for the screen (32-bit RGB); null when empty.
    QImage ToImage() const;

private:
    void Adopt(std::unique_ptr<uint8_t[]> block, size_t size);

    std::unique_ptr<uint8_t[]> m_block;
    size_t m_blockSize = 0;
    BitmapInfoHeader* m_header = nullptr;
    uint8_t* m_bits = nullptr;
    uint32_t m_stride = 0;
};
