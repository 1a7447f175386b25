#include "CDibBuffer.h"

#include <QImage>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

const std::string kTabs(8, '\t');

[[noreturn]] void ThrowEmpty() {
    throw std::invalid_argument("invalid width or height argument: " + kTabs +
                                " trying to create an empty dib");
}
[[noreturn]] void ThrowDepth() {
    throw std::invalid_argument("invalid argument: " + kTabs + " unsupported bits per pixel");
}

bool SupportedDepth(int bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24;
}

int TableEntries(int bpp) {
    return bpp <= 8 ? 1 << bpp : 0;
}

// Pixels per metre of a whole number of dots per inch.
int32_t PelsPerMeter(int dpi) {
    return static_cast<int32_t>((static_cast<int64_t>(dpi) * 10000 + 127) / 254);
}

// Bytes of a packed bitmap that a valid header describes, or 0.
size_t PackedSize(const BitmapInfoHeader& h) {
    if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || !SupportedDepth(h.biBitCount))
        return 0;
    const uint64_t stride = CDibBuffer::StrideFor(h.biWidth, h.biBitCount);
    return static_cast<size_t>(40 + 4 * TableEntries(h.biBitCount) +
                               stride * static_cast<uint64_t>(h.biHeight));
}

}  // namespace

uint64_t CDibBuffer::StrideFor(int64_t width, int bitsPerPixel) {
    return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31) / 32) * 4;
}

void CDibBuffer::Adopt(std::unique_ptr<uint8_t[]> block, size_t size) {
    m_block = std::move(block);
    m_blockSize = size;
    m_header = reinterpret_cast<BitmapInfoHeader*>(m_block.get());
    m_stride = static_cast<uint32_t>(StrideFor(m_header->biWidth, m_header->biBitCount));
    m_bits = m_block.get() + 40 + 4 * TableEntries(m_header->biBitCount);
}

const RgbQuad* CDibBuffer::ColourTable() const {
    if (!m_header || m_header->biBitCount > 8)
        return nullptr;
    return reinterpret_cast<const RgbQuad*>(m_block.get() + 40);
}

void CDibBuffer::Create(int width, int height, int bitsPerPixel, const RgbQuad* colourTable) {
    if (width <= 0 || height <= 0)
        ThrowEmpty();
    if (!SupportedDepth(bitsPerPixel))
        ThrowDepth();
    const int colours = TableEntries(bitsPerPixel);
    if (colours > 0 && !colourTable)
        throw std::invalid_argument("invalid palette argument");
    const uint64_t stride = StrideFor(width, bitsPerPixel);
    const uint64_t image = stride * static_cast<uint64_t>(height);
    // The header's image size is 32-bit; a larger picture is no bitmap of ours.
    if (image > UINT32_MAX)
        ThrowEmpty();
    const size_t size = static_cast<size_t>(40 + 4 * colours + image);
    auto block = std::make_unique_for_overwrite<uint8_t[]>(size);
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(bitsPerPixel);
    h.biCompression = 0;
    h.biSizeImage = static_cast<uint32_t>(image);
    h.biClrUsed = h.biClrImportant = static_cast<uint32_t>(colours);
    std::memcpy(block.get(), &h, 40);
    auto* table = reinterpret_cast<RgbQuad*>(block.get() + 40);
    for (int i = 0; i < colours; ++i) {
        table[i] = colourTable[i];
        table[i].rgbReserved = 0;
    }
    Adopt(std::move(block), size);
}

void CDibBuffer::CreateFromBitmap(const QImage* bitmap) {
    if (!bitmap || bitmap->isNull())
        throw std::invalid_argument("invalid Bitmap");
    const int w = bitmap->width();
    const int h = bitmap->height();
    if (w <= 0 || h <= 0)
        ThrowEmpty();
    const QImage bgr = bitmap->convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull())
        throw std::invalid_argument("invalid Bitmap");
    Create(w, h, 24, nullptr);
    const size_t rowBytes = std::min<size_t>(m_stride, static_cast<size_t>(bgr.bytesPerLine()));
    for (int i = 0; i < h; ++i)
        std::memcpy(m_bits + static_cast<size_t>(i) * m_stride, bgr.constScanLine(h - 1 - i), rowBytes);
    // Qt keeps the resolution in dots per metre; whole dots per inch as the
    // codecs stored them, then back to pixels per metre.
    const int dpiX = static_cast<int>(std::lround(bitmap->dotsPerMeterX() * 0.0254));
    const int dpiY = static_cast<int>(std::lround(bitmap->dotsPerMeterY() * 0.0254));
    m_header->biXPelsPerMeter = PelsPerMeter(dpiX);
    m_header->biYPelsPerMeter = PelsPerMeter(dpiY);
}

void CDibBuffer::CreateFromBitmapInfo(const uint8_t* packed) {
    if (!packed)
        throw std::invalid_argument("invalid pbmi argument: NULL pointer");
    BitmapInfoHeader h;
    std::memcpy(&h, packed, 40);
    const size_t size = PackedSize(h);
    if (size == 0)
        throw std::invalid_argument("invalid pbmi argument");
    auto block = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::memcpy(block.get(), packed, size);
    Adopt(std::move(block), size);
}

void CDibBuffer::CreateFromBitmapInfo(std::unique_ptr<uint8_t[]> packed) {
    if (!packed)
        throw std::invalid_argument("invalid pbmi argument: NULL pointer");
    BitmapInfoHeader h;
    std::memcpy(&h, packed.get(), 40);
    const size_t size = PackedSize(h);
    if (size == 0)
        throw std::invalid_argument("invalid pbmi argument");
    Adopt(std::move(packed), size);
}

bool CDibBuffer::Copy() {
    if (!m_block)
        return true;
    const int h = Height();
    std::unique_ptr<uint8_t[]> temp(new uint8_t[m_stride]);
    for (int i = 0; i < h / 2; ++i) {
        uint8_t* a = m_bits + static_cast<size_t>(i) * m_stride;
        uint8_t* b = m_bits + static_cast<size_t>(h - 1 - i) * m_stride;
        std::memcpy(temp.get(), a, m_stride);
        std::memcpy(a, b, m_stride);
        std::memcpy(b, temp.get(), m_stride);
    }
    return true;
}

QImage CDibBuffer::ToImage() const {
    if (!m_block)
        return {};
    const int w = Width();
    const int h = Height();
    const int bpp = BitsPerPixel();
    QImage out(w, h, QImage::Format_RGB32);
    if (out.isNull())
        return {};
    const RgbQuad* table = ColourTable();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = m_bits + static_cast<size_t>(h - 1 - y) * m_stride;
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (bpp == 24) {
                dst[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                continue;
            }
            int index = 0;
            if (bpp == 8)
                index = row[x];
            else if (bpp == 4)
                index = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
            else
                index = (row[x / 8] >> (7 - (x & 7))) & 1;
            const RgbQuad& q = table[index];
            dst[x] = qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
        }
    }
    return out;
}

bool CDibBuffer::Draw(int newWidth, int newHeight) {
    if (!m_block)
        return false;
    if (newWidth == Width() && newHeight == Height())
        return true;
    if (newWidth <= 0 || newHeight <= 0)
        return false;
    const QImage source = ToImage();
    if (source.isNull())
        return false;
    const QImage scaled = source.scaled(newWidth, newHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_BGR888);
    if (scaled.isNull())
        return false;
    CDibBuffer next;
    try {
        next.Create(newWidth, newHeight, 24, nullptr);
    } catch (const std::exception&) {
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(newWidth) * 3;
    for (int i = 0; i < newHeight; ++i)
        std::memcpy(next.m_bits + static_cast<size_t>(i) * next.m_stride,
                    scaled.constScanLine(newHeight - 1 - i), rowBytes);
    // The new header keeps zeros beyond the depth, as a fresh section has.
    next.m_header->biSizeImage = 0;
    next.m_header->biClrUsed = next.m_header->biClrImportant = 0;
    Adopt(std::move(next.m_block), next.m_blockSize);
    return true;
}
