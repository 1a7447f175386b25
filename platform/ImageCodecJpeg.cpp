// JPEG through libjpeg-turbo. Its errors arrive by longjmp, so every setjmp sits in a
// small function whose frame holds no C++ object to unwind; ownership lives in the callers.

#include <cerrno>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h: its configuration decides which message codes exist.
#include <jerror.h>

#include "ImageCodecs.h"

namespace Platform::Codec {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;  // first, so the library's pointer to it is a pointer to us
    std::jmp_buf jump;
    int savedErrno;
    bool outOfMemory;
};

ErrorManager& Errors(j_common_ptr info) {
    return *reinterpret_cast<ErrorManager*>(info->err);
}

[[noreturn]] void LeaveOnError(j_common_ptr info) {
    ErrorManager& errors = Errors(info);
    errors.savedErrno = CurrentError();
    errors.outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(errors.jump, 1);
}

// Warnings that mean picture data are missing or damaged end the decode; the rest
// (unknown JFIF revision, stray bytes between markers...) leave a whole picture.
void OnMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_MUST_RESYNC:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
            LeaveOnError(info);
        default:
            return;
    }
}

void Silent(j_common_ptr) {}

void InstallErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = LeaveOnError;
    errors.base.emit_message = OnMessage;
    errors.base.output_message = Silent;
    errors.savedErrno = 0;
    errors.outOfMemory = false;
}

struct Decompressor {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    bool created = false;
    std::FILE* file = nullptr;
    Picture* picture = nullptr;

    Decompressor() { info.err = &errors.base; }
    ~Decompressor() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

bool ReadHeader(Decompressor* d) {
    if (setjmp(d->errors.jump))
        return false;
    d->created = true;
    jpeg_create_decompress(&d->info);
    jpeg_stdio_src(&d->info, d->file);
    return jpeg_read_header(&d->info, TRUE) == JPEG_HEADER_OK;
}

bool ReadPixels(Decompressor* d) {
    if (setjmp(d->errors.jump))
        return false;
    d->info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d->info);
    if (d->info.output_width != static_cast<JDIMENSION>(d->picture->width) ||
        d->info.output_height != static_cast<JDIMENSION>(d->picture->height) ||
        d->info.output_components != 3)
        return false;
    while (d->info.output_scanline < d->info.output_height) {
        JSAMPROW row = d->picture->Row(static_cast<int>(d->info.output_scanline));
        if (jpeg_read_scanlines(&d->info, &row, 1) != 1)
            return false;
    }
    return jpeg_finish_decompress(&d->info) == TRUE;
}

struct Compressor {
    jpeg_compress_struct info{};
    ErrorManager errors{};
    bool created = false;
    std::FILE* file = nullptr;
    const ImageView* view = nullptr;

    Compressor() { info.err = &errors.base; }
    ~Compressor() {
        if (created)
            jpeg_destroy_compress(&info);
    }
};

bool WriteAll(Compressor* c) {
    if (setjmp(c->errors.jump))
        return false;
    c->created = true;
    jpeg_create_compress(&c->info);
    jpeg_stdio_dest(&c->info, c->file);
    const ImageView& view = *c->view;
    c->info.image_width = static_cast<JDIMENSION>(view.width);
    c->info.image_height = static_cast<JDIMENSION>(view.height);
    c->info.input_components = view.bpp == 24 ? 3 : 1;
    c->info.in_color_space = view.bpp == 24 ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&c->info);  // JFIF, YCbCr 4:2:0 for colour
    jpeg_set_quality(&c->info, 75, TRUE);
    jpeg_start_compress(&c->info, TRUE);
    while (c->info.next_scanline < c->info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(PictureRow(view, static_cast<int>(c->info.next_scanline)));
        jpeg_write_scanlines(&c->info, &row, 1);
    }
    jpeg_finish_compress(&c->info);
    return true;
}

}  // namespace

DecodeResult DecodeJpeg(std::FILE* file, Picture& picture) {
    Decompressor d;
    InstallErrors(d.errors);
    d.file = file;
    if (!ReadHeader(&d))
        return d.errors.outOfMemory ? DecodeResult::OutOfMemory : DecodeResult::Unsupported;
    // Three components in YCbCr or RGB; grey, CMYK and YCCK are not 24-bit colour.
    if (d.info.num_components != 3 ||
        (d.info.jpeg_color_space != JCS_YCbCr && d.info.jpeg_color_space != JCS_RGB))
        return DecodeResult::Unsupported;
    if (!AcceptableSize(d.info.image_width, d.info.image_height))
        return DecodeResult::Unsupported;
    const int width = static_cast<int>(d.info.image_width);
    const int height = static_cast<int>(d.info.image_height);
    if (!AllocatePicture(picture, width, height, static_cast<std::size_t>(width) * height * 3))
        return DecodeResult::OutOfMemory;
    d.picture = &picture;
    if (!ReadPixels(&d))
        return d.errors.outOfMemory ? DecodeResult::OutOfMemory : DecodeResult::Unsupported;
    return DecodeResult::Ok;
}

int EncodeJpeg(int fd, const ImageView& view) {
    Stream stream = OpenWriteStream(fd);
    if (!stream)
        return CurrentError();
    Compressor c;
    InstallErrors(c.errors);
    c.file = stream.get();
    c.view = &view;
    if (!WriteAll(&c))
        return c.errors.outOfMemory ? ENOMEM : c.errors.savedErrno;
    return CloseWriteStream(stream);
}

}  // namespace Platform::Codec
