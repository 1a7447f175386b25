// Reading and writing a 12-megapixel JPEG and PNG through Formgate
// (ImExp_ReadFile / ImExp_WriteFile with the shipped converters) against
// calling libjpeg-turbo and libpng directly on the same pixels; the module's
// overhead is the difference between each pair. The picture is a real photo
// tiled to 4000 x 3000 (a synthetic one where the shared photos are absent).

#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "Formgate.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kQuality = 90;  // the JPEG converter's

using Bytes = std::vector<std::uint8_t>;

// Blue, green, red rows, top row first.
struct Picture {
    Bytes pixels;
    std::uint8_t* Row(int y) { return pixels.data() + static_cast<std::size_t>(y) * kWidth * 3; }
};

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};
void JpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

bool DecodeJpegFile(jpeg_decompress_struct* d, JpegErrors* errors, std::FILE* file, Bytes* out, int* w,
                    int* h) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(d);
    jpeg_stdio_src(d, file);
    jpeg_read_header(d, TRUE);
    d->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(d);
    *w = static_cast<int>(d->output_width);
    *h = static_cast<int>(d->output_height);
    out->resize(static_cast<std::size_t>(*w) * *h * 3);
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = out->data() + static_cast<std::size_t>(d->output_scanline) * *w * 3;
        jpeg_read_scanlines(d, &row, 1);
    }
    jpeg_finish_decompress(d);
    return true;
}

// libjpeg-turbo straight from a file into blue, green, red rows.
bool DirectReadJpeg(const std::string& path, Bytes& out, int& w, int& h) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    jpeg_decompress_struct d{};
    JpegErrors errors{};
    d.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegFail;
    const bool ok = DecodeJpegFile(&d, &errors, file, &out, &w, &h);
    jpeg_destroy_decompress(&d);
    std::fclose(file);
    return ok;
}

bool EncodeJpegFile(jpeg_compress_struct* c, JpegErrors* errors, std::FILE* file, Picture* picture) {
    if (setjmp(errors->jump))
        return false;
    jpeg_create_compress(c);
    jpeg_stdio_dest(c, file);
    c->image_width = kWidth;
    c->image_height = kHeight;
    c->input_components = 3;
    c->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, kQuality, TRUE);
    jpeg_start_compress(c, TRUE);
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = picture->Row(static_cast<int>(c->next_scanline));
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

bool DirectWriteJpeg(const std::string& path, Picture& picture) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct c{};
    JpegErrors errors{};
    c.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegFail;
    const bool ok = EncodeJpegFile(&c, &errors, file, &picture);
    jpeg_destroy_compress(&c);
    return std::fclose(file) == 0 && ok;
}

bool ReadPngFile(png_structp png, png_infop info, std::FILE* file, Bytes* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    out->resize(rowBytes * height);
    for (png_uint_32 y = 0; y < height; ++y)
        png_read_row(png, out->data() + rowBytes * y, nullptr);
    png_read_end(png, nullptr);
    return true;
}

bool DirectReadPng(const std::string& path, Bytes& out) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = ReadPngFile(png, info, file, &out);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return ok;
}

bool WritePngFile(png_structp png, png_infop info, std::FILE* file, Picture* picture) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < kHeight; ++y)
        png_write_row(png, picture->Row(y));
    png_write_end(png, info);
    return true;
}

bool DirectWritePng(const std::string& path, Picture& picture) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = WritePngFile(png, info, file, &picture);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

// The caller's side of the module, as a program keeps an image: rows by
// index from the bottom, copied in and out.
class PictureSink : public CAbstractReadWA {
public:
    explicit PictureSink(Picture& p) : picture_(p) {}
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int SetSize(int, int, int w, int h) override { return w == kWidth && h == kHeight ? 0 : 1; }
    int SetFormat(int, int, int) override { return 0; }
    int SetPalette(int, int, const unsigned char*, int) override { return 0; }
    int SetResolution(int, int, int, int) override { return 0; }
    int PutRow(int, int, int row, const void* pixels) override {
        std::memcpy(picture_.Row(kHeight - 1 - row), pixels, kWidth * 3);
        return 0;
    }
    int PutAlphaRow(int, int, int, const void*) override { return 0; }
    int SetAlphaChannel(int, int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

private:
    Picture& picture_;
};

class PictureSource : public CAbstractWriteWA {
public:
    explicit PictureSource(Picture& p) : picture_(p) {}
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int GetSize(int, int, int* w, int* h) override { return *w = kWidth, *h = kHeight, 0; }
    int GetFormat(int, int, int* type) override { return *type = ImExp::PixelRgb24, 0; }
    int GetPalette(int, int, unsigned char*) override { return 0; }
    int GetResolution(int, int, int* x, int* y) override { return *x = *y = 300, 0; }
    int GetRow(int, int, int row, void* buffer) override {
        std::memcpy(buffer, picture_.Row(kHeight - 1 - row), kWidth * 3);
        return 0;
    }
    int GetAlphaRow(int, int, int, void*) override { return 0; }
    int HasAlpha(int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

private:
    Picture& picture_;
};

std::string Folder() {
    static const std::string folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("formgate-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return folder;
}

// A photo tiled (mirrored at the seams) to the full size, or a synthetic picture.
Picture& Source() {
    static Picture picture = [] {
        Picture p;
        p.pixels.resize(static_cast<std::size_t>(kWidth) * kHeight * 3);
        Bytes photo;
        int w = 0, h = 0;
        const std::string path = std::string(OVH_SHARED_DATA) + "/photos/exposure-pair";
        std::string first;
        if (std::filesystem::is_directory(path))
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (first.empty() || entry.path().string() < first)
                    first = entry.path().string();
        if (!first.empty() && DirectReadJpeg(first, photo, w, h) && w > 0 && h > 0) {
            for (int y = 0; y < kHeight; ++y) {
                const int ty = (y / h) % 2 ? h - 1 - y % h : y % h;
                for (int x = 0; x < kWidth; ++x) {
                    const int tx = (x / w) % 2 ? w - 1 - x % w : x % w;
                    std::memcpy(p.Row(y) + 3 * x, photo.data() + (static_cast<std::size_t>(ty) * w + tx) * 3,
                                3);
                }
            }
        } else {
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth * 3; ++x)
                    p.Row(y)[x] =
                        static_cast<std::uint8_t>((x / 3 * 7 + y * 3 + (x % 3) * 50 + (x * y) % 13) & 0xFF);
        }
        return p;
    }();
    return picture;
}

void ModuleWrite(benchmark::State& state, const char* extension) {
    PictureSource source(Source());
    const std::string path = Folder() + "/module" + extension;
    for (auto _ : state) {
        int result = 0;
        if (!ImExp_WriteFile(&source, nullptr, path.c_str(), &result, nullptr, nullptr, 0))
            state.SkipWithError("ImExp_WriteFile failed");
    }
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void ModuleRead(benchmark::State& state, const char* extension) {
    const std::string path = Folder() + "/read" + extension;
    PictureSource source(Source());
    int result = 0;
    if (!ImExp_WriteFile(&source, nullptr, path.c_str(), &result, nullptr, nullptr, 0)) {
        state.SkipWithError("no file to read");
        return;
    }
    Picture target;
    target.pixels.resize(Source().pixels.size());
    PictureSink sink(target);
    for (auto _ : state) {
        if (!ImExp_ReadFile(&sink, nullptr, path.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0))
            state.SkipWithError("ImExp_ReadFile failed");
    }
}

void BM_WriteJpeg_Module(benchmark::State& state) {
    ModuleWrite(state, ".jpg");
}
void BM_WriteJpeg_Direct(benchmark::State& state) {
    const std::string path = Folder() + "/direct.jpg";
    for (auto _ : state)
        if (!DirectWriteJpeg(path, Source()))
            state.SkipWithError("libjpeg failed");
}
void BM_ReadJpeg_Module(benchmark::State& state) {
    ModuleRead(state, ".jpg");
}
void BM_ReadJpeg_Direct(benchmark::State& state) {
    const std::string path = Folder() + "/readdirect.jpg";
    DirectWriteJpeg(path, Source());
    Bytes out;
    int w = 0, h = 0;
    for (auto _ : state)
        if (!DirectReadJpeg(path, out, w, h))
            state.SkipWithError("libjpeg failed");
}
void BM_WritePng_Module(benchmark::State& state) {
    ModuleWrite(state, ".png");
}
void BM_WritePng_Direct(benchmark::State& state) {
    const std::string path = Folder() + "/direct.png";
    for (auto _ : state)
        if (!DirectWritePng(path, Source()))
            state.SkipWithError("libpng failed");
}
void BM_ReadPng_Module(benchmark::State& state) {
    ModuleRead(state, ".png");
}
void BM_ReadPng_Direct(benchmark::State& state) {
    const std::string path = Folder() + "/readdirect.png";
    DirectWritePng(path, Source());
    Bytes out;
    for (auto _ : state)
        if (!DirectReadPng(path, out))
            state.SkipWithError("libpng failed");
}

}  // namespace

BENCHMARK(BM_WriteJpeg_Module)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteJpeg_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadJpeg_Module)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadJpeg_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WritePng_Module)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WritePng_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPng_Module)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPng_Direct)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
