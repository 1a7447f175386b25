#pragma once
// Memory streams, test images, quality measures and a thin libjpeg-turbo peer
// for the codec tests.

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "MiniJpeg.h"

namespace JpegTest {

using Bytes = std::vector<uint8_t>;

// Output sink that records every Write and Flush.
class MemOStream : public MiniJpeg::OStream {
public:
    void Write(const void* src, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(src);
        data.insert(data.end(), p, p + count);
        writes.push_back(count);
    }
    void Flush() override { ++flushes; }
    Bytes data;
    std::vector<size_t> writes;
    int flushes = 0;
};

// Source over a byte vector, handing out at most `chunk` bytes per Read.
class MemIStream : public MiniJpeg::IStream {
public:
    explicit MemIStream(const Bytes& bytes, size_t chunk = 1 << 20) : m_bytes(bytes), m_chunk(chunk) {}
    size_t Read(void* dst, size_t maxCount) override {
        const size_t n = std::min({maxCount, m_chunk, m_bytes.size() - m_pos});
        if (n > 0)
            std::memcpy(dst, m_bytes.data() + m_pos, n);
        m_pos += n;
        return n;
    }

private:
    Bytes m_bytes;
    size_t m_chunk;
    size_t m_pos = 0;
};

struct Image {
    int width = 0;
    int height = 0;
    int channels = 3;
    Bytes pixels;
    const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width * channels; }
};

// Photo-like content: smooth gradients, a few hard edges and fine texture.
inline Image MakePhoto(int width, int height, int channels, uint32_t seed = 1) {
    Image img{width, height, channels, Bytes(static_cast<size_t>(width) * height * channels)};
    uint32_t state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 9) - 4;
            const double fx = width > 1 ? static_cast<double>(x) / (width - 1) : 0.5;
            const double fy = height > 1 ? static_cast<double>(y) / (height - 1) : 0.5;
            const int64_t dx = x - width / 3, dy = y - height / 2, r = width + height;
            const bool disc = dx * dx + dy * dy < r * r / 36;
            const bool bar = ((x / 23) % 5) == 0;
            for (int c = 0; c < channels; ++c) {
                double v = 40 +
                           150 * (c == 0   ? fx
                                  : c == 1 ? fy
                                           : 1 - fx * fy) +
                           20 * std::sin(0.05 * (x + 2 * y + 30 * c));
                if (disc)
                    v = c == 0 ? 220 : c == 1 ? 60 : 90;
                if (bar)
                    v = 255 - v * 0.8;
                const int iv = static_cast<int>(v) + noise;
                img.pixels[(static_cast<size_t>(y) * width + x) * channels + c] =
                    static_cast<uint8_t>(iv < 0     ? 0
                                         : iv > 255 ? 255
                                                    : iv);
            }
        }
    return img;
}

inline Image MakeUniform(int width, int height, int channels, const uint8_t* colour) {
    Image img{width, height, channels, Bytes(static_cast<size_t>(width) * height * channels)};
    for (size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = colour[i % channels];
    return img;
}

inline double Psnr(const Image& a, const Image& b) {
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = static_cast<double>(a.pixels[i]) - b.pixels[i];
        sum += d * d;
    }
    if (sum == 0)
        return 99.0;
    return 10 * std::log10(255.0 * 255.0 * a.pixels.size() / sum);
}

inline int MaxDiff(const Image& a, const Image& b) {
    int m = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        m = std::max(m, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return m;
}

inline double MeanDiff(const Image& a, const Image& b) {
    double s = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        s += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return s / static_cast<double>(a.pixels.size());
}

// ------------------------------------------------------------- MiniJpeg

inline Bytes MiniEncode(const Image& img, int quality = 90, int sampling = 0, int oneDqt = 0,
                        int densityUnit = 2, uint16_t xDensity = 300, uint16_t yDensity = 300) {
    MemOStream out;
    MiniJpeg::Coder* coder =
        MiniJpeg::CreateCoder(&out, img.width, img.height, img.channels == 3 ? 1 : 0, quality, sampling,
                              oneDqt, densityUnit, xDensity, yDensity);
    for (int y = 0; y < img.height; ++y)
        coder->WriteLine(img.Row(y));
    MiniJpeg::DeleteDecoder(coder);
    return out.data;
}

// Throws MiniJpeg::Error on bad data.
inline Image MiniDecode(const Bytes& bytes, size_t chunk = 1 << 20) {
    MemIStream in(bytes, chunk);
    int32_t w = 0, h = 0;
    uint8_t colour = 0;
    MiniJpeg::Decoder* dec = MiniJpeg::CreateDecoder(&in, &w, &h, &colour, nullptr, nullptr, nullptr);
    Image img{w, h, colour ? 3 : 1, {}};
    try {
        img.pixels.resize(static_cast<size_t>(w) * h * img.channels);
        for (int y = 0; y < h; ++y)
            std::memcpy(img.pixels.data() + static_cast<size_t>(y) * w * img.channels, dec->ReadLine(),
                        static_cast<size_t>(w) * img.channels);
    } catch (...) {
        MiniJpeg::DeleteDecoder(dec);
        throw;
    }
    MiniJpeg::DeleteDecoder(dec);
    return img;
}

// ------------------------------------------------------------- libjpeg-turbo

struct PeerError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    int warnings = 0;
};

inline void PeerErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<PeerError*>(cinfo->err)->jump, 1);
}
inline void PeerEmit(j_common_ptr cinfo, int level) {
    if (level < 0)
        ++reinterpret_cast<PeerError*>(cinfo->err)->warnings;
}
inline void PeerOutput(j_common_ptr) {}

struct PeerEncodeOptions {
    int quality = 90;
    // Sampling factors of the first component (others 1x1); ignored for grey.
    int h = 2;
    int v = 2;
    bool optimize = false;
    int restartInterval = 0;
    int restartInRows = 0;
    bool progressive = false;
    bool arithmetic = false;
    bool jfif = true;
    bool rgb = false;   // store R, G, B with an Adobe marker
    bool cmyk = false;  // four components
    bool forceBaseline = true;
    J_DCT_METHOD dct = JDCT_ISLOW;
};

// Encodes with libjpeg-turbo; returns an empty vector when it refuses.
inline Bytes PeerEncode(const Image& img, const PeerEncodeOptions& o) {
    jpeg_compress_struct cinfo{};
    PeerError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = PeerErrorExit;
    err.mgr.emit_message = PeerEmit;
    err.mgr.output_message = PeerOutput;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(img.width);
    cinfo.image_height = static_cast<JDIMENSION>(img.height);
    Bytes cmykRow;
    if (o.cmyk) {
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
    } else {
        cinfo.input_components = img.channels;
        cinfo.in_color_space = img.channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    }
    jpeg_set_defaults(&cinfo);
    if (o.rgb)
        jpeg_set_colorspace(&cinfo, JCS_RGB);
    jpeg_set_quality(&cinfo, o.quality, o.forceBaseline ? TRUE : FALSE);
    if (img.channels == 3 && !o.rgb && !o.cmyk) {
        cinfo.comp_info[0].h_samp_factor = o.h;
        cinfo.comp_info[0].v_samp_factor = o.v;
    }
    cinfo.dct_method = o.dct;
    cinfo.optimize_coding = o.optimize ? TRUE : FALSE;
    cinfo.restart_interval = static_cast<unsigned>(o.restartInterval);
    cinfo.restart_in_rows = o.restartInRows;
    cinfo.arith_code = o.arithmetic ? TRUE : FALSE;
    cinfo.write_JFIF_header = o.jfif ? TRUE : FALSE;
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < img.height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(img.Row(y));
        if (o.cmyk) {
            cmykRow.assign(static_cast<size_t>(img.width) * 4, 0);
            for (int x = 0; x < img.width; ++x)
                for (int c = 0; c < 3; ++c)
                    cmykRow[x * 4 + c] = img.Row(y)[x * img.channels + c % img.channels];
            row = cmykRow.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

struct PeerDecoded {
    bool ok = false;
    int warnings = 0;
    int components = 0;
    Image image;
};

// Decodes with libjpeg-turbo; `replicate` turns chroma interpolation off.
// `rgb` takes three components as R, G, B whatever the markers say.
inline PeerDecoded PeerDecode(const Bytes& bytes, bool replicate = true, bool rgb = false) {
    jpeg_decompress_struct cinfo{};
    PeerError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = PeerErrorExit;
    err.mgr.emit_message = PeerEmit;
    err.mgr.output_message = PeerOutput;
    PeerDecoded result;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        result.ok = false;
        return result;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    result.components = cinfo.num_components;
    if (rgb)
        cinfo.jpeg_color_space = cinfo.out_color_space = JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = replicate ? FALSE : TRUE;
    jpeg_start_decompress(&cinfo);
    Image& img = result.image;
    img.width = static_cast<int>(cinfo.output_width);
    img.height = static_cast<int>(cinfo.output_height);
    img.channels = cinfo.output_components;
    img.pixels.resize(static_cast<size_t>(img.width) * img.height * img.channels);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            img.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * img.width * img.channels;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    result.warnings = err.warnings;
    jpeg_destroy_decompress(&cinfo);
    result.ok = true;
    return result;
}

// ------------------------------------------------------------- segments

struct Segment {
    uint8_t marker;
    size_t offset;  // of the 0xFF
    Bytes bytes;    // marker and payload (with its length field)
};

// Splits a file into its marker segments up to SOS (included); EOI at the end
// is reported too when present.
inline std::vector<Segment> Segments(const Bytes& f) {
    std::vector<Segment> out;
    size_t i = 2;
    out.push_back({0xD8, 0, Bytes(f.begin(), f.begin() + 2)});
    while (i + 4 <= f.size() && f[i] == 0xFF) {
        const uint8_t m = f[i + 1];
        const size_t len = (size_t(f[i + 2]) << 8) | f[i + 3];
        out.push_back({m, i, Bytes(f.begin() + long(i), f.begin() + long(i + 2 + len))});
        i += 2 + len;
        if (m == 0xDA)
            break;
    }
    if (f.size() >= 2 && f[f.size() - 2] == 0xFF && f.back() == 0xD9)
        out.push_back({0xD9, f.size() - 2, Bytes(f.end() - 2, f.end())});
    return out;
}

}  // namespace JpegTest
