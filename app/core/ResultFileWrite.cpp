#include "ResultFileWrite.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "PanoramaLib.h"

CResultFileWrite::CResultFileWrite(const PanoramaLib::IPanoElement& full, IProgressIndicatorEx* progress,
                                   unsigned textId, std::string path, void* owner)
    : m_progress(progress, textId), m_path(std::move(path)), m_owner(owner) {
    BitmapInfoHeader& header = m_info.header;
    const int bpp = full.GetBpp();
    header.biWidth = full.GetWidth();
    header.biHeight = full.GetHeight();
    header.biBitCount = static_cast<std::uint16_t>(bpp);
    const unsigned stride =
        (static_cast<unsigned>(bpp) * static_cast<unsigned>(header.biWidth) + 31) / 32 * 4;
    header.biSizeImage = stride * static_cast<unsigned>(header.biHeight);
    if (bpp <= 8) {
        header.biClrUsed = header.biClrImportant = 1u << bpp;
        // The engine's 8-bit pictures are grey.
        for (unsigned i = 0; i < header.biClrUsed; ++i) {
            const auto level = static_cast<std::uint8_t>(i * 255 / (header.biClrUsed - 1));
            m_info.colors[i] = {level, level, level, 0};
        }
    }
    // The source serves packed lines; copy when the element's lines are laid out otherwise.
    const std::uint8_t* bits = full.GetBits();
    if (bits && full.GetStride() != static_cast<int>(stride)) {
        const auto rowBytes =
            std::min<std::size_t>(stride, static_cast<std::size_t>(std::abs(full.GetStride())));
        m_packed.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(header.biHeight), 0);
        for (int y = 0; y < header.biHeight; ++y)
            std::memcpy(m_packed.data() + static_cast<std::size_t>(y) * stride,
                        bits + static_cast<std::ptrdiff_t>(y) * full.GetStride(), rowBytes);
        bits = m_packed.data();
    }
    m_source = std::make_unique<CWriteFilePluss>(&header, bits);
}

void CResultFileWrite::AskFormatOptions() {
    SetupImageWriter(m_source.get(), m_owner, m_path.c_str());
}

int CResultFileWrite::Write() {
    // No option strings go with the write.
    int resultType = 0;
    return WriteImageFile(m_source.get(), m_owner, m_path.c_str(), &resultType, &m_progress, nullptr, 0);
}
