#include "CPaletteItem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "BrowserHost.h"
#include "CFile.h"
#include "ExifThumbnail.h"
#include "FileReading.h"
#include "ISSStreamMem.h"
#include "MiniJpeg.h"
#include "PhotoDateAndDescription.h"
#include "ThumbnailImageReader.h"
#include "WicReader.h"

std::unique_ptr<CByteBlock> CByteBlock::Make(uint32_t size) {
    if (size == 0)
        throw std::invalid_argument("invalid num_bytes argument");
    auto block = std::unique_ptr<CByteBlock>(new CByteBlock);
    block->m_bytes.resize(size);
    return block;
}

std::unique_ptr<CByteBlock> CByteBlock::Copy(const CByteBlock& source) {
    if (source.m_bytes.empty())
        throw std::invalid_argument("invalid src argument");
    auto block = std::unique_ptr<CByteBlock>(new CByteBlock);
    block->m_bytes = source.m_bytes;
    return block;
}

int CPaletteItem::Load(const std::string&, bool, CProgress*) {
    return 0;
}

QSize CPaletteItem::FitToBox(int w, int h) const {
    if (w <= 0 || h <= 0)
        return {10, 10};
    // 64-bit products: a declared size near 2^31 must not wrap; a very thin
    // picture keeps one pixel across.
    const int64_t bw = m_boxWidth, bh = m_boxHeight;
    int64_t cx, cy;
    if (bh * w <= bw * h) {
        cx = bh * w / h;
        cy = bh;
    } else {
        cx = bw;
        cy = bw * h / w;
    }
    return {static_cast<int>(std::max<int64_t>(cx, 1)), static_cast<int>(std::max<int64_t>(cy, 1))};
}

CPaletteItemImg::CPaletteItemImg() {
    m_sourceWidth = m_sourceHeight = m_bitsPerPixel = 0;
}

void CPaletteItemImg::CopyFrom(const CPaletteItemImg& other) {
    m_sourceWidth = other.m_sourceWidth;
    m_sourceHeight = other.m_sourceHeight;
    m_bitsPerPixel = other.m_bitsPerPixel;
    m_flashFired = other.m_flashFired;
    m_orientation = other.m_orientation;
    m_thumbWidth = other.m_thumbWidth;
    m_thumbHeight = other.m_thumbHeight;
    m_exposure = other.m_exposure;
    m_fNumber = other.m_fNumber;
    if (other.m_jpeg)
        m_jpeg = CByteBlock::Copy(*other.m_jpeg);
}

void CPaletteItemImg::Compress() {
    if (!m_bitmap || m_jpeg)
        return;
    const CDibBuffer& dib = *m_bitmap;
    CMemFile file;
    OSSStream out(&file);
    {
        std::unique_ptr<MiniJpeg::Coder> coder(
            MiniJpeg::CreateCoder(&out, dib.Width(), dib.Height(), 1, 90, 0, 0, 2, 300, 300));
        if (!coder)
            throw std::bad_alloc();
        // Rows as they lie in memory, bottom row first and blue first: the
        // stored records keep this layout, and decoding gives it back as is.
        for (int row = 0; row < dib.Height(); ++row)
            coder->WriteLine(dib.Bits() + static_cast<size_t>(row) * dib.Stride());
    }
    std::vector<uint8_t> bytes = file.Detach();
    auto block = CByteBlock::Make(static_cast<uint32_t>(bytes.size()));
    std::memcpy(block->Data(), bytes.data(), bytes.size());
    m_jpeg = std::move(block);
}

std::shared_ptr<CDibBuffer> CPaletteItemImg::Decompress() {
    if (m_bitmap || !m_jpeg)
        return m_bitmap;
    ISSStreamMem in(m_jpeg->Data(), m_jpeg->Size());
    int32_t w = 0, h = 0;
    uint8_t colour = 0;
    std::unique_ptr<MiniJpeg::Decoder> decoder(
        MiniJpeg::CreateDecoder(&in, &w, &h, &colour, nullptr, nullptr, nullptr));
    if (!decoder || w <= 0 || h <= 0)
        return nullptr;
    auto dib = std::make_shared<CDibBuffer>();
    dib->Create(m_thumbWidth, m_thumbHeight, 24, nullptr);
    dib->Header()->biXPelsPerMeter = dib->Header()->biYPelsPerMeter = 2835;
    // Rows the block does not have stay black rather than undefined.
    std::memset(dib->Bits(), 0, static_cast<size_t>(dib->Stride()) * dib->Height());
    const size_t rowBytes = std::min<size_t>(static_cast<size_t>(w) * 3, dib->Stride());
    const int rows = std::min(h, dib->Height());
    for (int y = 0; y < rows; ++y) {
        const uint8_t* line = decoder->ReadLine();
        uint8_t* dst = dib->Bits() + static_cast<size_t>(y) * dib->Stride();
        if (colour) {
            std::memcpy(dst, line, rowBytes);
        } else {
            // A grey block is widened to triplets, never read past its row.
            for (size_t x = 0; x < rowBytes / 3; ++x)
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = line[x];
        }
    }
    m_bitmap = dib;
    return m_bitmap;
}

namespace {

// Linux keeps no share modes: a file that changed in the last two seconds
// and still grows or changes within a short look is taken as being written.
bool BeingWritten(const std::string& path) {
    struct stat before;
    if (::stat(path.c_str(), &before) != 0)
        return true;
    const int fd = Platform::OpenForReading(path, Platform::kMaxPhotoBytes);
    if (fd < 0)
        return true;
    ::close(fd);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (std::chrono::duration_cast<std::chrono::seconds>(now).count() - before.st_mtim.tv_sec > 2)
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    struct stat after;
    if (::stat(path.c_str(), &after) != 0)
        return true;
    return after.st_size != before.st_size || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
           after.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
}

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot, 256);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

// A preview reader's packed bitmap as a buffer; a damaged file gives none.
std::shared_ptr<CDibBuffer> Preview(
    const std::function<PackedDib(ThumbBox&, uint32_t&, uint32_t&, int&)>& read, QSize& thumb, int32_t& width,
    int32_t& height, int32_t& final) {
    ThumbBox box{static_cast<uint32_t>(thumb.width()), static_cast<uint32_t>(thumb.height())};
    uint32_t w = static_cast<uint32_t>(std::max(width, 0)), h = static_cast<uint32_t>(std::max(height, 0));
    int flag = 0;
    PackedDib dib;
    try {
        dib = read(box, w, h, flag);
    } catch (const CFileException&) {
        return nullptr;
    }
    if (!dib)
        return nullptr;
    auto buffer = std::make_shared<CDibBuffer>();
    buffer->CreateFromBitmapInfo(std::move(dib));
    width = static_cast<int32_t>(std::min<uint32_t>(w, INT32_MAX));
    height = static_cast<int32_t>(std::min<uint32_t>(h, INT32_MAX));
    final = flag;
    return buffer;
}

}  // namespace

int CPaletteItemImg::Load(const std::string& path, bool full, CProgress* progress) {
    if (!full)
        m_bitmap.reset();
    m_jpeg.reset();
    m_captionScroll = 0;
    m_captionScrolling = 0;
    if (!BrowserHost().IsReadableImageFile(path))
        return 0;
    if (BeingWritten(path))
        return 0;
    const int result = MakeThumbnail(path, full, progress);
    if (result) {
        Compress();
        m_description = GetImageDescription(path);
    }
    return result;
}

int CPaletteItemImg::MakeThumbnail(const std::string& path, bool full, CProgress* progress) {
    if (LowerExtension(path).empty())
        return 0;
    const bool make = !full || m_final == 0 || m_refineAllowed == 0;
    QSize thumb(m_thumbWidth, m_thumbHeight);
    if (make) {
        thumb = m_sourceWidth == 0 ? QSize(m_boxWidth, m_boxHeight) : FitToBox(m_sourceWidth, m_sourceHeight);
        m_thumbWidth = thumb.width();
        m_thumbHeight = thumb.height();
    }

    if (!full && !m_bitmap) {
        std::shared_ptr<CDibBuffer> preview;
        int32_t final = 0;
        uint32_t w = 0, h = 0;
        int depth = 0, usedFull = 0;
        WicPhotoFacts facts;
        preview = ReadWicThumbnail(path, thumb.width(), thumb.height(), w, h, depth, usedFull, facts);
        if (preview) {
            m_sourceWidth = static_cast<int32_t>(w);
            m_sourceHeight = static_cast<int32_t>(h);
            m_bitsPerPixel = depth;
            m_flashFired = facts.flash;
            m_orientation = facts.orientation;
            m_exposure = facts.exposure;
            m_fNumber = facts.fNumber;
            m_rating = facts.rating;
            final = usedFull;
        } else {
            preview = Preview([&](ThumbBox& box, uint32_t& mw, uint32_t& mh,
                                  int& flag) { return ExtractExifThumbnail(path, box, mw, mh, flag); },
                              thumb, m_sourceWidth, m_sourceHeight, final);
        }
        if (!preview) {
            preview = Preview([&](ThumbBox& box, uint32_t& mw, uint32_t& mh,
                                  int& flag) { return ExtractTiffThumbnail(path, box, mw, mh, flag); },
                              thumb, m_sourceWidth, m_sourceHeight, final);
        }
        if (preview) {
            const QSize fitted = FitToBox(preview->Width(), preview->Height());
            m_thumbWidth = fitted.width();
            m_thumbHeight = fitted.height();
            if (m_bitsPerPixel == 0)
                m_bitsPerPixel = 24;
            m_final = final;
            m_bitmap = preview;
            return 1;
        }
    }

    // The whole picture. The platform imaging component is never available
    // here (WicReader.h), so the picture reader serves every file.
    std::shared_ptr<CDibBuffer> source;
    int32_t sourceWidth = 0, sourceHeight = 0;
    if (IsWicAvailable()) {
        uint32_t w = 0, h = 0;
        int depth = 0;
        source = ReadWicImage(path, 1280, 1280, w, h, depth);
    }
    if (!source) {
        ThumbnailPicture picture;
        const QSize wanted = FitToBox(m_sourceWidth > 0 ? m_sourceWidth : m_boxWidth,
                                      m_sourceHeight > 0 ? m_sourceHeight : m_boxHeight);
        if (!ReadThumbnailPicture(path, wanted, progress, picture))
            return 0;
        source = std::make_shared<CDibBuffer>();
        source->CreateFromBitmap(&picture.image);
        m_bitsPerPixel = picture.bitsPerPixel;
        sourceWidth = picture.sourceSize.width();
        sourceHeight = picture.sourceSize.height();
    }
    if (!make)
        return 1;  // a final thumbnail stands; the file was shown to decode
    if (m_sourceWidth == 0) {
        m_sourceWidth = sourceWidth > 0 ? sourceWidth : source->Width();
        m_sourceHeight = sourceHeight > 0 ? sourceHeight : source->Height();
    }
    thumb = FitToBox(m_sourceWidth, m_sourceHeight);
    m_thumbWidth = thumb.width();
    m_thumbHeight = thumb.height();
    source->Draw(thumb.width(), thumb.height());
    if (source->Width() != thumb.width() || source->Height() != thumb.height()) {
        auto sampled = std::make_shared<CDibBuffer>();
        sampled->Create(thumb.width(), thumb.height(), 24, nullptr);
        sampled->Header()->biXPelsPerMeter = sampled->Header()->biYPelsPerMeter = 2835;
        const int sw = source->Width(), sh = source->Height();
        const int bytes = source->BitsPerPixel() / 8;
        for (int y = 0; y < thumb.height(); ++y) {
            const uint8_t* src =
                source->Bits() + static_cast<size_t>(int64_t(sh) * y / thumb.height()) * source->Stride();
            uint8_t* dst = sampled->Bits() + static_cast<size_t>(y) * sampled->Stride();
            for (int x = 0; x < thumb.width(); ++x)
                std::memcpy(dst + 3 * x, src + static_cast<size_t>(int64_t(sw) * x / thumb.width()) * bytes,
                            3);
        }
        source = sampled;
    }
    m_final = 1;
    m_bitmap = source;
    return 1;
}
