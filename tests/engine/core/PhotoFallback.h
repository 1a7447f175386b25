#pragma once
// Loads a JPEG photo straight through libjpeg into an element, for as long as
// the engine's own image loading has no codec behind it.

#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "PanoElement.h"

inline bool LoadJpegDirectly(CPanoElement* element, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const int w = int(cinfo.output_width), h = int(cinfo.output_height);
    std::vector<std::uint8_t> r(std::size_t(w) * h), g(r.size()), b(r.size()), row(std::size_t(w) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        // Memory row 0 is the bottom of the picture.
        const int y = h - 1 - int(cinfo.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int x = 0; x < w; ++x) {
            r[std::size_t(y) * w + x] = row[3 * x];
            g[std::size_t(y) * w + x] = row[3 * x + 1];
            b[std::size_t(y) * w + x] = row[3 * x + 2];
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return element->SetFromPlanes(r.data(), g.data(), b.data(), w, h, w);
}
