// TIFF through libtiff, on our own file descriptor procedures so that we, not the
// library, open and close the file, and with per-file message handlers so that nothing
// is printed and nothing global is changed.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <tiffio.h>

#include "ImageCodecs.h"

namespace Platform::Codec {

namespace {

struct Channel {
    int fd = -1;
    int writeErrno = 0;  // first failed write, so a full disk is reported as such
    bool errorReported = false;
};

Channel& ChannelOf(thandle_t handle) {
    return *static_cast<Channel*>(handle);
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    if (size < 0)
        return -1;
    auto* bytes = static_cast<char*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(ChannelOf(handle).fd, bytes + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    Channel& channel = ChannelOf(handle);
    if (size < 0)
        return -1;
    const auto* bytes = static_cast<const char*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(channel.fd, bytes + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (channel.writeErrno == 0)
                channel.writeErrno = CurrentError();
            return -1;
        }
        done += n;
    }
    return done;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    const off_t result = ::lseek(ChannelOf(handle).fd, static_cast<off_t>(offset), whence);
    return result < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(result);
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    struct stat info;
    if (::fstat(ChannelOf(handle).fd, &info) != 0)
        return 0;
    return static_cast<toff_t>(info.st_size);
}

int NoMap(thandle_t, void**, toff_t*) {
    return 0;
}
void NoUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<Channel*>(user)->errorReported = true;
    return 1;  // handled: keeps the library's default printer quiet
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// Opens `channel` as TIFF; null on failure (reported through channel.errorReported).
Tiff Open(Channel& channel, const char* mode) {
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &channel);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &channel);
    // "m": no memory mapping, so a file shortened while we read it cannot raise SIGBUS.
    const std::string fullMode = std::string(mode) + "m";
    return Tiff(TIFFClientOpenExt("image", fullMode.c_str(), &channel, ReadProc, WriteProc, SeekProc,
                                  CloseProc, SizeProc, NoMap, NoUnmap, options.get()));
}

struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    ~RgbaImage() {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }
};

bool IsThreeByEightBitColour(TIFF* tif) {
    std::uint16_t samples = 0, bits = 0, photometric = 0, format = 0, extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    return samples == 3 && bits == 8 && format == SAMPLEFORMAT_UINT && extraCount == 0 &&
           (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR);
}

}  // namespace

DecodeResult DecodeTiff(int fd, Picture& picture) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return DecodeResult::Unsupported;
    Channel channel;
    channel.fd = fd;
    Tiff tif = Open(channel, "r");
    if (!tif || channel.errorReported)
        return DecodeResult::Unsupported;
    if (!IsThreeByEightBitColour(tif.get()))
        return DecodeResult::Unsupported;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    if (!AcceptableSize(width, height))
        return DecodeResult::Unsupported;

    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif.get(), message))
        return DecodeResult::Unsupported;
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.image, tif.get(), 1, message))
        return DecodeResult::Unsupported;
    rgba.begun = true;
    rgba.image.req_orientation = ORIENTATION_TOPLEFT;

    // The library hands out packed ABGR words; they are narrowed to B, G, R in place,
    // which is safe front to back because each pixel shrinks from four bytes to three.
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (!AllocatePicture(picture, w, h, pixels * 4))
        return DecodeResult::OutOfMemory;
    auto* raster = reinterpret_cast<std::uint32_t*>(picture.pixels.get());
    if (!TIFFRGBAImageGet(&rgba.image, raster, width, height) || channel.errorReported)
        return DecodeResult::Unsupported;
    std::uint8_t* out = picture.pixels.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t word = raster[i];
        out[3 * i + 0] = static_cast<std::uint8_t>(TIFFGetB(word));
        out[3 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(word));
        out[3 * i + 2] = static_cast<std::uint8_t>(TIFFGetR(word));
    }
    return DecodeResult::Ok;
}

int EncodeTiff(int fd, const ImageView& view) {
    Channel channel;
    channel.fd = fd;
    Tiff tif = Open(channel, "w");
    if (!tif)
        return channel.writeErrno ? channel.writeErrno : CurrentError();
    const bool colour = view.bpp == 24;
    const std::uint16_t samples = colour ? 3 : 1;
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(view.width));
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(view.height));
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif.get(), 0));

    const std::size_t rowBytes = static_cast<std::size_t>(view.width) * samples;
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[rowBytes]);
    if (!row)
        return ENOMEM;
    bool ok = !channel.errorReported;
    for (int y = 0; ok && y < view.height; ++y) {
        const std::uint8_t* source = PictureRow(view, y);
        if (colour) {
            for (int x = 0; x < view.width; ++x) {
                row[3 * x + 0] = source[3 * x + 2];
                row[3 * x + 1] = source[3 * x + 1];
                row[3 * x + 2] = source[3 * x + 0];
            }
        } else {
            std::memcpy(row.get(), source, rowBytes);
        }
        ok = TIFFWriteScanline(tif.get(), row.get(), static_cast<std::uint32_t>(y), 0) == 1;
    }
    // TIFFClose cannot report a failure, so the last strip and the directory are
    // written and checked here first.
    ok = ok && TIFFWriteDirectory(tif.get()) == 1 && !channel.errorReported;
    tif.reset();
    if (!ok || channel.errorReported || channel.writeErrno)
        return channel.writeErrno ? channel.writeErrno : EIO;
    return 0;
}

}  // namespace Platform::Codec
