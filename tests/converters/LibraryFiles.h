#pragma once
// Files made and read by the codec libraries themselves (libpng, libjpeg,
// libtiff), so the converters are checked against the libraries' own idea of
// each format rather than against themselves.

#include <cstdint>
#include <string>
#include <vector>

namespace LibraryFiles {

using Bytes = std::vector<std::uint8_t>;

// PNG through libpng's own writer. Rows are in PNG order (16-bit samples
// big-endian, packed pixels); palette and transparency as in the chunks.
struct PngLayout {
    int width = 0;
    int height = 0;
    int colourType = 0;  // PNG_COLOR_TYPE_*
    int depth = 8;
    bool interlaced = false;
    Bytes rows;
    Bytes palette;       // red, green, blue triples
    Bytes transparency;  // tRNS bytes as stored
};
Bytes PngEncode(const PngLayout& layout);
// Decodes any PNG to 8-bit RGBA rows top first; false when libpng refuses it.
bool PngDecodeRgba(const Bytes& file, int& width, int& height, Bytes& rgba);

// JPEG through libjpeg. components 1 (grey), 3 (RGB) or 4 (CMYK).
Bytes JpegEncode(int width, int height, int components, const Bytes& rows, int quality, bool progressive);
// Decodes to grey or RGB rows top first; false on any error.
bool JpegDecode(const Bytes& file, int& width, int& height, int& components, Bytes& rows);

// TIFF through libtiff, written to a file (several pages when asked).
struct TiffPage {
    int width = 0;
    int height = 0;
    int samples = 1;
    int bits = 8;
    int photometric = 1;  // PHOTOMETRIC_*
    bool planar = false;  // rows still given chunky
    bool tiled = false;
    bool alpha = false;                    // the last sample is unassociated alpha
    int compression = 1;                   // COMPRESSION_*
    std::vector<std::uint16_t> colourMap;  // 3 x 2^bits entries
    Bytes rows;                            // chunky, 16-bit samples in host order, packed pixels
};
bool TiffWrite(const std::string& path, const std::vector<TiffPage>& pages);
// Decodes the first page through libtiff's RGBA interface, top row first.
bool TiffDecodeRgba(const std::string& path, int& width, int& height, Bytes& rgba);

}  // namespace LibraryFiles
