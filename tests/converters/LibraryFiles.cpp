#include "LibraryFiles.h"

#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace LibraryFiles {

namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t count) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}

void NoFlush(png_structp) {}

bool WritePng(png_structp png, png_infop info, const PngLayout* layout, Bytes* out, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, AppendBytes, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout->width), static_cast<png_uint_32>(layout->height),
                 layout->depth, layout->colourType,
                 layout->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout->palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(layout->palette.data()),
                     static_cast<int>(layout->palette.size() / 3));
    if (!layout->transparency.empty()) {
        if (layout->colourType == PNG_COLOR_TYPE_PALETTE) {
            png_set_tRNS(png, info, layout->transparency.data(),
                         static_cast<int>(layout->transparency.size()), nullptr);
        } else {
            png_color_16 colour{};
            colour.gray = static_cast<png_uint_16>(layout->transparency[0] << 8 | layout->transparency[1]);
            colour.red = colour.gray;
            if (layout->transparency.size() >= 6) {
                colour.green =
                    static_cast<png_uint_16>(layout->transparency[2] << 8 | layout->transparency[3]);
                colour.blue =
                    static_cast<png_uint_16>(layout->transparency[4] << 8 | layout->transparency[5]);
            }
            png_set_tRNS(png, info, nullptr, 0, &colour);
        }
    }
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

Bytes PngEncode(const PngLayout& layout) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const std::size_t rowBytes = layout.rows.size() / static_cast<std::size_t>(layout.height);
    std::vector<png_bytep> rows(static_cast<std::size_t>(layout.height));
    for (int y = 0; y < layout.height; ++y)
        rows[static_cast<std::size_t>(y)] =
            const_cast<png_bytep>(layout.rows.data() + rowBytes * static_cast<std::size_t>(y));
    if (!WritePng(png, info, &layout, &out, rows.data()))
        out.clear();
    png_destroy_write_struct(&png, &info);
    return out;
}

bool PngDecodeRgba(const Bytes& file, int& width, int& height, Bytes& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return false;
    image.format = PNG_FORMAT_RGBA;
    rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return true;
}

namespace {

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

bool Compress(jpeg_compress_struct* c, JpegErrors* errors, int width, int height, int components,
              const Bytes* rows, int quality, bool progressive, unsigned char** out, unsigned long* size) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_compress(c);
    jpeg_mem_dest(c, out, size);
    c->image_width = static_cast<JDIMENSION>(width);
    c->image_height = static_cast<JDIMENSION>(height);
    c->input_components = components;
    c->in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(c);
    jpeg_start_compress(c, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows->data() + rowBytes * c->next_scanline);
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

bool Decompress(jpeg_decompress_struct* d, JpegErrors* errors, const Bytes* file, Bytes* rows) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(d);
    jpeg_mem_src(d, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(d, TRUE);
    d->out_color_space = d->num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(d);
    const std::size_t rowBytes = static_cast<std::size_t>(d->output_width) * d->output_components;
    rows->assign(rowBytes * d->output_height, 0);
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = rows->data() + rowBytes * d->output_scanline;
        jpeg_read_scanlines(d, &row, 1);
    }
    jpeg_finish_decompress(d);
    return true;
}

}  // namespace

Bytes JpegEncode(int width, int height, int components, const Bytes& rows, int quality, bool progressive) {
    jpeg_compress_struct c{};
    JpegErrors errors{};
    c.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegFail;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok =
        Compress(&c, &errors, width, height, components, &rows, quality, progressive, &out, &size);
    jpeg_destroy_compress(&c);
    Bytes result;
    if (ok && out)
        result.assign(out, out + size);
    std::free(out);
    return result;
}

bool JpegDecode(const Bytes& file, int& width, int& height, int& components, Bytes& rows) {
    jpeg_decompress_struct d{};
    JpegErrors errors{};
    d.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegFail;
    const bool ok = Decompress(&d, &errors, &file, &rows);
    width = static_cast<int>(d.output_width);
    height = static_cast<int>(d.output_height);
    components = d.output_components;
    jpeg_destroy_decompress(&d);
    return ok;
}

bool TiffWrite(const std::string& path, const std::vector<TiffPage>& pages) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    bool ok = true;
    for (const TiffPage& p : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(p.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(p.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, p.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
        if (p.alpha) {
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (!p.colourMap.empty()) {
            const std::size_t n = p.colourMap.size() / 3;
            TIFFSetField(tif, TIFFTAG_COLORMAP, p.colourMap.data(), p.colourMap.data() + n,
                         p.colourMap.data() + 2 * n);
        }
        const std::size_t sampleBytes = p.bits >= 8 ? static_cast<std::size_t>(p.bits / 8) : 1;
        const std::size_t rowBytes = (static_cast<std::size_t>(p.width) * p.bits * p.samples + 7) / 8;
        if (p.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            const tmsize_t tileSize = TIFFTileSize(tif);
            Bytes tile(static_cast<std::size_t>(tileSize));
            const int planes = p.planar ? p.samples : 1;
            const std::size_t pixelBytes = sampleBytes * static_cast<std::size_t>(p.planar ? 1 : p.samples);
            for (int s = 0; s < planes; ++s)
                for (int y0 = 0; y0 < p.height; y0 += 16)
                    for (int x0 = 0; x0 < p.width; x0 += 16) {
                        std::fill(tile.begin(), tile.end(), 0);
                        for (int y = 0; y < 16 && y0 + y < p.height; ++y)
                            for (int x = 0; x < 16 && x0 + x < p.width; ++x)
                                std::memcpy(tile.data() + (y * 16 + x) * pixelBytes,
                                            p.rows.data() + (y0 + y) * rowBytes +
                                                ((x0 + x) * p.samples + (p.planar ? s : 0)) * sampleBytes,
                                            pixelBytes);
                        ok = ok && TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(x0),
                                                 static_cast<std::uint32_t>(y0), 0,
                                                 static_cast<std::uint16_t>(s)) >= 0;
                    }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 5);
            const int planes = p.planar ? p.samples : 1;
            Bytes row(rowBytes);
            for (int s = 0; s < planes; ++s)
                for (int y = 0; y < p.height; ++y) {
                    const std::uint8_t* in = p.rows.data() + rowBytes * static_cast<std::size_t>(y);
                    if (p.planar)
                        for (int x = 0; x < p.width; ++x)
                            std::memcpy(row.data() + x * sampleBytes, in + (x * p.samples + s) * sampleBytes,
                                        sampleBytes);
                    else
                        std::memcpy(row.data(), in, rowBytes);
                    ok = ok && TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y),
                                                 static_cast<std::uint16_t>(s)) == 1;
                }
        }
        ok = ok && TIFFWriteDirectory(tif) == 1;
    }
    TIFFClose(tif);
    return ok;
}

bool TiffDecodeRgba(const std::string& path, int& width, int& height, Bytes& rgba) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
    const bool ok = TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0) == 1;
    TIFFClose(tif);
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    rgba.resize(raster.size() * 4);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        rgba[4 * i] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
        rgba[4 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
        rgba[4 * i + 2] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
        rgba[4 * i + 3] = static_cast<std::uint8_t>(TIFFGetA(raster[i]));
    }
    return ok;
}

}  // namespace LibraryFiles
