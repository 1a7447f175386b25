#include "ImageFileBridge.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "StringTable.h"


// ---- CReadFilePlus ----

int CReadFilePlus::SetSize(int, int, int width, int height) {
    m_width = width;
    m_height = height;
    return 0;
}

int CReadFilePlus::SetFormat(int, int, int pixelType) {
    switch (pixelType) {
        case ImExp::PixelBilevel:
            m_bitsPerPixel = 1;
            m_highByte = 0;
            break;
        case ImExp::PixelPalette16:
            m_bitsPerPixel = 4;
            m_highByte = 0;
            break;
        case ImExp::PixelPalette256:
        case ImExp::PixelGrey8:
            m_bitsPerPixel = 8;
            m_highByte = 0;
            break;
        case ImExp::PixelRgb24:
            m_bitsPerPixel = 24;
            m_highByte = 0;
            break;
        case ImExp::PixelGrey16:
            m_bitsPerPixel = 8;
            m_highByte = 1;
            break;
        case ImExp::PixelRgb48:
            m_bitsPerPixel = 24;
            m_highByte = 1;
            break;
        default:
            return 0;
    }
    m_pixelType = pixelType;
    return 0;
}

int CReadFilePlus::SetPalette(int, int, const unsigned char* entries, int count) {
    // A converter may announce more entries than an indexed picture can use.
    count = std::clamp(count, 0, 256);
    if (!entries)
        count = 0;
    if (count > 0)
        std::memcpy(m_palette, entries, static_cast<std::size_t>(count) * 4);
    m_paletteCount = count;
    return 0;
}

int CReadFilePlus::SetResolution(int, int, int xDpi, int yDpi) {
    m_xDpi = xDpi;
    m_yDpi = yDpi;
    return 0;
}

bool CReadFilePlus::CreateBitmap() {
    if (m_width <= 0 || m_height <= 0) {
        m_status = ReadStatus::NoSize;
        return false;
    }
    if (m_bitsPerPixel == 0) {
        m_status = ReadStatus::UnknownFormat;
        return false;
    }
    const long long stride = (static_cast<long long>(m_bitsPerPixel) * m_width + 31) / 32 * 4;
    try {
        m_bitmap.bits.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(m_height), 0);
    } catch (const std::bad_alloc&) {
        m_status = ReadStatus::NoMemory;
        return false;
    } catch (const std::length_error&) {
        m_status = ReadStatus::NoMemory;
        return false;
    }
    m_bitmap.width = m_width;
    m_bitmap.height = m_height;
    m_bitmap.bitsPerPixel = m_bitsPerPixel;
    m_bitmap.stride = static_cast<int>(stride);
    // Indexed pictures carry their colours; grey ones without a palette get
    // a ramp so their levels show as they are.
    if (m_bitsPerPixel <= 8) {
        const int entries = 1 << m_bitsPerPixel;
        m_bitmap.palette.assign(static_cast<std::size_t>(entries) * 4, 0);
        if (m_paletteCount > 0) {
            std::memcpy(m_bitmap.palette.data(), m_palette,
                        static_cast<std::size_t>(std::min(m_paletteCount, entries)) * 4);
        } else {
            for (int i = 0; i < entries; ++i) {
                const auto level = static_cast<std::uint8_t>(i * 255 / (entries - 1));
                std::fill_n(m_bitmap.palette.data() + i * 4, 3, level);
            }
        }
    }
    // Bytes a converter row holds (rows need no alignment at the boundary).
    m_rowBytes = static_cast<int>((static_cast<long long>(m_bitsPerPixel) * m_width + 7) / 8);
    m_status = ReadStatus::Ok;
    return true;
}

int CReadFilePlus::PutRow(int, int, int row, const void* pixels) {
    if (m_status == ReadStatus::Empty && !CreateBitmap())
        return 0;
    if (m_status != ReadStatus::Ok || !pixels)
        return 0;
    // Rows outside the picture are the converter's fault: drop them.
    if (row < 0 || row >= m_height)
        return 0;
    std::uint8_t* line = m_bitmap.Line(m_height - 1 - row);
    const auto* source = static_cast<const std::uint8_t*>(pixels);
    if (m_highByte) {
        const int samples = m_pixelType == ImExp::PixelGrey16 ? m_width : 3 * m_width;
        for (int i = 0; i < samples; ++i)
            line[i] = source[2 * i + 1];
    } else {
        std::memcpy(line, source, static_cast<std::size_t>(m_rowBytes));
    }
    return 0;
}

void CReadFilePlus::Abort() {
    m_bitmap = ReadBitmap();
    if (m_status == ReadStatus::Ok)
        m_status = ReadStatus::Empty;
}

ReadBitmap CReadFilePlus::TakeBitmap() {
    ReadBitmap out = std::move(m_bitmap);
    m_bitmap = ReadBitmap();
    m_status = ReadStatus::Empty;
    return out;
}

// ---- CWriteFilePluss ----

CWriteFilePluss::CWriteFilePluss(const BitmapInfoHeader* header, const std::uint8_t* bits)
    : m_header(header), m_bits(bits) {
    if (header)
        m_stride = (static_cast<unsigned>(header->biBitCount) * static_cast<unsigned>(header->biWidth) + 31) /
                   32 * 4;
}

int CWriteFilePluss::GetSize(int, int, int* width, int* height) {
    if (!m_bits || !m_header)
        return 1;
    if (width)
        *width = m_header->biWidth;
    if (height)
        *height = m_header->biHeight;
    return 0;
}

int CWriteFilePluss::GetFormat(int, int, int* pixelType) {
    if (!m_bits || !m_header)
        return 1;
    int type = 0;
    if (m_header->biBitCount == 8)
        type = ImExp::PixelPalette256;
    else if (m_header->biBitCount == 24)
        type = ImExp::PixelRgb24;
    else
        return 1;
    if (pixelType)
        *pixelType = type;
    return 0;
}

int CWriteFilePluss::GetPalette(int, int, unsigned char* entries) {
    if (!m_bits)
        return 1;
    if (!m_header || m_header->biBitCount != 8 || !entries)
        return 0;
    // The table holds as many entries as the header says (all 256 for 0).
    const unsigned count = m_header->biClrUsed == 0 ? 256u : std::min(m_header->biClrUsed, 256u);
    const auto* table = reinterpret_cast<const RgbQuad*>(m_header + 1);
    std::memset(entries, 0, 256 * 4);
    for (unsigned i = 0; i < count; ++i) {
        entries[i * 4 + 0] = table[i].red;
        entries[i * 4 + 1] = table[i].green;
        entries[i * 4 + 2] = table[i].blue;
        entries[i * 4 + 3] = 0;
    }
    return 0;
}

int CWriteFilePluss::GetResolution(int, int, int* xDpi, int* yDpi) {
    if (!m_bits)
        return 1;
    if (xDpi)
        *xDpi = 72;
    if (yDpi)
        *yDpi = 72;
    return 0;
}

int CWriteFilePluss::GetRow(int, int, int row, void* buffer) {
    if (!m_bits || !m_header)
        return 1;
    if (row < 0 || row >= m_header->biHeight || !buffer)
        return 0;
    std::memcpy(buffer, m_bits + static_cast<std::size_t>(row) * m_stride, m_stride);
    return 0;
}

// ---- progress ----

CMyProgress::CMyProgress(IProgressIndicatorEx* indicator, unsigned stringId)
    : m_text(Res::LoadStr(stringId)), m_indicator(indicator) {}

void CMyProgress::Begin() {
    if (!m_indicator)
        return;
    m_indicator->SetText(m_text.c_str());
    m_indicator->Begin();
}

void CMyProgress::End() {
    if (m_indicator)
        m_indicator->End();
}

int CMyProgress::Step(int done, int total) {
    if (!m_indicator)
        return 1;
    return m_indicator->SetProgress(total, done) ? 0 : 1;
}

void CReadProgress::Begin() {
    m_cancel = 0;
}

int CReadProgress::Step(int, int) {
    return m_cancel.load() ? 0 : 1;
}

// ---- free functions ----

int ReadImageFile(CAbstractReadWA* sink, void* owner, const char* path, int acceptedTypes,
                  CProgress* progress, char** options, int optionCount, int, int) {
    if (!path || GetPathDriveKind(path) == 2)
        return 0;
    int result = ImExp_ReadFile(sink, owner, path, acceptedTypes, progress, options, optionCount);
    if (auto* plus = dynamic_cast<CReadFilePlus*>(sink)) {
        if (result == 1 && !plus->IsGood())
            result = 0;
        if (result != 1)
            plus->Abort();
    }
    return result;
}

int WriteImageFile(const CAbstractWriteWA* source, void* owner, const char* path, int* pixelType,
                   CProgress* progress, char** options, int optionCount) {
    return ImExp_WriteFile(source, owner, path, pixelType, progress, options, optionCount);
}

int SetupImageWriter(const CAbstractWriteWA* source, void* owner, const char* path) {
    if (!path || GetPathDriveKind(path) == 2)
        return 0;
    return ImExp_SetupWriter(source, owner, path);
}

int FillReadFormatsInfo(char* buffer, unsigned size) {
    return ImExp_FillReadFormatsInfo(buffer, size);
}

int FillSaveFormatsInfoEx(char* buffer, unsigned size, int pixelType) {
    return ImExp_FillSaveFormatsInfoEx(buffer, size, pixelType);
}
