// PNG through libpng. As with JPEG, errors arrive by longjmp: each setjmp sits in a
// small function whose frame holds no C++ object to unwind.

#include <cerrno>
#include <csetjmp>
#include <cstdio>

#include <png.h>

#include "ImageCodecs.h"

namespace Platform::Codec {

namespace {

struct ErrorState {
    int savedErrno = 0;
};

[[noreturn]] void LeaveOnError(png_structp png, png_const_charp) {
    if (auto* state = static_cast<ErrorState*>(png_get_error_ptr(png)))
        state->savedErrno = CurrentError();
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

struct Reader {
    ErrorState errors;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    Picture* picture = nullptr;

    Reader() {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, LeaveOnError, IgnoreWarning);
        if (png)
            info = png_create_info_struct(png);
    }
    ~Reader() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

bool ReadHeader(Reader* r) {
    if (setjmp(png_jmpbuf(r->png)))
        return false;
    png_init_io(r->png, r->file);
    png_read_info(r->png, r->info);
    return true;
}

bool ReadPixels(Reader* r) {
    if (setjmp(png_jmpbuf(r->png)))
        return false;
    png_set_bgr(r->png);
    const int passes = png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    if (png_get_rowbytes(r->png, r->info) != r->picture->RowBytes())
        return false;
    // An interlaced picture is built up in place, pass by pass.
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < r->picture->height; ++y)
            png_read_row(r->png, r->picture->Row(y), nullptr);
    png_read_end(r->png, nullptr);
    return true;
}

struct Writer {
    ErrorState errors;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    const ImageView* view = nullptr;

    Writer() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, LeaveOnError, IgnoreWarning);
        if (png)
            info = png_create_info_struct(png);
    }
    ~Writer() {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

bool WriteAll(Writer* w) {
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    const ImageView& view = *w->view;
    png_init_io(w->png, w->file);
    png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(view.width), static_cast<png_uint_32>(view.height),
                 8, view.bpp == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w->png, w->info);
    if (view.bpp == 24)
        png_set_bgr(w->png);
    for (int y = 0; y < view.height; ++y)
        png_write_row(w->png, PictureRow(view, y));
    png_write_end(w->png, w->info);
    return true;
}

}  // namespace

DecodeResult DecodePng(std::FILE* file, Picture& picture) {
    Reader r;
    if (!r.png || !r.info)
        return DecodeResult::OutOfMemory;
    r.file = file;
    if (!ReadHeader(&r))
        return DecodeResult::Unsupported;
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    png_get_IHDR(r.png, r.info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
    // Only plain RGB of 8 bits: a transparent colour (tRNS) makes it a picture with alpha.
    if (colorType != PNG_COLOR_TYPE_RGB || depth != 8 || png_get_valid(r.png, r.info, PNG_INFO_tRNS))
        return DecodeResult::Unsupported;
    if (!AcceptableSize(width, height))
        return DecodeResult::Unsupported;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (!AllocatePicture(picture, w, h, static_cast<std::size_t>(w) * h * 3))
        return DecodeResult::OutOfMemory;
    r.picture = &picture;
    if (!ReadPixels(&r))
        return DecodeResult::Unsupported;
    return DecodeResult::Ok;
}

int EncodePng(int fd, const ImageView& view) {
    Stream stream = OpenWriteStream(fd);
    if (!stream)
        return CurrentError();
    Writer w;
    if (!w.png || !w.info)
        return ENOMEM;
    w.file = stream.get();
    w.view = &view;
    if (!WriteAll(&w))
        return w.errors.savedErrno;
    return CloseWriteStream(stream);
}

}  // namespace Platform::Codec
